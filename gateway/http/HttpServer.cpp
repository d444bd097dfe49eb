#include "HttpServer.h"

#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <limits>

Q_LOGGING_CATEGORY(lcHttp, "matrix.gateway.http", QtInfoMsg)

// One HTTP client connection: reads requests within the limits, answers them one at a time
// and in order, and closes after an error, a "Connection: close", the idle time or a request
// that missed its deadline.
class HttpConnection final : public QObject
{
public:
    HttpConnection(
        HttpServer *server, QTcpSocket *socket, const QHostAddress &address, bool counted)
        : QObject(server),
          m_server(server),
          m_socket(socket),
          m_address(address),
          m_counted(counted)
    {
        socket->setParent(this);
        // The socket never buffers more than one largest request: a client sending more
        // waits (TCP flow control) until the request before has been answered.
        m_capacity = server->limits().maxHeadBytes + server->limits().maxBodyBytes + 4;
        socket->setReadBufferSize(m_capacity);
        m_idle.setSingleShot(true);
        m_idle.setInterval(server->limits().idleMs);
        connect(&m_idle, &QTimer::timeout, this, [this] { close(); });
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            qCInfo(lcHttp).noquote()
                << "Request from" << m_address.toString() << "not complete in time";
            write(HttpResponse::error(408, QStringLiteral("request_timeout"),
                      QStringLiteral("The request did not arrive in time.")),
                false, false);
        });
        connect(socket, &QTcpSocket::readyRead, this, [this] {
            m_idle.start();
            process();
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this] {
            m_idle.start();
            // A client that pipelines requests was paused while its answers waited unread.
            if (m_socket && m_socket->bytesToWrite() <= MaxUnsentBytes)
                process();
        });
        connect(socket, &QTcpSocket::disconnected, this, [this] { finish(); });
        m_idle.start();
    }

    // Starts the first request's deadline now: over TLS the handshake belongs to it.
    void startDeadline()
    {
        m_phase = Head;
        m_deadline.start(m_server->limits().headMs);
    }

    // Closes after what has been written has left.
    void close()
    {
        m_closing = true;
        m_deadline.stop();
        m_socket->disconnectFromHost();
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            finish();
    }

private:
    enum Phase { Between, Head, Body };
    // Answers written but not yet taken by the client; the web page's script, the largest
    // answer, is written whole whatever this says.
    static constexpr qint64 MaxUnsentBytes = 256 * 1024;

    void finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        m_server->connectionClosed(m_address, m_counted);
        deleteLater();
    }

    void process()
    {
        if (m_busy || m_closing || m_finished)
            return;
        // The next request waits while earlier answers lie unread: a client that pipelines
        // without reading is held by TCP flow control instead of filling our memory.
        if (m_socket->bytesToWrite() > MaxUnsentBytes)
            return;
        const QByteArray buffered = m_socket->peek(m_capacity);
        if (buffered.isEmpty())
            return;
        HttpParse parsed = parseHttpRequest(buffered, m_server->limits());
        if (parsed.status == HttpParse::NeedMore) {
            // The deadlines run from the request's first byte and from the end of its head;
            // bytes arriving meanwhile do not move them.
            const HttpLimits &limits = m_server->limits();
            if (parsed.awaitedBody >= 0 && m_phase != Body) {
                m_phase = Body;
                m_deadline.start(int(qMin<qint64>(
                    limits.bodyMs + parsed.awaitedBody * 1000 / qMax(1, limits.bodyBytesPerSecond),
                    std::numeric_limits<int>::max())));
            } else if (m_phase == Between) {
                startDeadline();
            }
            return;
        }
        m_phase = Between;
        m_deadline.stop();
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
                finish();
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
    QHostAddress m_address;
    bool m_counted; // counted among its address's connections
    QTimer m_idle;
    QTimer m_deadline;
    Phase m_phase = Between;
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
    QTcpSocket *socket = m_tls ? new QSslSocket : new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    const QHostAddress peer = ClientPolicy::plain(socket->peerAddress());
    if (!m_policy.allowed(peer)) {
        qCInfo(lcHttp).noquote() << "Refused" << peer.toString() << "address not allowed";
        socket->abort();
        socket->deleteLater();
        return;
    }
    const bool counted = m_perAddress.add(peer, m_policy);
    const bool full = !counted || m_connections >= m_limits.maxConnections;
    if (full && m_tls) {
        // A refusal over TLS would first need a handshake: a full server does not do one.
        socket->abort();
        socket->deleteLater();
        if (counted)
            m_perAddress.remove(peer);
        return;
    }
    ++m_connections;
    auto *connection = new HttpConnection(this, socket, peer, counted);
    if (!counted) {
        socket->write(HttpResponse::error(503, QStringLiteral("busy"),
            QStringLiteral("Too many connections from this address; try again later."))
                          .serialize(false));
        connection->close();
    } else if (full) {
        socket->write(HttpResponse::error(
            503, QStringLiteral("busy"), QStringLiteral("Too many connections; try again later."))
                          .serialize(false));
        connection->close();
    } else if (m_tls) {
        auto *secure = static_cast<QSslSocket *>(socket);
        secure->setSslConfiguration(*m_tls);
        // A client that fails the handshake is closed; its deadline closes one that stalls.
        connect(secure, &QSslSocket::sslErrors, secure, [secure] { secure->abort(); });
        connect(secure, &QAbstractSocket::errorOccurred, secure, [secure] {
            if (!secure->isEncrypted())
                secure->abort();
        });
        connection->startDeadline();
        secure->startServerEncryption();
    }
}

