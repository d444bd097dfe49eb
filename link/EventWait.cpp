#include "EventWait.h"

#include <QElapsedTimer>

void StopRequest::set(bool requested)
{
    if (m_requested == requested)
        return;
    m_requested = requested;
    Q_EMIT changed(requested);
}

EventWait::EventWait(const StopRequest *stop) : m_stop(stop)
{
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_deadline, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    if (m_stop)
        wakeOn(m_stop, &StopRequest::changed);
}

EventWait::End EventWait::until(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (m_stop && m_stop->requested())
            return End::Stopped;
        if (done && done())
            return End::Done;
        if (m_failed && m_failed())
            return End::Failed;
        if (ms >= 0) {
            const qint64 left = ms - clock.elapsed();
            if (left <= 0)
                return End::Deadline;
            m_deadline.start(static_cast<int>(left));
        }
        m_loop.exec();
        m_deadline.stop();
    }
}
