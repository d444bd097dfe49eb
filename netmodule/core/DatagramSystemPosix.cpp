#include "DatagramSystem.h"

#include <QUdpSocket>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace DatagramSystem {

void setBroadcastAllowed(QUdpSocket &socket, bool allowed)
{
    const int on = allowed ? 1 : 0;
    ::setsockopt(
        static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
}

qint64 sendIPv4(
    QUdpSocket &socket, const QByteArray &datagram, quint32 address, quint16 port, QString *error)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    const auto fd = static_cast<int>(socket.socketDescriptor());
    ssize_t sent = -1;
    do {
        sent = ::sendto(fd, datagram.constData(), static_cast<size_t>(datagram.size()), 0,
            reinterpret_cast<const sockaddr *>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return sent;
}

} // namespace DatagramSystem
