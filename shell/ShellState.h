#pragma once

#include "MatrixVersion.h"

#include <QString>
#include <QtGlobal>

inline QString productTitle()
{
    return QStringLiteral("Matrix Controller");
}

inline QString versionText()
{
    return QStringLiteral("ver" MATRIX_VERSION);
}

// The program-wide flags and values the main window holds and its helpers share. One instance,
// owned by the window and handed to the helpers by reference.
struct ShellState
{
    // Set when the operator confirms closing; the link gets the same flag so that its waits end.
    bool StopRequested = false;
    // True while no device operation is in progress.
    bool RunnerIdle = true;
    // Routing batch flag: set by a failed route, cleared when a batch starts.
    bool RouteFailed = true;
    // The switcher is known to be powered on.
    bool PowerOn = false;

    QString currentDeviceMAC = QStringLiteral("00-00-00-00-00-00");
    // The network configuration dialog's three texts.
    QString networkIP;
    QString networkGateway;
    QString networkMask;

    // Firmware upgrade: a part was refused, and the last percent shown on the gauge.
    bool firmwareWriteFailed = false;
    quint16 lastFirmwarePercent = 0;
};
