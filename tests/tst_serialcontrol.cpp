#include "main_window/runtimeerror.h"
#include "serial_input/openfailuretext.h"
#include "serial_input/serialcontrol.h"
#include "support/portpair.h"
#include "support/timercount.h"

#include <QAbstractEventDispatcher>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include <ctime>
#ifdef Q_OS_UNIX
#include <poll.h>
#include <termios.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

#ifdef Q_OS_WIN
bool underWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}
#endif

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

class TestSerialControl : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensWithTheStoredLineSettings();
    void deliversEveryByteInItsOwnEvent_data();
    void deliversEveryByteInItsOwnEvent();
    void aHandlerThatReadsNothingIsNotCalledAgainAndAgain();
    void bytesLeftByAReadOutsideAnEventAreStillDelivered();
    void noTimerRunsOnceBytesStop_data();
    void noTimerRunsOnceBytesStop();
    void aSteadyStreamTurnsTheEventLoopAboutOnceAFrame();
    void theLineIsDrainedWhileTheWindowIsBusy();
    void noReceiveEventsWithoutAThreshold();
    void lostPortIsClosedOnceAndReportedOnce_data();
    void lostPortIsClosedOnceAndReportedOnce();
    void aQuietPortIsNeverLost_data();
    void aQuietPortIsNeverLost();
    void openFailureNamesTheDeviceAndTheReason_data();
    void openFailureNamesTheDeviceAndTheReason();
    void openFailureHintsFollowFromWhatFailed_data();
    void openFailureHintsFollowFromWhatFailed();
    void closingAClosedPortDoesNothing();
    void portOneIsTheFirstOfTheSystemsPorts_data();
    void portOneIsTheFirstOfTheSystemsPorts();

private:
    void openControl();

    std::unique_ptr<PortPair> m_line;
    std::unique_ptr<SerialControl> m_control;
    QByteArray m_received;
    int m_events = 0;
};

void TestSerialControl::init()
{
    if (const QString why = PortPair::unavailable(); !why.isEmpty())
        QSKIP(qPrintable(why));
    m_line = std::make_unique<PortPair>();
    QVERIFY(m_line->isValid());
    m_control = std::make_unique<SerialControl>(m_line->deviceName());
    m_received.clear();
    m_events = 0;
    // The window's handler: one read of Input per receive event.
    connect(m_control.get(), &SerialControl::OnComm, this, [this] {
        ++m_events;
        if (m_control->CommEvent() == SerialControl::ReceiveEvent)
            m_received += m_control->Input();
    });
}

void TestSerialControl::cleanup()
{
    m_control.reset();
    m_line.reset();
}

void TestSerialControl::openControl()
{
    m_control->setCommPort(1);
    m_control->setRThreshold(1);
    m_control->setSThreshold(1);
    m_control->setPortOpen(true);
    QVERIFY(m_control->PortOpen());
}

void TestSerialControl::opensWithTheStoredLineSettings()
{
#ifdef Q_OS_UNIX
    openControl();
    termios line {};
    QCOMPARE(tcgetattr(m_line->masterFd(), &line), 0);
    QCOMPARE(cfgetispeed(&line), speed_t(B38400));
    QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(line.c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(line.c_cflag & CSTOPB, tcflag_t(0));
    // A break or a garbled byte must not come through as a NUL, a reading of 0 degrees.
    QCOMPARE(line.c_iflag & (IGNBRK | IGNPAR), tcflag_t(IGNBRK | IGNPAR));
    // Nothing is written to the line, the modem lines set as it opens included.
    pollfd written {m_line->masterFd(), POLLIN, 0};
    QCOMPARE(poll(&written, 1, 100), 0);
#else
    // DTR and RTS cannot be read back under Wine either: it does not answer
    // IOCTL_SERIAL_GET_DTRRTS ("Invalid parameter"). The virtual machine's UART shows them.
    QSKIP("the line's settings are read from a pseudo-terminal's other end, which only Unix has");
#endif
}

void TestSerialControl::deliversEveryByteInItsOwnEvent_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QByteArray everyValue;
    for (int value = 0; value < 256; ++value)
        everyValue += char(value);
    QByteArray burst;
    for (int i = 0; i < 1000; ++i)
        burst += char(i % 251);

    QTest::newRow("one byte") << QByteArray(1, char(49));
    QTest::newRow("NUL is a reading") << QByteArray(3, '\0');
    QTest::newRow("every byte value, flow-control and line characters too") << everyValue;
    QTest::newRow("a burst of 1000 written at once") << burst;
    QTest::newRow("beyond the receive buffer") << burst.repeated(20);
}

