#pragma once

#include <QtGlobal>

class ChartSurface;

/// Readings across the chart before it clears and starts again at the left.
constexpr qint64 ChartWidthInReadings = 500;
/// Degrees at the top edge of the chart.
constexpr qint16 ChartTopDegrees = 50;

/// The temperature rounded to whole degrees, halves to the even neighbour (24.5 -> 24).
qint16 chartValue(double temperature);

/// Extends the trace by one reading at x = SampleIndex, y = 50 - ChartValue. When the counter
/// has reached the chart's width, clears the chart, sets SampleIndex to 0 and starts a new
/// trace with a point at the reading's height. On a cleared chart (after Start or Stop) the
/// trace starts the same way, with a point, never with a line from the corner.
void PlotSample(ChartSurface &Picture1, qint16 ChartValue, qint64 &SampleIndex);
