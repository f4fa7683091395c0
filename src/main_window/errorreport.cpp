#include "main_window/errorreport.h"

#include "main_window/runtimeerror.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

void showErrorReport(const RuntimeError &error)
{
    const QString text = error.reportText();
    // Standard error first: it still tells what happened when no one sees the box.
    std::fprintf(stderr, "thermometer: %s\n", qPrintable(text));
    std::fflush(stderr);
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Thermometer"), text);
}
