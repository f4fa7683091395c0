#pragma once

#include <cstddef>
#include <string>
#include <termios.h>

/// The simulated sensor's end of a pseudo-terminal. Clients open the slave device as their
/// serial port; the simulator writes readings into the master.
class SensorPort
{
public:
    SensorPort() = default;
    ~SensorPort();
    SensorPort(const SensorPort &) = delete;
    SensorPort &operator=(const SensorPort &) = delete;

    /// Opens the pseudo-terminal; on failure returns false and describes why in error.
    bool open(std::string &error);

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
    int m_master = -1;
    int m_slave = -1;
    std::string m_deviceName;
    termios m_idle {};
};
