#include "SwitcherSession.h"

#include "DeviceProtocol.h"
#include "LinkStatusText.h"
#include "TKVCOMControl.h"

SwitcherSession::SwitcherSession(TKVCOMControl &link, QObject *parent)
    : QObject(parent), m_link(link)
{
    // Synchronous: the text is built from the link's state as the failure happens, as the
    // window builds it.
    connect(
        &link, &TKVCOMControl::notification, this, &SwitcherSession::noticed, Qt::DirectConnection);
}

void SwitcherSession::noticed(const LinkNotice &notice)
{
    if (!m_listening)
        return;
    const QString text = linkStatusText(notice, m_link);
    if (text.isEmpty())
        return;
    m_failureCode = static_cast<int>(notice.code);
    m_failureText = text;
    m_failureDetail = linkFailureReason(notice);
}

QString SwitcherSession::lostText() const
{
    return linkStatusText(LinkNotice{LinkMessage::TransportError, 0, 0, {}}, m_link);
}

std::optional<SwitcherOutcome> SwitcherSession::notStarted(bool needsOpen) const
{
    if (m_link.StopRequested())
        return SwitcherOutcome::failed(SwitcherOutcome::Status::Stopped, {});
    if (needsOpen && !m_link.Connected())
        return SwitcherOutcome::failed(SwitcherOutcome::Status::Lost, lostText());
    return std::nullopt;
}

void SwitcherSession::listen()
{
    m_failureCode = 0;
    m_failureText.clear();
    m_failureDetail.clear();
    m_listening = true;
}

SwitcherOutcome SwitcherSession::open()
{
    if (std::optional<SwitcherOutcome> early = notStarted(false))
        return *early;
    if (m_link.Connected())
        return SwitcherOutcome::done({});
    listen();
    return opened(m_link.Connect());
}

void SwitcherSession::openAsync(Done done)
{
    // Everything that ends inside the call is handed on from the event loop.
    m_starting = true;
    if (std::optional<SwitcherOutcome> early = notStarted(false)) {
        deliver(done, *early);
        m_starting = false;
        return;
    }
    listen();
    m_link.startConnect(this, [this, done](bool ok) { deliver(done, opened(ok)); });
    m_starting = false;
}

SwitcherOutcome SwitcherSession::opened(bool opened)
{
    m_listening = false;
    if (opened)
        return SwitcherOutcome::done({});
    if (m_link.StopRequested())
        return SwitcherOutcome::failed(SwitcherOutcome::Status::Stopped, {});
    return SwitcherOutcome::failed(SwitcherOutcome::Status::Lost, m_failureText, m_failureDetail);
}

SwitcherOutcome SwitcherSession::run(const SwitcherOperation &operation)
{
    if (std::optional<SwitcherOutcome> early = notStarted(true))
        return *early;
    CommandResult result;
    listen();
    m_link.ExecuteCommand(operation.request(), result);
    return judge(operation.request(), result);
}

void SwitcherSession::runAsync(const SwitcherOperation &operation, Done done)
{
    // Everything that ends inside the call is handed on from the event loop.
    m_starting = true;
    if (std::optional<SwitcherOutcome> early = notStarted(true)) {
        deliver(done, *early);
        m_starting = false;
        return;
    }
    listen();
    m_link.startCommand(operation.request(), this,
        [this, request = operation.request(), done](
            const CommandResult &result) { deliver(done, judge(request, result)); });
    m_starting = false;
}

void SwitcherSession::deliver(const Done &done, const SwitcherOutcome &outcome)
{
    if (!m_starting)
        return done(outcome);
    QMetaObject::invokeMethod(
        this, [done, outcome] { done(outcome); }, Qt::QueuedConnection);
}

SwitcherOutcome SwitcherSession::command(
    quint8 command, quint8 subcommand, quint16 word1, quint16 word2, quint16 word3, quint16 word4)
{
    return run(SwitcherOperation::command(
        QString(), false, command, subcommand, word1, word2, word3, word4));
}

SwitcherOutcome SwitcherSession::judge(const CommandPacket &request, const CommandResult &result)
{
    using Status = SwitcherOutcome::Status;
    m_listening = false;
    SwitcherOutcome outcome{Status::Ok, m_failureText, m_failureDetail, result.reply};
    if (result.Success) {
        outcome.reason.clear();
        outcome.detail.clear();
        return outcome;
    }
    // A sound reply that says no is the switcher's refusal, whatever came after it.
    if (IsSoundReply(result.reply, request)
        && result.reply.status() == DeviceProtocol::Status::Failed)
        outcome.status = Status::Refused;
    else if (m_link.StopRequested() || m_failureCode == 0)
        // A stop ends a transaction without a report; there is nothing to tell.
        outcome.status = m_link.StopRequested() ? Status::Stopped : Status::Lost;
    else if (m_failureCode == static_cast<int>(LinkMessage::TimeOut))
        outcome.status = Status::TimedOut;
    else
        // The transport failed, or the replies could not be understood.
        outcome.status = Status::Lost;
    return outcome;
}
