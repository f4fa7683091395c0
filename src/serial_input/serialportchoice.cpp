#include "serial_input/serialportchoice.h"

#include <QFile>
#include <QSerialPortInfo>

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The run of digits in \a text from \a at on, without its leading zeros; \a at moves past it.
QStringView numberAt(QStringView text, qsizetype &at)
{
    const qsizetype start = at;
    while (at < text.size() && isAsciiDigit(text[at]))
        ++at;
    QStringView number = text.mid(start, at - start);
    while (number.size() > 1 && number.front() == QLatin1Char('0'))
        number = number.mid(1);
    return number;
}

// Whether \a a comes before \a b with runs of digits compared as numbers, as the system numbers
// its ports: ttyUSB2 before ttyUSB10, COM2 before COM10.
bool naturallyBefore(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            const QStringView x = numberAt(a, i);
            const QStringView y = numberAt(b, j);
            if (x.size() != y.size())
                return x.size() < y.size();
            if (const int order = x.compare(y); order != 0)
                return order < 0;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return i == a.size() && j < b.size();
}

// macOS lists each port twice; its dial-in tty. device waits for the carrier, the cu. one not.
bool isDialIn(const QString &name)
{
    return name.startsWith(QStringLiteral("tty."));
}

bool ranksBefore(const SerialPortDescription &a, const SerialPortDescription &b)
{
    // A sensor is most likely on an adapter: computers seldom have a port of their own now.
    if (a.usbAdapter != b.usbAdapter)
        return a.usbAdapter;
    if (isDialIn(a.name) != isDialIn(b.name))
        return !isDialIn(a.name);
    return naturallyBefore(a.name, b.name);
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
        port.device = info.systemLocation();
        port.usbAdapter = info.hasVendorIdentifier();
#ifdef Q_OS_LINUX
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
