#include "TKVCOMControl.h"

#include "DeviceProtocol.h"
#include "SerialTransport.h"
#include "TcpTransport.h"

#include <QMetaMethod>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcLink, "matrix.link", QtInfoMsg)

TKVCOMControl::TKVCOMControl(QObject *parent) : QObject(parent)
{
    connect(&m_stop, &StopRequest::changed, this, &TKVCOMControl::stopRequestedChanged);
    setTransport(cmCOM, std::make_unique<SerialTransport>());
    setTransport(cmLAN, std::make_unique<TcpTransport>());
}

TKVCOMControl::~TKVCOMControl()
{
    // Close quietly: no notification may reach a receiver that is going away.
    blockSignals(true);
    for (Transport *t : {m_tcp.get(), m_serial.get()}) {
        if (t)
            t->close();
    }
}

void TKVCOMControl::setControlMode(TControlMode mode)
{
    m_controlMode = mode;
    m_searching = false;
    m_configuring = false;
}

bool TKVCOMControl::Connected() const
{
    const Transport *t = current();
    return t && t->isOpen();
}

void TKVCOMControl::setStopRequested(bool stop)
{
    // The waits bound to the request, the link's own among them, end as it is set.
    m_stop.set(stop);
}

void TKVCOMControl::setTransport(TControlMode mode, std::unique_ptr<Transport> transport)
{
    auto &slot = mode == cmCOM ? m_serial : m_tcp;
    if (slot)
        slot->close();
    slot = std::move(transport);
    if (!slot)
        return;
    Transport *t = slot.get();
    t->setStopRequest(&m_stop);
    connect(t, &Transport::received, this, [this, t](const QByteArray &bytes) {
        if (t == current())
            onReceived(bytes);
    });
    connect(t, &Transport::bytesWritten, this, [this, t] {
        if (t == current())
            wakeWaits();
    });
    connect(t, &Transport::failed, this, [this, t](const QString &reason) {
        if (t == current())
            onTransportFailed(reason);
    });
}

Transport *TKVCOMControl::transport(TControlMode mode) const
{
    return mode == cmCOM ? m_serial.get() : m_tcp.get();
}

bool TKVCOMControl::Connect()
{
    if (Connected())
        return true;
    // Opening waits in an event loop; a connect from inside that wait would restart it.
    if (m_connecting)
        return false;
    Transport *t = current();
    if (!t)
        return false;
    if (m_controlMode == cmCOM)
        t->setTarget(m_comPort, 0);
    else
        t->setTarget(m_deviceIP, m_tcpPort);

    m_connecting = true;
    QString error;
    const bool opened = t->open(&error, m_timing.connectTimeoutMs);
    m_connecting = false;
    if (!opened) {
        t->close();
        qCDebug(lcLink) << "open failed:" << error;
        // A stop ends the connect quietly, as it ends a transaction: the program is closing.
        if (!m_stop.requested())
            notify(LinkMessage::OpenCloseFailed, Connected() ? 1 : 0, 0, error);
        return false;
    }
    t->discardPending();
    m_transportFailed = false;
    Q_EMIT connectedChanged(true);
    return true;
}

bool TKVCOMControl::Disconnect()
{
    if (Connected()) {
        current()->close();
        Q_EMIT connectedChanged(false);
    }
    return true;
}

void TKVCOMControl::notify(LinkMessage code, quint32 wParam, quint32 lParam, const QString &text)
{
    Q_EMIT notification(LinkNotice{code, wParam, lParam, text});
}

void TKVCOMControl::trace(const QString &label, const CommandPacket &packet, int number)
{
    const bool logged = lcLink().isDebugEnabled();
    if (!logged && !noticesWanted())
        return;
    const QString line = TracePacket(label, packet, number);
    if (logged)
        qCDebug(lcLink).noquote() << line;
    notify(LinkMessage::Trace, 0, 0, line);
}

bool TKVCOMControl::noticesWanted() const
{
    return isSignalConnected(QMetaMethod::fromSignal(&TKVCOMControl::notification));
}

