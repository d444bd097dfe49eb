// EDID block transfers: reading an output's EDID in 270-byte block frames, and downloading
// EDID data to inputs or user memories in the same frames.
//
// A block frame is a 13-byte packet header (word1 the block status, word2 the data length),
// byte 13 the data's block checksum and up to 256 data bytes from byte 14.
#include "TKVCOMControl.h"

#include <QMetaMethod>

#include <algorithm>
#include <optional>

namespace {

constexpr quint16 BlockMore = 0x00AA; // more blocks follow; in a read request: (re)start
constexpr quint16 BlockLast = 0x0056;
constexpr quint16 BlockNext = 0x0000; // read request: the last block was taken
constexpr quint16 BlockRepeat = 0x00FF;
constexpr int BlockHeaderSize = CommandPacket::Size + 1; // header and data checksum
constexpr int MaxBlockData = 256;
constexpr quint8 DownloadProceed = 0xAA;
constexpr quint8 DataAccepted = 0x00;
// The largest E-EDID there is (256 blocks of 128 bytes). A device that keeps sending blocks
// beyond it is broken, and the read gives up instead of filling memory.
constexpr qsizetype MaxEdidSize = 256 * 128;

CommandPacket withWords(CommandPacket packet, quint16 word1, quint16 word2)
{
    packet.bytes[0] = CommandPacket::Lead1;
    packet.bytes[1] = CommandPacket::Lead2;
    packet.setWord(1, word1);
    packet.setWord(2, word2);
    packet.bytes[12] = PacketChecksum(packet);
    return packet;
}

// The data of a good block frame answering this block request; nothing when the frame is
// refused, damaged, claims more data than a frame holds, or its data do not match byte 13.
// An empty block that says more follow is no progress, and a device repeating it would keep
// the read going for ever: it is a bad block too.
std::optional<QByteArray> blockData(const QByteArray &frame, const CommandPacket &request)
{
    const CommandPacket header = CommandPacket::fromBytes(frame);
    const quint8 status = header.status();
    if (status == 0xFF || PacketChecksum(header) != header.checksum()
        || !IsMatchingReply(header, request)
        || (status != LoByte(BlockMore) && status != LoByte(BlockLast)))
        return std::nullopt;
    const int n = header.word(2);
    if (n > MaxBlockData || BlockHeaderSize + n > frame.size()
        || (n == 0 && status == LoByte(BlockMore)))
        return std::nullopt;
    const QByteArray data = frame.mid(BlockHeaderSize, n);
    if (BlockChecksum(data) != static_cast<quint8>(frame[CommandPacket::Size]))
        return std::nullopt;
    return data;
}

// "0xA5, 0x5B, 0x03, 0x07, |0x56, 0x00, |0x00, 0x01, ..." with a line break before every
// sixteenth byte.
QString frameDump(const QByteArray &bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(bytes.size() * 7);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 16 == 0)
            text += QLatin1String("\r\n");
        if (i == 4 || i == 6 || i == 8 || i == 10 || i == 12)
            text += QLatin1Char('|');
        const auto byte = static_cast<quint8>(bytes[i]);
        const char entry[] = {'0', 'x', digits[byte >> 4], digits[byte & 0xF], ',', ' '};
        text += QLatin1String(entry, sizeof entry);
    }
    return text;
}

} // namespace

