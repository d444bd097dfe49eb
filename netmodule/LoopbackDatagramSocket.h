#pragma once

#include "DatagramSocket.h"

#include <QHostAddress>

class QUdpSocket;

// A datagram socket that never leaves loopback, for a simulated network module in the same
// program. The network it shows holds that one module and nothing else: a broadcast, or a
// datagram to the module's own address, reaches the module; a datagram to any other address
// is dropped, as on a network where nobody has that address, and nothing is sent.
//
// The module may serve other ports than the well-known ones, so that it holds none of them and
// other programs can search while it runs: datagrams for 30600 and 30601 go to its ports, and
// its answers arrive as if from 30600 and 30601. This socket binds a free loopback port.
class LoopbackDatagramSocket final : public DatagramSocket
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoopbackDatagramSocket)
public:
    LoopbackDatagramSocket(const QHostAddress &module, quint16 moduleSearchPort,
        quint16 moduleConfigPort, QObject *parent = nullptr);
    ~LoopbackDatagramSocket() override;

    QHostAddress module() const { return m_module; }

    bool bindLocalPort(quint16 port) override;
    void release() override { dropSocket(); }
    quint16 localPort() const override;
    void setBroadcastAllowed(bool allowed) override;
    qint64 send(const QByteArray &datagram, const QHostAddress &host, quint16 port) override;
    QString errorString() const override;

private:
    void readPending();
    void dropSocket();

    QHostAddress m_module;
    quint16 m_searchPort;
    quint16 m_configPort;
    QUdpSocket *m_socket = nullptr; // a child; replaced by each bind
    QString m_error;
};
