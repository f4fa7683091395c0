#include "serial_input/reading.h"

#include <QLocale>

QString temperatureText(double temperature, const QLocale &locale)
{
    return locale.toString(temperature, 'g', QLocale::FloatingPointShortest) + QStringLiteral(" C");
}

QString counterText(qint64 count)
{
    return QString::number(count);
}
