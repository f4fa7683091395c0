#include "serial_input/reading.h"

#include <QLocale>

QString temperatureText(double temperature, const QLocale &locale)
{
    // The digits are 0-9 in every locale, as in the counter beside it; only the separator is
    // the locale's.
    QString number = QString::number(temperature, 'g', QLocale::FloatingPointShortest);
    number.replace(QLatin1Char('.'), locale.decimalPoint());
    return number + QStringLiteral(" C");
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
