#include "TKVPing.h"

#include "IcmpEcho.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QTimer>

#include <algorithm>

bool TKVPing::PingHost(const QString &address)
{
    m_lastMethod = Method::None;
    QHostAddress host;
    if (!host.setAddress(address) || host.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    const IcmpEcho::Result bySocket = IcmpEcho::ping(host.toIPv4Address(), m_timeoutMs);
    if (bySocket != IcmpEcho::Result::NoSocket) {
        m_lastMethod = Method::IcmpSocket;
        return bySocket == IcmpEcho::Result::Answered;
    }
    return pingByProgram(host.toString());
}

bool TKVPing::pingByProgram(const QString &address)
{
    QProcess ping;
    const int seconds = std::max(1, (m_timeoutMs + 999) / 1000);
    QEventLoop loop;
    QObject::connect(&ping, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&ping, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    ping.start(m_program, IcmpEcho::programArguments(address, m_timeoutMs));
    if (!ping.waitForStarted(m_timeoutMs + 1000))
        return false;
    m_lastMethod = Method::PingProgram;
    // The program has its own time-out; this one only guards against a hung program.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(seconds * 1000 + 2000);
    if (ping.state() != QProcess::NotRunning)
        loop.exec();
    if (ping.state() != QProcess::NotRunning) {
        ping.kill();
        ping.waitForFinished(1000);
        return false;
    }
    return ping.exitStatus() == QProcess::NormalExit && ping.exitCode() == 0;
}
