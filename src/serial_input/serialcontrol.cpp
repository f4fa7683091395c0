#include "serial_input/serialcontrol.h"

#include "main_window/runtimeerror.h"
#include "serial_input/openfailuretext.h"
#include <QDeadlineTimer>
#include <QScopedValueRollback>
#include <algorithm>
#include <array>
#include <numeric>
#ifdef Q_OS_UNIX
#include <cerrno>
#include <termios.h>
#endif

namespace {
// A wait for bytes ends after this on a quiet port, so that the reader sees a close.
constexpr int WaitMilliseconds = 100;
// A take this large (the sensor's line brings 64 bytes a frame) is a flood: read on at once.
constexpr qint64 FloodTake = 1024;
// How long a turn of receive events may hold the window's thread before clicks and repaints.
constexpr auto TurnLength = std::chrono::milliseconds(1);

#ifdef Q_OS_UNIX
// A break or a garbled byte would otherwise come through as a NUL, a reading of 0 degrees: the
// system drops them instead. QSerialPort has no setting for this. Empty, or the system's reason.
QString ignoreLineErrors(QSerialPort &port)
{
    termios mode {};
    if (tcgetattr(int(port.handle()), &mode) != 0)
        return qt_error_string(errno);
    mode.c_iflag |= IGNBRK | IGNPAR;
    return tcsetattr(int(port.handle()), TCSANOW, &mode) == 0 ? QString() : qt_error_string(errno);
}
#endif
} // namespace

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
    if (!open)
        return closePort();
    if (PortOpen())
        return;
    const QString device = deviceToOpen();
    // Every page touched now: what the program holds stays the same however full it gets.
    m_buffer.assign(size_t(InBufferSize), 0);
    std::promise<Opening> opened;
    std::future<Opening> opening = opened.get_future();
    m_reader.reset(QThread::create(
        [this, device, opened = std::move(opened)]() mutable { readPort(device, opened); }));
    m_reader->setObjectName(QStringLiteral("Comm1 reader"));
    m_reader->start();
    if (const auto [error, reason] = opening.get(); error != QSerialPort::NoError) {
        closePort();
        throw RuntimeError(RuntimeError::PortOpenFailed, openFailureText(device, error, reason));
    }
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
    // Over the byte's own entry in a table of every value: a reading allocates nothing.
    static const auto everyByte = [] {
        std::array<char, 256> values {};
        std::iota(values.begin(), values.end(), char(0));
        return values;
    }();
    return QByteArray::fromRawData(&everyByte[byte], 1);
}

// The reader's thread while the port is open: blocking reads, as QSerialPort documents them.
void SerialControl::readPort(const QString &device, std::promise<Opening> &opened)
{
    QSerialPort port(device);
    // Set before opening: a device that refuses a setting fails to open, not to read right.
    port.setBaudRate(BaudRate);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadOnly))
        return opened.set_value({port.error(), port.errorString()});
#ifdef Q_OS_UNIX
    if (const QString reason = ignoreLineErrors(port); !reason.isEmpty())
        return opened.set_value({QSerialPort::UnknownError, reason});
#endif
    // Many sensors send nothing until DTR is on; a line without modem lines (a pty) refuses.
    port.setDataTerminalReady(true);
    port.setRequestToSend(true);
    opened.set_value({QSerialPort::NoError, QString()});
    bool failed = false; // an error the port reported, which on Windows shows in one wait only
    QObject::connect(&port, &QSerialPort::errorOccurred, &port, [&failed](auto error) {
        failed = failed || (error != QSerialPort::NoError && error != QSerialPort::TimeoutError);
    });
    while (!m_stopping) {
        // While the buffer is full the reader takes no more: the system holds what comes.
        const qint64 room = std::min(InBufferSize - m_count.load(std::memory_order_acquire),
                                     InBufferSize - m_head);
        if (room == 0) {
            QThread::msleep(FrameMilliseconds);
            continue;
        }
        port.clearError();
        const QDeadlineTimer timeUp(WaitMilliseconds);
        // What a read left behind (at the buffer's end, or in a flood) is there without a wait.
        if ((port.bytesAvailable() > 0 || port.waitForReadyRead(WaitMilliseconds)) && !failed) {
            const QDeadlineTimer frameEnd(FrameMilliseconds);
            const qint64 size = std::max<qint64>(0, port.read(m_buffer.data() + m_head, room));
            m_head = (m_head + size) % InBufferSize;
            m_count.fetch_add(size, std::memory_order_release);
            queueDelivery();
            // A trickle wakes the reader once a frame, not once a byte.
            if (size < FloodTake && port.bytesAvailable() == 0)
                QThread::msleep(ulong(frameEnd.remainingTime()));
            continue;
        }
        // A wait ends with bytes, an error or its time-out. Qt 6.5 to 6.10 also end it at once
        // with no error on a hung-up line (end of file), and Qt on Windows with no error once its
        // time is up: an error, or a wait cut short, is the line gone.
        if (!failed && (port.error() == QSerialPort::TimeoutError || timeUp.hasExpired()))
            continue;
        m_lineLost = true;
        return queueDelivery();
    }
}

// From either thread: the window's thread delivers once more, and is told no more than that.
void SerialControl::queueDelivery()
{
    if (!m_deliveryQueued.exchange(true))
        emit bytesCame(QPrivateSignal());
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
    // Without a threshold there are no receive events: the bytes wait.
    if (m_rThreshold < 1)
        return;
    const QScopedValueRollback<bool> delivering(m_delivering, true);
    const auto turnEnd = Clock::now() + TurnLength;
    for (int reading = 1; InBufferCount() >= m_rThreshold; ++reading) {
        const quint64 taken = m_taken;
        raiseOnComm(ReceiveEvent);
        if (!PortOpen())
            return;
        // A handler that takes nothing is asked again when more bytes come, not in a busy loop.
        if (m_taken == taken)
            break;
        // The clock is read every few readings: reading it costs more than some readings.
        if (reading % 16 == 0 && Clock::now() >= turnEnd) {
            queueDelivery(); // the rest after clicks and repaints
            break;
        }
    }
    showWhenDue();
}

// After a turn: the window shows what the events changed at once if it last did so a frame ago,
// or else when that frame is over, so that it repaints at most once a frame even in a flood.
void SerialControl::showWhenDue()
{
    const auto wait = m_lastShown + std::chrono::milliseconds(FrameMilliseconds) - Clock::now();
    if (wait.count() > 0) {
        if (!m_showTimer.isActive())
            m_showTimer.start(std::chrono::ceil<std::chrono::milliseconds>(wait));
        return;
    }
    m_lastShown = Clock::now();
    emit Delivered();
}

// The reader ends within a wait, and closes the port.
void SerialControl::closePort()
{
    if (!m_reader)
        return;
    m_stopping = true;
    m_reader->wait();
    m_reader.reset();
    m_stopping = m_lineLost = false;
    m_count = m_head = m_tail = 0;
}
