#include "strip_chart/chartsurface.h"
#include "strip_chart/recordindicator.h"
#include "strip_chart/rgb.h"
#include "support/windowchart.h"

#include <QPainter>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

struct Step
{
    // Painted: the surface's image is read, which brings it up to date; nothing is drawn.
    enum Kind { PSet, Line, Cls, Painted } kind;
    float x = 0;
    float y = 0;
};
using Steps = QList<Step>;
using Pixels = QList<QPoint>;

constexpr QRgb Blue = 0xff0000ff;
// The drawing area of the window's chart, inside its 2-pixel border, and its user scale.
const QSize Area(485, 165);
constexpr double ScaleWidth = 500;
constexpr double ScaleHeight = 50;

// A chart as the window sets it up when it loads.
std::unique_ptr<ChartSurface> chart(bool shown)
{
    auto surface = windowChart();
    if (shown) {
        surface->show();
        if (!QTest::qWaitForWindowExposed(surface.get()))
            return nullptr;
    }
    return surface;
}

void run(ChartSurface &surface, const Steps &steps)
{
    for (const Step &step : steps) {
        switch (step.kind) {
        case Step::PSet:
            surface.PSet(step.x, step.y);
            break;
        case Step::Line:
            surface.Line(step.x, step.y);
            break;
        case Step::Cls:
            surface.Cls();
            break;
        case Step::Painted:
            surface.image();
            break;
        }
    }
}

QRgb background(const ChartSurface &surface)
{
    return surface.palette().color(QPalette::HighlightedText).rgb();
}

/// Where the point (\a x, \a y) of the user scale lies on an image of the area at \a ratio:
/// the scale's 0 on the first pixel and its full width or height on the last, each point on the
/// pixel nearest to it. At ratio 1 an integer point names its pixel; scaled up, a pen is centred
/// on its point, which must then be the pixel's centre.
QPointF pointOnImage(float x, float y, qreal ratio)
{
    const QPointF pixel(std::floor(x * (Area.width() - 1) / ScaleWidth + 0.5),
                        std::floor(y * (Area.height() - 1) / ScaleHeight + 0.5));
    return ratio > 1 ? pixel + QPointF(0.5, 0.5) : pixel;
}

/// The chart after \a steps as QPainter draws them one at a time, a painter for each: aliased,
/// \a colour, as many whole device pixels wide as fit in a pixel of the area. On a new chart,
/// or on \a image, a chart as drawn so far.
QImage reference(const Steps &steps, qreal ratio, QRgb backgroundColour, QRgb colour = Blue,
                 QImage image = {})
{
    if (image.isNull()) {
        image = QImage(Area * ratio, QImage::Format_RGB32);
        image.setDevicePixelRatio(ratio);
        image.fill(backgroundColour);
    }
    QPen pen(QColor::fromRgb(colour), std::max(1.0, std::floor(ratio)));
    pen.setCosmetic(true);
    QPointF position = pointOnImage(0, 0, ratio);
    for (const Step &step : steps) {
        if (step.kind == Step::Painted)
            continue;
        if (step.kind == Step::Cls) {
            image.fill(backgroundColour);
            position = pointOnImage(0, 0, ratio);
            continue;
        }
        const QPointF to = pointOnImage(step.x, step.y, ratio);
        QPainter painter(&image);
        painter.setPen(pen);
        if (step.kind == Step::PSet)
            painter.drawPoint(to);
        else
            painter.drawLine(position, to);
        position = to;
    }
    return image;
}

