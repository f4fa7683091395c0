#include "serial_input/serialcontrol.h"

#include "main_window/runtimeerror.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QThread>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <termios.h>
#endif

namespace {

// A wait for bytes ends after this even on a quiet port, so that the reader sees a close: it
// wakes ten times a second while nothing comes.
constexpr int WaitMilliseconds = 100;

// A take of this much or more is a flood, or a backlog in the system: the reader reads on at once
// instead of letting the rest of the frame go by. The sensor's line brings 64 bytes a frame.
constexpr qint64 FloodTake = 1024;

// How long one turn of receive events may hold the window's thread before clicks and repaints get
// theirs; the clock is read every few readings, as reading it costs more than some readings.
constexpr auto TurnLength = std::chrono::milliseconds(2);
constexpr int ReadingsBetweenClockReads = 16;

// Every byte value once: Input() hands out one of these, so a reading allocates nothing.
constexpr std::array<char, 256> everyByte()
{
    std::array<char, 256> bytes {};
    for (int value = 0; value < 256; ++value)
        bytes[size_t(value)] = char(value);
    return bytes;
}
constexpr std::array<char, 256> EveryByte = everyByte();

#ifdef Q_OS_UNIX
// A break or a garbled byte would otherwise come through as a NUL, a reading of 0 degrees: the
// system drops them instead. A true NUL byte still comes through. QSerialPort has no setting for
// this, so it is set on its open descriptor. The system's reason when that fails, else empty.
QString ignoreLineErrors(QSerialPort &port)
{
    termios mode {};
    if (tcgetattr(int(port.handle()), &mode) != 0)
        return qt_error_string(errno);
    mode.c_iflag |= IGNBRK | IGNPAR;
    if (tcsetattr(int(port.handle()), TCSANOW, &mode) != 0)
        return qt_error_string(errno);
    return {};
}
#endif

} // namespace

QString openFailureText(const QString &device, QSerialPort::SerialPortError error,
                        const QString &reason)
{
    // Windows' own texts end with a full stop of their own ("Invalid function."): one is enough.
    QString sentence = reason.trimmed();
    while (sentence.endsWith(QLatin1Char('.')))
        sentence.chop(1);
    const QString text = QStringLiteral("Cannot open serial port %1: %2.").arg(device, sentence);
    if (error != QSerialPort::PermissionError)
        return text;
    const QString inUse = QStringLiteral("\nAnother program is using the port; close it and start "
                                         "Thermometer again.");
#ifdef Q_OS_UNIX
    // Serial devices belong to a group; a user outside it may not open them at all.
    const QFileInfo info(device);
    if (!info.isReadable() || !info.isWritable())
        return text
            + QStringLiteral("\nYour user may not use serial ports: add it to the 'dialout' "
                             "group (sudo adduser $USER dialout) and log in again.");
    // Qt gives one error for a device another program has locked and for a lock file it could
    // not create (a lock directory it may not write): only its reason tells them apart.
    if (reason.contains(QLatin1String("locking the device")))
        return text + inUse;
    return text;
#else
    // Windows opens a serial port for one program at a time.
    return text + inUse;
#endif
}

SerialControl::SerialControl(const QString &firstPortDevice, QObject *parent, PortList systemPorts)
    : QObject(parent)
    , m_firstPortDevice(firstPortDevice)
    , m_systemPorts(std::move(systemPorts))
{
}

SerialControl::~SerialControl()
{
    closePort();
}

void SerialControl::setCommPort(qint16 port)
{
    if (port < 1)
        throw RuntimeError(RuntimeError::InvalidPortNumber,
                           QStringLiteral("Invalid serial port number %1.").arg(port));
    if (PortOpen())
        throw RuntimeError(RuntimeError::InvalidPropertyValue,
                           QStringLiteral("The port number cannot change while the port is open."));
    m_commPort = port;
}

void SerialControl::setRThreshold(qint16 threshold)
{
    if (threshold < 0)
        throw RuntimeError(RuntimeError::InvalidPropertyValue,
                           QStringLiteral("Invalid receive threshold %1.").arg(threshold));
    m_rThreshold = threshold;
}

