#include "readingwriter.h"

#include "profile.h"
#include "sensorport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto ClientCheckInterval = 50ms;
constexpr auto DrainCheckInterval = 20ms;
// The client counts as done once the queue stays empty this many checks in a row: the
// kernel moves data into the queue in steps, so one empty look can come between two.
constexpr int DrainQuietChecks = 3;
// A client that reads nothing for this long has gone; its backlog is not waited for.
constexpr auto DrainGiveUp = 2s;
constexpr std::size_t FlatChunk = 256;

} // namespace

ReadingWriter::ReadingWriter(SensorPort &port, Profile &profile,
                             const volatile std::sig_atomic_t &stopRequested,
                             const sigset_t &waitMask)
    : m_port(port)
    , m_profile(profile)
    , m_stopRequested(stopRequested)
    , m_waitMask(waitMask)
{
}

ReadingWriter::Result ReadingWriter::run(double rate, std::optional<std::uint64_t> count)
{
    const Result result = rate > 0.0 ? writePaced(rate, count) : writeFlat(count);
    if (result != Result::Finished)
        return result;
    // Closing the master hangs the line up, which throws away what the client has not read.
    return waitUntilRead();
}

ReadingWriter::Result ReadingWriter::waitForClient()
{
    while (!m_port.clientHasConfigured()) {
        const Result result = wait(0, ClientCheckInterval);
        if (result != Result::Finished)
            return result;
    }
    return Result::Finished;
}

ReadingWriter::Result ReadingWriter::keepClient(bool &waited)
{
    waited = !m_port.clientHasConfigured();
    if (!waited)
        return Result::Finished;
    // The client has gone: the next one should not get what this one left unread.
    m_port.discardUnread();
    return waitForClient();
}

ReadingWriter::Result ReadingWriter::writePaced(double rate, std::optional<std::uint64_t> count)
{
    const auto period
        = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
    // Each deadline follows from the last, not from when the write ended, so the rate does not
    // drift with the time the writes take.
    Clock::time_point deadline = Clock::now();
    for (std::uint64_t written = 0; !count || written < *count; ++written) {
        bool waited = false;
        Result result = keepClient(waited);
        if (result != Result::Finished)
            return result;
        if (waited)
            deadline = Clock::now();
        result = sleepUntil(deadline);
        if (result != Result::Finished)
            return result;
        const std::uint8_t reading = m_profile.next();
        result = writeReadings(&reading, 1);
        if (result != Result::Finished)
            return result;
        deadline += period;
        // After a stall (a client that stopped reading) carry on at the rate, not in a burst.
        const Clock::time_point now = Clock::now();
        if (now - deadline > period)
            deadline = now;
    }
    return Result::Finished;
}

ReadingWriter::Result ReadingWriter::writeFlat(std::optional<std::uint64_t> count)
{
    std::vector<std::uint8_t> chunk;
    std::uint64_t remaining = count.value_or(UINT64_MAX);
    while (remaining > 0) {
        bool waited = false;
        Result result = keepClient(waited);
        if (result != Result::Finished)
            return result;
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, FlatChunk));
        chunk.resize(size);
        for (std::uint8_t &reading : chunk)
            reading = m_profile.next();
        result = writeReadings(chunk.data(), chunk.size());
        if (result != Result::Finished)
            return result;
        if (count)
            remaining -= size;
    }
    return Result::Finished;
}

ReadingWriter::Result ReadingWriter::writeReadings(const std::uint8_t *data, std::size_t size)
{
    const std::string bytes = m_port.onLine(data, size);
    const Result result = writeAll(bytes.data(), bytes.size());
    if (result == Result::Finished && size > 0) {
        m_written += size;
        m_last = data[size - 1];
    }
    return result;
}

ReadingWriter::Result ReadingWriter::writeAll(const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(m_port.masterFd(), data, size);
        if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) {
            m_error = std::string("cannot write to the line: ") + std::strerror(errno);
            return Result::Failed;
        }
        const Result result = wait(POLLOUT, ClientCheckInterval);
        if (result != Result::Finished)
            return result;
        if (!m_port.clientHasConfigured())
            return Result::Finished; // readings nobody will read; the next write starts afresh
    }
    return Result::Finished;
}

ReadingWriter::Result ReadingWriter::sleepUntil(Clock::time_point deadline)
{
    for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
        const Result result = wait(0, deadline - now);
        if (result != Result::Finished)
            return result;
    }
    return Result::Finished;
}

ReadingWriter::Result ReadingWriter::waitUntilRead()
{
    std::size_t lastQueued = m_port.queuedForClient();
    Clock::time_point lastProgress = Clock::now();
    for (int quiet = 0; quiet < DrainQuietChecks;) {
        const Result result = wait(0, DrainCheckInterval);
        if (result != Result::Finished)
            return result;
        if (!m_port.clientHasConfigured())
            break;
        const std::size_t queued = m_port.queuedForClient();
        quiet = queued == 0 ? quiet + 1 : 0;
        if (queued != lastQueued) {
            lastQueued = queued;
            lastProgress = Clock::now();
        } else if (queued > 0 && Clock::now() - lastProgress > DrainGiveUp) {
            break;
        }
    }
    return Result::Finished;
}

ReadingWriter::Result ReadingWriter::wait(short events, std::optional<Clock::duration> timeout)
{
    // Also watch for input, so a client that writes to the sensor never blocks on us.
    pollfd master {m_port.masterFd(), static_cast<short>(events | POLLIN), 0};
    timespec limit {};
    if (timeout) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*timeout).count();
        limit.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        limit.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    // ppoll() lets the stop signals in only while waiting, so none slips in unnoticed
    // between the check of the flag and the wait.
    const int ready = ::ppoll(&master, 1, timeout ? &limit : nullptr, &m_waitMask);
    if (m_stopRequested)
        return Result::Stopped;
    if (ready < 0 && errno != EINTR) {
        m_error = std::string("cannot wait for the pseudo-terminal: ") + std::strerror(errno);
        return Result::Failed;
    }
    if (ready > 0 && (master.revents & POLLIN))
        m_port.discardInput();
    return Result::Finished;
}
