// The program as released on the kernel's own serial drivers, in the lab's virtual machine
// (scripts/test-lab): the console on ttyS0, a 16550A on ttyS1, ttyS2 and ttyS3 with no UART,
// an FTDI adapter as ttyUSB0. The host feeds the lines and pulls the adapter out when asked on
// the control line. Each case prints what the kernel logged while it ran.
//
// It refuses to run anywhere but in the lab: the program it starts chooses its own port.

#include "support/closerequest.h"
#include "support/processcpu.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTest>
#include <QVersionNumber>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const QString Uart = QStringLiteral("/dev/ttyS1");
const QString Adapter = QStringLiteral("/dev/ttyUSB0");
// The main window's fixed size tells it apart from the report box, which has the same title.
const QSize MainWindowSize(598, 267);
constexpr int Rate = 3840;
constexpr int FloodReadings = 100000;
// Plain emulation runs the guest several times slower than a PC: waits are generous.
constexpr int StartMs = 60000;

// The lab's copy of the program, built beside this test.
QString programPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/thermometer-lab");
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

struct Window
{
    QString id;
    QSize size;
};

QList<Window> visibleWindows()
{
    QList<Window> windows;
    const QStringList ids = run(QStringLiteral("xdotool"),
                                {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                 QStringLiteral("--name"), QStringLiteral("^Thermometer$")})
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &id : ids) {
        const QString shell
            = run(QStringLiteral("xdotool"),
                  {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
        const QRegularExpressionMatch width
            = QRegularExpression(QStringLiteral("WIDTH=(\\d+)")).match(shell);
        const QRegularExpressionMatch height
            = QRegularExpression(QStringLiteral("HEIGHT=(\\d+)")).match(shell);
        windows.append({id, QSize(width.captured(1).toInt(), height.captured(1).toInt())});
    }
    return windows;
}

// The ttys process \a pid has open.
QStringList openTtys(qint64 pid)
{
    QStringList ttys;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget();
        if (target.startsWith(QLatin1String("/dev/tty")) && !ttys.contains(target))
            ttys.append(target);
    }
    return ttys;
}

// The 8250 driver's line for ttyS1: its UART, counts and modem lines.
QString uartStatus()
{
    QFile status(QStringLiteral("/proc/tty/driver/serial"));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("1: "))
            return QString::fromLatin1(line);
    return {};
}

// Takes ttyS1's UART away from the kernel's view, or gives it back, as setserial does: without
// one the port is what ttyS2 and ttyS3 are, a port with no hardware behind it.
bool setUartPresent(bool present)
{
    const int fd = ::open("/dev/ttyS1", O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    serial_struct serial {};
    bool done = ::ioctl(fd, TIOCGSERIAL, &serial) == 0;
    serial.type = present ? PORT_16550A : PORT_UNKNOWN;
    done = done && ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
    ::close(fd);
    return done;
}

QString shownTemperature(int reading)
{
    return QLocale::c().toString(reading / 2.0, 'g', QLocale::FloatingPointShortest)
        + QStringLiteral(" C");
}

QString lineOf(const QString &device)
{
    return device == Uart ? QStringLiteral("uart") : QStringLiteral("usb");
}

// The Windows program's process under Wine and the Wine server, which does its port's I/O.
QList<qint64> wineProcesses()
{
    QList<qint64> pids;
    for (const QString &name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = name.toLongLong(&isPid);
        QFile comm(QStringLiteral("/proc/%1/comm").arg(name));
        if (!isPid || !comm.open(QIODevice::ReadOnly))
            continue;
        const QByteArray command = comm.readAll();
        if (command.startsWith("thermometer-lab") || command.startsWith("wineserver"))
            pids.append(pid);
    }
    return pids;
}

} // namespace

class TestLab : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void portChoice_data();
    void portChoice();
    void readingsAreAllCounted_data();
    void readingsAreAllCounted();
    void deliveries_data();
    void deliveries();
    void unplugAsQtSeesIt();
    void pulledOutIsReportedOnce_data();
    void pulledOutIsReportedOnce();
    void quietIsNotLost_data();
    void quietIsNotLost();
    void breakIsNotAReading_data();
    void breakIsNotAReading();
    void modemLinesOnWhileOpen_data();
    void modemLinesOnWhileOpen();
    void openFailureHintFollowsWhatFailed_data();
    void openFailureHintFollowsWhatFailed();
    void windowsOnTheAdapter_data();
    void windowsOnTheAdapter();