/// The device pixels where \a actual differs from \a expected, the first few; empty if none.
QString differences(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("%1x%2 is not %3x%4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    QStringList found;
    for (int y = 0; y < actual.height() && found.size() < 8; ++y)
        for (int x = 0; x < actual.width() && found.size() < 8; ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                found.append(QStringLiteral("(%1,%2) is %3 not %4")
                                 .arg(x)
                                 .arg(y)
                                 .arg(actual.pixel(x, y), 8, 16)
                                 .arg(expected.pixel(x, y), 8, 16));
    return found.join(QStringLiteral("; "));
}

/// The part of \a window (a grab of the surface) that shows the drawing area.
QImage areaOf(const QImage &window, const ChartSurface &surface)
{
    const qreal ratio = window.devicePixelRatio();
    QImage area = window.copy(QRect(surface.contentsRect().topLeft() * ratio, Area * ratio))
                      .convertToFormat(QImage::Format_RGB32);
    area.setDevicePixelRatio(ratio);
    return area;
}

/// Pixels of \a image (at ratio 1) that are \a colour now but were not in \a before.
Pixels newPixels(const QImage &before, const QImage &image, QRgb colour)
{
    Pixels pixels;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour && before.pixel(x, y) != colour)
                pixels.append({x, y});
    return pixels;
}

/// The runs of \a colour down column \a at of \a image (or along row \a at, \a down false):
/// where each begins and how long it is, in device pixels.
QList<QPair<int, int>> runs(const QImage &image, bool down, int at, QRgb colour)
{
    QList<QPair<int, int>> found;
    const int length = down ? image.height() : image.width();
    for (int i = 0; i < length; ++i) {
        if ((down ? image.pixel(at, i) : image.pixel(i, at)) != colour)
            continue;
        if (!found.isEmpty() && found.last().first + found.last().second == i)
            ++found.last().second;
        else
            found.append({i, 1});
    }
    return found;
}

} // namespace

Q_DECLARE_METATYPE(Steps)

class TestChartSurface : public QObject
{
    Q_OBJECT

private slots:
    void drawing_data();
    void drawing();
    void clipping_data();
    void clipping();
    void traceIsEven_data();
    void traceIsEven();
    void cleared_data();
    void cleared();
    void penColour_data();
    void penColour();
    void indicator_data();
    void indicator();
    void screenFollowsTheImage_data();
    void screenFollowsTheImage();
    void survivesHideAndShow();
    void drawsAtItsSizeBeforeFirstShown();
    void borderIsTwoPixels();
    void imageIsAtTheScreenRatio();
};

void TestChartSurface::drawing_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QPointF>("position");

    QTest::newRow("horizontal line at 25 degrees")
        << Steps {{Step::PSet, 1, 25}, {Step::Line, 10, 25}} << QPointF(10, 25);
    QTest::newRow("vertical line the full height")
        << Steps {{Step::PSet, 1, 0}, {Step::Line, 1, 50}} << QPointF(1, 50);
    QTest::newRow("line drawn right to left along the bottom")
        << Steps {{Step::PSet, 10, 50}, {Step::Line, 0, 50}} << QPointF(0, 50);
    QTest::newRow("line from a new chart's position along the top")
        << Steps {{Step::Line, 500, 0}} << QPointF(500, 0);
    QTest::newRow("one point") << Steps {{Step::PSet, 250, 25}} << QPointF(250, 25);
    QTest::newRow("point in the last reading's column")
        << Steps {{Step::PSet, 499, 25}} << QPointF(499, 25);
    QTest::newRow("points at the corners")
        << Steps {{Step::PSet, 0, 0}, {Step::PSet, 500, 50}} << QPointF(500, 50);
    QTest::newRow("point right of the chart") << Steps {{Step::PSet, 600, 25}} << QPointF(600, 25);
    QTest::newRow("point above the chart") << Steps {{Step::PSet, 100, -10}} << QPointF(100, -10);
    QTest::newRow("point one pixel below and left")
        << Steps {{Step::PSet, -1, 51}} << QPointF(-1, 51);
    QTest::newRow("line wholly above the chart")
        << Steps {{Step::PSet, 100, -10}, {Step::Line, 200, -20}} << QPointF(200, -20);
    QTest::newRow("line one pixel right of the chart")
        << Steps {{Step::PSet, 501, 0}, {Step::Line, 501, 50}} << QPointF(501, 50);
    // Cls clears what is painted and what is still to be painted, and leaves the position at
    // the top-left corner, so a line after it starts there.
    QTest::newRow("Cls and a line from the corner")
        << Steps {{Step::PSet, 0, 0},    {Step::Line, 500, 50}, {Step::Painted},
                  {Step::PSet, 250, 25}, {Step::Cls},           {Step::Line, 20, 40}}
        << QPointF(20, 40);
    QTest::newRow("Cls alone") << Steps {{Step::PSet, 0, 0},
                                         {Step::Line, 500, 50},
                                         {Step::Painted},
                                         {Step::Line, 250, 25},
                                         {Step::Cls}}
                               << QPointF(0, 0);
    // A reading a unit to the right of the last, as the window charts them: after a wrap, a
    // point and a line of no length at the left edge.
    Steps trace;
    for (int x = 0; x <= 499; ++x) {
        const int degrees = (x * 37 + 11) % 256 / 2; // up to 127, far above the chart
        trace.append({Step::Line, float(x), float(50 - degrees)});
    }
    trace += Steps {{Step::Cls}, {Step::PSet, 0, 40}, {Step::Line, 0, 40}, {Step::Line, 1, 38}};
    QTest::newRow("a full chart, a wrap and the next trace") << trace << QPointF(1, 38);
}

