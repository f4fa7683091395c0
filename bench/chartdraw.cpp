// thermometer_chartdraw: what drawing the chart costs a reading, by how the painter is used, at
// pixel ratios 1, 1.5 and 2, with the benchmark's readings ((37 i + 11) mod 256, a long
// vertical line each). Offscreen, on the chart's own image size; medians of five runs.
//
//   cmake --build build-bench --target thermometer_chartdraw   (after scripts/bench has configured
//   build-bench), then QT_QPA_PLATFORM=offscreen build-bench/bench/thermometer_chartdraw
//
// Then the chart surface itself, at the screen's ratio (QT_SCALE_FACTOR sets it): a reading
// noted and painted with its frame, 64 readings a frame (3840 a second) and 16,667 (a million a
// second); and a hidden surface's resident memory over 10 million readings.

#include "probes.h"

#include "strip_chart/chartsurface.h"
#include "strip_chart/plotsample.h"
#include "support/windowchart.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int Readings = 200'000;
constexpr int Runs = 5;
const QSize Area(485, 165);

// The pixel of reading i on a chart of 500 readings, as the window plots it: a wrap clears the
// chart at every 500th.
QPoint pixelOf(int i)
{
    const int byte = (37 * i + 11) % 256;
    const int y = 50 - int(std::nearbyint(byte / 2.0));
    return {int(std::floor(i % 500 * 484 / 500.0 + 0.5)), int(std::floor(y * 164 / 50.0 + 0.5))};
}

QImage chartImage(qreal ratio)
{
    QImage image(Area * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    return image;
}

QPen chartPen(qreal ratio)
{
    QPen pen(Qt::blue, std::max(1.0, std::floor(ratio)));
    pen.setCosmetic(true);
    return pen;
}

double nsPerReading(const std::function<void()> &draw)
{
    std::vector<double> runs;
    for (int run = 0; run < Runs; ++run) {
        const qint64 start = probes::nowNs();
        draw();
        runs.push_back(double(probes::nowNs() - start) / Readings);
    }
    return probes::median(runs);
}

// A painter begun and ended for every reading's line.
double painterPerLine(qreal ratio)
{
    QImage image = chartImage(ratio);
    return nsPerReading([&] {
        for (int i = 1; i <= Readings; ++i) {
            if (i % 500 == 0)
                image.fill(Qt::white);
            QPainter painter(&image);
            painter.setPen(chartPen(ratio));
            painter.drawLine(pixelOf(i - 1), pixelOf(i));
        }
    });
}

// One painter held open, a drawLine for every reading.
double painterHeldOpen(qreal ratio)
{
    QImage image = chartImage(ratio);
    return nsPerReading([&] {
        QPainter painter(&image);
        painter.setPen(chartPen(ratio));
        for (int i = 1; i <= Readings; ++i) {
            if (i % 500 == 0)
                image.fill(Qt::white);
            painter.drawLine(pixelOf(i - 1), pixelOf(i));
        }
    });
}

// Each reading's line noted, and a frame's lines drawn at once, or all since the last wrap.
double notedPerFrame(qreal ratio, int perFrame, bool polyline)
{
    QImage image = chartImage(ratio);
    std::vector<QLine> lines;
    std::vector<QPoint> points;
    bool clear = false;
    const auto paint = [&] {
        if (clear)
            image.fill(Qt::white);
        clear = false;
        QPainter painter(&image);
        painter.setPen(chartPen(ratio));
        if (polyline)
            painter.drawPolyline(points.data(), int(points.size()));
        else
            painter.drawLines(lines.data(), int(lines.size()));
        lines.clear();
        points.clear();
    };
    return nsPerReading([&] {
        for (int i = 1; i <= Readings; ++i) {
            if (i % 500 == 0) {
                lines.clear();
                points.clear();
                clear = true;
            }
            if (polyline && points.empty())
                points.push_back(pixelOf(i - 1));
            lines.emplace_back(pixelOf(i - 1), pixelOf(i));
            points.push_back(pixelOf(i));
            if (i % perFrame == 0)
                paint();
        }
    });
}

// The window's own chart surface, plotted as the window plots, its image read once a frame.
double surfacePerFrame(int perFrame)
{
    const auto surface = windowChart();
    qint64 sampleIndex = 0;
    return nsPerReading([&] {
        for (int i = 1; i <= Readings; ++i) {
            ++sampleIndex;
            PlotSample(*surface, chartValue((37 * i + 11) % 256 / 2.0), sampleIndex);
            if (i % perFrame == 0)
                surface->image();
        }
    });
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    std::printf("ns a reading, median of %d runs of %d readings\n\n", Runs, Readings);
    std::printf("| how | ratio 1 | ratio 1.5 | ratio 2 |\n|---|---:|---:|---:|\n");
    const auto row = [](const char *how, const std::function<double(qreal)> &measure) {
        std::printf("| %s |", how);
        for (const qreal ratio : {1.0, 1.5, 2.0}) {
            std::printf(" %.0f |", measure(ratio));
            std::fflush(stdout);
        }
        std::printf("\n");
    };
    row("a painter begun and ended for each line", painterPerLine);
    row("one painter held open, drawLine per reading", painterHeldOpen);
    row("noted, one drawLines a frame of 64 readings",
        [](qreal ratio) { return notedPerFrame(ratio, 64, false); });
    row("noted, one drawPolyline a frame of 64 readings",
        [](qreal ratio) { return notedPerFrame(ratio, 64, true); });
    row("noted, one drawLines a frame of 16,667 readings (at most 500 since the wrap)",
        [](qreal ratio) { return notedPerFrame(ratio, 16'667, false); });

    const qreal ratio = windowChart()->image().devicePixelRatio();
    std::printf("\nChartSurface at ratio %g: %.0f ns a reading at 64 readings a frame, %.0f at "
                "16,667\n",
                ratio, surfacePerFrame(64), surfacePerFrame(16'667));

    // Never shown, never painted: what a hidden or minimised window's chart holds.
    const auto hidden = windowChart();
    qint64 sampleIndex = 0;
    qint64 tenth = 0;
    for (int i = 1; i <= 10'000'000; ++i) {
        ++sampleIndex;
        PlotSample(*hidden, chartValue((37 * i + 11) % 256 / 2.0), sampleIndex);
        if (i == 1'000'000)
            tenth = probes::residentKiB();
    }
    std::printf("hidden surface, 10,000,000 readings: resident memory grew %lld KiB after the "
                "first tenth\n",
                static_cast<long long>(probes::residentKiB() - tenth));
    return 0;
}
