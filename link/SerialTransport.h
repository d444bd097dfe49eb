#pragma once

#include "Transport.h"

#include <QSerialPort>

// The switcher's RS-232 port: 57600 baud, 8 data bits, no parity, 1 stop bit, no flow control.
class SerialTransport final : public Transport
{
    Q_OBJECT
public:
    explicit SerialTransport(QObject *parent = nullptr);
    ~SerialTransport() override;

    void setTarget(const QString &address, quint16 port) override;
    void startOpen(int timeoutMs) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    qint64 write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override { return m_port.bytesToWrite(); }
    void discardPending() override;

private:
    bool open(QString *error);
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
};
