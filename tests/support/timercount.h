#pragma once

#include <QEvent>
#include <QObject>

/// Counts the timer events an object receives, to show that nothing ticks while nothing changes.
struct TimerCount : QObject
{
    int timers = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        timers += event->type() == QEvent::Timer;
        return false;
    }
};
