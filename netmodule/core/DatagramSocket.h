#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <optional>

class QUdpSocket;

// What the network module engine needs of a datagram socket. Received datagrams are delivered
// through datagramReceived the moment the event loop sees them.
class DatagramSocket : public QObject
{
    Q_OBJECT
public:
    // Longer datagrams are cut to this size.
    static constexpr int MaxDatagram = 2048;

    using QObject::QObject;

    // Closes the socket and binds a new IPv4 one to any local address at the port. False (and
    // the reason in errorString) when the port cannot be had.
    virtual bool bindLocalPort(quint16 port) = 0;
    // Closes the socket, so that other programs can have the port.
    virtual void release() { }
    // The last bind failed because another socket holds the port.
    virtual bool addressInUse() const { return false; }
    virtual quint16 localPort() const = 0;
    // Broadcast permission, needed before sending to 255.255.255.255.
    virtual void setBroadcastAllowed(bool allowed) = 0;
    // The byte count sent, or -1 (reason in errorString).
    virtual qint64 send(const QByteArray &datagram, const QHostAddress &host, quint16 port) = 0;
    virtual QString errorString() const = 0;

Q_SIGNALS:
    void datagramReceived(const QByteArray &datagram, const QHostAddress &sender, quint16 port);
};

// Where a simulated network module in the same program listens: its loopback address and the
// ports it serves for the well-known search and configuration ports.
struct LoopbackModule
{
    QHostAddress address;
    quint16 searchPort = 0;
    quint16 configPort = 0;
};

// The system's UDP socket, in one of two configurations.
//
// On the network (the default) it binds any local IPv4 address and sends anywhere.
//
// Confined to loopback, it never leaves this host: the network it shows holds one simulated
// module and nothing else. A broadcast, or a datagram to the module's own address, reaches the
// module; a datagram to any other address is dropped, as on a network where nobody has that
// address, and nothing is sent. The module may serve other ports than the well-known ones, so
// that it holds none of them and other programs can search while it runs: datagrams for the
// search and configuration ports go to its ports, and its answers arrive as if from the
// well-known ones. The socket then binds a free loopback port, whatever port it is asked for.
class UdpDatagramSocket final : public DatagramSocket
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UdpDatagramSocket)
public:
    explicit UdpDatagramSocket(QObject *parent = nullptr);
    explicit UdpDatagramSocket(const LoopbackModule &module, QObject *parent = nullptr);
    ~UdpDatagramSocket() override;

    bool bindLocalPort(quint16 port) override;
    void release() override { dropSocket(); }
    bool addressInUse() const override { return m_addressInUse; }
    quint16 localPort() const override;
    void setBroadcastAllowed(bool allowed) override;
    // On the network, sent with the system's own call, so that a failure keeps its reason
    // ("Network is unreachable") rather than a generic one.
    qint64 send(const QByteArray &datagram, const QHostAddress &host, quint16 port) override;
    QString errorString() const override;

private:
    void readPending();
    void dropSocket();
    qint64 sendOnLoopback(const QByteArray &datagram, const QHostAddress &host, quint16 port);

    std::optional<LoopbackModule> m_loopback; // set when confined to loopback
    QUdpSocket *m_socket = nullptr; // a child; replaced by each bind

    QString m_error;
    bool m_addressInUse = false;
};
