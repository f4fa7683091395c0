#include "support/portpair.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSerialPort>
#include <QStringList>
#include <QThread>

namespace {

// The program's port, then the sensor's.
QStringList testPorts()
{
    return qEnvironmentVariable("THERMOMETER_TEST_PORTS")
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Where the test bed takes requests to act on the line; empty on a machine without the bed.
QString lineControl()
{
    return qEnvironmentVariable("THERMOMETER_TEST_LINE_CONTROL");
}

// Asks the bed to act on the line, and waits until it has: it deletes the request when done.
bool askTheBed(const QString &request)
{
    const QString path = QDir(lineControl()).filePath(request);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.close();
    const QDeadlineTimer deadline(5000);
    while (QFile::exists(path)) {
        if (deadline.hasExpired()) {
            qWarning("the test bed did not act on %s", qPrintable(path));
            return false;
        }
        QThread::msleep(5);
    }
    return true;
}

} // namespace

struct PortPair::Line
{
    QString device;
    QSerialPort sensor;
};

PortPair::PortPair()
    : m_line(std::make_unique<Line>())
{
    const QStringList ports = testPorts();
    if (ports.size() != 2)
        return;
    // The last test may have pulled the line out: each pair starts on a fresh one.
    if (!lineControl().isEmpty() && !askTheBed(QStringLiteral("renew")))
        return;
    QSerialPort &sensor = m_line->sensor;
    sensor.setPortName(ports.at(1));
    sensor.setBaudRate(QSerialPort::Baud38400);
    sensor.setDataBits(QSerialPort::Data8);
    sensor.setParity(QSerialPort::NoParity);
    sensor.setStopBits(QSerialPort::OneStop);
    sensor.setFlowControl(QSerialPort::NoFlowControl);
    if (!sensor.open(QIODevice::WriteOnly)) {
        qWarning("cannot open the sensor's port %s: %s", qPrintable(ports.at(1)),
                 qPrintable(sensor.errorString()));
        return;
    }
    m_line->device = ports.at(0);
}

PortPair::~PortPair() = default;

QString PortPair::unavailable()
{
    if (testPorts().size() == 2)
        return {};
    return QStringLiteral("no serial line to test on: set THERMOMETER_TEST_PORTS to two linked "
                          "ports, the program's then the sensor's, such as \"COM5 COM6\" of a "
                          "com0com pair");
}

QString PortPair::cannotPullOut(Loss)
{
    if (const QString why = unavailable(); !why.isEmpty())
        return why;
    if (lineControl().isEmpty())
        return QStringLiteral("pulling the line out needs the test bed's line control "
                              "(THERMOMETER_TEST_LINE_CONTROL)");
    return {};
}

bool PortPair::isValid() const
{
    return !m_line->device.isEmpty();
}

QString PortPair::deviceName() const
{
    return m_line->device;
}

bool PortPair::write(const QByteArray &bytes)
{
    QSerialPort &sensor = m_line->sensor;
    if (!sensor.isOpen() || sensor.write(bytes) != bytes.size())
        return false;
    // The port hands its bytes to the system later: wait until the system has them all, and
    // while the line is full let the program read on.
    while (sensor.bytesToWrite() > 0) {
        sensor.clearError();
        if (!sensor.waitForBytesWritten(10) && sensor.error() != QSerialPort::TimeoutError)
            return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

bool PortPair::pullOut(Loss loss)
{
    if (!cannotPullOut(loss).isEmpty() || !isValid())
        return false;
    if (loss == Loss::HungUp)
        return askTheBed(QStringLiteral("hangup"));
    m_line->sensor.close();
    return askTheBed(QStringLiteral("close"));
}
