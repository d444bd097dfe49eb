#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>
#include <cstddef>

// The 13-byte packet of the switcher's serial/TCP protocol. Requests and replies share it:
//   0xA5 0x5B command subcommand word1 word2 word3 word4 checksum
// with each word little-endian. In replies byte 4 (low byte of word1) is the status byte and
// byte 6 (low byte of word2) carries most answers.
struct CommandPacket
{
    static constexpr int Size = 13;
    static constexpr quint8 Lead1 = 0xA5;
    static constexpr quint8 Lead2 = 0x5B;

    std::array<quint8, Size> bytes{};

    quint8 command() const { return bytes[2]; }
    quint8 subcommand() const { return bytes[3]; }
    quint8 status() const { return bytes[4]; }
    quint8 answer() const { return bytes[6]; }
    quint8 checksum() const { return bytes[12]; }
    // word index 1..4, as the protocol counts them
    quint16 word(int index) const;
    void setWord(int index, quint16 value);

    QByteArray toByteArray() const;
    // First 13 bytes of data (zero-filled when shorter).
    static CommandPacket fromBytes(const char *data, qsizetype size);
    static CommandPacket fromBytes(const QByteArray &data)
    {
        return fromBytes(data.constData(), data.size());
    }

    // A complete request: lead bytes, fields and checksum.
    static CommandPacket make(quint8 command, quint8 subcommand, quint16 word1 = 0,
        quint16 word2 = 0, quint16 word3 = 0, quint16 word4 = 0);

    friend bool operator==(const CommandPacket &, const CommandPacket &) = default;
};

// The record a device operation fills: the last reply received (all zero when none) and
// whether the operation succeeded.
struct CommandResult
{
    CommandPacket reply;
    bool Success = false;
};

// Zeroes the packet and sets the two lead bytes.
void InitPacket(CommandPacket &packet);
// Makes all 13 bytes sum to zero modulo 256, computed over bytes 0..11.
quint8 PacketChecksum(const CommandPacket &packet);
// Lead bytes right and command/subcommand echoed. The checksum is tested separately.
bool IsMatchingReply(const CommandPacket &reply, const CommandPacket &request);
// A reply the switcher really sent to this request: lead bytes, echo and checksum right. Its
// status byte then says whether the switcher agreed.
bool IsSoundReply(const CommandPacket &reply, const CommandPacket &request);
// (0 - sum of the bytes) mod 256; 0 for an empty or negative count.
quint8 BlockChecksum(const quint8 *data, qsizetype n);
quint8 BlockChecksum(const QByteArray &data);
constexpr quint16 MakeWord(int hi, int lo)
{
    return static_cast<quint16>(((hi & 0xFF) << 8) | (lo & 0xFF));
}
constexpr quint8 loByte(quint16 word)
{
    return static_cast<quint8>(word & 0xFF);
}
constexpr quint8 hiByte(quint16 word)
{
    return static_cast<quint8>(word >> 8);
}

// One trace line for a packet, e.g. for label "[1] snd cmd PPP:   ":
//   "[1] snd cmd PPP:   \r\nA5 5B 01 01 [00 UU FE] [00 00] [00 00] [00 00] 00, RC=0"
QString TracePacket(const QString &label, const CommandPacket &packet, int number);
