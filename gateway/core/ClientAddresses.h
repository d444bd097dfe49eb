#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

using Subnet = QPair<QHostAddress, int>;

// Which client addresses may use the gateway, and how many connections each may hold. The
// same list guards the Videohub server, the HTTP server and its event sockets.
struct ClientPolicy
{
    static constexpr int DefaultMaxPerAddress = 8;

    QList<Subnet> allow = loopback();
    // Connections one address may hold on one server; loopback is never bounded, since the
    // machine's own clients (a local proxy, the operator's browser) all share it. 0: no bound.
    int maxPerAddress = DefaultMaxPerAddress;

    static QList<Subnet> loopback();
    // An IPv4 address mapped into IPv6 as the IPv4 address it is.
    static QHostAddress plain(const QHostAddress &address);
    static QString subnetText(const Subnet &subnet);
    static QString subnetsText(const QList<Subnet> &subnets);

    bool allowed(const QHostAddress &address) const;
    bool bounded(const QHostAddress &address) const
    {
        return maxPerAddress > 0 && !plain(address).isLoopback();
    }
};

// The connections each client address holds on one server.
class ClientCounts final
{
public:
    // Counts one more connection of address, unless it holds its bound already.
    bool add(const QHostAddress &address, const ClientPolicy &policy);
    void remove(const QHostAddress &address);
    int count(const QHostAddress &address) const
    {
        return m_counts.value(ClientPolicy::plain(address));
    }

private:
    QHash<QHostAddress, int> m_counts;
};