void TestChartSurface::drawing()
{
    QFETCH(Steps, steps);
    QFETCH(QPointF, position);

    const auto surface = chart(true);
    QVERIFY(surface);
    run(*surface, steps);

    const qreal ratio = surface->image().devicePixelRatio();
    QCOMPARE(differences(surface->image(), reference(steps, ratio, background(*surface))),
             QString());
    QCOMPARE(surface->CurrentX(), position.x());
    QCOMPARE(surface->CurrentY(), position.y());
    QCOMPARE(surface->isCleared(), steps.last().kind == Step::Cls);
}

void TestChartSurface::clipping_data()
{
    QTest::addColumn<Steps>("steps");
    // Where the last line runs, in pixels of the area, each end rounded to its pixel.
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<Qt::Edges>("crossed");

    const Step atTwentyFive {Step::PSet, 100, 25};
    QTest::newRow("up through the top")
        << Steps {atTwentyFive, {Step::Line, 110, -10}} << QPoint(97, 82) << QPoint(106, -33)
        << Qt::Edges(Qt::TopEdge);
    // A byte of 255 charts at 128 degrees, 78 units above the top edge.
    QTest::newRow("up to a byte of 255")
        << Steps {atTwentyFive, {Step::Line, 110, -78}} << QPoint(97, 82) << QPoint(106, -256)
        << Qt::Edges(Qt::TopEdge);
    QTest::newRow("down through the bottom")
        << Steps {atTwentyFive, {Step::Line, 110, 60}} << QPoint(97, 82) << QPoint(106, 197)
        << Qt::Edges(Qt::BottomEdge);
    QTest::newRow("out through the right")
        << Steps {{Step::PSet, 495, 25}, {Step::Line, 510, 0}} << QPoint(479, 82) << QPoint(494, 0)
        << Qt::Edges(Qt::RightEdge);
    QTest::newRow("out through the left")
        << Steps {{Step::PSet, 10, 25}, {Step::Line, -10, 0}} << QPoint(10, 82) << QPoint(-10, 0)
        << Qt::Edges(Qt::LeftEdge);
    QTest::newRow("across the whole height")
        << Steps {{Step::PSet, 250, -10}, {Step::Line, 260, 60}} << QPoint(242, -33)
        << QPoint(252, 197) << (Qt::TopEdge | Qt::BottomEdge);
    QTest::newRow("back in from a point above")
        << Steps {{Step::PSet, 110, -10}, {Step::Line, 120, 25}} << QPoint(106, -33)
        << QPoint(116, 82) << Qt::Edges(Qt::TopEdge);
    // The line before left the position above the chart; the next goes on from there, not
    // from where the trace was last visible.
    QTest::newRow("back in after a line out")
        << Steps {atTwentyFive, {Step::Line, 110, -10}, {Step::Line, 120, 25}} << QPoint(106, -33)
        << QPoint(116, 82) << Qt::Edges(Qt::TopEdge);
    QTest::newRow("back in from a byte of 255")
        << Steps {{Step::PSet, 110, -78}, {Step::Line, 111, 25}} << QPoint(106, -256)
        << QPoint(107, 82) << Qt::Edges(Qt::TopEdge);
}

