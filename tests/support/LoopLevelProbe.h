#pragma once

#include "Gateway.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <algorithm>

// How deep in nested event loops the gateway's callbacks run. A test waits at a level of its
// own: QTRY_* and qWait at the level of the test function, a test's own QEventLoop one deeper.
// A callback that handles a client request (its answer) or a device outcome (the state changes
// the gateway tells) deeper than that ran inside a wait nested somewhere under the gateway.
class LoopLevelProbe final
{
    Q_DISABLE_COPY_MOVE(LoopLevelProbe)
public:
    // `ownLoops`: the event loops of its own the test waits in, nested (0: QTRY_* only).
    explicit LoopLevelProbe(int ownLoops = 0)
        : m_waitLevel(QThread::currentThread()->loopLevel() + ownLoops)
    { }

    int waitLevel() const { return m_waitLevel; }
    int deepest() const { return m_deepest; }
    // What ran deepest, and how deep, for a failure message.
    QString report() const
    {
        return QStringLiteral("%1 ran at event loop level %2; the test waits at level %3")
            .arg(m_where)
            .arg(m_deepest)
            .arg(m_waitLevel);
    }
    bool nothingNested() const { return m_deepest <= m_waitLevel; }

    void ran(const QString &what)
    {
        const int level = QThread::currentThread()->loopLevel();
        if (level > m_deepest || m_where.isEmpty()) {
            m_deepest = std::max(m_deepest, level);
            m_where = what;
        }
    }

    // A request's answer, caught by the probe before it reaches the test.
    Gateway::Done wrap(const Gateway::Done &done)
    {
        return [this, done](const GatewayResult &result) {
            ran(QStringLiteral("a request's answer"));
            if (done)
                done(result);
        };
    }

    // Every change of the switcher's state comes from a device outcome.
    void watch(Gateway &gateway)
    {
        QObject::connect(&gateway, &Gateway::routeChanged, &m_context,
            [this] { ran(QStringLiteral("routeChanged")); });
        QObject::connect(&gateway, &Gateway::powerChanged, &m_context,
            [this] { ran(QStringLiteral("powerChanged")); });
        QObject::connect(&gateway, &Gateway::presentChanged, &m_context,
            [this] { ran(QStringLiteral("presentChanged")); });
        QObject::connect(&gateway, &Gateway::deviceChanged, &m_context,
            [this] { ran(QStringLiteral("deviceChanged")); });
    }

private:
    QObject m_context;
    int m_waitLevel;
    int m_deepest = 0;
    QString m_where;
};
