#include "strip_chart/chartsurface.h"
#include "strip_chart/plotsample.h"
#include "strip_chart/rgb.h"
#include "support/windowchart.h"

#include <QTest>

#include <memory>

namespace {

using Pixels = QList<QPoint>;
using Readings = QList<qint16>;

constexpr QRgb Blue = 0xff0000ff;

/// Plots \a readings as the window does while recording: the counter goes up before each.
void record(ChartSurface &surface, const Readings &readings, qint64 &sampleIndex)
{
    for (const qint16 reading : readings) {
        ++sampleIndex;
        PlotSample(surface, reading, sampleIndex);
    }
}

/// The pen-coloured pixels of the chart, row by row.
Pixels bluePixels(ChartSurface &surface)
{
    const QImage &image = surface.image();
    Pixels pixels;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == Blue)
                pixels.append({x, y});
    return pixels;
}

bool isBlue(ChartSurface &surface, QPoint pixel)
{
    return surface.image().pixel(pixel) == Blue;
}

Pixels row(int y, int fromX, int toX)
{
    Pixels pixels;
    for (int x = fromX; x <= toX; ++x)
        pixels.append({x, y});
    return pixels;
}

} // namespace

class TestPlotSample : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void afterStart_data();
    void afterStart();
    void wrapBoundary_data();
    void wrapBoundary();
    void wrapAfterAFullChart();
    void offChartStretch_data();
    void offChartStretch();
};

void TestPlotSample::init()
{
    if (windowChart()->image().devicePixelRatio() != 1)
        QSKIP("Pixels are counted at ratio 1.");
}

void TestPlotSample::afterStart_data()
{
    QTest::addColumn<Readings>("readings");
    QTest::addColumn<Pixels>("expected");

    // x = 20 is column 19.36, rounded to 19.
    QTest::newRow("steady 25 degrees") << Readings(20, 25) << row(82, 1, 19);
    // A line from the corner would set (0, 0) on its way.
    QTest::newRow("first reading 0 degrees") << Readings {0} << Pixels {{1, 164}};
    QTest::newRow("first reading 50 degrees") << Readings {50} << Pixels {{1, 0}};
    QTest::newRow("first reading above the chart") << Readings {60} << Pixels {};
    QTest::newRow("byte 255 throughout") << Readings(20, 128) << Pixels {};
}

void TestPlotSample::afterStart()
{
    QFETCH(Readings, readings);
    QFETCH(Pixels, expected);

    const auto surface = windowChart();
    qint64 sampleIndex = 0;
    record(*surface, Readings(10, 40), sampleIndex);
    // Start, as the button does it.
    sampleIndex = 0;
    surface->Cls();

    record(*surface, readings, sampleIndex);
    QCOMPARE(bluePixels(*surface), expected);
    QCOMPARE(sampleIndex, qint64(readings.size()));
}

void TestPlotSample::wrapBoundary_data()
{
    QTest::addColumn<qint64>("sampleIndex");
    QTest::addColumn<bool>("wraps");

    QTest::newRow("2") << qint64(2) << false;
    QTest::newRow("499") << qint64(499) << false;
    QTest::newRow("500") << qint64(500) << true;
    QTest::newRow("501") << qint64(501) << true;
    QTest::newRow("100001") << qint64(100001) << true;
}

void TestPlotSample::wrapBoundary()
{
    QFETCH(qint64, sampleIndex);
    QFETCH(bool, wraps);

    const auto surface = windowChart();
    qint64 first = 0;
    record(*surface, {25}, first);
    QVERIFY(isBlue(*surface, {1, 82}));

    const qint64 entry = sampleIndex;
    PlotSample(*surface, 10, sampleIndex);
    QCOMPARE(sampleIndex, wraps ? 0 : entry);
    // A wrap clears the trace so far.
    QCOMPARE(isBlue(*surface, {1, 82}), !wraps);
}

void TestPlotSample::wrapAfterAFullChart()
{
    const auto surface = windowChart();
    qint64 sampleIndex = 0;
    Readings fullChart;
    for (int i = 1; i <= 499; ++i)
        fullChart.append(qint16(i % 40 + 5));
    record(*surface, fullChart, sampleIndex);
    QCOMPARE(sampleIndex, qint64(499));
    // The first and the last reading are still there: no wrap on the way.
    QVERIFY(isBlue(*surface, {1, 144})); // 6 degrees
    QVERIFY(isBlue(*surface, {483, 85})); // 24 degrees at x = 499

    // 10 degrees, y = 40: row 131.2, rounded to 131.
    ++sampleIndex;
    PlotSample(*surface, 10, sampleIndex);
    QCOMPARE(sampleIndex, qint64(0));
    const Pixels wrapPoint {{0, 131}};
    QCOMPARE(bluePixels(*surface), wrapPoint);
    QCOMPARE(surface->CurrentX(), 0.0F);
    QCOMPARE(surface->CurrentY(), 40.0F);

    ++sampleIndex;
    PlotSample(*surface, 10, sampleIndex);
    QCOMPARE(bluePixels(*surface), row(131, 0, 1));
}

void TestPlotSample::offChartStretch_data()
{
    QTest::addColumn<qint16>("offChart");
    QTest::addColumn<int>("edgeRow");

    QTest::newRow("60 degrees") << qint16(60) << 0;
    QTest::newRow("byte 255") << qint16(128) << 0;
    QTest::newRow("-20 degrees") << qint16(-20) << 164;
}

void TestPlotSample::offChartStretch()
{
    QFETCH(qint16, offChart);
    QFETCH(int, edgeRow);

    // Ten readings at 25 degrees, ten off the chart, ten at 25 again.
    const auto surface = windowChart();
    qint64 sampleIndex = 0;
    record(*surface, Readings(10, 25) + Readings(10, offChart) + Readings(10, 25), sampleIndex);

    // x = 10 is column 10 (9.68); x = 20 column 19 (19.36), x = 21 column 20 (20.33), x = 30
    // column 29 (29.04). The trace leaves between 10 and 11 and comes back between 19 and 20.
    const auto inColumns = [&](int from, int to) {
        Pixels found;
        for (const QPoint &pixel : bluePixels(*surface))
            if (pixel.x() >= from && pixel.x() <= to)
                found.append(pixel);
        return found;
    };
    // Nothing is drawn, not even along the edge, while the readings are off the chart.
    QCOMPARE(inColumns(12, 18), Pixels {});
    QCOMPARE(inColumns(30, 484), Pixels {});
    for (int x : {1, 10, 20, 29})
        QVERIFY(isBlue(*surface, {x, 82}));
    const auto crosses = [&](int from, int to) {
        for (int x = from; x <= to; ++x)
            if (isBlue(*surface, {x, edgeRow}))
                return true;
        return false;
    };
    QVERIFY(crosses(10, 11));
    QVERIFY(crosses(19, 20));
}

QTEST_MAIN(TestPlotSample)
#include "tst_plotsample.moc"
