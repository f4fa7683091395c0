// thermometer_bench: drives the program's window, and a naive per-byte baseline, on real
// pseudo-terminals and prints one table. Each measurement runs in a process of its own (this
// program again, with --measure), so CPU and memory are the measured program's alone.
//
//   thermometer_bench            the full set, about three minutes
//   thermometer_bench --smoke    every scenario briefly, a few seconds
//   thermometer_bench --sweep F  CPU against reading rate, both programs, data into F
//   options: --runs N (repeats of the line rate and the floods, default 2; each adds about
//   a minute), --line-seconds S (default 20)

#include "measurement.h"
#include "probes.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTextStream>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace {

using Results = std::map<QString, double>;

struct Options
{
    bool smoke = false;
    int runs = 2;
    double lineSeconds = 20;
    QString sweepFile;
};

// Results of each kind of measurement, one entry per run.
std::map<QString, std::vector<Results>> collected;
bool anyFailed = false;

Results measure(const QString &label, const QStringList &arguments)
{
    std::fprintf(stderr, "  %-28s", qPrintable(label));
    std::fflush(stderr);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                QStringList {QStringLiteral("--measure")} + arguments);
    child.waitForFinished(-1);
    Results results;
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1String("RESULT")))
            continue;
        for (const QString &pair : line.split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(1)) {
            const qsizetype equals = pair.indexOf(QLatin1Char('='));
            results[pair.left(equals)] = pair.mid(equals + 1).toDouble();
        }
    }
    const bool failed = child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0;
    if (failed)
        anyFailed = true;
    std::fprintf(stderr, "%s\n",
                 failed ? "FAILED (lost or wrong readings, or did not run)" : "done");
    collected[label].push_back(results);
    return results;
}

std::vector<double> valuesOf(const QString &label, const char *name)
{
    std::vector<double> values;
    for (const Results &results : collected[label]) {
        const auto found = results.find(QLatin1String(name));
        if (found != results.end() && !std::isnan(found->second))
            values.push_back(found->second);
    }
    return values;
}

double medianOf(const QString &label, const char *name)
{
    return probes::median(valuesOf(label, name));
}

double maxOf(const QString &label, const char *name)
{
    return probes::quantile(valuesOf(label, name), 1.0);
}

// "median (min-max)" with \a decimals, scaled by \a scale.
QString figure(const QString &label, const char *name, int decimals, double scale = 1)
{
    std::vector<double> values = valuesOf(label, name);
    if (values.empty())
        return QStringLiteral("-");
    const auto text = [&](double value) { return QString::number(value * scale, 'f', decimals); };
    QString result = text(probes::median(values));
    if (values.size() > 1)
        result += QStringLiteral(" (%1-%2)")
                      .arg(text(probes::quantile(values, 0)), text(probes::quantile(values, 1)));
    return result;
}

QString cpuModel()
{
    QFile file(QStringLiteral("/proc/cpuinfo"));
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromLocal8Bit(line.mid(line.indexOf(':') + 1).trimmed());
    }
    return QStringLiteral("unknown");
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLocal8Bit(file.readLine()).section(QLatin1Char(' '), 0, 2);
}

class Table
{
public:
    void row(const QString &scenario, const QString &measure, const QString &program,
             const QString &baseline, const QString &target, const QString &met)
    {
        m_rows.push_back({scenario, measure, program, baseline, target, met});
    }

    void print() const
    {
        const QStringList header {QStringLiteral("Scenario"),    QStringLiteral("Measure"),
                                  QStringLiteral("Thermometer"), QStringLiteral("Baseline"),
                                  QStringLiteral("Target"),      QStringLiteral("Met")};
        std::vector<qsizetype> widths(size_t(header.size()));
        for (qsizetype c = 0; c < header.size(); ++c)
            widths[size_t(c)] = header[c].size();
        for (const QStringList &cells : m_rows)
            for (qsizetype c = 0; c < cells.size(); ++c)
                widths[size_t(c)] = std::max(widths[size_t(c)], cells[c].size());
        const auto line = [&](const QStringList &cells) {
            QString text = QStringLiteral("|");
            for (qsizetype c = 0; c < cells.size(); ++c)
                text += QLatin1Char(' ') + cells[c].leftJustified(widths[size_t(c)])
                    + QStringLiteral(" |");
            std::printf("%s\n", qPrintable(text));
        };
        line(header);
        QStringList rule;
        for (const qsizetype width : widths)
            rule << QString(width, QLatin1Char('-'));
        line(rule);
        for (const QStringList &cells : m_rows)
            line(cells);
    }

private:
    std::vector<QStringList> m_rows;
};

QString yesNo(bool met)
{
    return met ? QStringLiteral("yes") : QStringLiteral("NO");
}

