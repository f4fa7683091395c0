#include "main_window/form1.h"
#include "main_window/runtimeerror.h"
#include "serial_input/serialcontrol.h"
#include "strip_chart/chartsurface.h"
#include "strip_chart/recordindicator.h"
#include "strip_chart/rgb.h"
#include "support/paintwatch.h"
#include "support/portpair.h"
#include "support/timercount.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void elementsSitAtTheirPlaces_data();
    void elementsSitAtTheirPlaces();
    void captionsAndAlignments_data();
    void captionsAndAlignments();
    void windowIsFixedAtItsClientSize();
    void focusRunsInTheTabledOrder();
    void accessKeysPressTheButtons_data();
    void accessKeysPressTheButtons();
    void aFocusedButtonIsPressedByKeyboard_data();
    void aFocusedButtonIsPressedByKeyboard();

    void readingsShowAsTemperatures_data();
    void readingsShowAsTemperatures();
    void readingsUseTheLocaleSeparator();
    void readingsFollowTheWindowsLocale();
    void aBurstIsCountedByteForByte();
    void counterPassesSixteenBits();
    void typedTextIsReplacedAtTheNextReading();
    void aLoneReadingReachesTheScreen_data();
    void aLoneReadingReachesTheScreen();
    void emptyReadIsNotAReading();
    void otherEventsChangeNothing_data();
    void otherEventsChangeNothing();

    void recordingOffDrawsNothingAndKeepsCounting();
    void startThenStopLeavesAClearChart();
    void firstReadingAfterStartDrawsNoLineFromTheCorner();
    void recordingWrapsAtFiveHundredReadings();

    void exitClosesThePortAndEnds();
    void lostPortIsReportedOnceAndEnds_data();
    void lostPortIsReportedOnceAndEnds();
    void portThatCannotOpenIsReportedBeforeTheChart();

private:
    void load();
    void waitForCount(qint64 readingsSinceLoad);
    QList<QPoint> bluePixels() const;
    bool send(const QByteArray &bytes);

    std::unique_ptr<PortPair> m_line;
    std::unique_ptr<Form1> m_form;
    QList<RuntimeError> m_reports;
};

void TestForm1::init()
{
    // The window's layout is checked without a serial line too.
    static const QList<QByteArray> withoutLine {"elementsSitAtTheirPlaces", "captionsAndAlignments",
                                                "windowIsFixedAtItsClientSize",
                                                "portThatCannotOpenIsReportedBeforeTheChart"};
    const bool lineNeeded = !withoutLine.contains(QTest::currentTestFunction());
    if (const QString why = PortPair::unavailable(); lineNeeded && !why.isEmpty())
        QSKIP(qPrintable(why));
    m_line = std::make_unique<PortPair>();
    QVERIFY(!lineNeeded || m_line->isValid());
    m_reports.clear();
    m_form = std::make_unique<Form1>(
        m_line->deviceName(), [this](const RuntimeError &error) { m_reports.append(error); });
}

void TestForm1::cleanup()
{
    m_form.reset();
    m_line.reset();
    QLocale::setDefault(QLocale::c());
}

void TestForm1::load()
{
    m_form->Form_Load();
    QVERIFY(!m_form->hasEnded());
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

bool TestForm1::send(const QByteArray &bytes)
{
    return m_line->write(bytes);
}

QList<QPoint> TestForm1::bluePixels() const
{
    const QImage &image = m_form->Picture1->image();
    QList<QPoint> blue;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == qRgb(0, 0, 255))
                blue.append(QPoint(x, y));
    return blue;
}

