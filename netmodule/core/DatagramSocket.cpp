#include "DatagramSocket.h"

#include "DatagramSystem.h"
#include "NetDatagrams.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

UdpDatagramSocket::UdpDatagramSocket(QObject *parent) : DatagramSocket(parent) { }

UdpDatagramSocket::UdpDatagramSocket(const LoopbackModule &module, QObject *parent)
    : DatagramSocket(parent), m_loopback(module)
{ }

UdpDatagramSocket::~UdpDatagramSocket() = default;

void UdpDatagramSocket::dropSocket()
{
    if (!m_socket)
        return;
    // The port is free at once; the object goes later, since this may run in its own
    // readyRead handler.
    m_socket->disconnect(this);
    m_socket->close();
    m_socket->deleteLater();
    m_socket = nullptr;
}

bool UdpDatagramSocket::bindLocalPort(quint16 port)
{
    dropSocket();
    m_error.clear();
    m_addressInUse = false;
    auto *socket = new QUdpSocket(this);
    // On loopback any free port: the module answers whichever port asked.
    const bool bound = m_loopback ? socket->bind(QHostAddress(QHostAddress::LocalHost), 0)
                                  : socket->bind(QHostAddress::AnyIPv4, port);
    if (!bound) {
        m_error = socket->errorString();
        m_addressInUse = socket->error() == QAbstractSocket::AddressInUseError;
        delete socket;
        return false;
    }
    connect(socket, &QUdpSocket::readyRead, this, &UdpDatagramSocket::readPending);
    m_socket = socket;
    return true;
}

quint16 UdpDatagramSocket::localPort() const
{
    return m_socket ? m_socket->localPort() : 0;
}

void UdpDatagramSocket::setBroadcastAllowed(bool allowed)
{
    // On loopback nothing is ever broadcast.
    if (m_socket && !m_loopback)
        DatagramSystem::setBroadcastAllowed(*m_socket, allowed);
}

qint64 UdpDatagramSocket::send(const QByteArray &datagram, const QHostAddress &host, quint16 port)
{
    if (m_loopback)
        return sendOnLoopback(datagram, host, port);
    if (!m_socket) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("socket not bound");
        return -1;
    }
    bool v4 = false;
    const quint32 address = host.toIPv4Address(&v4);
    if (!v4) {
        const qint64 sent = m_socket->writeDatagram(datagram, host, port);
        if (sent < 0)
            m_error = m_socket->errorString();
        return sent;
    }
    return DatagramSystem::sendIPv4(*m_socket, datagram, address, port, &m_error);
}

qint64 UdpDatagramSocket::sendOnLoopback(
    const QByteArray &datagram, const QHostAddress &host, quint16 port)
{
    const QHostAddress &module = m_loopback->address;
    if (!module.isLoopback() || module.protocol() != QAbstractSocket::IPv4Protocol) {
        m_error = QStringLiteral("not a loopback address: ") + module.toString();
        return -1;
    }
    if (!m_socket) {
        m_error = QStringLiteral("socket not bound");
        return -1;
    }
    const bool broadcast = host == QHostAddress(QHostAddress::Broadcast);
    if (!broadcast && host != module)
        return datagram.size(); // nobody there
    const quint16 to = port == SearchPort ? m_loopback->searchPort
        : port == ConfigPort              ? m_loopback->configPort
                                          : port;
    const qint64 sent = m_socket->writeDatagram(datagram, module, to);
    if (sent < 0)
        m_error = m_socket->errorString();
    return sent;
}

QString UdpDatagramSocket::errorString() const
{
    return m_error;
}

void UdpDatagramSocket::readPending()
{
    // A receiver may rebind the socket while it handles a datagram; the old one is gone then.
    QUdpSocket *const socket = m_socket;
    while (socket && socket == m_socket && socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram(MaxDatagram);
        if (!datagram.isValid())
            break;
        QHostAddress sender = datagram.senderAddress();
        bool ok = false;
        const quint32 v4 = sender.toIPv4Address(&ok);
        if (ok || m_loopback)
            sender = QHostAddress(v4);
        auto port = static_cast<quint16>(datagram.senderPort());
        // The module's answers come as if from the well-known ports.
        if (m_loopback && sender == m_loopback->address) {
            port = port == m_loopback->searchPort ? SearchPort
                : port == m_loopback->configPort  ? ConfigPort
                                                  : port;
        }
        Q_EMIT datagramReceived(datagram.data(), sender, port);
    }
}
