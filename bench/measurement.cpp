#include "measurement.h"

#include "probes.h"
#include "sensorline.h"
#include "subject.h"
#include "support/pseudoterminal.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <thread>
#include <unistd.h>

namespace {

using Results = std::map<QString, double>;

struct Settings
{
    QString scenario;
    QString subject;
    std::map<QString, QString> values;

    double get(const char *name, double otherwise) const
    {
        const auto found = values.find(QLatin1String(name));
        return found == values.end() ? otherwise : found->second.toDouble();
    }
    QString text(const char *name) const
    {
        const auto found = values.find(QLatin1String(name));
        return found == values.end() ? QString() : found->second;
    }
};

// Counts timer events, and apart those of the text cursor's blink in the focused text box.
class TimerCounter : public QObject
{
public:
    std::atomic<qint64> all {0};
    std::atomic<qint64> cursorBlink {0};

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Timer) {
            ++all;
            if (qstrcmp(watched->metaObject()->className(), "QWidgetLineControl") == 0)
                ++cursorBlink;
        }
        return false;
    }
};

// Watches what the temperature box shows each time it is painted: the text of the latest
// reading taken so far, and the counter box that reading's count. A reading is on screen from
// the first paint that shows it or a later one.
class ScreenWatch : public QObject
{
public:
    struct Paint
    {
        qint64 ns;
        qint64 taken;
    };

    /// \a checkCounter: the counter follows the readings alone (no Start/Stop presses meanwhile).
    ScreenWatch(const Subject &subject, bool recording, bool checkCounter, bool keepPaints)
        : m_subject(subject)
        , m_recording(recording)
        , m_checkCounter(checkCounter)
        , m_keepPaints(keepPaints)
    {
        for (int raw = 0; raw < 256; ++raw)
            m_texts[raw] = subject.temperatureBox()->locale().toString(
                               raw / 2.0, 'g', QLocale::FloatingPointShortest)
                + QStringLiteral(" C");
        subject.temperatureBox()->installEventFilter(this);
    }

    const QString &textOf(qint64 index) const { return m_texts[LineWriter::byteAt(index)]; }

    std::vector<Paint> paints;
    qint64 paintCount = 0;
    qint64 wrong = 0;
    /// Once \a doneAt readings are on screen: when, the process's CPU time then, and onDone.
    qint64 doneAt = 0;
    qint64 doneNs = 0;
    qint64 processCpuDone = 0;
    std::function<void()> onDone;
    /// Resident memory at the first paint after \a residentAt readings.
    qint64 residentAt = 0;
    qint64 residentMidKiB = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        const qint64 now = probes::nowNs();
        const qint64 taken = m_subject.readingsTaken();
        ++paintCount;
        if (m_keepPaints)
            paints.push_back({now, taken});
        if (taken == 0)
            return false;
        const QString shown = m_subject.temperatureBox()->text();
        bool right = shown == textOf(taken - 1);
        QString counter;
        if (right && m_checkCounter) {
            counter = m_subject.counterBox()->text();
            right = counter == m_subject.expectedCounter(taken, m_recording);
        }
        if (!right && wrong++ == 0)
            std::fprintf(stderr, "\n  after %lld readings the boxes show \"%s\" and \"%s\"\n",
                         taken, qPrintable(shown), qPrintable(counter));
        if (residentAt > 0 && taken >= residentAt && residentMidKiB == 0)
            residentMidKiB = probes::residentKiB();
        if (doneAt > 0 && taken >= doneAt && right && doneNs == 0) {
            doneNs = now;
            processCpuDone = probes::processCpuNs();
            if (onDone)
                onDone();
        }
        return false;
    }

private:
    const Subject &m_subject;
    const bool m_recording;
    const bool m_checkCounter;
    const bool m_keepPaints;
    QString m_texts[256];
};

// For each reading from \a first to \a count, the time from its write to the first paint that
// shows it or a later one, in microseconds.
std::vector<double> screenLatencies(const LineWriter &writer, const ScreenWatch &watch,
                                    qint64 first, qint64 count)
{
    std::vector<double> latencies;
    size_t paint = 0;
    for (qint64 i = first; i < count; ++i) {
        while (paint < watch.paints.size() && watch.paints[paint].taken <= i)
            ++paint;
        if (paint == watch.paints.size())
            break;
        latencies.push_back(double(watch.paints[paint].ns - writer.stampNs(i)) / 1e3);
    }
    return latencies;
}

