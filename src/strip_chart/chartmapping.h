#pragma once

#include <QPoint>
#include <QSize>
#include <QSizeF>

/// Maps a point in the chart's user scale (x 0..scale.width() left to right, y
/// 0..scale.height() top to bottom) to the pixel of a drawing area of \a area pixels that shows
/// it: 0 maps to the first pixel and the full scale to the last, so every reading from 0 to 50
/// degrees is visible. Points outside the scale map outside the area.
QPoint chartPixel(double x, double y, QSizeF scale, QSize area);
