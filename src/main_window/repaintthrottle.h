#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QObject>

class QWidget;

/// Lets a window repaint at most once per display frame. Readings may change its texts and
/// chart thousands of times a second; each change takes effect at once, but what is on screen
/// follows at the frame rate, a frame at the latest after the last change. Nothing runs while
/// nothing changes.
///
/// Every repaint of a window's widgets goes through one update request to the window; the
/// throttle holds back the requests that come within the frame of the last repaint and sends one
/// when the frame is over; a request after a quiet frame goes through at once. Frames are the
/// screen's periods laid end to end, not whole milliseconds from the last repaint, so a 60 Hz
/// screen gets at most 60 repaints a second.
///
/// Just before the window repaints, whether for an update or because it is shown, restored or
/// uncovered, aboutToRepaint() lets it bring what it shows up to date.
class RepaintThrottle : public QObject
{
    Q_OBJECT

public:
    explicit RepaintThrottle(QWidget *window);

    /// The period of a screen refreshing \a hertz times a second, and its whole milliseconds.
    static qint64 frameNanoseconds(qreal hertz);
    static int frameMilliseconds(qreal hertz);

signals:
    void aboutToRepaint();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    bool holdUpdate();

    QWidget *const m_window;
    QElapsedTimer m_clock;
    /// The end of the frame of the last repaint, on m_clock.
    qint64 m_frameEnd = 0;
    /// Runs only while a repaint waits for the end of a frame.
    QBasicTimer m_frame;
};
