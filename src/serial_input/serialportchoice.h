#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

/// One serial port of the system, as the choice of serial port 1 sees it.
struct SerialPortDescription
{
    QString name; ///< as the system numbers it: ttyUSB0, COM3, cu.usbserial-1410
    QString device; ///< what to open: /dev/ttyUSB0, COM3, /dev/cu.usbserial-1410
    bool usbAdapter = false; ///< a USB serial adapter (a USB vendor identifier, or its Linux name)
    bool hasHardware = true; ///< false for a port with no UART behind it
    bool carriesConsole = false; ///< the system console is written to it
};

/// Serial port 1 among \a ports: neither the console's port nor one with no hardware; USB
/// adapters before the computer's own ports; within each, the lowest in natural order (ttyUSB2
/// before ttyUSB10, COM2 before COM10), a call-out cu. device before a dial-in tty. one. Of
/// ports that rank the same, the first listed. Nothing when no port qualifies.
std::optional<SerialPortDescription>
chooseFirstSerialPort(const QList<SerialPortDescription> &ports);

/// This system's serial ports as QSerialPortInfo lists them; on Linux with the console's ports
/// and those with no UART marked from sysfs. Opens no port itself.
QList<SerialPortDescription> describeSerialPorts();

#ifdef Q_OS_LINUX
/// The ttys the system console is written to, as \a ttyClass/console/active names them
/// ("tty0 ttyS0"); \a ttyClass is /sys/class/tty. Empty when the file cannot be read.
QStringList consoleTtys(const QString &ttyClass);

/// Whether the tty \a name is a USB serial device by the kernel's naming alone: ttyUSB0 (an
/// adapter's driver, FTDI and the like) or ttyACM0 (a USB modem-class device).
bool isUsbSerialTty(const QString &name);

/// Whether a UART may be behind the tty \a name: false only when its serial-core "type"
/// attribute under \a ttyClass reads 0. Ports without the attribute (USB adapters) have one.
bool hasUart(const QString &ttyClass, const QString &name);
#endif

/// The report when no port can stand for serial port 1: what happened and what to do.
QString noSerialPortText();
