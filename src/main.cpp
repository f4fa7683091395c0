#include "main_window/errorreport.h"
#include "main_window/form1.h"
#include "main_window/programicon.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("thermometer"));
    // Wayland compositors find the window's icon and name through its desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral(THERMOMETER_APP_ID));
    // X11 desktops without the desktop entry take the icon from the window itself.
    QApplication::setWindowIcon(programIcon());

    // The device pinned by the build; empty, serial port 1 is chosen when it opens.
    Form1 form(QStringLiteral(THERMOMETER_FIRST_SERIAL_PORT), showErrorReport);
    QObject::connect(&form, &Form1::ended, &app, &QCoreApplication::exit);

    form.Form_Load();
    if (form.hasEnded())
        return form.exitStatus();
    form.show();
    return QApplication::exec();
}
