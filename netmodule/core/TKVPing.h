#pragma once

#include <QString>

class StopRequest;

// The reachability check of the search dialog: one ICMP echo with a short time-out. It uses
// an unprivileged ICMP datagram socket where the system allows one, else the system's ping
// program, and answers false when neither is possible. Only dotted IPv4 addresses are
// pinged; there is no name lookup. The wait runs a local event loop.
class TKVPing final
{
public:
    enum class Method { None, IcmpSocket, PingProgram };

    explicit TKVPing(int timeoutMs = 1000) : m_timeoutMs(timeoutMs) { }

    bool PingHost(const QString &address);

    // How the last PingHost went about it (None: neither way was possible).
    Method lastMethod() const { return m_lastMethod; }
    int timeout() const { return m_timeoutMs; }
    void setTimeout(int ms) { m_timeoutMs = ms; }
    // The program used when no ICMP datagram socket can be had; "ping" by default.
    void setPingProgram(const QString &program) { m_program = program; }
    // A stop request ends a pending check at once (it then answers false).
    void setStopRequest(const StopRequest *stop) { m_stop = stop; }

private:
    bool pingByProgram(const QString &address);

    int m_timeoutMs;
    QString m_program = QStringLiteral("ping");
    Method m_lastMethod = Method::None;
    const StopRequest *m_stop = nullptr;
};
