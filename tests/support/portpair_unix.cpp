#include "support/portpair.h"

#include "support/pseudoterminal.h"

#include <QThread>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

struct PortPair::Line
{
    PseudoTerminal pty;
};

PortPair::PortPair()
    : m_line(std::make_unique<Line>())
{
}

PortPair::~PortPair() = default;

QString PortPair::unavailable()
{
    return {};
}

QString PortPair::cannotPullOut(Loss loss)
{
    if (loss == Loss::HungUp && !PseudoTerminal::mayHangUp())
        return QStringLiteral("hanging a line up needs root");
    return {};
}

bool PortPair::isValid() const
{
    return m_line->pty.isValid();
}

QString PortPair::deviceName() const
{
    return m_line->pty.devicePath();
}

bool PortPair::write(const QByteArray &bytes)
{
    return m_line->pty.write(bytes);
}

bool PortPair::pullOut(Loss loss)
{
    if (loss == Loss::HungUp)
        return m_line->pty.hangUp();
    m_line->pty.closeMaster();
    return true;
}

qint64 PortPair::untaken() const
{
    return m_line->pty.untaken();
}

int PortPair::masterFd() const
{
    return m_line->pty.masterFd();
}

// The feed writes into the master as it is: nothing of its own to open.
struct PortPair::Feed::Port
{
};

PortPair::Feed::Feed(PortPair &pair, std::function<void(Feed &)> run)
    : m_pair(pair)
    , m_thread(QThread::create([this, run = std::move(run)] { run(*this); }))
{
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
    const int master = m_pair.masterFd();
    if (master < 0)
        return -1;
    pollfd ready {master, POLLOUT, 0};
    if (::poll(&ready, 1, msecs) != 1)
        return 0;
    const ssize_t written = ::write(master, bytes.constData(), size_t(bytes.size()));
    if (written >= 0)
        return written;
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}
