#include "strip_chart/chartmapping.h"
#include "strip_chart/pixelline.h"

#include <QImage>
#include <QPainter>
#include <QTest>

namespace {

using Lines = QList<QLineF>;

constexpr QRgb Blue = 0xff0000ff;
constexpr QRgb White = 0xffffffff;
// The window's chart area.
const QSize Area(485, 165);

class Canvas
{
public:
    Canvas()
        : m_painted(Area, QImage::Format_RGB32)
        , m_drawn(Area, QImage::Format_RGB32)
    {
    }

    /// Where drawPixelLine and QPainter with the chart's pen differ for \a line; empty if not.
    QString difference(const QLineF &line)
    {
        m_painted.fill(White);
        m_drawn.fill(White);
        {
            QPainter painter(&m_painted);
            painter.setPen(QPen(QColor::fromRgb(Blue), 1));
            painter.drawLine(line);
        }
        drawPixelLine(m_drawn, line.p1(), line.p2(), Blue);
        if (m_painted == m_drawn)
            return {};
        for (int y = 0; y < Area.height(); ++y)
            for (int x = 0; x < Area.width(); ++x)
                if (m_painted.pixel(x, y) != m_drawn.pixel(x, y))
                    return QStringLiteral("(%1,%2)-(%3,%4): pixel (%5,%6) is %7 painted, %8 drawn")
                        .arg(line.x1())
                        .arg(line.y1())
                        .arg(line.x2())
                        .arg(line.y2())
                        .arg(x)
                        .arg(y)
                        .arg(m_painted.pixel(x, y), 8, 16)
                        .arg(m_drawn.pixel(x, y), 8, 16);
        return {};
    }

private:
    QImage m_painted;
    QImage m_drawn;
};

QPointF chartPoint(int x, int degrees)
{
    return chartPixel(x, 50 - degrees, QSizeF(500, 50), Area);
}

} // namespace

class TestPixelLine : public QObject
{
    Q_OBJECT

private slots:
    void sameAsThePainter_data();
    void sameAsThePainter();
};

void TestPixelLine::sameAsThePainter_data()
{
    QTest::addColumn<Lines>("lines");

    // From one reading to the next: the next column or the same, any height a byte can give
    // (0 to 127.5 degrees, rounded: 0 to 128), at the left edge, the middle and the right edge.
    Lines steps;
    for (const int x : {0, 250, 499})
        for (int from = 0; from <= 128; ++from)
            for (int to = 0; to <= 128; ++to)
                steps << QLineF(chartPoint(x, from), chartPoint(x + 1, to))
                      << QLineF(chartPoint(x, from), chartPoint(x, to));
    QTest::newRow("every step between two readings") << steps;

    Lines fan;
    const QPointF centre(242, 82);
    for (int dy = -60; dy <= 60; ++dy)
        for (int dx = -60; dx <= 60; ++dx)
            fan << QLineF(centre, centre + QPointF(dx, dy));
    QTest::newRow("every direction and length up to 60 pixels") << fan;

    Lines crossing;
    const QPointF inside[] = {{0, 0}, {484, 164}, {100, 82}, {1, 163}};
    const QPointF outside[]
        = {{-1, 82},   {485, 82},  {242, -1}, {242, 165}, {-1000, -37},   {2000, 400},
           {97, -256}, {106, -33}, {-10, 0},  {494, 0},   {-5000, 90000}, {-1, -1}};
    for (const QPointF &in : inside)
        for (const QPointF &out : outside)
            crossing << QLineF(in, out) << QLineF(out, in);
    for (const QPointF &a : outside)
        for (const QPointF &b : outside)
            crossing << QLineF(a, b);
    QTest::newRow("through the edges and wholly outside") << crossing;

    QTest::newRow("ends between pixels") << Lines {
        {10.5, 20.25, 30.75, 21.5}, {3.49, 3.51, 3.49, 80.5},    {7.5, 7.5, 7.5, 7.5},
        {0.3, 0.7, 484.6, 164.4},   {200.5, 10.5, 201.5, 150.5}, {50.2, 60.9, 40.1, 20.6}};
}

void TestPixelLine::sameAsThePainter()
{
    QFETCH(Lines, lines);
    Canvas canvas;
    for (const QLineF &line : lines) {
        const QString difference = canvas.difference(line);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
}

QTEST_MAIN(TestPixelLine)
#include "tst_pixelline.moc"
