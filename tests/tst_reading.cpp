#include "serial_input/reading.h"
#include "strip_chart/chartmapping.h"
#include "strip_chart/plotsample.h"

#include <QLocale>
#include <QTest>

class TestReading : public QObject
{
    Q_OBJECT

private slots:
    void temperatureText_data();
    void temperatureText();
    void temperatureTexts_data();
    void temperatureTexts();
    void counterText_data();
    void counterText();
    void chartValue_data();
    void chartValue();
    void chartPixel_data();
    void chartPixel();
};

void TestReading::temperatureText_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("text");

    QTest::newRow("0") << "C" << 0 << "0 C";
    QTest::newRow("1 keeps the leading zero") << "C" << 1 << "0.5 C";
    QTest::newRow("49") << "C" << 49 << "24.5 C";
    QTest::newRow("50 has no separator") << "C" << 50 << "25 C";
    QTest::newRow("200 has no exponent") << "C" << 200 << "100 C";
    QTest::newRow("255") << "C" << 255 << "127.5 C";
    QTest::newRow("German 1") << "de_DE" << 1 << "0,5 C";
    QTest::newRow("German 255") << "de_DE" << 255 << "127,5 C";
    QTest::newRow("German 50") << "de_DE" << 50 << "25 C";
    // Digits as in the counter beside it, whatever digits the locale writes.
    QTest::newRow("Arabic 49") << "ar_EG" << 49 << QStringLiteral("24\u066B5 C");
    QTest::newRow("Persian 255") << "fa_IR" << 255 << QStringLiteral("127\u066B5 C");
    QTest::newRow("Bengali 49") << "bn_BD" << 49 << "24.5 C";
    QTest::newRow("Arabic 200") << "ar_EG" << 200 << "100 C";
}

void TestReading::temperatureText()
{
    QFETCH(QString, locale);
    QFETCH(int, raw);
    QFETCH(QString, text);
    QCOMPARE(::temperatureText(temperatureOf(quint8(raw)), QLocale(locale)), text);
}

void TestReading::temperatureTexts_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("C") << "C";
    QTest::newRow("German: comma") << "de_DE";
    QTest::newRow("Arabic") << "ar_EG";
    QTest::newRow("Hindi") << "hi_IN";
}

void TestReading::temperatureTexts()
{
    QFETCH(QString, locale);
    const QLocale chosen(locale);
    const TemperatureTexts texts(chosen);
    for (int raw = 0; raw < 256; ++raw)
        QCOMPARE(texts[quint8(raw)], ::temperatureText(temperatureOf(quint8(raw)), chosen));
}

void TestReading::counterText_data()
{
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QString>("text");
    QTest::newRow("one") << qint64(1) << "1";
    QTest::newRow("past 16 bits") << qint64(32768) << "32768";
    QTest::newRow("no separators") << qint64(40000) << "40000";
    QTest::newRow("past 32 bits") << qint64(5000000000) << "5000000000";
}

void TestReading::counterText()
{
    QFETCH(qint64, count);
    QFETCH(QString, text);
    QCOMPARE(::counterText(count), text);
}

void TestReading::chartValue_data()
{
    QTest::addColumn<double>("temperature");
    QTest::addColumn<int>("value");
    QTest::newRow("0.5 to even 0") << 0.5 << 0;
    QTest::newRow("24.5 to even 24") << 24.5 << 24;
    QTest::newRow("25.5 to even 26") << 25.5 << 26;
    QTest::newRow("26.5 to even 26") << 26.5 << 26;
    QTest::newRow("127.5 to even 128") << 127.5 << 128;
    QTest::newRow("whole 25") << 25.0 << 25;
}

void TestReading::chartValue()
{
    QFETCH(double, temperature);
    QFETCH(int, value);
    QCOMPARE(int(::chartValue(temperature)), value);
}

void TestReading::chartPixel_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<QPoint>("pixel");
    // The chart's scale, 500 by 50, on its 485 by 165 pixel area.
    QTest::newRow("top-left corner") << 0.0 << 0.0 << QPoint(0, 0);
    QTest::newRow("bottom-right corner") << 500.0 << 50.0 << QPoint(484, 164);
    QTest::newRow("25 degrees on the middle row") << 1.0 << 25.0 << QPoint(1, 82);
    QTest::newRow("last reading before a wrap") << 499.0 << 50.0 << QPoint(483, 164);
    QTest::newRow("60 degrees above the top") << 10.0 << -10.0 << QPoint(10, -33);
    QTest::newRow("255 far above the top") << 10.0 << -78.0 << QPoint(10, -256);
    QTest::newRow("NaN stays off the chart") << qQNaN() << 0.0 << QPoint(-(1 << 20), 0);
    QTest::newRow("huge stays within int") << 1e30 << -1e30 << QPoint(1 << 20, -(1 << 20));
}

void TestReading::chartPixel()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(QPoint, pixel);
    QCOMPARE(::chartPixel(x, y, QSizeF(500, 50), QSize(485, 165)), pixel);
}

QTEST_GUILESS_MAIN(TestReading)
#include "tst_reading.moc"
