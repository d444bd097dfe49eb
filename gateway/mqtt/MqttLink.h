#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <thread>

// Where the link goes and who it is.
struct MqttLinkConfig
{
    QString host;
    quint16 port = 1883;
    bool tls = false; // mqtts: the broker's certificate is checked, host name included
    QString caFile; // PEM certificates to check it with; empty: the system's
    QString user; // empty: no login
    QByteArray password;
    QString clientId;
    // Published by the broker, retained, when the link ends without a clean stop.
    QByteArray willTopic;
    QByteArray willPayload;
    int keepAliveSeconds = 30;
    // After a failed or lost connection the link tries again, first after reconnectMinMs, each
    // failure doubling the wait up to reconnectMaxMs.
    int reconnectMinMs = 500;
    int reconnectMaxMs = 5000;
};

// One MQTT 3.1.1 connection over libmosquitto, kept up until stopped.
//
// The library runs on a thread of this link's own, never on the Qt thread. The broker's name
// has to be given to the library as it stands: with mqtts the certificate's host name is
// checked against the host passed to mosquitto_connect, so a name resolved beforehand (by
// QHostInfo, to drive the socket from the Qt loop) would check the certificate against an
// address and fail. The library resolves the name itself, and that look-up, the TCP connect and
// the TLS handshake block, so they happen on the link's thread. That thread is ours rather than
// the library's (mosquitto_loop_start): its reconnect loop gives up for good on some faults
// (a failed look-up, a TLS error), where a gateway must keep trying with its capped back-off
// and say why each attempt failed.
//
// Everything the thread learns reaches the Qt thread as a queued call: statusChanged and
// messageReceived are always emitted on the thread that owns this object. publish() and
// subscribe() may be called from there at any time: they queue the request and wake the link's
// thread, which alone calls the library, so its packets never interleave on the socket. While
// the link is down they do nothing and say so.
class MqttLink final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MqttLink)
public:
    enum class Status { Off, Connecting, Connected, Refused, Disconnected };

    explicit MqttLink(const MqttLinkConfig &config, QObject *parent = nullptr);
    // Stops without a last message (the broker then publishes the will).
    ~MqttLink() override;

    // Starts the link's thread. False with *error set when the library does not take the
    // configuration (a CA file it cannot use, an id it refuses).
    bool start(QString *error);
    // Publishes the last message (retained), disconnects cleanly and ends the thread, waiting
    // for it at most timeoutMs. A clean disconnect keeps the broker from publishing the will.
    void stop(
        const QByteArray &lastTopic = {}, const QByteArray &lastPayload = {}, int timeoutMs = 3000);

    // False when the link is not connected (the message is dropped) or the library refuses it.
    bool publish(const QByteArray &topic, const QByteArray &payload, bool retain, int qos = 0);
    bool subscribe(const QByteArray &pattern, int qos = 0);

    Status status() const { return m_status; }
    // Why the link is not connected; empty while it is.
    QString reason() const { return m_reason; }
    static QString statusName(Status status);

Q_SIGNALS:
    void statusChanged(MqttLink::Status status, const QString &reason);
    void messageReceived(const QByteArray &topic, const QByteArray &payload);

private:
    struct Shared;
    static void run(std::shared_ptr<Shared> shared);
    void setStatus(Status status, const QString &reason);

    MqttLinkConfig m_config;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    Status m_status = Status::Off;
    QString m_reason;
};