void fullSet(const Options &options)
{
    const int runs = options.smoke ? 1 : options.runs;
    const QString lineSeconds = QString::number(options.smoke ? 1 : options.lineSeconds);
    const QString warmup = options.smoke ? QStringLiteral("0.3") : QStringLiteral("0.5");
    const qint64 floodCount = options.smoke ? 50000 : 1000000;
    const qint64 memoryCount = options.smoke ? 300000 : 10000000;
    const QString idleSeconds = options.smoke ? QStringLiteral("1") : QStringLiteral("10");
    const QString flood = QString::number(floodCount);

    // Thermometer and baseline side by side, alternating, so that what else runs on the
    // machine falls on both alike.
    std::fprintf(stderr, "line rate, %d run(s) of %s s each\n", runs, qPrintable(lineSeconds));
    for (int run = 0; run < runs; ++run)
        for (const char *subject : {"program", "baseline"})
            measure(QStringLiteral("paced %1").arg(QLatin1String(subject)),
                    {QStringLiteral("paced"), QLatin1String(subject), QStringLiteral("rate=3840"),
                     QStringLiteral("seconds=") + lineSeconds, QStringLiteral("warmup=") + warmup,
                     QStringLiteral("recording=1")});
    std::fprintf(stderr, "flood of %lld readings, %d run(s)\n", floodCount, runs);
    for (int run = 0; run < runs; ++run) {
        for (const char *recording : {"0", "1"})
            measure(QStringLiteral("flood program rec=%1").arg(QLatin1String(recording)),
                    {QStringLiteral("flood"), QStringLiteral("program"),
                     QStringLiteral("count=") + flood,
                     QStringLiteral("recording=") + QLatin1String(recording)});
    }
    // Clicks during the long flood: how long a press waits while the event loop is busiest.
    std::fprintf(stderr, "idle; memory and clicks during a long flood\n");
    measure(QStringLiteral("idle program"),
            {QStringLiteral("idle"), QStringLiteral("program"),
             QStringLiteral("seconds=") + idleSeconds});
    measure(QStringLiteral("memory program"),
            {QStringLiteral("flood"), QStringLiteral("program"),
             QStringLiteral("count=") + QString::number(memoryCount), QStringLiteral("recording=1"),
             QStringLiteral("clicks=50")});

    const QString p = QStringLiteral("paced program");
    const QString b = QStringLiteral("paced baseline");
    Table table;
    const QString lineRate
        = QStringLiteral("Line rate: 3840 readings/s for %1 s, recording").arg(lineSeconds);
    const double cpu = medianOf(p, "cpu_pct");
    const double baselineCpu = medianOf(b, "cpu_pct");
    table.row(lineRate, QStringLiteral("CPU, % of one core"), figure(p, "cpu_pct", 2),
              figure(b, "cpu_pct", 1), QStringLiteral("<= 5"), yesNo(cpu <= 5));
    table.row(QString(), QStringLiteral("CPU, baseline / Thermometer"),
              QString::number(baselineCpu / cpu, 'f', 1) + QStringLiteral("x"), QString(),
              QStringLiteral(">= 10x"), yesNo(baselineCpu / cpu >= 10));
    table.row(QString(), QStringLiteral("repaints of the box per s"),
              figure(p, "repaints_per_s", 1), figure(b, "repaints_per_s", 0),
              QStringLiteral("<= 60"), yesNo(maxOf(p, "repaints_per_s") <= 60.5));
    table.row(QString(), QStringLiteral("byte to text, median, ms"),
              figure(p, "text_p50_us", 3, 1e-3), figure(b, "text_p50_us", 3, 1e-3),
              QStringLiteral("<= 1"), yesNo(medianOf(p, "text_p50_us") <= 1000));
    table.row(QString(), QStringLiteral("byte to text, p99, ms"), figure(p, "text_p99_us", 3, 1e-3),
              figure(b, "text_p99_us", 3, 1e-3), QStringLiteral("<= 5"),
              yesNo(medianOf(p, "text_p99_us") <= 5000));
    table.row(QString(), QStringLiteral("byte to repaint of the box, median, ms"),
              figure(p, "screen_p50_us", 1, 1e-3), figure(b, "screen_p50_us", 1, 1e-3), QString(),
              QString());
    table.row(QString(), QStringLiteral("byte to repaint of the box, p99, ms"),
              figure(p, "screen_p99_us", 1, 1e-3), figure(b, "screen_p99_us", 1, 1e-3), QString(),
              QString());
    // The repaint that shows a text comes at the end of the frame it was set in, at the latest.
    table.row(QString(), QStringLiteral("text set to repaint of the box, p99, ms"),
              figure(p, "text_to_screen_p99_us", 1, 1e-3),
              figure(b, "text_to_screen_p99_us", 1, 1e-3), QStringLiteral("<= 1 frame (16.7)"),
              yesNo(medianOf(p, "text_to_screen_p99_us") <= 16700));
    table.row(QString(), QStringLiteral("main thread wake-ups per s"),
              figure(p, "switches_per_s", 0), figure(b, "switches_per_s", 0), QString(), QString());
    table.row(QString(), QStringLiteral("readings lost or shown wrong"),
              QString::number(maxOf(p, "lost") + maxOf(p, "wrong")),
              QString::number(maxOf(b, "lost") + maxOf(b, "wrong")), QStringLiteral("0"),
              yesNo(maxOf(p, "lost") + maxOf(p, "wrong") == 0));

    const QString floodLabel = QStringLiteral("Flood: %1 readings at once").arg(flood);
    for (const char *recording : {"0", "1"}) {
        const QString f = QStringLiteral("flood program rec=%1").arg(QLatin1String(recording));
        const bool on = QLatin1String(recording) == QLatin1String("1");
        table.row(on ? QString() : floodLabel,
                  on ? QStringLiteral("readings/s, recording on")
                     : QStringLiteral("readings/s, recording off"),
                  figure(f, "rate", 0), QString(), QStringLiteral(">= 200000"),
                  yesNo(medianOf(f, "rate") >= 200000));
        const double lost = maxOf(f, "lost") + maxOf(f, "wrong");
        const bool shown = valuesOf(f, "last_shown")
                == std::vector<double>(valuesOf(f, "last_shown").size(), 1.0)
            && valuesOf(f, "counter_shown")
                == std::vector<double>(valuesOf(f, "counter_shown").size(), 1.0);
        table.row(QString(),
                  QStringLiteral("lost or wrong; last text and count shown, recording %1")
                      .arg(on ? QStringLiteral("on") : QStringLiteral("off")),
                  QStringLiteral("%1; %2").arg(lost).arg(shown ? QStringLiteral("yes")
                                                               : QStringLiteral("NO")),
                  QString(), QStringLiteral("0; yes"), yesNo(lost == 0 && shown));
    }
    const QString i = QStringLiteral("idle program");
    const QString idleLabel
        = QStringLiteral("Idle: port open, nothing arriving, %1 s").arg(idleSeconds);
    table.row(idleLabel, QStringLiteral("CPU, % of one core"), figure(i, "cpu_pct", 3), QString(),
              QStringLiteral("~0 (< 0.5)"), yesNo(medianOf(i, "cpu_pct") < 0.5));
    // The focused text box's cursor blinks, a Qt timer of the text box's own; every other timer
    // counts against the program.
    table.row(
        QString(), QStringLiteral("timer events; of them the text cursor's blink"),
        QStringLiteral("%1; %2").arg(medianOf(i, "timer_events")).arg(medianOf(i, "cursor_blinks")),
        QString(), QStringLiteral("blinks only"),
        yesNo(medianOf(i, "timer_events") == medianOf(i, "cursor_blinks")));
    // A blink wakes the loop for its timer and repaints the box.
    const double blinksPerSecond = medianOf(i, "cursor_blinks") / idleSeconds.toDouble();
    table.row(QString(), QStringLiteral("event loop wake-ups per s"), figure(i, "wakeups_per_s", 2),
              QString(), QStringLiteral("blinks only"),
              yesNo(medianOf(i, "wakeups_per_s") <= 2 * blinksPerSecond + 0.5));
    table.row(QString(), QStringLiteral("main thread context switches per s"),
              figure(i, "switches_per_s", 2), QString(), QString(), QString());
    const QString m = QStringLiteral("memory program");
    const double growth = medianOf(m, "rss_end_kib") - medianOf(m, "rss_tenth_kib");
    table.row(QStringLiteral("Memory and clicks: %1 readings at once, recording").arg(memoryCount),
              QStringLiteral("peak resident, MiB"), figure(m, "rss_peak_kib", 1, 1.0 / 1024),
              QString(), QStringLiteral("bounded"), QString());
    table.row(QString(), QStringLiteral("growth after the first tenth, KiB"),
              QString::number(growth, 'f', 0), QString(), QStringLiteral("<= 1024"),
              yesNo(growth <= 1024));
    table.row(
        QString(), QStringLiteral("readings/s; lost or wrong; last text shown"),
        QStringLiteral("%1; %2; %3")
            .arg(medianOf(m, "rate"), 0, 'f', 0)
            .arg(maxOf(m, "lost") + maxOf(m, "wrong"))
            .arg(medianOf(m, "last_shown") == 1 ? QStringLiteral("yes") : QStringLiteral("NO")),
        QString(), QStringLiteral("-; 0; yes"),
        yesNo(maxOf(m, "lost") + maxOf(m, "wrong") == 0 && medianOf(m, "last_shown") == 1));
    table.row(QString(), QStringLiteral("Start/Stop clicks every 50 ms meanwhile: answered"),
              QStringLiteral("%1 of %2")
                  .arg(medianOf(m, "clicks_answered"))
                  .arg(medianOf(m, "clicks_posted")),
              QString(), QStringLiteral("all"),
              yesNo(medianOf(m, "clicks_answered") >= 1
                    && medianOf(m, "clicks_answered") + 1 >= medianOf(m, "clicks_posted")));
    table.row(QString(), QStringLiteral("click waited in the queue, median / p99 / max, ms"),
              QStringLiteral("%1 / %2 / %3")
                  .arg(medianOf(m, "click_p50_us") / 1e3, 0, 'f', 3)
                  .arg(medianOf(m, "click_p99_us") / 1e3, 0, 'f', 3)
                  .arg(maxOf(m, "click_max_us") / 1e3, 0, 'f', 3),
              QString(), QString(), QString());
    table.print();
}

