#pragma once

#include "ClientAddresses.h"
#include "GatewayState.h"
#include "VideohubProtocol.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTcpServer>

#include <array>
#include <functional>
#include <map>

class Gateway;
class QTcpSocket;
class QTimer;

// The Videohub Ethernet Protocol server: router panels and control surfaces drive the gateway
// over TCP (port 9990 by default). A client is known to the gateway by its address: a lock it
// takes belongs to that address, so every connection from there sees it as its own ("O") and it
// stays when they close. Every change of the gateway's state goes to every connection as the
// protocol's unsolicited blocks, in the order the changes happened.
class VideohubServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(VideohubServer)
public:
    struct Limits
    {
        int maxClients = 100;
        VideohubParser::Limits parser;
        // A connection that sends nothing this long before its status dump is out is closed;
        // so is one that reads nothing while more than maxPendingBytes wait to be sent to it.
        int idleMs = 10 * 60 * 1000;
        // A block begun and not ended within this time is dropped with a NAK.
        int blockMs = 30 * 1000;
        qint64 maxPendingBytes = 1024 * 1024;
    };

    // clients: the addresses that may connect and how many connections each may hold;
    // uniqueId: the device's id on this wire.
    VideohubServer(Gateway &gateway, const ClientPolicy &clients, const QString &uniqueId,
        const Limits &limits, QObject *parent = nullptr);
    VideohubServer(Gateway &gateway, const ClientPolicy &clients, const QString &uniqueId,
        QObject *parent = nullptr)
        : VideohubServer(gateway, clients, uniqueId, Limits{}, parent)
    { }
    ~VideohubServer() override;

    bool listen(const QHostAddress &address, quint16 port);
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }
    int clientCount() const { return int(m_clients.size()); }

Q_SIGNALS:
    void clientCountChanged(int count);
    // A connection was turned away: its address is not allowed, holds its share of places
    // already, or the server is full.
    void refused(const QHostAddress &address, const QString &why);

private:
    struct Client;
    // What was told to every client, per kind and port, so that a request whose change told
    // nothing (refused, locked, already so) can show its requester the state as it is.
    enum Told { RouteTold, InputLabelTold, OutputLabelTold, LockTold, ToldKinds };
    using ToldCounts = std::array<std::array<quint64, GatewayPorts>, ToldKinds>;

    void devicePresenceChanged();
    void accept();
    void onReadyRead(Client *client);
    void handle(Client *client, const VideohubParser::Block &block);
    void send(Client *client, const QByteArray &bytes);
    // A change saved to gateway.ini before it is answered: ACK, then what it told, when it was
    // made; NAK and nothing told when not. True when it was made.
    bool savedFirst(Client *client, const std::function<GatewayResult()> &change);
    void broadcast(const QByteArray &bytes);
    void drop(Client *client);
    void told(Told kind, int port) { ++m_told[kind][GatewayState::index(port)]; }
    // The ports among `ports` whose kind has not been told since `before`.
    QList<int> untold(Told kind, const QList<int> &ports, const ToldCounts &before) const;

    Gateway &m_gateway;
    ClientPolicy m_policy;
    ClientCounts m_perAddress;
    QString m_uniqueId;
    Limits m_limits;
    QTcpServer m_server;
    std::map<QTcpSocket *, Client *> m_clients;
    ToldCounts m_told{};
    bool m_present = false; // "Device present", as last told to the clients
    bool m_deviceTold = false; // the device changed since a request was taken
    quint64 m_nextClient = 1;
    // Clients dropped in this pass of the event loop, deleted in the next: a write that finds
    // the peer gone drops its client in the middle of handling that client's request.
    QList<Client *> m_dropped;
};
