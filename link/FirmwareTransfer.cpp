// Firmware parts: the start packet, the main MCU's preparation steps, the blocks, and the
// wait for the switcher to come back after it rebooted.
#include "BlockFrame.h"
#include "DeviceProtocol.h"
#include "TKVCOMControl.h"

namespace {

using namespace DeviceProtocol;

constexpr int RebootSteps = 100;
constexpr int RebootAttempts = 10;
constexpr int RebootTimeOutAttempt = 5;
constexpr int RebootPollTicks = 10;
constexpr int AckTrace = 8888;

// wParam of 2034/2035: subcommand and MCU number.
quint32 partWord(const CommandPacket &request)
{
    return MakeWord(request.subcommand(), LoByte(request.word(1)));
}

// lParam of 2034: the two version parts.
quint32 versionWord(const CommandPacket &request)
{
    return MakeWord(LoByte(request.word(3)), LoByte(request.word(4)));
}

// The start packet; true when the blocks may follow. A refused part reports success with
// notice 2034, which is how the upgrade learns that the part was not written.
bool startPart(TKVCOMControl &link, const CommandPacket &request, CommandResult &result)
{
    link.ExecuteCommand(request, result);
    if (!result.Success)
        return false;
    if (result.reply.status() == Status::Declined) {
        link.notify(LinkMessage::PartRefused, partWord(request), versionWord(request));
        result.Success = true;
        return false;
    }
    if (result.reply.status() != Status::Proceed) {
        link.notify(LinkMessage::DataInvalid);
        result.Success = false;
        return false;
    }
    return true;
}

// The main MCU's preparation: two steps, each after a pause that gives the MCU time to
// erase; true when both were taken.
bool prepareMain(TKVCOMControl &link, const CommandPacket &request, CommandResult &result)
{
    for (const quint16 step : {PrepareStep1, PrepareStep2}) {
        if (!link.Pause(link.timing().firmwareStepMs)) {
            result.Success = false;
            return false;
        }
        link.ExecuteCommand(
            CommandPacket::make(request.command(), request.subcommand(), step), result);
        if (!result.Success)
            return false;
        if (result.reply.status() == Status::Declined) {
            link.notify(LinkMessage::PartRefused, partWord(request), versionWord(request));
            result.Success = true;
            return false;
        }
        if (result.reply.status() != Status::Accepted) {
            link.notify(LinkMessage::DataInvalid);
            result.Success = false;
            return false;
        }
    }
    if (!link.Pause(link.timing().firmwareStepMs)) {
        result.Success = false;
        return false;
    }
    return true;
}

// Sends SendStream in blocks of up to 256 bytes; true when all of it was accepted.
bool sendBlocks(TKVCOMControl &link, const CommandPacket &request, CommandResult &result, bool main)
{
    QBuffer &stream = link.SendStream();
    if (!stream.isOpen())
        stream.open(QIODevice::ReadOnly);
    stream.seek(0);
    const qint64 size = stream.size();
    const FrameKind ackKind = main ? FrameKind::MainAck : FrameKind::SlaveAck;
    qint64 sent = 0;
    quint16 block = 0;
    do {
        const qint64 remaining = size - sent;
        const bool more = remaining > BlockFrame::MaxData;
        const QByteArray data = stream.read(more ? BlockFrame::MaxData : remaining);
        const auto n = static_cast<quint16>(data.size());

        const CommandPacket header = CommandPacket::make(request.command(), request.subcommand(),
            more ? Block::More : Block::Last, n, request.word(1), block);
        // Main MCU frames always go padded to full size.
        const QByteArray frame = BlockFrame::build(header, data, main ? BlockFrame::Size : 0);

        bool accepted = false;
        for (int attempt = 1; attempt <= TKVCOMControl::Attempts; ++attempt) {
            const auto exchange = link.SendAndWait(frame, ackKind, [&] {
                const QString prefix = main
                    ? QLatin1Char('[') + QString::number(attempt) + QLatin1String("]send data:\r\n")
                    : QStringLiteral("send data:\r\n");
                link.notify(LinkMessage::ReceiveDump, 0, 0, prefix + BlockFrame::dump(frame));
            });
            if (exchange == TKVCOMControl::Exchange::Stopped
                || exchange == TKVCOMControl::Exchange::Failed) {
                result.Success = false;
                return false;
            }
            if (exchange == TKVCOMControl::Exchange::TimedOut) {
                if (attempt == TKVCOMControl::Attempts) {
                    result.Success = false;
                    link.notify(LinkMessage::TimeOut);
                    return false;
                }
                continue;
            }
            const CommandPacket reply = CommandPacket::fromBytes(link.ReceivedFrame());
            link.trace(QStringLiteral("rcv cmd:   "), reply, AckTrace);
            result.reply = reply;
            const bool sound
                = PacketChecksum(reply) == reply.checksum() && IsMatchingReply(reply, header);
            if (sound && reply.status() == Status::Accepted) {
                sent += n;
                ++block;
                result.Success = true;
                const qint64 percent = size > 0 ? sent * 100 / size : 100;
                link.notify(
                    LinkMessage::PartProgress, partWord(request), static_cast<quint32>(percent));
                accepted = true;
                break;
            }
            if (sound && reply.status() == Status::Declined) {
                link.notify(LinkMessage::PartRefused, partWord(request), versionWord(request));
                result.Success = true;
            } else {
                result.Success = false;
            }
            if (!link.Pause(link.timing().firmwareRetryMs)) {
                result.Success = false;
                return false;
            }
        }
        if (!accepted) {
            // Refused five times: the refusal (2034) is the report. Otherwise no good reply.
            if (!result.Success)
                link.notify(LinkMessage::SendFailed);
            return false;
        }
    } while (sent < size && !link.StopRequested());
    if (sent < size) {
        result.Success = false; // stopped part-way
        return false;
    }
    return true;
}

} // namespace

