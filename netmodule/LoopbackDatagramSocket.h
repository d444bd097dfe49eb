#pragma once

#include "DatagramSocket.h"

#include <QHostAddress>

class QUdpSocket;

// A datagram socket that never leaves loopback, for a simulated network module in the same
// program: it binds 127.0.0.1 and sends every datagram, broadcast or unicast, to one
// loopback address instead of where it was addressed. A target that is not a loopback
// address sends nothing.
class LoopbackDatagramSocket final : public DatagramSocket
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoopbackDatagramSocket)
public:
    explicit LoopbackDatagramSocket(const QHostAddress &target, QObject *parent = nullptr);
    ~LoopbackDatagramSocket() override;

    QHostAddress target() const { return m_target; }

    bool bindLocalPort(quint16 port) override;
    quint16 localPort() const override;
    void setBroadcastAllowed(bool allowed) override;
    qint64 send(const QByteArray &datagram, const QHostAddress &host, quint16 port) override;
    QString errorString() const override;

private:
    void readPending();
    void dropSocket();

    QHostAddress m_target;
    QUdpSocket *m_socket = nullptr; // a child; replaced by each bind
    QString m_error;
};
