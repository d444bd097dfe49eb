#pragma once

#include "DeviceProtocol.h"

#include <QtGlobal>

#include <array>

// Everything the simulated switcher remembers. Plain data: tests set it up directly and read
// it back after a command.
struct SwitcherState
{
    // EDID source of an input: a built-in mode word as the set commands carry it
    // (0xF001-0xF00F, 0xF012 default, the user memories' words), or one of these.
    static constexpr quint16 EdidDefault = 0xF012;
    static constexpr quint16 EdidCopiedFromOutput = 0xE000; // + output number
    static constexpr quint16 EdidDownloaded = 0xE100; // data downloaded by the controller

    int modelNumber = 2; // 1-based index into the model name list: "HDMI Matrix 6x6"
    int inputs = 6;
    int outputs = 6;
    int versionMajor = 6;
    int versionMinor = 50;

    bool powerOn = true;
    std::array<int, DeviceProtocol::PortCount> routes{
        1, 2, 3, 4, 5, 6}; // routes[output - 1] = input
    std::array<bool, DeviceProtocol::PortCount> inputConnected{true, true, true, true, true, true};
    std::array<bool, DeviceProtocol::PortCount> outputConnected{true, true, true, true, true, true};

    // Panel feature switches
    bool apm = false;
    bool beeper = true;
    bool keysUnlocked = true;
    bool irEnabled = true;

    std::array<quint16, DeviceProtocol::PortCount> edidMode{
        EdidDefault, EdidDefault, EdidDefault, EdidDefault, EdidDefault, EdidDefault};

    int reboots = 0;
};