void TestForm1::elementsSitAtTheirPlaces_data()
{
    QTest::addColumn<QString>("element");
    QTest::addColumn<QRect>("twips"); // left, top, width, height as laid out

    QTest::newRow("Label1") << "Label1" << QRect(600, 240, 1095, 255);
    QTest::newRow("txtTemp") << "txtTemp" << QRect(1680, 240, 855, 285);
    QTest::newRow("Label4") << "Label4" << QRect(2760, 240, 975, 255);
    QTest::newRow("txtIndex") << "txtIndex" << QRect(3720, 240, 855, 285);
    QTest::newRow("cmdPlot") << "cmdPlot" << QRect(5160, 120, 1335, 495);
    QTest::newRow("Shape1") << "Shape1" << QRect(6840, 120, 255, 255);
    QTest::newRow("Label6") << "Label6" << QRect(6600, 480, 735, 255);
    QTest::newRow("cmdExit") << "cmdExit" << QRect(7440, 120, 1095, 495);
    QTest::newRow("Picture1") << "Picture1" << QRect(840, 960, 7335, 2535);
    QTest::newRow("Label2") << "Label2" << QRect(360, 960, 375, 255);
    QTest::newRow("Label5") << "Label5" << QRect(480, 2160, 255, 255);
    QTest::newRow("Label3") << "Label3" << QRect(480, 3240, 255, 255);
}

void TestForm1::elementsSitAtTheirPlaces()
{
    QFETCH(QString, element);
    QFETCH(QRect, twips);
    QWidget *const widget = m_form->findChild<QWidget *>(element);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), m_form.get());
    QCOMPARE(widget->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
}

void TestForm1::captionsAndAlignments_data()
{
    QTest::addColumn<int>("label");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("horizontal");
    QTest::newRow("Label1") << 1 << "Temperature : " << int(Qt::AlignLeft);
    QTest::newRow("Label4") << 4 << "Counter # :" << int(Qt::AlignLeft);
    QTest::newRow("Label6") << 6 << "REC" << int(Qt::AlignHCenter);
    QTest::newRow("Label2") << 2 << "50" << int(Qt::AlignRight);
    QTest::newRow("Label5") << 5 << "25" << int(Qt::AlignRight);
    QTest::newRow("Label3") << 3 << "0" << int(Qt::AlignRight);
}

void TestForm1::captionsAndAlignments()
{
    QFETCH(int, label);
    QFETCH(QString, caption);
    QFETCH(int, horizontal);
    const QLabel *const labels[] = {nullptr,        m_form->Label1, m_form->Label2, m_form->Label3,
                                    m_form->Label4, m_form->Label5, m_form->Label6};
    QCOMPARE(labels[label]->text(), caption);
    QCOMPARE(int(labels[label]->alignment() & Qt::AlignHorizontal_Mask), horizontal);
    QCOMPARE(labels[label]->focusPolicy(), Qt::NoFocus);
}

