#include "CommandPacket.h"

#include <algorithm>

quint16 CommandPacket::word(int index) const
{
    Q_ASSERT(index >= 1 && index <= 4);
    const auto at = static_cast<std::size_t>(2 + 2 * index);
    return MakeWord(bytes[at + 1], bytes[at]);
}

void CommandPacket::setWord(int index, quint16 value)
{
    Q_ASSERT(index >= 1 && index <= 4);
    const auto at = static_cast<std::size_t>(2 + 2 * index);
    bytes[at] = loByte(value);
    bytes[at + 1] = hiByte(value);
}

QByteArray CommandPacket::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), Size);
}

CommandPacket CommandPacket::fromBytes(const char *data, qsizetype size)
{
    CommandPacket packet;
    const auto n = static_cast<std::size_t>(std::clamp<qsizetype>(size, 0, Size));
    std::copy_n(reinterpret_cast<const quint8 *>(data), n, packet.bytes.begin());
    return packet;
}

CommandPacket CommandPacket::make(
    quint8 command, quint8 subcommand, quint16 word1, quint16 word2, quint16 word3, quint16 word4)
{
    CommandPacket packet;
    InitPacket(packet);
    packet.bytes[2] = command;
    packet.bytes[3] = subcommand;
    packet.setWord(1, word1);
    packet.setWord(2, word2);
    packet.setWord(3, word3);
    packet.setWord(4, word4);
    packet.bytes[12] = PacketChecksum(packet);
    return packet;
}

void InitPacket(CommandPacket &packet)
{
    packet.bytes.fill(0);
    packet.bytes[0] = CommandPacket::Lead1;
    packet.bytes[1] = CommandPacket::Lead2;
}

quint8 PacketChecksum(const CommandPacket &packet)
{
    return BlockChecksum(packet.bytes.data(), CommandPacket::Size - 1);
}

bool IsMatchingReply(const CommandPacket &reply, const CommandPacket &request)
{
    return reply.bytes[0] == CommandPacket::Lead1 && reply.bytes[1] == CommandPacket::Lead2
        && reply.command() == request.command() && reply.subcommand() == request.subcommand();
}

bool IsSoundReply(const CommandPacket &reply, const CommandPacket &request)
{
    return PacketChecksum(reply) == reply.checksum() && IsMatchingReply(reply, request);
}

quint8 BlockChecksum(const quint8 *data, qsizetype n)
{
    unsigned sum = 0;
    for (qsizetype i = 0; i < n; ++i)
        sum += data[i];
    return static_cast<quint8>((0x100 - (sum & 0xFF)) & 0xFF);
}

quint8 BlockChecksum(const QByteArray &data)
{
    return BlockChecksum(reinterpret_cast<const quint8 *>(data.constData()), data.size());
}

namespace {
void appendHex(QString &out, quint8 byte)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    out += QLatin1Char(digits[byte >> 4]);
    out += QLatin1Char(digits[byte & 0xF]);
}
} // namespace

QString TracePacket(const QString &label, const CommandPacket &packet, int number)
{
    const auto &b = packet.bytes;
    QString line;
    line.reserve(label.size() + 80);
    line += label;
    line += QLatin1String("\r\n");
    for (int i = 0; i < 4; ++i) {
        appendHex(line, b[static_cast<std::size_t>(i)]);
        line += QLatin1Char(' ');
    }
    // word1 is shown with "UU" between its bytes: high byte, then the status/low byte
    line += QLatin1Char('[');
    appendHex(line, b[5]);
    line += QLatin1String(" UU ");
    appendHex(line, b[4]);
    for (std::size_t at : {6u, 8u, 10u}) {
        line += QLatin1String("] [");
        appendHex(line, b[at + 1]);
        line += QLatin1Char(' ');
        appendHex(line, b[at]);
    }
    line += QLatin1String("] ");
    appendHex(line, b[12]);
    line += QLatin1String(", RC=");
    line += QString::number(number);
    return line;
}
