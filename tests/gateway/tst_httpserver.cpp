// The gateway's HTTP server on real loopback sockets: the request reader's bounds, keep-alive
// order, the connection cap and idle time-out, and the checks on the event socket's handshake.
#include "HttpAccess.h"
#include "HttpMessage.h"
#include "HttpServer.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketHandshakeOptions>
#include <QtTest>

namespace {

// Sends raw bytes and collects what comes back until the server closes or `until` is seen. The
// server runs in this thread, so the wait runs the event loop.
QByteArray exchange(quint16 port, const QByteArray &bytes, const QByteArray &until = {})
{
    QTcpSocket socket;
    QByteArray received;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] { socket.write(bytes); });
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
        received += socket.readAll();
        if (!until.isEmpty() && received.contains(until))
            loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    socket.connectToHost(QHostAddress::LocalHost, port);
    loop.exec();
    return received + socket.readAll();
}

int statusOf(const QByteArray &response)
{
    if (!response.startsWith("HTTP/1.1 "))
        return -1;
    return response.mid(9, 3).toInt();
}

QByteArray handshake(const QByteArray &path, const QList<QByteArray> &extraHeaders = {})
{
    QByteArray request = "GET " + path
        + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
    for (const QByteArray &header : extraHeaders)
        request += header + "\r\n";
    return request + "\r\n";
}

} // namespace

class TestHttpServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<QWebSocket *>(); }
    void parse_data();
    void parse();
    void bodyLimitRefusedBeforeTheBody();
    void pipelinedRequestsAnsweredInOrder();
    void unreadAnswersPausePipelining();
    void connectionCapAndIdleTimeOut();
    void webSocketHandshakeChecked_data();
    void webSocketHandshakeChecked();
    void eventsReachEveryClient();
    void tokenFile();
    void requestDeadlines_data();
    void requestDeadlines();
    void wrongTokensThrottled();
    void deadEventClientsClosed();
    void httpsAndWss();

private:
    // A server whose handler answers "path body" as text, the second request of a
    // connection later than the first, so that order is not an accident of timing.
    static std::unique_ptr<HttpServer> echoServer(const HttpLimits &limits = {});
};

std::unique_ptr<HttpServer> TestHttpServer::echoServer(const HttpLimits &limits)
{
    auto server = std::make_unique<HttpServer>(limits);
    server->setHandler([](const HttpRequest &request, const HttpServer::Reply &reply) {
        HttpResponse response;
        response.contentType = "text/plain";
        response.body = request.path.toUtf8() + ' ' + request.body;
        if (request.path == QLatin1String("/slow"))
            QTimer::singleShot(50, [reply, response] { reply(response); });
        else
            reply(response);
    });
    if (!server->listen(QHostAddress::LocalHost))
        return nullptr;
    return server;
}