void TestForm1::windowIsFixedAtItsClientSize()
{
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Thermometer"));
    QCOMPARE(m_form->size(), QSize(598, 267));
    QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
    QCOMPARE(m_form->cmdPlot->text(), QStringLiteral("S&tart"));
    QCOMPARE(m_form->cmdExit->text(), QStringLiteral("E&xit"));
    QCOMPARE(m_form->txtTemp->text(), QString());
    QCOMPARE(m_form->txtIndex->text(), QString());
    QCOMPARE(m_form->txtTemp->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(m_form->txtIndex->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    QVERIFY(!m_form->txtTemp->isReadOnly());
    QVERIFY(!m_form->txtIndex->isReadOnly());
}

void TestForm1::focusRunsInTheTabledOrder()
{
    load();
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    QCOMPARE(QApplication::focusWidget(), m_form->txtTemp);
    const QList<QWidget *> order {m_form->cmdExit, m_form->txtIndex, m_form->Picture1,
                                  m_form->cmdPlot, m_form->txtTemp};
    for (QWidget *const next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void TestForm1::accessKeysPressTheButtons_data()
{
    QTest::addColumn<int>("presses");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<long>("indicator");
    QTest::newRow("Alt+T starts") << 1 << "S&top" << rgbColor(255, 0, 0);
    QTest::newRow("Alt+T again stops") << 2 << "S&tart" << rgbColor(255, 255, 255);
    QTest::newRow("and starts again") << 3 << "S&top" << rgbColor(255, 0, 0);
}

void TestForm1::accessKeysPressTheButtons()
{
    QFETCH(int, presses);
    QFETCH(QString, caption);
    QFETCH(long, indicator);
    load();
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    // Through the window system, as a person's keys come, so the shortcut map sees them. An
    // access key animates the button and clicks it a moment later.
    for (int press = 1; press <= presses; ++press) {
        QTest::keyClick(m_form->windowHandle(), Qt::Key_T, Qt::AltModifier);
        QTRY_COMPARE(m_form->Plotting, qint16(press % 2 ? -1 : 0));
    }
    QCOMPARE(m_form->cmdPlot->text(), caption);
    QCOMPARE(m_form->Shape1->FillColor(), indicator);
    QCOMPARE(m_form->Shape1->accessibleDescription(),
             indicator == rgbColor(255, 0, 0) ? QStringLiteral("Recording")
                                              : QStringLiteral("Not recording"));

    QSignalSpy ended(m_form.get(), &Form1::ended);
    QTest::keyClick(m_form->windowHandle(), Qt::Key_X, Qt::AltModifier);
    QTRY_COMPARE(ended.size(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), 0);
}

void TestForm1::aFocusedButtonIsPressedByKeyboard_data()
{
    QTest::addColumn<bool>("exit");
    QTest::addColumn<int>("key");
    QTest::newRow("Start/Stop, Return") << false << int(Qt::Key_Return);
    QTest::newRow("Start/Stop, Enter") << false << int(Qt::Key_Enter);
    QTest::newRow("Exit, Return") << true << int(Qt::Key_Return);
}

void TestForm1::aFocusedButtonIsPressedByKeyboard()
{
    QFETCH(bool, exit);
    QFETCH(int, key);
    load();
    QPushButton *const button = exit ? m_form->cmdExit : m_form->cmdPlot;
    button->setFocus();
    QSignalSpy ended(m_form.get(), &Form1::ended);
    QTest::keyClick(button, Qt::Key(key));
    if (exit) {
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.at(0).at(0).toInt(), 0);
    } else {
        QCOMPARE(m_form->Plotting, qint16(-1));
        QCOMPARE(m_form->cmdPlot->text(), QStringLiteral("S&top"));
        QCOMPARE(ended.size(), 0);
    }
}

void TestForm1::readingsShowAsTemperatures_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "0 C";
    QTest::newRow("1") << 1 << "0.5 C";
    QTest::newRow("49") << 49 << "24.5 C";
    QTest::newRow("50") << 50 << "25 C";
    QTest::newRow("255") << 255 << "127.5 C";
}

void TestForm1::readingsShowAsTemperatures()
{
    QFETCH(int, raw);
    QFETCH(QString, text);
    load();
    QVERIFY(send(QByteArray(1, char(raw))));
    QTRY_COMPARE(m_form->txtIndex->text(), QStringLiteral("1"));
    QCOMPARE(m_form->txtTemp->text(), text);
    QCOMPARE(m_form->SampleIndex, qint64(1));
    // What a screen reader announces: the box's name, then its text.
    QAccessibleInterface *const box = QAccessible::queryAccessibleInterface(m_form->txtTemp);
    QCOMPARE(box->text(QAccessible::Name) + QLatin1Char(' ') + box->text(QAccessible::Value),
             QStringLiteral("Temperature ") + text);
}

void TestForm1::readingsUseTheLocaleSeparator()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    init();
    load();
    QVERIFY(send(QByteArray(1, char(49))));
    QTRY_COMPARE(m_form->txtTemp->text(), QStringLiteral("24,5 C"));
}

void TestForm1::readingsFollowTheWindowsLocale()
{
    load();
    QVERIFY(send(QByteArray(1, char(49))));
    QTRY_COMPARE(m_form->txtTemp->text(), QStringLiteral("24.5 C"));
    m_form->setLocale(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(send(QByteArray(1, char(51))));
    QTRY_COMPARE(m_form->txtTemp->text(), QStringLiteral("25,5 C"));
}

void TestForm1::aBurstIsCountedByteForByte()
{
    load();
    QByteArray burst(999, char(40));
    burst += char(51);
    QVERIFY(send(burst));
    QTRY_COMPARE(m_form->txtIndex->text(), QStringLiteral("1000"));
    QCOMPARE(m_form->txtTemp->text(), QStringLiteral("25.5 C"));
    QCOMPARE(m_form->SampleIndex, qint64(1000));
}

void TestForm1::counterPassesSixteenBits()
{
    load();
    // With recording off nothing resets the counter: it must go on past 32767.
    QByteArray readings(32770, char(50));
    QVERIFY(send(readings));
    QTRY_COMPARE_WITH_TIMEOUT(m_form->txtIndex->text(), QStringLiteral("32770"), 20000);
    QVERIFY(!m_form->hasEnded());
    QVERIFY(m_reports.isEmpty());
}

void TestForm1::typedTextIsReplacedAtTheNextReading()
{
    load();
    QTest::keyClicks(m_form->txtTemp, QStringLiteral("hello"));
    QTest::keyClicks(m_form->txtIndex, QStringLiteral("99"));
    QCOMPARE(m_form->txtTemp->text(), QStringLiteral("hello"));
    QVERIFY(send(QByteArray(1, char(50))));
    QTRY_COMPARE(m_form->txtTemp->text(), QStringLiteral("25 C"));
    QCOMPARE(m_form->txtIndex->text(), QStringLiteral("1"));
}

void TestForm1::aLoneReadingReachesTheScreen_data()
{
    QTest::addColumn<bool>("hidden");
    // From the byte to the screen nothing waits for a timer: not the port's clock, not the
    // repaint's frame.
    QTest::newRow("after a quiet spell, waiting for no clock") << false;
    // Shown again, the window repaints with no reading after to bring the boxes up to date.
    QTest::newRow("while the window was hidden") << true;
}

void TestForm1::aLoneReadingReachesTheScreen()
{
    QFETCH(bool, hidden);
    // The text cursor's blink repaints too, and a reading just after it would wait for the end
    // of that frame.
    const int flashTime = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(0);
    const auto restoreFlash = qScopeGuard([&] { QApplication::setCursorFlashTime(flashTime); });
    load();
    QVERIFY(send(QByteArray(1, char(50))));
    QTRY_COMPARE(m_form->txtTemp->text(), QStringLiteral("25 C"));
    QTest::qWait(100); // a quiet spell: the port's clock and the last repaint's frame are over
    if (hidden)
        m_form->hide();

    TimerCount timers;
    m_form->Comm1->installEventFilter(&timers);
    for (QObject *child : m_form->children())
        if (!child->isWidgetType())
            child->installEventFilter(&timers);
    QStringList painted;
    int timersAtPaint = -1;
    PaintWatch watch(m_form->txtTemp, [&] {
        if (painted.isEmpty())
            timersAtPaint = timers.timers;
        painted << m_form->txtTemp->text() + QLatin1Char('|') + m_form->txtIndex->text();
    });
    QVERIFY(send(QByteArray(1, char(51))));
    QTRY_COMPARE(m_form->SampleIndex, qint64(2));
    if (hidden) {
        QTest::qWait(50);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }
    QTRY_VERIFY(!painted.isEmpty());
    QCOMPARE(painted.first(), QStringLiteral("25.5 C|2"));
    if (!hidden)
        QCOMPARE(timersAtPaint, 0);
}

void TestForm1::emptyReadIsNotAReading()
{
    load();
    m_form->txtTemp->setText(QStringLiteral("typed"));
    m_form->Comm1->raiseOnComm(SerialControl::ReceiveEvent); // nothing waits
    QCOMPARE(m_form->txtTemp->text(), QStringLiteral("typed"));
    QCOMPARE(m_form->txtIndex->text(), QString());
    QCOMPARE(m_form->SampleIndex, qint64(0));
    QVERIFY(!m_form->hasEnded());
}

void TestForm1::otherEventsChangeNothing_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("send") << int(SerialControl::SendEvent);
    QTest::newRow("CTS") << int(SerialControl::CtsEvent);
    QTest::newRow("DSR") << int(SerialControl::DsrEvent);
    QTest::newRow("CD") << int(SerialControl::CdEvent);
    QTest::newRow("ring") << int(SerialControl::RingEvent);
    QTest::newRow("end of file") << int(SerialControl::EndOfFileEvent);
    QTest::newRow("break") << int(SerialControl::BreakError);
    QTest::newRow("framing") << int(SerialControl::FramingError);
    QTest::newRow("overrun") << int(SerialControl::OverrunError);
    QTest::newRow("buffer overflow") << int(SerialControl::BufferOverflowError);
    QTest::newRow("parity") << int(SerialControl::ParityError);
    QTest::newRow("unknown") << 9999;
}

void TestForm1::otherEventsChangeNothing()
{
    QFETCH(int, code);
    load();
    // A byte waits, but only a receive event may take it.
    QVERIFY(send(QByteArray(1, char(50))));
    QTRY_COMPARE(m_form->txtTemp->text(), QStringLiteral("25 C"));
    QVERIFY(send(QByteArray(1, char(60))));
    m_form->Comm1->raiseOnComm(qint16(code));
    QCOMPARE(m_form->SampleIndex, qint64(1));
    QCOMPARE(m_form->txtTemp->text(), QStringLiteral("25 C"));
    QTRY_COMPARE(m_form->txtTemp->text(), QStringLiteral("30 C"));
}

void TestForm1::recordingOffDrawsNothingAndKeepsCounting()
{
    load();
    QVERIFY(send(QByteArray(600, char(50))));
    QTRY_COMPARE(m_form->txtIndex->text(), QStringLiteral("600"));
    QCOMPARE(m_form->SampleIndex, qint64(600));
    QVERIFY(bluePixels().isEmpty());
}

void TestForm1::startThenStopLeavesAClearChart()
{
    load();
    m_form->cmdPlot->click();
    QCOMPARE(m_form->cmdPlot->text(), QStringLiteral("S&top"));
    QCOMPARE(m_form->Shape1->FillColor(), rgbColor(255, 0, 0));
    QVERIFY(send(QByteArray(10, char(50))));
    QTRY_COMPARE(m_form->txtIndex->text(), QStringLiteral("10"));
    QVERIFY(!bluePixels().isEmpty());

    m_form->cmdPlot->click();
    QCOMPARE(m_form->cmdPlot->text(), QStringLiteral("S&tart"));
    QCOMPARE(m_form->Shape1->FillColor(), rgbColor(255, 255, 255));
    QCOMPARE(m_form->Plotting, qint16(0));
    QCOMPARE(m_form->SampleIndex, qint64(0));
    QVERIFY(bluePixels().isEmpty());
    // The counter box keeps its value until the next reading, which shows 1.
    QCOMPARE(m_form->txtIndex->text(), QStringLiteral("10"));
    QVERIFY(send(QByteArray(1, char(50))));
    QTRY_COMPARE(m_form->txtIndex->text(), QStringLiteral("1"));
}

void TestForm1::firstReadingAfterStartDrawsNoLineFromTheCorner()
{
    load();
    m_form->cmdPlot->click();
    QVERIFY(send(QByteArray(1, char(0)))); // 0 degrees: the bottom row
    QTRY_COMPARE(m_form->SampleIndex, qint64(1));
    QCOMPARE(bluePixels(), QList<QPoint>({QPoint(1, 164)}));
}

void TestForm1::recordingWrapsAtFiveHundredReadings()
{
    load();
    m_form->cmdPlot->click();
    QVERIFY(send(QByteArray(499, char(50)))); // 25 degrees: the middle row
    QTRY_COMPARE(m_form->txtIndex->text(), QStringLiteral("499"));
    const QList<QPoint> trace = bluePixels();
    QCOMPARE(trace.first(), QPoint(1, 82));
    QCOMPARE(trace.last(), QPoint(483, 82));

    QVERIFY(send(QByteArray(1, char(80)))); // 40 degrees, the reading that fills the chart
    QTRY_COMPARE(m_form->txtIndex->text(), QStringLiteral("500"));
    QCOMPARE(m_form->SampleIndex, qint64(0));
    QCOMPARE(bluePixels(), QList<QPoint>({QPoint(0, 33)}));

    QVERIFY(send(QByteArray(1, char(80))));
    QTRY_COMPARE(m_form->txtIndex->text(), QStringLiteral("1"));
    QCOMPARE(bluePixels(), QList<QPoint>({QPoint(0, 33), QPoint(1, 33)}));
}

void TestForm1::exitClosesThePortAndEnds()
{
    load();
    QSignalSpy ended(m_form.get(), &Form1::ended);
    QVERIFY(send(QByteArray(1, char(50))));
    QTRY_COMPARE(m_form->SampleIndex, qint64(1));
    QTest::mouseClick(m_form->cmdExit, Qt::LeftButton);
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), 0);
    QVERIFY(!m_form->Comm1->PortOpen());
    // The device still sending: nothing more is shown.
    send(QByteArray(5, char(60)));
    QTest::qWait(100);
    QCOMPARE(m_form->txtTemp->text(), QStringLiteral("25 C"));
    QVERIFY(m_reports.isEmpty());
}

