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

// The sensor's side of the line, as the sensor sets it.
bool openSensorPort(QSerialPort &port, const QString &name)
{
    port.setPortName(name);
    port.setBaudRate(QSerialPort::Baud38400);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    // Read and write: Wine refuses a port opened for writing alone ("Access denied").
    if (port.open(QIODevice::ReadWrite))
        return true;
    qWarning("cannot open the sensor's port %s: %s", qPrintable(name),
             qPrintable(port.errorString()));
    return false;
}

} // namespace

struct PortPair::Line
{
    QString device;
    QString sensorName;
    // Opened at the first write: a feed opens the port on a thread of its own instead.
    QSerialPort sensor;
    bool closed = false;
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
    m_line->device = ports.at(0);
    m_line->sensorName = ports.at(1);
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
    if (!sensor.isOpen() && (m_line->closed || !openSensorPort(sensor, m_line->sensorName)))
        return false;
    if (sensor.write(bytes) != bytes.size())
        return false;
    // The port hands its bytes to the system later: wait until the system has them all. Only a
    // line still full after a while runs the event loop, so that a program on this thread reads
    // on; bytes the line has room for are written without it, as into a pseudo-terminal.
    int wait = 500;
    while (sensor.bytesToWrite() > 0) {
        sensor.clearError();
        if (sensor.waitForBytesWritten(wait))
            continue;
        if (sensor.error() != QSerialPort::TimeoutError)
            return false;
        wait = 10;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

qint64 PortPair::untaken() const
{
    return -1;
}

bool PortPair::pullOut(Loss loss)
{
    if (!cannotPullOut(loss).isEmpty() || !isValid())
        return false;
    if (loss == Loss::HungUp)
        return askTheBed(QStringLiteral("hangup"));
    m_line->sensor.close();
    m_line->closed = true;
    return askTheBed(QStringLiteral("close"));
}

struct PortPair::Feed::Port
{
    QSerialPort serial;
};

PortPair::Feed::Feed(PortPair &pair, std::function<void(Feed &)> run)
    : m_pair(pair)
{
    // The sensor's port is the feed's while it runs, opened and closed on the feed's thread.
    m_pair.m_line->sensor.close();
    const QString name = m_pair.m_line->closed ? QString() : m_pair.m_line->sensorName;
    m_thread.reset(QThread::create([this, name, run = std::move(run)] {
        m_port = std::make_unique<Port>();
        if (!name.isEmpty())
            openSensorPort(m_port->serial, name);
        run(*this);
        m_port.reset();
    }));
    m_thread->start();
}

PortPair::Feed::~Feed()
{
    join();
}

void PortPair::Feed::join()
{
    m_thread->wait();
}

qint64 PortPair::Feed::write(const QByteArray &bytes, int msecs)
{
    QSerialPort &port = m_port->serial;
    if (!port.isOpen())
        return -1;
    // What the port holds from before goes first; new bytes only once the line took those.
    const QDeadlineTimer deadline(msecs);
    const auto drain = [&] {
        while (port.bytesToWrite() > 0 && !deadline.hasExpired()) {
            port.clearError();
            if (!port.waitForBytesWritten(int(deadline.remainingTime()))
                && port.error() != QSerialPort::TimeoutError)
                return false;
        }
        return true;
    };
    if (!drain())
        return -1;
    if (port.bytesToWrite() > 0)
        return 0;
    port.write(bytes);
    return drain() ? bytes.size() : -1;
}
