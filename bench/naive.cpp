// thermometer-naive: the benchmark's baseline on its own, for where the benchmark itself cannot
// run (the Windows build under Wine, bench/wine-cost.sh): the obvious program on the port named
// on the command line, for as many seconds as it is told, then it ends with status 0.
//
// Usage: thermometer-naive PORT SECONDS

#include "naivewindow.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3 || arguments.at(2).toDouble() <= 0) {
        std::fprintf(stderr, "usage: thermometer-naive PORT SECONDS\n");
        return 2;
    }
    NaiveWindow window(arguments.at(1));
    QString error;
    if (!window.open(&error)) {
        std::fprintf(stderr, "thermometer-naive: %s\n", qPrintable(error));
        return 1;
    }
    window.show();
    QTimer::singleShot(int(arguments.at(2).toDouble() * 1000), &app, &QCoreApplication::quit);
    const int status = QApplication::exec();
    std::fprintf(stderr, "counter shown at exit: %lld\n", window.count());
    return status;
}
