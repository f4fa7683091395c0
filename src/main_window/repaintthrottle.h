#pragma once

#include <QBasicTimer>
#include <QObject>

class QWidget;

/// Lets a window repaint at most once per display frame. Readings may change its texts and
/// chart thousands of times a second; each change takes effect at once, but what is on screen
/// follows at the frame rate, a frame at the latest after the last change. Nothing runs while
/// nothing changes.
///
/// Every repaint of a window's widgets goes through one update request to the window; the
/// throttle holds back the requests that come within a frame of the last repaint and sends one
/// when the frame is over.
class RepaintThrottle : public QObject
{
    Q_OBJECT

public:
    explicit RepaintThrottle(QWidget *window);

    /// The interval between repaints of a screen refreshing \a hertz times a second.
    static int frameMilliseconds(qreal hertz);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    QWidget *const m_window;
    QBasicTimer m_frame;
    bool m_held = false;
};
