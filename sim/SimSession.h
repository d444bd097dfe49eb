#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <deque>

class SwitcherSimulator;
struct SimFaults;

// One connection's byte stream to the simulated switcher. Requests may arrive in any pieces
// and mixed with noise: the session finds each frame by its lead bytes 0xA5 0x5B, hands
// complete requests to the simulator and sends the replies, spoilt as the faults say.
// Delays and split replies are paced by a timer; nothing here blocks.
class SimSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SimSession)
public:
    // Pause between the pieces of a split reply, so that they arrive as separate reads.
    static constexpr int PieceGapMs = 2;
    // Byte appended to replies as line garbage (never a lead byte).
    static constexpr char GarbageByte = '\xEE';

    SimSession(SwitcherSimulator &sim, SimFaults &faults, QObject *parent = nullptr);

    // Bytes received but not yet part of a complete frame.
    qsizetype pendingInput() const { return m_input.size(); }

public Q_SLOTS:
    void receive(const QByteArray &bytes);

Q_SIGNALS:
    void send(const QByteArray &bytes);
    // The device drops the connection; the session starts afresh on further input.
    void hangUp();
    // A well-formed request (lead bytes and checksum right) as it came off the wire.
    void requestHandled(const QByteArray &request13);

private:
    struct Outgoing
    {
        int delayMs = 0;
        QByteArray bytes;
        bool hangUp = false;
    };

    // How long the frame starting with this 13-byte header is: the switcher's parts decide.
    qsizetype frameLength(const QByteArray &header) const;
    void dispatch(const QByteArray &frame);
    void reply(QByteArray bytes);
    void enqueue(Outgoing out);
    void sendDue(bool headWaited);
    void emitOne(const Outgoing &out);

    SwitcherSimulator &m_sim;
    SimFaults &m_faults;
    QByteArray m_input;
    std::deque<Outgoing> m_queue;
    QTimer m_timer;
    bool m_sending = false;
};
