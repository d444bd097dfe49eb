#include "TKVPing.h"

#include "EventWait.h"
#include "IcmpEcho.h"

#include <QHostAddress>
#include <QProcess>

#include <algorithm>

bool TKVPing::PingHost(const QString &address)
{
    m_lastMethod = Method::None;
    QHostAddress host;
    if (!host.setAddress(address) || host.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    const IcmpEcho::Result bySocket = IcmpEcho::ping(host.toIPv4Address(), m_timeoutMs, m_stop);
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
    EventWait wait(m_stop);
    wait.wakeOn(&ping, &QProcess::finished);
    wait.wakeOn(&ping, &QProcess::errorOccurred);
    ping.start(m_program, IcmpEcho::programArguments(address, m_timeoutMs));
    if (!ping.waitForStarted(m_timeoutMs + 1000))
        return false;
    m_lastMethod = Method::PingProgram;
    // The program has its own time-out; this one only guards against a hung program.
    wait.until([&ping] { return ping.state() == QProcess::NotRunning; }, seconds * 1000 + 2000);
    if (ping.state() != QProcess::NotRunning) {
        ping.kill();
        ping.waitForFinished(1000);
        return false;
    }
    return ping.exitStatus() == QProcess::NormalExit && ping.exitCode() == 0;
}