private:
    QString ask(const QString &request);
    void setAdapterPresent(bool present);
    void start(const QString &expectedPort, const QStringList &command = {});
    template<typename Found> Window waitForWindow(Found found, int timeoutMs);
    /// Feeds \a count readings at \a rate (0: as fast as the line takes) and returns the last.
    int feed(const QString &device, int rate, int count, int seed);
    void closeAndCheckShown(qint64 readings, int last);
    Window pullOut(bool streaming);
    void dismissTheReport(const Window &box);
    void printKernelLog();

    int m_control = -1;
    int m_kmsg = -1;
    bool m_adapterPresent = true;
    QProcess m_program;
    QByteArray m_stderr;
    Window m_main;
};

void TestLab::initTestCase()
{
    QFile cmdline(QStringLiteral("/proc/cmdline"));
    QVERIFY(cmdline.open(QIODevice::ReadOnly));
    if (!cmdline.readAll().contains("thermometer.lab="))
        QFAIL("not in the lab's guest: the program would choose this machine's ports");
    const QByteArray control = qgetenv("THERMOMETER_LAB_CONTROL");
    // Not inherited: the line opens once only, and the programs started here must not hold it.
    m_control = ::open(control.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY2(m_control >= 0, control.constData());
    m_kmsg = ::open("/dev/kmsg", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(m_kmsg >= 0);
    ::lseek(m_kmsg, 0, SEEK_END);
    QVERIFY(QFileInfo::exists(Adapter));
}

void TestLab::init()
{
    m_stderr.clear();
    m_main = {};
    m_program.disconnect(this);
    connect(&m_program, &QProcess::readyReadStandardError, this, [this] {
        m_stderr += m_program.readAllStandardError();
        // The Windows build's standard error is in text mode.
        m_stderr.replace("\r\n", "\n");
    });
    ask(QStringLiteral("say %1 %2")
            .arg(QLatin1String(QTest::currentTestFunction()),
                 QLatin1String(QTest::currentDataTag())));
}

void TestLab::cleanup()
{
    if (m_program.state() != QProcess::NotRunning) {
        m_program.kill();
        m_program.waitForFinished(10000);
    }
    if (!m_stderr.isEmpty())
        qInfo("the program wrote: %s", m_stderr.constData());
    printKernelLog();
    ask(QStringLiteral("stop uart"));
    ask(QStringLiteral("stop usb"));
    setAdapterPresent(true);
    QVERIFY(setUartPresent(true));
}

QString TestLab::ask(const QString &request)
{
    const QByteArray line = request.toUtf8() + '\n';
    if (::write(m_control, line.constData(), size_t(line.size())) != line.size())
        return QStringLiteral("error writing to the control line");
    QByteArray reply;
    char byte = 0;
    while (::read(m_control, &byte, 1) == 1 && byte != '\n')
        reply += byte;
    return QString::fromUtf8(reply);
}

void TestLab::printKernelLog()
{
    char record[8192];
    ssize_t size = 0;
    while ((size = ::read(m_kmsg, record, sizeof record - 1)) > 0 || (size < 0 && errno == EPIPE)) {
        if (size <= 0)
            continue; // records overwritten before they were read
        // "level,sequence,time,flags;message", then the device's own lines, left out.
        const QByteArray text(record, int(size));
        const qsizetype start = text.indexOf(';') + 1;
        qInfo("kernel: %s", text.mid(start, text.indexOf('\n', start) - start).constData());
    }
}

void TestLab::setAdapterPresent(bool present)
{
    if (present == m_adapterPresent)
        return;
    const QString answer = ask(present ? QStringLiteral("plug") : QStringLiteral("unplug"));
    QVERIFY2(answer == QLatin1String("ok"), qPrintable(answer));
    m_adapterPresent = present;
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(Adapter) == present, 30000);
    run(QStringLiteral("udevadm"), {QStringLiteral("settle")});
}

// Starts the program (\a command: another way to run it, such as tests/lab/windows) and,
// unless \a expectedPort is empty, waits for its window.
void TestLab::start(const QString &expectedPort, const QStringList &command)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_program.setProcessEnvironment(environment);
    if (command.isEmpty())
        m_program.start(programPath(), {});
    else
        m_program.start(command.first(), command.mid(1));
    QVERIFY(m_program.waitForStarted(10000));
    if (expectedPort.isEmpty())
        return;
    // Wine starts a program in seconds more, many of them under emulation.
    m_main = waitForWindow([](const Window &window) { return window.size == MainWindowSize; },
                           command.isEmpty() ? StartMs : 3 * StartMs);
    QVERIFY2(!m_main.id.isEmpty(), m_stderr.constData());
    // The console and the ports with no UART are never opened: only the sensor's is. (Under
    // Wine the port is held by a process of Wine's, and Wine sees no other.)
    if (command.isEmpty())
        QCOMPARE(openTtys(m_program.processId()), QStringList {expectedPort});
}

