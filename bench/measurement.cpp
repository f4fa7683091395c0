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
    std::map<QString, double> values;

    double get(const char *name, double otherwise) const
    {
        const auto found = values.find(QLatin1String(name));
        return found == values.end() ? otherwise : found->second;
    }
};

// Counts events of one kind on the objects it watches, with the time of each.
class EventRecorder : public QObject
{
public:
    explicit EventRecorder(QEvent::Type type, bool keepTimes)
        : m_type(type)
        , m_keepTimes(keepTimes)
    {
    }

    std::vector<qint64> times;
    std::atomic<qint64> count {0};

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == m_type) {
            count.fetch_add(1, std::memory_order_relaxed);
            if (m_keepTimes)
                times.push_back(probes::nowNs());
        }
        return false;
    }

private:
    QEvent::Type m_type;
    bool m_keepTimes;
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

// Watches the temperature box: each reading changes its text (consecutive readings differ), so
// each change is one reading, which must be the next one written and shown right.
class ReadingWatch
{
public:
    ReadingWatch(QLineEdit *box, qint64 expected, bool keepTimes)
        : m_expected(expected)
    {
        for (int raw = 0; raw < 256; ++raw)
            m_texts[raw] = box->locale().toString(raw / 2.0, 'g', QLocale::FloatingPointShortest)
                + QStringLiteral(" C");
        if (keepTimes)
            textNs.assign(size_t(expected), 0);
        m_connection
            = QObject::connect(box, &QLineEdit::textChanged, box, [this](const QString &text) {
                  const qint64 index = seen++;
                  if (index >= m_expected) {
                      ++extra;
                      return;
                  }
                  if (!textNs.empty())
                      textNs[size_t(index)] = probes::nowNs();
                  if (text != m_texts[LineWriter::byteAt(index)])
                      ++wrong;
                  if (index + 1 == residentAt)
                      residentMidKiB = probes::residentKiB();
                  if (index + 1 == m_expected) {
                      doneNs = probes::nowNs();
                      processCpuDone = probes::processCpuNs();
                      if (onDone)
                          onDone();
                  }
              });
    }

    ~ReadingWatch() { QObject::disconnect(m_connection); }
    ReadingWatch(const ReadingWatch &) = delete;
    ReadingWatch &operator=(const ReadingWatch &) = delete;

    const QString &textOf(qint64 index) const { return m_texts[LineWriter::byteAt(index)]; }

    qint64 seen = 0;
    qint64 wrong = 0;
    qint64 extra = 0;
    qint64 doneNs = 0;
    qint64 processCpuDone = 0;
    qint64 residentAt = 0;
    qint64 residentMidKiB = 0;
    std::vector<qint64> textNs;
    std::function<void()> onDone;

private:
    qint64 m_expected;
    QString m_texts[256];
    QMetaObject::Connection m_connection;
};

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

