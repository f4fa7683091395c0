#include "strip_chart/chartsurface.h"

#include "strip_chart/chartmapping.h"
#include "strip_chart/rgb.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

ChartSurface::ChartSurface(QWidget *parent)
    : QFrame(parent)
{
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setLineWidth(BorderWidth);
    // The surface paints every pixel itself from its image.
    setAttribute(Qt::WA_OpaquePaintEvent);
    makeImage();
}

void ChartSurface::setScaleMode(int mode)
{
    m_scaleMode = mode;
}

void ChartSurface::setScaleWidth(float width)
{
    m_scaleWidth = width;
}

void ChartSurface::setScaleHeight(float height)
{
    m_scaleHeight = height;
}

void ChartSurface::setForeColor(long rgb)
{
    if (rgb != m_foreColor)
        paintNoted();
    m_foreColor = rgb;
}

void ChartSurface::Cls()
{
    // What was drawn since the image was last painted is gone with the rest.
    m_lines.clear();
    m_points.clear();
    m_clearNoted = true;
    m_currentX = 0;
    m_currentY = 0;
    m_cleared = true;
    m_drawn = QRect(QPoint(0, 0), contentsRect().size());
}

void ChartSurface::PSet(float x, float y)
{
    const QSize area = contentsRect().size();
    const QPoint pixel = pixelOf(x, y, area);
    m_points.push_back(pixel);
    movedTo(x, y);
    markDrawn(pixel, pixel, area);
}

void ChartSurface::Line(float x, float y)
{
    // The painter clips at the image's edges; the position moves on even when off the chart.
    const QSize area = contentsRect().size();
    const QPoint from = pixelOf(m_currentX, m_currentY, area);
    const QPoint to = pixelOf(x, y, area);
    m_lines.emplace_back(from, to);
    movedTo(x, y);
    markDrawn(from, to, area);
}

// After a point or line is noted: the position moves on, and a surface that is not shown, and so
// never painted, has its image take what is noted before it piles up.
void ChartSurface::movedTo(float x, float y)
{
    m_currentX = x;
    m_currentY = y;
    m_cleared = false;
    if (m_lines.size() + m_points.size() >= MaxNoted)
        paintNoted();
}

const QImage &ChartSurface::image()
{
    paintNoted();
    return m_image;
}

// Notes what has been drawn since the last repaint, to repaint only that: a reading changes a
// column or two, and repainting the whole chart each frame cost more than all of the readings'
// lines. One rectangle around it all, grown as lines come, so that Qt's dirty region stays one
// rectangle; a pixel more on each side for the pen's square ends and for device pixels that a
// pixel of the area shares with its neighbours at fractional pixel ratios.
void ChartSurface::markDrawn(QPoint from, QPoint to, QSize area)
{
    const QRect line = QRect(QPoint(std::min(from.x(), to.x()), std::min(from.y(), to.y())),
                             QPoint(std::max(from.x(), to.x()), std::max(from.y(), to.y())))
                           .adjusted(-1, -1, 1, 1)
                           .intersected(QRect(QPoint(0, 0), area));
    if (line.isEmpty() || m_drawn.contains(line))
        return;
    m_drawn = m_drawn.united(line);
}

void ChartSurface::showDrawn()
{
    if (!m_drawn.isEmpty())
        update(m_drawn.translated(contentsRect().topLeft()));
}

// A reading only notes its line; the painter draws all that is noted at once, when the surface
// is painted or its image read. Measured with bench/chartdraw.cpp on Qt 6.4 at ratios 1 to 2: a
// painter begun and ended for each line cost 0.8 to 1.5 microseconds a reading, one held open
// 0.35 to 0.8; one drawLines a frame costs as much as the held painter at 3840 readings a second
// (the pixels are most of it), but about 50 ns a reading in a flood, where a wrap clears most
// lines before they are drawn. drawPolyline strokes one joined shape, 2.5 to 5 times slower at
// ratio 2.
void ChartSurface::paintNoted()
{
    matchImageToArea();
    if (m_clearNoted) {
        m_image.fill(backgroundColor());
        m_clearNoted = false;
    }
    if (m_lines.empty() && m_points.empty())
        return;
    QPainter painter(&m_image);
    // As many whole device pixels as fit in a pixel of the area, so that the trace is as thick
    // at every height also at ratios such as 1.25 or 1.5, where a pixel of the area is one
    // device pixel here and two there.
    const qreal ratio = m_image.devicePixelRatio();
    QPen pen(colorOf(m_foreColor), std::max(1.0, std::floor(ratio)));
    pen.setCosmetic(true);
    painter.setPen(pen);
    // At ratio 1 a one-pixel pen sets the pixel its integer point names. Scaled up, the pen is
    // centred on the point, so it must go through the pixel's centre: through its corner the
    // trace would sit half a pixel up and left, and the edge rows come out half as thick.
    if (ratio > 1)
        painter.translate(0.5, 0.5);
    painter.drawLines(m_lines.data(), int(m_lines.size()));
    painter.drawPoints(m_points.data(), int(m_points.size()));
    m_lines.clear();
    m_points.clear();
}

QPoint ChartSurface::pixelOf(float x, float y, QSize area) const
{
    return chartPixel(x, y, QSizeF(m_scaleWidth, m_scaleHeight), area);
}

void ChartSurface::paintEvent(QPaintEvent *event)
{
    paintNoted();
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), m_image);
    painter.end();
    // Everything drawn is on screen now: Qt repaints all that is marked for it at once.
    if (event->rect().contains(m_drawn.translated(contentsRect().topLeft())))
        m_drawn = QRect();
    if (!contentsRect().contains(event->rect()))
        QFrame::paintEvent(event); // the border
}

void ChartSurface::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    if (m_scaleMode != 0) { // until a user scale is set, a unit is a pixel of the area
        m_scaleWidth = float(contentsRect().width());
        m_scaleHeight = float(contentsRect().height());
    }
    makeImage();
}

void ChartSurface::matchImageToArea()
{
    // On a screen of another pixel ratio the chart goes on at that ratio, keeping what it has;
    // a surface resized before it was first shown gets its resize event only when shown, and
    // must not draw into an image of its old size meanwhile.
    const qreal ratio = devicePixelRatioF();
    if (m_image.devicePixelRatio() != ratio || m_image.size() != contentsRect().size() * ratio)
        makeImage();
}

QColor ChartSurface::backgroundColor() const
{
    return palette().color(QPalette::HighlightedText);
}

void ChartSurface::makeImage()
{
    const qreal ratio = devicePixelRatioF();
    QImage image(contentsRect().size() * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(backgroundColor());
    if (!m_image.isNull() && !m_clearNoted) {
        QPainter painter(&image);
        painter.drawImage(QPoint(0, 0), m_image);
    }
    m_image = image;
}
