#include "serial_input/serialcontrol.h"

#include "main_window/runtimeerror.h"
#include "serial_input/serialline.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QTimerEvent>

#include <array>
#include <chrono>
#include <cstring>

namespace {

// Posted to the control itself: the next turn of receive events, once clicks and repaints have
// had theirs; and the close after a loss, which must not happen inside the device's own
// notification.
const QEvent::Type ReceiveQueued = QEvent::Type(QEvent::User + 1);
const QEvent::Type LossQueued = QEvent::Type(QEvent::User + 2);

// How long one turn of receive events may hold the event loop before clicks and repaints get
// theirs; the clock is read every few readings, as reading it costs more than some readings.
constexpr auto TurnLength = std::chrono::microseconds(500);
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

QString openFailureText(const QString &device, SerialLine::Failure failure, const QString &reason)
{
    const QString text = QStringLiteral("Cannot open serial port %1: %2.").arg(device, reason);
    if (failure != SerialLine::Denied)
        return text;
#ifdef Q_OS_UNIX
    // Serial devices belong to a group; a user outside it may not open them at all.
    const QFileInfo info(device);
    if (!info.isReadable() || !info.isWritable())
        return text
            + QStringLiteral("\nYour user may not use serial ports: add it to the 'dialout' "
                             "group (sudo adduser $USER dialout) and log in again.");
#endif
    return text
        + QStringLiteral("\nAnother program is using the port; close it and start "
                         "Thermometer again.");
}

} // namespace

SerialControl::SerialControl(const QString &firstPortDevice, QObject *parent)
    : QObject(parent)
    , m_firstPortDevice(firstPortDevice)
    , m_line(new SerialLine(this))
{
    connect(m_line, &SerialLine::arrival, this, &SerialControl::arrival);
}

SerialControl::~SerialControl()
{
    // Nothing of ours may run while we are being destroyed.
    m_line->disconnect(this);
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

bool SerialControl::PortOpen() const
{
    return m_line->isOpen();
}

QString SerialControl::deviceName() const
{
    return m_commPort == 1 ? m_firstPortDevice : QString();
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
    const QString device = deviceName();
    if (device.isEmpty())
        throw RuntimeError(RuntimeError::InvalidPortNumber,
                           QStringLiteral("No device stands for serial port %1.").arg(m_commPort));

    SerialLine::Failure failure = SerialLine::NoFailure;
    QString reason;
    if (!m_line->open(device, &failure, &reason))
        throw RuntimeError(RuntimeError::PortOpenFailed, openFailureText(device, failure, reason));
    m_next = m_end = 0;
    m_moreMayWait = false;
    m_lossQueued = false;
    // Bytes that came before the port opened are announced as soon as the event loop runs.
    m_line->setWatching(true);
}

QByteArray SerialControl::Input()
{
    if (m_next == m_end && fill() <= 0)
        return {};
    QByteArray byte = QByteArray::fromRawData(&EveryByte[quint8(m_buffer[m_next++])], 1);
    // A read outside a turn (not in answer to one of our events) may leave bytes behind that
    // the device will not announce again: a turn must come for them.
    if (!m_delivering && InBufferCount() > 0)
        queueDelivery();
    return byte;
}

void SerialControl::raiseOnComm(qint16 code)
{
    m_commEvent = code;
    emit OnComm();
}

bool SerialControl::event(QEvent *event)
{
    if (event->type() == ReceiveQueued) {
        m_deliveryQueued = false;
        deliver();
        return true;
    }
    if (event->type() == LossQueued) {
        m_lossQueued = false;
        if (PortOpen()) {
            const QString reason = m_line->lostReason();
            closePort();
            emit Lost(reason);
        }
        return true;
    }
    return QObject::event(event);
}

// Bytes came while the device was watched: read and deliver them at once.
void SerialControl::arrival()
{
    m_line->setWatching(false);
    // Bytes closer together than a tick are a stream: from now on it is read on the clock, one
    // wake-up a tick rather than one a byte. Slower bytes are read as they come, with no timer.
    const auto now = std::chrono::steady_clock::now();
    const bool stream = now - m_lastArrival < std::chrono::milliseconds(ReadTickMilliseconds);
    m_lastArrival = now;
    const qint64 read = fill();
    if (read < 0)
        return;
    if (read == 0) {
        awaitBytes();
        return;
    }
    if (stream)
        m_readTick.start(ReadTickMilliseconds, Qt::PreciseTimer, this);
    deliver();
}

// Out of bytes: the clock reads on if it runs, else the device is watched again. Only with room
// in the buffer (for a handler that reads nothing), or the device would call again and again.
void SerialControl::awaitBytes()
{
    if (!m_readTick.isActive() && m_end < InBufferSize)
        m_line->setWatching(true);
}

void SerialControl::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_readTick.timerId())
        return QObject::timerEvent(event);
    // A turn still to come reads on by itself when it has emptied the buffer.
    if (m_deliveryQueued)
        return;
    const qint64 read = fill();
    if (read > 0) {
        deliver();
    } else if (read == 0) {
        // A whole tick without a byte: the stream has stopped; wait for the next byte.
        m_readTick.stop();
        awaitBytes();
    }
}