void TestSerialControl::deliversEveryByteInItsOwnEvent()
{
    QFETCH(QByteArray, bytes);
    openControl();
    QVERIFY(m_line->write(bytes));
    QTRY_COMPARE_WITH_TIMEOUT(m_received.size(), bytes.size(), 10000);
    QCOMPARE(m_received, bytes);
    QCOMPARE(m_events, bytes.size());
}

void TestSerialControl::aHandlerThatReadsNothingIsNotCalledAgainAndAgain()
{
    m_control->disconnect(this);
    connect(m_control.get(), &SerialControl::OnComm, this, [this] { ++m_events; });
    openControl();
    QVERIFY(m_line->write(QByteArray(10, 'x')));
    QTRY_VERIFY(m_events > 0);
    QTest::qWait(200);
    QCOMPARE(m_events, 1);
}

void TestSerialControl::bytesLeftByAReadOutsideAnEventAreStillDelivered()
{
    bool reading = false;
    m_control->disconnect(this);
    connect(m_control.get(), &SerialControl::OnComm, this, [&] {
        ++m_events;
        if (reading && m_control->CommEvent() == SerialControl::ReceiveEvent)
            m_received += m_control->Input();
    });
    openControl();
    // The handler leaves the bytes in the buffer, where the device no longer announces them.
    QVERIFY(m_line->write("abc"));
    QTRY_COMPARE(m_events, 1);
    QTest::qWait(50);
    reading = true;
    m_received += m_control->Input();
    QTRY_COMPARE(m_received, QByteArray("abc"));
    QCOMPARE(m_events, 3);
}

void TestSerialControl::noTimerRunsOnceBytesStop_data()
{
    QTest::addColumn<int>("bytes");
    QTest::newRow("a lone byte") << 1;
    QTest::newRow("a stream, read on the clock while it lasts") << 200;
}

void TestSerialControl::noTimerRunsOnceBytesStop()
{
    QFETCH(int, bytes);
    TimerCount count;
    m_control->installEventFilter(&count);
    int timersAtFirstByte = -1;
    connect(m_control.get(), &SerialControl::OnComm, this, [&] {
        if (timersAtFirstByte < 0)
            timersAtFirstByte = count.timers;
    });
    openControl();
    // One byte at a time, each a fraction of a millisecond after the last.
    for (int i = 0; i < bytes; ++i) {
        QVERIFY(m_line->write(QByteArray(1, char(i))));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(100);
    }
    QTRY_COMPARE(m_received.size(), bytes);
    // The first byte after a quiet spell waits for no clock.
    QCOMPARE(timersAtFirstByte, 0);
    // The clock that read the stream stops within a frame or two of its last byte.
    QTest::qWait(4 * SerialControl::FrameMilliseconds);
    count.timers = 0;
    QTest::qWait(200);
    QCOMPARE(count.timers, 0);
}

// At the sensor's line rate, one byte a write (the worst case: the line wakes its reader for
// every byte), the port is read once a frame: the program's event loop turns a few times a
// frame, not once a byte.
void TestSerialControl::aSteadyStreamTurnsTheEventLoopAboutOnceAFrame()
{
    openControl();
    int turns = 0;
    // Counted only while this test runs: the counter goes with it.
    const QObject counting;
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
            &counting, [&] { ++turns; });
    std::atomic<int> written {0};
    PortPair::Feed sensor(*m_line, [&](PortPair::Feed &feed) {
        for (int i = 0; i < 3840; ++i) {
            if (feed.write(QByteArray(1, char(i)), 1000) != 1)
                return;
            ++written;
            std::this_thread::sleep_for(std::chrono::microseconds(260));
        }
    });
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    const int turnsInASecond = turns;
    sensor.join();
    QTRY_COMPARE(m_received.size(), qsizetype(written));
    QVERIFY2(written > 1000, qPrintable(QString::number(written)));
    QVERIFY2(turnsInASecond * 4 < written,
             qPrintable(
                 QStringLiteral("%1 turns for %2 bytes").arg(turnsInASecond).arg(written.load())));
}

