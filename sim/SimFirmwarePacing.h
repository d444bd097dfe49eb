#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>

// The switcher's serial line speed, for links that have none of their own (a pty, TCP): bytes
// take their wire time at the given baud rate, 10 bits a byte, in each direction. A reply
// starts once the request's last byte is in and the line out is free, and is handed on when
// its own last byte would have arrived. A firmware upload's duration depends on it.
//
// Sits between a transport and a session: receive() is what came off the wire (passed on at
// once as received()), transmit() what the device answers (passed on as send() when due).
// Baud 0 passes everything straight through.
class SimLinePacer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SimLinePacer)
public:
    explicit SimLinePacer(int baud, QObject *parent = nullptr);

    int baud() const { return m_baud; }
    // Wire time of n bytes, in nanoseconds.
    qint64 wireNs(qsizetype n) const;

public Q_SLOTS:
    void receive(const QByteArray &bytes);
    void transmit(const QByteArray &bytes);
    // Hangs up once what is queued before it has gone out.
    void transmitHangUp();

Q_SIGNALS:
    void received(const QByteArray &bytes);
    void send(const QByteArray &bytes);
    void hangUp();

private:
    struct Out
    {
        qint64 dueNs = 0;
        QByteArray bytes;
        bool hangUp = false;
    };
    void queue(Out out);
    void sendDue();

    int m_baud;
    QElapsedTimer m_clock;
    qint64 m_inFreeNs = 0; // when the last byte received so far finished on the line
    qint64 m_outFreeNs = 0; // when the last byte queued for sending finishes
    std::deque<Out> m_queue;
    QTimer m_timer;
};
