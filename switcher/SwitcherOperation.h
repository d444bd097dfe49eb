#pragma once

#include "CommandPacket.h"

#include <QString>
#include <QtGlobal>

// The panel feature switches the switcher keeps: IR receiver, front-panel keys, beeper and
// automatic power management.
enum class PanelSwitch { Ir, Keys, Beeper, Apm };
inline constexpr int PanelSwitchCount = 4;

// One device operation as the switcher's command table names it: the request that goes on the
// wire, the progress text the window shows while it runs, and whether it needs the switcher
// powered on. A value: it can be queued, logged and run later.
class SwitcherOperation final
{
public:
    enum class Kind {
        Model,
        Size,
        Version,
        Power,
        SetPower,
        Route,
        SetRoute,
        InputConnection,
        OutputConnection,
        SwitchState,
        SetSwitch,
        Command, // any other request, named by its codes
    };

    static SwitcherOperation model();
    static SwitcherOperation size();
    static SwitcherOperation version();
    static SwitcherOperation power();
    static SwitcherOperation setPower(bool on);
    // The input routed to an output.
    static SwitcherOperation route(int output);
    static SwitcherOperation setRoute(int input, int output);
    static SwitcherOperation inputConnection(int input);
    static SwitcherOperation outputConnection(int output);
    static SwitcherOperation switchState(PanelSwitch which);
    static SwitcherOperation setSwitch(PanelSwitch which, bool on);
    // A request by its codes, for the subsystems that speak their own commands (EDID, the
    // firmware's reboot) and for raw packets.
    static SwitcherOperation command(const QString &progress, bool powered, quint8 command,
        quint8 subcommand, quint16 word1 = 0, quint16 word2 = 0, quint16 word3 = 0,
        quint16 word4 = 0);

    Kind kind() const { return m_kind; }
    // The complete request: lead bytes, fields and checksum.
    const CommandPacket &request() const { return m_request; }
    // What the window shows in its progress panel while the operation runs.
    QString progressText() const;
    // Refused while the switcher is off: everything but the power commands.
    bool needsPower() const { return m_powered; }
    // The port the operation names (route, connection queries), 0 for none.
    int port() const { return m_port; }
    PanelSwitch panelSwitch() const { return m_switch; }
    // The state a switch or power operation sets.
    bool on() const { return m_on; }

private:
    SwitcherOperation(Kind kind, const CommandPacket &request, bool powered)
        : m_kind(kind), m_request(request), m_powered(powered)
    { }

    Kind m_kind;
    CommandPacket m_request;
    bool m_powered;
    int m_port = 0;
    PanelSwitch m_switch = PanelSwitch::Ir;
    bool m_on = false;
    QString m_progress; // Command only
};
