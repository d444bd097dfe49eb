// Firmware parts: the start packet, the main MCU's preparation steps, the blocks, and the
// wait for the switcher to come back after it rebooted.
#include "FirmwareTransfer.h"

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
    return MakeWord(request.subcommand(), loByte(request.word(1)));
}

// lParam of 2034: the two version parts.
quint32 versionWord(const CommandPacket &request)
{
    return MakeWord(loByte(request.word(3)), loByte(request.word(4)));
}

} // namespace

// A part step's answer: true when the device answered `expected`. A refused part reports
// success with notice 2034, which is how the upgrade learns that the part was not written; any
// other answer is invalid data.
bool FirmwareTransfer::acceptStep(
    const CommandPacket &request, CommandResult &result, quint8 expected)
{
    if (!result.Success)
        return false;
    if (result.reply.status() == Status::Declined) {
        m_link.notify(LinkMessage::PartRefused, partWord(request), versionWord(request));
        result.Success = true;
        return false;
    }
    if (result.reply.status() != expected) {
        m_link.notify(LinkMessage::DataInvalid);
        result.Success = false;
        return false;
    }
    return true;
}

// The start packet; true when the blocks may follow.
bool FirmwareTransfer::startPart(const CommandPacket &request, CommandResult &result)
{
    m_link.ExecuteCommand(request, result);
    return acceptStep(request, result, Status::Proceed);
}

// The main MCU's preparation: two steps, each after a pause that gives the MCU time to
// erase; true when both were taken.
bool FirmwareTransfer::prepareMain(const CommandPacket &request, CommandResult &result)
{
    for (const quint16 step : {PrepareStep1, PrepareStep2}) {
        if (!m_link.pause(m_link.timing().firmwareStepMs)) {
            result.Success = false;
            return false;
        }
        m_link.ExecuteCommand(
            CommandPacket::make(request.command(), request.subcommand(), step), result);
        if (!acceptStep(request, result, Status::Accepted))
            return false;
    }
    if (!m_link.pause(m_link.timing().firmwareStepMs)) {
        result.Success = false;
        return false;
    }
    return true;
}

// Sends the image in blocks of up to 256 bytes; true when all of it was accepted.
bool FirmwareTransfer::sendBlocks(
    const CommandPacket &request, const QByteArray &image, CommandResult &result, bool main)
{
    const qint64 size = image.size();
    qint64 sent = 0;
    quint16 block = 0;
    CommandPacket header;
    QByteArray frame;

    ExchangeStep step;
    step.frame = [&frame] { return frame; };
    step.answer = main ? FrameKind::MainAck : FrameKind::SlaveAck;
    step.retryPauseMs = m_link.timing().firmwareRetryMs;
    step.sent = [&](int attempt) {
        if (!m_link.diagnosticsWanted())
            return;
        const QString prefix = main
            ? QLatin1Char('[') + QString::number(attempt) + QLatin1String("]send data:\r\n")
            : QStringLiteral("send data:\r\n");
        m_link.notify(LinkMessage::ReceiveDump, 0, 0, prefix + BlockFrame::dump(frame));
    };
    step.judge = [&](const QByteArray &answer) {
        const CommandPacket reply = CommandPacket::fromBytes(answer);
        m_link.trace(QStringLiteral("rcv cmd:   "), reply, AckTrace);
        result.reply = reply;
        const bool sound = IsSoundReply(reply, header);
        if (sound && reply.status() == Status::Accepted) {
            result.Success = true;
            return ExchangeStep::Verdict::Accept;
        }
        // Refused: the refusal (2034) is the report, also when it is the last answer.
        if (sound && reply.status() == Status::Declined) {
            m_link.notify(LinkMessage::PartRefused, partWord(request), versionWord(request));
            result.Success = true;
            return ExchangeStep::Verdict::RefuseQuietly;
        }
        result.Success = false;
        return ExchangeStep::Verdict::Refuse;
    };

    do {
        const qint64 remaining = size - sent;
        const bool more = remaining > BlockFrame::MaxData;
        const QByteArray data = image.mid(sent, more ? BlockFrame::MaxData : remaining);
        const auto n = static_cast<quint16>(data.size());

        header = CommandPacket::make(request.command(), request.subcommand(),
            more ? Block::More : Block::Last, n, request.word(1), block);
        // Main MCU frames always go padded to full size.
        frame = BlockFrame::build(header, data, main ? BlockFrame::Size : 0);

        switch (m_link.exchange(step)) {
        case ExchangeStep::End::Accepted:
            break;
        case ExchangeStep::End::Refused:
            return false;
        default:
            result.Success = false;
            return false;
        }
        sent += n;
        ++block;
        const qint64 percent = size > 0 ? sent * 100 / size : 100;
        m_link.notify(LinkMessage::PartProgress, partWord(request), static_cast<quint32>(percent));
    } while (sent < size && !m_link.StopRequested());
    if (sent < size) {
        result.Success = false; // stopped part-way
        return false;
    }
    return true;
}