void TKVCOMControl::ReadEDIDBlocks(const CommandPacket &request, CommandResult &result)
{
    if (m_stop.requested())
        return;
    ExecuteCommand(request, result);
    if (!result.Success)
        return;

    CommandPacket blockRequest = withWords(request, BlockMore, 0);
    m_restartPending = true;
    m_edidReadStream.clear();
    bool last = false;
    do {
        for (int attempt = 1;; ++attempt) {
            const QByteArray wire = blockRequest.toByteArray();
            const Exchange exchange = SendAndWait(wire, FrameKind::EdidBlock, [&] {
                trace(QLatin1Char('[') + QString::number(attempt)
                        + QLatin1String("] snd blk PPP:   "),
                    blockRequest, 0);
            });
            if (exchange == Exchange::Stopped || exchange == Exchange::Failed) {
                result.Success = false;
                return;
            }
            if (exchange == Exchange::TimedOut) {
                if (attempt == Attempts) {
                    result.Success = false;
                    notify(LinkMessage::TimeOut);
                    return;
                }
                continue;
            }
            const QByteArray frame = ReceivedFrame();
            result.reply = CommandPacket::fromBytes(frame);
            trace(QStringLiteral("rcv blk PPP:   "), result.reply, 0);
            const std::optional<QByteArray> data = blockData(frame, blockRequest);
            result.Success = data && m_edidReadStream.size() + data->size() <= MaxEdidSize;
            if (result.Success) {
                m_edidReadStream += *data;
                m_restartPending = false;
                last = result.reply.status() == LoByte(BlockLast);
            }
            // A stop during the pause leaves the read unfinished, which is a failed read.
            if (!Pause(m_timing.retryPauseMs)) {
                result.Success = false;
                return;
            }
            if (result.Success) {
                blockRequest = withWords(blockRequest, BlockNext, 0);
                break;
            }
            // Nothing taken yet: the device starts over; else it sends the same block again.
            blockRequest = withWords(blockRequest, m_restartPending ? BlockMore : BlockRepeat, 0);
            if (attempt == Attempts) {
                notify(LinkMessage::SendFailed);
                return;
            }
        }
    } while (!last && !m_stop.requested());

    if (!last) {
        result.Success = false;
        return;
    }
    notify(LinkMessage::TransferDone);
}

void TKVCOMControl::DownloadEDIDBlocks(const CommandPacket &request, CommandResult &result)
{
    if (m_stop.requested())
        return;
    // An empty download would only tell the device that its memory ends here.
    const QByteArray &data = m_sendStream.data();
    if (data.isEmpty()) {
        result.Success = false;
        return;
    }
    ExecuteCommand(request, result);
    if (!result.Success)
        return;
    if (result.reply.status() != DownloadProceed) {
        notify(LinkMessage::DataInvalid);
        result.Success = false;
        return;
    }

    const bool dumped = isSignalConnected(QMetaMethod::fromSignal(&TKVCOMControl::notification));
    qsizetype sent = 0;
    if (m_sendStream.isOpen())
        m_sendStream.seek(0);
    do {
        const qsizetype remaining = data.size() - sent;
        const bool more = remaining > MaxBlockData;
        const int n = static_cast<int>(more ? MaxBlockData : remaining);
        CommandPacket header = CommandPacket::make(request.command(), request.subcommand(),
            more ? BlockMore : BlockLast, static_cast<quint16>(n), request.word(3),
            request.word(4));
        QByteArray frame(ReceiveBufferSize, '\0');
        std::copy(header.bytes.begin(), header.bytes.end(), frame.begin());
        const QByteArray block = data.mid(sent, n);
        frame[CommandPacket::Size] = static_cast<char>(BlockChecksum(block));
        std::copy(block.begin(), block.end(), frame.begin() + BlockHeaderSize);

        for (int attempt = 1;; ++attempt) {
            const Exchange exchange = SendAndWait(frame, FrameKind::Reply, [&] {
                if (dumped)
                    notify(
                        LinkMessage::ReceiveDump, 0, 0, frameDump(frame.left(n + BlockHeaderSize)));
            });
            if (exchange == Exchange::Stopped || exchange == Exchange::Failed) {
                result.Success = false;
                return;
            }
            if (exchange == Exchange::TimedOut) {
                if (attempt == Attempts) {
                    result.Success = false;
                    notify(LinkMessage::TimeOut);
                    return;
                }
                continue;
            }
            const CommandPacket reply = CommandPacket::fromBytes(ReceivedFrame());
            trace(QStringLiteral("rcv blk PPP:   "), reply, 0);
            result.reply = reply;
            result.Success = PacketChecksum(reply) == reply.checksum()
                && IsMatchingReply(reply, header) && reply.status() == DataAccepted;
            if (result.Success) {
                sent += n;
                if (m_sendStream.isOpen())
                    m_sendStream.seek(sent);
                break;
            }
            if (attempt == Attempts) {
                notify(LinkMessage::SendFailed);
                return;
            }
            if (!Pause(m_timing.retryPauseMs)) {
                result.Success = false;
                return;
            }
        }
    } while (sent < data.size() && !m_stop.requested());

    if (sent < data.size()) {
        result.Success = false;
        return;
    }
    notify(LinkMessage::TransferDone);
}
