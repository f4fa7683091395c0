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
// Above about 4000 readings a second the writer wakes at most this often and writes what has
// become due, as a UART's receive FIFO would hand it over.
constexpr qint64 MinimumTickNs = 250000;

void sleepUntil(qint64 ns)
{
    const timespec due {time_t(ns / 1000000000), long(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) { }
}

} // namespace

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
    m_startNs = probes::nowNs();
    if (m_plan.rate > 0)
        paced();
    else
        flood();
    m_windowEndNs = probes::nowNs();
    m_processCpuAtEnd = probes::processCpuNs();
    m_writerCpuAtEnd = probes::threadCpuNs(pthread_self());
    m_switchesAtEnd = probes::contextSwitches(int(getpid()));
}

void LineWriter::markWindowStart()
{
    m_windowStartNs = probes::nowNs();
    m_processCpuAtStart = probes::processCpuNs();
    m_writerCpuAtStart = probes::threadCpuNs(pthread_self());
    m_switchesAtStart = probes::contextSwitches(int(getpid()));
}

void LineWriter::paced()
{
    const double nsPerReading = 1e9 / m_plan.rate;
    const qint64 origin = probes::nowNs() + 1000000;
    qint64 lastWake = origin - MinimumTickNs;
    char chunk[ChunkBytes];
    qint64 next = 0;
    while (next < m_plan.count) {
        sleepUntil(
            std::max(origin + qint64(double(next) * nsPerReading), lastWake + MinimumTickNs));
        const qint64 now = probes::nowNs();
        lastWake = now;
        // Every reading whose time has come, in one write.
        const qint64 due = qint64(std::floor(double(now - origin) / nsPerReading)) + 1;
        const qint64 count
            = std::clamp(due - next, qint64(1), std::min(ChunkBytes, m_plan.count - next));
        if (next <= m_plan.measureFrom && m_plan.measureFrom < next + count)
            markWindowStart();
        const qint64 stamp = probes::nowNs();
        for (qint64 i = 0; i < count; ++i) {
            chunk[i] = char(byteAt(next + i));
            if (m_stamps)
                m_stamps[size_t(next + i)].store(stamp, std::memory_order_release);
        }
        if (!writeAll(chunk, count))
            return;
        next += count;
    }
}

void LineWriter::flood()
{
    char chunk[ChunkBytes];
    markWindowStart();
    for (qint64 next = 0; next < m_plan.count;) {
        const qint64 count = std::min(ChunkBytes, m_plan.count - next);
        for (qint64 i = 0; i < count; ++i)
            chunk[i] = char(byteAt(next + i));
        if (!writeAll(chunk, count))
            return;
        next += count;
    }
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
