#include "TKVCOMControl.h"

#include "DeviceProtocol.h"
#include "SerialTransport.h"
#include "TcpTransport.h"

#include <QMetaMethod>

#include <algorithm>
#include <memory>
#include <utility>

Q_LOGGING_CATEGORY(lcLink, "matrix.link", QtInfoMsg)

struct TKVCOMControl::Run
{
    ExchangeStep step;
    QPointer<QObject> context;
    ExchangeDone done;
    quint64 id = 0;
    int attempts = 1;
    int timeOutAttempt = 1;
    int attempt = 0;
    QByteArray frame;
    qint64 accepted = 0;
    // The kind of the request, for keeping the link in step; module frames are not the
    // switcher's to answer in order.
    std::optional<ReplyOrder::Kind> kind;
    bool kindWasAwaited = false;
    bool timedOut = false;
    // Busy: between phases, while the machine itself acts; nothing is waited for.
    Phase phase = Phase::Busy;
    int waited = 0; // a reply wait in steps: the steps' time so far
    ExchangeStep::Verdict verdict = ExchangeStep::Verdict::Accept;
};

TKVCOMControl::TKVCOMControl(QObject *parent) : QObject(parent)
{
    connect(&m_stop, &StopRequest::changed, this, &TKVCOMControl::stopRequestedChanged);
    connect(&m_stop, &StopRequest::changed, this, [this](bool stop) {
        if (stop)
            onStop();
    });
    m_phaseTimer.setSingleShot(true);
    m_phaseTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_phaseTimer, &QTimer::timeout, this, [this] { checkPhase(Check::TimeUp); });
    setTransport(cmCOM, std::make_unique<SerialTransport>());
    setTransport(cmLAN, std::make_unique<TcpTransport>());
}

