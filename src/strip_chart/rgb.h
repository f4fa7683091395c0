#pragma once

#include <QColor>

/// A colour as one number: red + 256 x green + 65536 x blue, red in the low byte.
/// Not named RGB, which the Windows headers take for a macro.
constexpr long rgbColor(int red, int green, int blue)
{
    return long(red) + 256L * green + 65536L * blue;
}

inline QColor colorOf(long rgb)
{
    return QColor(int(rgb & 0xff), int((rgb >> 8) & 0xff), int((rgb >> 16) & 0xff));
}
