// thermometer_bench: drives the program's window, and a naive per-byte baseline, on real
// pseudo-terminals and prints one table. Each measurement runs in a process of its own (this
// program again, with --measure), so CPU and memory are the measured program's alone.
//
//   thermometer_bench            the full set, under three minutes
//   thermometer_bench --smoke    every scenario briefly, a few seconds
//   options: --runs N (repeats of the delivery profiles and the floods, default 2; each adds
//   about a minute), --seconds S (per profile, default 5), --long-flood N (readings of the
//   flood the clicks come during, default 10000000), --plot-data F (CPU and wake-ups by
//   profile, both programs, into F)

#include "measurement.h"
#include "probes.h"
#include "sensorline.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTextStream>
#include <QThread>

#include <algorithm>
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
    double seconds = 5;
    QString plotData;
    /// Readings in the long flood that the clicks come during; the faster it goes, the fewer.
    qint64 longFlood = 10000000;
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

// "median (min-max)" of \a values with \a decimals; "-" when there are none.
QString rangeText(const std::vector<double> &values, int decimals)
{
    if (values.empty())
        return QStringLiteral("-");
    const auto text = [&](double value) { return QString::number(value, 'f', decimals); };
    QString result = text(probes::median(values));
    if (values.size() > 1)
        result += QStringLiteral(" (%1-%2)")
                      .arg(text(probes::quantile(values, 0)), text(probes::quantile(values, 1)));
    return result;
}

