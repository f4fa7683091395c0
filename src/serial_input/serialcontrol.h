#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSerialPort;

/// The serial communications control: a port with stored settings (38400 bit/s, 8N1, a
/// 1024-byte receive buffer), the properties the window sets and reads, and one notification,
/// OnComm, whose CommEvent code says what happened.
///
/// Receive events are queued through the event loop, one per read: while bytes remain after a
/// read, another receive event follows, so clicks and repaints interleave with a flood and no
/// byte is ever merged with another or dropped.
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

    /// \a firstPortDevice is the device that CommPort 1 stands for ("/dev/ttyS0", a pty, ...).
    explicit SerialControl(const QString &firstPortDevice, QObject *parent = nullptr);
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

    /// The device of the current CommPort, empty when no device stands for it.
    QString deviceName() const;

    /// Reports an event to the window now: sets CommEvent and emits OnComm.
    void raiseOnComm(qint16 code);

signals:
    void OnComm();
    /// The open port went away (device unplugged, other end closed). The port is closed
    /// already; no further event follows.
    void Lost(const QString &reason);

protected:
    bool event(QEvent *event) override;

private:
    void queueReceive();
    void receive();
    void portFailed();
    void closePort();

    QString m_firstPortDevice;
    QSerialPort *m_port = nullptr;
    qint16 m_commPort = 1;
    qint16 m_rThreshold = 0;
    qint16 m_sThreshold = 0;
    qint16 m_commEvent = 0;
    bool m_receiveQueued = false;
    bool m_lossQueued = false;
};
