// Checks the readings of each sensor profile: their ranges, shapes and repeatability.

#include "profile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

int failures = 0;

#define CHECK(condition, what)                                                                     \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "FAIL %s:%d: %s (%s)\n", __FILE__, __LINE__, #condition, what);   \
            ++failures;                                                                            \
        }                                                                                          \
    } while (false)

std::vector<int> take(Profile profile, int count)
{
    std::vector<int> readings;
    for (int i = 0; i < count; ++i)
        readings.push_back(profile.next());
    return readings;
}

// Readings are twice the degrees, so these bounds are in half degrees.
constexpr int RoomLowest = 2 * 17;
constexpr int RoomHighest = 2 * 29;

bool farOff(int reading)
{
    return reading < RoomLowest || reading > RoomHighest;
}

void testRanges()
{
    struct Row
    {
        const char *what;
        Profile profile;
        int lowestAllowed, highestAllowed; // every reading lies within these
        int mustReachLow, mustReachHigh; // and the readings get at least this far out
    };
    const Row rows[] = {
        {"room", Profile(Profile::Kind::Room), RoomLowest, RoomHighest, 2 * 20, 2 * 26},
        {"room seed 2", Profile(Profile::Kind::Room, 2), RoomLowest, RoomHighest, 2 * 20, 2 * 26},
        {"room seed 12345", Profile(Profile::Kind::Room, 12345), RoomLowest, RoomHighest, 2 * 20,
         2 * 26},
        {"ramp", Profile(Profile::Kind::Ramp), 0, 120, 0, 120},
        {"steady 25", Profile(Profile::Kind::Steady, 1, 25.0), 50, 50, 50, 50},
        {"steady 20.5", Profile(Profile::Kind::Steady, 1, 20.5), 41, 41, 41, 41},
        {"steady 0", Profile(Profile::Kind::Steady, 1, 0.0), 0, 0, 0, 0},
        {"steady 127.5", Profile(Profile::Kind::Steady, 1, 127.5), 255, 255, 255, 255},
    };
    for (const Row &row : rows) {
        // Long enough for two full room drift cycles and many ramps.
        const std::vector<int> readings = take(row.profile, 3000);
        const auto [lowest, highest] = std::minmax_element(readings.begin(), readings.end());
        CHECK(*lowest >= row.lowestAllowed, row.what);
        CHECK(*highest <= row.highestAllowed, row.what);
        CHECK(*lowest <= row.mustReachLow, row.what);
        CHECK(*highest >= row.mustReachHigh, row.what);
    }
}

void testRoomMovesSlowly()
{
    // A drift, not a jumble: the noise alone moves a reading by at most one step, and the
    // drift adds at most one more.
    const std::vector<int> readings = take(Profile(Profile::Kind::Room), 3000);
    for (std::size_t i = 1; i < readings.size(); ++i)
        CHECK(std::abs(readings[i] - readings[i - 1]) <= 3, "room step");
}

void testRampShape()
{
    const std::vector<int> readings = take(Profile(Profile::Kind::Ramp), 481);
    CHECK(readings[0] == 0, "ramp starts at 0 degrees");
    CHECK(readings[120] == 120, "ramp reaches 60 degrees");
    CHECK(readings[240] == 0, "ramp returns to 0 degrees");
    CHECK(readings[360] == 120 && readings[480] == 0, "ramp repeats");
    for (std::size_t i = 1; i < readings.size(); ++i) {
        const bool rising = (i - 1) % 240 < 120;
        CHECK(readings[i] - readings[i - 1] == (rising ? 1 : -1), "ramp moves in half degrees");
    }
}

void testSpikes()
{
    const std::vector<int> readings = take(Profile(Profile::Kind::Spikes, 3), 10000);
    int spikes = 0, zeroes = 0, highs = 0;
    for (std::size_t i = 0; i < readings.size(); ++i) {
        if (!farOff(readings[i]))
            continue;
        ++spikes;
        zeroes += readings[i] == 0;
        highs += readings[i] >= 200;
        CHECK(readings[i] == 0 || readings[i] >= 200, "spikes are far off");
        CHECK(i == 0 || !farOff(readings[i - 1]), "spikes are single readings");
    }
    CHECK(spikes >= 100 && spikes <= 500, "spikes are occasional");
    CHECK(zeroes > 0 && highs > 0, "spikes go both ways");
}

void testSeeds()
{
    for (Profile::Kind kind : {Profile::Kind::Room, Profile::Kind::Spikes}) {
        const char *what = Profile::name(kind);
        CHECK(take(Profile(kind, 42), 2000) == take(Profile(kind, 42), 2000), what);
        CHECK(take(Profile(kind, 42), 2000) != take(Profile(kind, 43), 2000), what);
    }
}

} // namespace

int main()
{
    testRanges();
    testRoomMovesSlowly();
    testRampShape();
    testSpikes();
    testSeeds();
    if (failures == 0)
        std::printf("all profile checks passed\n");
    return failures == 0 ? 0 : 1;
}
