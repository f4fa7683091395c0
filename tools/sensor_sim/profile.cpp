#include "profile.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;

// Room drift, in half degrees: 23 +- 4 degrees over a two-minute cycle at 10 readings/s,
// plus one half-degree step of noise, which keeps it inside 18..28 degrees.
constexpr double RoomCentre = 46.0;
constexpr double RoomAmplitude = 8.0;
constexpr double RoomPeriod = 1200.0;
constexpr int RoomLowest = 36;
constexpr int RoomHighest = 56;

constexpr std::uint64_t RampTop = 120; // 60 degrees

// About one reading in forty is a spike; spikes never come two in a row.
constexpr std::uint64_t SpikeOdds = 40;
constexpr int SpikeLowest = 200; // 100 degrees

} // namespace

Profile::Profile(Kind kind, std::uint64_t seed, double steadyDegrees)
    : m_kind(kind)
    , m_engine(seed)
    , m_steady(
          static_cast<std::uint8_t>(std::lround(std::clamp(steadyDegrees, 0.0, MaxDegrees) * 2.0)))
{
    // The phase makes different seeds start at different points of the drift.
    m_phase = uniform() * 2.0 * Pi;
}

std::uint8_t Profile::next()
{
    std::uint8_t value = 0;
    switch (m_kind) {
    case Kind::Room:
        value = room();
        break;
    case Kind::Ramp:
        value = ramp();
        break;
    case Kind::Steady:
        value = m_steady;
        break;
    case Kind::Spikes:
        value = spikes();
        break;
    }
    ++m_index;
    return value;
}

std::optional<Profile::Kind> Profile::kindFromName(const std::string &name)
{
    for (Kind kind : {Kind::Room, Kind::Ramp, Kind::Steady, Kind::Spikes}) {
        if (name == Profile::name(kind))
            return kind;
    }
    return std::nullopt;
}

const char *Profile::name(Kind kind)
{
    switch (kind) {
    case Kind::Room:
        return "room";
    case Kind::Ramp:
        return "ramp";
    case Kind::Steady:
        return "steady";
    case Kind::Spikes:
        return "spikes";
    }
    return "";
}

std::uint8_t Profile::room()
{
    const double drift = RoomCentre
        + RoomAmplitude * std::sin(2.0 * Pi * static_cast<double>(m_index) / RoomPeriod + m_phase);
    const int noise = static_cast<int>(random() % 3) - 1;
    const int value = static_cast<int>(std::lround(drift)) + noise;
    return static_cast<std::uint8_t>(std::clamp(value, RoomLowest, RoomHighest));
}

std::uint8_t Profile::ramp() const
{
    const std::uint64_t step = m_index % (2 * RampTop);
    return static_cast<std::uint8_t>(step <= RampTop ? step : 2 * RampTop - step);
}

std::uint8_t Profile::spikes()
{
    // Always draw the room reading so the drift underneath goes on through a spike.
    const std::uint8_t normal = room();
    const bool spike = !m_lastWasSpike && random() % SpikeOdds == 0;
    m_lastWasSpike = spike;
    if (!spike)
        return normal;
    if (random() % 2 == 0)
        return 0;
    return static_cast<std::uint8_t>(SpikeLowest + random() % (256 - SpikeLowest));
}

std::uint64_t Profile::random()
{
    // The engine's raw output, which the C++ standard fixes, so a seed gives the same readings on
    // every platform; std:: distributions are left to each library, so none is used.
    return m_engine();
}

double Profile::uniform()
{
    return static_cast<double>(random() >> 11) * 0x1.0p-53;
}