template<typename Found> Window TestLab::waitForWindow(Found found, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    do {
        for (const Window &window : visibleWindows())
            if (found(window))
                return window;
        QTest::qWait(200);
    } while (waited.elapsed() < timeoutMs && m_program.state() == QProcess::Running);
    return {};
}

int TestLab::feed(const QString &device, int rate, int count, int seed)
{
    const QString line = lineOf(device);
    const QString started
        = ask(QStringLiteral("feed %1 --rate %2 --count %3 --seed %4")
                  .arg(line, rate > 0 ? QString::number(rate) : QStringLiteral("max"))
                  .arg(count)
                  .arg(seed));
    if (started != QLatin1String("ok"))
        return -1;
    const QString fed = ask(QStringLiteral("fed ") + line);
    const QRegularExpressionMatch written
        = QRegularExpression(QStringLiteral("^ok 0 .* (\\d+) readings written, the last (\\d+)"))
              .match(fed);
    qInfo("%s", qPrintable(fed));
    if (!written.hasMatch() || written.captured(1).toInt() != count)
        return -1;
    return written.captured(2).toInt();
}

// Closes the window once the program has taken everything the line holds, and checks that its
// boxes showed every reading and the last one.
// Pulls the adapter out, after 3 s of readings at the sensor's rate or 1 s of quiet, and waits
// for the report; returns its box once the report is written, none if either did not come.
Window TestLab::pullOut(bool streaming)
{
    if (streaming) {
        if (ask(QStringLiteral("feed usb --rate %1").arg(Rate)) != QLatin1String("ok"))
            return {};
        QTest::qWait(3000);
    } else {
        QTest::qWait(1000);
    }
    QElapsedTimer sinceUnplug;
    sinceUnplug.start();
    if (ask(QStringLiteral("unplug")) != QLatin1String("ok"))
        return {};
    m_adapterPresent = false;
    const Window box
        = waitForWindow([](const Window &window) { return window.size != MainWindowSize; }, 30000);
    qInfo("report box %lld ms after the unplug", sinceUnplug.elapsed());
    ask(QStringLiteral("stop usb"));
    const bool reported
        = QTest::qWaitFor([this] { return m_stderr.contains("Run-time error"); }, 10000);
    return reported ? box : Window {};
}

// Dismisses the report with Return: the program ends with status 1, having reported once.
void TestLab::dismissTheReport(const Window &box)
{
    run(QStringLiteral("xdotool"),
        {QStringLiteral("windowfocus"), QStringLiteral("--sync"), box.id});
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
    QVERIFY(m_program.waitForFinished(30000));
    QVERIFY2(m_program.exitCode() == 1, m_stderr.constData());
    QCOMPARE(m_stderr.count("Run-time error"), 1);
}

