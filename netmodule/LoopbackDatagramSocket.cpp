#include "LoopbackDatagramSocket.h"

#include "NetDatagrams.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

LoopbackDatagramSocket::LoopbackDatagramSocket(
    const QHostAddress &module, quint16 moduleSearchPort, quint16 moduleConfigPort, QObject *parent)
    : DatagramSocket(parent),
      m_module(module),
      m_searchPort(moduleSearchPort),
      m_configPort(moduleConfigPort)
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

bool LoopbackDatagramSocket::bindLocalPort(quint16)
{
    dropSocket();
    m_error.clear();
    auto *socket = new QUdpSocket(this);
    // Any free port: the module answers whichever port asked.
    if (!socket->bind(QHostAddress(QHostAddress::LocalHost), 0)) {
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

qint64 LoopbackDatagramSocket::send(
    const QByteArray &datagram, const QHostAddress &host, quint16 port)
{
    if (!m_module.isLoopback() || m_module.protocol() != QAbstractSocket::IPv4Protocol) {
        m_error = QStringLiteral("not a loopback address: ") + m_module.toString();
        return -1;
    }
    if (!m_socket) {
        m_error = QStringLiteral("socket not bound");
        return -1;
    }
    const bool broadcast = host == QHostAddress(QHostAddress::Broadcast);
    if (!broadcast && host != m_module)
        return datagram.size(); // nobody there
    const quint16 to = port == SearchPort ? m_searchPort : port == ConfigPort ? m_configPort : port;
    const qint64 sent = m_socket->writeDatagram(datagram, m_module, to);
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
        const QHostAddress sender(datagram.senderAddress().toIPv4Address());
        auto port = static_cast<quint16>(datagram.senderPort());
        if (sender == m_module)
            port = port == m_searchPort ? SearchPort : port == m_configPort ? ConfigPort : port;
        Q_EMIT datagramReceived(datagram.data(), sender, port);
    }
}
