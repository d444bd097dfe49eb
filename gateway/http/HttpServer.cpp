#include "HttpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

// One HTTP client connection: reads requests within the limits, answers them one at a time
// and in order, and closes after an error, a "Connection: close" or the idle time.
class HttpConnection final : public QObject
{
public:
    HttpConnection(HttpServer *server, QTcpSocket *socket)
        : QObject(server), m_server(server), m_socket(socket)
    {
        socket->setParent(this);
        // The socket never buffers more than one largest request: a client sending more
        // waits (TCP flow control) until the request before has been answered.
        m_capacity = server->limits().maxHeadBytes + server->limits().maxBodyBytes + 4;
        socket->setReadBufferSize(m_capacity);
        m_idle.setSingleShot(true);
        m_idle.setInterval(server->limits().idleMs);
        connect(&m_idle, &QTimer::timeout, this, [this] { close(); });
        connect(socket, &QTcpSocket::readyRead, this, [this] {
            m_idle.start();
            process();
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { m_idle.start(); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { finish(); });
        m_idle.start();
    }

    // Closes after what has been written has left.
    void close()
    {
        m_closing = true;
        m_socket->disconnectFromHost();
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            finish();
    }

private:
    void finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        m_server->connectionClosed();
        deleteLater();
    }

    void process()
    {
        if (m_busy || m_closing || m_finished)
            return;
        const QByteArray buffered = m_socket->peek(m_capacity);
        HttpParse parsed = parseHttpRequest(buffered, m_server->limits());
        if (parsed.status == HttpParse::NeedMore)
            return;
        if (parsed.status == HttpParse::Failed) {
            write(HttpResponse::error(
                      parsed.errorStatus, QStringLiteral("bad_request"), parsed.errorMessage),
                false, false);
            return;
        }
        HttpRequest request = std::move(parsed.request);
        request.remoteAddress = m_socket->peerAddress();
        if (request.isWebSocketUpgrade()) {
            HttpResponse refusal;
            if (m_server->upgrade(m_socket, request, &refusal)) {
                // The socket is the WebSocket server's now; this connection is done with it.
                m_socket = nullptr;
                m_idle.stop();
                m_finished = true;
                m_server->connectionClosed();
                deleteLater();
            } else {
                m_socket->skip(parsed.consumed);
                write(refusal, false, false);
            }
            return;
        }
        m_socket->skip(parsed.consumed);
        m_busy = true;
        const bool keepAlive = request.keepAlive();
        const bool head = request.method == "HEAD";
        QPointer<HttpConnection> self(this);
        auto answered = std::make_shared<bool>(false);
        m_server->handle(request, [self, answered, keepAlive, head](const HttpResponse &response) {
            if (!self || *answered)
                return;
            *answered = true;
            self->write(response, keepAlive, head);
        });
    }

    void write(const HttpResponse &response, bool keepAlive, bool head)
    {
        if (m_finished || !m_socket)
            return;
        m_socket->write(response.serialize(keepAlive, head));
        m_busy = false;
        if (!keepAlive) {
            close();
            return;
        }
        // A client may have sent its next request already.
        QTimer::singleShot(0, this, [this] { process(); });
    }

    HttpServer *m_server;
    QTcpSocket *m_socket;
    QTimer m_idle;
    qint64 m_capacity = 0;
    bool m_busy = false;
    bool m_closing = false;
    bool m_finished = false;
};

HttpServer::HttpServer(const HttpLimits &limits, QObject *parent)
    : QTcpServer(parent),
      m_limits(limits),
      m_webSockets(QStringLiteral("matrix-gateway"), QWebSocketServer::NonSecureMode, this)
{
    m_webSockets.setSupportedSubprotocols({HttpAccess::eventSubprotocol()});
    m_webSockets.setHandshakeTimeout(m_limits.idleMs);
    connect(&m_webSockets, &QWebSocketServer::newConnection, this, &HttpServer::acceptEventClients);
}

HttpServer::~HttpServer()
{
    // The event clients are children of this server; forget them before they go, so that
    // their disconnected signals find nothing to update.
    for (QWebSocket *client : m_eventClients.keys())
        client->disconnect(this);
}

void HttpServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    ++m_connections;
    auto *connection = new HttpConnection(this, socket);
    if (m_connections > m_limits.maxConnections) {
        socket->write(HttpResponse::error(
            503, QStringLiteral("busy"), QStringLiteral("Too many connections; try again later."))
                          .serialize(false));
        connection->close();
    }
}

