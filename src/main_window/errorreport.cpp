#include "main_window/errorreport.h"

#include "main_window/runtimeerror.h"

#include <QMessageBox>

#include <cstdio>

void showErrorReport(const RuntimeError &error)
{
    const QString text = error.reportText();
    // Standard error first: it still tells what happened if no one can see the box.
    std::fprintf(stderr, "thermometer: %s\n",
                 qPrintable(QString(text).replace(QStringLiteral("\n\n"), QStringLiteral(" "))));
    std::fflush(stderr);
    QMessageBox::critical(nullptr, QStringLiteral("Thermometer"), text);
}
