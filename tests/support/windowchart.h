#pragma once

#include "strip_chart/chartsurface.h"
#include "strip_chart/rgb.h"

#include <memory>

/// A chart as the window sets it up when it loads: 489 x 169 with its border, a 500 by 50 user
/// scale and a blue pen.
inline std::unique_ptr<ChartSurface> windowChart()
{
    auto surface = std::make_unique<ChartSurface>();
    surface->resize(489, 169);
    surface->setScaleMode(0);
    surface->setScaleHeight(50);
    surface->setScaleWidth(500);
    surface->setForeColor(rgbColor(0, 0, 255));
    return surface;
}
