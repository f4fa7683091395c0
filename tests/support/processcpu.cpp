#include "support/processcpu.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <unistd.h>

double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the command name, which may hold blanks, from the state on: user and
    // system time are the 12th and 13th.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong())
        / double(::sysconf(_SC_CLK_TCK));
}

double cpuSeconds(const QList<qint64> &pids)
{
    double sum = 0;
    for (const qint64 pid : pids) {
        const double used = cpuSeconds(pid);
        if (used < 0)
            return -1;
        sum += used;
    }
    return sum;
}

qint64 waitUntilQuiet(const QList<qint64> &pids, int stepMs, double quietSeconds, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    for (double before = cpuSeconds(pids); waited.elapsed() < timeoutMs;) {
        QTest::qWait(stepMs);
        const double now = cpuSeconds(pids);
        if (now - before < quietSeconds)
            break;
        before = now;
    }
    return waited.elapsed();
}
