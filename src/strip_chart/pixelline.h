#pragma once

#include <QPointF>
#include <QRgb>

class QImage;

/// Draws a line from \a from to \a to into \a image (32 bits a pixel, device pixel ratio 1) in
/// the opaque \a colour, setting exactly the pixels that QPainter's raster engine sets for a
/// one-pixel square-capped pen: the same steps along the line, the same rounding, the same
/// clipping at the image's edges. A line of no length is the point at its end. It costs a few
/// nanoseconds a pixel, where a painter begun and ended for the line costs microseconds.
void drawPixelLine(QImage &image, QPointF from, QPointF to, QRgb colour);
