#include "serial_input/openfailuretext.h"

#include <QFileInfo>

QString openFailureText(const QString &device, QSerialPort::SerialPortError error,
                        const QString &reason)
{
    // Windows' own texts end with a full stop of their own ("Invalid function."): one is enough.
    QString sentence = reason.trimmed();
    while (sentence.endsWith(QLatin1Char('.')))
        sentence.chop(1);
    QString text = QStringLiteral("Cannot open serial port %1: %2.").arg(device, sentence);
    if (error != QSerialPort::PermissionError)
        return text;
    const QString inUse = QStringLiteral("\nAnother program is using the port; close it and start "
                                         "Thermometer again.");
#ifdef Q_OS_UNIX
    // Serial devices belong to a group; a user outside it may not open them at all.
    const QFileInfo info(device);
    if (!info.isReadable() || !info.isWritable())
        return text
            + QStringLiteral("\nYour user may not use serial ports: add it to the 'dialout' "
                             "group (sudo adduser $USER dialout) and log in again.");
    // Qt gives this one error for a device that another program has locked and for a lock file
    // it could not make (a lock directory it may not write): only its reason tells which.
    return reason.contains(QLatin1String("locking the device")) ? text + inUse : text;
#else
    // Windows lets one program at a time open a serial port.
    return text + inUse;
#endif
}
