#pragma once

#include <QByteArray>
#include <QString>

/// A real pseudo-terminal: the program under test opens devicePath() as its serial port, and
/// the test writes the sensor's bytes into the other end.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString devicePath() const { return m_devicePath; }

    /// Writes all of \a bytes. While the line is full it runs the event loop, so a program on
    /// the same thread reads on. False if the line is gone.
    bool write(const QByteArray &bytes);
    /// Closes the sensor's end, as when the device is unplugged.
    void closeMaster();
    /// Hangs the line up as a USB adapter's driver does when it is pulled out: every descriptor
    /// of the port's device, the program's too, reads end-of-file from then on. Needs root
    /// (mayHangUp()); false if it failed.
    bool hangUp();
    static bool mayHangUp();
    int masterFd() const { return m_master; }
    /// Bytes written into the master that no reader of the port's device has taken yet.
    qint64 untaken() const;

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_devicePath;
};
