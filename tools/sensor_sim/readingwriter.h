#pragma once

#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class Profile;
class SensorPort;

/// Feeds a profile's readings into the port: waits for a client, then writes at a steady
/// rate or as fast as the line takes, until the count is reached or a stop is requested.
class ReadingWriter
{
public:
    enum class Result { Finished, Stopped, Failed };

    /// stopRequested is set by a signal handler; the stop signals must be blocked except in
    /// waitMask, which is the mask in force while waiting.
    ReadingWriter(SensorPort &port, Profile &profile,
                  const volatile std::sig_atomic_t &stopRequested, const sigset_t &waitMask);

    /// rate in readings per second, 0 for as fast as the line takes.
    Result run(double rate, std::optional<std::uint64_t> count);

    const std::string &error() const { return m_error; }
    std::uint64_t written() const { return m_written; }
    /// The last reading written; meaningful once written() is above 0.
    std::uint8_t last() const { return m_last; }

private:
    using Clock = std::chrono::steady_clock;

    Result waitForClient();
    Result keepClient(bool &waited);
    Result writePaced(double rate, std::optional<std::uint64_t> count);
    Result writeFlat(std::optional<std::uint64_t> count);
    Result writeReadings(const std::uint8_t *data, std::size_t size);
    Result writeAll(const char *data, std::size_t size);
    Result sleepUntil(Clock::time_point deadline);
    Result waitUntilRead();
    Result wait(short events, std::optional<Clock::duration> timeout);

    SensorPort &m_port;
    Profile &m_profile;
    const volatile std::sig_atomic_t &m_stopRequested;
    const sigset_t &m_waitMask;
    std::string m_error;
    std::uint64_t m_written = 0;
    std::uint8_t m_last = 0;
};
