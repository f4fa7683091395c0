#include "serial_input/serialline.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Serial programs agree on a lock file LCK..<device> in the first of these directories that is
// usable; the same list as QSerialPort's, so that Qt programs see each other's locks.
QString lockFilePath(const QString &device)
{
    const char *const directories[]
        = {"/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
           "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *directory : directories) {
        const QString path = QLatin1String(directory) + QStringLiteral("/LCK..") + name;
        const QFileInfo info {QString::fromLatin1(directory)};
        if (info.isReadable() && (QFile::exists(path) || info.isWritable()))
            return path;
    }
    return {};
}

} // namespace

struct SerialLine::Saved
{
    termios mode {};
    std::unique_ptr<QLockFile> lock;
};

SerialLine::SerialLine(QObject *parent)
    : QObject(parent)
{
}

SerialLine::~SerialLine()
{
    close();
}

bool SerialLine::open(const QString &device, Failure *failure, QString *reason)
{
    close();
    auto saved = std::make_unique<Saved>();
    const QString lockPath = lockFilePath(device);
    if (!lockPath.isEmpty()) {
        saved->lock = std::make_unique<QLockFile>(lockPath);
        if (!saved->lock->tryLock(0)) {
            *failure = Denied;
            *reason = QStringLiteral("Permission error while locking the device");
            return false;
        }
    }
    const int fd = ::open(QFile::encodeName(device).constData(),
                          O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *failure = errno == EACCES || errno == EPERM || errno == EBUSY ? Denied : OtherFailure;
        *reason = qt_error_string(errno);
        return false;
    }
    if (tcgetattr(fd, &saved->mode) != 0) {
        *failure = OtherFailure;
        *reason = qt_error_string(errno);
        ::close(fd);
        return false;
    }
    // No one else may open the device while it is ours.
    ::ioctl(fd, TIOCEXCL);
    // Raw 8N1 at 38400 bit/s, modem lines ignored. A break or a garbled byte is dropped, not
    // read as a NUL (a reading of 0 degrees). VMIN 1 makes a read with nothing waiting fail
    // with EAGAIN, so that a read of 0 bytes means the device hung up. A device that refuses a
    // setting fails to open rather than delivering wrong readings.
    termios mode = saved->mode;
    cfmakeraw(&mode);
    mode.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | PARENB | CRTSCTS);
    mode.c_cflag |= CS8 | CLOCAL | CREAD;
    mode.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    mode.c_iflag |= IGNBRK | IGNPAR;
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    if (cfsetispeed(&mode, B38400) != 0 || cfsetospeed(&mode, B38400) != 0
        || tcsetattr(fd, TCSANOW, &mode) != 0) {
        *failure = OtherFailure;
        *reason = qt_error_string(errno);
        ::close(fd);
        return false;
    }

    m_fd = fd;
    m_saved = saved.release();
    m_lostReason.clear();
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &SerialLine::arrival);
    *failure = NoFailure;
    return true;
}

void SerialLine::close()
{
    if (m_fd < 0)
        return;
    // The notifier may be the one reporting right now: let it go once it has returned.
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
    tcsetattr(m_fd, TCSANOW, &m_saved->mode);
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
    delete m_saved; // unlocks
    m_saved = nullptr;
}

bool SerialLine::isOpen() const
{
    return m_fd >= 0;
}

qint64 SerialLine::read(char *data, qint64 size)
{
    if (m_fd < 0)
        return -1;
    for (;;) {
        const ssize_t count = ::read(m_fd, data, size_t(size));
        if (count > 0)
            return count;
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == EAGAIN)
            return 0;
        m_lostReason = count == 0 ? QStringLiteral("The device hung up") : qt_error_string(errno);
        return -1;
    }
}

void SerialLine::setWatching(bool watching)
{
    if (m_notifier)
        m_notifier->setEnabled(watching);
}
