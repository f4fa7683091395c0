#include "serial_input/serialportchoice.h"

#include <QCollator>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSerialPortInfo>

namespace {

bool ranksBefore(const SerialPortDescription &a, const SerialPortDescription &b)
{
    // A sensor is most likely on an adapter: computers seldom have a port of their own now.
    if (a.usbAdapter != b.usbAdapter)
        return a.usbAdapter;
    // In the system's numbering: ttyUSB2 before ttyUSB10, COM2 before COM10. Port names are
    // plain ASCII, so any locale's collation orders them alike; the C locale's has no numeric
    // mode. On macOS, which lists each port twice, the call-out cu. device sorts before its
    // dial-in tty. twin, which would wait for the carrier.
    static const QCollator numbering = [] {
        QCollator collator {QLocale(QLocale::English)};
        collator.setNumericMode(true);
        return collator;
    }();
    return numbering.compare(a.name, b.name) < 0;
}

} // namespace

std::optional<SerialPortDescription>
chooseFirstSerialPort(const QList<SerialPortDescription> &ports)
{
    std::optional<SerialPortDescription> chosen;
    for (const SerialPortDescription &port : ports) {
        // Reading the console's line would take it over; a port with no UART never answers.
        if (port.carriesConsole || !port.hasHardware)
            continue;
        if (!chosen || ranksBefore(port, *chosen))
            chosen = port;
    }
    return chosen;
}

#ifdef Q_OS_LINUX
QStringList consoleTtys(const QString &ttyClass)
{
    QFile active(ttyClass + QStringLiteral("/console/active"));
    if (!active.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(active.readAll())
        .simplified()
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool isUsbSerialTty(const QString &name)
{
    static const QRegularExpression usbName(QStringLiteral("^tty(USB|ACM)[0-9]+$"));
    return usbName.match(name).hasMatch();
}

bool hasUart(const QString &ttyClass, const QString &name)
{
    // Serial-core ports exist whether or not a UART answered at boot; type 0 says none did.
    QFile type(ttyClass + QLatin1Char('/') + name + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return true;
    bool isNumber = false;
    const int value = type.readAll().trimmed().toInt(&isNumber);
    return !isNumber || value != 0;
}
#endif

QList<SerialPortDescription> describeSerialPorts()
{
#ifdef Q_OS_LINUX
    const QString ttyClass = QStringLiteral("/sys/class/tty");
    const QStringList consoles = consoleTtys(ttyClass);
#endif
    QList<SerialPortDescription> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        SerialPortDescription port;
        port.name = info.portName();
#ifdef Q_OS_WIN
        // Windows users know their ports as COM3, a name QSerialPort opens as it is; the system
        // location (\\.\COM3) is only the form the system's own calls take.
        port.device = info.portName();
#else
        port.device = info.systemLocation();
#endif
        port.usbAdapter = info.hasVendorIdentifier();
#ifdef Q_OS_LINUX
        // Qt has the vendor from udev's database, which a system without udev running (a
        // container, a small virtual machine) lacks; the kernel's name for the device tells.
        port.usbAdapter = port.usbAdapter || isUsbSerialTty(port.name);
        // Qt asks the UART itself only of ports straight under the 8250 driver, which newer
        // kernels no longer have; the type attribute tells for every serial-core port.
        port.hasHardware = hasUart(ttyClass, port.name);
        port.carriesConsole = consoles.contains(port.name);
#endif
        ports.append(port);
    }
    return ports;
}

QString noSerialPortText()
{
    return QStringLiteral("No serial port was found for the sensor. Plug the sensor in and start "
                          "Thermometer again, or build Thermometer with "
                          "-DTHERMOMETER_FIRST_SERIAL_PORT=DEVICE to name its device.");
}