void TestChartSurface::clipping()
{
    QFETCH(Steps, steps);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(Qt::Edges, crossed);

    const auto surface = chart(true);
    QVERIFY(surface);
    run(*surface, steps.mid(0, steps.size() - 1));
    const QImage before = surface->image().copy();
    run(*surface, steps.mid(steps.size() - 1));
    const qreal ratio = surface->image().devicePixelRatio();
    QCOMPARE(differences(surface->image(), reference(steps, ratio, background(*surface))),
             QString());
    QCOMPARE(surface->CurrentX(), steps.last().x);
    QCOMPARE(surface->CurrentY(), steps.last().y);
    if (ratio != 1)
        return; // the line's pixels are checked at ratio 1

    // One pixel per step along the line's longer direction, each within a pixel of the line.
    const Pixels drawn = newPixels(before, surface->image(), Blue);
    QVERIFY(!drawn.isEmpty());
    const bool steep = std::abs(to.y() - from.y()) > std::abs(to.x() - from.x());
    const auto along = [steep](QPoint p) { return steep ? p.y() : p.x(); };
    const auto across = [steep](QPoint p) { return steep ? p.x() : p.y(); };
    int first = along(drawn.first());
    int last = first;
    for (const QPoint &pixel : drawn) {
        const double t = double(along(pixel) - along(from)) / (along(to) - along(from));
        const double onLine = across(from) + t * (across(to) - across(from));
        QVERIFY2(
            std::abs(across(pixel) - onLine) <= 1.0,
            qPrintable(QStringLiteral("(%1,%2) is off the line").arg(pixel.x()).arg(pixel.y())));
        first = std::min(first, along(pixel));
        last = std::max(last, along(pixel));
    }
    for (int i = first; i <= last; ++i)
        QVERIFY2(std::any_of(drawn.begin(), drawn.end(),
                             [&](QPoint pixel) { return along(pixel) == i; }),
                 qPrintable(QStringLiteral("gap at %1").arg(i)));

    const QRect area(QPoint(0, 0), Area);
    for (const QPoint end : {from, to})
        if (area.contains(end))
            QCOMPARE(QColor(surface->image().pixel(end)), QColor(Blue));
    const auto touches
        = [&](auto onEdge) { return std::any_of(drawn.begin(), drawn.end(), onEdge); };
    QCOMPARE(touches([](QPoint p) { return p.y() == 0; }), crossed.testFlag(Qt::TopEdge));
    QCOMPARE(touches([](QPoint p) { return p.y() == 164; }), crossed.testFlag(Qt::BottomEdge));
    QCOMPARE(touches([](QPoint p) { return p.x() == 0; }), crossed.testFlag(Qt::LeftEdge));
    QCOMPARE(touches([](QPoint p) { return p.x() == 484; }), crossed.testFlag(Qt::RightEdge));
}

void TestChartSurface::traceIsEven_data()
{
    QTest::addColumn<bool>("across");
    QTest::newRow("across the chart at every whole degree") << true;
    QTest::newRow("up the chart every ten readings") << false;
}

void TestChartSurface::traceIsEven()
{
    QFETCH(bool, across);

    // Lines at 51 places across (or up) the chart, each one pixel of the area wide and all of
    // them as thick as each other, in device pixels, whatever the ratio: at 1.25 or 1.5, a pixel
    // of the area is one device pixel in some places and two in others.
    const auto surface = chart(true);
    QVERIFY(surface);
    for (int i = 0; i <= 50; ++i) {
        if (across) {
            surface->PSet(0, float(i));
            surface->Line(500, float(i));
        } else {
            surface->PSet(float(10 * i), 0);
            surface->Line(float(10 * i), 50);
        }
    }
    const QImage &image = surface->image();
    const qreal ratio = image.devicePixelRatio();
    const int middle = int((across ? image.width() : image.height()) / 2);
    const auto found = runs(image, across, middle, Blue);
    QCOMPARE(found.size(), 51);
    const int thickness = int(std::max(1.0, std::floor(ratio)));
    for (const auto &run : found)
        QVERIFY2(run.second == thickness,
                 qPrintable(QStringLiteral("%1 device pixels at %2, not %3")
                                .arg(run.second)
                                .arg(run.first)
                                .arg(thickness)));
    // From edge to edge.
    const int length = across ? image.height() : image.width();
    QVERIFY(found.first().first <= ratio);
    QVERIFY(found.last().first + found.last().second >= length - ratio);
}

