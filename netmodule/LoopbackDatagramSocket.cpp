#include "LoopbackDatagramSocket.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

LoopbackDatagramSocket::LoopbackDatagramSocket(const QHostAddress &target, QObject *parent)
    : DatagramSocket(parent), m_target(target)
{ }

LoopbackDatagramSocket::~LoopbackDatagramSocket() = default;

void LoopbackDatagramSocket::dropSocket()
{
    if (!m_socket)
        return;
    // This may run in the socket's own readyRead handler: the object goes later.
    m_socket->disconnect(this);
    m_socket->close();
    m_socket->deleteLater();
    m_socket = nullptr;
}

bool LoopbackDatagramSocket::bindLocalPort(quint16 port)
{
    dropSocket();
    m_error.clear();
    auto *socket = new QUdpSocket(this);
    if (!socket->bind(QHostAddress(QHostAddress::LocalHost), port)) {
        m_error = socket->errorString();
        delete socket;
        return false;
    }
    connect(socket, &QUdpSocket::readyRead, this, &LoopbackDatagramSocket::readPending);
    m_socket = socket;
    return true;
}

quint16 LoopbackDatagramSocket::localPort() const
{
    return m_socket ? m_socket->localPort() : 0;
}

void LoopbackDatagramSocket::setBroadcastAllowed(bool)
{
    // Nothing is ever broadcast.
}

qint64 LoopbackDatagramSocket::send(const QByteArray &datagram, const QHostAddress &, quint16 port)
{
    if (!m_target.isLoopback() || m_target.protocol() != QAbstractSocket::IPv4Protocol) {
        m_error = QStringLiteral("not a loopback address: ") + m_target.toString();
        return -1;
    }
    if (!m_socket) {
        m_error = QStringLiteral("socket not bound");
        return -1;
    }
    const qint64 sent = m_socket->writeDatagram(datagram, m_target, port);
    if (sent < 0)
        m_error = m_socket->errorString();
    return sent;
}

QString LoopbackDatagramSocket::errorString() const
{
    return m_error;
}

void LoopbackDatagramSocket::readPending()
{
    QUdpSocket *const socket = m_socket;
    while (socket && socket == m_socket && socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram(MaxDatagram);
        if (!datagram.isValid())
            break;
        Q_EMIT datagramReceived(datagram.data(),
            QHostAddress(datagram.senderAddress().toIPv4Address()),
            static_cast<quint16>(datagram.senderPort()));
    }
}
