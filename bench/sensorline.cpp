#include "sensorline.h"

#include "probes.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr qint64 ChunkBytes = 4096;
// The sensor's rate: 38400 bit/s, ten bits a byte.
constexpr double SensorRate = 3840;

void sleepUntil(qint64 ns)
{
    const timespec due {time_t(ns / 1000000000), long(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) { }
}

} // namespace

const std::vector<DeliveryProfile> &DeliveryProfile::all()
{
    static const std::vector<DeliveryProfile> profiles {
        {"byte", "one byte per write", 0, 1},
        {"usb-1ms", "what is due, every 1 ms", 1e6, 0},
        // A 16550A hands its receive FIFO over at its trigger level of 8 bytes.
        {"uart-fifo", "8 bytes per write, every 2.08 ms", 8e9 / SensorRate, 8},
        // A USB adapter's latency timer.
        {"usb-16ms", "what is due, every 16 ms", 16e6, 0},
    };
    return profiles;
}

const DeliveryProfile *DeliveryProfile::named(const QString &name)
{
    for (const DeliveryProfile &profile : all())
        if (name == QLatin1String(profile.name))
            return &profile;
    return nullptr;
}

LineWriter::LineWriter(int masterFd, Plan plan)
    : m_master(masterFd)
    , m_plan(plan)
{
    if (m_plan.stamp)
        m_stamps.reset(new std::atomic<qint64>[size_t(m_plan.count)]());
}

LineWriter::~LineWriter()
{
    join();
}

void LineWriter::start()
{
    m_thread = std::thread([this] { run(); });
}

void LineWriter::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void LineWriter::run()
{
    if (m_plan.spells)
        spells();
    else if (m_plan.rate > 0)
        paced();
    else
        flood();
    m_windowEndNs = probes::nowNs();
    m_processCpuAtEnd = probes::processCpuNs();
    m_writerCpuAtEnd = probes::threadCpuNs(pthread_self());
    m_switchesAtEnd = probes::contextSwitches(int(getpid()));
    m_readerSwitchesAtEnd = probes::namedThreadSwitches(probes::ReaderThread);
}

void LineWriter::markWindowStart()
{
    m_windowStartNs = probes::nowNs();
    m_processCpuAtStart = probes::processCpuNs();
    m_writerCpuAtStart = probes::threadCpuNs(pthread_self());
    m_switchesAtStart = probes::contextSwitches(int(getpid()));
    m_readerSwitchesAtStart = probes::namedThreadSwitches(probes::ReaderThread);
}

// Reading i has fully arrived at the sensor's end (i + 1) reading times after the origin; at
// each tick of the profile what has arrived goes into the line.
void LineWriter::paced()
{
    const double nsPerReading = 1e9 / m_plan.rate;
    const double tickNs = m_plan.profile.tickNs > 0 ? m_plan.profile.tickNs : nsPerReading;
    const qint64 origin = probes::nowNs() + 1000000;
    qint64 next = 0;
    for (qint64 tick = 1; next < m_plan.count; ++tick) {
        sleepUntil(origin + qint64(std::ceil(double(tick) * tickNs)));
        const qint64 due = std::min(
            m_plan.count, qint64(std::floor(double(probes::nowNs() - origin) / nsPerReading)));
        if (due <= next)
            continue;
        if (next <= m_plan.measureFrom && m_plan.measureFrom < due)
            markWindowStart();
        if (!writeReadings(next, due - next, m_plan.profile.bytesPerWrite))
            return;
        next = due;
    }
}

// One reading at a time, each after a quiet spell of 100 to 200 ms, the same spells every run.
void LineWriter::spells()
{
    quint32 random = 12345;
    qint64 due = probes::nowNs();
    markWindowStart();
    for (qint64 next = 0; next < m_plan.count; ++next) {
        random = random * 1664525 + 1013904223;
        due += (100 + qint64(random >> 16) % 101) * 1000000;
        sleepUntil(due);
        if (!writeReadings(next, 1, 1))
            return;
    }
}

void LineWriter::flood()
{
    markWindowStart();
    writeReadings(0, m_plan.count, 0);
}

bool LineWriter::writeReadings(qint64 first, qint64 count, qint64 perWrite)
{
    if (perWrite <= 0)
        perWrite = ChunkBytes;
    char chunk[ChunkBytes];
    for (qint64 next = first; next < first + count;) {
        const qint64 size = std::min({perWrite, ChunkBytes, first + count - next});
        for (qint64 i = 0; i < size; ++i)
            chunk[i] = char(byteAt(next + i));
        if (m_stamps) {
            const qint64 stamp = probes::nowNs();
            for (qint64 i = 0; i < size; ++i)
                m_stamps[size_t(next + i)].store(stamp, std::memory_order_release);
        }
        if (!writeAll(chunk, size))
            return false;
        next += size;
    }
    return true;
}

bool LineWriter::writeAll(const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(m_master, data, size_t(size));
        if (written > 0) {
            data += written;
            size -= written;
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            m_failed = true;
            return false;
        } else {
            // The line is full: wait until the program has read some.
            pollfd wait {m_master, POLLOUT, 0};
            ::poll(&wait, 1, 100);
        }
    }
    return true;
}
