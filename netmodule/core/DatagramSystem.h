#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QUdpSocket;

// The system calls under the real datagram socket, one file per platform: where the system's
// own calls are at hand they keep its exact reasons ("Network is unreachable"); elsewhere
// QUdpSocket does the work with its own texts.
namespace DatagramSystem {

// Grants or withdraws the bound socket's permission to send broadcasts.
void setBroadcastAllowed(QUdpSocket &socket, bool allowed);

// Sends to an IPv4 address (host order): the byte count, or -1 with *error set.
qint64 sendIPv4(
    QUdpSocket &socket, const QByteArray &datagram, quint32 address, quint16 port, QString *error);

} // namespace DatagramSystem
