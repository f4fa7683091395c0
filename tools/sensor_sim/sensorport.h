#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <termios.h>

/// The simulated sensor's end of a line: the master of a pseudo-terminal whose slave clients
/// open as their serial port, or a Unix socket whose other end is a line of its own (a virtual
/// machine's emulated serial port).
class SensorPort
{
public:
    SensorPort() = default;
    ~SensorPort();
    SensorPort(const SensorPort &) = delete;
    SensorPort &operator=(const SensorPort &) = delete;

    /// Opens the pseudo-terminal; on failure returns false and describes why in error.
    bool open(std::string &error);

    /// Connects to the Unix socket at path instead. With telnet, the other end speaks telnet
    /// (as a virtual machine's serial line may), so a reading of 0xFF goes out doubled.
    bool connectSocket(const std::string &path, bool telnet, std::string &error);

    /// The bytes that carry \a size readings at \a data on this line.
    std::string onLine(const std::uint8_t *data, std::size_t size) const;

    int masterFd() const { return m_master; }
    const std::string &deviceName() const { return m_deviceName; }

    /// True while a client has the line set up for itself (any change to the idle settings).
    bool clientHasConfigured() const;

    /// Drops readings the last client left unread, so the next one starts with fresh ones.
    void discardUnread();

    /// Readings written but not yet read by the client.
    std::size_t queuedForClient() const;

    /// Throws away whatever the client sent: the sensor does not listen.
    void discardInput();

private:
    int m_master = -1; // or the socket
    bool m_socket = false;
    bool m_telnet = false;
    int m_slave = -1;
    std::string m_deviceName;
    termios m_idle {};
};