void TestHttpServer::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status"); // HttpParse::Status
    QTest::addColumn<int>("errorStatus");
    QTest::addColumn<QByteArray>("body");

    const int more = HttpParse::NeedMore;
    const int done = HttpParse::Complete;
    const int fail = HttpParse::Failed;
    QTest::newRow("get") << QByteArray("GET /api/v1/state HTTP/1.1\r\nHost: x\r\n\r\n") << done << 0
                         << QByteArray();
    QTest::newRow("bare line feeds")
        << QByteArray("GET / HTTP/1.1\nHost: x\n\n") << done << 0 << QByteArray();
    QTest::newRow("body") << QByteArray("PUT /p HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n\r\n"
                                        "abcdEXTRA")
                          << done << 0 << QByteArray("abcd");
    QTest::newRow("body not all here")
        << QByteArray("PUT /p HTTP/1.1\r\nHost: x\r\nContent-Length: 9\r\n\r\nabc") << more << 0
        << QByteArray();
    QTest::newRow("head not all here")
        << QByteArray("GET / HTTP/1.1\r\nHost:") << more << 0 << QByteArray();
    QTest::newRow("body too large")
        << QByteArray("PUT /p HTTP/1.1\r\nHost: x\r\nContent-Length: 16385\r\n\r\n") << fail << 413
        << QByteArray();
    QTest::newRow("huge length") << QByteArray(
        "PUT /p HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999999999999999\r\n\r\n")
                                 << fail << 413 << QByteArray();
    QTest::newRow("negative length")
        << QByteArray("PUT /p HTTP/1.1\r\nHost: x\r\nContent-Length: -1\r\n\r\n") << fail << 400
        << QByteArray();
    QTest::newRow("two lengths") << QByteArray(
        "PUT /p HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n")
                                 << fail << 400 << QByteArray();
    QTest::newRow("chunked") << QByteArray(
        "PUT /p HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n")
                             << fail << 501 << QByteArray();
    QTest::newRow("head too large") << QByteArray("GET / HTTP/1.1\r\nX: " + QByteArray(9000, 'a'))
                                    << fail << 431 << QByteArray();
    QByteArray manyHeaders = "GET / HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 70; ++i)
        manyHeaders += "X-" + QByteArray::number(i) + ": y\r\n";
    QTest::newRow("too many headers") << manyHeaders + "\r\n" << fail << 431 << QByteArray();
    QTest::newRow("no host") << QByteArray("GET / HTTP/1.1\r\n\r\n") << fail << 400 << QByteArray();
    QTest::newRow("version") << QByteArray("GET / HTTP/2.0\r\nHost: x\r\n\r\n") << fail << 505
                             << QByteArray();
    QTest::newRow("absolute target")
        << QByteArray("GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n") << fail << 400 << QByteArray();
    QTest::newRow("request line") << QByteArray("GET /  HTTP/1.1\r\nHost: x\r\n\r\n") << fail << 400
                                  << QByteArray();
    QTest::newRow("folded header")
        << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n more\r\n\r\n") << fail << 400 << QByteArray();
    QTest::newRow("control in value")
        << QByteArray("GET / HTTP/1.1\r\nHost: x\x01y\r\n\r\n") << fail << 400 << QByteArray();
    QTest::newRow("binary") << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\n\n", 13)
                            << fail << 400 << QByteArray();
}

void TestHttpServer::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(int, errorStatus);
    QFETCH(QByteArray, body);

    const HttpParse parsed = parseHttpRequest(bytes, HttpLimits{});
    QCOMPARE(int(parsed.status), status);
    QCOMPARE(parsed.errorStatus, errorStatus);
    if (parsed.status == HttpParse::Complete) {
        QCOMPARE(parsed.request.body, body);
        QCOMPARE(bytes.mid(parsed.consumed), bytes.endsWith("EXTRA") ? QByteArray("EXTRA") : "");
    }
    if (parsed.status == HttpParse::Failed)
        QVERIFY(!parsed.errorMessage.isEmpty());
}

void TestHttpServer::bodyLimitRefusedBeforeTheBody()
{
    auto server = echoServer();
    QVERIFY(server);
    // The refusal comes on the head alone: the server never waits for a megabyte.
    const QByteArray response = exchange(
        server->serverPort(), "PUT /p HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\n");
    QCOMPARE(statusOf(response), 413);
    QVERIFY(response.contains("\"message\""));
    QVERIFY(response.contains("Connection: close"));
    QTRY_COMPARE(server->connectionCount(), 0);
}

