#include "VideohubServer.h"

#include "Gateway.h"

#include <QLoggingCategory>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

Q_LOGGING_CATEGORY(lcVideohub, "matrix.gateway.videohub", QtInfoMsg)

struct VideohubServer::Client
{
    QTcpSocket *socket = nullptr;
    // Locks belong to this address, not to the connection.
    QHostAddress address;
    quint64 id = 0; // for the log
    VideohubParser parser;
    QTimer idle;
    QTimer block;
    // The status dump has gone out whole: from then on the client may only listen, for good.
    bool dumped = false;
    // END PRELUDE has been sent: a client that came while the device was not present gets it
    // once the device is.
    bool prelude = false;
    // While a label block is taken, what the change tells everyone waits for the block's ACK.
    bool holding = false;
    QByteArray held;
};

VideohubServer::VideohubServer(Gateway &gateway, const ClientPolicy &clients,
    const QString &uniqueId, const Limits &limits, QObject *parent)
    : QObject(parent), m_gateway(gateway), m_policy(clients), m_uniqueId(uniqueId), m_limits(limits)
{
    // Connections past the bound are taken and closed at once rather than left in the
    // listen queue, where a panel would wait without being told.
    m_server.setMaxPendingConnections(m_limits.maxClients + 1);
    connect(&m_server, &QTcpServer::newConnection, this, &VideohubServer::accept);

    const GatewayState &state = m_gateway.state();
    connect(&m_gateway, &Gateway::routeChanged, this, [this, &state](int output, int) {
        told(RouteTold, output);
        // Routes read while the switcher is being found go out with its other blocks.
        if (m_present)
            broadcast(Videohub::routingBlock(state, {output}));
    });
    // While the device is not present, panels hear nothing but that; they get every block when
    // it is back.
    connect(&m_gateway, &Gateway::labelChanged, this,
        [this, &state](GatewaySide side, int port, const QString &) {
            told(side == GatewaySide::Input ? InputLabelTold : OutputLabelTold, port);
            if (m_present)
                broadcast(Videohub::labelsBlock(side, state, {port}));
        });
    connect(&m_gateway, &Gateway::lockChanged, this, [this, &state](int output, bool) {
        told(LockTold, output);
        if (!m_present)
            return;
        // Each client sees the lock in its own letter.
        for (const auto &[socket, client] : m_clients)
            send(client, Videohub::locksBlock(state, client->address, {output}));
    });
    // "Device present" is the switcher reachable, on, and its routes read since it was found
    // or switched on (GatewayState::devicePresent); each of these facts may change it.
    m_present = state.devicePresent();
    connect(&m_gateway, &Gateway::presentChanged, this, &VideohubServer::devicePresenceChanged);
    connect(&m_gateway, &Gateway::powerChanged, this, &VideohubServer::devicePresenceChanged);
    connect(&m_gateway, &Gateway::routesKnownChanged, this, &VideohubServer::devicePresenceChanged);
    // While the switcher is away its facts are not on this wire; when it comes back they go
    // out with the other blocks.
    connect(&m_gateway, &Gateway::deviceChanged, this, [this, &state] {
        m_deviceTold = true;
        if (m_present)
            broadcast(Videohub::deviceBlock(state, m_uniqueId));
    });
}

void VideohubServer::devicePresenceChanged()
{
    const GatewayState &state = m_gateway.state();
    // Only a change of presence is news on this wire; a new reason while the device stays
    // away is not.
    const bool present = state.devicePresent();
    if (present == m_present)
        return;
    m_present = present;
    if (!present) {
        broadcast(Videohub::deviceBlock(state, m_uniqueId));
        return;
    }
    // Back (or first found): every block again but the preamble, so that panels refresh what
    // they hold, and the end of the dump for those that came while it was away.
    for (const auto &[socket, client] : m_clients) {
        send(client,
            Videohub::deviceBlock(state, m_uniqueId)
                + Videohub::labelsBlock(GatewaySide::Input, state)
                + Videohub::labelsBlock(GatewaySide::Output, state)
                + Videohub::locksBlock(state, client->address) + Videohub::routingBlock(state)
                + Videohub::configurationBlock()
                + (client->prelude ? QByteArray() : Videohub::endPrelude()));
        client->prelude = true;
    }
}

VideohubServer::~VideohubServer()
{
    m_server.close();
    while (!m_clients.empty())
        drop(m_clients.begin()->second);
    qDeleteAll(m_dropped);
}

bool VideohubServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

void VideohubServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QHostAddress peer = socket->peerAddress();
        QString why;
        if (!m_policy.allowed(peer))
            why = QStringLiteral("address not allowed");
        else if (clientCount() >= m_limits.maxClients)
            why = QStringLiteral("too many clients");
        else if (!m_perAddress.add(peer, m_policy))
            why = QStringLiteral("too many clients from this address");
        if (!why.isEmpty()) {
            qCInfo(lcVideohub).noquote() << "Refused" << peer.toString() << why;
            socket->abort();
            socket->deleteLater();
            Q_EMIT refused(peer, why);
            continue;
        }
        auto *client = new Client;
        client->socket = socket;
        client->address = peer;
        client->id = m_nextClient++;
        client->parser = VideohubParser(m_limits.parser);
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_clients.emplace(socket, client);

        client->idle.setSingleShot(true);
        client->idle.setInterval(m_limits.idleMs);
        connect(&client->idle, &QTimer::timeout, this, [this, client] {
            qCInfo(lcVideohub) << "Closed idle client" << client->id;
            drop(client);
        });
        client->block.setSingleShot(true);
        client->block.setInterval(m_limits.blockMs);
        connect(&client->block, &QTimer::timeout, this, [this, client] {
            client->parser.reset();
            send(client, Videohub::nak());
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, client] { onReadyRead(client); });
        connect(socket, &QTcpSocket::disconnected, this, [this, client] { drop(client); });
        client->idle.start();
        // Panels that only listen are kept, as real servers keep them: once the dump is out, the
        // idle limit no longer applies. The bounds on lines, blocks and unread output stay.
        const auto dumpSent = [client] {
            if (!client->dumped && client->socket->bytesToWrite() == 0) {
                client->dumped = true;
                client->idle.stop();
            }
        };
        connect(socket, &QTcpSocket::bytesWritten, this, dumpSent);
        send(client, Videohub::statusDump(m_gateway.state(), client->address, m_uniqueId));
        client->prelude = m_present;
        dumpSent();
        Q_EMIT clientCountChanged(clientCount());
    }
}

void VideohubServer::onReadyRead(Client *client)
{
    QList<VideohubParser::Block> blocks;
    client->parser.feed(client->socket->readAll(), &blocks);
    if (!client->dumped)
        client->idle.start();
    if (client->parser.midBlock()) {
        if (!client->block.isActive())
            client->block.start();
    } else {
        client->block.stop();
    }
    QTcpSocket *socket = client->socket;
    for (const VideohubParser::Block &block : std::as_const(blocks)) {
        if (m_clients.find(socket) == m_clients.end())
            return;
        handle(client, block);
    }
}

