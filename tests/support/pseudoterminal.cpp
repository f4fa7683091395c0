#include "support/pseudoterminal.h"

#include <QCoreApplication>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    // Raw from the start, so that no byte is echoed or translated before the port opens it.
    termios mode {};
    tcgetattr(m_slave, &mode);
    cfmakeraw(&mode);
    tcsetattr(m_slave, TCSANOW, &mode);
    m_devicePath = QString::fromLocal8Bit(name);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // A program the test starts must not inherit either end: a master held open there would
    // keep the line up after closeMaster().
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

qint64 PseudoTerminal::untaken() const
{
    int waiting = 0;
    return ioctl(m_slave, FIONREAD, &waiting) == 0 ? waiting : -1;
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PseudoTerminal::write(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0 && m_master >= 0) {
        const ssize_t written = ::write(m_master, data, size_t(left));
        if (written > 0) {
            data += written;
            left -= written;
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (QCoreApplication::instance()) {
            // The line is full: let the program under test read, on this same thread.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        } else {
            pollfd wait {m_master, POLLOUT, 0};
            ::poll(&wait, 1, 100);
        }
    }
    return left == 0;
}

void PseudoTerminal::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool PseudoTerminal::hangUp()
{
    // Through the device the program opened, as its driver would.
    const int device
        = ::open(m_devicePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (device < 0)
        return false;
    const bool hungUp = ::ioctl(device, TIOCVHANGUP) == 0;
    ::close(device);
    return hungUp;
}

bool PseudoTerminal::mayHangUp()
{
    return ::geteuid() == 0;
}