void TKVCOMControl::ExecuteCommand(const CommandPacket &request, CommandResult &result)
{
    if (m_stop.requested())
        return;

    CommandPacket packet;
    InitPacket(packet);
    std::copy(request.bytes.begin() + 2, request.bytes.begin() + 12, packet.bytes.begin() + 2);
    packet.bytes[12] = PacketChecksum(packet);
    const QByteArray wire = packet.toByteArray();

    if (!catchUp(ReplyOrder::kindOf(packet))) {
        // Whatever came meanwhile answered something else: there is no reply to show.
        result = CommandResult();
        return;
    }

    ExchangeStep step;
    step.frame = [&wire] { return wire; };
    step.answer = FrameKind::Reply;
    step.lateFrames = ExchangeStep::LateFrames::DropAwaited;
    step.retryPauseMs = m_timing.retryPauseMs;
    step.sent = [&](int attempt) {
        trace(QLatin1Char('[') + QString::number(attempt) + QLatin1String("] snd cmd PPP:   "),
            packet, 0);
    };
    step.judge = [&](const QByteArray &answer) {
        const CommandPacket reply = CommandPacket::fromBytes(answer);
        trace(QStringLiteral("rcv cmd PPP:   "), reply, 0);
        result.reply = reply;
        // A status of 0xFF is a refusal even when the packet itself is sound.
        result.Success
            = reply.status() != DeviceProtocol::Status::Failed && IsSoundReply(reply, packet);
        return result.Success ? ExchangeStep::Verdict::Accept : ExchangeStep::Verdict::Refuse;
    };
    result.Success = exchange(step) == ExchangeStep::End::Accepted;
}

bool TKVCOMControl::catchUp(ReplyOrder::Kind next)
{
    if (m_order.inStep() || m_barrierHolds > 0)
        return true;
    const CommandPacket query = m_order.barrier(next);
    const QByteArray wire = query.toByteArray();
    ExchangeStep step;
    step.frame = [&wire] { return wire; };
    step.answer = FrameKind::Reply;
    step.lateFrames = ExchangeStep::LateFrames::DropOthers;
    step.sent = [&](int attempt) {
        trace(QLatin1Char('[') + QString::number(attempt) + QLatin1String("] snd sync PPP:   "),
            query, 0);
    };
    // Only a sound reply of the query's kind gets here; a refusal counts as well, since it is
    // the order of the replies that matters, not what they say.
    step.judge = [&](const QByteArray &answer) {
        trace(QStringLiteral("rcv sync PPP:   "), CommandPacket::fromBytes(answer), 0);
        return ExchangeStep::Verdict::Accept;
    };
    return exchange(step) == ExchangeStep::End::Accepted;
}

ExchangeStep::End TKVCOMControl::exchange(const ExchangeStep &step)
{
    using End = ExchangeStep::End;
    using Verdict = ExchangeStep::Verdict;
    const int attempts = std::max(1, step.attempts);
    const int timeOutAttempt = step.timeOutAttempt > 0 ? step.timeOutAttempt : attempts;
    // The kind of the request, for keeping the link in step; module frames are not the
    // switcher's to answer in order.
    std::optional<ReplyOrder::Kind> kind;
    bool kindWasAwaited = false;
    bool timedOut = false;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        const QByteArray frame = step.frame();
        if (attempt == 1 && step.answer != FrameKind::ModuleFrame
            && frame.startsWith(FrameReceiver::frameLead(FrameKind::Reply))
            && frame.size() >= CommandPacket::Size) {
            kind = ReplyOrder::kindOf(CommandPacket::fromBytes(frame));
            kindWasAwaited = m_order.awaits(*kind);
        }
        switch (sendAndWait(step, frame, attempt, kind)) {
        case Answer::Stopped:
            return End::Stopped;
        case Answer::Failed:
            return End::Failed;
        case Answer::None:
            timedOut = true;
            if (kind)
                m_order.unanswered(*kind);
            if (attempt == timeOutAttempt) {
                notify(LinkMessage::TimeOut);
                return End::TimedOut;
            }
            continue;
        case Answer::Complete:
            break;
        }
        const QByteArray answer = m_receiver.frame();
        if (kind && ReplyOrder::isReplyOf(answer, *kind))
            m_order.answered(*kind, kindWasAwaited, timedOut);
        const Verdict verdict = step.judge(answer);
        if (verdict == Verdict::Accept)
            return End::Accepted;
        if (!pause(step.retryPauseMs))
            return End::Stopped;
        if (attempt == attempts && verdict == Verdict::Refuse)
            notify(LinkMessage::SendFailed);
    }
    return End::Refused;
}

