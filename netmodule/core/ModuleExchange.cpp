#include "ModuleExchange.h"

#include "NetLogging.h"
#include "TKVCOMControl.h"

namespace {

void traceFrame(TKVCOMControl &link, const QString &prefix, const ModuleFrame &frame)
{
    const QString text = TraceModuleFrame(prefix, frame);
    qCDebug(lcNetModule).noquote() << text;
    link.notify(LinkMessage::Trace, 0, 0, text);
}

} // namespace

bool TCPModuleCommand(TKVCOMControl &link, const ModuleFrame &request, ModuleFrame &reply)
{
    if (link.StopRequested())
        return false;
    reply = ModuleFrame{};
    reply.bytes[ModuleFrame::ReceiveOKAt] = ModuleFrame::NotReceived;

    // The caller's header, ReceiveOK and checksum do not matter: the module expects these.
    ModuleFrame sent = request;
    std::copy(ModuleFrame::Header.begin(), ModuleFrame::Header.end(), sent.bytes.begin());
    sent.bytes[ModuleFrame::ReceiveOKAt] = ModuleFrame::NotReceived;
    sealModuleFrame(sent);
    const QByteArray wire = sent.toByteArray();
    // The module's answer starts with the same header: what comes before it is line noise.
    const QByteArray lead = wire.left(ModuleFrame::HeaderSize);

    int badChecksums = 0;
    ExchangeStep step;
    step.frame = [&wire] { return wire; };
    step.answer = FrameKind::ModuleFrame;
    step.lead = lead;
    step.retryPauseMs = link.timing().retryPauseMs;
    step.sent = [&](int) { traceFrame(link, QStringLiteral("send LDCD:   "), sent); };
    step.judge = [&](const QByteArray &answer) {
        reply = ModuleFrame::fromBytes(answer);
        traceFrame(link, QStringLiteral("rcv LDCD:   "), reply);
        if (isAcceptedModuleReply(reply, sent))
            return ExchangeStep::Verdict::Accept;
        // "send data failed" only when every attempt was answered with a damaged frame.
        if (ModuleChecksum(reply) != reply.checksum())
            ++badChecksums;
        return badChecksums == TKVCOMControl::Attempts ? ExchangeStep::Verdict::Refuse
                                                       : ExchangeStep::Verdict::RefuseQuietly;
    };
    return link.exchange(step) == ExchangeStep::End::Accepted;
}

TCPModuleInfo TCPModuleInfo::fromReply(const ModuleFrame &reply)
{
    return {reply.param1(), reply.param2(), reply.dhcp() != 0, reply.ip()};
}

QString TCPModuleInfo::versionText() const
{
    return QStringLiteral("Version: Ver%1.%2").arg(versionMajor).arg(versionMinor);
}

QString TCPModuleInfo::dhcpText() const
{
    return autoIP ? QStringLiteral("DHCP: Auto IP") : QStringLiteral("DHCP: Static IP");
}

QString TCPModuleInfo::ipText() const
{
    return QStringLiteral("IP Address: ") + ::ipText(ip);
}

std::optional<TCPModuleInfo> queryTCPModule(TKVCOMControl &link)
{
    ModuleFrame reply;
    if (!TCPModuleCommand(link, ModuleFrame::request(ModuleFrame::CommandQuery), reply))
        return std::nullopt;
    return TCPModuleInfo::fromReply(reply);
}

bool resetTCPModule(TKVCOMControl &link)
{
    ModuleFrame reply;
    return TCPModuleCommand(
        link, ModuleFrame::request(ModuleFrame::CommandReset, 0, DefaultModuleIP), reply);
}

namespace {

// The checks both buttons make before they start: false when they must not run. The busy flag
// is taken before connecting on demand, so that nothing else starts while the connect waits.
bool mayStart(const TKVCOMControl &link, TCPModulePanel &panel)
{
    if (panel.stopRequested())
        return false;
    if (!panel.runnerIdle() || link.connecting()) {
        panel.showStatus(3, QStringLiteral("In processing, command ignored"), false);
        return false;
    }
    panel.setRunnerIdle(false);
    const bool connected = panel.ensureConnected();
    panel.setRunnerIdle(true);
    return connected;
}

} // namespace

bool runTCPModuleQuery(TKVCOMControl &link, TCPModulePanel &panel)
{
    if (!mayStart(link, panel))
        return false;
    panel.setRunnerIdle(false);
    panel.setQueryEnabled(false);
    panel.showStatus(2, QStringLiteral("Query TCP Module information ..."), false);
    panel.setModuleLabels(
        QStringLiteral("Version: "), QStringLiteral("DHCP: "), QStringLiteral("IP Address: "));
    const std::optional<TCPModuleInfo> info = queryTCPModule(link);
    if (info) {
        panel.showStatus(2, QStringLiteral("Query TCP Module ok"), false);
        panel.setModuleLabels(info->versionText(), info->dhcpText(), info->ipText());
    } else {
        panel.showStatus(2, QStringLiteral("Query TCP Module failed"), true);
    }
    panel.setQueryEnabled(true);
    panel.setRunnerIdle(true);
    panel.showStatus(3, QString(), false);
    return info.has_value();
}

bool runTCPModuleReset(TKVCOMControl &link, TCPModulePanel &panel)
{
    if (!mayStart(link, panel))
        return false;
    panel.showStatus(2, QStringLiteral("Reset Default ..."), false);
    if (!panel.confirmReset()) {
        panel.showStatus(2, QStringLiteral("Reset Default cancelled"), false);
        panel.showStatus(3, QString(), false);
        return false;
    }
    panel.setRunnerIdle(false);
    const bool reset = resetTCPModule(link);
    panel.setRunnerIdle(true);
    if (reset) {
        panel.showStatus(2, QStringLiteral("Reset Default ok"), false);
        runTCPModuleQuery(link, panel);
    } else {
        panel.showStatus(2, QStringLiteral("Reset Default failed"), true);
    }
    panel.showStatus(3, QString(), false);
    return reset;
}
