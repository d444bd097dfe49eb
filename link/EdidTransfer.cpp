// EDID block transfers: reading an output's EDID in 270-byte block frames, and downloading
// EDID data to inputs or user memories in the same frames.
#include "BlockFrame.h"
#include "DeviceProtocol.h"
#include "TKVCOMControl.h"

#include <QMetaMethod>

#include <optional>

namespace {

using namespace DeviceProtocol;

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
    if (status == Status::Failed || PacketChecksum(header) != header.checksum()
        || !IsMatchingReply(header, request)
        || (status != LoByte(Block::More) && status != LoByte(Block::Last)))
        return std::nullopt;
    if (header.word(2) == 0 && status == LoByte(Block::More))
        return std::nullopt;
    return BlockFrame::data(frame);
}

} // namespace

void TKVCOMControl::ReadEDIDBlocks(const CommandPacket &request, CommandResult &result)
{
    if (m_stop.requested())
        return;
    ExecuteCommand(request, result);
    if (!result.Success)
        return;

    CommandPacket blockRequest = withWords(request, Block::More, 0);
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
                last = result.reply.status() == LoByte(Block::Last);
            }
            // A stop during the pause leaves the read unfinished, which is a failed read.
            if (!Pause(m_timing.retryPauseMs)) {
                result.Success = false;
                return;
            }
            if (result.Success) {
                blockRequest = withWords(blockRequest, Block::Next, 0);
                break;
            }
            // Nothing taken yet: the device starts over; else it sends the same block again.
            blockRequest
                = withWords(blockRequest, m_restartPending ? Block::More : Block::Repeat, 0);
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
    if (result.reply.status() != Status::Proceed) {
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
        const bool more = remaining > BlockFrame::MaxData;
        const int n = static_cast<int>(more ? BlockFrame::MaxData : remaining);
        const CommandPacket header = CommandPacket::make(request.command(), request.subcommand(),
            more ? Block::More : Block::Last, static_cast<quint16>(n), request.word(3),
            request.word(4));
        // Download frames always go padded to full size.
        const QByteArray frame = BlockFrame::build(header, data.mid(sent, n), BlockFrame::Size);

        for (int attempt = 1;; ++attempt) {
            const Exchange exchange = SendAndWait(frame, FrameKind::Reply, [&] {
                if (dumped)
                    notify(LinkMessage::ReceiveDump, 0, 0,
                        BlockFrame::dump(frame.left(n + BlockFrame::HeaderSize)));
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
                && IsMatchingReply(reply, header) && reply.status() == Status::Accepted;
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
