#pragma once

#include "HttpAccess.h"
#include "HttpMessage.h"

#include <QHash>
#include <QList>
#include <QTcpServer>
#include <QWebSocketServer>

#include <functional>

class QWebSocket;

// The gateway's HTTP server: a small bounded HTTP/1.1 reader on QTcpServer. Qt 6.4's
// QHttpServer has no bound on the request body (it buffers whatever a client sends), so the
// gateway reads requests itself: the head and the body are capped before they are buffered,
// connections are counted and closed when idle, and one request at a time is answered per
// connection, in order. A WebSocket handshake on /api/v1/events is checked here (path, token,
// origin) before the socket is handed to QWebSocketServer, so an unauthorised client is
// refused with a plain HTTP status and never becomes a WebSocket.
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
    void connectionClosed() { --m_connections; }
    // The request of a complete WebSocket handshake: answers it with an HTTP error, or
    // returns true after handing the socket over.
    bool upgrade(QTcpSocket *socket, const HttpRequest &request, HttpResponse *refusal);
    void handle(const HttpRequest &request, const Reply &reply);
    void acceptEventClients();

    static constexpr qint64 MaxEventBacklog = 1024 * 1024;

    HttpLimits m_limits;
    HttpAccess m_access;
    Handler m_handler;
    QWebSocketServer m_webSockets;
    int m_connections = 0;
    QHash<QWebSocket *, qint64> m_eventClients; // client -> bytes not yet written
};