void TestForm1::lostPortIsReportedOnceAndEnds_data()
{
    QTest::addColumn<bool>("hangUp");
    QTest::newRow("other end closed") << false;
    QTest::newRow("line hung up, as by an adapter pulled out") << true;
}

void TestForm1::lostPortIsReportedOnceAndEnds()
{
    QFETCH(bool, hangUp);
    const PortPair::Loss loss = hangUp ? PortPair::Loss::HungUp : PortPair::Loss::OtherEndClosed;
    if (const QString why = PortPair::cannotPullOut(loss); !why.isEmpty())
        QSKIP(qPrintable(why));
    load();
    QSignalSpy ended(m_form.get(), &Form1::ended);
    QVERIFY(send(QByteArray(100, char(50))));
    QVERIFY(m_line->pullOut(loss));
    QTRY_COMPARE(m_reports.size(), 1);
    QTest::qWait(200);
    QCOMPARE(m_reports.size(), 1);
    QCOMPARE(m_reports.at(0).number(), RuntimeError::PortLost);
    // In the program's words alone: the system's text for it is often stale.
    QCOMPARE(m_reports.at(0).description(),
             QStringLiteral("The serial port %1 was lost: the sensor was disconnected.")
                 .arg(m_line->deviceName()));
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), 1);
    QVERIFY(!m_form->Comm1->PortOpen());
    // Nothing is handled after the end: a click no longer toggles recording.
    m_form->cmdPlot->click();
    QCOMPARE(m_form->Plotting, qint16(0));
}

void TestForm1::portThatCannotOpenIsReportedBeforeTheChart()
{
#ifdef Q_OS_WIN
    const QString device = QStringLiteral("COM198");
    const QString reason = qt_error_string(ERROR_FILE_NOT_FOUND); // in the system's language
#else
    const QString device = QStringLiteral("/dev/thermometer-form1-no-such-device");
    const QString reason = QStringLiteral("No such file or directory");
#endif
    m_form = std::make_unique<Form1>(
        device, [this](const RuntimeError &error) { m_reports.append(error); });
    QSignalSpy ended(m_form.get(), &Form1::ended);
    m_form->Form_Load();
    QVERIFY(m_form->hasEnded());
    QCOMPARE(m_form->exitStatus(), 1);
    QCOMPARE(ended.size(), 1);
    QCOMPARE(m_reports.size(), 1);
    QCOMPARE(m_reports.at(0).number(), RuntimeError::PortOpenFailed);
    QVERIFY(m_reports.at(0).description().contains(device));
    QVERIFY(m_reports.at(0).description().contains(reason));
    // The chart was never set up.
    QVERIFY(m_form->Picture1->ScaleMode() != 0);
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
