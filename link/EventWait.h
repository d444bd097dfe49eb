#pragma once

#include <QEventLoop>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <functional>

// The program's "stop now", set when it closes. Every wait bound to it ends the moment it is
// set, whatever else the wait is waiting for.
class StopRequest final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StopRequest)
public:
    using QObject::QObject;

    bool requested() const { return m_requested; }
    void set(bool requested);

Q_SIGNALS:
    void changed(bool requested);

private:
    bool m_requested = false;
};

// One wait of the GUI thread: a local event loop that runs until a condition holds, a
// deadline passes, a failure condition holds or a stop is requested. It sleeps in the loop and
// is woken by the events that can change the condition (wakeOn, wake); nothing polls.
class EventWait final
{
    Q_DISABLE_COPY_MOVE(EventWait)
public:
    enum class End { Done, Deadline, Stopped, Failed };

    // stop: null when nothing but the deadline and the condition end the wait.
    explicit EventWait(const StopRequest *stop = nullptr);

    // The wait also ends, as Failed, once failed() holds.
    void failWhen(std::function<bool()> failed) { m_failed = std::move(failed); }
    // Each emission of the signal wakes the wait to look at its conditions again.
    template<typename Sender, typename Signal>
    void wakeOn(const Sender *sender, Signal signal)
    {
        QObject::connect(sender, signal, &m_loop, [this] { wake(); });
    }
    // Runs until done() holds or ms have passed (ms < 0: no deadline). The conditions are
    // looked at before the loop runs, so a condition that holds already ends the wait without
    // one; a stop wins over all.
    End until(const std::function<bool()> &done, int ms);
    // A plain delay: only a stop ends it early.
    End sleep(int ms) { return until({}, ms); }
    // The condition may have changed.
    void wake() { m_loop.quit(); }

private:
    const StopRequest *m_stop;
    std::function<bool()> m_failed;
    QEventLoop m_loop;
    QTimer m_deadline;
};