void TKVCOMControl::TransferSlavePart(const CommandPacket &request, CommandResult &result)
{
    if (m_stop.requested() || !startPart(*this, request, result))
        return;
    if (sendBlocks(*this, request, result, false))
        notify(LinkMessage::TransferDone);
}

void TKVCOMControl::TransferMainPart(const CommandPacket &request, CommandResult &result)
{
    if (m_stop.requested() || !startPart(*this, request, result)
        || !prepareMain(*this, request, result) || !sendBlocks(*this, request, result, true))
        return;
    notify(LinkMessage::TransferDone, partWord(request), versionWord(request));
    // The main MCU restarts on its own once its last block is in.
    if (request.command() == Command::Firmware && request.subcommand() == FirmwareSub::Main)
        WaitReboot(result);
}

void TKVCOMControl::WaitReboot(CommandResult &result)
{
    result = CommandResult();
    static constexpr char Spinner[] = {'/', '-', '\\', '|'};
    int step = 0;
    const auto spin = [this, &step] {
        notify(LinkMessage::Reboot, 0, 1,
            QLatin1String("System rebooting, please wait ...") + QLatin1Char(Spinner[step++ % 4]));
    };
    // Every way the probe gives up ends the spinner with this line.
    const auto failed
        = [this] { notify(LinkMessage::Reboot, 0, 0, QStringLiteral("System reboot failed")); };

    // The switcher is deaf while it restarts: wait before asking.
    for (int i = 0; i < RebootSteps; ++i) {
        if (!Pause(m_timing.rebootStepMs))
            return;
        spin();
    }

    const CommandPacket probe = CommandPacket::make(Command::Device, DeviceSub::Model);
    const QByteArray wire = probe.toByteArray();
    for (int attempt = 1; attempt <= RebootAttempts; ++attempt) {
        if (!DrainLateReplies())
            return;
        ResetReceiveState(FrameKind::Reply);
        if (SendBuffer(wire) != wire.size()) {
            if (m_stop.requested())
                return;
            notify(LinkMessage::TransportError);
            failed();
            return;
        }
        trace(
            QLatin1Char('[') + QString::number(attempt) + QLatin1String("] snd cmd:   "), probe, 0);
        // In steps, so that the spinner keeps turning; a reply ends the step at once.
        for (int waited = 0; waited < m_timing.replyTicks && !m_frameComplete;
             waited += RebootPollTicks) {
            const WaitEnd end
                = waitUntil([this] { return m_frameComplete; }, RebootPollTicks * m_timing.tickMs);
            if (end == WaitEnd::Stopped)
                return;
            if (end == WaitEnd::Failed) {
                notify(LinkMessage::TransportError);
                failed();
                return;
            }
            spin();
        }
        if (!m_frameComplete) {
            startDrain();
            if (attempt == RebootTimeOutAttempt) {
                notify(LinkMessage::TimeOut);
                failed();
                return;
            }
            continue;
        }
        const CommandPacket reply = CommandPacket::fromBytes(ReceivedFrame());
        result.reply = reply;
        if (reply.status() != Status::Failed && PacketChecksum(reply) == reply.checksum()
            && IsMatchingReply(reply, probe)) {
            notify(LinkMessage::Reboot, 0, 0, QStringLiteral("System reboot ok"));
            result.Success = true;
            return;
        }
        if (!Pause(m_timing.retryPauseMs))
            return;
    }
    failed();
}
