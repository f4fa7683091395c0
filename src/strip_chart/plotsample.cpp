#include "strip_chart/plotsample.h"

#include "strip_chart/chartsurface.h"

#include <cmath>

qint16 chartValue(double temperature)
{
    // nearbyint rounds halves to even in the default rounding mode (qRound would not).
    return qint16(std::nearbyint(temperature));
}

void PlotSample(ChartSurface &Picture1, qint16 ChartValue, qint64 &SampleIndex)
{
    const float y = float(ChartTopDegrees - ChartValue);
    const qint64 n = SampleIndex;
    if (n >= ChartWidthInReadings) {
        SampleIndex = 0;
        Picture1.Cls();
    }
    // A new trace starts with a point at the reading's own height: after a wrap, and on a
    // chart that Start or Stop has cleared.
    if (Picture1.isCleared())
        Picture1.PSet(float(SampleIndex), y);
    Picture1.Line(float(SampleIndex), y);
}