void TestHttpServer::pipelinedRequestsAnsweredInOrder()
{
    auto server = echoServer();
    QVERIFY(server);
    const QByteArray response = exchange(server->serverPort(),
        "PUT /slow HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\none"
        "GET /fast HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const qsizetype slow = response.indexOf("/slow one");
    const qsizetype fast = response.indexOf("/fast ");
    QVERIFY2(slow > 0 && fast > slow, response.constData());
    QCOMPARE(response.count("HTTP/1.1 200 OK"), 2);
}

// A client that sends request after request and reads nothing: the server stops taking its
// requests while the answers wait, and carries on once they are read.
void TestHttpServer::unreadAnswersPausePipelining()
{
    constexpr int Requests = 32;
    const QByteArray body(1024 * 1024, 'x');
    int handled = 0;
    HttpServer server;
    server.setHandler([&](const HttpRequest &, const HttpServer::Reply &reply) {
        ++handled;
        HttpResponse response;
        response.contentType = "text/plain";
        response.body = body;
        reply(response);
    });
    QVERIFY(server.listen(QHostAddress::LocalHost));

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(5000));
    // The client's own buffer and window stay small: nothing takes the answers off the
    // server's hands while the test does not read.
    client.setReadBufferSize(64 * 1024);
    client.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);
    QByteArray requests;
    for (int i = 0; i < Requests; ++i)
        requests += "GET /big HTTP/1.1\r\nHost: x\r\n\r\n";
    client.write(requests);
    // What the kernel's buffers hold on both sides is a few of the 32 answers.
    QTest::qWait(2000);
    QVERIFY2(handled < Requests, qPrintable(QString::number(handled)));

    client.setReadBufferSize(0);
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT(
        (received += client.readAll()).count("HTTP/1.1 200 OK") == Requests, 60000);
    QCOMPARE(handled, Requests);
}

void TestHttpServer::connectionCapAndIdleTimeOut()
{
    HttpLimits limits;
    limits.maxConnections = 2;
    limits.idleMs = 300;
    auto server = echoServer(limits);
    QVERIFY(server);

    QTcpSocket first;
    QTcpSocket second;
    first.connectToHost(QHostAddress::LocalHost, server->serverPort());
    second.connectToHost(QHostAddress::LocalHost, server->serverPort());
    QVERIFY(first.waitForConnected(5000) && second.waitForConnected(5000));
    QTRY_COMPARE(server->connectionCount(), 2);

    const QByteArray refused = exchange(server->serverPort(), {});
    QCOMPARE(statusOf(refused), 503);

    // Clients that send nothing are closed after the idle time, and their places freed.
    QTRY_COMPARE(first.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(server->connectionCount(), 0);
    QCOMPARE(statusOf(exchange(server->serverPort(),
                 "GET /again HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")),
        200);
}

void TestHttpServer::webSocketHandshakeChecked_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QList<QByteArray>>("headers");
    QTest::addColumn<int>("status"); // 101: became an event client

    const QByteArray good = HttpAccess::tokenSubprotocol("s3cret");
    const QByteArray bad = HttpAccess::tokenSubprotocol("guess");
    QTest::newRow("token as subprotocol")
        << QByteArray("/api/v1/events")
        << QList<QByteArray>{"Sec-WebSocket-Protocol: matrix-gateway, " + good} << 101;
    QTest::newRow("token as bearer")
        << QByteArray("/api/v1/events") << QList<QByteArray>{"Authorization: Bearer s3cret"} << 101;
    QTest::newRow("no token") << QByteArray("/api/v1/events") << QList<QByteArray>{} << 401;
    QTest::newRow("wrong token") << QByteArray(
        "/api/v1/events") << QList<QByteArray>{"Sec-WebSocket-Protocol: matrix-gateway, " + bad}
                                 << 401;
    QTest::newRow("wrong bearer") << QByteArray("/api/v1/events")
                                  << QList<QByteArray>{"Authorization: Bearer s3cre"} << 401;
    QTest::newRow("other path") << QByteArray("/api/v1/state")
                                << QList<QByteArray>{"Authorization: Bearer s3cret"} << 404;
    QTest::newRow("page of another site")
        << QByteArray("/api/v1/events")
        << QList<QByteArray>{"Authorization: Bearer s3cret", "Origin: http://example.org"} << 403;
    QTest::newRow("own page") << QByteArray("/api/v1/events")
                              << QList<QByteArray>{"Authorization: Bearer s3cret",
                                     "Origin: http://127.0.0.1"}
                              << 101;
    QTest::newRow("own page over https")
        << QByteArray("/api/v1/events")
        << QList<QByteArray>{"Authorization: Bearer s3cret", "Origin: https://127.0.0.1:443"}
        << 101;
}

