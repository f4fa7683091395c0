#include "strip_chart/chartsurface.h"
#include "strip_chart/recordindicator.h"
#include "strip_chart/rgb.h"
#include "support/windowchart.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

struct Step
{
    enum Kind { PSet, Line, Cls } kind;
    float x = 0;
    float y = 0;
};
using Steps = QList<Step>;
using Pixels = QList<QPoint>;

constexpr QRgb Blue = 0xff0000ff;
// The drawing area of the window's chart, inside its 2-pixel border.
const QSize Area(485, 165);

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
        }
    }
}

QRgb background(const ChartSurface &surface)
{
    return surface.palette().color(QPalette::HighlightedText).rgb();
}

Pixels row(int y, int fromX, int toX)
{
    Pixels pixels;
    for (int x = fromX; x <= toX; ++x)
        pixels.append({x, y});
    return pixels;
}

/// Where \a image, in the part showing the area \a area (widget pixels), differs from the pen
/// colour at \a pen (area pixels) and the background everywhere else; empty when it does not.
/// Works on device pixels, so at any ratio a pixel must be covered whole and crisply.
QString differences(const QImage &image, QRect area, const Pixels &pen, QRgb penColour,
                    QRgb backgroundColour)
{
    const qreal ratio = image.devicePixelRatio();
    const QRect device(QPoint(area.topLeft()) * ratio, area.size() * ratio);
    QStringList found;
    for (int dy = device.top(); dy <= device.bottom() && found.size() < 8; ++dy) {
        for (int dx = device.left(); dx <= device.right() && found.size() < 8; ++dx) {
            const QPoint pixel(int(std::floor(dx / ratio)) - area.left(),
                               int(std::floor(dy / ratio)) - area.top());
            const QRgb wanted = pen.contains(pixel) ? penColour : backgroundColour;
            const QRgb actual = image.pixel(dx, dy);
            if (actual != wanted)
                found.append(QStringLiteral("(%1,%2) is %3 not %4")
                                 .arg(pixel.x())
                                 .arg(pixel.y())
                                 .arg(actual, 8, 16)
                                 .arg(wanted, 8, 16));
        }
    }
    return found.join(QStringLiteral("; "));
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
    void cleared_data();
    void cleared();
    void penColour_data();
    void penColour();
    void indicator_data();
    void indicator();
    void clsRestoresTheBackground();
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
    QTest::addColumn<Pixels>("expected");
    QTest::addColumn<QPointF>("position");

    QTest::newRow("horizontal line at 25 degrees")
        << Steps {{Step::PSet, 1, 25}, {Step::Line, 10, 25}} << row(82, 1, 10) << QPointF(10, 25);
    Pixels column;
    for (int y = 0; y <= 164; ++y)
        column.append({1, y});
    QTest::newRow("vertical line the full height")
        << Steps {{Step::PSet, 1, 0}, {Step::Line, 1, 50}} << column << QPointF(1, 50);
    QTest::newRow("line drawn right to left along the bottom")
        << Steps {{Step::PSet, 10, 50}, {Step::Line, 0, 50}} << row(164, 0, 10) << QPointF(0, 50);
    QTest::newRow("line from a new chart's position along the top")
        << Steps {{Step::Line, 500, 0}} << row(0, 0, 484) << QPointF(500, 0);
    QTest::newRow("one point") << Steps {{Step::PSet, 250, 25}} << Pixels {{242, 82}}
                               << QPointF(250, 25);
    QTest::newRow("point in the last reading's column")
        << Steps {{Step::PSet, 499, 25}} << Pixels {{483, 82}} << QPointF(499, 25);
    QTest::newRow("points at the corners") << Steps {{Step::PSet, 0, 0}, {Step::PSet, 500, 50}}
                                           << Pixels {{0, 0}, {484, 164}} << QPointF(500, 50);
    QTest::newRow("point right of the chart")
        << Steps {{Step::PSet, 600, 25}} << Pixels {} << QPointF(600, 25);
    QTest::newRow("point above the chart")
        << Steps {{Step::PSet, 100, -10}} << Pixels {} << QPointF(100, -10);
    QTest::newRow("point one pixel below and left")
        << Steps {{Step::PSet, -1, 51}} << Pixels {} << QPointF(-1, 51);
    QTest::newRow("line wholly above the chart")
        << Steps {{Step::PSet, 100, -10}, {Step::Line, 200, -20}} << Pixels {} << QPointF(200, -20);
    QTest::newRow("line one pixel right of the chart")
        << Steps {{Step::PSet, 501, 0}, {Step::Line, 501, 50}} << Pixels {} << QPointF(501, 50);
}

