#include "strip_chart/chartsurface.h"

#include "strip_chart/chartmapping.h"
#include "strip_chart/pixelline.h"
#include "strip_chart/rgb.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

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
    m_foreColor = rgb;
}

void ChartSurface::Cls()
{
    matchImageToArea();
    clearImage();
    m_currentX = 0;
    m_currentY = 0;
    m_cleared = true;
    m_drawn = QRect(QPoint(0, 0), contentsRect().size());
    update(contentsRect());
}

void ChartSurface::PSet(float x, float y)
{
    matchImageToArea();
    const QPoint pixel = pixelOf(x, y);
    if (m_image.devicePixelRatio() == 1) {
        drawPixelLine(m_image, pixel, pixel, colorOf(m_foreColor).rgb());
    } else {
        QPainter painter(&m_image);
        painter.setPen(QPen(colorOf(m_foreColor), 1));
        painter.drawPoint(pixelPoint(pixel));
    }
    m_currentX = x;
    m_currentY = y;
    m_cleared = false;
    markDrawn(pixel, pixel);
}

void ChartSurface::Line(float x, float y)
{
    matchImageToArea();
    // Clipped at the image's edges; the position moves on even when off the chart.
    const QPoint from = pixelOf(m_currentX, m_currentY);
    const QPoint to = pixelOf(x, y);
    drawLine(from, to);
    m_currentX = x;
    m_currentY = y;
    m_cleared = false;
    markDrawn(from, to);
}

// Repaints only what has been drawn since the last repaint: a reading changes a column or two,
// and repainting the whole chart each frame cost more than all of the readings' lines. One
// rectangle around it all, grown as lines come, so that Qt's dirty region stays one rectangle.
void ChartSurface::markDrawn(QPoint from, QPoint to)
{
    const QRect line = QRect(QPoint(std::min(from.x(), to.x()), std::min(from.y(), to.y())),
                             QPoint(std::max(from.x(), to.x()), std::max(from.y(), to.y())))
                           .intersected(QRect(QPoint(0, 0), contentsRect().size()));
    if (line.isEmpty() || m_drawn.contains(line))
        return;
    m_drawn = m_drawn.united(line);
    update(m_drawn.translated(contentsRect().topLeft()));
}

void ChartSurface::drawLine(QPoint from, QPoint to)
{
    // At ratio 1 (and for points, in PSet), the painter's own pixels without a painter per line:
    // a reading draws a line, and beginning and ending a painter cost far more than the line.
    // Scaled up, the pen is a stroke of its own shape, which only the painter draws.
    if (m_image.devicePixelRatio() == 1) {
        drawPixelLine(m_image, pixelPoint(from), pixelPoint(to), colorOf(m_foreColor).rgb());
        return;
    }
    QPainter painter(&m_image);
    painter.setPen(QPen(colorOf(m_foreColor), 1));
    painter.drawLine(pixelPoint(from), pixelPoint(to));
}

QPoint ChartSurface::pixelOf(float x, float y) const
{
    return chartPixel(x, y, QSizeF(m_scaleWidth, m_scaleHeight), contentsRect().size());
}

void ChartSurface::paintEvent(QPaintEvent *event)
{
    matchImageToArea();
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

QPointF ChartSurface::pixelPoint(QPoint pixel) const
{
    // At ratio 1 a one-pixel pen sets the pixel its integer point names. Scaled up, the pen is a
    // stroke centred on the point, so it must go through the pixel's centre: through its corner
    // the trace would sit half a pixel up and left, and the edge rows come out half as thick.
    if (m_image.devicePixelRatio() > 1)
        return QPointF(pixel) + QPointF(0.5, 0.5);
    return QPointF(pixel);
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
    if (!m_image.isNull()) {
        QPainter painter(&image);
        painter.drawImage(QPoint(0, 0), m_image);
    }
    m_image = image;
}

void ChartSurface::clearImage()
{
    m_image.fill(backgroundColor());
}