TKVCOMControl::~TKVCOMControl()
{
    // Close quietly: no notification may reach a receiver that is going away. A request still
    // running ends without a call back: whoever asked goes away with us.
    blockSignals(true);
    m_phaseTimer.stop();
    m_run.reset();
    m_connectDone = nullptr;
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
    connect(t, &Transport::openEnded, this, [this, t](bool opened, const QString &error) {
        if (t == current() && m_connecting)
            endConnect(opened, error);
    });
    connect(t, &Transport::received, this, [this, t](const QByteArray &bytes) {
        if (t == current())
            onReceived(bytes);
    });
    connect(t, &Transport::bytesWritten, this, [this, t] {
        if (t == current()) {
            wakeWaits();
            wakeRun();
        }
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
    std::optional<bool> opened;
    startConnect(this, [&opened](bool ok) { opened = ok; });
    await([&opened] { return opened.has_value(); });
    return opened.value_or(false);
}

void TKVCOMControl::startConnect(QObject *context, ConnectDone done)
{
    if (Connected())
        return done(true);
    // A connect while one is under way would restart it.
    if (m_connecting)
        return done(false);
    Transport *t = current();
    if (!t)
        return done(false);
    if (m_controlMode == cmCOM)
        t->setTarget(m_comPort, 0);
    else
        t->setTarget(m_deviceIP, m_tcpPort);
    m_connecting = true;
    m_connectContext = context;
    m_connectDone = std::move(done);
    t->startOpen(m_timing.connectTimeoutMs);
}

void TKVCOMControl::endConnect(bool opened, const QString &error)
{
    m_connecting = false;
    const QPointer<QObject> context = std::exchange(m_connectContext, nullptr);
    const ConnectDone done = std::exchange(m_connectDone, nullptr);
    Transport *t = current();
    if (!opened) {
        t->close();
        qCDebug(lcLink) << "open failed:" << error;
        // A stop ends the connect quietly, as it ends a transaction: the program is closing.
        if (!m_stop.requested())
            notify(LinkMessage::OpenCloseFailed, Connected() ? 1 : 0, 0, error);
    } else {
        t->discardPending();
        m_transportFailed = false;
        Q_EMIT connectedChanged(true);
    }
    wakeWaits();
    if (context && done)
        done(opened);
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
    if (tracing())
        traceLine(TracePacket(label, packet, number));
}

void TKVCOMControl::traceSent(int attempt, QLatin1String what, const CommandPacket &packet)
{
    if (tracing())
        traceLine(TracePacket(
            QLatin1Char('[') + QString::number(attempt) + QLatin1String("] ") + what, packet, 0));
}

bool TKVCOMControl::diagnosticsWanted() const
{
    return m_diagnosticsWanted
        && isSignalConnected(QMetaMethod::fromSignal(&TKVCOMControl::notification));
}

bool TKVCOMControl::tracing() const
{
    return lcLink().isDebugEnabled() || diagnosticsWanted();
}

void TKVCOMControl::traceLine(const QString &line)
{
    qCDebug(lcLink).noquote() << line;
    if (diagnosticsWanted())
        notify(LinkMessage::Trace, 0, 0, line);
}

void TKVCOMControl::ExecuteCommand(const CommandPacket &request, CommandResult &result)
{
    if (m_stop.requested())
        return;
    bool finished = false;
    startCommand(request, result, this, [&](const CommandResult &end) {
        result = end;
        finished = true;
    });
    await([&finished] { return finished; });
}

ExchangeStep::End TKVCOMControl::exchange(const ExchangeStep &step)
{
    std::optional<ExchangeStep::End> end;
    startExchange(step, this, [&end](ExchangeStep::End e) { end = e; });
    await([&end] { return end.has_value(); });
    return end.value_or(ExchangeStep::End::Stopped);
}

void TKVCOMControl::await(const std::function<bool()> &finished)
{
    EventWait wait(&m_stop);
    wait.wakeOn(this, &TKVCOMControl::waitConditionChanged);
    ++m_waiting;
    wait.until(finished, -1);
    --m_waiting;
    // Only a stop ends the wait early, and the stop has ended what ran, unless it was set
    // before: then it ends here.
    if (!finished())
        onStop();
}

void TKVCOMControl::startCommand(const CommandPacket &request, QObject *context, CommandDone done)
{
    startCommand(request, CommandResult(), context, std::move(done));
}

void TKVCOMControl::startCommand(
    const CommandPacket &request, const CommandResult &start, QObject *context, CommandDone done)
{
    // A stop before the start leaves the result as it was.
    if (m_stop.requested())
        return done(start);

    struct Command
    {
        CommandPacket packet;
        QByteArray wire;
        CommandResult result;
    };
    const auto command = std::make_shared<Command>();
    InitPacket(command->packet);
    std::copy(
        request.bytes.begin() + 2, request.bytes.begin() + 12, command->packet.bytes.begin() + 2);
    command->packet.bytes[12] = PacketChecksum(command->packet);
    command->wire = command->packet.toByteArray();
    command->result = start;

    const QPointer<QObject> asker(context);
    catchUp(
        ReplyOrder::kindOf(command->packet), context, [this, command, asker, done](bool inStep) {
            if (!inStep) {
                // Whatever came meanwhile answered something else: there is no reply to show.
                command->result = CommandResult();
                return done(command->result);
            }
            ExchangeStep step;
            step.frame = [command] { return command->wire; };
            step.answer = FrameKind::Reply;
            step.lateFrames = ExchangeStep::LateFrames::DropAwaited;
            step.attempts = m_timing.commandAttempts;
            step.retryPauseMs = m_timing.retryPauseMs;
            step.sent = [this, command](int attempt) {
                traceSent(attempt, QLatin1String("snd cmd PPP:   "), command->packet);
            };
            step.judge = [this, command](const QByteArray &answer) {
                const CommandPacket reply = CommandPacket::fromBytes(answer);
                trace(QStringLiteral("rcv cmd PPP:   "), reply, 0);
                CommandResult &result = command->result;
                result.reply = reply;
                // A status of 0xFF is a refusal even when the packet itself is sound.
                result.Success = reply.status() != DeviceProtocol::Status::Failed
                    && IsSoundReply(reply, command->packet);
                return result.Success ? ExchangeStep::Verdict::Accept
                                      : ExchangeStep::Verdict::Refuse;
            };
            startExchange(step, asker, [command, done](ExchangeStep::End end) {
                command->result.Success = end == ExchangeStep::End::Accepted;
                done(command->result);
            });
        });
}

void TKVCOMControl::catchUp(ReplyOrder::Kind next, QObject *context, std::function<void(bool)> done)
{
    if (m_order.inStep() || m_barrierHolds > 0)
        return done(true);
    const CommandPacket query = m_order.barrier(next);
    ExchangeStep step;
    step.frame = [wire = query.toByteArray()] { return wire; };
    step.answer = FrameKind::Reply;
    step.lateFrames = ExchangeStep::LateFrames::DropOthers;
    step.attempts = m_timing.commandAttempts;
    step.sent = [this, query](
                    int attempt) { traceSent(attempt, QLatin1String("snd sync PPP:   "), query); };
    // Only a sound reply of the query's kind gets here; a refusal counts as well, since it is
    // the order of the replies that matters, not what they say.
    step.judge = [this](const QByteArray &answer) {
        trace(QStringLiteral("rcv sync PPP:   "), CommandPacket::fromBytes(answer), 0);
        return ExchangeStep::Verdict::Accept;
    };
    startExchange(
        step, context, [done](ExchangeStep::End end) { done(end == ExchangeStep::End::Accepted); });
}

void TKVCOMControl::startExchange(const ExchangeStep &step, QObject *context, ExchangeDone done)
{
    if (m_run) {
        qCWarning(lcLink) << "a request while another runs is not sent";
        return done(ExchangeStep::End::Stopped);
    }
    m_run = std::make_unique<Run>();
    m_run->step = step;
    m_run->context = context;
    m_run->done = std::move(done);
    m_run->id = ++m_runs;
    m_run->attempts = std::max(1, step.attempts);
    m_run->timeOutAttempt = step.timeOutAttempt > 0 ? step.timeOutAttempt : m_run->attempts;
    nextAttempt();
}

bool TKVCOMControl::running(quint64 id) const
{
    return m_run && m_run->id == id;
}

void TKVCOMControl::nextAttempt()
{
    Run &run = *m_run;
    run.phase = Phase::Busy;
    if (run.attempt >= run.attempts)
        return finishRun(ExchangeStep::End::Refused);
    ++run.attempt;
    run.frame = run.step.frame();
    if (run.attempt == 1 && run.step.answer != FrameKind::ModuleFrame
        && run.frame.startsWith(FrameReceiver::frameLead(FrameKind::Reply))
        && run.frame.size() >= CommandPacket::Size) {
        run.kind = ReplyOrder::kindOf(CommandPacket::fromBytes(run.frame));
        run.kindWasAwaited = m_order.awaits(*run.kind);
    }
    if (draining())
        return enterPhase(Phase::Drain, static_cast<int>(m_drainUntil.remainingTime()));
    send();
}

void TKVCOMControl::send()
{
    Run &run = *m_run;
    run.phase = Phase::Busy;
    m_receiver.reset(run.step.answer, run.step.lead);
    m_answerKind = run.kind;
    m_lateFrames = run.kind ? run.step.lateFrames : ExchangeStep::LateFrames::Judge;
    m_surplus.clear();
    m_transportFailed = false;
    Transport *t = current();
    if (!t || !t->isOpen())
        return sendFailed();
    t->discardPending();
    // The far end may act inside the write (an in-process one answers, breaks or stops there).
    const quint64 id = run.id;
    const QByteArray frame = run.frame;
    const qint64 accepted = t->write(frame);
    if (!running(id))
        return;
    run.accepted = accepted;
    if (run.accepted < 0)
        return sendFailed();
    if (t->bytesToWrite() == 0)
        return run.accepted == run.frame.size() ? sent() : sendFailed();
    // A line that has not taken the bytes within the write time-out is stuck: the write fails
    // (and the transaction reports a transport error) instead of waiting for a reply that
    // cannot come. The port stays open for when the line moves again.
    enterPhase(Phase::Write, m_timing.writeTimeout(run.frame.size()));
}

void TKVCOMControl::sendFailed()
{
    if (m_stop.requested())
        return finishRun(ExchangeStep::End::Stopped);
    const quint64 id = m_run->id;
    notify(LinkMessage::TransportError);
    if (running(id))
        finishRun(ExchangeStep::End::Failed);
}

void TKVCOMControl::sent()
{
    Run &run = *m_run;
    const quint64 id = run.id;
    if (run.step.sent)
        run.step.sent(run.attempt);
    if (!running(id))
        return;
    run.waited = 0;
    enterPhase(
        Phase::Reply, run.step.waitStepMs > 0 ? run.step.waitStepMs : m_timing.replyTimeoutMs());
}

void TKVCOMControl::enterPhase(Phase phase, int ms)
{
    m_run->phase = phase;
    if (ms > 0)
        m_phaseTimer.start(ms);
    // The conditions are looked at first, so that what holds already ends the phase at once.
    checkPhase(ms > 0 ? Check::Entry : Check::EntryTimeUp);
}

void TKVCOMControl::wakeRun()
{
    if (m_run)
        checkPhase(Check::Wake);
}

void TKVCOMControl::checkPhase(Check check)
{
    Run &run = *m_run;
    const Phase phase = run.phase;
    if (phase == Phase::Busy)
        return;
    const bool timeUp = check == Check::TimeUp || check == Check::EntryTimeUp;
    // A stop wins over all.
    if (m_stop.requested())
        return finishRun(ExchangeStep::End::Stopped);
    const auto leave = [&] {
        m_phaseTimer.stop();
        run.phase = Phase::Busy;
    };
    switch (phase) {
    case Phase::Busy:
        return;
    case Phase::Drain:
        if (!timeUp)
            return;
        leave();
        m_drainUntil = QDeadlineTimer();
        return send();
    case Phase::RetryPause: {
        if (!timeUp)
            return;
        leave();
        if (run.attempt == run.attempts && run.verdict == ExchangeStep::Verdict::Refuse) {
            const quint64 id = run.id;
            notify(LinkMessage::SendFailed);
            if (!running(id))
                return;
        }
        return nextAttempt();
    }
    case Phase::Write: {
        Transport *t = current();
        if (t && t->bytesToWrite() == 0) {
            leave();
            return run.accepted == run.frame.size() ? sent() : sendFailed();
        }
        if (!m_transportFailed && !timeUp)
            return;
        leave();
        if (t && t->isOpen())
            t->discardPending();
        return sendFailed();
    }
    case Phase::Reply: {
        const int stepMs = run.step.waitStepMs;
        const quint64 id = run.id;
        if (answerReady()) {
            leave();
            // A wait in steps reports the step that the answer ended.
            const bool entry = check == Check::Entry || check == Check::EntryTimeUp;
            if (stepMs > 0 && !entry && run.step.waiting) {
                run.step.waiting();
                if (!running(id))
                    return;
            }
            return replyEnded();
        }
        if (m_transportFailed) {
            leave();
            return replyEnded();
        }
        if (!timeUp)
            return;
        if (stepMs <= 0) {
            leave();
            return replyEnded();
        }
        run.phase = Phase::Busy;
        if (run.step.waiting) {
            run.step.waiting();
            if (!running(id))
                return;
        }
        run.waited += stepMs;
        if (run.waited < m_timing.replyTimeoutMs() && !answerReady())
            return enterPhase(Phase::Reply, stepMs);
        return replyEnded();
    }
    }
}

void TKVCOMControl::replyEnded()
{
    Run &run = *m_run;
    const quint64 id = run.id;
    if (m_transportFailed) {
        notify(LinkMessage::TransportError);
        if (running(id))
            finishRun(ExchangeStep::End::Failed);
        return;
    }
    if (m_receiver.complete())
        return answered();
    startDrain();
    run.timedOut = true;
    if (run.kind)
        m_order.unanswered(*run.kind);
    if (run.attempt == run.timeOutAttempt) {
        notify(LinkMessage::TimeOut);
        if (running(id))
            finishRun(ExchangeStep::End::TimedOut);
        return;
    }
    nextAttempt();
}

void TKVCOMControl::answered()
{
    Run &run = *m_run;
    const quint64 id = run.id;
    const QByteArray answer = m_receiver.frame();
    if (run.kind && ReplyOrder::isReplyOf(answer, *run.kind))
        m_order.answered(*run.kind, run.kindWasAwaited, run.timedOut);
    run.verdict = run.step.judge(answer);
    if (!running(id))
        return;
    if (run.verdict == ExchangeStep::Verdict::Accept)
        return finishRun(ExchangeStep::End::Accepted);
    enterPhase(Phase::RetryPause, run.step.retryPauseMs);
}

void TKVCOMControl::finishRun(ExchangeStep::End end)
{
    m_phaseTimer.stop();
    const std::unique_ptr<Run> run = std::move(m_run);
    wakeWaits();
    if (run->context && run->done)
        run->done(end);
}

void TKVCOMControl::onStop()
{
    if (m_run)
        finishRun(ExchangeStep::End::Stopped);
    if (m_connecting) {
        current()->abortOpen();
        endConnect(false, QStringLiteral("Connection stopped"));
    }
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

void TKVCOMControl::startDrain()
{
    m_drainUntil = QDeadlineTimer(std::max(0, m_timing.drainGraceMs), Qt::PreciseTimer);
}

bool TKVCOMControl::pause(int ms)
{
    // A plain delay: only a stop ends it early, whatever happens to the transport meanwhile.
    EventWait wait(&m_stop);
    ++m_waiting;
    const EventWait::End end = wait.sleep(ms);
    --m_waiting;
    return end != EventWait::End::Stopped;
}

void TKVCOMControl::wakeWaits()
{
    Q_EMIT waitConditionChanged(QPrivateSignal());
}

void TKVCOMControl::onReceived(const QByteArray &bytes)
{
    if (m_stop.requested())
        return;
    if (diagnosticsWanted())
        notify(LinkMessage::DataReceived, static_cast<quint32>(bytes.size()));
    if (draining()) {
        traceBytes(QStringLiteral("late reply drained:   "), bytes);
        return;
    }
    store(bytes);
    wakeRun();
}

void TKVCOMControl::store(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    const bool wanted = diagnosticsWanted();
    const int position = m_receiver.position();
    const bool wasComplete = m_receiver.complete();
    QByteArray skipped;
    QByteArray stored;
    QByteArray rest;
    const bool keepRest = m_lateFrames != ExchangeStep::LateFrames::Judge;
    m_receiver.store(bytes, tracing() ? &skipped : nullptr, wanted ? &stored : nullptr,
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
    if (tracing())
        traceLine(label + QString::fromLatin1(bytes.toHex(' ').toUpper()));
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
    const bool waiting = m_waiting > 0 || m_run;
    m_transportFailed = true;
    wakeWaits();
    Q_EMIT connectedChanged(false);
    Q_EMIT connectionLost();
    // During a transaction the transaction reports the failure; otherwise report it here.
    if (!waiting)
        notify(LinkMessage::TransportError);
    wakeRun();
}
