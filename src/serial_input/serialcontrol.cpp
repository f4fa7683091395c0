#include "serial_input/serialcontrol.h"

#include "main_window/runtimeerror.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QTimerEvent>

#include <algorithm>
#include <array>
#include <chrono>

#ifdef Q_OS_UNIX
#include <termios.h>
#endif

namespace {

// Posted to the control itself: the next turn of receive events, once clicks and repaints have
// had theirs; the close after a loss; and a close asked for inside the port's own signal.
const QEvent::Type TurnQueued = QEvent::Type(QEvent::User + 1);
const QEvent::Type LossQueued = QEvent::Type(QEvent::User + 2);
const QEvent::Type CloseQueued = QEvent::Type(QEvent::User + 3);

// How long one turn of receive events may hold the event loop before clicks and repaints get
// theirs; the clock is read every few readings, as reading it costs more than some readings.
constexpr auto TurnLength = std::chrono::microseconds(500);
constexpr int ReadingsBetweenClockReads = 16;

// Bytes closer together than this are a stream, read once a frame: the clock costs about three
// wake-ups a frame, against one a delivery for bytes read as they come.
constexpr auto StreamSpacing = std::chrono::milliseconds(SerialControl::FrameMilliseconds / 3);

// Every byte value once: Input() hands out one of these, so a reading allocates nothing.
constexpr std::array<char, 256> everyByte()
{
    std::array<char, 256> bytes {};
    for (int value = 0; value < 256; ++value)
        bytes[size_t(value)] = char(value);
    return bytes;
}
constexpr std::array<char, 256> EveryByte = everyByte();

QString openFailureText(const QString &device, QSerialPort::SerialPortError error,
                        const QString &reason)
{
    // Windows' own texts end with a full stop of their own ("Invalid function."): one is enough.
    QString sentence = reason.trimmed();
    while (sentence.endsWith(QLatin1Char('.')))
        sentence.chop(1);
    QString text = QStringLiteral("Cannot open serial port %1: %2.").arg(device, sentence);
    if (error != QSerialPort::PermissionError)
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

#ifdef Q_OS_UNIX
// A break or a garbled byte would otherwise come through as a NUL, a reading of 0 degrees: the
// system drops them instead. A true NUL byte still comes through. QSerialPort has no setting for
// this, so it is set on its open descriptor.
bool ignoreLineErrors(QSerialPort &port)
{
    termios mode {};
    if (tcgetattr(int(port.handle()), &mode) != 0)
        return false;
    mode.c_iflag |= IGNBRK | IGNPAR;
    return tcsetattr(int(port.handle()), TCSANOW, &mode) == 0;
}
#endif

} // namespace

SerialControl::SerialControl(const QString &firstPortDevice, QObject *parent, PortList systemPorts)
    : QObject(parent)
    , m_firstPortDevice(firstPortDevice)
    , m_systemPorts(std::move(systemPorts))
    , m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, &SerialControl::portReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialControl::portError);
}

SerialControl::~SerialControl()
{
    // Nothing of ours may run while we are being destroyed.
    m_port->disconnect(this);
    m_frameClock.stop();
    if (m_port->isOpen())
        m_port->close();
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
    return m_port->isOpen() && !m_closeDeferred;
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
    if (m_port->isOpen())
        throw RuntimeError(RuntimeError::InvalidPropertyValue,
                           QStringLiteral("Serial port %1 is already open.").arg(deviceName()));
    const QString device = deviceToOpen();

    m_port->setPortName(device);
    m_port->setReadBufferSize(InBufferSize);
    // Set before opening, so the port never runs at another speed and a device that refuses a
    // setting fails to open rather than delivering wrong readings.
    m_port->setBaudRate(BaudRate);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadOnly))
        throw RuntimeError(RuntimeError::PortOpenFailed,
                           openFailureText(device, m_port->error(), m_port->errorString()));
#ifdef Q_OS_UNIX
    if (!ignoreLineErrors(*m_port)) {
        const QString reason = qt_error_string(errno);
        m_port->close();
        throw RuntimeError(RuntimeError::PortOpenFailed,
                           openFailureText(device, QSerialPort::UnknownError, reason));
    }
#endif
    m_lossQueued = false;
    m_moreMayWait = false;
    if (auto *const dispatcher = QAbstractEventDispatcher::instance(thread()))
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, &SerialControl::askIdlePort,
                Qt::UniqueConnection);
    // Bytes that came before the port opened are announced as soon as the event loop runs.
}

