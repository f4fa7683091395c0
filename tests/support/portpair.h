#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QThread;

/// The two ends of a serial line: the program under test opens deviceName() as its serial port,
/// and the test writes the sensor's bytes into the other end. On Unix a pseudo-terminal of its
/// own. On Windows the two ports of a linked pair that THERMOMETER_TEST_PORTS names, the
/// program's first ("COM5 COM6", a com0com pair or the test bed's); the line is pulled out
/// through the bed's THERMOMETER_TEST_LINE_CONTROL.
class PortPair
{
public:
    /// How the line goes away.
    enum class Loss {
        /// The sensor's end closed, as when the device is unplugged.
        OtherEndClosed,
        /// Hung up as a USB adapter's driver does when it is pulled out: every descriptor of the
        /// port's device, the program's too, reads end-of-file from then on.
        HungUp,
    };

    class Feed;

    PortPair();
    ~PortPair();
    PortPair(const PortPair &) = delete;
    PortPair &operator=(const PortPair &) = delete;

    /// Why no pair can be had here, or empty when it can: a test skips with it.
    static QString unavailable();
    /// Why the line cannot be pulled out so here, or empty when it can.
    static QString cannotPullOut(Loss loss);

    bool isValid() const;
    QString deviceName() const;

    /// Writes all of \a bytes. While the line is full it runs the event loop, so a program on
    /// the same thread reads on. False if the line is gone.
    bool write(const QByteArray &bytes);
    /// Takes the line away from the program; false if that failed.
    bool pullOut(Loss loss);
    /// Bytes written that the program has not yet taken from the system, or -1 where that
    /// cannot be seen (Windows).
    qint64 untaken() const;

#ifdef Q_OS_UNIX
    /// The sensor's end, for a writer on a thread of its own.
    int masterFd() const;
#endif

private:
    struct Line;
    std::unique_ptr<Line> m_line;
};

/// Writes the sensor's bytes from a thread of its own, without the event loop, as a device
/// does: \a run is called there with the feed to write through. The test's thread writes nothing
/// into the pair until the feed has ended (join(), or its end).
class PortPair::Feed
{
public:
    Feed(PortPair &pair, std::function<void(Feed &)> run);
    ~Feed();
    Feed(const Feed &) = delete;
    Feed &operator=(const Feed &) = delete;

    void join();
    /// On the feed's thread: writes what the line takes of \a bytes within \a msecs. How many
    /// bytes it took (0 while the line is full), or -1 once the line is gone.
    qint64 write(const QByteArray &bytes, int msecs);

private:
    struct Port;
    PortPair &m_pair;
    std::unique_ptr<Port> m_port;
    std::unique_ptr<QThread> m_thread;
};