void TestHttpServer::webSocketHandshakeChecked()
{
    QFETCH(QByteArray, path);
    QFETCH(QList<QByteArray>, headers);
    QFETCH(int, status);

    auto server = echoServer();
    QVERIFY(server);
    server->setAccess(HttpAccess("s3cret"));
    QSignalSpy connected(server.get(), &HttpServer::eventClientConnected);

    const QByteArray response
        = exchange(server->serverPort(), handshake(path, headers), "\r\n\r\n");
    QCOMPARE(statusOf(response), status);
    if (status == 101) {
        QVERIFY(response.toLower().contains("sec-websocket-accept: s3pplmbitxaq9kygzzhzrbk+xoo="));
        QTRY_COMPARE(connected.size(), 1);
        if (headers.first().startsWith("Sec-WebSocket-Protocol"))
            QVERIFY(response.contains("Sec-WebSocket-Protocol: matrix-gateway"));
    } else {
        QVERIFY(response.contains("\"message\""));
        QCOMPARE(connected.size(), 0);
        QCOMPARE(server->eventClientCount(), 0);
    }
}

void TestHttpServer::eventsReachEveryClient()
{
    HttpLimits limits;
    limits.maxEventClients = 3;
    auto server = echoServer(limits);
    QVERIFY(server);
    connect(server.get(), &HttpServer::eventClientConnected, server.get(),
        [&](QWebSocket *client) { server->sendEvent(client, R"({"type":"hello"})"); });

    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(server->serverPort()));
    std::vector<std::unique_ptr<QWebSocket>> clients;
    std::vector<QStringList> received(3);
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<QWebSocket>());
        connect(clients.back().get(), &QWebSocket::textMessageReceived, this,
            [&received, i](const QString &text) { received[std::size_t(i)].append(text); });
        QWebSocketHandshakeOptions options;
        options.setSubprotocols({HttpAccess::eventSubprotocol()});
        clients.back()->open(QNetworkRequest(url), options);
    }
    for (auto &client : clients)
        QTRY_COMPARE(client->state(), QAbstractSocket::ConnectedState);
    QTRY_COMPARE(server->eventClientCount(), 3);
    QCOMPARE(clients.front()->subprotocol(), HttpAccess::eventSubprotocol());

    // One more than the bound is refused as plain HTTP.
    QCOMPARE(
        statusOf(exchange(server->serverPort(), handshake("/api/v1/events"), "\r\n\r\n")), 503);

    server->broadcastEvent(R"({"n":1})");
    server->broadcastEvent(R"({"n":2})");
    const QStringList expected{QStringLiteral(R"({"type":"hello"})"), QStringLiteral(R"({"n":1})"),
        QStringLiteral(R"({"n":2})")};
    for (const QStringList &messages : received)
        QTRY_COMPARE(messages, expected);

    // A closed client stops counting, and a message sent by a client beyond its bound closes it.
    clients[0]->close();
    QTRY_COMPARE(server->eventClientCount(), 2);
    clients[1]->sendTextMessage(QString(5000, QLatin1Char('x')));
    QTRY_COMPARE(clients[1]->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(server->eventClientCount(), 1);
    QTRY_COMPARE(server->connectionCount(), 1);

    // A server that runs for months keeps nothing of the clients that have gone (the socket of
    // the one still open is seen where the check looks).
    QVERIFY(!server->findChildren<QTcpSocket *>().isEmpty());
    clients[2]->close();
    QTRY_COMPARE(server->eventClientCount(), 0);
    QTRY_COMPARE(server->findChildren<QTcpSocket *>().size(), 0);
    QTRY_COMPARE(server->findChildren<QWebSocket *>().size(), 0);
}

void TestHttpServer::tokenFile()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("token"));
    QString error;
    QVERIFY(HttpAccess::readTokenFile(path, &error).isEmpty());
    QVERIFY(error.contains(path));

    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("  abc.DEF-123  \nsecond line\n");
    file.close();
    error.clear();
    QCOMPARE(HttpAccess::readTokenFile(path, &error), QByteArray("abc.DEF-123"));
    QVERIFY(error.isEmpty());
}

