#pragma once

#include "Transport.h"

#include <QTcpSocket>
#include <QTimer>

// The switcher's network module: a TCP client connection, port 8000 unless told otherwise.
class TcpTransport final : public Transport
{
    Q_OBJECT
public:
    explicit TcpTransport(QObject *parent = nullptr);
    ~TcpTransport() override;

    void setTarget(const QString &address, quint16 port) override;
    void startOpen(int timeoutMs) override;
    void abortOpen() override;
    void close() override;
    bool isOpen() const override;
    qint64 write(const QByteArray &bytes) override;
    void discardPending() override;

private:
    void onStateChanged(QAbstractSocket::SocketState state);
    void endOpen(bool opened, const QString &error);
    void onLost();

    QTcpSocket m_socket;
    QTimer m_openDeadline;
    QString m_host;
    quint16 m_port = 8000;
    bool m_opening = false;
    bool m_open = false;
};
