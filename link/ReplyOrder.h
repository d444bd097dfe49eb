#pragma once

#include "CommandPacket.h"

#include <QList>
#include <QtGlobal>

// What the link knows of the replies still on their way. The switcher answers strictly in
// order, but a reply names only its command and subcommand: a route reply carries no output
// number, so nothing in it tells the late answer to output 1 from the answer to output 2. Once
// a request goes unanswered within its wait, its reply may still come and be taken for the
// answer to a later request of the same kind: the link is out of step. A reply that can only
// answer a request sent after all the unanswered ones puts it back in step, since everything
// sent before that request has then been answered or never will be.
class ReplyOrder final
{
public:
    // A request's or reply's kind: its command and subcommand.
    using Kind = quint16;
    static Kind kindOf(const CommandPacket &packet)
    {
        return MakeWord(packet.command(), packet.subcommand());
    }
    // A frame of the device protocol with the lead bytes, a right checksum and this kind.
    static bool isReplyOf(const QByteArray &frame, Kind kind);

    bool inStep() const { return m_awaited.isEmpty(); }
    bool awaits(Kind kind) const { return m_awaited.contains(kind); }

    // A request of this kind went unanswered within its wait.
    void unanswered(Kind kind);
    // A reply of the request's kind came. `kindWasAwaited`: the kind was still awaited when
    // the exchange began, so the reply may be a late one. `timedOut`: an attempt of this
    // exchange went unanswered, so one of its own replies may still come.
    void answered(Kind kind, bool kindWasAwaited, bool timedOut);
    // The switcher restarted: nothing sent before can still be answered.
    void restarted() { m_awaited.clear(); }

    // The query sent before a request of kind `next` on a link out of step: a read-only query
    // of a kind that is neither awaited nor `next`, so that its reply can answer nothing sent
    // before it.
    CommandPacket barrier(Kind next) const;

private:
    QList<Kind> m_awaited;
};
