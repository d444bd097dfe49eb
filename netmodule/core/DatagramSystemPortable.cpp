#include "DatagramSystem.h"

#include <QHostAddress>
#include <QUdpSocket>

namespace DatagramSystem {

void setBroadcastAllowed(QUdpSocket &, bool)
{
    // QUdpSocket allows broadcasts on every socket it makes, and has no call to withdraw it.
}

qint64 sendIPv4(
    QUdpSocket &socket, const QByteArray &datagram, quint32 address, quint16 port, QString *error)
{
    const qint64 sent = socket.writeDatagram(datagram, QHostAddress(address), port);
    if (sent < 0)
        *error = socket.errorString();
    return sent;
}

} // namespace DatagramSystem