// The same for a measure of every run, scaled by \a scale.
QString figure(const QString &label, const char *name, int decimals, double scale = 1)
{
    std::vector<double> values = valuesOf(label, name);
    for (double &value : values)
        value *= scale;
    return rangeText(values, decimals);
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

// Per run, a measure of the program over the same measure of the baseline measured next to it.
std::vector<double> ratiosOf(const QString &program, const QString &baseline, const char *name)
{
    const std::vector<double> numerators = valuesOf(program, name);
    const std::vector<double> denominators = valuesOf(baseline, name);
    std::vector<double> ratios;
    for (size_t run = 0; run < std::min(numerators.size(), denominators.size()); ++run)
        ratios.push_back(numerators[run] / denominators[run]);
    return ratios;
}

QString lostAndWrong(const QString &label)
{
    return QStringLiteral("%1; %2").arg(maxOf(label, "lost")).arg(maxOf(label, "wrong"));
}

bool noneLostOrWrong(const QString &label)
{
    return !valuesOf(label, "lost").empty() && maxOf(label, "lost") + maxOf(label, "wrong") == 0;
}

bool allOne(const QString &label, const char *name)
{
    const std::vector<double> values = valuesOf(label, name);
    return !values.empty()
        && std::all_of(values.begin(), values.end(), [](double v) { return v == 1; });
}

struct Sizes
{
    int runs;
    QString seconds;
    QString warmup;
    QString floodCount;
    QString memoryCount;
    QString idleSeconds;
    QString spellCount;
};

Sizes sizesFor(const Options &options)
{
    if (options.smoke)
        return {1,
                QStringLiteral("1"),
                QStringLiteral("0.3"),
                QStringLiteral("200000"),
                QStringLiteral("1000000"),
                QStringLiteral("1"),
                QStringLiteral("6")};
    return {options.runs,
            QString::number(options.seconds),
            QStringLiteral("0.5"),
            QStringLiteral("1000000"),
            QString::number(options.longFlood),
            QStringLiteral("6"),
            QStringLiteral("40")};
}

void measureAll(const Sizes &sizes)
{
    // Thermometer and baseline side by side, alternating, so that what else runs on the machine
    // falls on both alike.
    std::fprintf(stderr, "delivery profiles at 3840 readings/s, %d run(s) of %s s each\n",
                 sizes.runs, qPrintable(sizes.seconds));
    for (int run = 0; run < sizes.runs; ++run)
        for (const DeliveryProfile &profile : DeliveryProfile::all())
            for (const char *subject : {"program", "baseline"})
                measure(QStringLiteral("%1 %2").arg(QLatin1String(profile.name),
                                                    QLatin1String(subject)),
                        {QStringLiteral("paced"), QLatin1String(subject),
                         QStringLiteral("profile=") + QLatin1String(profile.name),
                         QStringLiteral("rate=3840"), QStringLiteral("seconds=") + sizes.seconds,
                         QStringLiteral("warmup=") + sizes.warmup, QStringLiteral("recording=1")});
    std::fprintf(stderr, "flood of %s readings, %d run(s)\n", qPrintable(sizes.floodCount),
                 sizes.runs);
    for (int run = 0; run < sizes.runs; ++run)
        for (const char *recording : {"0", "1"})
            measure(QStringLiteral("flood rec=%1").arg(QLatin1String(recording)),
                    {QStringLiteral("flood"), QStringLiteral("program"),
                     QStringLiteral("count=") + sizes.floodCount,
                     QStringLiteral("recording=") + QLatin1String(recording)});
    std::fprintf(stderr, "quiet spells; idle; memory and clicks during a long flood\n");
    for (const char *subject : {"program", "baseline"})
        measure(QStringLiteral("spells %1").arg(QLatin1String(subject)),
                {QStringLiteral("spells"), QLatin1String(subject),
                 QStringLiteral("count=") + sizes.spellCount});
    measure(QStringLiteral("idle"),
            {QStringLiteral("idle"), QStringLiteral("program"),
             QStringLiteral("seconds=") + sizes.idleSeconds});
    measure(QStringLiteral("memory"),
            {QStringLiteral("flood"), QStringLiteral("program"),
             QStringLiteral("count=") + sizes.memoryCount, QStringLiteral("recording=1"),
             QStringLiteral("clicks=50")});
}

void profileRows(Table &table, const DeliveryProfile &profile, const Sizes &sizes)
{
    const QString p = QStringLiteral("%1 program").arg(QLatin1String(profile.name));
    const QString b = QStringLiteral("%1 baseline").arg(QLatin1String(profile.name));
    const bool worstCase = QLatin1String(profile.name) == QLatin1String("byte");
    const double cpu = medianOf(p, "cpu_pct");
    const std::vector<double> ratios = ratiosOf(p, b, "cpu_pct");
    const double ratio = probes::median(ratios);
    table.row(
        QStringLiteral("%1: %2, 3840 readings/s, %3 s, recording")
            .arg(QLatin1String(profile.name), QLatin1String(profile.description), sizes.seconds),
        QStringLiteral("CPU, % of one core"), figure(p, "cpu_pct", 2), figure(b, "cpu_pct", 1),
        QStringLiteral("<= 4"), yesNo(cpu <= 4));
    table.row(QString(), QStringLiteral("CPU, Thermometer / baseline"), rangeText(ratios, 3),
              QString(), worstCase ? QStringLiteral("<= 0.10") : QStringLiteral("< 1"),
              yesNo(worstCase ? ratio <= 0.10 : ratio < 1));
    table.row(QString(), QStringLiteral("main thread wake-ups per s"),
              figure(p, "switches_per_s", 0), figure(b, "switches_per_s", 0),
              QStringLiteral("<= 250"), yesNo(medianOf(p, "switches_per_s") <= 250));
    // The serial control's own reader: woken by every byte, it would cost 3840 a second.
    table.row(QString(), QStringLiteral("reader thread wake-ups per s"),
              figure(p, "reader_switches_per_s", 0), QString(), QStringLiteral("<= 250"),
              yesNo(medianOf(p, "reader_switches_per_s") <= 250));
    table.row(QString(), QStringLiteral("write to screen, median, ms"),
              figure(p, "screen_p50_us", 1, 1e-3), figure(b, "screen_p50_us", 1, 1e-3), QString(),
              QString());
    table.row(QString(), QStringLiteral("write to screen, p99, ms"),
              figure(p, "screen_p99_us", 1, 1e-3), figure(b, "screen_p99_us", 1, 1e-3),
              QStringLiteral("<= 35"), yesNo(medianOf(p, "screen_p99_us") <= 35000));
    // Frames are the screen's periods laid end to end: a window that does not start on a
    // frame's edge can hold one repaint more.
    table.row(QString(), QStringLiteral("repaints of the box per s"),
              figure(p, "repaints_per_s", 1), figure(b, "repaints_per_s", 0),
              QStringLiteral("<= 60"),
              yesNo(medianOf(p, "repaints_per_s") <= 60 + 1 / sizes.seconds.toDouble()));
    table.row(QString(), QStringLiteral("lost; shown wrong"), lostAndWrong(p), lostAndWrong(b),
              QStringLiteral("0; 0"), yesNo(noneLostOrWrong(p)));
}

void fullSet(const Options &options)
{
    const Sizes sizes = sizesFor(options);
    measureAll(sizes);

    Table table;
    for (const DeliveryProfile &profile : DeliveryProfile::all())
        profileRows(table, profile, sizes);

    const QString sp = QStringLiteral("spells program");
    const QString sb = QStringLiteral("spells baseline");
    table.row(QStringLiteral("Quiet spells: %1 single readings, 100-200 ms apart, recording")
                  .arg(sizes.spellCount),
              QStringLiteral("write to screen, median, ms"), figure(sp, "screen_p50_us", 2, 1e-3),
              figure(sb, "screen_p50_us", 2, 1e-3), QString(), QString());
    table.row(QString(), QStringLiteral("write to screen, p99, ms"),
              figure(sp, "screen_p99_us", 2, 1e-3), figure(sb, "screen_p99_us", 2, 1e-3),
              QStringLiteral("<= 16.7 (a frame)"), yesNo(medianOf(sp, "screen_p99_us") <= 16700));
    table.row(QString(), QStringLiteral("lost; shown wrong"), lostAndWrong(sp), lostAndWrong(sb),
              QStringLiteral("0; 0"), yesNo(noneLostOrWrong(sp)));

    const QString floodLabel = QStringLiteral("Flood: %1 readings at once").arg(sizes.floodCount);
    for (const char *recording : {"0", "1"}) {
        const QString f = QStringLiteral("flood rec=%1").arg(QLatin1String(recording));
        const QString state = QLatin1String(recording) == QLatin1String("1")
            ? QStringLiteral("on")
            : QStringLiteral("off");
        table.row(state == QLatin1String("on") ? QString() : floodLabel,
                  QStringLiteral("readings/s to the count shown, recording %1").arg(state),
                  figure(f, "rate", 0), QString(),
                  state == QLatin1String("on") ? QStringLiteral(">= 750000")
                                               : QStringLiteral(">= 1000000"),
                  yesNo(medianOf(f, "rate") >= (state == QLatin1String("on") ? 750000 : 1000000)));
        const bool shown = allOne(f, "last_shown") && allOne(f, "counter_shown");
        table.row(
            QString(),
            QStringLiteral("lost; shown wrong; last text and count shown, recording %1").arg(state),
            lostAndWrong(f) + (shown ? QStringLiteral("; yes") : QStringLiteral("; NO")), QString(),
            QStringLiteral("0; 0; yes"), yesNo(noneLostOrWrong(f) && shown));
        table.row(QString(), QStringLiteral("repaints of the box per s, recording %1").arg(state),
                  figure(f, "repaints_per_s", 0), QString(), QString(), QString());
    }

    const QString i = QStringLiteral("idle");
    table.row(QStringLiteral("Idle: port open, nothing arriving, %1 s").arg(sizes.idleSeconds),
              QStringLiteral("CPU, % of one core"), figure(i, "cpu_pct", 3), QString(),
              QStringLiteral("~0 (< 0.5)"), yesNo(medianOf(i, "cpu_pct") < 0.5));
    // The focused text box's cursor blinks, a Qt timer of the text box's own; every other timer
    // counts against the program.
    table.row(
        QString(), QStringLiteral("timer events; of them the text cursor's blink"),
        QStringLiteral("%1; %2").arg(medianOf(i, "timer_events")).arg(medianOf(i, "cursor_blinks")),
        QString(), QStringLiteral("blinks only"),
        yesNo(medianOf(i, "timer_events") == medianOf(i, "cursor_blinks")));
    // A blink wakes the loop for its timer and repaints the box.
    const double blinksPerSecond = medianOf(i, "cursor_blinks") / sizes.idleSeconds.toDouble();
    table.row(QString(), QStringLiteral("event loop wake-ups per s"), figure(i, "wakeups_per_s", 2),
              QString(), QStringLiteral("blinks only"),
              yesNo(medianOf(i, "wakeups_per_s") <= 2 * blinksPerSecond + 0.5));
    table.row(QString(), QStringLiteral("main thread context switches per s"),
              figure(i, "switches_per_s", 2), QString(), QString(), QString());
    table.row(QString(), QStringLiteral("reader thread wake-ups per s"),
              figure(i, "reader_switches_per_s", 2), QString(), QStringLiteral("<= 20"),
              yesNo(medianOf(i, "reader_switches_per_s") <= 20));

    const QString m = QStringLiteral("memory");
    const double growth = medianOf(m, "rss_end_kib") - medianOf(m, "rss_tenth_kib");
    table.row(
        QStringLiteral("Memory and clicks: %1 readings at once, recording").arg(sizes.memoryCount),
        QStringLiteral("peak resident, MiB"), figure(m, "rss_peak_kib", 1, 1.0 / 1024), QString(),
        QStringLiteral("bounded"), QString());
    table.row(QString(), QStringLiteral("growth after the first tenth, KiB"),
              QString::number(growth, 'f', 0), QString(), QStringLiteral("<= 1024"),
              yesNo(growth <= 1024));
    table.row(QString(), QStringLiteral("readings/s; lost; shown wrong; last text shown"),
              QStringLiteral("%1; %2; %3")
                  .arg(medianOf(m, "rate"), 0, 'f', 0)
                  .arg(lostAndWrong(m),
                       allOne(m, "last_shown") ? QStringLiteral("yes") : QStringLiteral("NO")),
              QString(), QStringLiteral("-; 0; 0; yes"),
              yesNo(noneLostOrWrong(m) && allOne(m, "last_shown")));
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
              QString(), QStringLiteral("p99 <= 5"), yesNo(medianOf(m, "click_p99_us") <= 5000));
    table.print();
}

