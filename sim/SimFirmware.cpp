#include "SimFirmware.h"

#include "BlockFrame.h"
#include "DeviceProtocol.h"
#include "SwitcherState.h"

namespace {

using namespace DeviceProtocol;

quint32 version(quint16 v1, quint16 v2)
{
    return static_cast<quint32>(v1) << 16 | v2;
}

} // namespace

SimFirmware::SimFirmware(SwitcherState &state) : m_state(state) { }

void SimFirmware::setMinimumVersion(quint16 version1, quint16 version2)
{
    m_minimumVersion = version(version1, version2);
}

bool SimFirmware::rebooting() const
{
    return m_rebootClock.isValid() && m_rebootClock.elapsed() < m_rebootMs;
}

const SimFirmware::Part *SimFirmware::part(quint8 subcommand, quint16 mcu) const
{
    for (const Part &p : m_parts) {
        if (p.subcommand == subcommand && p.mcu == mcu)
            return &p;
    }
    return nullptr;
}

bool SimFirmware::isData(const CommandPacket &header)
{
    return header.command() == Command::Firmware
        && (header.subcommand() == FirmwareSub::Main || header.subcommand() == FirmwareSub::Slave)
        && (header.word(1) == Block::More || header.word(1) == Block::Last);
}

qsizetype SimFirmware::frameLength(const CommandPacket &header) const
{
    const bool ours = header.command() == Command::Firmware
        ? header.subcommand() == FirmwareSub::Main || header.subcommand() == FirmwareSub::Slave
        : header.command() == Command::System && header.subcommand() == SystemSub::Reboot;
    if (!ours && !rebooting())
        return 0;
    if (!isData(header))
        return CommandPacket::Size;
    // Main MCU frames are always full size; a slave frame is as long as its data. A slave
    // header claiming more than a block is refused as a plain request.
    if (header.subcommand() == FirmwareSub::Main)
        return BlockFrame::Size;
    return header.word(2) <= BlockFrame::MaxData ? BlockFrame::HeaderSize + header.word(2)
                                                 : CommandPacket::Size;
}

QByteArray SimFirmware::handleFrame(const QByteArray &frame)
{
    if (rebooting())
        return {};
    const CommandPacket request = CommandPacket::fromBytes(frame);
    if (frame.size() < CommandPacket::Size || request.bytes[0] != CommandPacket::Lead1
        || request.bytes[1] != CommandPacket::Lead2
        || PacketChecksum(request) != request.checksum())
        return {};
    if (isData(request))
        return block(frame);
    if (request.command() == Command::System)
        return reboot(request);
    const quint16 word1 = request.word(1);
    if ((request.subcommand() == FirmwareSub::Main && word1 == MainMcu)
        || (request.subcommand() == FirmwareSub::Slave && word1 >= 1 && word1 <= 3))
        return start(request);
    if (request.subcommand() == FirmwareSub::Main
        && (word1 == PrepareStep1 || word1 == PrepareStep2))
        return prepare(request);
    return reply(request, Status::Failed);
}

QByteArray SimFirmware::start(const CommandPacket &request)
{
    const quint16 v1 = request.word(3);
    const quint16 v2 = request.word(4);
    if (version(v1, v2) < m_minimumVersion)
        return reply(request, Status::Declined);

    Part fresh;
    fresh.subcommand = request.subcommand();
    fresh.mcu = request.word(1);
    fresh.version1 = v1;
    fresh.version2 = v2;
    m_current = -1;
    for (int i = 0; i < m_parts.size(); ++i) {
        if (m_parts[i].subcommand == fresh.subcommand && m_parts[i].mcu == fresh.mcu)
            m_current = i;
    }
    if (m_current < 0) {
        m_parts.append(fresh);
        m_current = static_cast<int>(m_parts.size() - 1);
    } else {
        m_parts[m_current] = fresh;
    }
    m_nextBlock = 0;
    return reply(request, Status::Proceed);
}

QByteArray SimFirmware::prepare(const CommandPacket &request)
{
    const bool ready
        = m_current >= 0 && m_parts[m_current].subcommand == FirmwareSub::Main && m_nextBlock == 0;
    return reply(request, ready ? Status::Accepted : Status::Failed);
}

QByteArray SimFirmware::block(const QByteArray &frame)
{
    const CommandPacket header = CommandPacket::fromBytes(frame);
    if (m_current < 0)
        return reply(header, Status::Failed);
    Part &p = m_parts[m_current];
    if (header.subcommand() != p.subcommand || header.word(3) != p.mcu)
        return reply(header, Status::Failed);
    const std::optional<QByteArray> data = BlockFrame::data(frame);
    if (!data)
        return reply(header, Status::Failed);

    const int number = header.word(4);
    if (number == m_nextBlock - 1)
        return reply(header, Status::Accepted); // our answer was lost; it is stored already
    if (number != m_nextBlock || p.complete)
        return reply(header, Status::Failed);
    p.image += *data;
    ++p.blocks;
    ++m_nextBlock;
    if (header.word(1) == Block::Last) {
        p.complete = true;
        if (p.subcommand == FirmwareSub::Main) {
            // The main MCU runs the new firmware once it has restarted.
            m_state.versionMajor = p.version1;
            m_state.versionMinor = p.version2;
            startReboot();
        }
    }
    return reply(header, Status::Accepted);
}

QByteArray SimFirmware::reboot(const CommandPacket &request)
{
    if (request.subcommand() != SystemSub::Reboot || request.word(1) != RebootWord)
        return reply(request, Status::Failed);
    startReboot();
    return reply(request, Status::Accepted);
}

void SimFirmware::startReboot()
{
    ++m_state.reboots;
    m_current = -1;
    m_rebootClock.start();
}

QByteArray SimFirmware::reply(const CommandPacket &request, quint8 status)
{
    CommandPacket packet;
    InitPacket(packet);
    packet.bytes[2] = request.command();
    packet.bytes[3] = request.subcommand();
    packet.bytes[4] = status;
    packet.bytes[12] = PacketChecksum(packet);
    return packet.toByteArray();
}
