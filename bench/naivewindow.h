#pragma once

#include <QWidget>

class QLineEdit;
class QSerialPort;

/// The baseline: the obvious way to write the program. A plain window with the two text boxes,
/// a QSerialPort whose readyRead reads every waiting byte and sets both texts per byte; no
/// chart, no throttle, so each change repaints at the next turn of the event loop.
class NaiveWindow : public QWidget
{
    Q_OBJECT

public:
    explicit NaiveWindow(const QString &device, QWidget *parent = nullptr);

    /// Opens the port; false with the reason in \a error when it cannot.
    bool open(QString *error);
    /// Readings taken so far.
    qint64 count() const { return m_count; }

    QLineEdit *const txtTemp;
    QLineEdit *const txtIndex;

private:
    void readAll();

    QSerialPort *const m_port;
    qint64 m_count = 0;
};