void SerialControl::setSThreshold(qint16 threshold)
{
    if (threshold < 0)
        throw RuntimeError(RuntimeError::InvalidPropertyValue,
                           QStringLiteral("Invalid send threshold %1.").arg(threshold));
    m_sThreshold = threshold;
}

QString SerialControl::deviceName() const
{
    if (m_commPort != 1)
        return {};
    return m_firstPortDevice.isEmpty() ? m_chosenDevice : m_firstPortDevice;
}

// The device pinned for CommPort 1, or else the first of the system's serial ports.
QString SerialControl::deviceToOpen()
{
    if (m_commPort != 1)
        throw RuntimeError(RuntimeError::InvalidPortNumber,
                           QStringLiteral("No device stands for serial port %1.").arg(m_commPort));
    if (!m_firstPortDevice.isEmpty())
        return m_firstPortDevice;
    const std::optional<SerialPortDescription> chosen = chooseFirstSerialPort(m_systemPorts());
    if (!chosen)
        throw RuntimeError(RuntimeError::PortOpenFailed, noSerialPortText());
    m_chosenDevice = chosen->device;
    return m_chosenDevice;
}

void SerialControl::setPortOpen(bool open)
{
    if (!open) {
        closePort();
        return;
    }
    if (PortOpen())
        throw RuntimeError(RuntimeError::InvalidPropertyValue,
                           QStringLiteral("Serial port %1 is already open.").arg(deviceName()));
    const QString device = deviceToOpen();
    // Every page of the buffer is touched now, so that what the program holds stays the same
    // however full the buffer gets.
    m_buffer.assign(size_t(InBufferSize), 0);
    std::promise<Opening> opened;
    std::future<Opening> opening = opened.get_future();
    m_reader.reset(QThread::create(
        [this, device, opened = std::move(opened)]() mutable { readPort(device, opened); }));
    m_reader->setObjectName(QStringLiteral("Comm1 reader"));
    m_reader->start();
    const Opening outcome = opening.get();
    if (outcome.error != QSerialPort::NoError) {
        closePort();
        throw RuntimeError(RuntimeError::PortOpenFailed,
                           openFailureText(device, outcome.error, outcome.reason));
    }
    // Bytes that came before the port opened are announced as soon as the event loop runs.
}

QByteArray SerialControl::Input()
{
    if (InBufferCount() == 0)
        return {};
    const auto byte = quint8(m_buffer[size_t(m_tail)]);
    m_tail = (m_tail + 1) % InBufferSize;
    m_count.fetch_sub(1, std::memory_order_release);
    ++m_taken;
    // A read outside an event may leave bytes behind that nothing would announce again.
    if (!m_delivering && InBufferCount() > 0)
        queueDelivery();
    return QByteArray::fromRawData(&EveryByte[byte], 1);
}

qint64 SerialControl::InBufferCount() const
{
    return PortOpen() ? m_count.load(std::memory_order_acquire) : 0;
}

void SerialControl::raiseOnComm(qint16 code)
{
    m_commEvent = code;
    emit OnComm();
}

// On the reader's thread, for as long as the port is open.
void SerialControl::readPort(const QString &device, std::promise<Opening> &opened)
{
    QSerialPort port(device);
    // Set before opening, so the port never runs at another speed and a device that refuses a
    // setting fails to open rather than delivering wrong readings.
    port.setBaudRate(BaudRate);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadOnly)) {
        opened.set_value({port.error(), port.errorString()});
        return;
    }
#ifdef Q_OS_UNIX
    if (const QString reason = ignoreLineErrors(port); !reason.isEmpty()) {
        opened.set_value({QSerialPort::UnknownError, reason});
        return;
    }
#endif
    // Many sensors on boards with their own USB send nothing until DTR is on, and QSerialPort
    // leaves the lines as it found them on some systems. A line with no modem lines (a
    // pseudo-terminal) refuses both, which changes nothing.
    port.setDataTerminalReady(true);
    port.setRequestToSend(true);
    opened.set_value({});
    readUntilStopped(port);
}

