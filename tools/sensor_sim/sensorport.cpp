#include "sensorport.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

SensorPort::~SensorPort()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

bool SensorPort::open(std::string &error)
{
    // Raw mode at 50 baud, a speed no client of ours asks for: the tell that a client has
    // opened the device is that it changed these settings (see clientHasConfigured()).
    termios settings {};
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B50);
    ::cfsetospeed(&settings, B50);

    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, &settings, nullptr) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    m_deviceName = name;
    // Non-blocking, so that waiting always happens in ppoll(), where signals get through.
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) < 0
        || ::tcgetattr(m_slave, &m_idle) != 0) {
        error = std::string("cannot set up the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool SensorPort::connectSocket(const std::string &path, bool telnet, std::string &error)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = "socket path too long: " + path;
        return false;
    }
    path.copy(address.sun_path, path.size());
    m_master = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // A non-blocking connect to a listening Unix socket completes at once or fails.
    if (m_master < 0
        || ::connect(m_master, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        error = "cannot connect to " + path + ": " + std::strerror(errno);
        return false;
    }
    m_deviceName = path;
    m_socket = true;
    m_telnet = telnet;
    return true;
}

std::string SensorPort::onLine(const std::uint8_t *data, std::size_t size) const
{
    std::string bytes(reinterpret_cast<const char *>(data), size);
    if (!m_telnet)
        return bytes;
    // Telnet's command byte stands for itself only when doubled.
    std::string escaped;
    for (const char byte : bytes) {
        escaped += byte;
        if (static_cast<unsigned char>(byte) == 0xFF)
            escaped += byte;
    }
    return escaped;
}

bool SensorPort::clientHasConfigured() const
{
    // Whoever reads the far end of a socket is not ours to see: it is always there.
    if (m_socket)
        return true;
    // We keep the slave open ourselves so the device survives between clients, which hides
    // a client's open() from the master. Every serial client sets its line up after opening
    // (ours: raw, 38400 baud), and the pty keeps those settings, so a change to them is a
    // reliable sign without kernel hooks. Writing earlier would leave the client with a
    // backlog of stale readings, possibly mangled by the line discipline's default mode.
    // Clients that restore the settings on close (QSerialPort does) are also seen leaving.
    termios now {};
    if (::tcgetattr(m_slave, &now) != 0)
        return false;
    return now.c_iflag != m_idle.c_iflag || now.c_oflag != m_idle.c_oflag
        || now.c_cflag != m_idle.c_cflag || now.c_lflag != m_idle.c_lflag
        || ::cfgetispeed(&now) != ::cfgetispeed(&m_idle)
        || ::cfgetospeed(&now) != ::cfgetospeed(&m_idle);
}

std::size_t SensorPort::queuedForClient() const
{
    int queued = 0;
    // A socket's: what the other end has not taken yet.
    if (::ioctl(m_socket ? m_master : m_slave, m_socket ? TIOCOUTQ : TIOCINQ, &queued) != 0
        || queued < 0)
        return 0;
    return static_cast<std::size_t>(queued);
}

void SensorPort::discardUnread()
{
    if (m_socket)
        return; // what the line took is the line's
    ::tcflush(m_slave, TCIFLUSH);
}

void SensorPort::discardInput()
{
    char buffer[256];
    while (::read(m_master, buffer, sizeof buffer) > 0) { }
}