bool HttpServer::upgrade(QTcpSocket *socket, const HttpRequest &request, HttpResponse *refusal)
{
    if (request.path != eventsPath()) {
        *refusal = HttpResponse::error(404, QStringLiteral("not_found"),
            QStringLiteral("WebSocket is served only at %1.").arg(eventsPath()));
        return false;
    }
    if (!HttpAccess::sameOrigin(request) || !m_access.hostAccepted(request)) {
        *refusal = HttpResponse::error(403, QStringLiteral("forbidden"),
            QStringLiteral("Events are served only to this "
                           "gateway's own page."));
        return false;
    }
    if (!m_access.accepts(request)) {
        *refusal = HttpResponse::error(
            401, QStringLiteral("unauthorized"), QStringLiteral("A valid token is required."));
        return false;
    }
    if (eventClientCount() >= m_limits.maxEventClients) {
        *refusal = HttpResponse::error(503, QStringLiteral("busy"),
            QStringLiteral("Too many event clients; try again later."));
        return false;
    }
    // From here on the WebSocket server reads the handshake from the socket, which still
    // holds it; it may buffer what it needs.
    socket->disconnect();
    socket->setReadBufferSize(0);
    // Owned by the WebSocket server from here, so that a failed handshake leaves nothing behind
    // this connection.
    socket->setParent(&m_webSockets);
    m_webSockets.handleConnection(socket);
    Q_EMIT socket->readyRead();
    return true;
}

void HttpServer::handle(const HttpRequest &request, const Reply &reply)
{
    if (!m_handler) {
        reply(HttpResponse::error(404, QStringLiteral("not_found"), QStringLiteral("Not found.")));
        return;
    }
    m_handler(request, reply);
}

void HttpServer::acceptEventClients()
{
    while (QWebSocket *client = m_webSockets.nextPendingConnection()) {
        // The path and token were checked on the handshake; this is the last line of defence
        // should a socket ever arrive here another way.
        if (client->requestUrl().path() != eventsPath()) {
            client->close(QWebSocketProtocol::CloseCodePolicyViolated);
            client->deleteLater();
            continue;
        }
        client->setParent(this);
        client->setMaxAllowedIncomingMessageSize(
            static_cast<quint64>(m_limits.maxEventMessageBytes));
        client->setMaxAllowedIncomingFrameSize(static_cast<quint64>(m_limits.maxEventMessageBytes));
        m_eventClients.insert(client, 0);
        ++m_connections;
        connect(client, &QWebSocket::bytesWritten, this, [this, client](qint64 written) {
            auto it = m_eventClients.find(client);
            if (it != m_eventClients.end())
                it.value() = qMax<qint64>(0, it.value() - written);
        });
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            if (m_eventClients.remove(client) > 0)
                --m_connections;
            client->deleteLater();
        });
        Q_EMIT eventClientConnected(client);
    }
}

void HttpServer::sendEvent(QWebSocket *client, const QByteArray &json)
{
    auto it = m_eventClients.find(client);
    if (it == m_eventClients.end())
        return;
    if (it.value() > MaxEventBacklog) {
        client->close(QWebSocketProtocol::CloseCodeTooMuchData);
        return;
    }
    it.value() += json.size();
    client->sendTextMessage(QString::fromUtf8(json));
}

void HttpServer::broadcastEvent(const QByteArray &json)
{
    for (QWebSocket *client : m_eventClients.keys())
        sendEvent(client, json);
}
