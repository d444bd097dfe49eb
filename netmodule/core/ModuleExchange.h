#pragma once

#include "ModuleFrame.h"

#include <QString>

#include <optional>

class TKVCOMControl;

// One module frame exchange over the link's active transport (serial port or TCP), with up
// to five attempts. Fills reply (zeros with ReceiveOK 0xFF when nothing was accepted) and
// returns true when the module accepted the request. Reports like a transaction: time-out
// (2026) after the fifth silent attempt, "send data failed" (2037) after five replies with a
// wrong checksum, transport error (2031) when the request cannot be written or the stream
// breaks. Returns false at once when the link is stopping.
bool TCPModuleCommand(TKVCOMControl &link, const ModuleFrame &request, ModuleFrame &reply);

// What a query reply says about the module.
struct TCPModuleInfo
{
    int versionMajor = 0;
    int versionMinor = 0;
    bool autoIP = false;
    IPv4Bytes ip{};

    static TCPModuleInfo fromReply(const ModuleFrame &reply);
    // The three label texts: "Version: Ver2.1", "DHCP: Auto IP" / "DHCP: Static IP",
    // "IP Address: 192.168.0.100".
    QString versionText() const;
    QString dhcpText() const;
    QString ipText() const;
};

// Queries the module; nullopt on failure (already reported by the link).
std::optional<TCPModuleInfo> queryTCPModule(TKVCOMControl &link);
// Resets the module to its factory settings: static address 192.168.0.100.
bool resetTCPModule(TKVCOMControl &link);

// The factory address a reset sets.
constexpr IPv4Bytes DefaultModuleIP{192, 168, 0, 100};

// What the "TCP Module" group of the main window offers the query and reset procedures.
// The window implements it over its status bar, runner flag, buttons, labels and the
// "Yes" confirmation dialog.
class TCPModulePanel
{
public:
    virtual ~TCPModulePanel() = default;
    virtual bool stopRequested() const = 0;
    // Connects when not connected (the connect action of the connection group); true when
    // the link is connected afterwards.
    virtual bool ensureConnected() = 0;
    virtual bool runnerIdle() const = 0;
    virtual void setRunnerIdle(bool idle) = 0;
    virtual void showStatus(int panel, const QString &text, bool blink) = 0;
    virtual void setQueryEnabled(bool enabled) = 0;
    virtual void setModuleLabels(const QString &version, const QString &dhcp, const QString &ip)
        = 0;
    // The "Confirm to Reset" dialog; true when the operator typed "Yes".
    virtual bool confirmReset() = 0;
};

// The query button's procedure: entry checks, "Query TCP Module information ...", labels
// reset, the exchange, then "Query TCP Module ok" with the labels filled or "Query TCP Module
// failed" blinking. Returns true on success.
bool runTCPModuleQuery(TKVCOMControl &link, TCPModulePanel &panel);
// The reset button's procedure: entry checks, "Reset Default ...", the confirmation, the
// exchange, "Reset Default ok" followed by a query, or "Reset Default failed" blinking or
// "Reset Default cancelled". Returns true when the reset was accepted.
bool runTCPModuleReset(TKVCOMControl &link, TCPModulePanel &panel);
