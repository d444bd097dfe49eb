#pragma once

#include "GatewaySettings.h"

#include <QList>
#include <QString>

// What --import-settings found in a window's Settings.ini for the switcher being served.
struct WindowImport
{
    QString switcher; // "the COM-mode switcher", "the network switcher at 10.1.2.3"
    bool labels = false; // its port tags were there and became the labels
    QList<int> presets; // the presets the file holds (1..8), taken over

    bool nothing() const { return !labels && presets.isEmpty(); }
    // One line for the operator: what was imported, or that nothing was.
    QString summary(const QString &windowFile) const;
};

// --import-settings: the labels and presets of a window's Settings.ini, which is only read,
// through the window's own reader of that file. Only what the file holds for this switcher
// changes *values: the COM-mode tags when host is empty, else the tags of the network switcher
// whose device entry has that address (none when no entry has it, or all its tags are blank),
// and each preset the file holds (the window's presets are not kept per switcher). False with
// *error when the file cannot be read completely.
bool importWindowSettings(const QString &windowFile, const QString &host,
    GatewaySettings::Values *values, WindowImport *found, QString *error);
