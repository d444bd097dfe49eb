#include "TKVCOMControl.h"

#include "DeviceProtocol.h"
#include "SerialTransport.h"
#include "TcpTransport.h"

#include <QElapsedTimer>
#include <QMetaMethod>

#include <algorithm>

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
    if (!logged && !isSignalConnected(QMetaMethod::fromSignal(&TKVCOMControl::notification)))
        return;
    const QString line = TracePacket(label, packet, number);
    if (logged)
        qCDebug(lcLink).noquote() << line;
    notify(LinkMessage::Trace, 0, 0, line);
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

    int attempt = 1;
    for (; attempt <= Attempts; ++attempt) {
        const Exchange exchange = SendAndWait(wire, FrameKind::Reply, [&] {
            trace(QLatin1Char('[') + QString::number(attempt) + QLatin1String("] snd cmd PPP:   "),
                packet, 0);
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
        const CommandPacket reply = CommandPacket::fromBytes(
            reinterpret_cast<const char *>(m_receiveBuffer.data()), CommandPacket::Size);
        trace(QStringLiteral("rcv cmd PPP:   "), reply, 0);
        result.reply = reply;
        // A status of 0xFF is a refusal even when the packet itself is sound.
        result.Success = reply.status() != DeviceProtocol::Status::Failed
            && PacketChecksum(reply) == reply.checksum() && IsMatchingReply(reply, packet);
        if (result.Success)
            break;
        if (!Pause(m_timing.retryPauseMs))
            return;
    }
    if (attempt >= Attempts && !result.Success)
        notify(LinkMessage::SendFailed);
}

TKVCOMControl::Exchange TKVCOMControl::SendAndWait(const QByteArray &frame, FrameKind answer,
    const std::function<void()> &sent, const QByteArray &lead)
{
    if (!DrainLateReplies())
        return Exchange::Stopped;
    ResetReceiveState(answer, lead);
    if (SendBuffer(frame) != frame.size()) {
        if (m_stop.requested())
            return Exchange::Stopped;
        notify(LinkMessage::TransportError);
        return Exchange::Failed;
    }
    if (sent)
        sent();
    if (!WaitReply())
        return Exchange::Stopped;
    if (m_transportFailed) {
        notify(LinkMessage::TransportError);
        return Exchange::Failed;
    }
    if (TimedOut()) {
        startDrain();
        return Exchange::TimedOut;
    }
    return Exchange::Answered;
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

bool TKVCOMControl::WaitReply()
{
    QElapsedTimer clock;
    clock.start();
    const WaitEnd end = waitUntil([this] { return m_frameComplete; }, m_timing.replyTimeoutMs());
    m_tickCount = end == WaitEnd::Deadline
        ? m_timing.replyTicks
        : static_cast<int>(clock.elapsed() / std::max(1, m_timing.tickMs));
    if (end == WaitEnd::Done)
        m_tickCount = std::min(m_tickCount, m_timing.replyTicks - 1);
    return end != WaitEnd::Stopped;
}

bool TKVCOMControl::DrainLateReplies()
{
    if (m_drainUntil.hasExpired())
        return true;
    if (!Pause(static_cast<int>(m_drainUntil.remainingTime())))
        return false;
    m_drainUntil = QDeadlineTimer();
    return true;
}

void TKVCOMControl::startDrain()
{
    m_drainUntil = QDeadlineTimer(std::max(0, m_timing.drainGraceMs), Qt::PreciseTimer);
}

bool TKVCOMControl::WaitTicks(int n)
{
    return Pause(n * m_timing.tickMs);
}

bool TKVCOMControl::Pause(int ms)
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

int TKVCOMControl::FrameLength(FrameKind kind)
{
    switch (kind) {
    case FrameKind::EdidBlock:
        return ReceiveBufferSize;
    case FrameKind::ModuleFrame:
        return 32;
    default:
        return CommandPacket::Size;
    }
}

QByteArray TKVCOMControl::FrameLead(FrameKind kind)
{
    if (kind == FrameKind::ModuleFrame)
        return {};
    static const QByteArray lead("\xA5\x5B", 2);
    static_assert(CommandPacket::Lead1 == 0xA5 && CommandPacket::Lead2 == 0x5B);
    return lead;
}

void TKVCOMControl::ResetReceiveState(FrameKind kind, const QByteArray &lead)
{
    m_frameKind = kind;
    m_lead = (lead.isEmpty() ? FrameLead(kind) : lead).left(std::min(FrameLength(kind), MaxLead));
    m_frameComplete = false;
    m_receiveBuffer.fill(0);
    m_receivePosition = 0;
    m_transportFailed = false;
    m_tickCount = 0;
}

void TKVCOMControl::StoreReceived(const QByteArray &bytes)
{
    store(bytes, nullptr, nullptr);
}

void TKVCOMControl::store(const QByteArray &bytes, QByteArray *skipped, QByteArray *stored)
{
    // A completed frame stays as it is until the next request resets the storage, so late
    // or surplus bytes can never overwrite a reply before it is read.
    if (m_frameComplete || bytes.isEmpty())
        return;
    const int length = FrameLength(m_frameKind);
    const auto *in = reinterpret_cast<const quint8 *>(bytes.constData());
    qsizetype at = 0;

    // Looking for the frame start: the tail of an earlier reply or line garbage may come
    // first. Only the lead is searched for; once it is in, every byte belongs to the frame,
    // since block data may hold the lead bytes too.
    const auto *lead = reinterpret_cast<const quint8 *>(m_lead.constData());
    const int leadSize = static_cast<int>(m_lead.size());
    while (m_receivePosition < leadSize && at < bytes.size()) {
        const quint8 byte = in[at++];
        if (byte == lead[m_receivePosition]) {
            m_receiveBuffer[static_cast<std::size_t>(m_receivePosition++)] = byte;
            if (stored)
                stored->append(char(byte));
            continue;
        }
        // The candidate (lead bytes so far, then this byte) is no frame start; keep its longest
        // tail that could still begin one.
        std::array<quint8, MaxLead> candidate{};
        const int size = m_receivePosition + 1;
        std::copy_n(m_receiveBuffer.begin(), m_receivePosition, candidate.begin());
        candidate[static_cast<std::size_t>(m_receivePosition)] = byte;
        int keep = std::min(size - 1, leadSize - 1);
        while (keep > 0
            && !std::equal(candidate.begin() + (size - keep), candidate.begin() + size, lead))
            --keep;
        if (skipped)
            skipped->append(reinterpret_cast<const char *>(candidate.data()), size - keep);
        std::copy_n(candidate.begin() + (size - keep), keep, m_receiveBuffer.begin());
        m_receivePosition = keep;
    }

    const int count
        = static_cast<int>(std::min<qsizetype>(bytes.size() - at, length - m_receivePosition));
    std::copy_n(in + at, count, m_receiveBuffer.begin() + m_receivePosition);
    if (stored)
        stored->append(bytes.constData() + at, count);
    m_receivePosition += count;
    if (m_receivePosition >= length) {
        m_frameComplete = true;
        m_receivePosition = 0;
    }
}

QByteArray TKVCOMControl::ReceivedFrame() const
{
    const int size = m_frameComplete ? FrameLength(m_frameKind) : m_receivePosition;
    return QByteArray(reinterpret_cast<const char *>(m_receiveBuffer.data()), size);
}

void TKVCOMControl::onReceived(const QByteArray &bytes)
{
    if (m_stop.requested())
        return;
    const bool wanted = isSignalConnected(QMetaMethod::fromSignal(&TKVCOMControl::notification));
    const bool logged = lcLink().isDebugEnabled();
    if (wanted)
        notify(LinkMessage::DataReceived, static_cast<quint32>(bytes.size()));
    if (Draining()) {
        traceBytes(QStringLiteral("late reply drained:   "), bytes);
        return;
    }
    const int position = m_receivePosition;
    const bool wasComplete = m_frameComplete;
    QByteArray skipped;
    QByteArray stored;
    store(bytes, wanted || logged ? &skipped : nullptr, wanted ? &stored : nullptr);
    if (!skipped.isEmpty())
        traceBytes(QStringLiteral("skipped before frame start:   "), skipped);
    if (wanted && !wasComplete) {
        QString dump = m_controlMode == cmCOM ? QLatin1String("CopyDataPosition = ")
                + QString::number(position) + QLatin1String("\r\n")
                                              : QStringLiteral("cmLAN:::");
        dump += receiveDump(stored);
        notify(LinkMessage::ReceiveDump, 0, 0, dump);
    }
    if (m_frameComplete)
        wakeWaits();
}

void TKVCOMControl::traceBytes(const QString &label, const QByteArray &bytes)
{
    const bool logged = lcLink().isDebugEnabled();
    if (!logged && !isSignalConnected(QMetaMethod::fromSignal(&TKVCOMControl::notification)))
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
