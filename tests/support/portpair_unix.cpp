#include "support/portpair.h"

#include "support/pseudoterminal.h"

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

int PortPair::masterFd() const
{
    return m_line->pty.masterFd();
}