QByteArray SerialControl::Input()
{
    char byte = 0;
    // Reading an empty buffer would make the port take from the system again, ending a hold.
    if (InBufferCount() == 0 || !m_port->getChar(&byte))
        return {};
    // A read outside a turn (not in answer to one of our events) may leave bytes behind that
    // the port will not announce again: a turn must come for them.
    if (!m_delivering && InBufferCount() > 0)
        queueTurn();
    return QByteArray::fromRawData(&EveryByte[quint8(byte)], 1);
}

qint64 SerialControl::InBufferCount() const
{
    return PortOpen() ? m_port->bytesAvailable() : 0;
}

void SerialControl::raiseOnComm(qint16 code)
{
    m_commEvent = code;
    emit OnComm();
}

// Bytes after a quiet spell: delivered at once. While a stream lasts the clock reads the port,
// and a read of our own delivers what it took itself.
void SerialControl::portReadyRead()
{
    if (m_frameClock.isActive() || m_turnQueued || m_delivering || !PortOpen())
        return;
    // Bytes that come closer together than a few wake-ups a frame are a stream, cheaper read on
    // the clock from now on; further apart, each wake-up reads them as they come.
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastArrival < StreamSpacing)
        m_frameClock.start(FrameMilliseconds, Qt::PreciseTimer, this);
    m_lastArrival = now;
    m_moreMayWait = InBufferCount() == InBufferSize;
    TurnEnd end = TurnEnd::Closed;
    {
        const QScopedValueRollback<bool> inPortSignal(m_inPortSignal, true);
        end = deliver();
    }
    if (m_closeDeferred)
        QCoreApplication::postEvent(this, new QEvent(CloseQueued));
    else
        afterTurn(end);
}

// Each time the event loop wakes while no stream is read on the clock. A port that went away
// may wake the loop without end and report nothing (Qt 6.8 takes its end-of-file for "nothing
// yet"): asking it tells. A quiet port lets the loop sleep, so idle costs nothing.
void SerialControl::askIdlePort()
{
    if (m_frameClock.isActive() || m_delivering || m_turnQueued || InBufferCount() >= InBufferSize)
        return;
    const qint64 before = InBufferCount();
    if (!readWaiting())
        return;
    // What came is delivered by a turn, never from inside the event loop's wake-up. Otherwise
    // the port watches on: Qt 6.4 takes a wake-up of its own that found nothing (the bytes taken
    // by a read of ours) for an error, and may stop watching.
    if (InBufferCount() > before)
        queueTurn();
    else
        watch();
}

bool SerialControl::event(QEvent *event)
{
    if (event->type() == TurnQueued) {
        m_turnQueued = false;
        if (PortOpen())
            afterTurn(deliver());
        return true;
    }
    if (event->type() == LossQueued) {
        m_lossQueued = false;
        if (PortOpen()) {
            closePort();
            emit Lost();
        }
        return true;
    }
    if (event->type() == CloseQueued) {
        m_closeDeferred = false;
        if (m_port->isOpen())
            m_port->close();
        return true;
    }
    return QObject::event(event);
}

void SerialControl::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_frameClock.timerId())
        frameTick();
    else
        QObject::timerEvent(event);
}

// Once a frame while a stream lasts: takes what came since the last tick and delivers it. A
// frame without a byte ends the stream; the port then announces the next byte as it comes.
void SerialControl::frameTick()
{
    // A turn still to come reads on by itself.
    if (m_turnQueued)
        return;
    if (InBufferCount() == 0) {
        m_frameClock.stop();
        watch();
        return;
    }
    // Only a change of size makes the port watch again; watching while we read ourselves would
    // have it wake for bytes already taken.
    if (m_port->readBufferSize() != InBufferSize)
        m_port->setReadBufferSize(InBufferSize);
    if (readWaiting())
        afterTurn(deliver());
}

// Takes what waits in the system into the buffer, up to its size, without waiting: false once
// the port is lost.
bool SerialControl::readWaiting()
{
    if (m_lossQueued || !PortOpen())
        return false;
    if (InBufferCount() < m_port->readBufferSize() && !answers() && isGone()) {
        queueLoss();
        return false;
    }
    m_moreMayWait = InBufferCount() == InBufferSize;
    return true;
}