void HttpServer::connectionClosed(const QHostAddress &address, bool counted)
{
    --m_connections;
    if (counted)
        m_perAddress.remove(address);
}

std::optional<QSslConfiguration> HttpServer::loadTls(
    const QString &certificateFile, const QString &keyFile, QString *error)
{
    QFile certificate(certificateFile);
    if (!certificate.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the certificate %1: %2")
                     .arg(certificateFile, certificate.errorString());
        return std::nullopt;
    }
    const QList<QSslCertificate> chain
        = QSslCertificate::fromData(certificate.read(1024 * 1024), QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        *error = QStringLiteral("%1 holds no PEM certificate").arg(certificateFile);
        return std::nullopt;
    }
    QFile keyText(keyFile);
    if (!keyText.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the private key %1: %2")
                     .arg(keyFile, keyText.errorString());
        return std::nullopt;
    }
    const QByteArray pem = keyText.read(1024 * 1024);
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        *error = QStringLiteral("%1 holds no PEM private key without a passphrase").arg(keyFile);
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    return configuration;
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
    if (throttled(request, refusal))
        return false;
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
    if (HttpResponse refusal; throttled(request, &refusal)) {
        reply(refusal);
        return;
    }
    m_handler(request, reply);
}

bool HttpServer::throttled(const HttpRequest &request, HttpResponse *refusal)
{
    if (!m_access.tokenRequired() || !HttpAccess::guarded(request))
        return false;
    const QHostAddress client = ClientPolicy::plain(request.remoteAddress);
    if (const qint64 left = m_throttle.pauseLeft(client); left > 0) {
        const qint64 seconds = (left + 999) / 1000;
        *refusal = HttpResponse::error(429, QStringLiteral("too_many_failures"),
            QStringLiteral("Too many wrong tokens from this address; try again in %1 s.")
                .arg(seconds));
        refusal->headers.append(qMakePair(QByteArray("Retry-After"), QByteArray::number(seconds)));
        return true;
    }
    // A request without a token is no guess: a browser's page asks for the token after one.
    if (m_access.accepts(request)) {
        m_throttle.succeeded(client);
    } else if (!HttpAccess::offersToken(request)) {
        return false;
    } else if (const qint64 pause = m_throttle.failed(client); pause > 0) {
        qCWarning(lcHttp).noquote()
            << "Wrong tokens from" << client.toString() << "refused for" << pause / 1000 << "s";
    }
    return false;
}

void HttpServer::acceptEventClients()
{
    while (QWebSocket *client = m_webSockets.nextPendingConnection()) {
        // The path and token were checked on the handshake; this is the last line of defence
        // should a socket ever arrive here another way.
        const QHostAddress address = ClientPolicy::plain(client->peerAddress());
        if (client->requestUrl().path() != eventsPath() || !m_policy.allowed(address)
            || !m_perAddress.add(address, m_policy)) {
            client->close(QWebSocketProtocol::CloseCodePolicyViolated);
            client->deleteLater();
            continue;
        }
        client->setParent(this);
        client->setMaxAllowedIncomingMessageSize(
            static_cast<quint64>(m_limits.maxEventMessageBytes));
        client->setMaxAllowedIncomingFrameSize(static_cast<quint64>(m_limits.maxEventMessageBytes));
        m_eventClients.insert(client, EventClient{address, 0});
        ++m_connections;
        connect(client, &QWebSocket::bytesWritten, this, [this, client](qint64 written) {
            auto it = m_eventClients.find(client);
            if (it != m_eventClients.end())
                it->backlog = qMax<qint64>(0, it->backlog - written);
        });
        connect(
            client, &QWebSocket::disconnected, this, [this, client] { dropEventClient(client); });
        keepAlive(client);
        Q_EMIT eventClientConnected(client);
    }
}

void HttpServer::keepAlive(QWebSocket *client)
{
    // An event client need never send anything, so silence says nothing; a far end that has
    // gone (a phone that left the network) is found by its missing pong.
    auto *ping = new QTimer(client);
    auto *pong = new QTimer(client);
    pong->setSingleShot(true);
    pong->setInterval(m_limits.eventPongMs);
    connect(ping, &QTimer::timeout, client, [client, pong] {
        if (!pong->isActive())
            pong->start();
        client->ping();
    });
    connect(client, &QWebSocket::pong, pong, &QTimer::stop);
    connect(pong, &QTimer::timeout, this, [this, client] {
        qCInfo(lcHttp).noquote() << "Event client" << client->peerAddress().toString()
                                 << "answers no ping; closed";
        dropEventClient(client);
    });
    ping->start(m_limits.eventPingMs);
}

void HttpServer::dropEventClient(QWebSocket *client)
{
    const auto it = m_eventClients.find(client);
    if (it == m_eventClients.end())
        return;
    m_perAddress.remove(it->address);
    m_eventClients.erase(it);
    --m_connections;
    client->disconnect(this);
    client->abort();
    client->deleteLater();
}

void HttpServer::sendEvent(QWebSocket *client, const QByteArray &json)
{
    auto it = m_eventClients.find(client);
    if (it == m_eventClients.end())
        return;
    if (it->backlog > MaxEventBacklog) {
        client->close(QWebSocketProtocol::CloseCodeTooMuchData);
        return;
    }
    it->backlog += json.size();
    client->sendTextMessage(QString::fromUtf8(json));
}

void HttpServer::broadcastEvent(const QByteArray &json)
{
    for (QWebSocket *client : m_eventClients.keys())
        sendEvent(client, json);
}
