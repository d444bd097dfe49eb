#pragma once

#include "CommandPacket.h"

#include <QByteArray>
#include <QString>

#include <optional>

// A block frame of the EDID and firmware transfers: a 13-byte packet header (word1 the block
// status, word2 the data length), byte 13 the data's block checksum, then the data.
namespace BlockFrame {

inline constexpr int HeaderSize = CommandPacket::Size + 1;
inline constexpr int MaxData = 256;
inline constexpr int Size = HeaderSize + MaxData;

// The frame of this header and data, filled up with zeros to `paddedSize` where it is shorter.
QByteArray build(const CommandPacket &header, const QByteArray &data, qsizetype paddedSize = 0);
// The data a frame carries by its word2, when word2 is at most MaxData, the frame holds that
// many bytes and byte 13 is their checksum; nothing otherwise. The header is the caller's to
// judge.
std::optional<QByteArray> data(const QByteArray &frame);
// The frame as the transfer traces show it: "0xA5, 0x5B, 0x03, 0x07, |0x56, 0x00, |0x00, ..."
// with a line break before every sixteenth byte.
QString dump(const QByteArray &bytes);

} // namespace BlockFrame
