#pragma once

#include "ClientAddresses.h"
#include "HttpAccess.h"
#include "HttpMessage.h"

#include <QHash>
#include <QList>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QWebSocketServer>

#include <optional>

#include <functional>

class QWebSocket;

// The gateway's HTTP server: a small bounded HTTP/1.1 reader on QTcpServer. Qt 6.4's
// QHttpServer has no bound on the request body (it buffers whatever a client sends), so the
// gateway reads requests itself: the head and the body are capped before they are buffered,
// connections are counted (in all and per client address) and closed when idle or when a request
// takes longer than its deadline, and one request at a time is answered per connection, in
// order. With a certificate the same reader runs over TLS (HTTPS and WSS). A WebSocket handshake
// on /api/v1/events is checked here (path, token, origin) before the socket is handed to
// QWebSocketServer, so an unauthorised client is refused with a plain HTTP status and never
// becomes a WebSocket.
class HttpServer final : public QTcpServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HttpServer)
public:
    using Reply = std::function<void(const HttpResponse &)>;
    // Answers one request, now or later, by calling reply exactly once. A reply for a client
    // that has gone meanwhile is dropped.
    using Handler = std::function<void(const HttpRequest &, const Reply &)>;

    static QString eventsPath() { return QStringLiteral("/api/v1/events"); }

    explicit HttpServer(const HttpLimits &limits = {}, QObject *parent = nullptr);
    ~HttpServer() override;

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    void setAccess(const HttpAccess &access) { m_access = access; }
    const HttpAccess &access() const { return m_access; }
    const HttpLimits &limits() const { return m_limits; }
    // Who may connect, and how many connections each address may hold (event sockets
    // included). Connections from other addresses are closed unanswered.
    void setClientPolicy(const ClientPolicy &policy) { m_policy = policy; }
    const ClientPolicy &clientPolicy() const { return m_policy; }
    TokenThrottle &tokenThrottle() { return m_throttle; }

    // Serves HTTPS and WSS with this configuration (certificate and key) from the next
    // connection on.
    void setTlsConfiguration(const QSslConfiguration &configuration) { m_tls = configuration; }
    bool tls() const { return m_tls.has_value(); }
    // A server configuration from a PEM certificate file (the chain may follow the
    // certificate) and a PEM private key file; none, with the reason in *error, when they
    // cannot be read, do not parse or do not belong together.
    static std::optional<QSslConfiguration> loadTls(
        const QString &certificateFile, const QString &keyFile, QString *error);

    int connectionCount() const { return m_connections; }
    int eventClientCount() const { return static_cast<int>(m_eventClients.size()); }

    // Sends one text message to every event client. A client that does not read its events
    // (more than a megabyte waiting) is closed rather than buffered without end.
    void broadcastEvent(const QByteArray &json);
    void sendEvent(QWebSocket *client, const QByteArray &json);

Q_SIGNALS:
    // A new event client, before any broadcast reaches it: the place to send it the state.
    void eventClientConnected(QWebSocket *client);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    friend class HttpConnection;
    struct EventClient
    {
        QHostAddress address;
        qint64 backlog = 0; // bytes not yet written
    };

    void connectionClosed(const QHostAddress &address, bool counted);
    // A request the token guards from an address paused for wrong tokens: answers it with 429
    // and returns true. Otherwise counts a wrong token or forgets the address on a right one.
    bool throttled(const HttpRequest &request, HttpResponse *refusal);
    // The request of a complete WebSocket handshake: answers it with an HTTP error, or
    // returns true after handing the socket over.
    bool upgrade(QTcpSocket *socket, const HttpRequest &request, HttpResponse *refusal);
    void handle(const HttpRequest &request, const Reply &reply);
    void acceptEventClients();
    void keepAlive(QWebSocket *client);
    void dropEventClient(QWebSocket *client);

    static constexpr qint64 MaxEventBacklog = 1024 * 1024;

    HttpLimits m_limits;
    HttpAccess m_access;
    ClientPolicy m_policy;
    ClientCounts m_perAddress;
    TokenThrottle m_throttle;
    std::optional<QSslConfiguration> m_tls;
    Handler m_handler;
    QWebSocketServer m_webSockets;
    int m_connections = 0;
    QHash<QWebSocket *, EventClient> m_eventClients;
};