void TestChartSurface::cleared_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<bool>("cleared");

    QTest::newRow("new chart") << Steps {} << true;
    QTest::newRow("after a point") << Steps {{Step::PSet, 1, 25}} << false;
    QTest::newRow("after a point off the chart") << Steps {{Step::PSet, 600, 25}} << false;
    QTest::newRow("after a line") << Steps {{Step::Line, 1, 25}} << false;
    QTest::newRow("after Cls") << Steps {{Step::Line, 1, 25}, {Step::Cls}} << true;
    QTest::newRow("after Cls and a line")
        << Steps {{Step::Line, 1, 25}, {Step::Cls}, {Step::Line, 2, 25}} << false;
}

void TestChartSurface::cleared()
{
    QFETCH(Steps, steps);
    QFETCH(bool, cleared);

    const auto surface = chart(false);
    run(*surface, steps);
    QCOMPARE(surface->isCleared(), cleared);
}

void TestChartSurface::penColour_data()
{
    QTest::addColumn<long>("foreColor");
    QTest::addColumn<QRgb>("expected");

    QTest::newRow("red") << rgbColor(255, 0, 0) << qRgb(255, 0, 0);
    QTest::newRow("green") << rgbColor(0, 255, 0) << qRgb(0, 255, 0);
    QTest::newRow("three different bytes") << rgbColor(0x12, 0x34, 0x56) << qRgb(0x12, 0x34, 0x56);
}

void TestChartSurface::penColour()
{
    QFETCH(long, foreColor);
    QFETCH(QRgb, expected);

    const auto surface = chart(true);
    QVERIFY(surface);
    const Steps blue {{Step::PSet, 100, 10}, {Step::Line, 110, 10}};
    const Steps coloured {{Step::PSet, 250, 25}, {Step::Line, 260, 25}};
    // Drawn before the colour changes, the first line stays blue.
    run(*surface, blue);
    surface->setForeColor(foreColor);
    run(*surface, coloured);
    QCOMPARE(surface->ForeColor(), foreColor);

    const qreal ratio = surface->image().devicePixelRatio();
    const QImage expectedImage = reference(coloured, ratio, background(*surface), expected,
                                           reference(blue, ratio, background(*surface)));
    QCOMPARE(differences(surface->image(), expectedImage), QString());
}

void TestChartSurface::indicator_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<long>("fillColor");
    QTest::addColumn<bool>("filled");

    QTest::newRow("solid white") << int(RecordIndicator::Solid) << rgbColor(255, 255, 255) << true;
    QTest::newRow("solid red") << int(RecordIndicator::Solid) << rgbColor(255, 0, 0) << true;
    QTest::newRow("solid, three different bytes")
        << int(RecordIndicator::Solid) << rgbColor(0x12, 0x34, 0x56) << true;
    QTest::newRow("transparent, red fill colour")
        << int(RecordIndicator::Transparent) << rgbColor(255, 0, 0) << false;
}

void TestChartSurface::indicator()
{
    QFETCH(int, style);
    QFETCH(long, fillColor);
    QFETCH(bool, filled);

    const QColor parentBackground(0, 128, 0);
    QWidget parent;
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, parentBackground);
    parent.setPalette(palette);
    parent.setAutoFillBackground(true);
    parent.resize(40, 40);
    RecordIndicator indicator(&parent);
    indicator.setGeometry(10, 10, 17, 17); // as on the window
    indicator.setFillColor(fillColor);
    indicator.setFillStyle(style);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));

    const QImage image = parent.grab().toImage();
    const QPoint centre = indicator.geometry().center() * image.devicePixelRatio();
    const QRgb expected = filled ? colorOf(fillColor).rgb() : parentBackground.rgb();
    QCOMPARE(QColor(image.pixel(centre)), QColor(expected));
}

