#include "main_window/errorreport.h"
#include "main_window/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("thermometer"));

    Form1 form(QStringLiteral(THERMOMETER_FIRST_SERIAL_PORT), showErrorReport);
    QObject::connect(&form, &Form1::ended, &app, &QCoreApplication::exit);

    form.Form_Load();
    if (form.hasEnded())
        return form.exitStatus();
    form.show();
    return QApplication::exec();
}
