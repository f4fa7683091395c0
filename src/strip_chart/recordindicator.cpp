#include "strip_chart/recordindicator.h"

#include "strip_chart/rgb.h"

#include <QPainter>

RecordIndicator::RecordIndicator(QWidget *parent)
    : QWidget(parent)
{
}

void RecordIndicator::setFillColor(long rgb)
{
    if (rgb == m_fillColor)
        return;
    m_fillColor = rgb;
    update();
}

void RecordIndicator::setFillStyle(int style)
{
    if (style == m_fillStyle)
        return;
    m_fillStyle = style;
    update();
}

void RecordIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    painter.setBrush(m_fillStyle == Solid ? QBrush(colorOf(m_fillColor)) : QBrush(Qt::NoBrush));
    // Inset by half the pen so the whole outline lies inside the widget.
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
