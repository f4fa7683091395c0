#include "main_window/programicon.h"

#include <QDir>
#include <QFileInfo>

QIcon programIcon()
{
    QIcon icon;
    const QDir images(QStringLiteral(":/icon"));
    for (const QFileInfo &image : images.entryInfoList({QStringLiteral("*.png")}, QDir::Files))
        icon.addFile(image.filePath()); // each image's size is read from the image itself
    return icon;
}
