#include "serial_input/serialportchoice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

// Ports and what the tables say of them, such as "ttyUSB0 usb" or "ttyS0 console nohw".
static QList<SerialPortDescription> portsOf(const QStringList &lines)
{
    QList<SerialPortDescription> ports;
    for (const QString &line : lines) {
        const QStringList words = line.split(QLatin1Char(' '));
        SerialPortDescription port;
        port.name = words.first();
        port.device = port.name.startsWith(QStringLiteral("COM"))
            ? port.name
            : QStringLiteral("/dev/") + port.name;
        port.usbAdapter = words.contains(QStringLiteral("usb"));
        port.hasHardware = !words.contains(QStringLiteral("nohw"));
        port.carriesConsole = words.contains(QStringLiteral("console"));
        ports.append(port);
    }
    return ports;
}

static QStringList names(std::initializer_list<const char *> lines)
{
    QStringList list;
    for (const char *line : lines)
        list << QString::fromLatin1(line);
    return list;
}

class TestSerialPortChoice : public QObject
{
    Q_OBJECT

private slots:
    void choice_data();
    void choice();
    void linuxTtyClass_data();
    void linuxTtyClass();
};

void TestSerialPortChoice::choice_data()
{
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<QString>("chosen"); // empty: none

    QTest::newRow("USB adapter before the computer's port")
        << names({"ttyS0", "ttyS1", "ttyUSB0 usb"}) << "ttyUSB0";
    QTest::newRow("ACM adapter before the computer's port")
        << names({"ttyS4", "ttyACM0 usb"}) << "ttyACM0";
    QTest::newRow("USB COM3 before COM1") << names({"COM1", "COM3 usb"}) << "COM3";
    QTest::newRow("ttyUSB2 before ttyUSB10") << names({"ttyUSB10 usb", "ttyUSB2 usb"}) << "ttyUSB2";
    QTest::newRow("ttyUSB2 before ttyUSB10, listed in order")
        << names({"ttyUSB2 usb", "ttyUSB10 usb"}) << "ttyUSB2";
    QTest::newRow("ttyUSB0 before ttyUSB1") << names({"ttyUSB1 usb", "ttyUSB0 usb"}) << "ttyUSB0";
    QTest::newRow("COM2 before COM10") << names({"COM10", "COM2"}) << "COM2";
    QTest::newRow("ttyS2 before ttyS10") << names({"ttyS10", "ttyS2"}) << "ttyS2";
    QTest::newRow("the name before the number")
        << names({"ttyUSB0 usb", "ttyACM7 usb"}) << "ttyACM7";
    QTest::newRow("cu. before its tty. twin")
        << names({"tty.usbserial-1410 usb", "cu.usbserial-1410 usb"}) << "cu.usbserial-1410";
    QTest::newRow("cu. before a lower-numbered tty.")
        << names({"tty.usbserial-110 usb", "cu.usbserial-1410 usb"}) << "cu.usbserial-1410";
    QTest::newRow("the console's port skipped") << names({"ttyS0 console", "ttyS1"}) << "ttyS1";
    QTest::newRow("a USB console skipped")
        << names({"ttyUSB0 usb console", "ttyUSB1 usb", "ttyS0"}) << "ttyUSB1";
    QTest::newRow("a port with no UART skipped")
        << names({"ttyS0 nohw", "ttyS1 nohw", "ttyS2"}) << "ttyS2";
    QTest::newRow("no port") << names({}) << "";
    QTest::newRow("only the console and ports with no UART")
        << names({"ttyS0 console", "ttyS1 nohw", "ttyS2 nohw"}) << "";
}

void TestSerialPortChoice::choice()
{
    QFETCH(QStringList, ports);
    QFETCH(QString, chosen);
    const auto port = chooseFirstSerialPort(portsOf(ports));
    QCOMPARE(port ? port->name : QString(), chosen);
    if (port)
        QCOMPARE(port->device, portsOf(QStringList {chosen}).first().device);
}

void TestSerialPortChoice::linuxTtyClass_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("active"); // null: no console/active file
    QTest::addColumn<QByteArray>("type"); // null: no type attribute
    QTest::addColumn<bool>("console");
    QTest::addColumn<bool>("uart");

    QTest::newRow("console on ttyS0")
        << "ttyS0" << QByteArray("tty0 ttyS0\n") << QByteArray("4\n") << true << true;
    QTest::newRow("console on the screen only")
        << "ttyS0" << QByteArray("tty0\n") << QByteArray("4\n") << false << true;
    QTest::newRow("console on ttyS10, not ttyS1")
        << "ttyS1" << QByteArray("ttyS10\n") << QByteArray("4\n") << false << true;
    QTest::newRow("no UART") << "ttyS3" << QByteArray("tty0\n") << QByteArray("0\n") << false
                             << false;
    QTest::newRow("USB adapter, no type attribute")
        << "ttyUSB0" << QByteArray("ttyUSB0\n") << QByteArray() << true << true;
    QTest::newRow("console unknown")
        << "ttyS0" << QByteArray() << QByteArray("4\n") << false << true;
}

void TestSerialPortChoice::linuxTtyClass()
{
#ifdef Q_OS_LINUX
    QFETCH(QString, name);
    QFETCH(QByteArray, active);
    QFETCH(QByteArray, type);
    QFETCH(bool, console);
    QFETCH(bool, uart);

    // A stand-in for /sys/class/tty.
    const QTemporaryDir ttyClass;
    QVERIFY(ttyClass.isValid());
    const auto write = [&](const QString &path, const QByteArray &content) {
        QVERIFY(QDir(ttyClass.path()).mkpath(QFileInfo(path).path()));
        QFile file(ttyClass.filePath(path));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    };
    if (!active.isNull())
        write(QStringLiteral("console/active"), active);
    if (!type.isNull())
        write(name + QStringLiteral("/type"), type);

    QCOMPARE(consoleTtys(ttyClass.path()).contains(name), console);
    QCOMPARE(hasUart(ttyClass.path(), name), uart);
#else
    QSKIP("sysfs is Linux's");
#endif
}

QTEST_GUILESS_MAIN(TestSerialPortChoice)
#include "tst_serialportchoice.moc"
