#include "strip_chart/chartmapping.h"

#include <cmath>

namespace {

// Far enough outside any area to clip the same way, near enough to stay within int.
constexpr double OffChartLimit = 1 << 20;

int pixelOf(double user, double scale, int pixels)
{
    const double pixel = std::floor(user * (pixels - 1) / scale + 0.5);
    if (!(pixel > -OffChartLimit)) // also catches NaN
        return int(-OffChartLimit);
    return int(std::fmin(pixel, OffChartLimit));
}

} // namespace

QPoint chartPixel(double x, double y, QSizeF scale, QSize area)
{
    return {pixelOf(x, scale.width(), area.width()), pixelOf(y, scale.height(), area.height())};
}