// An error the port reports of its own: on Windows, how a line that went away shows itself.
void SerialControl::portError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError
        || error == QSerialPort::NotOpenError || m_lossQueued || !PortOpen())
        return;
    if (isGone()) {
        queueLoss();
        return;
    }
    // A read that found nothing (ours took the bytes first) makes Qt on Linux stop watching.
    watch();
}

// Asked without waiting, a port takes what waits or times out. Anything else is a sign that its
// line may have gone: an error, or nothing at all twice running. A hung-up line (an adapter
// pulled out) reads end-of-file at once, forever, which some versions of Qt report nowhere else;
// a live port on Windows answers nothing once while an event of its own is under way.
bool SerialControl::answers()
{
    // Whatever the port signals here, the caller or a turn delivers what it took.
    const QSignalBlocker quiet(m_port);
    for (int asked = 0; asked < 2; ++asked) {
        m_port->clearError();
        if (m_port->waitForReadyRead(0) || m_port->error() == QSerialPort::TimeoutError)
            return true;
        if (m_port->error() != QSerialPort::NoError)
            return false;
    }
    return false;
}

// Given the line speed it already has, a port that is there takes it; one whose line went away
// (hung up, other end closed, adapter pulled out) cannot, on every system.
bool SerialControl::isGone()
{
    const QSignalBlocker quiet(m_port);
    return !m_port->setBaudRate(BaudRate);
}

// Taken once; the port is closed from the event loop, outside the port's own signals.
void SerialControl::queueLoss()
{
    m_lossQueued = true;
    m_frameClock.stop();
    QCoreApplication::postEvent(this, new QEvent(LossQueued));
}

// The port takes what comes while its buffer has room, and announces it.
void SerialControl::watch()
{
    m_port->setReadBufferSize(InBufferSize);
    // It reads the system itself now: no read of ours may follow until it fills its buffer.
    m_moreMayWait = false;
}

// One turn of receive events: one per byte while bytes wait, refilling from the system as the
// buffer empties, until the turn is over.
SerialControl::TurnEnd SerialControl::deliver()
{
    // Without a threshold there are no receive events: the bytes wait in the buffer, and then in
    // the system.
    if (m_rThreshold < 1)
        return TurnEnd::Stalled;
    const QScopedValueRollback<bool> delivering(m_delivering, true);
    const auto turnEnd = std::chrono::steady_clock::now() + TurnLength;
    int untilClockRead = ReadingsBetweenClockReads;
    for (;;) {
        if (InBufferCount() < m_rThreshold) {
            // Read on within the turn only after a read that filled the buffer: after a shorter
            // one the system holds nothing more, and asking it again costs a call for nothing.
            if (!m_moreMayWait || !readWaiting() || InBufferCount() < m_rThreshold)
                return PortOpen() ? TurnEnd::Drained : TurnEnd::Closed;
        }
        const qint64 before = InBufferCount();
        raiseOnComm(ReceiveEvent);
        if (!PortOpen())
            return TurnEnd::Closed;
        // A handler that takes nothing is not asked again until more bytes come, or the event
        // loop would turn into a busy loop.
        if (InBufferCount() >= before)
            return TurnEnd::Stalled;
        if (--untilClockRead == 0) {
            untilClockRead = ReadingsBetweenClockReads;
            if (std::chrono::steady_clock::now() >= turnEnd)
                return TurnEnd::TimeUp;
        }
    }
}

void SerialControl::afterTurn(TurnEnd end)
{
    switch (end) {
    case TurnEnd::Drained:
        // In a stream, until the next tick the port holds its buffer full with the first byte
        // that comes, so it takes nothing more and wakes no one. Otherwise, and for bytes short
        // of the threshold, the port reads what comes and announces it.
        if (m_frameClock.isActive() && InBufferCount() == 0)
            m_port->setReadBufferSize(1);
        else
            watch();
        break;
    case TurnEnd::TimeUp:
        queueTurn();
        break;
    case TurnEnd::Stalled:
        m_frameClock.stop();
        watch();
        break;
    case TurnEnd::Closed:
        break;
    }
}

void SerialControl::queueTurn()
{
    if (m_turnQueued)
        return;
    m_turnQueued = true;
    QCoreApplication::postEvent(this, new QEvent(TurnQueued));
}

void SerialControl::closePort()
{
    m_frameClock.stop();
    if (!PortOpen())
        return;
    // The port deletes its notifier when it closes: not from inside that notifier's own signal.
    if (m_inPortSignal) {
        m_closeDeferred = true;
        return;
    }
    m_port->close();
}
