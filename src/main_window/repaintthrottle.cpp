#include "main_window/repaintthrottle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QTimerEvent>
#include <QWidget>
#include <QWindow>

#include <cmath>

RepaintThrottle::RepaintThrottle(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    m_clock.start();
    window->installEventFilter(this);
}

qint64 RepaintThrottle::frameNanoseconds(qreal hertz)
{
    // A screen that reports no sensible rate is taken as the common 60 Hz.
    if (!(hertz >= 10 && hertz <= 1000))
        hertz = 60;
    return qint64(std::floor(1e9 / hertz));
}

int RepaintThrottle::frameMilliseconds(qreal hertz)
{
    return int(frameNanoseconds(hertz) / 1000000);
}

bool RepaintThrottle::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::UpdateRequest)
        return holdUpdate();
    // A window shown again, restored or uncovered repaints from its expose, with no update
    // request. Its native window exists once it is shown.
    if (watched == m_window && event->type() == QEvent::Show && m_window->windowHandle())
        m_window->windowHandle()->installEventFilter(this);
    if (watched == m_window->windowHandle() && event->type() == QEvent::Expose)
        emit aboutToRepaint();
    return false;
}

// Whether the update request must wait for the end of the frame.
bool RepaintThrottle::holdUpdate()
{
    if (m_frame.isActive())
        return true; // one repaint waits for the frame's end already
    const qint64 now = m_clock.nsecsElapsed();
    if (now < m_frameEnd) {
        // Within the frame of the last repaint: this one waits for the frame's end. Whole
        // milliseconds, rounded up: the timer never ends a frame early.
        m_frame.start(int((m_frameEnd - now + 999999) / 1000000), Qt::PreciseTimer, this);
        return true;
    }
    // This repaint goes through at once. No timer: a repaint that nothing follows costs no
    // wake-up at the end of its frame.
    const QScreen *const screen = m_window->screen();
    const qint64 frame = frameNanoseconds(screen ? screen->refreshRate() : 0);
    m_frameEnd = (now / frame + 1) * frame;
    emit aboutToRepaint();
    return false;
}

void RepaintThrottle::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_frame.timerId())
        return QObject::timerEvent(event);
    m_frame.stop();
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_window, &request);
}
