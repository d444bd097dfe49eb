#include "SwitcherOperation.h"

#include "DeviceProtocol.h"

namespace {

using namespace DeviceProtocol;

struct SwitchCodes
{
    quint8 command;
    quint8 query;
    quint8 set;
    const char *queryText;
    const char *offText;
    const char *onText;
};

// Indexed by PanelSwitch.
constexpr SwitchCodes Switches[PanelSwitchCount] = {
    {Command::Ir, IrSub::Query, IrSub::Set, "Getting IR status ...", "Disable IR control ...",
        "Enable IR control ..."},
    {Command::Device, DeviceSub::KeysQuery, DeviceSub::KeysSet, "Getting Keys status ...",
        "Lock Keys on panel ...", "Unlock Keys on panel ..."},
    {Command::Device, DeviceSub::BeeperQuery, DeviceSub::BeeperSet, "Getting Beeper status ...",
        "Disable Beeper control ...", "Enable Beeper control ..."},
    {Command::Device, DeviceSub::ApmQuery, DeviceSub::ApmSet, "Getting APM status ...",
        "Set APM OFF ...", "Set APM ON ..."},
};

const SwitchCodes &codes(PanelSwitch which)
{
    return Switches[static_cast<int>(which)];
}

quint16 portWord(int port)
{
    return static_cast<quint16>(port);
}

} // namespace

SwitcherOperation SwitcherOperation::model()
{
    return {Kind::Model, CommandPacket::make(Command::Device, DeviceSub::Model, QueryWord), true};
}

SwitcherOperation SwitcherOperation::size()
{
    return {Kind::Size, CommandPacket::make(Command::Device, DeviceSub::Size, QueryWord), true};
}

SwitcherOperation SwitcherOperation::version()
{
    return {
        Kind::Version, CommandPacket::make(Command::Device, DeviceSub::Version, QueryWord), true};
}

SwitcherOperation SwitcherOperation::power()
{
    return {Kind::Power,
        CommandPacket::make(Command::Power, PowerSub::Query, QueryWord, 0, PowerKey3, PowerKey4),
        false};
}

SwitcherOperation SwitcherOperation::setPower(bool on)
{
    SwitcherOperation op(Kind::SetPower,
        CommandPacket::make(Command::Power, PowerSub::Set, switchWord(on), 0, PowerKey3, PowerKey4),
        false);
    op.m_on = on;
    return op;
}

SwitcherOperation SwitcherOperation::route(int output)
{
    SwitcherOperation op(
        Kind::Route, CommandPacket::make(Command::Route, RouteSub::Get, portWord(output)), true);
    op.m_port = output;
    return op;
}

SwitcherOperation SwitcherOperation::setRoute(int input, int output)
{
    SwitcherOperation op(Kind::SetRoute,
        CommandPacket::make(Command::Route, RouteSub::Set, portWord(input), portWord(output)),
        true);
    op.m_port = output;
    return op;
}

SwitcherOperation SwitcherOperation::inputConnection(int input)
{
    SwitcherOperation op(Kind::InputConnection,
        CommandPacket::make(Command::Device, DeviceSub::InputConnection, portWord(input)), true);
    op.m_port = input;
    return op;
}

SwitcherOperation SwitcherOperation::outputConnection(int output)
{
    SwitcherOperation op(Kind::OutputConnection,
        CommandPacket::make(Command::Device, DeviceSub::OutputConnection, portWord(output)), true);
    op.m_port = output;
    return op;
}

SwitcherOperation SwitcherOperation::switchState(PanelSwitch which)
{
    const SwitchCodes &c = codes(which);
    SwitcherOperation op(
        Kind::SwitchState, CommandPacket::make(c.command, c.query, QueryWord), true);
    op.m_switch = which;
    return op;
}

SwitcherOperation SwitcherOperation::setSwitch(PanelSwitch which, bool on)
{
    const SwitchCodes &c = codes(which);
    SwitcherOperation op(
        Kind::SetSwitch, CommandPacket::make(c.command, c.set, switchWord(on)), true);
    op.m_switch = which;
    op.m_on = on;
    return op;
}

SwitcherOperation SwitcherOperation::command(const QString &progress, bool powered, quint8 command,
    quint8 subcommand, quint16 word1, quint16 word2, quint16 word3, quint16 word4)
{
    SwitcherOperation op(Kind::Command,
        CommandPacket::make(command, subcommand, word1, word2, word3, word4), powered);
    op.m_progress = progress;
    return op;
}

QString SwitcherOperation::progressText() const
{
    switch (m_kind) {
    case Kind::Model:
    case Kind::Size:
    case Kind::Version:
        return QStringLiteral("Getting device info ...");
    case Kind::Power:
        return QStringLiteral("Getting Power status ...");
    case Kind::SetPower:
        return m_on ? QStringLiteral("Matrix booting ...") : QStringLiteral("Power off ...");
    case Kind::Route:
        return QStringLiteral("Getting Output") + QString::number(m_port) + QStringLiteral(" ...");
    case Kind::SetRoute:
        return QStringLiteral("Setting...");
    case Kind::InputConnection:
        return QStringLiteral("Getting Input%1 connection ...").arg(m_port);
    case Kind::OutputConnection:
        return QStringLiteral("Getting Output%1 connection ...").arg(m_port);
    case Kind::SwitchState:
        return QLatin1String(codes(m_switch).queryText);
    case Kind::SetSwitch:
        return QLatin1String(m_on ? codes(m_switch).onText : codes(m_switch).offText);
    case Kind::Command:
        return m_progress;
    }
    return {};
}