// The window's thread held for 3 s while the sensor writes 3840 readings a second: the line is
// drained all the while, and afterwards every reading comes in order.
void TestSerialControl::theLineIsDrainedWhileTheWindowIsBusy()
{
    openControl();
    QByteArray readings;
    for (int i = 0; i < 3 * 3840; ++i)
        readings += char(i * 7 % 256);
    std::atomic<qint64> mostUntaken {0};
    PortPair::Feed sensor(*m_line, [&](PortPair::Feed &feed) {
        const auto start = std::chrono::steady_clock::now();
        for (qsizetype i = 0; i < readings.size(); ++i) {
            std::this_thread::sleep_until(start + i * std::chrono::microseconds(260));
            if (feed.write(readings.mid(i, 1), 1000) != 1)
                return;
            mostUntaken = std::max(mostUntaken.load(), m_line->untaken());
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(3)); // no event loop meanwhile
    sensor.join();
    QTRY_COMPARE_WITH_TIMEOUT(m_received.size(), readings.size(), 10000);
    QCOMPARE(m_received, readings);
    // A frame brings 64 readings: what waited in the system stays within a frame or two, and a
    // loaded machine may hold the reader back a few frames more. A reader that stopped would
    // leave thousands.
    if (m_line->untaken() >= 0)
        QVERIFY2(mostUntaken <= 8 * 64, qPrintable(QString::number(mostUntaken)));
    qInfo("at most %lld bytes waited in the system", qint64(mostUntaken));
}

void TestSerialControl::noReceiveEventsWithoutAThreshold()
{
    m_control->setPortOpen(true);
    QVERIFY(m_line->write(QByteArray(10, 'x')));
    QTest::qWait(200);
    QCOMPARE(m_events, 0);
}

void TestSerialControl::lostPortIsClosedOnceAndReportedOnce_data()
{
    QTest::addColumn<int>("bytesBefore");
    QTest::addColumn<bool>("hangUp");
    QTest::newRow("other end closed while idle") << 0 << false;
    QTest::newRow("other end closed mid-stream") << 3000 << false;
    // What an adapter's driver does when it is pulled out.
    QTest::newRow("line hung up while idle") << 0 << true;
    QTest::newRow("line hung up mid-stream") << 3000 << true;
}

void TestSerialControl::lostPortIsClosedOnceAndReportedOnce()
{
    QFETCH(int, bytesBefore);
    QFETCH(bool, hangUp);
    const PortPair::Loss loss = hangUp ? PortPair::Loss::HungUp : PortPair::Loss::OtherEndClosed;
    if (const QString why = PortPair::cannotPullOut(loss); !why.isEmpty())
        QSKIP(qPrintable(why));
    QSignalSpy lost(m_control.get(), &SerialControl::Lost);
    openControl();
    QVERIFY(m_line->write(QByteArray(bytesBefore, '2')));
    QVERIFY(m_line->pullOut(loss));

    const double cpuBefore = processCpuSeconds();
    QTRY_COMPARE(lost.size(), 1);
    QVERIFY(!m_control->PortOpen());
    QTest::qWait(500);
    // A port whose errors were left to repeat would burn the whole half second.
    QVERIFY2(processCpuSeconds() - cpuBefore < 0.2,
             qPrintable(QString::number(processCpuSeconds() - cpuBefore)));
    QCOMPARE(lost.size(), 1);
    QVERIFY(m_received.size() <= bytesBefore);
}

void TestSerialControl::aQuietPortIsNeverLost_data()
{
    QTest::addColumn<int>("bytesBefore");
    QTest::newRow("silent since it opened") << 0;
    QTest::newRow("silent after a stream") << 3000;
}

// The event loop wakes for other work while the port says nothing: it is asked each time, and
// must not be taken for lost.
void TestSerialControl::aQuietPortIsNeverLost()
{
    QFETCH(int, bytesBefore);
    QSignalSpy lost(m_control.get(), &SerialControl::Lost);
    openControl();
    QVERIFY(m_line->write(QByteArray(bytesBefore, '2')));
    QTRY_COMPARE(m_received.size(), bytesBefore);
    int wakes = 0;
    const QObject counting;
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &counting,
            [&] { ++wakes; });
    // Other work: a timer that wakes the event loop a hundred times.
    QEventLoop loop;
    QTimer other;
    int ticks = 0;
    connect(&other, &QTimer::timeout, &loop, [&] {
        if (++ticks == 100)
            loop.quit();
    });
    other.start(2);
    loop.exec();
    QVERIFY2(wakes >= 50, qPrintable(QString::number(wakes)));
    QCOMPARE(lost.size(), 0);
    QVERIFY(m_control->PortOpen());
    // And it still delivers.
    QVERIFY(m_line->write("7"));
    QTRY_COMPARE(m_received.size(), bytesBefore + 1);
}

void TestSerialControl::openFailureNamesTheDeviceAndTheReason_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("heldByAnother");
    QTest::addColumn<QString>("reason");
#ifdef Q_OS_WIN
    // The system's own words, in its language.
    QTest::newRow("missing device") << "COM199" << false << qt_error_string(ERROR_FILE_NOT_FOUND);
#else
    QTest::newRow("missing device")
        << "/dev/thermometer-no-such-device" << false << "No such file or directory";
#endif
    QTest::newRow("port in use") << QString() << true << "Another program is using the port";
}

