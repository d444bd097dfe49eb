#include "SimulatorServer.h"

#include "InProcessTransport.h"
#include "SimFirmwarePacing.h"
#include "SimPty.h"
#include "SimSession.h"

#include <QTcpSocket>

SimulatorServer::SimulatorServer(QObject *parent) : QObject(parent)
{
    // First: a rebooting switcher answers nothing, whichever part a request is for.
    m_simulator.addFrameHandler(&m_firmware);
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
        if (m_received.size() >= RequestHistory)
            m_received.removeFirst();
        // A copy of its own: the request may share the whole read buffer it arrived in.
        m_received.append(QByteArray(request.constData(), request.size()));
        Q_EMIT requestHandled(request);
    });
    return session;
}

SimLinePacer *SimulatorServer::newLine(QObject *owner)
{
    SimSession *session = newSession(owner);
    auto *line = new SimLinePacer(m_baud, session);
    // Module frames are the network module's; every other byte is the switcher's.
    auto *modules = new SimModuleStream(
        [this](const QByteArray &frame) { return m_network.answerModuleFrame(frame); }, session);
    connect(line, &SimLinePacer::received, modules, &SimModuleStream::receive);
    connect(modules, &SimModuleStream::passOn, session, &SimSession::receive);
    connect(modules, &SimModuleStream::send, line, &SimLinePacer::transmit);
    connect(session, &SimSession::hangUp, modules, &SimModuleStream::reset);
    connect(session, &SimSession::send, line, &SimLinePacer::transmit);
    connect(session, &SimSession::hangUp, line, &SimLinePacer::transmitHangUp);
    return line;
}

void SimulatorServer::serve(QTcpSocket *socket)
{
    // Replies are small and split replies must leave as separate segments.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    SimLinePacer *line = newLine(socket);
    connect(
        socket, &QTcpSocket::readyRead, line, [socket, line] { line->receive(socket->readAll()); });
    connect(line, &SimLinePacer::send, socket, [socket](const QByteArray &bytes) {
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->write(bytes);
    });
    connect(line, &SimLinePacer::hangUp, socket, &QTcpSocket::disconnectFromHost);
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
    SimLinePacer *line = newLine(pty);
    connect(pty, &SimPty::received, line, &SimLinePacer::receive);
    connect(line, &SimLinePacer::send, pty, &SimPty::write);
    return pty->slavePath();
}

void SimulatorServer::attach(InProcessTransport *transport)
{
    SimLinePacer *line = newLine(this);
    connect(transport, &InProcessTransport::written, line, &SimLinePacer::receive);
    connect(
        line, &SimLinePacer::send, transport, &InProcessTransport::deliver, Qt::QueuedConnection);
    connect(
        line, &SimLinePacer::hangUp, transport, [transport] { transport->breakStream(); },
        Qt::QueuedConnection);
    connect(transport, &QObject::destroyed, line->parent(), &QObject::deleteLater);
}
