// Checks the readings of each sensor profile: their ranges, shapes and repeatability.

#include "profile.h"

#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

std::vector<int> take(Profile profile, int count)
{
    std::vector<int> readings;
    readings.reserve(size_t(count));
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

/// Names reading \a index and its value in a failure message.
QByteArray at(std::size_t index, int reading)
{
    return "reading " + QByteArray::number(qulonglong(index)) + " is "
        + QByteArray::number(reading);
}

} // namespace

Q_DECLARE_METATYPE(Profile)
Q_DECLARE_METATYPE(Profile::Kind)

class TestSensorProfile : public QObject
{
    Q_OBJECT

private slots:
    void ranges_data();
    void ranges();
    void roomMovesSlowly();
    void rampShape();
    void spikes();
    void seeds_data();
    void seeds();
};

void TestSensorProfile::ranges_data()
{
    QTest::addColumn<Profile>("profile");
    QTest::addColumn<int>("lowestAllowed"); // every reading lies within these
    QTest::addColumn<int>("highestAllowed");
    QTest::addColumn<int>("mustReachLow"); // and the readings get at least this far out
    QTest::addColumn<int>("mustReachHigh");

    QTest::newRow("room") << Profile(Profile::Kind::Room) << RoomLowest << RoomHighest << 2 * 20
                          << 2 * 26;
    QTest::newRow("room seed 2") << Profile(Profile::Kind::Room, 2) << RoomLowest << RoomHighest
                                 << 2 * 20 << 2 * 26;
    QTest::newRow("room seed 12345")
        << Profile(Profile::Kind::Room, 12345) << RoomLowest << RoomHighest << 2 * 20 << 2 * 26;
    QTest::newRow("ramp") << Profile(Profile::Kind::Ramp) << 0 << 120 << 0 << 120;
    QTest::newRow("steady 25") << Profile(Profile::Kind::Steady, 1, 25.0) << 50 << 50 << 50 << 50;
    QTest::newRow("steady 20.5") << Profile(Profile::Kind::Steady, 1, 20.5) << 41 << 41 << 41 << 41;
    QTest::newRow("steady 0") << Profile(Profile::Kind::Steady, 1, 0.0) << 0 << 0 << 0 << 0;
    QTest::newRow("steady 127.5") << Profile(Profile::Kind::Steady, 1, 127.5) << 255 << 255 << 255
                                  << 255;
}

void TestSensorProfile::ranges()
{
    QFETCH(Profile, profile);
    QFETCH(int, lowestAllowed);
    QFETCH(int, highestAllowed);
    QFETCH(int, mustReachLow);
    QFETCH(int, mustReachHigh);

    // Long enough for two full room drift cycles and many ramps.
    const std::vector<int> readings = take(profile, 3000);
    const auto [lowest, highest] = std::minmax_element(readings.begin(), readings.end());
    QVERIFY2(*lowest >= lowestAllowed, QByteArray::number(*lowest).constData());
    QVERIFY2(*highest <= highestAllowed, QByteArray::number(*highest).constData());
    QVERIFY2(*lowest <= mustReachLow, QByteArray::number(*lowest).constData());
    QVERIFY2(*highest >= mustReachHigh, QByteArray::number(*highest).constData());
}

void TestSensorProfile::roomMovesSlowly()
{
    // A drift, not a jumble: the noise alone moves a reading by at most one step, and the
    // drift adds at most one more.
    const std::vector<int> readings = take(Profile(Profile::Kind::Room), 3000);
    for (std::size_t i = 1; i < readings.size(); ++i)
        QVERIFY2(
            std::abs(readings[i] - readings[i - 1]) <= 3,
            (at(i, readings[i]) + " after " + QByteArray::number(readings[i - 1])).constData());
}

void TestSensorProfile::rampShape()
{
    const std::vector<int> readings = take(Profile(Profile::Kind::Ramp), 481);
    QCOMPARE(readings[0], 0); // 0 degrees
    QCOMPARE(readings[120], 120); // up to 60 degrees
    QCOMPARE(readings[240], 0); // and back
    QCOMPARE(readings[360], 120); // and again
    QCOMPARE(readings[480], 0);
    // In half degrees, one a reading.
    for (std::size_t i = 1; i < readings.size(); ++i) {
        const bool rising = (i - 1) % 240 < 120;
        QVERIFY2(
            readings[i] - readings[i - 1] == (rising ? 1 : -1),
            (at(i, readings[i]) + " after " + QByteArray::number(readings[i - 1])).constData());
    }
}

void TestSensorProfile::spikes()
{
    const std::vector<int> readings = take(Profile(Profile::Kind::Spikes, 3), 10000);
    int spikes = 0, zeroes = 0, highs = 0;
    for (std::size_t i = 0; i < readings.size(); ++i) {
        if (!farOff(readings[i]))
            continue;
        ++spikes;
        zeroes += readings[i] == 0;
        highs += readings[i] >= 200;
        // Far off, and single readings.
        QVERIFY2(readings[i] == 0 || readings[i] >= 200, at(i, readings[i]).constData());
        QVERIFY2(i == 0 || !farOff(readings[i - 1]), at(i, readings[i]).constData());
    }
    // Occasional, and both ways.
    QVERIFY2(spikes >= 100 && spikes <= 500, QByteArray::number(spikes).constData());
    QVERIFY(zeroes > 0);
    QVERIFY(highs > 0);
}

void TestSensorProfile::seeds_data()
{
    QTest::addColumn<Profile::Kind>("kind");
    QTest::newRow("room") << Profile::Kind::Room;
    QTest::newRow("spikes") << Profile::Kind::Spikes;
}

void TestSensorProfile::seeds()
{
    QFETCH(Profile::Kind, kind);
    QVERIFY(take(Profile(kind, 42), 2000) == take(Profile(kind, 42), 2000));
    QVERIFY(take(Profile(kind, 42), 2000) != take(Profile(kind, 43), 2000));
}

QTEST_APPLESS_MAIN(TestSensorProfile)
#include "tst_sensor_profile.moc"
