#pragma once

#include <QObject>
#include <QString>

class QSerialPort;
class QSocketNotifier;

/// The device under the serial control: opens it at 38400 bit/s 8N1 with no flow control, reads
/// whatever waits without blocking, and says when bytes arrive while it is watching.
///
/// By default it is a QSerialPort, which wakes for every byte of a stream. Built with
/// THERMOMETER_QT_SERIAL_LINE off on Unix, it is the device's own descriptor: the control stops
/// watching while it reads on a clock, so a stream costs one wake-up per tick, not one per byte.
class SerialLine : public QObject
{
    Q_OBJECT

public:
    /// Why an open failed: Denied covers both no access and a port held by another program.
    enum Failure { NoFailure, Denied, OtherFailure };

    explicit SerialLine(QObject *parent = nullptr);
    ~SerialLine() override;

    /// Opens \a device; on failure returns false with the kind and the system's reason.
    bool open(const QString &device, Failure *failure, QString *reason);
    void close();
    bool isOpen() const;

    /// Reads at most \a size waiting bytes into \a data: the count, 0 when nothing waits, -1 when
    /// the device is gone (lostReason() says why).
    qint64 read(char *data, qint64 size);
    QString lostReason() const { return m_lostReason; }

    /// Whether arrival() is emitted when bytes wait; off while the control reads on its clock.
    void setWatching(bool watching);

signals:
    /// Bytes wait, or the device went away (the next read() says which).
    void arrival();

private:
#ifdef THERMOMETER_QT_SERIAL_LINE
    bool ignoreLineErrors();

    QSerialPort *m_port = nullptr;
    bool m_watching = false;
#else
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    struct Saved;
    Saved *m_saved = nullptr;
#endif
    QString m_lostReason;
};
