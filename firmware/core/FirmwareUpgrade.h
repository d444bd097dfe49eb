#pragma once

#include "LinkMessage.h"
#include "SwitcherOperation.h"
#include "SwitcherOutcome.h"

#include <QString>
#include <QtGlobal>

class FirmwarePackageReader;
class TKVCOMControl;

// What the upgrade shows and uses of whoever drives it: the FW page of the main window, or
// matrixctl. All calls come on the caller's thread, synchronously.
class FirmwareUpgradeHost
{
public:
    virtual ~FirmwareUpgradeHost() = default;

    // One line appended to the message memo (mmoMessage).
    virtual void appendMessage(const QString &line) = 0;
    // A memo line that reports a failure; a command line prints it on stderr.
    virtual void appendError(const QString &line) { appendMessage(line); }
    // A link 2038 line: with replacesRebooting, it replaces the memo's last line when that
    // holds "System rebooting", else it is appended.
    virtual void showRebootLine(const QString &text, bool replacesRebooting) = 0;
    // ShowStatus: status panel 1..4, optionally blinking panel 2.
    virtual void showStatus(int panel, const QString &text, bool blink = false) = 0;
    // The gauge (tsgFWProgress): caption and progress in percent, repainted at once; a
    // negative percent shows the caption alone, on an empty bar.
    virtual void setGauge(const QString &caption, int percent) = 0;
    // True while an upgrade runs: the Upgrade button is disabled and the memo's caret hidden.
    virtual void setUpgrading(bool upgrading) = 0;
    // The connect action of the Connection group (btnConnectClick); it reports its own
    // failures.
    virtual void connectLink() = 0;
    // One operation under the driver's rules (the window's command runner, or the link
    // straight), used for the final reboot command.
    virtual SwitcherOutcome run(const SwitcherOperation &operation) = 0;
};

// The program-wide flags the upgrade shares with the runner and the window (ShellState).
struct FirmwareFlags
{
    // A "forgotten" last percent: the next progress notice always moves the gauge.
    static constexpr quint16 NoPercent = 0xFFFF;

    bool &StopRequested;
    bool &RunnerIdle;
    bool &writeFailed; // set by notice 2034, cleared at the start of each part
    quint16 &lastPercent; // last percent shown on the gauge (notice 2035)
};

// The window's handling of the link's firmware notices, for hosts without a window of their
// own: 2034 appends "Write to Part_a.b.c.d failed" and sets writeFailed; 2035 moves the gauge
// when the percent changed; 2038 shows the reboot line. False for any other notice.
bool applyFirmwareNotice(const LinkNotice &notice, FirmwareUpgradeHost &host, FirmwareFlags flags);

// Sends every part of a firmware package to the switcher and reboots it.
//
// The host must turn the link's notices 2034, 2035 and 2038 into memo lines and gauge
// updates (applyFirmwareNotice does so), as it does for every link notice. The procedure
// itself also watches 2034 while it runs, so that any refused part fails the upgrade.
class FirmwareUpgrade final
{
    Q_DISABLE_COPY_MOVE(FirmwareUpgrade)
public:
    FirmwareUpgrade(TKVCOMControl &link, FirmwareUpgradeHost &host, FirmwareFlags flags);

    // The whole upgrade from one package file, checked whole before its first byte is sent
    // ("Bad FW file!" and what is wrong where). True only when every part was written, the
    // reboot command was accepted and the switcher came back ("Firmware upgrade
    // successfully!").
    bool UpgradeFirmware(const QString &path);

private:
    bool upgradeParts(FirmwarePackageReader &reader);
    void finish();

    TKVCOMControl &m_link;
    FirmwareUpgradeHost &m_host;
    FirmwareFlags m_flags;
    bool m_partRefused = false;
};
