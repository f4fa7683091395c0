#pragma once

#include "serial_input/serialportchoice.h"
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <utility>
#include <vector>

/// The serial communications control: a port with stored settings (38400 bit/s, 8N1), the
/// properties the window sets and reads, and OnComm, whose CommEvent code says what happened.
///
/// A thread of its own reads the port, blocking, at least once a display frame while bytes come,
/// whatever the window's thread is doing, into a receive buffer of InBufferSize bytes (while it
/// is full, the system holds what comes). The window's thread delivers one OnComm per byte, in
/// order, in turns short enough for clicks and repaints between them; Delivered follows at most
/// once a frame. A port that goes away (an adapter pulled out) is reported once by Lost.
class SerialControl : public QObject
{
    Q_OBJECT

public:
    /// CommEvent codes. Only ReceiveEvent carries work for the window.
    enum CommEventCode : qint16 {
        SendEvent = 1, ///< transmit buffer below SThreshold
        ReceiveEvent = 2, ///< at least RThreshold bytes wait in the receive buffer
        CtsEvent = 3, ///< the modem lines changed, or a ring came
        DsrEvent = 4,
        CdEvent = 5,
        RingEvent = 6,
        EndOfFileEvent = 7,
        BreakError = 101, ///< line errors, which the window ignores
        FramingError = 102,
        OverrunError = 103,
        BufferOverflowError = 104,
        ParityError = 105,
    };

    static constexpr qint32 BaudRate = 38400;
    /// At 3840 readings a second, four and a half minutes of a window that does not run.
    static constexpr qint64 InBufferSize = qint64(1) << 20;
    /// While bytes come, the port is read at most once a 60 Hz display frame.
    static constexpr int FrameMilliseconds = 17;

    /// The system's serial ports: the first stands for CommPort 1 when no device is pinned.
    using PortList = std::function<QList<SerialPortDescription>()>;
    /// \a firstPortDevice is the device that CommPort 1 stands for ("/dev/ttyUSB0", a pty, ...);
    /// when it is empty, CommPort 1 is the first of \a systemPorts, chosen when the port opens.
    explicit SerialControl(const QString &firstPortDevice, QObject *parent = nullptr,
                           PortList systemPorts = describeSerialPorts)
        : QObject(parent)
        , m_firstPortDevice(firstPortDevice)
        , m_systemPorts(std::move(systemPorts))
    {
        m_showTimer.setSingleShot(true);
        connect(&m_showTimer, &QTimer::timeout, this, &SerialControl::showWhenDue);
        connect(this, &SerialControl::bytesCame, this, &SerialControl::deliver,
                Qt::QueuedConnection);
    }
    ~SerialControl() override { closePort(); }
    /// Only CommPort 1 has a device; another fails to open.
    void setCommPort(qint16 port) { m_commPort = port; }
    void setRThreshold(qint16 threshold) { m_rThreshold = threshold; }
    void setSThreshold(qint16 threshold) { m_sThreshold = threshold; }
    bool PortOpen() const { return m_reader != nullptr; }
    /// Opening raises RuntimeError with the device and the system's reason; an open port stays.
    void setPortOpen(bool open);
    /// The code of the event being reported by OnComm.
    qint16 CommEvent() const { return m_commEvent; }
    /// Takes at most one byte from the receive buffer; empty when nothing waits.
    QByteArray Input();
    qint64 InBufferCount() const { return PortOpen() ? m_count.load() : 0; }
    /// The device of the current CommPort, empty when no device stands for it (yet).
    QString deviceName() const;
    /// Reports an event to the window now: sets CommEvent and emits OnComm.
    void raiseOnComm(qint16 code)
    {
        m_commEvent = code;
        emit OnComm();
    }

signals:
    void OnComm();
    /// Receive events came since the last Delivered, a display frame ago at least: the window
    /// shows what they changed.
    void Delivered();
    /// The open port went away. It is closed already; no further event follows.
    void Lost();
    void bytesCame(QPrivateSignal); ///< from the reader, queued to the window's thread

private:
    using Opening = std::pair<QSerialPort::SerialPortError, QString>;

    QString deviceToOpen();
    void readPort(const QString &device, std::promise<Opening> &opened);
    void queueDelivery();
    void deliver();
    void showWhenDue();
    void closePort();

    const QString m_firstPortDevice;
    const PortList m_systemPorts;
    QString m_chosenDevice; ///< for CommPort 1 when the build pinned none
    qint16 m_commPort = 1;
    qint16 m_rThreshold = 0;
    qint16 m_sThreshold = 0;
    qint16 m_commEvent = 0;
    /// The receive buffer, a ring: the reader adds at m_head, the window takes at m_tail.
    std::vector<char> m_buffer;
    qint64 m_head = 0;
    qint64 m_tail = 0;
    std::atomic<qint64> m_count {0}; ///< hands the bytes over between the two threads
    /// Bytes taken by Input(): a handler that takes none is not asked again.
    quint64 m_taken = 0;
    std::unique_ptr<QThread> m_reader;
    std::atomic<bool> m_stopping {false};
    std::atomic<bool> m_lineLost {false};
    std::atomic<bool> m_deliveryQueued {false};
    bool m_delivering = false;
    using Clock = std::chrono::steady_clock;
    Clock::time_point m_lastShown;
    QTimer m_showTimer; ///< Delivered when the frame after the last one is over
};