void TestLab::closeAndCheckShown(qint64 readings, int last)
{
    // The sensor has seen its socket drained; the kernel and the program may still hold some.
    QTest::qWait(3000);
    QVERIFY(sendCloseRequest(m_main.id.toULong()));
    QVERIFY(m_program.waitForFinished(30000));
    m_stderr += m_program.readAllStandardError();
    QCOMPARE(m_program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(m_program.exitCode() == 0, m_stderr.constData());
    QVERIFY2(m_stderr.contains("counter shown at exit: " + QByteArray::number(readings) + '\n'),
             m_stderr.constData());
    QVERIFY2(
        m_stderr.contains("temperature shown at exit: " + shownTemperature(last).toUtf8() + '\n'),
        m_stderr.constData());
}

void TestLab::portChoice_data()
{
    QTest::addColumn<bool>("adapter");
    QTest::addColumn<bool>("uart");
    QTest::addColumn<bool>("udevData"); // udev's database of devices, where Qt finds vendors
    QTest::addColumn<QString>("chosen"); // empty: none found
    QTest::newRow("adapter and UART") << true << true << true << Adapter;
    // As in a container, or a system that runs no udev.
    QTest::newRow("adapter and UART, no udev database") << true << true << false << Adapter;
    QTest::newRow("UART alone") << false << true << true << Uart;
    QTest::newRow("neither") << false << false << true << QString();
}

void TestLab::portChoice()
{
    QFETCH(bool, adapter);
    QFETCH(bool, uart);
    QFETCH(bool, udevData);
    QFETCH(QString, chosen);
    setAdapterPresent(adapter);
    QVERIFY(setUartPresent(uart));
    const QString data = QStringLiteral("/run/udev/data");
    const QString hidden = QStringLiteral("/run/udev/data.hidden");
    if (!udevData)
        QVERIFY(QDir().rename(data, hidden));
    const auto restore = qScopeGuard([&] {
        if (!udevData)
            QDir().rename(hidden, data);
    });
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        qInfo("QSerialPortInfo: %s (%s): description '%s', manufacturer '%s', serial '%s', "
              "vendor %s, product %s",
              qPrintable(info.portName()), qPrintable(info.systemLocation()),
              qPrintable(info.description()), qPrintable(info.manufacturer()),
              qPrintable(info.serialNumber()),
              info.hasVendorIdentifier() ? qPrintable(QString::number(info.vendorIdentifier(), 16))
                                         : "none",
              info.hasProductIdentifier()
                  ? qPrintable(QString::number(info.productIdentifier(), 16))
                  : "none");
    qInfo("/dev/serial/by-id: %s",
          qPrintable(QDir(QStringLiteral("/dev/serial/by-id"))
                         .entryList(QDir::System)
                         .join(QLatin1Char(' '))));

    start(chosen);
    if (!chosen.isEmpty()) {
        QVERIFY(sendCloseRequest(m_main.id.toULong()));
        QVERIFY(m_program.waitForFinished(30000));
        QCOMPARE(m_program.exitCode(), 0);
        return;
    }
    const Window box = waitForWindow([](const Window &) { return true; }, StartMs);
    QVERIFY2(!box.id.isEmpty(), m_stderr.constData());
    QVERIFY(box.size != MainWindowSize);
    QTRY_VERIFY_WITH_TIMEOUT(m_stderr.contains("Run-time error 1001: No serial port was found"),
                             10000);
    QCOMPARE(openTtys(m_program.processId()), QStringList());
    run(QStringLiteral("xdotool"),
        {QStringLiteral("windowfocus"), QStringLiteral("--sync"), box.id});
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
    QVERIFY(m_program.waitForFinished(30000));
    QCOMPARE(m_program.exitCode(), 1);
}

void TestLab::readingsAreAllCounted_data()
{
    QTest::addColumn<QString>("device");
    // What QEMU's device was told by the driver, as its trace events say.
    QTest::addColumn<QStringList>("lineSettings");
    QTest::newRow("16550A") << Uart
                            << QStringList {QStringLiteral(
                                   "serial_update_parameters baudrate=38400 parity='N' data=8 "
                                   "stop=1")};
    QTest::newRow("FTDI") << Adapter
                          << QStringList {QStringLiteral("usb_serial_set_baud dev 0:1 baud rate "
                                                         "38400"),
                                          QStringLiteral("usb_serial_set_data dev 0:1 parity N, "
                                                         "data bits 8, stop bits 1")};
}

void TestLab::readingsAreAllCounted()
{
    QFETCH(QString, device);
    QFETCH(QStringList, lineSettings);
    setAdapterPresent(device == Adapter);
    start(device);
    for (const QString &expected : lineSettings) {
        const QString event = expected.section(QLatin1Char(' '), 0, 0);
        const QString settings = ask(QStringLiteral("trace ") + event);
        qInfo("the line as QEMU's device was last set: %s", qPrintable(settings));
        QVERIFY2(settings.endsWith(expected), qPrintable(settings));
    }

    QElapsedTimer took;
    took.start();
    QVERIFY(feed(device, Rate, Rate * 10, 1) >= 0);
    qInfo("%d readings at %d a second in %lld ms", Rate * 10, Rate, took.restart());
    const int last = feed(device, 0, FloodReadings, 2);
    QVERIFY(last >= 0);
    qInfo("a flood of %d in %lld ms", FloodReadings, took.elapsed());
    closeAndCheckShown(Rate * 10 + FloodReadings, last);
    if (device == Uart)
        qInfo("8250: %s", qPrintable(uartStatus()));
}

void TestLab::deliveries_data()
{
    QTest::addColumn<QString>("device");
    QTest::newRow("16550A") << Uart;
    QTest::newRow("FTDI") << Adapter;
}

// How the driver hands the sensor's bytes over at its rate: bytes per wake-up of a reader.
void TestLab::deliveries()
{
    QFETCH(QString, device);
    setAdapterPresent(device == Adapter);
    QSerialPort port(device);
    QVERIFY2(port.open(QIODevice::ReadOnly), qPrintable(port.errorString()));
    QVERIFY(port.setBaudRate(QSerialPort::Baud38400));
    qint64 bytes = 0;
    int reads = 0;
    connect(&port, &QSerialPort::readyRead, this, [&] {
        bytes += port.readAll().size();
        ++reads;
    });
    const int count = Rate * 3;
    QVERIFY(
        ask(QStringLiteral("feed %1 --rate %2 --count %3").arg(lineOf(device)).arg(Rate).arg(count))
        == QLatin1String("ok"));
    QTRY_VERIFY_WITH_TIMEOUT(bytes >= count, 60000);
    qInfo("%lld bytes in %d reads at %d a second: %.1f bytes a read", bytes, reads, Rate,
          double(bytes) / std::max(reads, 1));
    QVERIFY(ask(QStringLiteral("fed ") + lineOf(device)).startsWith(QLatin1String("ok 0")));
    QCOMPARE(bytes, qint64(count));
}

// What QSerialPort itself makes of the adapter pulled out, on the Qt at hand: the program has
// to learn of the loss from it. Qt 6.4 and 6.11 report an error; Qt 6.5 to 6.10 report none
// and their read notifier fires without end.
void TestLab::unplugAsQtSeesIt()
{
    QSerialPort port(Adapter);
    QVERIFY2(port.open(QIODevice::ReadOnly), qPrintable(port.errorString()));
    QStringList errors;
    int readyReads = 0;
    connect(&port, &QSerialPort::errorOccurred, this, [&](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError && errors.size() < 5)
            errors.append(QStringLiteral("%1 (%2)").arg(int(error)).arg(port.errorString()));
        if (error != QSerialPort::NoError)
            port.close(); // Qt repeats the error as long as the port stays open
    });
    connect(&port, &QSerialPort::readyRead, this, [&] { ++readyReads; });
    QTest::qWait(500);
    QCOMPARE(ask(QStringLiteral("unplug")), QStringLiteral("ok"));
    m_adapterPresent = false;
    const double before = cpuSeconds(::getpid());
    QTest::qWait(3000);
    const double used = cpuSeconds(::getpid()) - before;
    qInfo("Qt %s: errors %s; %d readyRead; %.2f s of CPU in 3 s; waitForReadyRead(0) %s, "
          "then error %d",
          qVersion(), qPrintable(errors.join(QStringLiteral(", "))), readyReads, used,
          port.isOpen() ? (port.waitForReadyRead(0) ? "true" : "false") : "not asked (closed)",
          int(port.error()));
    const QVersionNumber qt = QVersionNumber::fromString(QLatin1String(qVersion()));
    const bool reportsIt = qt < QVersionNumber(6, 5) || qt >= QVersionNumber(6, 11);
    QCOMPARE(!errors.isEmpty(), reportsIt);
}

