#pragma once

#include <QSerialPort>
#include <QString>

/// What the window reports when \a device cannot be opened: the system's \a reason, and a hint
/// where what failed tells the user what to do.
QString openFailureText(const QString &device, QSerialPort::SerialPortError error,
                        const QString &reason);