void FirmwareTransfer::transferSlavePart(
    const CommandPacket &request, const QByteArray &image, CommandResult &result)
{
    const TKVCOMControl::BarrierHold hold(m_link);
    if (m_link.StopRequested() || !startPart(request, result))
        return;
    if (sendBlocks(request, image, result, false))
        m_link.notify(LinkMessage::TransferDone);
}

void FirmwareTransfer::transferMainPart(
    const CommandPacket &request, const QByteArray &image, CommandResult &result)
{
    const TKVCOMControl::BarrierHold hold(m_link);
    if (m_link.StopRequested() || !startPart(request, result) || !prepareMain(request, result)
        || !sendBlocks(request, image, result, true))
        return;
    m_link.notify(LinkMessage::TransferDone, partWord(request), versionWord(request));
    // The main MCU restarts on its own once its last block is in.
    if (request.command() == Command::Firmware && request.subcommand() == FirmwareSub::Main)
        waitReboot(result);
}

void FirmwareTransfer::waitReboot(CommandResult &result)
{
    const TKVCOMControl::BarrierHold hold(m_link);
    result = CommandResult();
    static constexpr char Spinner[] = {'/', '-', '\\', '|'};
    int turn = 0;
    const auto spin = [this, &turn] {
        m_link.notify(LinkMessage::Reboot, 0, 1,
            QLatin1String("System rebooting, please wait ...") + QLatin1Char(Spinner[turn++ % 4]));
    };

    // The switcher is deaf while it restarts: wait before asking.
    for (int i = 0; i < RebootSteps; ++i) {
        if (!m_link.pause(m_link.timing().rebootStepMs))
            return;
        spin();
    }

    const CommandPacket probe = CommandPacket::make(Command::Device, DeviceSub::Model);
    const QByteArray wire = probe.toByteArray();
    ExchangeStep step;
    step.frame = [&wire] { return wire; };
    step.answer = FrameKind::Reply;
    step.attempts = RebootAttempts;
    step.timeOutAttempt = RebootTimeOutAttempt;
    step.retryPauseMs = m_link.timing().retryPauseMs;
    // In steps, so that the spinner keeps turning; a reply ends the step at once.
    step.waitStepMs = RebootPollTicks * m_link.timing().tickMs;
    step.waiting = spin;
    step.sent
        = [&](int attempt) { m_link.traceSent(attempt, QLatin1String("snd cmd:   "), probe); };
    step.judge = [&](const QByteArray &answer) {
        const CommandPacket reply = CommandPacket::fromBytes(answer);
        result.reply = reply;
        return reply.status() != Status::Failed && IsSoundReply(reply, probe)
            ? ExchangeStep::Verdict::Accept
            : ExchangeStep::Verdict::RefuseQuietly;
    };

    switch (m_link.exchange(step)) {
    case ExchangeStep::End::Accepted:
        m_link.switcherRestarted();
        m_link.notify(LinkMessage::Reboot, 0, 0, QStringLiteral("System reboot ok"));
        result.Success = true;
        return;
    case ExchangeStep::End::Stopped:
        return;
    default:
        // Every way the probe gives up ends the spinner with this line.
        m_link.notify(LinkMessage::Reboot, 0, 0, QStringLiteral("System reboot failed"));
        return;
    }
}

void TKVCOMControl::TransferSlavePart(const CommandPacket &request, CommandResult &result)
{
    FirmwareTransfer(*this).transferSlavePart(request, m_sendStream, result);
}

void TKVCOMControl::TransferMainPart(const CommandPacket &request, CommandResult &result)
{
    FirmwareTransfer(*this).transferMainPart(request, m_sendStream, result);
}

void TKVCOMControl::WaitReboot(CommandResult &result)
{
    FirmwareTransfer(*this).waitReboot(result);
}
