#pragma once

#include <QString>
#include <QtGlobal>

class QLocale;

/// The sensor sends twice the temperature in degrees, one byte per reading.
inline double temperatureOf(quint8 raw)
{
    return raw / 2.0;
}

/// "24.5 C": the shortest general form, with the locale's decimal separator.
QString temperatureText(double temperature, const QLocale &locale);

/// The counter as decimal digits, no blank and no sign.
QString counterText(qint64 count);