void recordLatencies(Results &results, const std::vector<double> &latencies)
{
    results[QStringLiteral("screen_p50_us")] = probes::quantile(latencies, 0.5);
    results[QStringLiteral("screen_p99_us")] = probes::quantile(latencies, 0.99);
    results[QStringLiteral("screen_max_us")] = probes::quantile(latencies, 1.0);
}

void recordCount(Results &results, const Subject &subject, const ScreenWatch &watch, qint64 count)
{
    results[QStringLiteral("readings")] = double(count);
    results[QStringLiteral("lost")] = double(std::max(count - subject.readingsTaken(), qint64(0)));
    results[QStringLiteral("wrong")]
        = double(watch.wrong + std::max(subject.readingsTaken() - count, qint64(0)));
}

void settle(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void print(const Results &results)
{
    QString line = QStringLiteral("RESULT");
    for (const auto &[name, value] : results)
        line += QStringLiteral(" %1=%2").arg(name).arg(value, 0, 'g', 8);
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

struct Run
{
    Subject &subject;
    const PseudoTerminal &line;
    const Settings &settings;
    Results &results;
};

// Readings at the sensor's rate, delivered as a profile says: CPU, main-thread wake-ups,
// repaints, and the time from each reading's write to the first paint that shows it.
bool paced(const Run &run)
{
    const DeliveryProfile *const profile = DeliveryProfile::named(run.settings.text("profile"));
    if (!profile) {
        std::fprintf(stderr, "unknown profile %s\n", qPrintable(run.settings.text("profile")));
        return false;
    }
    const double rate = run.settings.get("rate", 3840);
    const double seconds = run.settings.get("seconds", 5);
    const double warmup = run.settings.get("warmup", 0.5);
    const bool recording = run.settings.get("recording", 1) != 0;
    if (recording && run.subject.recordButton())
        run.subject.recordButton()->click();

    const qint64 measureFrom = qint64(rate * warmup);
    const qint64 count = measureFrom + qint64(rate * seconds);
    ScreenWatch watch(run.subject, recording, true, true);
    watch.paints.reserve(size_t((seconds + warmup + 1) * 4000));
    LineWriter writer(run.line.masterFd(), {rate, count, *profile, false, measureFrom, true});
    // After the last reading is on screen, a moment for anything it set going.
    watch.doneAt = count;
    watch.onDone = [] { QTimer::singleShot(100, qApp, &QCoreApplication::quit); };
    QTimer::singleShot(int((seconds + warmup) * 1000) + 15000, qApp, &QCoreApplication::quit);
    writer.start();
    QApplication::exec();
    writer.join();

    const double windowNs = double(writer.windowEndNs() - writer.windowStartNs());
    const double cpuNs = double(writer.processCpuAtEnd() - writer.processCpuAtStart()
                                - writer.writerCpuInWindow());
    Results &results = run.results;
    results[QStringLiteral("cpu_pct")] = 100.0 * cpuNs / windowNs;
    const auto inWindow = [&](const ScreenWatch::Paint &paint) {
        return paint.ns >= writer.windowStartNs() && paint.ns <= writer.windowEndNs();
    };
    results[QStringLiteral("repaints_per_s")]
        = double(std::count_if(watch.paints.begin(), watch.paints.end(), inWindow))
        / (windowNs / 1e9);
    results[QStringLiteral("switches_per_s")]
        = double(writer.mainThreadSwitchesInWindow()) / (windowNs / 1e9);
    if (writer.readerSwitchesInWindow() >= 0)
        results[QStringLiteral("reader_switches_per_s")]
            = double(writer.readerSwitchesInWindow()) / (windowNs / 1e9);
    recordLatencies(results, screenLatencies(writer, watch, measureFrom, count));
    recordCount(results, run.subject, watch, count);
    return !writer.failed();
}

// Single readings after quiet spells: the time from each one's write to its paint.
bool spells(const Run &run)
{
    const qint64 count = qint64(run.settings.get("count", 40));
    if (run.subject.recordButton())
        run.subject.recordButton()->click();
    ScreenWatch watch(run.subject, true, true, true);
    LineWriter writer(run.line.masterFd(), {0, count, {}, true, 0, true});
    watch.doneAt = count;
    watch.onDone = [] { QTimer::singleShot(100, qApp, &QCoreApplication::quit); };
    QTimer::singleShot(int(count * 200) + 15000, qApp, &QCoreApplication::quit);
    writer.start();
    QApplication::exec();
    writer.join();

    recordLatencies(run.results, screenLatencies(writer, watch, 0, count));
    recordCount(run.results, run.subject, watch, count);
    return !writer.failed();
}

// Presses and releases the Start/Stop button the way the mouse does, and records how long the
// press waited in the event queue before the button answered.
class Clicker
{
public:
    explicit Clicker(QAbstractButton *button)
        : m_button(button)
    {
        QObject::connect(button, &QAbstractButton::clicked, button, [this] { ++m_answered; });
    }

    ~Clicker() { stop(); }

    void start(int everyMs)
    {
        m_thread = std::thread([this, everyMs] {
            while (!m_stop.load()) {
                const qint64 posted = probes::nowNs();
                ++posts;
                QMetaObject::invokeMethod(
                    m_button, [this, posted] { click(posted); }, Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
            }
        });
    }

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    std::atomic<qint64> posts {0};
    std::vector<double> latencyUs;

private:
    void click(qint64 posted)
    {
        const QPointF centre = QRectF(m_button->rect()).center();
        const QPointF global = m_button->mapToGlobal(centre);
        QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        const qint64 before = m_answered;
        QApplication::sendEvent(m_button, &press);
        QApplication::sendEvent(m_button, &release);
        if (m_answered == before + 1)
            latencyUs.push_back(double(probes::nowNs() - posted) / 1e3);
    }

    QAbstractButton *m_button;
    qint64 m_answered = 0;
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
};

// Readings as fast as the line takes them: the rate to the last count on screen, whether every
// one was taken and shown right, memory, and with clicks=MS how long a Start/Stop click waits
// meanwhile.
bool flood(const Run &run)
{
    const qint64 count = qint64(run.settings.get("count", 1000000));
    const bool recording = run.settings.get("recording", 0) != 0;
    const int clickMs = int(run.settings.get("clicks", 0));
    if (recording && run.subject.recordButton())
        run.subject.recordButton()->click();

    std::unique_ptr<Clicker> clicker;
    if (clickMs > 0 && run.subject.recordButton())
        clicker = std::make_unique<Clicker>(run.subject.recordButton());
    // Start/Stop presses set the counter back: with them only the temperature is checked.
    ScreenWatch watch(run.subject, recording, !clicker, false);
    // Memory is first read once the program has warmed up, at a tenth of the flood.
    watch.residentAt = count / 10;
    const qint64 residentBefore = probes::residentKiB();

    LineWriter writer(run.line.masterFd(), {0, count, {}, false, 0, false});
    watch.doneAt = count;
    watch.onDone = [&] {
        if (clicker)
            clicker->stop();
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    };
    QTimer::singleShot(int(count / 20) + 30000, qApp, &QCoreApplication::quit);
    writer.start();
    if (clicker)
        clicker->start(clickMs);
    QApplication::exec();
    writer.join();
    if (clicker)
        clicker->stop();

    Results &results = run.results;
    const bool finished = watch.doneNs > 0;
    const double seconds = double(watch.doneNs - writer.windowStartNs()) / 1e9;
    recordCount(results, run.subject, watch, count);
    if (finished) {
        results[QStringLiteral("rate")] = double(count) / seconds;
        const double cpuNs
            = double(watch.processCpuDone - writer.processCpuAtStart() - writer.writerCpuTotal());
        results[QStringLiteral("cpu_pct")] = 100.0 * cpuNs / (seconds * 1e9);
        results[QStringLiteral("repaints_per_s")] = double(watch.paintCount) / seconds;
    }
    results[QStringLiteral("last_shown")]
        = run.subject.temperatureBox()->text() == watch.textOf(count - 1);
    if (!clicker) {
        results[QStringLiteral("counter_shown")]
            = run.subject.counterBox()->text() == run.subject.expectedCounter(count, recording);
    } else {
        results[QStringLiteral("clicks_posted")] = double(clicker->posts);
        results[QStringLiteral("clicks_answered")] = double(clicker->latencyUs.size());
        results[QStringLiteral("click_p50_us")] = probes::quantile(clicker->latencyUs, 0.5);
        results[QStringLiteral("click_p99_us")] = probes::quantile(clicker->latencyUs, 0.99);
        results[QStringLiteral("click_max_us")] = probes::quantile(clicker->latencyUs, 1.0);
    }
    results[QStringLiteral("rss_start_kib")] = double(residentBefore);
    results[QStringLiteral("rss_tenth_kib")] = double(watch.residentMidKiB);
    results[QStringLiteral("rss_end_kib")] = double(probes::residentKiB());
    results[QStringLiteral("rss_peak_kib")] = double(probes::peakResidentKiB());
    return finished && !writer.failed();
}

// The port open and nothing arriving: what the program costs while it waits.
bool idle(const Run &run)
{
    const double seconds = run.settings.get("seconds", 10);
    if (run.subject.recordButton())
        run.subject.recordButton()->click();
    // A few readings first, so that everything a reading starts has run and stopped again.
    {
        LineWriter writer(run.line.masterFd(), {0, 100, {}, false, 0, false});
        writer.start();
        QElapsedTimer timer;
        timer.start();
        while (run.subject.readingsTaken() < 100 && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        writer.join();
        if (run.subject.readingsTaken() != 100)
            return false;
    }

    TimerCounter timers;
    qApp->installEventFilter(&timers);
    std::atomic<qint64> wakeups {0};
    const QMetaObject::Connection counting = QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, qApp,
        [&] { wakeups.fetch_add(1, std::memory_order_relaxed); });

    // Measured from a thread of its own, which sleeps meanwhile: the main thread sees nothing
    // of it until it is told to quit at the end.
    const int mainThread = int(getpid());
    std::thread sampler([&] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const qint64 startNs = probes::nowNs();
        const qint64 cpuStart = probes::processCpuNs() - probes::threadCpuNs(pthread_self());
        const qint64 switchesStart = probes::contextSwitches(mainThread);
        const qint64 readerStart = probes::namedThreadSwitches(probes::ReaderThread);
        const qint64 timersStart = timers.all;
        const qint64 blinksStart = timers.cursorBlink;
        const qint64 wakeupsStart = wakeups;
        std::this_thread::sleep_for(std::chrono::milliseconds(qint64(seconds * 1000)));
        const double elapsed = double(probes::nowNs() - startNs) / 1e9;
        const qint64 cpu = probes::processCpuNs() - probes::threadCpuNs(pthread_self()) - cpuStart;
        run.results[QStringLiteral("cpu_pct")] = 100.0 * double(cpu) / (elapsed * 1e9);
        run.results[QStringLiteral("switches_per_s")]
            = double(probes::contextSwitches(mainThread) - switchesStart) / elapsed;
        if (readerStart >= 0)
            run.results[QStringLiteral("reader_switches_per_s")]
                = double(probes::namedThreadSwitches(probes::ReaderThread) - readerStart) / elapsed;
        run.results[QStringLiteral("timer_events")] = double(timers.all - timersStart);
        run.results[QStringLiteral("cursor_blinks")] = double(timers.cursorBlink - blinksStart);
        run.results[QStringLiteral("wakeups_per_s")] = double(wakeups - wakeupsStart) / elapsed;
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QApplication::exec();
    sampler.join();
    QObject::disconnect(counting);
    qApp->removeEventFilter(&timers);
    return true;
}

} // namespace

int runMeasurement(int argc, char *argv[], const QStringList &arguments)
{
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: --measure SCENARIO SUBJECT [NAME=VALUE...]\n");
        return 2;
    }
    Settings settings {arguments.at(0), arguments.at(1), {}};
    for (const QString &argument : arguments.mid(2)) {
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        settings.values[argument.left(equals)] = argument.mid(equals + 1);
    }

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PseudoTerminal line;
    if (!line.isValid()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    QString error;
    const std::unique_ptr<Subject> subject
        = Subject::open(settings.subject, line.devicePath(), &error);
    if (!subject) {
        std::fprintf(stderr, "cannot start %s: %s\n", qPrintable(settings.subject),
                     qPrintable(error));
        return 1;
    }
    // Shown and active, the temperature box focused, as a person has it in front of them.
    subject->window()->show();
    subject->window()->activateWindow();
    settle(150);

    Results results;
    const Run run {*subject, line, settings, results};
    bool made = false;
    if (settings.scenario == QLatin1String("paced"))
        made = paced(run);
    else if (settings.scenario == QLatin1String("spells"))
        made = spells(run);
    else if (settings.scenario == QLatin1String("flood"))
        made = flood(run);
    else if (settings.scenario == QLatin1String("idle"))
        made = idle(run);
    print(results);
    const auto value = [&](const char *name) {
        const auto found = results.find(QLatin1String(name));
        return found == results.end() ? 0.0 : found->second;
    };
    // A click still on its way when the flood ended may go unanswered; any other may not.
    const bool clicksUnanswered
        = value("clicks_posted") > 0 && value("clicks_answered") + 1 < value("clicks_posted");
    if (!made || value("lost") != 0 || value("wrong") != 0 || clicksUnanswered)
        return 1;
    return 0;
}
