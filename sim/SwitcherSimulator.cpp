#include "SwitcherSimulator.h"

#include <algorithm>
#include <optional>

namespace {

using namespace DeviceProtocol;

// Query answers: "on", "enabled", "unlocked".
constexpr quint8 flag(bool on)
{
    return on ? AnswerYes : AnswerNo;
}

// Panel switches and power take one word for on/enable/unlock and one for off/disable/lock.
std::optional<bool> switchState(quint16 word)
{
    if (word == OnWord)
        return true;
    if (word == OffWord)
        return false;
    return std::nullopt;
}

constexpr quint16 code(quint8 command, quint8 subcommand)
{
    return MakeWord(command, subcommand);
}

std::size_t index(int port)
{
    return static_cast<std::size_t>(port - 1);
}

} // namespace

QByteArray SwitcherSimulator::handle(const CommandPacket &request)
{
    // A damaged request is noise on the line; the controller times out and sends it again.
    if (request.bytes[0] != CommandPacket::Lead1 || request.bytes[1] != CommandPacket::Lead2
        || PacketChecksum(request) != request.checksum())
        return {};
    const Answer a = answer(request);
    return makeReply(request, a.status, a.value).toByteArray();
}

qsizetype SwitcherSimulator::frameLength(const CommandPacket &header) const
{
    for (const SimFrameHandler *handler : m_handlers) {
        if (const qsizetype length = handler->frameLength(header))
            return length;
    }
    return CommandPacket::Size;
}

QByteArray SwitcherSimulator::handleFrame(const QByteArray &frame)
{
    const CommandPacket header = CommandPacket::fromBytes(frame);
    for (SimFrameHandler *handler : std::as_const(m_handlers)) {
        if (handler->frameLength(header))
            return handler->handleFrame(frame);
    }
    return handle(header);
}

CommandPacket SwitcherSimulator::makeReply(
    const CommandPacket &request, quint8 status, quint8 answer)
{
    CommandPacket reply;
    InitPacket(reply);
    reply.bytes[2] = request.command();
    reply.bytes[3] = request.subcommand();
    reply.bytes[4] = status;
    reply.bytes[6] = answer;
    reply.bytes[12] = PacketChecksum(reply);
    return reply;
}

bool SwitcherSimulator::isEdidModeWord(quint16 word)
{
    return (word >= 0xF001 && word <= 0xF00F) || word == SwitcherState::EdidDefault
        || word == EdidUser1 || word == EdidUser2;
}

bool SwitcherSimulator::isInput(int n) const
{
    return n >= 1 && n <= std::min(m_state.inputs, PortCount);
}

bool SwitcherSimulator::isOutput(int n) const
{
    return n >= 1 && n <= std::min(m_state.outputs, PortCount);
}

bool SwitcherSimulator::isConnectedOutput(int n) const
{
    return isOutput(n) && m_state.outputConnected[index(n)];
}

