#pragma once

#include <QApplication>
#include <QString>

// The program's names as the system sees them. No application display name is set: a desktop's
// window system would append it to every window caption ("Auto searching — Matrix Controller"),
// and the captions are to read exactly as the windows give them.
inline void SetProgramIdentity()
{
    QApplication::setApplicationName(QStringLiteral("matrix-controller"));
    QApplication::setApplicationVersion(QStringLiteral("6.50"));
}
