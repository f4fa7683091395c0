#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

class QLocale;

/// The sensor sends twice the temperature in degrees, one byte per reading.
inline double temperatureOf(quint8 raw)
{
    return raw / 2.0;
}

/// "24.5 C": the shortest general form in the digits 0-9, with the locale's decimal separator.
QString temperatureText(double temperature, const QLocale &locale);

/// The counter as decimal digits, no blank and no sign.
QString counterText(qint64 count);

/// The temperature texts of all 256 readings in one locale, made once: looking a text up costs
/// nanoseconds, formatting it microseconds.
class TemperatureTexts
{
public:
    explicit TemperatureTexts(const QLocale &locale);

    const QString &operator[](quint8 raw) const { return m_texts[raw]; }

private:
    std::array<QString, 256> m_texts;
};
