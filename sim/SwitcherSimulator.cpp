#include "SwitcherSimulator.h"

#include <algorithm>
#include <optional>

namespace {

constexpr quint8 Yes = 0xFF; // "on", "enabled", "unlocked" in query answers
constexpr quint8 No = 0x00;

constexpr quint8 flag(bool on)
{
    return on ? Yes : No;
}

// Panel switches and power take 0x0F for on/enable/unlock and 0xF0 for off/disable/lock.
std::optional<bool> switchWord(quint16 word)
{
    if (word == 0x000F)
        return true;
    if (word == 0x00F0)
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
        || word == SwitcherState::EdidUser1 || word == SwitcherState::EdidUser2;
}

bool SwitcherSimulator::isInput(int n) const
{
    return n >= 1 && n <= std::min(m_state.inputs, SwitcherState::MaxPorts);
}

bool SwitcherSimulator::isOutput(int n) const
{
    return n >= 1 && n <= std::min(m_state.outputs, SwitcherState::MaxPorts);
}

bool SwitcherSimulator::isConnectedOutput(int n) const
{
    return isOutput(n) && m_state.outputConnected[index(n)];
}

SwitcherSimulator::Answer SwitcherSimulator::answer(const CommandPacket &request)
{
    constexpr Answer refused{StatusRefused, 0};
    const quint8 command = request.command();
    const quint8 subcommand = request.subcommand();
    const quint16 word1 = request.word(1);
    const quint16 word2 = request.word(2);
    SwitcherState &s = m_state;

    // In standby only the identity queries, power, firmware and reboot are served; routing,
    // EDID and the panel switches are refused.
    const bool needsPower = command == 0x02 || command == 0x03 || command == 0x04
        || (command == 0x01 && subcommand >= 0x0A);
    if (needsPower && !s.powerOn)
        return refused;

    // Sets a panel switch from a 0x0F/0xF0 word.
    const auto setSwitch = [&](bool &target) {
        const std::optional<bool> on = switchWord(word1);
        if (!on)
            return refused;
        target = *on;
        return Answer{};
    };
    const auto setEdid = [&](int input, quint16 source) { s.edidMode[index(input)] = source; };
    const auto setEdidAll = [&](quint16 source) {
        for (int input = 1; input <= SwitcherState::MaxPorts; ++input)
            setEdid(input, source);
    };

    switch (code(command, subcommand)) {
    // Identity and connections. 01/01 answers whatever word1 says: after a firmware upgrade
    // the controller polls it with word1 0 to see the switcher back.
    case code(0x01, 0x01):
        return {static_cast<quint8>(s.modelNumber), 0};
    case code(0x01, 0x02):
        return {static_cast<quint8>(s.inputs), static_cast<quint8>(s.outputs)};
    case code(0x01, 0x03):
        return {static_cast<quint8>(s.versionMajor), static_cast<quint8>(s.versionMinor)};
    case code(0x01, 0x04):
        if (!isInput(word1))
            return refused;
        return {StatusAccepted, s.inputConnected[index(word1)] ? No : Yes};
    case code(0x01, 0x05):
        if (!isOutput(word1))
            return refused;
        return {StatusAccepted, s.outputConnected[index(word1)] ? No : Yes};

    // Panel feature switches
    case code(0x01, 0x0A):
        return {StatusAccepted, flag(s.apm)};
    case code(0x01, 0x0B):
        return setSwitch(s.apm);
    case code(0x01, 0x0C):
        return {StatusAccepted, flag(s.beeper)};
    case code(0x01, 0x0D):
        return setSwitch(s.beeper);
    case code(0x01, 0x0E):
        return {StatusAccepted, flag(s.keysUnlocked)};
    case code(0x01, 0x0F):
        return setSwitch(s.keysUnlocked);
    case code(0x04, 0x03):
        return setSwitch(s.irEnabled);
    case code(0x04, 0x04):
        return {StatusAccepted, flag(s.irEnabled)};

    // Routing. The controller can address ports 7 and 8; this unit has six of each.
    case code(0x02, 0x01):
        if (!isOutput(word1))
            return refused;
        return {StatusAccepted, static_cast<quint8>(s.routes[index(word1)])};
    case code(0x02, 0x03):
        if (!isInput(word1) || !isOutput(word2))
            return refused;
        s.routes[index(word2)] = word1;
        return {};

    // EDID
    case code(0x03, 0x01):
        if (!isEdidModeWord(word1))
            return refused;
        setEdidAll(word1);
        return {};
    case code(0x03, 0x02):
        if (!isEdidModeWord(word1) || !isInput(word2))
            return refused;
        setEdid(word2, word1);
        return {};
    case code(0x03, 0x03): // an output without a display has no EDID to copy
        if (!isConnectedOutput(word1))
            return refused;
        setEdidAll(SwitcherState::EdidCopiedFromOutput + word1);
        return {};
    case code(0x03, 0x04):
        if (!isConnectedOutput(word1) || !isInput(word2))
            return refused;
        setEdid(word2, SwitcherState::EdidCopiedFromOutput + word1);
        return {};
    case code(0x03, 0x05):
        if (HiByte(word1) != 0xF0 || !isConnectedOutput(LoByte(word1)))
            return refused;
        return {};
    case code(0x03, 0x06):
        if (word1 != 0xF0FE)
            return refused;
        return {StatusProceed, 0};
    case code(0x03, 0x07):
        if (!(word1 == SwitcherState::EdidUser1 || word1 == SwitcherState::EdidUser2
                || (HiByte(word1) == 0xF0 && isInput(LoByte(word1)))))
            return refused;
        return {StatusProceed, 0};
    case code(0x03, 0x08):
        if (word1 != 0x00F0)
            return refused;
        return {};
    case code(0x03, 0x09):
        setEdidAll(SwitcherState::EdidDefault);
        return {};
    case code(0x03, 0x0A):
        if (!isInput(word1))
            return refused;
        setEdid(word1, SwitcherState::EdidDefault);
        return {};

    // Power. Both commands carry a fixed key in words 3 and 4; without it they are refused.
    case code(0x10, 0x01):
    case code(0x10, 0x02): {
        if (request.word(3) != PowerKey3 || request.word(4) != PowerKey4)
            return refused;
        if (subcommand == 0x01)
            return {StatusAccepted, flag(s.powerOn)};
        return setSwitch(s.powerOn);
    }

    // Firmware, for an interpreter without the loader (SimFirmware, which a served switcher
    // has and asks first): a part is declined (0x44), which the controller reports as a
    // refused part. The main MCU's preparation steps are accepted.
    case code(0x20, 0x01):
        if (word1 == 0x0001)
            return {StatusDeclined, 0};
        if (word1 == 0x0080 || word1 == 0x0010)
            return {};
        return refused;
    case code(0x20, 0x02):
        if (word1 >= 1 && word1 <= 3)
            return {StatusDeclined, 0};
        return refused;
    case code(0x80, 0x02):
        if (word1 != 0x000F)
            return refused;
        ++s.reboots;
        return {};
    default:
        return refused;
    }
}
