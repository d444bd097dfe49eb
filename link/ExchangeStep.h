#pragma once

#include "FrameReceiver.h"

#include <QByteArray>

#include <functional>

// One retrying exchange of the link, as its caller describes it: a frame out, an answer of a
// kind in, judged by the caller's rule, and tried again after the caller's pause up to the
// caller's count. The link reports what goes wrong through its notifications: a transport
// error (2031) when the frame cannot go out or the stream breaks, a time-out (2026) when the
// last attempt stays unanswered, and "send data failed" (2037) when the last answer is
// refused as bad.
struct ExchangeStep
{
    enum class Verdict {
        Accept,
        Refuse, // a bad answer: "send data failed" after the last attempt
        RefuseQuietly, // tried again, but no failure to report after the last attempt
    };
    // What a complete frame that cannot answer this request is. A late answer to an earlier
    // request is traced and dropped, and the wait for this request's answer goes on.
    enum class LateFrames {
        Judge, // every complete frame is judged
        DropAwaited, // a sound frame of another kind that the link still awaits is late
        DropOthers, // every frame but a sound one of this request's kind is late
    };
    enum class End {
        Accepted,
        Refused, // every attempt used, none accepted
        TimedOut, // reported
        Stopped, // a stop was requested
        Failed, // the transport failed; reported
    };

    // The frame of each attempt; called before every attempt, so that a refusal may change it.
    std::function<QByteArray()> frame;
    FrameKind answer = FrameKind::Reply;
    QByteArray lead; // the answer's lead; empty: the kind's own
    LateFrames lateFrames = LateFrames::Judge;
    // Called with the complete answer; may keep what it needs from it.
    std::function<Verdict(const QByteArray &answer)> judge;
    // Called once the frame of an attempt (counted from 1) has gone out: traces and dumps.
    std::function<void(int attempt)> sent;
    int attempts = 5;
    // The attempt whose silence ends the exchange as TimedOut; 0: the last. Silent attempts
    // before it are tried again at once, those after it too, without a report at the end.
    int timeOutAttempt = 0;
    int retryPauseMs = 0; // after a refused answer
    // Above 0: the answer wait runs in steps of this length, with `waiting` called after each.
    int waitStepMs = 0;
    std::function<void()> waiting;
};
