#include "main_window/repaintthrottle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QTimerEvent>
#include <QWidget>

#include <cmath>

RepaintThrottle::RepaintThrottle(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    window->installEventFilter(this);
}

int RepaintThrottle::frameMilliseconds(qreal hertz)
{
    // A screen that reports no sensible rate is taken as the common 60 Hz.
    if (!(hertz >= 10 && hertz <= 1000))
        hertz = 60;
    return int(std::floor(1000 / hertz));
}

bool RepaintThrottle::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window || event->type() != QEvent::UpdateRequest)
        return false;
    if (m_frame.isActive()) {
        m_held = true;
        return true;
    }
    // This repaint goes through and starts a frame; requests within it wait for its end.
    const QScreen *const screen = m_window->screen();
    m_frame.start(frameMilliseconds(screen ? screen->refreshRate() : 0), Qt::PreciseTimer, this);
    return false;
}

void RepaintThrottle::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_frame.timerId())
        return QObject::timerEvent(event);
    m_frame.stop();
    if (!m_held)
        return;
    m_held = false;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_window, &request);
}
