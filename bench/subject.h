#pragma once

#include <QString>

#include <memory>

class QAbstractButton;
class QLineEdit;
class QWidget;

/// What a measurement drives: the program's window, or the naive baseline.
class Subject
{
public:
    virtual ~Subject() = default;

    /// "program" or "baseline" on \a device, its port open; null with \a error when it fails.
    static std::unique_ptr<Subject> open(const QString &kind, const QString &device,
                                         QString *error);

    virtual QWidget *window() const = 0;
    virtual QLineEdit *temperatureBox() const = 0;
    virtual QLineEdit *counterBox() const = 0;
    /// The Start/Stop button; null when there is none.
    virtual QAbstractButton *recordButton() const = 0;
    /// Readings taken from the line so far, each counted as its handler returns, up to the last
    /// time the window brought its boxes up to date.
    virtual qint64 readingsTaken() const = 0;
    /// The counter shown after \a readings readings since recording was switched on or off.
    virtual QString expectedCounter(qint64 readings, bool recording) const = 0;
};
