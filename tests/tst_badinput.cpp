// Hostile and odd input over a real serial line into the real window: every byte is a reading,
// shown and counted once, and nothing a byte stream holds changes anything else.

#include "main_window/form1.h"
#include "main_window/runtimeerror.h"
#include "serial_input/serialcontrol.h"
#include "strip_chart/chartsurface.h"
#include "strip_chart/recordindicator.h"
#include "support/paintwatch.h"
#include "support/portpair.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>

namespace {

// Built from the byte's halves, not through the program's formatting.
QString expectedText(quint8 raw)
{
    return QString::number(raw / 2) + (raw % 2 ? QStringLiteral(".5 C") : QStringLiteral(" C"));
}

// Whole degrees, halves to the even neighbour: 24.5 -> 24, 25.5 -> 26.
int expectedChartValue(quint8 raw)
{
    const int whole = raw / 2;
    return raw % 2 == 0 || whole % 2 == 0 ? whole : whole + 1;
}

QByteArray everyValue(bool ascending)
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes += char(ascending ? i : 255 - i);
    return bytes;
}

QByteArray pseudoRandom(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void everyByteIsOneReadingAndNothingElse_data();
    void everyByteIsOneReadingAndNothingElse();

private:
    /// What the window held after one receive event.
    struct Taken
    {
        qint64 count;
        float chartY;
    };
    /// What the boxes showed at one repaint, and how many readings the window had shown by then.
    struct Shown
    {
        qsizetype readings;
        QString temperature;
        QString counter;
    };

    std::unique_ptr<PortPair> m_line;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<PaintWatch> m_paints;
    QList<RuntimeError> m_reports;
    QList<Taken> m_taken;
    QList<Shown> m_shown;
    qsizetype m_shownUpTo = 0;
};

void TestBadInput::init()
{
    if (const QString why = PortPair::unavailable(); !why.isEmpty())
        QSKIP(qPrintable(why));
    m_line = std::make_unique<PortPair>();
    QVERIFY(m_line->isValid());
    m_reports.clear();
    m_taken.clear();
    m_shown.clear();
    m_shownUpTo = 0;
    m_form = std::make_unique<Form1>(
        m_line->deviceName(), [this](const RuntimeError &error) { m_reports.append(error); });
    // Connected after the window's own handler: sees what each event left behind.
    connect(m_form->Comm1, &SerialControl::OnComm, this, [this] {
        if (m_form->Comm1->CommEvent() == SerialControl::ReceiveEvent)
            m_taken.append({m_form->SampleIndex, m_form->Picture1->CurrentY()});
    });
    // The boxes are brought up to date once a frame: a paint shows the readings up to then.
    connect(m_form->Comm1, &SerialControl::Delivered, this,
            [this] { m_shownUpTo = m_taken.size(); });
    m_paints = std::make_unique<PaintWatch>(m_form->txtTemp, [this] {
        m_shown.append({m_shownUpTo, m_form->txtTemp->text(), m_form->txtIndex->text()});
    });
    m_form->Form_Load();
    QVERIFY(!m_form->hasEnded());
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestBadInput::cleanup()
{
    m_paints.reset();
    m_form.reset();
    m_line.reset();
}

void TestBadInput::everyByteIsOneReadingAndNothingElse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("recording");

    QByteArray nulsBetween;
    for (int i = 0; i < 50; ++i)
        nulsBetween += QByteArray("\0\0\x31\0", 4);
    // What a terminal or a modem would act on: XON, XOFF, interrupt, end of file, suspend, CR,
    // LF, escape sequences, delete, 0xFF (the parity-marking escape).
    const QByteArray lineControl("\x11\x13\x03\x04\x1a\r\n\x1b[2J\x1b"
                                 "c\x7f\xff\xff\0\x13\x13\x11",
                                 19);

    QTest::newRow("every value ascending") << everyValue(true) << false;
    QTest::newRow("every value descending") << everyValue(false) << false;
    QTest::newRow("every value, recording") << everyValue(true) << true;
    QTest::newRow("NULs between readings") << nulsBetween << false;
    QTest::newRow("line and flow control, 200 times") << lineControl.repeated(200) << false;
    QTest::newRow("5000 NULs") << QByteArray(5000, '\0') << false;
    QTest::newRow("5000 random bytes") << pseudoRandom(5000, 1) << false;
    QTest::newRow("5000 random bytes, recording, past the chart's wrap")
        << pseudoRandom(5000, 2) << true;
}

void TestBadInput::everyByteIsOneReadingAndNothingElse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, recording);
    if (recording)
        m_form->cmdPlot->click();
    const QString caption = m_form->cmdPlot->text();
    const long indicator = m_form->Shape1->FillColor();

    QVERIFY(m_line->write(bytes));
    QTRY_COMPARE_WITH_TIMEOUT(m_taken.size(), bytes.size(), 20000);
    QTest::qWait(50); // a byte counted twice would show up here
    QCOMPARE(m_taken.size(), bytes.size());

    // With recording on, the counter starts again after the chart's 500th reading.
    const auto countAfter
        = [&](qsizetype readings) { return recording ? (readings - 1) % 500 + 1 : readings; };
    for (int i = 0; i < bytes.size(); ++i) {
        const qint64 count = countAfter(i + 1);
        QVERIFY2(m_taken.at(i).count == (count == 500 && recording ? 0 : count),
                 qPrintable(QStringLiteral("byte %1: counter %2").arg(i).arg(m_taken.at(i).count)));
        if (recording)
            QVERIFY2(
                m_taken.at(i).chartY == float(50 - expectedChartValue(quint8(bytes.at(i)))),
                qPrintable(
                    QStringLiteral("byte %1: charted at %2").arg(i).arg(m_taken.at(i).chartY)));
    }
    // Every repaint showed the latest reading and its count, and the last one shows the last.
    QTRY_VERIFY(!m_shown.isEmpty() && m_shown.back().readings == bytes.size());
    for (const Shown &shown : std::as_const(m_shown)) {
        if (shown.readings == 0)
            continue;
        const quint8 raw = quint8(bytes.at(shown.readings - 1));
        QVERIFY2(shown.temperature == expectedText(raw),
                 qPrintable(QStringLiteral("after %1 readings: %2 for byte %3")
                                .arg(shown.readings)
                                .arg(shown.temperature)
                                .arg(raw)));
        QCOMPARE(shown.counter, QString::number(countAfter(shown.readings)));
    }

    // Nothing but the readings changed.
    QVERIFY(m_reports.isEmpty());
    QVERIFY(!m_form->hasEnded());
    QVERIFY(m_form->Comm1->PortOpen());
    QCOMPARE(m_form->Plotting, qint16(recording ? -1 : 0));
    QCOMPARE(m_form->cmdPlot->text(), caption);
    QCOMPARE(m_form->Shape1->FillColor(), indicator);
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Thermometer"));
    if (recording) {
        // The position is the last reading's: at the counter, or back at 0 when that reading was
        // the 500th and started the chart again.
        const qint64 shown = (bytes.size() - 1) % 500 + 1;
        QCOMPARE(m_form->SampleIndex, shown == 500 ? 0 : shown);
        QCOMPARE(m_form->Picture1->CurrentX(), float(m_form->SampleIndex));
        QCOMPARE(m_form->Picture1->CurrentY(),
                 float(50 - expectedChartValue(quint8(bytes.back()))));
    } else {
        QCOMPARE(m_form->SampleIndex, qint64(bytes.size()));
        QVERIFY(m_form->Picture1->isCleared());
    }
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