void TestSerialControl::openFailureNamesTheDeviceAndTheReason()
{
    QFETCH(QString, device);
    QFETCH(bool, heldByAnother);
    QFETCH(QString, reason);
#ifdef Q_OS_WIN
    if (heldByAnother && underWine())
        QSKIP("Wine opens a serial port a second time, where Windows refuses it");
#endif
    if (heldByAnother) {
        openControl();
        device = m_line->deviceName();
    }
    SerialControl control(device);
    control.setRThreshold(1);
    try {
        control.setPortOpen(true);
        QFAIL("the port opened");
    } catch (const RuntimeError &error) {
        QCOMPARE(error.number(), RuntimeError::PortOpenFailed);
        QVERIFY2(error.description().contains(device), qPrintable(error.description()));
        QVERIFY2(error.description().contains(reason), qPrintable(error.description()));
    }
    QVERIFY(!control.PortOpen());
}

void TestSerialControl::openFailureHintsFollowFromWhatFailed_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("hint"); // empty: no hint at all
    const QString inUse = QStringLiteral("Another program is using the port");
#ifdef Q_OS_UNIX
    // Qt's own reasons; the device itself is one the user may open.
    QTest::newRow("locked by another program")
        << int(QSerialPort::PermissionError) << "/dev/null"
        << "Permission error while locking the device" << inUse;
    QTest::newRow("a lock directory it may not write")
        << int(QSerialPort::PermissionError) << "/dev/null"
        << "Permission error while creating lock file" << QString();
    QTest::newRow("a device it may not open")
        << int(QSerialPort::PermissionError) << "/dev/thermometer-no-such-device"
        << "Permission denied" << "'dialout' group";
#else
    QTest::newRow("access denied")
        << int(QSerialPort::PermissionError) << "COM3" << "Access is denied." << inUse;
#endif
}

void TestSerialControl::openFailureHintsFollowFromWhatFailed()
{
    QFETCH(int, error);
    QFETCH(QString, device);
    QFETCH(QString, reason);
    QFETCH(QString, hint);
    const QStringList lines = openFailureText(device, QSerialPort::SerialPortError(error), reason)
                                  .split(QLatin1Char('\n'));
    // One full stop, where the system's reason brought its own.
    QCOMPARE(lines.first(),
             QStringLiteral("Cannot open serial port %1: %2.")
                 .arg(device, reason.chopped(reason.endsWith(QLatin1Char('.')))));
    QCOMPARE(lines.size(), hint.isEmpty() ? 1 : 2);
    if (!hint.isEmpty())
        QVERIFY2(lines.last().contains(hint), qPrintable(lines.last()));
}

void TestSerialControl::closingAClosedPortDoesNothing()
{
    openControl();
    m_control->setPortOpen(false);
    m_control->setPortOpen(false);
    QVERIFY(!m_control->PortOpen());
    // Bytes sent after the close are never delivered.
    m_line->write("12");
    QTest::qWait(100);
    QCOMPARE(m_events, 0);
}

void TestSerialControl::portOneIsTheFirstOfTheSystemsPorts_data()
{
    QTest::addColumn<bool>("adapterPlugged");
    QTest::newRow("the adapter, not the console's port") << true;
    QTest::newRow("none but the console's port") << false;
}

void TestSerialControl::portOneIsTheFirstOfTheSystemsPorts()
{
    QFETCH(bool, adapterPlugged);
    // The pty stands for a USB adapter; nothing of this machine's own is ever offered.
    const auto systemPorts = [&] {
        QList<SerialPortDescription> ports {{QStringLiteral("ttyS0"),
                                             QStringLiteral("/dev/thermometer-console"), false,
                                             true, true}};
        if (adapterPlugged)
            ports.append({QStringLiteral("ttyUSB0"), m_line->deviceName(), true, true, false});
        return ports;
    };
    SerialControl control(QString(), nullptr, systemPorts);
    try {
        control.setPortOpen(true);
        QVERIFY(adapterPlugged);
        // Every report of the port names the device it opened.
        QCOMPARE(control.deviceName(), m_line->deviceName());
    } catch (const RuntimeError &error) {
        QVERIFY2(!adapterPlugged, qPrintable(error.description()));
        QCOMPARE(error.number(), RuntimeError::PortOpenFailed);
        QCOMPARE(error.description(), noSerialPortText());
    }
    QCOMPARE(control.PortOpen(), adapterPlugged);
}

QTEST_GUILESS_MAIN(TestSerialControl)
#include "tst_serialcontrol.moc"