void VideohubServer::handle(Client *client, const VideohubParser::Block &block)
{
    const VideohubRequest request = decodeVideohubRequest(block);
    if (request.kind == VideohubRequest::Nak) {
        qCDebug(lcVideohub).noquote() << "NAK to client" << client->id << request.reason;
        send(client, Videohub::nak());
        return;
    }
    const GatewayState &state = m_gateway.state();
    const ToldCounts before = m_told;
    if (request.kind == VideohubRequest::FriendlyName) {
        // Saved first, as labels are: ACK once gateway.ini keeps the name, else NAK.
        m_deviceTold = false;
        if (!savedFirst(client, [&] { return m_gateway.setFriendlyName(request.friendlyName); }))
            return;
        // The name it has already: the requester is shown the device as it stands.
        if (!m_deviceTold && m_present)
            send(client, Videohub::deviceBlock(state, m_uniqueId));
        return;
    }
    if (request.kind == VideohubRequest::Labels) {
        // Saved first: a block gets ACK only once gateway.ini keeps it, else NAK and nothing
        // changes.
        const GatewaySide side = request.block == VideohubBlockKind::InputLabels
            ? GatewaySide::Input
            : GatewaySide::Output;
        if (!savedFirst(client, [&] { return m_gateway.setLabels(side, request.labels); }))
            return;
        QList<int> ports;
        for (const auto &[port, text] : request.labels)
            ports.append(port);
        const QList<int> unchanged
            = untold(side == GatewaySide::Input ? InputLabelTold : OutputLabelTold, ports, before);
        if (!unchanged.isEmpty())
            send(client, Videohub::labelsBlock(side, state, unchanged));
        return;
    }
    send(client, Videohub::ack());
    const QPointer<QTcpSocket> alive(client->socket);

    switch (request.kind) {
    case VideohubRequest::Nak:
    case VideohubRequest::Ping:
        return;
    case VideohubRequest::Query:
        // Without the device, its block answers for all the others.
        send(client,
            m_present || request.block == VideohubBlockKind::Preamble
                ? Videohub::block(request.block, state, client->address, m_uniqueId)
                : Videohub::deviceBlock(state, m_uniqueId));
        return;
    case VideohubRequest::Configuration:
        // Nothing changes; the requester sees the settings as they stand.
        send(client, Videohub::configurationBlock());
        return;
    case VideohubRequest::FriendlyName:
        return; // taken above
    case VideohubRequest::Routes: {
        QList<int> outputs;
        for (const GatewayRoute &r : request.routes)
            outputs.append(r.output);
        // Routes that changed reach everyone; the requester also sees those that did not
        // (refused, locked by another address, already so, not carried out), as they stand, or
        // the device block when the device is not present. The lines another address holds are
        // left out and the others made: the block was taken, so it has ACK.
        // The requester is looked up again when the answer comes: it may have gone meanwhile.
        m_gateway.setRoutes(
            request.routes, client->address, [this, alive, outputs, before](const GatewayResult &) {
                const auto it = alive ? m_clients.find(alive.data()) : m_clients.end();
                if (it == m_clients.end())
                    return;
                const QList<int> unchanged = untold(RouteTold, outputs, before);
                if (unchanged.isEmpty())
                    return;
                send(it->second,
                    m_present ? Videohub::routingBlock(m_gateway.state(), unchanged)
                              : Videohub::deviceBlock(m_gateway.state(), m_uniqueId));
            });
        return;
    }
    case VideohubRequest::Labels:
        return; // taken above
    case VideohubRequest::Locks: {
        QList<int> outputs;
        for (const auto &[output, letter] : request.locks) {
            outputs.append(output);
            if (letter == 'O')
                m_gateway.lock(output, client->address);
            else if (letter == 'U')
                m_gateway.unlock(output, client->address);
            else
                m_gateway.forceUnlock(output);
        }
        const QList<int> unchanged = untold(LockTold, outputs, before);
        if (alive && !unchanged.isEmpty())
            send(client, Videohub::locksBlock(state, client->address, unchanged));
        return;
    }
    }
}

bool VideohubServer::savedFirst(Client *client, const std::function<GatewayResult()> &change)
{
    // What the change tells everyone reaches the requester after its ACK, not before.
    client->holding = true;
    const GatewayResult result = change();
    client->holding = false;
    const QByteArray told = std::exchange(client->held, {});
    if (!result.ok()) {
        qCInfo(lcVideohub).noquote() << "NAK to client" << client->id << result.message;
        send(client, Videohub::nak());
        return false;
    }
    send(client, Videohub::ack() + told);
    return true;
}

QList<int> VideohubServer::untold(
    Told kind, const QList<int> &ports, const ToldCounts &before) const
{
    QList<int> out;
    for (int port : ports) {
        const std::size_t i = GatewayState::index(port);
        if (m_told[kind][i] == before[kind][i] && !out.contains(port))
            out.append(port);
    }
    return out;
}

void VideohubServer::send(Client *client, const QByteArray &bytes)
{
    if (client->holding) {
        client->held += bytes;
        return;
    }
    QTcpSocket *socket = client->socket;
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    // A client that reads nothing would hold an ever larger backlog; it is let go instead.
    if (socket->bytesToWrite() + bytes.size() > m_limits.maxPendingBytes) {
        qCInfo(lcVideohub) << "Closed client" << client->id << "that does not read";
        QTimer::singleShot(0, this, [this, alive = QPointer<QTcpSocket>(socket)] {
            if (alive) {
                const auto it = m_clients.find(alive.data());
                if (it != m_clients.end())
                    drop(it->second);
            }
        });
        return;
    }
    socket->write(bytes);
    // Straight to the system: waiting for the socket's write notifier would cost one more
    // pass of the event loop per client before a panel sees a change.
    socket->flush();
}

void VideohubServer::broadcast(const QByteArray &bytes)
{
    for (const auto &[socket, client] : m_clients)
        send(client, bytes);
}

void VideohubServer::drop(Client *client)
{
    const auto it = m_clients.find(client->socket);
    if (it == m_clients.end())
        return;
    m_clients.erase(it);
    m_perAddress.remove(client->address);
    QTcpSocket *socket = client->socket;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    client->idle.stop();
    client->block.stop();
    // Its address keeps its locks.
    if (m_dropped.isEmpty())
        QTimer::singleShot(0, this, [this] { qDeleteAll(std::exchange(m_dropped, {})); });
    m_dropped.append(client);
    Q_EMIT clientCountChanged(clientCount());
}
