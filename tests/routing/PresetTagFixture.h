#pragma once

// The window the preset and port tag suites start: a program folder holding settingsIni as its
// Settings.ini, the switcher on loopback TCP taken as switched on.
#include "DialogDriver.h"
#include "SettingsFile.h"
#include "StatusBar.h"
#include "WindowFixture.h"

using testsupport::BoxAnswer;
using testsupport::ModalAnswer;
using testsupport::WindowFixture;

inline WindowFixture::Options presetTagWindow(const QByteArray &settingsIni = {})
{
    WindowFixture::Options options;
    options.settingsIni = settingsIni;
    options.powerOn = true;
    return options;
}