void TestLab::pulledOutIsReportedOnce_data()
{
    QTest::addColumn<bool>("streaming");
    QTest::newRow("while readings stream") << true;
    QTest::newRow("while the port is quiet") << false;
}

void TestLab::pulledOutIsReportedOnce()
{
    QFETCH(bool, streaming);
    start(Adapter);
    const Window box = pullOut(streaming);
    QVERIFY2(!box.id.isEmpty(), m_stderr.constData());
    QVERIFY2(m_stderr.contains("Run-time error 1002: The serial port /dev/ttyUSB0 was lost: the "
                               "sensor was disconnected.\n"),
             m_stderr.constData());
    QVERIFY(!QFileInfo::exists(Adapter));

    const double before = cpuSeconds(m_program.processId());
    QTest::qWait(3000);
    const double used = cpuSeconds(m_program.processId()) - before;
    qInfo("%.2f s of CPU in 3 s while the report waits", used);
    QVERIFY2(before >= 0 && used < 0.1, qPrintable(QString::number(used)));
    dismissTheReport(box);
    QCOMPARE(m_program.exitStatus(), QProcess::NormalExit);
}

void TestLab::quietIsNotLost_data()
{
    deliveries_data();
}

void TestLab::quietIsNotLost()
{
    QFETCH(QString, device);
    setAdapterPresent(device == Adapter);
    start(device);
    QVERIFY(feed(device, 0, 100, 3) >= 0);
    const Window box
        = waitForWindow([](const Window &window) { return window.size != MainWindowSize; }, 10000);
    QVERIFY2(box.id.isEmpty(), m_stderr.constData());
    QCOMPARE(m_program.state(), QProcess::Running);
    QVERIFY(sendCloseRequest(m_main.id.toULong()));
    QVERIFY(m_program.waitForFinished(30000));
    QVERIFY2(m_program.exitCode() == 0, m_stderr.constData());
    QVERIFY2(!m_stderr.contains("Run-time error"), m_stderr.constData());
}

