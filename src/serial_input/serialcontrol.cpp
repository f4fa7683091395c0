#include "serial_input/serialcontrol.h"

#include "main_window/runtimeerror.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QSerialPort>

namespace {

// Posted to the control itself, so that every notification reaches the window from the event
// loop and never from inside the port's own signal emission.
const QEvent::Type ReceiveQueued = QEvent::Type(QEvent::User + 1);
const QEvent::Type LossQueued = QEvent::Type(QEvent::User + 2);

QString openFailureText(const QString &device, const QSerialPort &port)
{
    QString text
        = QStringLiteral("Cannot open serial port %1: %2.").arg(device, port.errorString());
    if (port.error() == QSerialPort::PermissionError) {
        const QFileInfo info(device);
        if (info.isReadable() && info.isWritable())
            text += QStringLiteral("\nAnother program is using the port; close it and start "
                                   "Thermometer again.");
        else
            text += QStringLiteral("\nYour user may not use serial ports: add it to the "
                                   "'dialout' group (sudo adduser $USER dialout) and log in "
                                   "again.");
    }
    return text;
}

} // namespace

SerialControl::SerialControl(const QString &firstPortDevice, QObject *parent)
    : QObject(parent)
    , m_firstPortDevice(firstPortDevice)
    , m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, &SerialControl::queueReceive);
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
            portFailed();
    });
}

SerialControl::~SerialControl()
{
    // Closing emits errorOccurred; nothing of ours may run while we are being destroyed.
    m_port->disconnect(this);
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
    return m_port->isOpen();
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

    m_port->setPortName(device);
    // The receive buffer bounds memory under a flood: what does not fit waits in the system's
    // buffer and, once that is full, holds back the sender.
    m_port->setReadBufferSize(InBufferSize);
    if (!m_port->open(QIODevice::ReadOnly))
        throw RuntimeError(RuntimeError::PortOpenFailed, openFailureText(device, *m_port));
    // A pty accepts any line setting; a real device refusing one is not worth ending over, as
    // the sensor's bytes still arrive or the user sees nothing and knows.
    m_port->setBaudRate(BaudRate);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->clearError();
    m_lossQueued = false;
    if (m_port->bytesAvailable() > 0)
        queueReceive();
}

QByteArray SerialControl::Input()
{
    char byte = 0;
    if (!PortOpen() || m_port->read(&byte, 1) != 1)
        return {};
    return QByteArray(1, byte);
}

void SerialControl::raiseOnComm(qint16 code)
{
    m_commEvent = code;
    emit OnComm();
}

bool SerialControl::event(QEvent *event)
{
    if (event->type() == ReceiveQueued) {
        receive();
        return true;
    }
    if (event->type() == LossQueued) {
        m_lossQueued = false;
        if (PortOpen()) {
            const QString reason = m_port->errorString();
            closePort();
            emit Lost(reason);
        }
        return true;
    }
    return QObject::event(event);
}

void SerialControl::queueReceive()
{
    if (m_receiveQueued)
        return;
    m_receiveQueued = true;
    QCoreApplication::postEvent(this, new QEvent(ReceiveQueued));
}

void SerialControl::receive()
{
    m_receiveQueued = false;
    if (!PortOpen() || m_rThreshold < 1)
        return;
    const qint64 waiting = m_port->bytesAvailable();
    if (waiting < m_rThreshold)
        return;
    raiseOnComm(ReceiveEvent);
    // Another event for what remains, but only if the handler took something: a handler that
    // reads nothing must not turn the event loop into a busy loop.
    if (PortOpen() && m_port->bytesAvailable() < waiting && m_port->bytesAvailable() > 0)
        queueReceive();
}

void SerialControl::portFailed()
{
    // Qt repeats this error in a tight loop until the port is closed, and closing it here,
    // inside the port's own notification, is not safe: queue one close for the event loop.
    if (m_lossQueued || !PortOpen())
        return;
    m_lossQueued = true;
    QCoreApplication::postEvent(this, new QEvent(LossQueued));
}

void SerialControl::closePort()
{
    // Closing a closed port would raise NotOpenError, itself an error to handle: close once.
    if (m_port->isOpen())
        m_port->close();
}