// CPU and wake-ups by delivery profile, both programs, for the plot in docs/performance.md.
void writePlotData(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(fileName));
        anyFailed = true;
        return;
    }
    QTextStream out(&file);
    out << "# profile  thermometer_cpu_pct  baseline_cpu_pct  thermometer_wakeups_per_s  "
           "baseline_wakeups_per_s  (medians of the runs, 3840 readings/s, recording)\n";
    for (const DeliveryProfile &profile : DeliveryProfile::all()) {
        const QString p = QStringLiteral("%1 program").arg(QLatin1String(profile.name));
        const QString b = QStringLiteral("%1 baseline").arg(QLatin1String(profile.name));
        out << profile.name << ' ' << medianOf(p, "cpu_pct") << ' ' << medianOf(b, "cpu_pct") << ' '
            << medianOf(p, "switches_per_s") << ' ' << medianOf(b, "switches_per_s") << '\n';
    }
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
        } else if (argument == QLatin1String("--seconds") && value.toDouble() > 0) {
            options.seconds = value.toDouble();
            ++i;
        } else if (argument == QLatin1String("--long-flood") && value.toLongLong() > 0) {
            options.longFlood = value.toLongLong();
            ++i;
        } else if (argument == QLatin1String("--plot-data") && !value.isEmpty()) {
            options.plotData = value;
            ++i;
        } else {
            std::fprintf(stderr,
                         "usage: thermometer_bench [--smoke] [--runs N] [--seconds S] "
                         "[--long-flood READINGS] [--plot-data FILE]\n");
            return 2;
        }
    }

    std::printf("Machine: %d cores, %s; %s; Qt %s, offscreen platform; load average at start "
                "%s\n",
                QThread::idealThreadCount(), qPrintable(cpuModel()),
                qPrintable(QSysInfo::prettyProductName()), qVersion(), qPrintable(loadAverage()));
    std::fflush(stdout);
    fullSet(options);
    if (!options.plotData.isEmpty())
        writePlotData(options.plotData);
    if (anyFailed)
        std::printf("Some measurements FAILED: readings lost or shown wrong, or a run did not "
                    "complete (see above).\n");
    return anyFailed ? 1 : 0;
}
