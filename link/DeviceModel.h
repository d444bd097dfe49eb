#pragma once

#include <QString>
#include <QStringList>

// Model names indexed by the model number the switcher reports (1-based).
inline const QStringList &DeviceModelNames()
{
    static const QStringList names = {
        QStringLiteral("HDMI Matrix 4x4"),
        QStringLiteral("HDMI Matrix 6x6"),
        QStringLiteral("HDMI Matrix 8x8"),
    };
    return names;
}

inline QString DeviceModelName(int number)
{
    const QStringList &names = DeviceModelNames();
    return number >= 1 && number <= names.size() ? names[number - 1]
                                                 : QStringLiteral("Unknown model %1").arg(number);
}