// Reads what waits into the room left in the buffer: the count, or -1 once the device is gone.
qint64 SerialControl::fill()
{
    if (!PortOpen())
        return -1;
    if (m_next > 0) {
        std::memmove(m_buffer, m_buffer + m_next, size_t(m_end - m_next));
        m_end -= m_next;
        m_next = 0;
    }
    if (m_end == InBufferSize)
        return 0;
    const qint64 room = InBufferSize - m_end;
    const qint64 read = m_line->read(m_buffer + m_end, room);
    if (read < 0) {
        portFailed();
        return -1;
    }
    m_end += read;
    m_moreMayWait = read == room;
    return read;
}

// One turn of receive events: one per byte while bytes wait, refilling from the device as the
// buffer empties, until the turn is over.
void SerialControl::deliver()
{
    if (m_rThreshold < 1) {
        // No receive events: the bytes wait in the buffer, and then in the system.
        awaitBytes();
        return;
    }
    const QScopedValueRollback<bool> delivering(m_delivering, true);
    const auto turnEnd = std::chrono::steady_clock::now() + TurnLength;
    int untilClockRead = ReadingsBetweenClockReads;
    while (PortOpen()) {
        if (InBufferCount() < m_rThreshold) {
            // Read on within the turn only after a read that filled the buffer: after a shorter
            // one the device is empty, and asking it again costs a system call for nothing.
            if (m_moreMayWait && fill() < 0)
                return;
            if (InBufferCount() < m_rThreshold) {
                awaitBytes();
                return;
            }
        }
        const qint64 before = InBufferCount();
        raiseOnComm(ReceiveEvent);
        if (!PortOpen())
            return;
        if (InBufferCount() >= before) {
            // The handler took nothing: it is not asked again until more bytes come, or the
            // event loop would turn into a busy loop.
            m_readTick.stop();
            awaitBytes();
            return;
        }
        if (--untilClockRead == 0) {
            untilClockRead = ReadingsBetweenClockReads;
            if (std::chrono::steady_clock::now() >= turnEnd) {
                queueDelivery();
                return;
            }
        }
    }
}

void SerialControl::queueDelivery()
{
    if (m_deliveryQueued)
        return;
    m_deliveryQueued = true;
    QCoreApplication::postEvent(this, new QEvent(ReceiveQueued));
}

void SerialControl::portFailed()
{
    // Closing inside the device's own notification is not safe: queue one close for the loop.
    if (m_lossQueued || !PortOpen())
        return;
    m_lossQueued = true;
    m_readTick.stop();
    m_line->setWatching(false);
    QCoreApplication::postEvent(this, new QEvent(LossQueued));
}

void SerialControl::closePort()
{
    m_readTick.stop();
    m_line->close();
    m_next = m_end = 0;
}
