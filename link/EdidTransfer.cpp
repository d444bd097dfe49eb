// EDID block transfers: reading an output's EDID in 270-byte block frames, and downloading
// EDID data to inputs or user memories in the same frames.
#include "EdidTransfer.h"

#include "BlockFrame.h"
#include "DeviceProtocol.h"
#include "TKVCOMControl.h"

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
    if (status == Status::Failed || !IsSoundReply(header, request)
        || (status != loByte(Block::More) && status != loByte(Block::Last)))
        return std::nullopt;
    if (header.word(2) == 0 && status == loByte(Block::More))
        return std::nullopt;
    return BlockFrame::data(frame);
}

} // namespace

void EdidTransfer::read(const CommandPacket &request, CommandResult &result, QByteArray &edid)
{
    if (m_link.StopRequested())
        return;
    m_link.ExecuteCommand(request, result);
    if (!result.Success)
        return;

    CommandPacket blockRequest = withWords(request, Block::More, 0);
    bool restartPending = true;
    bool last = false;
    edid.clear();

    ExchangeStep step;
    step.frame = [&blockRequest] { return blockRequest.toByteArray(); };
    step.answer = FrameKind::EdidBlock;
    step.retryPauseMs = m_link.timing().retryPauseMs;
    step.sent = [&](int attempt) {
        m_link.traceSent(attempt, QLatin1String("snd blk PPP:   "), blockRequest);
    };
    step.judge = [&](const QByteArray &frame) {
        result.reply = CommandPacket::fromBytes(frame);
        m_link.trace(QStringLiteral("rcv blk PPP:   "), result.reply, 0);
        const std::optional<QByteArray> data = blockData(frame, blockRequest);
        result.Success = data && edid.size() + data->size() <= MaxEdidSize;
        if (!result.Success) {
            // Nothing taken yet: the device starts over; else it sends the same block again.
            blockRequest = withWords(blockRequest, restartPending ? Block::More : Block::Repeat, 0);
            return ExchangeStep::Verdict::Refuse;
        }
        edid += *data;
        restartPending = false;
        last = result.reply.status() == loByte(Block::Last);
        return ExchangeStep::Verdict::Accept;
    };

    do {
        if (m_link.exchange(step) != ExchangeStep::End::Accepted) {
            result.Success = false;
            return;
        }
        // The device is given the same pause after each block it delivered. A stop during
        // it leaves the read unfinished, which is a failed read.
        if (!m_link.pause(m_link.timing().retryPauseMs)) {
            result.Success = false;
            return;
        }
        blockRequest = withWords(blockRequest, Block::Next, 0);
    } while (!last && !m_link.StopRequested());

    if (!last) {
        result.Success = false;
        return;
    }
    m_link.notify(LinkMessage::TransferDone);
}

void EdidTransfer::download(
    const CommandPacket &request, const QByteArray &data, CommandResult &result)
{
    if (m_link.StopRequested())
        return;
    // An empty download would only tell the device that its memory ends here.
    if (data.isEmpty()) {
        result.Success = false;
        return;
    }
    m_link.ExecuteCommand(request, result);
    if (!result.Success)
        return;
    if (result.reply.status() != Status::Proceed) {
        m_link.notify(LinkMessage::DataInvalid);
        result.Success = false;
        return;
    }

    const bool dumped = m_link.diagnosticsWanted();
    qsizetype sent = 0;
    int n = 0;
    CommandPacket header;
    QByteArray frame;

    ExchangeStep step;
    step.frame = [&frame] { return frame; };
    step.answer = FrameKind::Reply;
    step.retryPauseMs = m_link.timing().retryPauseMs;
    step.sent = [&](int) {
        if (dumped)
            m_link.notify(LinkMessage::ReceiveDump, 0, 0,
                BlockFrame::dump(frame.left(n + BlockFrame::HeaderSize)));
    };
    step.judge = [&](const QByteArray &answer) {
        const CommandPacket reply = CommandPacket::fromBytes(answer);
        m_link.trace(QStringLiteral("rcv blk PPP:   "), reply, 0);
        result.reply = reply;
        result.Success = IsSoundReply(reply, header) && reply.status() == Status::Accepted;
        return result.Success ? ExchangeStep::Verdict::Accept : ExchangeStep::Verdict::Refuse;
    };

    do {
        const qsizetype remaining = data.size() - sent;
        const bool more = remaining > BlockFrame::MaxData;
        n = static_cast<int>(more ? BlockFrame::MaxData : remaining);
        header = CommandPacket::make(request.command(), request.subcommand(),
            more ? Block::More : Block::Last, static_cast<quint16>(n), request.word(3),
            request.word(4));
        // Download frames always go padded to full size.
        frame = BlockFrame::build(header, data.mid(sent, n), BlockFrame::Size);

        if (m_link.exchange(step) != ExchangeStep::End::Accepted) {
            result.Success = false;
            return;
        }
        sent += n;
    } while (sent < data.size() && !m_link.StopRequested());

    if (sent < data.size()) {
        result.Success = false;
        return;
    }
    m_link.notify(LinkMessage::TransferDone);
}

void TKVCOMControl::ReadEDIDBlocks(const CommandPacket &request, CommandResult &result)
{
    EdidTransfer(*this).read(request, result, m_edidReadStream);
}

void TKVCOMControl::DownloadEDIDBlocks(const CommandPacket &request, CommandResult &result)
{
    EdidTransfer(*this).download(request, m_sendStream, result);
}
