#pragma once

#include <QString>
#include <QStringList>

// Model names indexed by the model number the switcher reports (1-based).
inline const QStringList &switcherModelNames()
{
    static const QStringList names = {
        QStringLiteral("HDMI Matrix 4x4"),
        QStringLiteral("HDMI Matrix 6x6"),
        QStringLiteral("HDMI Matrix 8x8"),
    };
    return names;
}

inline QString switcherModelName(int number)
{
    const QStringList &names = switcherModelNames();
    return number >= 1 && number <= names.size() ? names[number - 1]
                                                 : QStringLiteral("Unknown model %1").arg(number);
}
