#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>

/// The readings a sensor profile produces: one byte each, twice the temperature in degrees.
/// Deterministic for a given seed, so runs of the simulator can be repeated.
class Profile
{
public:
    enum class Kind { Room, Ramp, Steady, Spikes };

    static constexpr std::uint64_t DefaultSeed = 1;
    static constexpr double MaxDegrees = 127.5;

    explicit Profile(Kind kind, std::uint64_t seed = DefaultSeed, double steadyDegrees = 0.0);

    /// The next reading.
    std::uint8_t next();

    static std::optional<Kind> kindFromName(const std::string &name);
    static const char *name(Kind kind);

private:
    std::uint8_t room();
    std::uint8_t ramp() const;
    std::uint8_t spikes();
    std::uint64_t random();
    double uniform();

    Kind m_kind;
    std::mt19937_64 m_engine;
    std::uint8_t m_steady;
    std::uint64_t m_index = 0;
    double m_phase = 0.0;
    bool m_lastWasSpike = false;
};
