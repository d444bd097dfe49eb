#pragma once

#include "SimulatorServer.h"

#include <QHostAddress>
#include <QObject>
#include <QThread>

// The simulated switcher on a thread of its own, as a separate device would be, so that its
// work is not counted in the loop being measured. port() is 0 when it could not listen.
class SimulatorThread final
{
public:
    SimulatorThread()
    {
        m_anchor.moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            &m_anchor,
            [this] {
                m_sim = new SimulatorServer;
                m_sim->listenTcp(QHostAddress::LocalHost, 0);
                m_port = m_sim->tcpPort();
            },
            Qt::BlockingQueuedConnection);
    }
    ~SimulatorThread()
    {
        QMetaObject::invokeMethod(
            &m_anchor, [this] { delete m_sim; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    SimulatorThread(const SimulatorThread &) = delete;
    SimulatorThread &operator=(const SimulatorThread &) = delete;

    quint16 port() const { return m_port; }
    // Lives on the simulator's thread: touch it only through invoke().
    SimulatorServer *server() const { return m_sim; }
    template<typename F>
    void invoke(F &&f)
    {
        QMetaObject::invokeMethod(&m_anchor, std::forward<F>(f), Qt::BlockingQueuedConnection);
    }

private:
    QThread m_thread;
    QObject m_anchor;
    SimulatorServer *m_sim = nullptr;
    quint16 m_port = 0;
};
