#include "SimulatorServer.h"

#include "InProcessTransport.h"
#include "SimPty.h"
#include "SimSession.h"

#include <QTcpSocket>

SimulatorServer::SimulatorServer(QObject *parent) : QObject(parent)
{
    m_simulator.addFrameHandler(&m_edid);
    connect(&m_tcp, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_tcp.nextPendingConnection())
            serve(socket);
    });
}

SimulatorServer::~SimulatorServer()
{
    // Connections go before the device they talk to.
    m_tcp.close();
    const QList<QObject *> children = this->children();
    qDeleteAll(children);
}

bool SimulatorServer::listenTcp(const QHostAddress &address, quint16 port)
{
    if (m_tcp.isListening())
        m_tcp.close();
    return m_tcp.listen(address, port);
}

SimSession *SimulatorServer::newSession(QObject *owner)
{
    auto *session = new SimSession(m_simulator, m_faults, owner);
    connect(session, &SimSession::requestHandled, this, [this](const QByteArray &request) {
        m_received.append(request);
        Q_EMIT requestHandled(request);
    });
    return session;
}

void SimulatorServer::serve(QTcpSocket *socket)
{
    // Replies are small and split replies must leave as separate segments.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    SimSession *session = newSession(socket);
    connect(socket, &QTcpSocket::readyRead, session,
        [socket, session] { session->receive(socket->readAll()); });
    connect(session, &SimSession::send, socket, [socket](const QByteArray &bytes) {
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->write(bytes);
    });
    connect(session, &SimSession::hangUp, socket, &QTcpSocket::disconnectFromHost);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

QString SimulatorServer::openPty(const QString &symlinkPath)
{
    auto *pty = new SimPty(this);
    if (!pty->open(symlinkPath, &m_ptyError)) {
        delete pty;
        return {};
    }
    m_ptyError.clear();
    SimSession *session = newSession(pty);
    connect(pty, &SimPty::received, session, &SimSession::receive);
    connect(session, &SimSession::send, pty, &SimPty::write);
    return pty->slavePath();
}

void SimulatorServer::attach(InProcessTransport *transport)
{
    SimSession *session = newSession(this);
    connect(transport, &InProcessTransport::written, session, &SimSession::receive);
    connect(
        session, &SimSession::send, transport, &InProcessTransport::deliver, Qt::QueuedConnection);
    connect(
        session, &SimSession::hangUp, transport, [transport] { transport->breakStream(); },
        Qt::QueuedConnection);
    connect(transport, &QObject::destroyed, session, &QObject::deleteLater);
}
