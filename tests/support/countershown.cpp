// Built only into the test copies of the program (tst_faults and its Wine variant, the Wine
// cost script and the lab's): when the window is closed, standard error gets what the counter
// and temperature boxes show. A
// test outside the process, or a Windows build run under Wine, can read no widget of the
// program; this reads the very box a person sees, so a lost or miscounted reading shows.

#include <QApplication>
#include <QLineEdit>

#include <cstdio>

namespace {

void printCounterWhenClosed()
{
    QCoreApplication *const application = QCoreApplication::instance();
    QObject::connect(application, &QCoreApplication::aboutToQuit, application, [] {
        for (const QWidget *widget : QApplication::allWidgets()) {
            const auto *box = qobject_cast<const QLineEdit *>(widget);
            if (box && box->objectName() == QLatin1String("txtIndex"))
                std::fprintf(stderr, "counter shown at exit: %s\n", qPrintable(box->text()));
            if (box && box->objectName() == QLatin1String("txtTemp"))
                std::fprintf(stderr, "temperature shown at exit: %s\n", qPrintable(box->text()));
        }
        std::fflush(stderr);
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(printCounterWhenClosed)