void TestLab::breakIsNotAReading_data()
{
    deliveries_data();
}

void TestLab::breakIsNotAReading()
{
    QFETCH(QString, device);
    setAdapterPresent(device == Adapter);
    start(device);
    QVERIFY(feed(device, 0, 1000, 4) >= 0);
    QCOMPARE(ask(QStringLiteral("break ") + lineOf(device)), QStringLiteral("ok"));
    const int last = feed(device, 0, 1000, 5);
    QVERIFY(last >= 0);
    if (device == Uart) {
        const QString status = uartStatus();
        qInfo("8250: %s", qPrintable(status));
        QVERIFY2(status.contains(QLatin1String("brk:1")), qPrintable(status));
    }
    closeAndCheckShown(2000, last);
}

void TestLab::modemLinesOnWhileOpen_data()
{
    deliveries_data();
}

void TestLab::modemLinesOnWhileOpen()
{
    QFETCH(QString, device);
    setAdapterPresent(device == Adapter);
    start(device);
    QTest::qWait(1000);
    if (device == Uart) {
        const QString status = uartStatus();
        qInfo("8250: %s", qPrintable(status));
        QVERIFY2(status.contains(QLatin1String("DTR")) && status.contains(QLatin1String("RTS")),
                 qPrintable(status));
    } else {
        const QString lines = ask(QStringLiteral("modem usb"));
        qInfo("what the adapter was told: %s", qPrintable(lines));
        QCOMPARE(lines, QStringLiteral("ok dtr=1 rts=1"));
    }
}

void TestLab::openFailureHintFollowsWhatFailed_data()
{
    QTest::addColumn<bool>("locksReadOnly");
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<bool>("busyHint");
    QTest::newRow("another program holds the port")
        << false << QByteArray("Permission error while locking the device") << true;
    QTest::newRow("no lock directory it may write")
        << true << QByteArray("Permission error while creating lock file") << false;
}

