#include "ReplyOrder.h"

#include "DeviceProtocol.h"

#include <array>

namespace {

using namespace DeviceProtocol;

// Read-only queries the switcher answers whatever its power state, first the power query. The
// panel switch queries follow for a switcher that left the first ones unanswered too.
const std::array<CommandPacket, 8> &barrierQueries()
{
    static const std::array<CommandPacket, 8> queries{
        CommandPacket::make(Command::Power, PowerSub::Query, QueryWord, 0, PowerKey3, PowerKey4),
        CommandPacket::make(Command::Device, DeviceSub::Model, QueryWord),
        CommandPacket::make(Command::Device, DeviceSub::Size, QueryWord),
        CommandPacket::make(Command::Device, DeviceSub::Version, QueryWord),
        CommandPacket::make(Command::Device, DeviceSub::ApmQuery, QueryWord),
        CommandPacket::make(Command::Device, DeviceSub::BeeperQuery, QueryWord),
        CommandPacket::make(Command::Device, DeviceSub::KeysQuery, QueryWord),
        CommandPacket::make(Command::Ir, IrSub::Query, QueryWord),
    };
    return queries;
}

} // namespace

bool ReplyOrder::isReplyOf(const QByteArray &frame, Kind kind)
{
    if (frame.size() < CommandPacket::Size)
        return false;
    const CommandPacket reply = CommandPacket::fromBytes(frame);
    return reply.bytes[0] == CommandPacket::Lead1 && reply.bytes[1] == CommandPacket::Lead2
        && PacketChecksum(reply) == reply.checksum() && kindOf(reply) == kind;
}

void ReplyOrder::unanswered(Kind kind)
{
    if (!m_awaited.contains(kind))
        m_awaited.append(kind);
}

void ReplyOrder::answered(Kind kind, bool kindWasAwaited, bool timedOut)
{
    // Only a reply that cannot be a late one vouches for everything sent before it.
    if (!kindWasAwaited)
        m_awaited.clear();
    if (timedOut)
        unanswered(kind);
}

CommandPacket ReplyOrder::barrier(Kind next) const
{
    for (const CommandPacket &query : barrierQueries()) {
        const Kind kind = kindOf(query);
        if (kind != next && !m_awaited.contains(kind))
            return query;
    }
    // Every query's kind still awaited: a switcher that left over forty requests unanswered in
    // a row. The first one that is not the next request's kind is the best left.
    for (const CommandPacket &query : barrierQueries()) {
        if (kindOf(query) != next)
            return query;
    }
    return barrierQueries().front();
}
