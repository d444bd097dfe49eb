#include "ClientAddresses.h"

#include <QStringList>

QList<Subnet> ClientPolicy::loopback()
{
    return {QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8")),
        QHostAddress::parseSubnet(QStringLiteral("::1/128"))};
}

QHostAddress ClientPolicy::plain(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4)
                                                                         : address;
}

QString ClientPolicy::subnetText(const Subnet &subnet)
{
    return subnet.first.toString() + QLatin1Char('/') + QString::number(subnet.second);
}

QString ClientPolicy::subnetsText(const QList<Subnet> &subnets)
{
    QStringList texts;
    for (const Subnet &subnet : subnets)
        texts.append(subnetText(subnet));
    return texts.join(QStringLiteral(", "));
}

bool ClientPolicy::allowed(const QHostAddress &address) const
{
    const QHostAddress client = plain(address);
    for (const Subnet &subnet : allow) {
        if (client.isInSubnet(subnet))
            return true;
    }
    return false;
}

bool ClientCounts::add(const QHostAddress &address, const ClientPolicy &policy)
{
    const QHostAddress client = ClientPolicy::plain(address);
    int &count = m_counts[client];
    if (policy.bounded(client) && count >= policy.maxPerAddress) {
        if (count == 0)
            m_counts.remove(client);
        return false;
    }
    ++count;
    return true;
}

void ClientCounts::remove(const QHostAddress &address)
{
    const auto it = m_counts.find(ClientPolicy::plain(address));
    if (it == m_counts.end())
        return;
    if (--it.value() <= 0)
        m_counts.erase(it);
}
