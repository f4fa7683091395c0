#pragma once

#include <QIcon>

// The program's icon in every size the build drew from its SVG, so that the title bar, the
// task switcher and the taskbar each take a sharp image.
QIcon programIcon();
