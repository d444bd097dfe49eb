#pragma once

#include "GatewaySettings.h"

#include <QString>

// --import-settings: the labels and presets of a window's Settings.ini, which is only read,
// through the window's own reader of that file. The COM-mode tags when host is empty, else the
// tags of the network switcher whose device entry has that address (no labels when none has).
// False with *error when the file cannot be read.
bool importWindowSettings(const QString &windowFile, const QString &host,
    GatewaySettings::Values *values, QString *error);
