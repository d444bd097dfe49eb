#pragma once

#include "MqttDiscovery.h"
#include "MqttLink.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QTimer>

#include <array>

class Gateway;

// What the bridge publishes and where.
struct MqttBridgeConfig
{
    MqttLinkConfig link;
    QString prefix = QStringLiteral("matrix");
    QString id; // the gateway's MQTT id: topics, client id, device identifier
    bool discovery = true;
    QString discoveryPrefix = QStringLiteral("homeassistant");
    QString configurationUrl; // the web page, for the device in Home Assistant
};

// The gateway on a broker. Under "<prefix>/<id>/" it publishes, retained, status (online, or
// offline as the will and at a clean stop), state (the API's state JSON), output/<n> (the
// option text of the input routed there), power (ON/OFF) and present (true/false), and takes
// the commands of MqttCommand, made through the gateway's requests as client 0: MQTT holds no
// locks, so an output a panel has locked refuses them. A command refused or failed, or one
// that cannot be read, publishes a non-retained "error" message in the API's error vocabulary.
//
// The latest payload of every retained topic is kept here, so that while the broker is away
// only the newest state waits (one message per topic), and on every connection it is all
// published again after the subscriptions are made. The state JSON is the one large message:
// it follows a change within StateIntervalMs, so that changes close together (a poll that
// finds several routes moved, a salvo, a burst of commands) give one state message and the
// per-output messages go out first.
class MqttBridge final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MqttBridge)
public:
    static constexpr int StateIntervalMs = 50;

    MqttBridge(Gateway &gateway, const MqttBridgeConfig &config, QObject *parent = nullptr);
    ~MqttBridge() override;

    bool start(QString *error);
    // Publishes offline and disconnects cleanly.
    void stop();

    // {"status": "connected", "broker": "mqtt://host:port", "reason": "..."} for the HTTP state.
    QJsonObject statusJson() const;
    MqttLink &link() { return m_link; }

    // Connects, publishes empty retained configs for every entity of this gateway and empties
    // its retained topics, then disconnects: Home Assistant then removes the device. False with
    // *error when the broker could not be reached within timeoutMs.
    static bool removeFromHomeAssistant(
        const MqttBridgeConfig &config, int timeoutMs, QString *error);

Q_SIGNALS:
    void statusChanged();

private:
    QByteArray topic(const QString &rest) const;
    void onStatus(MqttLink::Status status, const QString &reason);
    void onMessage(const QByteArray &topic, const QByteArray &payload);
    void publishRetained(const QByteArray &topic, const QByteArray &payload);
    void publishOutputs();
    void publishOutput(int output, const std::array<QString, GatewayPorts> &options);
    void publishPresence();
    void scheduleState();
    void scheduleConfigs();
    void publishState();
    void publishConfigs();
    void publishError(
        const QString &command, const QString &code, const QString &message, int applied);
    MqttDiscovery::Device device() const;

    Gateway &m_gateway;
    MqttBridgeConfig m_config;
    MqttLink m_link;
    QMap<QByteArray, QByteArray> m_retained;
    QTimer m_stateTimer; // runs while a state message is due
    QTimer m_configTimer;
    QString m_loggedReason;
    bool m_stopped = false;
};
