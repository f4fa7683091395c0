#include "serial_input/serialportchoice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

class TestSerialPortChoice : public QObject
{
    Q_OBJECT

private slots:
    void choice_data();
    void choice();
    void linuxTtyClass_data();
    void linuxTtyClass();
    void systemPortsAreNamedAsTheUserKnowsThem();
};

// Each port as "name flags...", such as "ttyUSB0 usb" or "ttyS0 console nohw".
void TestSerialPortChoice::choice_data()
{
    QTest::addColumn<QString>("ports");
    QTest::addColumn<QString>("chosen"); // empty: none

    QTest::newRow("USB adapter before the computer's port") << "ttyS0,ttyS1,ttyUSB0 usb"
                                                            << "ttyUSB0";
    QTest::newRow("numbers counted as numbers") << "ttyUSB10 usb,ttyUSB2 usb"
                                                << "ttyUSB2";
    QTest::newRow("the lower number, listed second") << "ttyUSB1 usb,ttyUSB0 usb"
                                                     << "ttyUSB0";
    QTest::newRow("the name before the number") << "ttyUSB0 usb,ttyACM7 usb"
                                                << "ttyACM7";
    QTest::newRow("cu. before a lower-numbered tty.")
        << "tty.usbserial-110 usb,cu.usbserial-1410 usb"
        << "cu.usbserial-1410";
    QTest::newRow("a console skipped, USB or not")
        << "ttyUSB0 usb console,ttyUSB1 usb,ttyS0 console"
        << "ttyUSB1";
    QTest::newRow("COM ports: a USB adapter first") << "COM10,COM3,COM1 usb" << "COM1";
    QTest::newRow("COM ports: numbers counted as numbers") << "COM10,COM3,COM4" << "COM3";
    QTest::newRow("a port with no UART skipped") << "ttyS0 nohw,ttyS1 nohw,ttyS2"
                                                 << "ttyS2";
    QTest::newRow("none but the console and ports with no UART")
        << "ttyS0 console,ttyS1 nohw,ttyS2 nohw"
        << "";
}

void TestSerialPortChoice::choice()
{
    QFETCH(QString, ports);
    QFETCH(QString, chosen);
    QList<SerialPortDescription> descriptions;
    for (const QString &port : ports.split(QLatin1Char(','))) {
        const QStringList words = port.split(QLatin1Char(' '));
        descriptions.append({words.first(), QStringLiteral("/dev/") + words.first(),
                             words.contains(QStringLiteral("usb")),
                             !words.contains(QStringLiteral("nohw")),
                             words.contains(QStringLiteral("console"))});
    }
    const auto port = chooseFirstSerialPort(descriptions);
    QCOMPARE(port ? port->name : QString(), chosen);
    if (port)
        QCOMPARE(port->device, QStringLiteral("/dev/") + chosen);
}

void TestSerialPortChoice::linuxTtyClass_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("active"); // null: no console/active file
    QTest::addColumn<QByteArray>("type"); // null: no type attribute
    QTest::addColumn<bool>("console");
    QTest::addColumn<bool>("uart");
    QTest::addColumn<bool>("usb"); // a USB serial device by its name alone

    QTest::newRow("console on ttyS0")
        << "ttyS0" << QByteArray("tty0 ttyS0\n") << QByteArray("4\n") << true << true << false;
    QTest::newRow("console on ttyS10, not ttyS1")
        << "ttyS1" << QByteArray("ttyS10\n") << QByteArray("4\n") << false << true << false;
    QTest::newRow("no UART") << "ttyS3" << QByteArray("tty0\n") << QByteArray("0\n") << false
                             << false << false;
    QTest::newRow("USB adapter, no type attribute")
        << "ttyUSB0" << QByteArray("ttyUSB0\n") << QByteArray() << true << true << true;
    QTest::newRow("USB modem-class device")
        << "ttyACM12" << QByteArray("tty0\n") << QByteArray() << false << true << true;
    QTest::newRow("a name that only begins like one")
        << "ttyUSBx" << QByteArray("tty0\n") << QByteArray() << false << true << false;
    QTest::newRow("console unknown")
        << "ttyS0" << QByteArray() << QByteArray("4\n") << false << true << false;
}

void TestSerialPortChoice::linuxTtyClass()
{
#ifdef Q_OS_LINUX
    QFETCH(QString, name);
    QFETCH(QByteArray, active);
    QFETCH(QByteArray, type);
    QFETCH(bool, console);
    QFETCH(bool, uart);
    QFETCH(bool, usb);

    // A stand-in for /sys/class/tty.
    const QTemporaryDir ttyClass;
    QVERIFY(ttyClass.isValid());
    const auto write = [&](const QString &dir, const QString &file, const QByteArray &content) {
        QVERIFY(QDir(ttyClass.path()).mkpath(dir));
        QFile out(ttyClass.filePath(dir + QLatin1Char('/') + file));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(content) == content.size());
    };
    if (!active.isNull())
        write(QStringLiteral("console"), QStringLiteral("active"), active);
    if (!type.isNull())
        write(name, QStringLiteral("type"), type);

    QCOMPARE(consoleTtys(ttyClass.path()).contains(name), console);
    QCOMPARE(hasUart(ttyClass.path(), name), uart);
    QCOMPARE(isUsbSerialTty(name), usb);
#else
    QSKIP("sysfs is Linux's");
#endif
}

// The test bed's port pair, as the system lists it: opened and reported by the names a user
// knows (COM5, not \\.\COM5).
void TestSerialPortChoice::systemPortsAreNamedAsTheUserKnowsThem()
{
    const QStringList pair = qEnvironmentVariable("THERMOMETER_TEST_PORTS")
                                 .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (pair.size() != 2)
        QSKIP("needs a port pair the system lists, named in THERMOMETER_TEST_PORTS (Windows)");
    const QList<SerialPortDescription> ports = describeSerialPorts();
    for (const QString &name : pair) {
        const auto port = std::find_if(ports.begin(), ports.end(),
                                       [&](const auto &listed) { return listed.name == name; });
        QVERIFY2(port != ports.end(), qPrintable(name));
        QCOMPARE(port->device, name);
    }
}

QTEST_GUILESS_MAIN(TestSerialPortChoice)
#include "tst_serialportchoice.moc"
