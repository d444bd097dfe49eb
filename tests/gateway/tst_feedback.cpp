// Live feedback across both servers: 50 router panels on the Videohub port and 10 event
// sockets of the HTTP side, all on loopback, in front of the simulated switcher. Every route,
// whoever made it, reaches every client exactly once and in order.
#include "Gateway.h"
#include "GatewayApi.h"
#include "HttpAccess.h"
#include "HttpServer.h"
#include "SimulatorServer.h"
#include "VideohubServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QWebSocketHandshakeOptions>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

constexpr char EndPrelude[] = "END PRELUDE:\n\n";

// A router panel: a socket and everything it has received after its status dump.
class Panel final : public QObject
{
public:
    explicit Panel(quint16 port)
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] {
            in += socket.readAll();
            if (!dumped && in.contains(EndPrelude)) {
                in.remove(0, in.indexOf(EndPrelude) + qsizetype(sizeof(EndPrelude) - 1));
                dumped = true;
            }
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }

    QTcpSocket socket;
    QByteArray in;
    bool dumped = false;
};

// An event client of the HTTP side: the route events it has received, as "output input".
class EventClient final : public QObject
{
public:
    explicit EventClient(const QUrl &url)
    {
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
            const QJsonObject event = QJsonDocument::fromJson(text.toUtf8()).object();
            const QString type = event.value(QStringLiteral("type")).toString();
            if (type == QLatin1String("state"))
                welcomed = true;
            else if (type == QLatin1String("route"))
                routes.append(QStringLiteral("%1 %2")
                                  .arg(event.value(QStringLiteral("output")).toInt())
                                  .arg(event.value(QStringLiteral("input")).toInt()));
            else
                others.append(type);
        });
        QWebSocketHandshakeOptions options;
        options.setSubprotocols({HttpAccess::eventSubprotocol()});
        socket.open(QNetworkRequest(url), options);
    }

    QWebSocket socket;
    bool welcomed = false;
    QStringList routes;
    QStringList others;
};

QByteArray routing(const QByteArray &lines)
{
    return "VIDEO OUTPUT ROUTING:\n" + lines + "\n";
}

} // namespace

class TestFeedback : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyRouteReachesEveryClientOnceInOrder();
};

void TestFeedback::everyRouteReachesEveryClientOnceInOrder()
{
    QTemporaryDir folder;
    SimulatorServer simulator;
    QVERIFY(simulator.listenTcp());
    GatewayConfig config;
    config.target = GatewayConfig::Target::Tcp;
    config.host = QStringLiteral("127.0.0.1");
    config.tcpPort = simulator.tcpPort();
    config.pollMs = 20;
    config.timing = Timing::fast();
    config.settingsPath = folder.filePath(QStringLiteral("gateway.ini"));
    Gateway gateway(config);
    VideohubServer videohub(gateway, ClientPolicy{}, QStringLiteral("0123456789AB"));
    QVERIFY(videohub.listen(QHostAddress::LocalHost, 0));
    HttpServer http;
    GatewayApi api(gateway, http);
    QVERIFY(http.listen(QHostAddress::LocalHost));
    gateway.start();
    QTRY_VERIFY(gateway.state().present);
    QTRY_COMPARE(gateway.state().route(6), 6);

    std::vector<std::unique_ptr<Panel>> panels;
    for (int k = 0; k < 50; ++k)
        panels.push_back(std::make_unique<Panel>(videohub.port()));
    const QUrl events(QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(http.serverPort()));
    std::vector<std::unique_ptr<EventClient>> listeners;
    for (int k = 0; k < 10; ++k)
        listeners.push_back(std::make_unique<EventClient>(events));
    for (auto &panel : panels)
        QTRY_VERIFY(panel->dumped);
    for (auto &listener : listeners)
        QTRY_VERIFY(listener->welcomed);

    // A panel's salvo, an HTTP request, and a change at the switcher's front panel that only
    // the poll sees.
    panels[17]->socket.write(routing("0 3\n1 3\n"));
    QTRY_VERIFY(panels[17]->in.size() >= 5);
    QCOMPARE(panels[17]->in.left(5), QByteArray("ACK\n\n"));
    panels[17]->in.remove(0, 5);
    const QByteArray salvo = routing("0 3\n") + routing("1 3\n");
    for (auto &panel : panels)
        QTRY_COMPARE(panel->in, salvo);

    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(
        QUrl(QStringLiteral("http://127.0.0.1:%1/api/v1/routes/6").arg(http.serverPort())));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    QNetworkReply *reply = network.put(request, QByteArray(R"({"input": 1})"));
    QTRY_VERIFY(reply->isFinished());
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    reply->deleteLater();

    simulator.simulator().state().routes[3] = 6;

    const QByteArray all = salvo + routing("5 0\n") + routing("3 5\n");
    for (auto &panel : panels)
        QTRY_COMPARE(panel->in, all);
    const QStringList routes{
        QStringLiteral("1 4"), QStringLiteral("2 4"), QStringLiteral("6 1"), QStringLiteral("4 6")};
    for (auto &listener : listeners)
        QTRY_COMPARE(listener->routes, routes);

    // Nothing told twice: on the panels a PING's ACK comes next, on the event sockets the label
    // set last arrives after the same four routes.
    for (auto &panel : panels)
        panel->socket.write("PING:\n\n");
    for (auto &panel : panels)
        QTRY_COMPARE(panel->in, all + "ACK\n\n");
    bool labelled = false;
    gateway.setLabel(GatewaySide::Input, 2, QStringLiteral("Last"),
        [&](const GatewayResult &result) { labelled = result.ok(); });
    QTRY_VERIFY(labelled);
    for (auto &listener : listeners) {
        QTRY_VERIFY(listener->others.contains(QStringLiteral("label")));
        QCOMPARE(listener->routes, routes);
    }
}

QTEST_GUILESS_MAIN(TestFeedback)
#include "tst_feedback.moc"