TKVCOMControl::Answer TKVCOMControl::sendAndWait(const ExchangeStep &step, const QByteArray &frame,
    int attempt, std::optional<ReplyOrder::Kind> kind)
{
    if (!drainLateReplies())
        return Answer::Stopped;
    m_receiver.reset(step.answer, step.lead);
    m_answerKind = kind;
    m_lateFrames = kind ? step.lateFrames : ExchangeStep::LateFrames::Judge;
    m_surplus.clear();
    m_transportFailed = false;
    if (SendBuffer(frame) != frame.size()) {
        if (m_stop.requested())
            return Answer::Stopped;
        notify(LinkMessage::TransportError);
        return Answer::Failed;
    }
    if (step.sent)
        step.sent(attempt);
    if (!WaitReply(step))
        return Answer::Stopped;
    if (m_transportFailed) {
        notify(LinkMessage::TransportError);
        return Answer::Failed;
    }
    if (!m_receiver.complete()) {
        startDrain();
        return Answer::None;
    }
    return Answer::Complete;
}

qint64 TKVCOMControl::SendBuffer(const QByteArray &bytes)
{
    Transport *t = current();
    if (!t || !t->isOpen())
        return -1;
    t->discardPending();
    const qint64 accepted = t->write(bytes);
    if (accepted < 0 || t->bytesToWrite() == 0)
        return accepted;
    // A line that has not taken the bytes within the write time-out is stuck: the write fails
    // (and the transaction reports a transport error) instead of waiting for a reply that
    // cannot come. The port stays open for when the line moves again.
    const WaitEnd end
        = waitUntil([t] { return t->bytesToWrite() == 0; }, m_timing.writeTimeout(bytes.size()));
    if (end == WaitEnd::Done)
        return accepted;
    if (t->isOpen())
        t->discardPending();
    return -1;
}

bool TKVCOMControl::WaitReply(const ExchangeStep &step)
{
    const auto complete = [this] { return answerReady(); };
    if (step.waitStepMs <= 0)
        return waitUntil(complete, m_timing.replyTimeoutMs()) != WaitEnd::Stopped;
    for (int waited = 0; waited < m_timing.replyTimeoutMs() && !answerReady();
         waited += step.waitStepMs) {
        const WaitEnd end = waitUntil(complete, step.waitStepMs);
        if (end == WaitEnd::Stopped)
            return false;
        if (end == WaitEnd::Failed)
            return true;
        if (step.waiting)
            step.waiting();
    }
    return true;
}

bool TKVCOMControl::answerReady()
{
    while (m_receiver.complete()) {
        const QByteArray frame = m_receiver.frame();
        if (!isLate(frame))
            return true;
        traceBytes(QStringLiteral("late reply discarded:   "), frame);
        m_receiver.reset(m_receiver.kind(), m_receiver.lead());
        store(std::exchange(m_surplus, QByteArray()));
    }
    return false;
}

bool TKVCOMControl::isLate(const QByteArray &frame) const
{
    if (!m_answerKind)
        return false;
    switch (m_lateFrames) {
    case ExchangeStep::LateFrames::Judge:
        return false;
    case ExchangeStep::LateFrames::DropAwaited: {
        const ReplyOrder::Kind kind = ReplyOrder::kindOf(CommandPacket::fromBytes(frame));
        return kind != *m_answerKind && m_order.awaits(kind) && ReplyOrder::isReplyOf(frame, kind);
    }
    case ExchangeStep::LateFrames::DropOthers:
        return !ReplyOrder::isReplyOf(frame, *m_answerKind);
    }
    return false;
}

bool TKVCOMControl::drainLateReplies()
{
    if (m_drainUntil.hasExpired())
        return true;
    if (!pause(static_cast<int>(m_drainUntil.remainingTime())))
        return false;
    m_drainUntil = QDeadlineTimer();
    return true;
}

void TKVCOMControl::startDrain()
{
    m_drainUntil = QDeadlineTimer(std::max(0, m_timing.drainGraceMs), Qt::PreciseTimer);
}