// CPU against the rate of readings, for the plot in docs/performance.md.
void sweep(const Options &options)
{
    const double rates[] = {10, 30, 100, 300, 1000, 3840, 10000, 30000, 100000};
    QFile file(options.sweepFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(options.sweepFile));
        anyFailed = true;
        return;
    }
    QTextStream out(&file);
    out << "# readings/s  thermometer_cpu_pct  baseline_cpu_pct  (paced, 5 s each; last row: "
           "flood, at the rate each reached)\n";
    const QString seconds = options.smoke ? QStringLiteral("1") : QStringLiteral("5");
    for (const double rate : rates) {
        double cpu[2] = {};
        int column = 0;
        for (const char *subject : {"program", "baseline"}) {
            const Results results
                = measure(QStringLiteral("sweep %1 %2").arg(QLatin1String(subject)).arg(rate),
                          {QStringLiteral("paced"), QLatin1String(subject),
                           QStringLiteral("rate=") + QString::number(rate),
                           QStringLiteral("seconds=") + seconds, QStringLiteral("warmup=0.5"),
                           QStringLiteral("recording=1")});
            const auto found = results.find(QStringLiteral("cpu_pct"));
            cpu[column++] = found == results.end() ? std::nan("") : found->second;
        }
        out << rate << ' ' << cpu[0] << ' ' << cpu[1] << '\n';
    }
    double floodRate[2] = {};
    double floodCpu[2] = {};
    int column = 0;
    for (const char *subject : {"program", "baseline"}) {
        const Results results
            = measure(QStringLiteral("sweep %1 flood").arg(QLatin1String(subject)),
                      {QStringLiteral("flood"), QLatin1String(subject),
                       QStringLiteral("count=1000000"), QStringLiteral("recording=1")});
        floodRate[column]
            = results.count(QStringLiteral("rate")) ? results.at(QStringLiteral("rate")) : 0;
        floodCpu[column++]
            = results.count(QStringLiteral("cpu_pct")) ? results.at(QStringLiteral("cpu_pct")) : 0;
    }
    out << "\n\n# flood: thermometer_rate thermometer_cpu_pct baseline_rate baseline_cpu_pct\n"
        << floodRate[0] << ' ' << floodCpu[0] << ' ' << floodRate[1] << ' ' << floodCpu[1] << '\n';
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--measure") == 0) {
        QStringList arguments;
        for (int i = 2; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        return runMeasurement(argc, argv, arguments);
    }

    QCoreApplication app(argc, argv);
    Options options;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const QString value = i + 1 < arguments.size() ? arguments.at(i + 1) : QString();
        if (argument == QLatin1String("--smoke")) {
            options.smoke = true;
        } else if (argument == QLatin1String("--runs") && value.toInt() > 0) {
            options.runs = value.toInt();
            ++i;
        } else if (argument == QLatin1String("--line-seconds") && value.toDouble() > 0) {
            options.lineSeconds = value.toDouble();
            ++i;
        } else if (argument == QLatin1String("--sweep") && !value.isEmpty()) {
            options.sweepFile = value;
            ++i;
        } else {
            std::fprintf(stderr,
                         "usage: thermometer_bench [--smoke] [--runs N] [--line-seconds S] "
                         "[--sweep FILE]\n");
            return 2;
        }
    }

    std::printf("Machine: %d cores, %s; %s; Qt %s, offscreen platform; load average at start "
                "%s\n",
                QThread::idealThreadCount(), qPrintable(cpuModel()),
                qPrintable(QSysInfo::prettyProductName()), qVersion(), qPrintable(loadAverage()));
    std::fflush(stdout);
    if (!options.sweepFile.isEmpty())
        sweep(options);
    else
        fullSet(options);
    if (anyFailed)
        std::printf("Some measurements FAILED: readings lost or shown wrong, or a run did not "
                    "complete (see above).\n");
    return anyFailed ? 1 : 0;
}
