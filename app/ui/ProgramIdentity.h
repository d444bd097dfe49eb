#pragma once

#include "MatrixVersion.h"

#include <QApplication>
#include <QString>

// The program's names as the system sees them. No application display name is set: a desktop's
// window system would append it to every window caption ("Auto searching — Matrix Controller"),
// and the captions are to read exactly as the windows give them.
inline void setProgramIdentity()
{
    QApplication::setApplicationName(QStringLiteral("matrix-controller"));
    QApplication::setApplicationVersion(QStringLiteral(MATRIX_VERSION));
    // The installed desktop entry's name, by which a desktop finds the window's icon and entry.
    QApplication::setDesktopFileName(QStringLiteral("org.matrixcontroller.MatrixController"));
}
