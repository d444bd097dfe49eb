#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

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

// The real socket.
class UdpDatagramSocket final : public DatagramSocket
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UdpDatagramSocket)
public:
    explicit UdpDatagramSocket(QObject *parent = nullptr);
    ~UdpDatagramSocket() override;

    bool bindLocalPort(quint16 port) override;
    void release() override { dropSocket(); }
    bool addressInUse() const override { return m_addressInUse; }
    quint16 localPort() const override;
    void setBroadcastAllowed(bool allowed) override;
    // Sent with the system's own call, so that a failure keeps its reason ("Network is
    // unreachable") rather than a generic one.
    qint64 send(const QByteArray &datagram, const QHostAddress &host, quint16 port) override;
    QString errorString() const override;

private:
    void readPending();
    void dropSocket();

    QUdpSocket *m_socket = nullptr; // a child; replaced by each bind

    QString m_error;
    bool m_addressInUse = false;
};
