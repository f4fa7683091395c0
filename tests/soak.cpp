// Soak: the real window reads N readings flooded into a real serial line by a writer thread
// while Start/Stop is pressed at random moments. Passes if nothing is reported, every reading is
// taken exactly once, the counter and temperature are right at the end, and the resident memory
// grew by no more than the bound between the end of the warm-up and the end.
//
// Usage: thermometer-soak [--readings N] [--seed S] [--max-rss-growth-kib K]
//        (defaults: 10000000 readings, seed 1, 1024 KiB)

#include "main_window/form1.h"
#include "main_window/runtimeerror.h"
#include "serial_input/serialcontrol.h"
#include "support/portpair.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#ifdef Q_OS_WIN
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define SOAK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_UNDER_ASAN 1
#endif
#endif

namespace {

struct Options
{
    qint64 readings = 10'000'000;
    quint32 seed = 1;
    qint64 maxRssGrowthKib = 1024;
};

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const qint64 value = std::stoll(argv[i + 1]);
        if (name == "--readings" && value > 0)
            options.readings = value;
        else if (name == "--seed")
            options.seed = quint32(value);
        else if (name == "--max-rss-growth-kib")
            options.maxRssGrowthKib = value;
        else
            return false;
    }
    return argc % 2 == 1;
}

qint64 residentKib()
{
#ifdef Q_OS_WIN
    PROCESS_MEMORY_COUNTERS counters {};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return qint64(counters.WorkingSetSize / 1024);
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6));
    return -1;
#endif
}

// The byte of reading number i (from 0): every value, in an order that keeps changing the text.
char byteOf(qint64 i)
{
    return char((i * 7 + i / 256) % 256);
}

QString expectedText(quint8 raw)
{
    return QString::number(raw / 2) + (raw % 2 ? QStringLiteral(".5 C") : QStringLiteral(" C"));
}

// Floods the line with the readings, as fast as the window takes them, until all are written,
// the line is gone or it is told to stop.
void writeAll(PortPair::Feed &feed, qint64 readings, std::atomic<qint64> &written,
              const std::atomic<bool> &stop)
{
    QByteArray chunk;
    qint64 next = 0;
    while (next < readings) {
        const qint64 size = std::min<qint64>(4096, readings - next);
        chunk.resize(size);
        for (qint64 i = 0; i < size; ++i)
            chunk[i] = byteOf(next + i);
        qint64 done = 0;
        while (done < size) {
            if (stop)
                return;
            const qint64 n = feed.write(chunk.mid(done), 1000);
            if (n < 0)
                return;
            done += n;
        }
        next += size;
        written.store(next);
    }
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--readings N] [--seed S] [--max-rss-growth-kib K]\n",
                     argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());

    if (const QString why = PortPair::unavailable(); !why.isEmpty()) {
        std::fprintf(stderr, "soak: %s\n", qPrintable(why));
        return 1;
    }
    PortPair line;
    if (!line.isValid()) {
        std::fprintf(stderr, "soak: no serial line\n");
        return 1;
    }
    int reports = 0;
    Form1 form(line.deviceName(), [&](const RuntimeError &error) {
        ++reports;
        std::fprintf(stderr, "soak: report: %s\n", qPrintable(error.reportText()));
    });
    form.Form_Load();
    if (form.hasEnded())
        return 1;
    form.show();

    // Counted apart from the window: a reading is a receive event that moved its counter.
    qint64 readings = 0;
    qint64 lastIndex = 0;
    qint64 readingsAtPress = 0;
    QString counterAtPress;
    int presses = 0;
    std::mt19937 random(options.seed);
    // About fifty presses over the run, at random readings, stopping well before the end.
    std::uniform_int_distribution<qint64> gap(1, std::max<qint64>(2, options.readings / 25));
    qint64 nextPress = gap(random);
    const qint64 lastPressBefore = options.readings - options.readings / 20;
    const qint64 warmUp = std::clamp<qint64>(options.readings / 10, 1, 100'000);
    qint64 rssAfterWarmUp = -1;

    QObject::connect(form.Comm1, &SerialControl::OnComm, &form, [&] {
        if (form.Comm1->CommEvent() != SerialControl::ReceiveEvent || form.SampleIndex == lastIndex)
            return;
        lastIndex = form.SampleIndex;
        ++readings;
        if (readings == warmUp)
            rssAfterWarmUp = residentKib();
        if (readings == nextPress && readings < lastPressBefore) {
            // Comes through the event loop between readings, as a person's click does.
            QMetaObject::invokeMethod(form.cmdPlot, &QPushButton::click, Qt::QueuedConnection);
            nextPress += gap(random);
        }
    });
    QObject::connect(form.cmdPlot, &QPushButton::clicked, &form, [&] {
        ++presses;
        readingsAtPress = readings;
        lastIndex = form.SampleIndex;
        // A press after the last reading leaves the box as it was, until the next reading.
        counterAtPress = form.txtIndex->text();
    });

    std::atomic<qint64> written {0};
    QElapsedTimer elapsed;
    elapsed.start();
    std::atomic<bool> stop {false};
    PortPair::Feed writer(
        line, [&](PortPair::Feed &feed) { writeAll(feed, options.readings, written, stop); });

    // Generous: even a sanitized debug build takes well over 5000 readings a second.
    const qint64 limitMs = options.readings / 5 + 60'000;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if ((written.load() == options.readings && readings >= options.readings) || reports > 0
            || form.hasEnded() || elapsed.elapsed() > limitMs)
            app.quit();
    });
    poll.start(50);
    app.exec();
    const double seconds = elapsed.elapsed() / 1000.0;
    stop = true; // lets the writer give up if it is not done
    writer.join();
    // Anything still in flight would be a reading too many.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const qint64 rssAtEnd = residentKib();

    const bool recording = form.Plotting != 0;
    const qint64 sincePress = readings - readingsAtPress;
    const qint64 shownCount = recording ? (sincePress - 1) % 500 + 1 : sincePress;
    const QString shownCounter
        = sincePress == 0 && presses > 0 ? counterAtPress : QString::number(shownCount);
    const qint64 index = recording ? sincePress % 500 : sincePress;
    const quint8 last = quint8(byteOf(options.readings - 1));
    const qint64 growth = rssAtEnd - rssAfterWarmUp;

    std::printf("readings:      %lld written, %lld taken, in %.1f s (%.0f a second)\n",
                options.readings, readings, seconds, double(readings) / seconds);
    std::printf("presses:       %d, recording at the end: %s\n", presses, recording ? "yes" : "no");
    std::printf("counter:       %s (expected %s), SampleIndex %lld (expected %lld)\n",
                qPrintable(form.txtIndex->text()), qPrintable(shownCounter), form.SampleIndex,
                index);
    std::printf("temperature:   %s (expected %s)\n", qPrintable(form.txtTemp->text()),
                qPrintable(expectedText(last)));
    std::printf("resident:      %lld KiB after %lld readings, %lld KiB at the end: %+lld KiB\n",
                rssAfterWarmUp, warmUp, rssAtEnd, growth);

    bool ok = reports == 0 && !form.hasEnded() && readings == options.readings
        && form.txtIndex->text() == shownCounter && form.SampleIndex == index
        && form.txtTemp->text() == expectedText(last);
#ifdef SOAK_UNDER_ASAN
    std::printf("resident bound not checked: AddressSanitizer holds freed memory back\n");
#else
    ok = ok && rssAfterWarmUp > 0 && growth <= options.maxRssGrowthKib;
#endif
    std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
    return ok ? 0 : 1;
}
