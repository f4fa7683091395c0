#pragma once

#include "serial_input/serialportchoice.h"

#include <QBasicTimer>
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <chrono>
#include <functional>

/// The serial communications control: a port with stored settings (38400 bit/s, 8N1, a
/// 1024-byte receive buffer), the properties the window sets and reads, and one notification,
/// OnComm, whose CommEvent code says what happened.
///
/// Every byte is its own receive event: OnComm once per byte, in order, none merged or dropped,
/// in turns of at most half a millisecond so that clicks and repaints interleave with a flood.
/// Bytes after a quiet spell are delivered as they come. While bytes keep coming, a few
/// milliseconds apart or less, the port is read once a display frame instead: between reads the
/// port holds its buffer full, so it takes nothing more from the system and stops waking the
/// program. A full buffer waits in the system
/// and holds back the sender. Bytes left in the buffer by a read of Input outside an event get
/// events of their own.
///
/// A port that goes away (an adapter pulled out hangs its line up; a line whose other end
/// closed) shows it by an error of its own, or, asked whenever the port is read and each time
/// the event loop wakes while no stream is read, by an answer that is neither bytes nor a
/// time-out. Either is only a sign: the line itself confirms the loss, as a port that has gone
/// cannot take even the line speed it already has.
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
    static constexpr qint64 InBufferSize = 1024;
    static constexpr qint64 OutBufferSize = 512;
    /// While bytes keep coming the port is read on this clock, about a display frame.
    static constexpr int FrameMilliseconds = 16;

    /// The system's serial ports, of which the first stands for CommPort 1 when no device is
    /// pinned.
    using PortList = std::function<QList<SerialPortDescription>()>;

    /// \a firstPortDevice is the device that CommPort 1 stands for ("/dev/ttyUSB0", a pty, ...);
    /// when it is empty, CommPort 1 is the first of \a systemPorts, chosen when the port opens.
    explicit SerialControl(const QString &firstPortDevice, QObject *parent = nullptr,
                           PortList systemPorts = describeSerialPorts);
    ~SerialControl() override;

    qint16 CommPort() const { return m_commPort; }
    void setCommPort(qint16 port);
    qint16 RThreshold() const { return m_rThreshold; }
    void setRThreshold(qint16 threshold);
    qint16 SThreshold() const { return m_sThreshold; }
    void setSThreshold(qint16 threshold);

    bool PortOpen() const;
    /// Opening raises RuntimeError with the device and the system's reason; closing a closed
    /// port does nothing.
    void setPortOpen(bool open);

    /// The code of the event being reported by OnComm.
    qint16 CommEvent() const { return m_commEvent; }
    /// Takes at most one byte from the receive buffer; empty when nothing waits.
    QByteArray Input();
    /// Bytes in the receive buffer.
    qint64 InBufferCount() const;

    /// The device of the current CommPort, empty when no device stands for it (yet).
    QString deviceName() const;

    /// Reports an event to the window now: sets CommEvent and emits OnComm.
    void raiseOnComm(qint16 code);

signals:
    void OnComm();
    /// The open port went away (device unplugged, other end closed). The port is closed
    /// already; no further event follows.
    void Lost();

protected:
    bool event(QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    /// How a turn of receive events ended.
    enum class TurnEnd { Drained, TimeUp, Stalled, Closed };

    QString deviceToOpen();
    void portReadyRead();
    void askIdlePort();
    void portError(QSerialPort::SerialPortError error);
    bool answers();
    bool isGone();
    void queueLoss();
    void frameTick();
    bool readWaiting();
    void watch();
    TurnEnd deliver();
    void afterTurn(TurnEnd end);
    void queueTurn();
    void closePort();

    const QString m_firstPortDevice;
    const PortList m_systemPorts;
    /// The device chosen for CommPort 1 when the build pinned none.
    QString m_chosenDevice;
    QSerialPort *const m_port;
    qint16 m_commPort = 1;
    qint16 m_rThreshold = 0;
    qint16 m_sThreshold = 0;
    qint16 m_commEvent = 0;
    /// Runs while bytes keep coming: the port is read on its ticks.
    QBasicTimer m_frameClock;
    bool m_turnQueued = false;
    bool m_delivering = false; ///< in a turn of receive events
    bool m_inPortSignal = false; ///< in the port's own readyRead
    bool m_closeDeferred = false; ///< closed, but the port itself closes once its signal is over
    bool m_lossQueued = false;
    bool m_moreMayWait = false; ///< the last read filled the buffer: more may wait
    /// When bytes last came with the port watched.
    std::chrono::steady_clock::time_point m_lastArrival;
};