// Readings paced at a rate, as a sensor sends them: CPU, repaints, and the time from each
// reading's write to its text in the box and to the box's next repaint.
bool paced(const Run &run)
{
    const double rate = run.settings.get("rate", 3840);
    const double seconds = run.settings.get("seconds", 20);
    const double warmup = run.settings.get("warmup", 1);
    const bool recording = run.settings.get("recording", 1) != 0;
    if (recording && run.subject.recordButton())
        run.subject.recordButton()->click();

    const qint64 measureFrom = qint64(rate * warmup);
    const qint64 count = measureFrom + qint64(rate * seconds);
    ReadingWatch watch(run.subject.temperatureBox(), count, true);
    EventRecorder paints(QEvent::Paint, true);
    paints.times.reserve(size_t(count + 1000));
    run.subject.temperatureBox()->installEventFilter(&paints);

    LineWriter writer(run.line.masterFd(), {rate, count, measureFrom, true});
    // After the last reading, a moment for its repaint.
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
    qint64 windowPaints = 0;
    for (const qint64 time : paints.times)
        if (time >= writer.windowStartNs() && time <= writer.windowEndNs())
            ++windowPaints;
    results[QStringLiteral("repaints_per_s")] = double(windowPaints) / (windowNs / 1e9);
    results[QStringLiteral("switches_per_s")]
        = double(writer.mainThreadSwitchesInWindow()) / (windowNs / 1e9);

    std::vector<double> toText;
    std::vector<double> toScreen;
    std::vector<double> textToScreen;
    size_t paint = 0;
    for (qint64 i = measureFrom; i < std::min(watch.seen, count); ++i) {
        const qint64 written = writer.stampNs(i);
        const qint64 shown = watch.textNs[size_t(i)];
        toText.push_back(double(shown - written) / 1e3);
        while (paint < paints.times.size() && paints.times[paint] < shown)
            ++paint;
        if (paint < paints.times.size()) {
            toScreen.push_back(double(paints.times[paint] - written) / 1e3);
            textToScreen.push_back(double(paints.times[paint] - shown) / 1e3);
        }
    }
    results[QStringLiteral("text_p50_us")] = probes::quantile(toText, 0.5);
    results[QStringLiteral("text_p99_us")] = probes::quantile(toText, 0.99);
    results[QStringLiteral("text_max_us")] = probes::quantile(toText, 1.0);
    results[QStringLiteral("screen_p50_us")] = probes::quantile(toScreen, 0.5);
    results[QStringLiteral("screen_p99_us")] = probes::quantile(toScreen, 0.99);
    results[QStringLiteral("screen_max_us")] = probes::quantile(toScreen, 1.0);
    results[QStringLiteral("text_to_screen_p99_us")] = probes::quantile(textToScreen, 0.99);
    results[QStringLiteral("text_to_screen_max_us")] = probes::quantile(textToScreen, 1.0);
    results[QStringLiteral("readings")] = double(count);
    results[QStringLiteral("lost")] = double(count - std::min(watch.seen, count));
    results[QStringLiteral("wrong")] = double(watch.wrong + watch.extra);
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

// Readings as fast as the line takes them: the rate, whether every one was shown and counted,
// memory, and with clicks=MS how long a Start/Stop click waits meanwhile.
bool flood(const Run &run)
{
    const qint64 count = qint64(run.settings.get("count", 1000000));
    const bool recording = run.settings.get("recording", 0) != 0;
    const int clickMs = int(run.settings.get("clicks", 0));
    if (recording && run.subject.recordButton())
        run.subject.recordButton()->click();

    ReadingWatch watch(run.subject.temperatureBox(), count, false);
    // Memory is first read once the program has warmed up, at a tenth of the flood.
    watch.residentAt = count / 10;
    const qint64 residentBefore = probes::residentKiB();
    EventRecorder paints(QEvent::Paint, false);
    run.subject.temperatureBox()->installEventFilter(&paints);
    std::unique_ptr<Clicker> clicker;
    if (clickMs > 0 && run.subject.recordButton())
        clicker = std::make_unique<Clicker>(run.subject.recordButton());

    LineWriter writer(run.line.masterFd(), {0, count, 0, false});
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
    results[QStringLiteral("readings")] = double(count);
    results[QStringLiteral("lost")] = double(count - std::min(watch.seen, count));
    results[QStringLiteral("wrong")] = double(watch.wrong + watch.extra);
    if (finished) {
        results[QStringLiteral("rate")] = double(count) / seconds;
        const double cpuNs
            = double(watch.processCpuDone - writer.processCpuAtStart() - writer.writerCpuTotal());
        results[QStringLiteral("cpu_pct")] = 100.0 * cpuNs / (seconds * 1e9);
        results[QStringLiteral("repaints_per_s")] = double(paints.count) / seconds;
    }
    const QLineEdit *const temperature = run.subject.temperatureBox();
    results[QStringLiteral("last_shown")] = temperature->text() == watch.textOf(count - 1);
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
        ReadingWatch watch(run.subject.temperatureBox(), 100, false);
        LineWriter writer(run.line.masterFd(), {0, 100, 0, false});
        writer.start();
        QElapsedTimer timer;
        timer.start();
        while (watch.seen < 100 && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        writer.join();
        if (watch.seen != 100)
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
        const qint64 timersStart = timers.all;
        const qint64 blinksStart = timers.cursorBlink;
        const qint64 wakeupsStart = wakeups;
        std::this_thread::sleep_for(std::chrono::milliseconds(qint64(seconds * 1000)));
        const double elapsed = double(probes::nowNs() - startNs) / 1e9;
        const qint64 cpu = probes::processCpuNs() - probes::threadCpuNs(pthread_self()) - cpuStart;
        run.results[QStringLiteral("cpu_pct")] = 100.0 * double(cpu) / (elapsed * 1e9);
        run.results[QStringLiteral("switches_per_s")]
            = double(probes::contextSwitches(mainThread) - switchesStart) / elapsed;
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
        settings.values[argument.left(equals)] = argument.mid(equals + 1).toDouble();
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
    QApplication::setActiveWindow(subject->window());
    settle(150);

    Results results;
    const Run run {*subject, line, settings, results};
    bool made = false;
    if (settings.scenario == QLatin1String("paced"))
        made = paced(run);
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
