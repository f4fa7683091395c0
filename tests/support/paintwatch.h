#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>

#include <functional>

/// Calls \a painted at every paint of a widget, just before the widget paints: what a person
/// sees is what the widget holds then.
class PaintWatch : public QObject
{
public:
    PaintWatch(QWidget *widget, std::function<void()> painted)
        : m_widget(widget)
        , m_painted(std::move(painted))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget && event->type() == QEvent::Paint)
            m_painted();
        return false;
    }

private:
    QWidget *const m_widget;
    std::function<void()> m_painted;
};