bool TKVCOMControl::pause(int ms)
{
    // A plain delay: only a stop ends it early, whatever happens to the transport meanwhile.
    return waitUntil([] { return false; }, ms, WaitFor::Time) != WaitEnd::Stopped;
}

TKVCOMControl::WaitEnd TKVCOMControl::waitUntil(
    const std::function<bool()> &done, int ms, WaitFor what)
{
    EventWait wait(&m_stop);
    wait.wakeOn(this, &TKVCOMControl::waitConditionChanged);
    if (what == WaitFor::Frame)
        wait.failWhen([this] { return m_transportFailed; });
    ++m_waiting;
    const WaitEnd end = wait.until(done, ms);
    --m_waiting;
    return end;
}

void TKVCOMControl::wakeWaits()
{
    Q_EMIT waitConditionChanged(QPrivateSignal());
}

void TKVCOMControl::onReceived(const QByteArray &bytes)
{
    if (m_stop.requested())
        return;
    if (noticesWanted())
        notify(LinkMessage::DataReceived, static_cast<quint32>(bytes.size()));
    if (draining()) {
        traceBytes(QStringLiteral("late reply drained:   "), bytes);
        return;
    }
    store(bytes);
}

void TKVCOMControl::store(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    const bool wanted = noticesWanted();
    const bool logged = lcLink().isDebugEnabled();
    const int position = m_receiver.position();
    const bool wasComplete = m_receiver.complete();
    QByteArray skipped;
    QByteArray stored;
    QByteArray rest;
    const bool keepRest = m_lateFrames != ExchangeStep::LateFrames::Judge;
    m_receiver.store(bytes, wanted || logged ? &skipped : nullptr, wanted ? &stored : nullptr,
        keepRest ? &rest : nullptr);
    // Bounded: what matters is the answer right behind a late frame, not a flood.
    if (!rest.isEmpty() && m_surplus.size() < SurplusLimit)
        m_surplus += rest.left(SurplusLimit - m_surplus.size());
    if (!skipped.isEmpty())
        traceBytes(QStringLiteral("skipped before frame start:   "), skipped);
    if (wanted && !wasComplete) {
        QString dump = m_controlMode == cmCOM ? QLatin1String("CopyDataPosition = ")
                + QString::number(position) + QLatin1String("\r\n")
                                              : QStringLiteral("cmLAN:::");
        dump += receiveDump(stored);
        notify(LinkMessage::ReceiveDump, 0, 0, dump);
    }
    if (m_receiver.complete())
        wakeWaits();
}

void TKVCOMControl::traceBytes(const QString &label, const QByteArray &bytes)
{
    const bool logged = lcLink().isDebugEnabled();
    if (!logged && !noticesWanted())
        return;
    const QString line = label + QString::fromLatin1(bytes.toHex(' ').toUpper());
    if (logged)
        qCDebug(lcLink).noquote() << line;
    notify(LinkMessage::Trace, 0, 0, line);
}

QString TKVCOMControl::receiveDump(const QByteArray &stored) const
{
    static constexpr char digits[] = "0123456789ABCDEF";
    static const QString rule(48, QLatin1Char('*'));
    QString text;
    text.reserve(2 * rule.size() + 8 + stored.size() * 7);
    text += rule;
    text += QLatin1String("\r\n");
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const auto byte = static_cast<quint8>(stored[i]);
        const char entry[] = {'0', 'x', digits[byte >> 4], digits[byte & 0xF]};
        text += QLatin1String(entry, 4);
        text += QChar(char16_t(byte));
        text += QLatin1String(", ");
        if (i % 16 == 15)
            text += QLatin1String("\r\n");
    }
    text += QLatin1String("\r\n");
    text += rule;
    return text;
}

void TKVCOMControl::onTransportFailed(const QString &reason)
{
    qCDebug(lcLink) << "transport failed:" << reason;
    const bool waiting = m_waiting > 0;
    m_transportFailed = true;
    wakeWaits();
    Q_EMIT connectedChanged(false);
    Q_EMIT connectionLost();
    // During a transaction the transaction reports the failure; otherwise report it here.
    if (!waiting)
        notify(LinkMessage::TransportError);
}
