#include "SimSession.h"

#include "CommandPacket.h"
#include "DeviceProtocol.h"
#include "SimFaults.h"
#include "SwitcherSimulator.h"

#include <QLoggingCategory>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcSim, "matrix.sim", QtWarningMsg)

namespace {

const QByteArray &leadBytes()
{
    static const QByteArray lead("\xA5\x5B", 2);
    return lead;
}

} // namespace

SimSession::SimSession(SwitcherSimulator &sim, SimFaults &faults, QObject *parent)
    : QObject(parent), m_sim(sim), m_faults(faults)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { sendDue(true); });
}

void SimSession::receive(const QByteArray &bytes)
{
    m_input += bytes;
    while (!m_input.isEmpty()) {
        const qsizetype lead = m_input.indexOf(leadBytes());
        if (lead < 0) {
            // Keep a trailing 0xA5: its 0x5B may come with the next piece.
            m_input = m_input.endsWith(leadBytes().front()) ? m_input.right(1) : QByteArray();
            return;
        }
        m_input.remove(0, lead);
        if (m_input.size() < CommandPacket::Size)
            return;
        const qsizetype length = frameLength(m_input.left(CommandPacket::Size));
        if (m_input.size() < length)
            return;

        const CommandPacket header = CommandPacket::fromBytes(m_input);
        if (PacketChecksum(header) != header.checksum()) {
            // Not a frame after all (noise that happens to hold the lead bytes, or a damaged
            // request): look for the next lead inside it rather than losing a real request.
            qCDebug(lcSim) << "dropping bad frame" << m_input.left(length).toHex(' ');
            m_input.remove(0, 1);
            continue;
        }
        const QByteArray frame = m_input.left(length);
        m_input.remove(0, length);
        dispatch(frame); // may hang up, which clears m_input
    }
}

qsizetype SimSession::frameLength(const QByteArray &header) const
{
    return std::max<qsizetype>(
        CommandPacket::Size, m_sim.frameLength(CommandPacket::fromBytes(header)));
}

void SimSession::dispatch(const QByteArray &frame)
{
    const CommandPacket request = CommandPacket::fromBytes(frame);
    Q_EMIT requestHandled(frame.left(CommandPacket::Size));
    const QByteArray answer = m_sim.handleFrame(frame);
    qCDebug(lcSim).noquote() << TracePacket(QStringLiteral("request"), request, 0);
    if (answer.isEmpty())
        return;
    qCDebug(lcSim).noquote() << TracePacket(
        QStringLiteral("reply"), CommandPacket::fromBytes(answer), 0);
    reply(answer);
}

void SimSession::reply(QByteArray bytes)
{
    SimFaults &f = m_faults;
    int delay = std::max(0, f.delayMs);
    if (takeFault(f.delayNext))
        delay += std::max(0, f.delayNextMs);

    if (f.dropConnectionAfter > 0 && --f.dropConnectionAfter == 0) {
        f.dropConnectionAfter = -1;
        enqueue({delay, {}, true});
        return;
    }
    if (takeFault(f.dropReplies))
        return;

    // Faults spoil the 13-byte header; a data block after it goes as it is.
    const QByteArray data = bytes.mid(CommandPacket::Size);
    CommandPacket packet = CommandPacket::fromBytes(bytes);
    if (takeFault(f.refuseStatus))
        packet.bytes[4] = DeviceProtocol::Status::Failed;
    if (takeFault(f.refuse44))
        packet.bytes[4] = DeviceProtocol::Status::Declined;
    if (takeFault(f.wrongEcho))
        packet.bytes[3] = static_cast<quint8>(packet.bytes[3] ^ 0x80);
    packet.bytes[12] = PacketChecksum(packet);
    if (takeFault(f.corruptChecksum))
        packet.bytes[12] = static_cast<quint8>(packet.bytes[12] + 1);
    bytes = packet.toByteArray() + data;
    bytes.append(std::max(0, f.extraBytes), GarbageByte);

    const qsizetype pieces = std::clamp<qsizetype>(f.splitInto, 1, bytes.size());
    if (pieces == 1 && delay == 0 && m_queue.empty()) {
        Q_EMIT send(bytes);
        return;
    }
    // Spread the bytes evenly: the first pieces carry the remainder.
    qsizetype at = 0;
    for (qsizetype i = 0; i < pieces; ++i) {
        const qsizetype size = bytes.size() / pieces + (i < bytes.size() % pieces ? 1 : 0);
        enqueue({i == 0 ? delay : PieceGapMs, bytes.mid(at, size), false});
        at += size;
    }
}

void SimSession::enqueue(Outgoing out)
{
    m_queue.push_back(std::move(out));
    // While the queue is being sent (a receiver answered synchronously) the running loop
    // picks the new entry up in order.
    if (!m_timer.isActive() && !m_sending)
        sendDue(false);
}

// Sends the queue's head once its delay has run (headWaited), then what follows without one.
void SimSession::sendDue(bool headWaited)
{
    m_sending = true;
    while (!m_queue.empty()) {
        if (m_queue.front().delayMs > 0 && !headWaited) {
            m_timer.start(m_queue.front().delayMs);
            break;
        }
        headWaited = false;
        const Outgoing out = std::move(m_queue.front());
        m_queue.pop_front();
        emitOne(out);
    }
    m_sending = false;
}

void SimSession::emitOne(const Outgoing &out)
{
    if (!out.hangUp) {
        Q_EMIT send(out.bytes);
        return;
    }
    // Whatever was still to come on this connection is lost with it.
    m_queue.clear();
    m_input.clear();
    m_timer.stop();
    Q_EMIT hangUp();
}
