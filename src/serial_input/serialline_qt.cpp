#include "serial_input/serialline.h"

#include <QSerialPort>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <termios.h>
#endif

SerialLine::SerialLine(QObject *parent)
    : QObject(parent)
    , m_port(new QSerialPort(this))
{
    // Queued: what the control does on an arrival may close the port, which must not happen
    // inside the port's own signals.
    connect(
        m_port, &QSerialPort::readyRead, this,
        [this] {
            if (m_watching && m_port->bytesAvailable() > 0)
                emit arrival();
        },
        Qt::QueuedConnection);
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        // Qt repeats these until the port is closed: report the loss once, by the next read.
        if ((error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
            && m_lostReason.isEmpty()) {
            m_lostReason = m_port->errorString();
            QMetaObject::invokeMethod(this, &SerialLine::arrival, Qt::QueuedConnection);
        }
    });
}

SerialLine::~SerialLine()
{
    // Closing emits errorOccurred; nothing of ours may run while we are being destroyed.
    m_port->disconnect(this);
    close();
}

bool SerialLine::open(const QString &device, Failure *failure, QString *reason)
{
    close();
    m_port->setPortName(device);
    // The control reads into a buffer of its own; Qt's stays small.
    m_port->setReadBufferSize(1024);
    // Set before opening, so the port never runs at another speed and a device that refuses a
    // setting fails to open rather than delivering wrong readings.
    m_port->setBaudRate(38400);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadOnly)) {
        *failure = m_port->error() == QSerialPort::PermissionError ? Denied : OtherFailure;
        *reason = m_port->errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    if (!ignoreLineErrors()) {
        *failure = OtherFailure;
        *reason = qt_error_string(errno);
        m_port->close();
        return false;
    }
#endif
    m_port->clearError();
    m_lostReason.clear();
    *failure = NoFailure;
    return true;
}

#ifdef Q_OS_UNIX
// A break or a garbled byte would otherwise come through as a NUL, a reading of 0 degrees: the
// system drops them instead. A true NUL byte still comes through.
bool SerialLine::ignoreLineErrors()
{
    termios mode {};
    if (tcgetattr(int(m_port->handle()), &mode) != 0)
        return false;
    mode.c_iflag |= IGNBRK | IGNPAR;
    return tcsetattr(int(m_port->handle()), TCSANOW, &mode) == 0;
}
#endif

void SerialLine::close()
{
    // Closing a closed port would raise NotOpenError, itself an error to handle: close once.
    if (m_port->isOpen())
        m_port->close();
}

bool SerialLine::isOpen() const
{
    return m_port->isOpen();
}

qint64 SerialLine::read(char *data, qint64 size)
{
    if (!m_lostReason.isEmpty() || !m_port->isOpen())
        return -1;
    return std::max(m_port->read(data, size), qint64(0));
}

void SerialLine::setWatching(bool watching)
{
    m_watching = watching;
    // Bytes that came while not watching have been announced already: announce them again,
    // from the event loop as every arrival comes.
    if (watching && m_port->bytesAvailable() > 0)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_watching)
                    emit arrival();
            },
            Qt::QueuedConnection);
}