void TestChartSurface::screenFollowsTheImage_data()
{
    QTest::addColumn<QList<Steps>>("batches");

    QTest::newRow("a trace drawn between repaints")
        << QList<Steps> {{{Step::PSet, 1, 25}, {Step::Line, 10, 25}},
                         {{Step::Line, 11, 0}, {Step::Line, 12, 50}},
                         {{Step::Line, 13, 30}}};
    QTest::newRow("lines into and out of the chart")
        << QList<Steps> {{{Step::PSet, 480, 25}, {Step::Line, 600, -40}},
                         {{Step::PSet, 100, -10}, {Step::Line, 120, 25}}};
    QTest::newRow("cleared between repaints") << QList<Steps> {
        {{Step::PSet, 0, 0}, {Step::Line, 500, 50}}, {{Step::Cls}, {Step::PSet, 250, 25}}};
}

void TestChartSurface::screenFollowsTheImage()
{
    QFETCH(QList<Steps>, batches);

    const auto surface = chart(true);
    QVERIFY(surface);
    if (surface->image().devicePixelRatio() != 1)
        QSKIP("The offscreen screen grabs a window at its size in device-independent pixels.");
    // Each batch of drawing is repainted before the next: what the window shows must be the
    // image, whatever part of it each repaint covered.
    for (const Steps &batch : batches) {
        run(*surface, batch);
        surface->showDrawn();
        QTest::qWait(30);
    }
    const QImage shown = surface->screen()
                             ->grabWindow(surface->winId())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    Steps steps;
    for (const Steps &batch : batches)
        steps += batch;
    QCOMPARE(differences(areaOf(shown, *surface), reference(steps, 1, background(*surface))),
             QString());
}

void TestChartSurface::survivesHideAndShow()
{
    const auto surface = chart(true);
    QVERIFY(surface);
    Steps steps {{Step::PSet, 1, 25}, {Step::Line, 10, 25}, {Step::PSet, 0, 0}};
    run(*surface, steps);
    surface->hide();
    // A hidden window's chart goes on: more lines than the surface notes before it paints them,
    // six traces one above the other.
    Steps hidden;
    for (int i = 1; i <= 3 * int(ChartSurface::MaxNoted); ++i) {
        const int trace = i / 500;
        hidden.append({Step::Line, float(i % 500), float(trace * 8 + i % 3)});
    }
    run(*surface, hidden);
    surface->show();
    QVERIFY(QTest::qWaitForWindowExposed(surface.get()));
    surface->repaint();

    const QImage shown = areaOf(surface->grab().toImage(), *surface);
    QCOMPARE(differences(shown,
                         reference(steps + hidden, shown.devicePixelRatio(), background(*surface))),
             QString());
}

void TestChartSurface::drawsAtItsSizeBeforeFirstShown()
{
    // Resized but never shown, the surface has had no resize event yet.
    const auto surface = chart(false);
    const Steps steps {{Step::PSet, 480, 25}, {Step::Line, 600, 25}};
    run(*surface, steps);

    const qreal ratio = surface->image().devicePixelRatio();
    QCOMPARE(surface->image().size(), Area * ratio);
    QCOMPARE(differences(surface->image(), reference(steps, ratio, background(*surface))),
             QString());
}

void TestChartSurface::borderIsTwoPixels()
{
    const auto surface = chart(true);
    QVERIFY(surface);
    QCOMPARE(surface->contentsRect(), QRect(QPoint(2, 2), Area));
}

void TestChartSurface::imageIsAtTheScreenRatio()
{
    // Run as is and with QT_SCALE_FACTOR at 1.25, 1.5 and 2, the ratios of high-density screens.
    const qreal ratio = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
        ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
        : 1.0;
    const auto surface = chart(true);
    QVERIFY(surface);
    surface->PSet(250, 25);
    QCOMPARE(surface->image().devicePixelRatio(), ratio);
    QCOMPARE(surface->image().size(), Area * ratio);
}

QTEST_MAIN(TestChartSurface)
#include "tst_chartsurface.moc"