// The busy-port hint where the port is busy, and only there.
void TestLab::openFailureHintFollowsWhatFailed()
{
    QFETCH(bool, locksReadOnly);
    QFETCH(QByteArray, reason);
    QFETCH(bool, busyHint);
    QSerialPort holder(Adapter);
    if (locksReadOnly) {
        // Every lock directory QSerialPort tries, read-only for the program alone (root may
        // write where permissions say no).
        const QString readOnly = QStringLiteral(
            "for d in /var/lock /etc/locks /var/spool/locks /var/spool/uucp /tmp /var/tmp"
            " /var/lock/lockdev /run/lock; do [ -d \"$d\" ] || continue;"
            " mount --bind \"$d\" \"$d\" && mount -o remount,bind,ro \"$d\" || exit 3; done;"
            " exec \"$1\"");
        start(QString(),
              {QStringLiteral("unshare"), QStringLiteral("--mount"), QStringLiteral("sh"),
               QStringLiteral("-c"), readOnly, QStringLiteral("sh"), programPath()});
    } else {
        QVERIFY2(holder.open(QIODevice::ReadOnly), qPrintable(holder.errorString()));
        start(QString());
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_stderr.contains("Run-time error 1001"), StartMs);
    QVERIFY2(m_stderr.contains("Cannot open serial port /dev/ttyUSB0: " + reason + '.'),
             m_stderr.constData());
    QCOMPARE(m_stderr.contains("Another program is using the port"), busyHint);
}

void TestLab::windowsOnTheAdapter_data()
{
    QTest::addColumn<bool>("pulledOut");
    QTest::newRow("readings") << false;
    QTest::newRow("pulled out while readings stream") << true;
}

// The Windows build under Wine on the FTDI adapter, the COM port Wine gave it the only one.
void TestLab::windowsOnTheAdapter()
{
    QFETCH(bool, pulledOut);
    if (!QFileInfo::exists(QStringLiteral("/lab/windows")))
        QSKIP("the Windows build is given to the lab's Windows pass alone");
    const QString windows = qEnvironmentVariable("THERMOMETER_LAB_WINDOWS");
    QFile prepared(QStringLiteral("/lab/out/windows-prepare.log"));
    QVERIFY2(!windows.isEmpty(),
             prepared.open(QIODevice::ReadOnly) ? prepared.readAll().constData() : "no log");
    QFile ports(QStringLiteral("/run/lab-windows/files/ports.txt"));
    QVERIFY(ports.open(QIODevice::ReadOnly));
    const QString com = QString::fromLatin1(ports.readAll()).section(QLatin1Char(' '), 0, 0);
    qInfo("Wine's port for %s: %s", qPrintable(Adapter), qPrintable(com));
    QVERIFY(com.startsWith(QLatin1String("COM")));
    start(Adapter, {windows, QStringLiteral("run")});

    if (!pulledOut) {
        // Wine's port settings would drop DTR unless the program sets it, as on Windows.
        QCOMPARE(ask(QStringLiteral("modem usb")), QStringLiteral("ok dtr=1 rts=1"));
        QVERIFY(feed(Adapter, Rate, Rate * 10, 6) >= 0);
        const int last = feed(Adapter, 0, FloodReadings, 7);
        QVERIFY(last >= 0);
        // On the emulated CPU the program under Wine still counts for many seconds what the
        // kernel holds: it has taken it all once it and Wine's server use no more CPU.
        const QList<qint64> pids = wineProcesses();
        QVERIFY(pids.size() >= 2);
        qInfo("Wine went quiet %lld ms after the sensor's last reading",
              waitUntilQuiet(pids, 1000, 0.1, 180000));
        closeAndCheckShown(Rate * 10 + FloodReadings, last);
        return;
    }
    const Window box = pullOut(true);
    QVERIFY2(!box.id.isEmpty(), m_stderr.constData());
    QVERIFY2(m_stderr.contains("Run-time error 1002: The serial port " + com.toLatin1()
                               + " was lost: the sensor was disconnected.\n"),
             m_stderr.constData());
    dismissTheReport(box);
}

QTEST_GUILESS_MAIN(TestLab)
#include "tst_lab.moc"
