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

TemperatureTexts::TemperatureTexts(const QLocale &locale)
{
    for (int raw = 0; raw < 256; ++raw)
        m_texts[size_t(raw)] = temperatureText(temperatureOf(quint8(raw)), locale);
}
