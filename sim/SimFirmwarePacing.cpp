#include "SimFirmwarePacing.h"

#include <algorithm>

namespace {
constexpr qint64 BitsPerByte = 10; // start bit, 8 data bits, stop bit
constexpr qint64 NsPerSecond = 1'000'000'000;
constexpr qint64 NsPerMs = 1'000'000;
} // namespace

SimLinePacer::SimLinePacer(int baud, QObject *parent) : QObject(parent), m_baud(std::max(0, baud))
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SimLinePacer::sendDue);
}

qint64 SimLinePacer::wireNs(qsizetype n) const
{
    return m_baud > 0 ? n * BitsPerByte * NsPerSecond / m_baud : 0;
}

void SimLinePacer::receive(const QByteArray &bytes)
{
    if (m_baud > 0) {
        // Bytes that arrive while earlier ones are still "on the line" queue up behind them.
        m_inFreeNs = std::max(m_clock.nsecsElapsed(), m_inFreeNs) + wireNs(bytes.size());
    }
    Q_EMIT received(bytes);
}

void SimLinePacer::transmit(const QByteArray &bytes)
{
    if (m_baud == 0 && m_queue.empty()) {
        Q_EMIT send(bytes);
        return;
    }
    // The device answers once the request is in; the answer follows anything still going out.
    const qint64 start = std::max({m_clock.nsecsElapsed(), m_inFreeNs, m_outFreeNs});
    m_outFreeNs = start + wireNs(bytes.size());
    queue({m_outFreeNs, bytes, false});
}

void SimLinePacer::transmitHangUp()
{
    if (m_baud == 0 && m_queue.empty()) {
        Q_EMIT hangUp();
        return;
    }
    queue({std::max(m_clock.nsecsElapsed(), m_outFreeNs), {}, true});
}

void SimLinePacer::queue(Out out)
{
    m_queue.push_back(std::move(out));
    if (!m_timer.isActive())
        sendDue();
}

void SimLinePacer::sendDue()
{
    while (!m_queue.empty()) {
        const qint64 left = m_queue.front().dueNs - m_clock.nsecsElapsed();
        if (left > 0) {
            // Whole milliseconds by the timer; the last fraction by looking again as soon as
            // the event loop is free, so that a reply is late by microseconds, not by up to a
            // millisecond at every block.
            m_timer.start(static_cast<int>(left / NsPerMs));
            return;
        }
        const Out out = std::move(m_queue.front());
        m_queue.pop_front();
        if (out.hangUp) {
            m_queue.clear();
            Q_EMIT hangUp();
            return;
        }
        Q_EMIT send(out.bytes);
    }
}