void TestChartSurface::drawing()
{
    QFETCH(Steps, steps);
    QFETCH(Pixels, expected);
    QFETCH(QPointF, position);

    const auto surface = chart(true);
    QVERIFY(surface);
    run(*surface, steps);

    QCOMPARE(differences(surface->image(), QRect(QPoint(0, 0), Area), expected, Blue,
                         background(*surface)),
             QString());
    QCOMPARE(surface->CurrentX(), position.x());
    QCOMPARE(surface->CurrentY(), position.y());
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
}

void TestChartSurface::clipping()
{
    QFETCH(Steps, steps);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(Qt::Edges, crossed);

    const auto surface = chart(true);
    QVERIFY(surface);
    if (surface->image().devicePixelRatio() != 1)
        QSKIP("Pixel runs are checked at ratio 1; the ratio has its own cases.");
    run(*surface, steps.mid(0, steps.size() - 1));
    const QImage before = surface->image().copy();
    run(*surface, steps.mid(steps.size() - 1));
    const Pixels drawn = newPixels(before, surface->image(), Blue);
    QVERIFY(!drawn.isEmpty());

    // One pixel per step along the line's longer direction, each within a pixel of the line.
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

    QCOMPARE(surface->CurrentX(), steps.last().x);
    QCOMPARE(surface->CurrentY(), steps.last().y);
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
    surface->setForeColor(foreColor);
    surface->PSet(250, 25);
    surface->Line(260, 25);
    QCOMPARE(surface->ForeColor(), foreColor);
    QCOMPARE(differences(surface->image(), QRect(QPoint(0, 0), Area), row(82, 242, 252), expected,
                         background(*surface)),
             QString());
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

void TestChartSurface::clsRestoresTheBackground()
{
    const auto surface = chart(true);
    QVERIFY(surface);
    run(*surface, {{Step::PSet, 0, 0}, {Step::Line, 500, 50}, {Step::PSet, 250, 25}});
    surface->Cls();

    QCOMPARE(
        differences(surface->image(), QRect(QPoint(0, 0), Area), {}, Blue, background(*surface)),
        QString());
    QCOMPARE(surface->CurrentX(), 0.0F);
    QCOMPARE(surface->CurrentY(), 0.0F);
    QVERIFY(surface->isCleared());
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
        QTest::qWait(30);
    }
    const QImage shown = surface->screen()
                             ->grabWindow(surface->winId())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    const QRect area(surface->contentsRect().topLeft(), surface->image().size());
    QCOMPARE(shown.copy(area), surface->image().convertToFormat(QImage::Format_RGB32));
}

void TestChartSurface::survivesHideAndShow()
{
    const auto surface = chart(true);
    QVERIFY(surface);
    run(*surface, {{Step::PSet, 1, 25}, {Step::Line, 10, 25}, {Step::PSet, 0, 0}});
    surface->hide();
    surface->show();
    QVERIFY(QTest::qWaitForWindowExposed(surface.get()));
    surface->repaint();

    Pixels expected = row(82, 1, 10);
    expected.append({0, 0});
    QCOMPARE(differences(surface->grab().toImage(), surface->contentsRect(), expected, Blue,
                         background(*surface)),
             QString());
}

void TestChartSurface::drawsAtItsSizeBeforeFirstShown()
{
    // Resized but never shown, the surface has had no resize event yet.
    const auto surface = chart(false);
    surface->PSet(480, 25);
    surface->Line(600, 25);

    QCOMPARE(surface->image().size(), Area * surface->image().devicePixelRatio());
    QCOMPARE(differences(surface->image(), QRect(QPoint(0, 0), Area), row(82, 465, 484), Blue,
                         background(*surface)),
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
    // Run once as is and once with QT_SCALE_FACTOR=2, the ratio of a high-density screen.
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