// Blocking reads, as QSerialPort documents them for a thread of its own.
void SerialControl::readUntilStopped(QSerialPort &port)
{
    while (!m_stopping) {
        port.clearError();
        const QDeadlineTimer timeUp(WaitMilliseconds);
        if (port.waitForReadyRead(WaitMilliseconds)) {
            const QDeadlineTimer frameEnd(FrameMilliseconds);
            const QByteArray bytes = port.readAll();
            if (!hand(bytes))
                return;
            // What comes next waits in the system until the frame is over: a trickle of bytes
            // wakes the reader once a frame, not once a byte.
            if (bytes.size() < FloodTake)
                QThread::msleep(ulong(frameEnd.remainingTime()));
            continue;
        }
        // The wait ends with bytes, an error or its time-out. Qt 6.5 to 6.10 also end it at once
        // with no error when the line has hung up (end of file), and Qt on Windows ends it with no
        // error once its time is up: only a wait cut short, or an error, is a line gone.
        if (port.error() == QSerialPort::TimeoutError
            || (port.error() == QSerialPort::NoError && timeUp.hasExpired()))
            continue;
        m_lineLost = true;
        queueDelivery();
        return;
    }
}

// On the reader's thread: puts \a bytes into the buffer behind those already there. While the
// buffer is full the reader reads no more, and the system holds what comes. False once the port
// is being closed.
bool SerialControl::hand(const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 room = InBufferSize - m_count.load(std::memory_order_acquire);
        if (room == 0) {
            QThread::msleep(FrameMilliseconds);
            if (m_stopping)
                return false;
            continue;
        }
        const qint64 size = std::min(room, bytes.size() - done);
        const qint64 first = std::min(size, InBufferSize - m_head);
        std::memcpy(m_buffer.data() + m_head, bytes.constData() + done, size_t(first));
        std::memcpy(m_buffer.data(), bytes.constData() + done + first, size_t(size - first));
        m_head = (m_head + size) % InBufferSize;
        m_count.fetch_add(size, std::memory_order_release);
        done += size;
        queueDelivery();
    }
    return true;
}

// From either thread: the window's thread delivers once more, and is told no more than that.
void SerialControl::queueDelivery()
{
    if (!m_deliveryQueued.exchange(true))
        QMetaObject::invokeMethod(this, &SerialControl::deliver, Qt::QueuedConnection);
}

// On the window's thread: a turn of receive events, one for each byte that waits.
void SerialControl::deliver()
{
    m_deliveryQueued = false;
    if (m_delivering || !PortOpen())
        return;
    if (m_lineLost) {
        closePort();
        emit Lost();
        return;
    }
    // Without a threshold there are no receive events: the bytes wait in the buffer, and then in
    // the system.
    if (m_rThreshold < 1)
        return;
    const QScopedValueRollback<bool> delivering(m_delivering, true);
    const auto turnEnd = std::chrono::steady_clock::now() + TurnLength;
    int untilClockRead = ReadingsBetweenClockReads;
    while (InBufferCount() >= m_rThreshold) {
        const quint64 taken = m_taken;
        raiseOnComm(ReceiveEvent);
        if (!PortOpen())
            return;
        // A handler that takes nothing is asked again when more bytes come, not in a busy loop.
        if (m_taken == taken)
            break;
        if (--untilClockRead > 0)
            continue;
        untilClockRead = ReadingsBetweenClockReads;
        const auto now = std::chrono::steady_clock::now();
        if (now < turnEnd)
            continue;
        // A backlog: the rest comes after clicks and repaints.
        queueDelivery();
        break;
    }
    emit Delivered();
}

// The reader ends within a wait, and the port closes with it.
void SerialControl::closePort()
{
    if (!m_reader)
        return;
    m_stopping = true;
    m_reader->wait();
    m_reader.reset();
    m_stopping = false;
    m_lineLost = false;
    m_count = 0;
    m_head = 0;
    m_tail = 0;
}
