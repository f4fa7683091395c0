#include "strip_chart/pixelline.h"

#include <QImage>

#include <cmath>
#include <utility>

// The steps follow Qt's aliased cosmetic stroker line for line (qcosmeticstroker.cpp, a single
// solid line): end points in 26.6 fixed point, the slope in 16.16, half a pixel added at each
// square cap, and the line clipped in floating point a pixel outside the image first.

namespace {

using Fixed16 = qint64;

constexpr int CapBegin = 1;
constexpr int CapEnd = 2;

int toFixed6(double value)
{
    return int(value * 64.);
}

Fixed16 divide16(int x, int y)
{
    return Fixed16(x) * (1 << 16) / y;
}

int swapCaps(int caps)
{
    return ((caps & CapBegin) << 1) | ((caps & CapEnd) >> 1);
}

void adjustForCaps(int caps, int &begin, int &end, Fixed16 &across, Fixed16 step)
{
    if (caps & CapBegin) {
        begin -= 32;
        across -= step >> 1;
    }
    if (caps & CapEnd)
        end += 32;
}

// Moves the ends of the line onto min..max along one axis, the other coordinate following the
// line. False when the whole line lies beyond one side.
bool clipAxis(double &a1, double &b1, double &a2, double &b2, double min, double max)
{
    if (a1 < min || a1 > max) {
        if (a1 < min ? a2 <= min : a2 >= max)
            return false;
        const double edge = a1 < min ? min : max;
        b1 += (b2 - b1) / (a2 - a1) * (edge - a1);
        a1 = edge;
    }
    if (a2 < min || a2 > max) {
        const double edge = a2 < min ? min : max;
        b2 += (b2 - b1) / (a2 - a1) * (edge - a2);
        a2 = edge;
    }
    return true;
}

// False when nothing of the line is left.
bool clip(double &x1, double &y1, double &x2, double &y2, double xmin, double xmax, double ymin,
          double ymax)
{
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2))
        return false;
    return clipAxis(x1, y1, x2, y2, xmin, xmax) && clipAxis(y1, x1, y2, x2, ymin, ymax);
}

} // namespace

void drawPixelLine(QImage &image, QPointF from, QPointF to, QRgb colour)
{
    const int width = image.width();
    const int height = image.height();
    QRgb *const pixels = reinterpret_cast<QRgb *>(image.bits());
    const qsizetype perLine = image.bytesPerLine() / qsizetype(sizeof(QRgb));
    const auto set = [&](int x, int y) {
        if (x >= 0 && x < width && y >= 0 && y < height)
            pixels[y * perLine + x] = colour;
    };

    if (from == to) {
        set(qRound(from.x()), qRound(from.y()));
        return;
    }
    double fx1 = from.x();
    double fy1 = from.y();
    double fx2 = to.x();
    double fy2 = to.y();
    if (!clip(fx1, fy1, fx2, fy2, -1, width + 1, -1, height + 1))
        return;
    int x1 = toFixed6(fx1);
    int y1 = toFixed6(fy1);
    int x2 = toFixed6(fx2);
    int y2 = toFixed6(fy2);
    int caps = CapBegin | CapEnd;

    if (std::abs(x2 - x1) < std::abs(y2 - y1)) {
        // Steep: one pixel a row.
        if (y1 > y2) {
            std::swap(y1, y2);
            std::swap(x1, x2);
            caps = swapCaps(caps);
        }
        const Fixed16 step = divide16(x2 - x1, y2 - y1);
        Fixed16 x = Fixed16(x1) * (1 << 10);
        adjustForCaps(caps, y1, y2, x, step);
        int y = (y1 + 32) >> 6;
        const int end = (y2 + 32) >> 6;
        if (y == end)
            return;
        x += ((y * (1 << 6)) + (step > 0 ? 32 : 0) - y1) * step >> 6;
        do {
            set(int(x >> 16), y);
            x += step;
        } while (++y < end);
    } else {
        // Flat: one pixel a column.
        if (x1 == x2)
            return;
        if (x1 > x2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
            caps = swapCaps(caps);
        }
        const Fixed16 step = divide16(y2 - y1, x2 - x1);
        Fixed16 y = Fixed16(y1) * (1 << 10);
        adjustForCaps(caps, x1, x2, y, step);
        int x = (x1 + 32) >> 6;
        const int end = (x2 + 32) >> 6;
        if (x == end)
            return;
        y += ((x * (1 << 6)) + (step > 0 ? 32 : 0) - x1) * step >> 6;
        do {
            set(x, int(y >> 16));
            y += step;
        } while (++x < end);
    }
}
