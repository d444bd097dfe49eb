#pragma once

#include <QHostAddress>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A loopback listener that never accepts, with room for one finished handshake: once a first
// client fills it, the system drops further connection requests, and a connect to it waits for
// its time-out.
class StalledListener final
{
    Q_DISABLE_COPY_MOVE(StalledListener)
public:
    StalledListener() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), size) != 0
            || ::listen(m_fd, 0) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_first.connectToHost(QHostAddress::LocalHost, m_port);
        m_ready = m_first.waitForConnected(5000);
    }
    ~StalledListener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // Listening, and the first client fills its room.
    bool ready() const { return m_ready; }
    quint16 port() const { return m_port; }

private:
    int m_fd;
    QTcpSocket m_first;
    quint16 m_port = 0;
    bool m_ready = false;
};