void TestHttpServer::requestDeadlines_data()
{
    QTest::addColumn<QByteArray>("head"); // sent at once
    QTest::addColumn<bool>("bodyPending"); // whether a body is still awaited after the head

    QTest::newRow("head sent a byte at a time") << QByteArray("G") << false;
    QTest::newRow("body sent a byte at a time")
        << QByteArray("PUT /p HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\n") << true;
}

// A client that keeps sending a byte now and then never lets the idle time run out; its
// request's deadline ends it all the same.
void TestHttpServer::requestDeadlines()
{
    QFETCH(QByteArray, head);
    HttpLimits limits;
    limits.headMs = 1500;
    limits.bodyMs = 500;
    limits.bodyBytesPerSecond = 1000; // 1000 bytes: 1.5 s
    auto server = echoServer(limits);
    QVERIFY(server);

    QTcpSocket client;
    QByteArray received;
    connect(&client, &QTcpSocket::readyRead, this, [&] { received += client.readAll(); });
    client.connectToHost(QHostAddress::LocalHost, server->serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write(head);
    QTimer trickle;
    connect(&trickle, &QTimer::timeout, this, [&] { client.write("x"); });
    trickle.start(200);
    QTRY_VERIFY_WITH_TIMEOUT(received.contains("\r\n\r\n"), 10000);
    trickle.stop();
    QCOMPARE(statusOf(received), 408);
    QVERIFY(received.contains("request_timeout"));
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(server->connectionCount(), 0);
}

void TestHttpServer::wrongTokensThrottled()
{
    auto server = echoServer();
    QVERIFY(server);
    const QByteArray token = "0123456789abcdefXYZ";
    server->setAccess(HttpAccess(token));
    qint64 now = 1000000;
    server->tokenThrottle().setClock([&now] { return now; });
    auto ask = [&](const QByteArray &bearer, const QByteArray &path = "/api/v1/state") {
        return exchange(server->serverPort(),
            "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nAuthorization: Bearer "
                + bearer + "\r\n\r\n");
    };
    auto retryAfter = [](const QByteArray &response) {
        const qsizetype at = response.indexOf("Retry-After: ");
        return at < 0 ? -1 : response.mid(at + 13, response.indexOf('\r', at) - at - 13).toInt();
    };

    // The handler of this server does not check tokens: what passes the throttle gets 200.
    // Requests without a token are not guesses.
    for (int i = 0; i < 2 * TokenThrottle::MaxFailures; ++i)
        QCOMPARE(statusOf(exchange(server->serverPort(),
                     "GET /api/v1/state HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")),
            200);
    for (int i = 0; i < TokenThrottle::MaxFailures; ++i)
        QCOMPARE(statusOf(ask("guess" + QByteArray::number(i))), 200);
    // Paused: the right token is refused too, and so is the event socket; the page is not.
    QByteArray refused = ask(token);
    QCOMPARE(statusOf(refused), 429);
    QVERIFY(refused.contains("\"too_many_failures\""));
    QCOMPARE(retryAfter(refused), 15);
    QCOMPARE(statusOf(exchange(server->serverPort(),
                 handshake("/api/v1/events", {"Authorization: Bearer " + token}), "\r\n\r\n")),
        429);
    QCOMPARE(statusOf(ask("guess", "/index.html")), 200);
    now += 10 * 1000;
    QCOMPARE(retryAfter(ask(token)), 5);

    // After the pause five more wrong tokens start a pause twice as long.
    now += 5 * 1000;
    for (int i = 0; i < TokenThrottle::MaxFailures; ++i)
        QCOMPARE(statusOf(ask("guess")), 200);
    QCOMPARE(retryAfter(ask(token)), 30);

    // A right token after the pause forgets the address.
    now += 30 * 1000;
    QCOMPARE(statusOf(ask(token)), 200);
    QCOMPARE(server->tokenThrottle().addressCount(), 0);
    for (int i = 0; i < TokenThrottle::MaxFailures; ++i)
        QCOMPARE(statusOf(ask("guess")), 200);
    QCOMPARE(retryAfter(ask(token)), 15);
}

// An event client need send nothing, but it must answer pings: one whose far end has gone
// is closed and its place freed; a live one stays.
void TestHttpServer::deadEventClientsClosed()
{
    HttpLimits limits;
    limits.eventPingMs = 200;
    limits.eventPongMs = 3000;
    auto server = echoServer(limits);
    QVERIFY(server);

    QWebSocket live;
    QWebSocketHandshakeOptions options;
    options.setSubprotocols({HttpAccess::eventSubprotocol()});
    live.open(QNetworkRequest(QUrl(
                  QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(server->serverPort()))),
        options);
    QTRY_COMPARE(live.state(), QAbstractSocket::ConnectedState);

    // A socket that made the handshake and then reads nothing and answers nothing.
    QTcpSocket dead;
    QByteArray received;
    connect(&dead, &QTcpSocket::readyRead, this, [&] { received += dead.readAll(); });
    dead.connectToHost(QHostAddress::LocalHost, server->serverPort());
    QVERIFY(dead.waitForConnected(5000));
    dead.write(handshake("/api/v1/events"));
    QTRY_VERIFY(received.startsWith("HTTP/1.1 101"));
    QTRY_COMPARE(server->eventClientCount(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(dead.state() == QAbstractSocket::UnconnectedState, 15000);
    QCOMPARE(server->eventClientCount(), 1);
    QCOMPARE(live.state(), QAbstractSocket::ConnectedState);
}

// With a certificate the same server speaks HTTPS and WSS, and plain HTTP gets nothing.
void TestHttpServer::httpsAndWss()
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        QSKIP("needs openssl(1) to make a certificate (scripts/install-deps installs it)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    QProcess make;
    make.setProcessChannelMode(QProcess::MergedChannels);
    make.start(openssl,
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
            QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-keyout"), key, QStringLiteral("-out"),
            cert});
    QVERIFY(make.waitForFinished(30000));
    QVERIFY2(make.exitCode() == 0, make.readAll().constData());

    QString error;
    QVERIFY(!HttpServer::loadTls(key, key, &error));
    QVERIFY2(error.contains(QStringLiteral("no PEM certificate")), qPrintable(error));
    QVERIFY(!HttpServer::loadTls(cert, cert, &error));
    QVERIFY2(error.contains(QStringLiteral("private key")), qPrintable(error));
    const auto tls = HttpServer::loadTls(cert, key, &error);
    QVERIFY2(tls, qPrintable(error));

    auto server = echoServer();
    QVERIFY(server);
    server->setTlsConfiguration(*tls);
    const QList<QSslCertificate> trusted = QSslCertificate::fromPath(cert);

    QSslSocket client;
    QSslConfiguration configuration = client.sslConfiguration();
    configuration.setCaCertificates(trusted);
    client.setSslConfiguration(configuration);
    client.setPeerVerifyName(QStringLiteral("127.0.0.1"));
    QByteArray received;
    connect(&client, &QSslSocket::readyRead, this, [&] { received += client.readAll(); });
    client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server->serverPort());
    QTRY_VERIFY2(client.isEncrypted(), qPrintable(client.errorString()));
    client.write("GET /secure HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QTRY_VERIFY(received.endsWith("/secure "));
    QCOMPARE(statusOf(received), 200);

    QWebSocket events;
    events.setSslConfiguration(configuration);
    QWebSocketHandshakeOptions options;
    options.setSubprotocols({HttpAccess::eventSubprotocol()});
    QNetworkRequest request(
        QUrl(QStringLiteral("wss://127.0.0.1:%1/api/v1/events").arg(server->serverPort())));
    request.setRawHeader("Origin", "https://127.0.0.1:" + QByteArray::number(server->serverPort()));
    events.open(request, options);
    QTRY_COMPARE(events.state(), QAbstractSocket::ConnectedState);
    QTRY_COMPARE(server->eventClientCount(), 1);

    const QByteArray plain = exchange(
        server->serverPort(), "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QVERIFY2(!plain.contains("/x"), plain.constData());
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