SwitcherSimulator::Answer SwitcherSimulator::answer(const CommandPacket &request)
{
    constexpr Answer refused{Status::Failed, 0};
    const quint8 command = request.command();
    const quint8 subcommand = request.subcommand();
    const quint16 word1 = request.word(1);
    const quint16 word2 = request.word(2);
    SwitcherState &s = m_state;

    // In standby only the identity queries, power, firmware and reboot are served; routing,
    // EDID and the panel switches are refused.
    const bool needsPower = command == Command::Route || command == Command::Edid
        || command == Command::Ir
        || (command == Command::Device && subcommand >= DeviceSub::ApmQuery);
    if (needsPower && !s.powerOn)
        return refused;

    // Sets a panel switch from a 0x0F/0xF0 word.
    const auto setSwitch = [&](bool &target) {
        const std::optional<bool> on = switchState(word1);
        if (!on)
            return refused;
        target = *on;
        return Answer{};
    };
    const auto setEdid = [&](int input, quint16 source) { s.edidMode[index(input)] = source; };
    const auto setEdidAll = [&](quint16 source) {
        for (int input = 1; input <= PortCount; ++input)
            setEdid(input, source);
    };

    switch (code(command, subcommand)) {
    // Identity and connections. 01/01 answers whatever word1 says: after a firmware upgrade
    // the controller polls it with word1 0 to see the switcher back.
    case code(Command::Device, DeviceSub::Model):
        return {static_cast<quint8>(s.modelNumber), 0};
    case code(Command::Device, DeviceSub::Size):
        return {static_cast<quint8>(s.inputs), static_cast<quint8>(s.outputs)};
    case code(Command::Device, DeviceSub::Version):
        return {static_cast<quint8>(s.versionMajor), static_cast<quint8>(s.versionMinor)};
    case code(Command::Device, DeviceSub::InputConnection):
        if (!isInput(word1))
            return refused;
        return {Status::Accepted, s.inputConnected[index(word1)] ? AnswerNo : AnswerYes};
    case code(Command::Device, DeviceSub::OutputConnection):
        if (!isOutput(word1))
            return refused;
        return {Status::Accepted, s.outputConnected[index(word1)] ? AnswerNo : AnswerYes};

    // Panel feature switches
    case code(Command::Device, DeviceSub::ApmQuery):
        return {Status::Accepted, flag(s.apm)};
    case code(Command::Device, DeviceSub::ApmSet):
        return setSwitch(s.apm);
    case code(Command::Device, DeviceSub::BeeperQuery):
        return {Status::Accepted, flag(s.beeper)};
    case code(Command::Device, DeviceSub::BeeperSet):
        return setSwitch(s.beeper);
    case code(Command::Device, DeviceSub::KeysQuery):
        return {Status::Accepted, flag(s.keysUnlocked)};
    case code(Command::Device, DeviceSub::KeysSet):
        return setSwitch(s.keysUnlocked);
    case code(Command::Ir, IrSub::Set):
        return setSwitch(s.irEnabled);
    case code(Command::Ir, IrSub::Query):
        return {Status::Accepted, flag(s.irEnabled)};

    // Routing. The controller can address ports 7 and 8; this unit has six of each.
    case code(Command::Route, RouteSub::Get):
        if (!isOutput(word1))
            return refused;
        return {Status::Accepted, static_cast<quint8>(s.routes[index(word1)])};
    case code(Command::Route, RouteSub::Set):
        if (!isInput(word1) || !isOutput(word2))
            return refused;
        s.routes[index(word2)] = word1;
        return {};

    // EDID
    case code(Command::Edid, EdidSub::SetModeAll):
        if (!isEdidModeWord(word1))
            return refused;
        setEdidAll(word1);
        return {};
    case code(Command::Edid, EdidSub::SetMode):
        if (!isEdidModeWord(word1) || !isInput(word2))
            return refused;
        setEdid(word2, word1);
        return {};
    case code(Command::Edid, EdidSub::CopyAll): // an output without a display has no EDID to copy
        if (!isConnectedOutput(word1))
            return refused;
        setEdidAll(SwitcherState::EdidCopiedFromOutput + word1);
        return {};
    case code(Command::Edid, EdidSub::Copy):
        if (!isConnectedOutput(word1) || !isInput(word2))
            return refused;
        setEdid(word2, SwitcherState::EdidCopiedFromOutput + word1);
        return {};
    case code(Command::Edid, EdidSub::Read):
        if (hiByte(word1) != hiByte(EdidWordBase) || !isConnectedOutput(loByte(word1)))
            return refused;
        return {};
    case code(Command::Edid, EdidSub::DownloadAll):
        if (word1 != EdidAllInputs)
            return refused;
        return {Status::Proceed, 0};
    case code(Command::Edid, EdidSub::Download):
        if (!(word1 == EdidUser1 || word1 == EdidUser2
                || (hiByte(word1) == hiByte(EdidWordBase) && isInput(loByte(word1)))))
            return refused;
        return {Status::Proceed, 0};
    case code(Command::Edid, EdidSub::Prepare):
        if (word1 != EdidPrepare)
            return refused;
        return {};
    case code(Command::Edid, EdidSub::AutoAll):
        setEdidAll(SwitcherState::EdidDefault);
        return {};
    case code(Command::Edid, EdidSub::Auto):
        if (!isInput(word1))
            return refused;
        setEdid(word1, SwitcherState::EdidDefault);
        return {};

    // Power. Both commands carry a fixed key in words 3 and 4; without it they are refused.
    case code(Command::Power, PowerSub::Query):
    case code(Command::Power, PowerSub::Set): {
        if (request.word(3) != PowerKey3 || request.word(4) != PowerKey4)
            return refused;
        if (subcommand == PowerSub::Query)
            return {Status::Accepted, flag(s.powerOn)};
        return setSwitch(s.powerOn);
    }

    // Firmware, for an interpreter without the loader (SimFirmware, which a served switcher
    // has and asks first): a part is declined (0x44), which the controller reports as a
    // refused part. The main MCU's preparation steps are accepted.
    case code(Command::Firmware, FirmwareSub::Main):
        if (word1 == MainMcu)
            return {Status::Declined, 0};
        if (word1 == PrepareStep1 || word1 == PrepareStep2)
            return {};
        return refused;
    case code(Command::Firmware, FirmwareSub::Slave):
        if (word1 >= 1 && word1 <= 3)
            return {Status::Declined, 0};
        return refused;
    case code(Command::System, SystemSub::Reboot):
        if (word1 != RebootWord)
            return refused;
        ++s.reboots;
        return {};
    default:
        return refused;
    }
}
