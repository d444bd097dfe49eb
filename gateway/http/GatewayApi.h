#pragma once

#include "GatewayState.h"
#include "HttpServer.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>

class Gateway;

// The JSON API under /api/v1, the event socket's messages and the web page, over the gateway
// core: every request becomes one core request, every state change one event to every event
// client. Locks belong to the client's address, as a router panel's do: a route to an output
// another address has locked is refused (409), and the rest of a salvo or preset is made.
class GatewayApi final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GatewayApi)
public:
    // Installs itself as the server's handler; both must outlive this object.
    GatewayApi(Gateway &gateway, HttpServer &server, QObject *parent = nullptr);

    // Answers one request (the server's handler; tests and the fuzz target call it directly).
    void handle(const HttpRequest &request, const HttpServer::Reply &reply);

    static QJsonObject stateJson(const GatewayState &state);
    static QJsonObject presetJson(int n, const GatewayPreset &preset);
    // The status an outcome of the core maps to.
    static int statusFor(GatewayError error);
    // The outcome's name in error bodies ("locked", "not_present", ...); empty for None.
    static QString errorCode(GatewayError error);

    // The MQTT link's status, shown in the state as "mqtt" ({"status": "off"} without one).
    void setMqttStatus(const QJsonObject &status) { m_mqttStatus = status; }

private:
    // {"output", "locked", "own"}: own when the lock is held by the client's address.
    QJsonObject lockJson(int output, const QHostAddress &client) const;
    void handleApi(const HttpRequest &request, const HttpServer::Reply &reply);
    void broadcast(const QJsonObject &event);

    Gateway &m_gateway;
    HttpServer &m_server;
    QJsonObject m_mqttStatus{{QStringLiteral("status"), QStringLiteral("off")}};
};
