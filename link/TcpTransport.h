#pragma once

#include "Transport.h"

#include <QTcpSocket>

// The switcher's network module: a TCP client connection, port 8000 unless told otherwise.
class TcpTransport final : public Transport
{
    Q_OBJECT
public:
    explicit TcpTransport(QObject *parent = nullptr);
    ~TcpTransport() override;

    void setTarget(const QString &address, quint16 port) override;
    bool open(QString *error, int timeoutMs) override;
    void close() override;
    bool isOpen() const override;
    qint64 write(const QByteArray &bytes) override;
    void discardPending() override;

private:
    void onLost();

    QTcpSocket m_socket;
    QString m_host;
    quint16 m_port = 8000;
    bool m_open = false;
};
