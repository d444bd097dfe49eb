// The JSON API and the event socket through real loopback sockets, over the gateway core that
// drives the simulated switcher over its own loopback link.
#include "Gateway.h"
#include "GatewayApi.h"
#include "GatewaySettings.h"
#include "HttpAccess.h"
#include "HttpServer.h"
#include "LoopLevelProbe.h"
#include "MatrixCtlRunner.h"
#include "SimulatorServer.h"
#include "TKVCOMControl.h"
#include "VideohubServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QWebSocketHandshakeOptions>
#include <QtTest>

#include <memory>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

struct Answer
{
    int status = 0;
    QJsonObject json;
    QByteArray body;
    QByteArray contentType;
    QByteArray authenticate;
};

// What the last fixture's probe saw nested, for the test's cleanup to report.
QString nestedReport;

// A switcher, the gateway that owns it, and the HTTP side serving the gateway.
struct Fixture
{
    // An empty settingsPath keeps labels and presets in memory.
    explicit Fixture(int queueLimit = 32, const QString &settingsPath = {})
    {
        simulator.listenTcp(QHostAddress::LocalHost);
        GatewayConfig config;
        config.target = GatewayConfig::Target::Tcp;
        config.host = QStringLiteral("127.0.0.1");
        config.tcpPort = simulator.tcpPort();
        config.pollMs = 100;
        config.queueLimit = queueLimit;
        config.timing = Timing::fast();
        config.reconnectMinMs = 50;
        config.reconnectMaxMs = 200;
        config.settingsPath = settingsPath;
        gateway = std::make_unique<Gateway>(config);
        api = std::make_unique<GatewayApi>(*gateway, server);
        server.listen(QHostAddress::LocalHost);
        network.setProxy(QNetworkProxy::NoProxy);
        probe.watch(*gateway);
        gateway->start();
    }
    ~Fixture()
    {
        if (!probe.nothingNested())
            nestedReport = probe.report();
    }
    Q_DISABLE_COPY_MOVE(Fixture)

    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path));
    }

    // A request from another host of the loopback network: its own connection from `from`,
    // closed after the answer.
    Answer callFrom(const QHostAddress &from, const QByteArray &method, const QString &path,
        const QByteArray &body = {})
    {
        QTcpSocket socket;
        QByteArray in;
        QObject::connect(&socket, &QTcpSocket::readyRead, [&] { in += socket.readAll(); });
        socket.bind(from);
        socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
        socket.write(method + ' ' + path.toLatin1()
            + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(server.serverPort())
            + "\r\nConnection: close\r\nContent-Type: application/json\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QEventLoop loop;
        QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        if (socket.state() != QAbstractSocket::UnconnectedState)
            loop.exec();
        in += socket.readAll();
        Answer answer;
        answer.status = in.mid(9, 3).toInt(); // "HTTP/1.1 200 OK"
        answer.body = in.mid(in.indexOf("\r\n\r\n") + 4);
        answer.json = QJsonDocument::fromJson(answer.body).object();
        return answer;
    }

    Answer call(const QByteArray &method, const QString &path, const QByteArray &body = {},
        const QList<QPair<QByteArray, QByteArray>> &headers = {})
    {
        QNetworkRequest request(url(path));
        if (!body.isEmpty())
            request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
        for (const auto &[name, value] : headers)
            request.setRawHeader(name, value);
        QNetworkReply *reply = network.sendCustomRequest(request, method, body);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        Answer answer;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.body = reply->readAll();
        answer.json = QJsonDocument::fromJson(answer.body).object();
        answer.contentType = reply->rawHeader("Content-Type");
        answer.authenticate = reply->rawHeader("WWW-Authenticate");
        reply->deleteLater();
        return answer;
    }

    SwitcherState &device() { return simulator.simulator().state(); }

    SimulatorServer simulator;
    std::unique_ptr<Gateway> gateway;
    HttpServer server;
    std::unique_ptr<GatewayApi> api;
    QNetworkAccessManager network;
    // The test waits in call()'s own event loop, one level deep.
    LoopLevelProbe probe{1};
};

QList<QVariant> routesOf(const QJsonObject &state)
{
    return state.value(QStringLiteral("routes")).toArray().toVariantList();
}

} // namespace

class TestGatewayApi : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void requests_data();
    void requests();
    void sameFactsAsMatrixctl_data();
    void sameFactsAsMatrixctl();
    void locksBelongToTheAddress();
    void salvoAndPresetWithALockedOutput();
    void switcherNotPresent();
    void silentSwitcherAnswered503();
    void routesKnownOnlyOnceRead();
    void queueFull();
    void token();
    void eventsReachEveryClientOnceInOrder();
    void labelRule_data();
    void labelRule();
    void changeNotSavedIsNotMade();
    void friendlyNameFromAPanel();
};

// No state change of the switcher was told from an event loop nested under the gateway.
void TestGatewayApi::cleanup()
{
    const QString report = std::exchange(nestedReport, QString());
    QVERIFY2(report.isEmpty(), qPrintable(report));
}

void TestGatewayApi::requests_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    // Routes of the simulated switcher afterwards (outputs 1..6); it starts at 1 2 3 4 5 6.
    QTest::addColumn<QList<int>>("routes");

    const QList<int> untouched{1, 2, 3, 4, 5, 6};
    QTest::newRow("state") << QByteArray("GET") << "/api/v1/state" << QByteArray() << 200 << ""
                           << untouched;
    QTest::newRow("one route") << QByteArray("PUT") << "/api/v1/routes/3"
                               << QByteArray(R"({"input": 5})") << 200 << ""
                               << QList<int>{1, 2, 5, 4, 5, 6};
    QTest::newRow("salvo") << QByteArray("POST") << "/api/v1/routes"
                           << QByteArray(R"({"routes": [{"output": 1, "input": 6},
                                                        {"output": 6, "input": 1}]})")
                           << 200 << "" << QList<int>{6, 2, 3, 4, 5, 1};
    QTest::newRow("preset") << QByteArray("POST") << "/api/v1/presets/1/apply" << QByteArray()
                            << 200 << "" << untouched;
    QTest::newRow("input out of range")
        << QByteArray("PUT") << "/api/v1/routes/3" << QByteArray(R"({"input": 7})") << 400
        << "bad_input" << untouched;
    QTest::newRow("input as text")
        << QByteArray("PUT") << "/api/v1/routes/3" << QByteArray(R"({"input": "5"})") << 400
        << "bad_input" << untouched;
    QTest::newRow("fraction") << QByteArray("PUT") << "/api/v1/routes/3"
                              << QByteArray(R"({"input": 2.5})") << 400 << "bad_input" << untouched;
    QTest::newRow("not json") << QByteArray("PUT") << "/api/v1/routes/3" << QByteArray("{input")
                              << 400 << "bad_input" << untouched;
    QTest::newRow("salvo with one bad route")
        << QByteArray("POST") << "/api/v1/routes"
        << QByteArray(R"({"routes": [{"output": 1, "input": 6}, {"output": 0, "input": 1}]})")
        << 400 << "bad_input" << untouched;
    QTest::newRow("empty salvo") << QByteArray("POST") << "/api/v1/routes"
                                 << QByteArray(R"({"routes": []})") << 400 << "bad_input"
                                 << untouched;
    QTest::newRow("output out of range")
        << QByteArray("PUT") << "/api/v1/routes/7" << QByteArray(R"({"input": 1})") << 404
        << "not_found" << untouched;
    QTest::newRow("preset out of range") << QByteArray("POST") << "/api/v1/presets/9/apply"
                                         << QByteArray() << 404 << "not_found" << untouched;
    QTest::newRow("unknown path") << QByteArray("GET") << "/api/v1/nothing" << QByteArray() << 404
                                  << "not_found" << untouched;
    QTest::newRow("wrong method") << QByteArray("DELETE") << "/api/v1/routes/3" << QByteArray()
                                  << 405 << "method_not_allowed" << untouched;
    QTest::newRow("power value") << QByteArray("PUT") << "/api/v1/power"
                                 << QByteArray(R"({"on": 1})") << 400 << "bad_input" << untouched;
    QTest::newRow("label too long") << QByteArray("PUT") << "/api/v1/labels/inputs/2"
                                    << QByteArray(R"({"label": ")" + QByteArray(300, 'x') + R"("})")
                                    << 400 << "bad_input" << untouched;
    QTest::newRow("lock without locked")
        << QByteArray("PUT") << "/api/v1/locks/2" << QByteArray(R"({"force": false})") << 400
        << "bad_input" << untouched;
    QTest::newRow("lock as text") << QByteArray("PUT") << "/api/v1/locks/2"
                                  << QByteArray(R"({"locked": "yes"})") << 400 << "bad_input"
                                  << untouched;
    QTest::newRow("force as number")
        << QByteArray("PUT") << "/api/v1/locks/2" << QByteArray(R"({"locked": false, "force": 1})")
        << 400 << "bad_input" << untouched;
    QTest::newRow("force to lock: no taking over")
        << QByteArray("PUT") << "/api/v1/locks/2"
        << QByteArray(R"({"locked": true, "force": true})") << 400 << "bad_input" << untouched;
    QTest::newRow("lock output out of range")
        << QByteArray("PUT") << "/api/v1/locks/7" << QByteArray(R"({"locked": true})") << 404
        << "not_found" << untouched;
    QTest::newRow("lock wrong method")
        << QByteArray("POST") << "/api/v1/locks/2" << QByteArray(R"({"locked": true})") << 405
        << "method_not_allowed" << untouched;
    QTest::newRow("locks wrong method")
        << QByteArray("PUT") << "/api/v1/locks" << QByteArray(R"({"locked": true})") << 405
        << "method_not_allowed" << untouched;
    QTest::newRow("preset routes short")
        << QByteArray("PUT") << "/api/v1/presets/2"
        << QByteArray(R"({"name": "A", "routes": [1, 2]})") << 400 << "bad_input" << untouched;
}

void TestGatewayApi::requests()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(QList<int>, routes);

    Fixture f;
    QTRY_VERIFY(f.gateway->state().present);
    // Preset 1 routes output k to input k; start elsewhere so that applying it shows.
    f.device().routes = {1, 2, 3, 4, 5, 6};
    if (path.contains(QLatin1String("presets/1/apply")))
        f.device().routes = {6, 5, 4, 3, 2, 1};

    const Answer answer = f.call(method, path, body);
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.contentType, QByteArray("application/json"));
    if (status == 200) {
        QVERIFY(answer.json.value(QStringLiteral("present")).toBool() || method == "GET");
    } else {
        QCOMPARE(answer.json.value(QStringLiteral("error")).toString(), error);
        QVERIFY(!answer.json.value(QStringLiteral("message")).toString().isEmpty());
    }
    const std::array<int, 6> expected{
        routes[0], routes[1], routes[2], routes[3], routes[4], routes[5]};
    QCOMPARE(f.device().routes, expected);
    if (method != "GET" && status == 200) {
        QList<QVariant> answered;
        for (const int input : routes)
            answered.append(input);
        QCOMPARE(routesOf(answer.json), answered);
    }
}

void TestGatewayApi::sameFactsAsMatrixctl_data()
{
    // matrixctl's command, the API's path, and the keys both must carry (empty: the whole
    // documents are the same).
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("routes") << u"route get"_s << u"/api/v1/routes"_s << QStringList();
    QTest::newRow("one route") << u"route get 3"_s << u"/api/v1/routes/3"_s << QStringList();
    QTest::newRow("power") << u"power status"_s << u"/api/v1/power"_s << QStringList();
    QTest::newRow("presets") << u"preset list"_s << u"/api/v1/presets"_s << QStringList();
    QTest::newRow("state: routes")
        << u"route get"_s << u"/api/v1/state"_s << QStringList{u"routes"_s};
    QTest::newRow("state: power") << u"power status"_s << u"/api/v1/state"_s
                                  << QStringList{u"power"_s};
    QTest::newRow("state: presets")
        << u"preset list"_s << u"/api/v1/state"_s << QStringList{u"presets"_s};
    QTest::newRow("state: model and version")
        << u"info"_s << u"/api/v1/state"_s << QStringList{u"model"_s, u"version"_s};
}

// A script reads the same names and shapes from matrixctl --json and from the API.
void TestGatewayApi::sameFactsAsMatrixctl()
{
    QFETCH(QString, command);
    QFETCH(QString, path);
    QFETCH(QStringList, keys);

    Fixture f;
    f.device().routes = {3, 1, 6, 4, 2, 5};
    QTRY_VERIFY(f.gateway->state().present);
    QTRY_COMPARE(f.gateway->state().route(1), 3);
    QTRY_VERIFY(!f.gateway->state().version.isEmpty());

    // The window's presets as they start, as the gateway's.
    QTemporaryDir dir;
    QFile settings(dir.filePath(u"Settings.ini"_s));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.close();
    testsupport::MatrixCtlRunner ctl;
    ctl.set(u"tcp"_s, u"127.0.0.1:%1"_s.arg(f.simulator.tcpPort()));
    const testsupport::ProgramRun run = ctl.run(
        QStringList{u"--tcp"_s, u"{tcp}"_s, u"--settings"_s, settings.fileName(), u"--json"_s}
        + command.split(u' '));
    QCOMPARE(run.code, 0);
    const QJsonObject fromCtl = QJsonDocument::fromJson(run.out.toUtf8()).object();
    const Answer answer = f.call("GET", path);
    QCOMPARE(answer.status, 200);
    if (keys.isEmpty()) {
        QCOMPARE(fromCtl, answer.json);
        return;
    }
    for (const QString &key : std::as_const(keys)) {
        QVERIFY2(fromCtl.contains(key), qPrintable(run.out));
        QCOMPARE(fromCtl.value(key), answer.json.value(key));
    }
}

// A lock is its address's: every connection from that host holds it, others are refused at
// its output until someone forces it open.
void TestGatewayApi::locksBelongToTheAddress()
{
    Fixture f;
    QTRY_VERIFY(f.gateway->state().present);
    const QHostAddress other(QStringLiteral("127.0.0.2"));
    const QString lock4 = QStringLiteral("/api/v1/locks/4");
    Answer answer = f.callFrom(other, "PUT", lock4, R"({"locked": true, "force": false})");
    QCOMPARE(answer.status, 200);
    const QJsonObject heldByOther{{QStringLiteral("output"), 4}, {QStringLiteral("locked"), true},
        {QStringLiteral("own"), false}};
    QJsonObject heldHere = heldByOther;
    heldHere.insert(QStringLiteral("own"), true);
    QCOMPARE(answer.json, heldHere);
    // The same host again, on a connection of its own: still its lock.
    QCOMPARE(f.callFrom(other, "GET", lock4).json, heldHere);
    QCOMPARE(f.call("GET", lock4).json, heldByOther);
    QCOMPARE(f.call("GET", QStringLiteral("/api/v1/state"))
                 .json.value(QStringLiteral("locked"))
                 .toArray()
                 .toVariantList(),
        (QVariantList{false, false, false, true, false, false}));

    // Another host can neither route the output nor lock or unlock it without force.
    answer = f.call("PUT", QStringLiteral("/api/v1/routes/4"), R"({"input": 1})");
    QCOMPARE(answer.status, 409);
    QCOMPARE(answer.json.value(QStringLiteral("error")).toString(), QStringLiteral("locked"));
    QCOMPARE(answer.json.value(QStringLiteral("lockedOutputs")).toArray(), QJsonArray{4});
    QCOMPARE(f.device().routes[3], 4);
    answer = f.call("PUT", lock4, R"({"locked": false})");
    QCOMPARE(answer.status, 409);
    QCOMPARE(answer.json.value(QStringLiteral("error")).toString(), QStringLiteral("locked"));
    QCOMPARE(f.call("PUT", lock4, R"({"locked": true, "force": false})").status, 409);
    // The owner routes it.
    QCOMPARE(f.callFrom(other, "PUT", QStringLiteral("/api/v1/routes/4"), R"({"input": 2})").status,
        200);
    QCOMPARE(f.device().routes[3], 2);

    // Forced open by anyone; then the output is anyone's to route and lock.
    answer = f.call("PUT", lock4, R"({"locked": false, "force": true})");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.json,
        (QJsonObject{{QStringLiteral("output"), 4}, {QStringLiteral("locked"), false},
            {QStringLiteral("own"), false}}));
    QCOMPARE(f.call("PUT", QStringLiteral("/api/v1/routes/4"), R"({"input": 1})").status, 200);
    QCOMPARE(f.device().routes[3], 1);
    QCOMPARE(f.call("PUT", lock4, R"({"locked": true})").json, heldHere);
    const QJsonArray all = f.callFrom(other, "GET", QStringLiteral("/api/v1/locks"))
                               .json.value(u"locks"_s)
                               .toArray();
    QCOMPARE(all.size(), 6);
    QCOMPARE(all.at(3).toObject(), heldByOther);
    QCOMPARE(all.at(0).toObject().value(u"locked"_s), QJsonValue(false));
    QCOMPARE(f.call("PUT", lock4, R"({"locked": false})").status, 200);
    QCOMPARE(f.callFrom(other, "GET", lock4).json.value(u"locked"_s), QJsonValue(false));
}

// The routes of a salvo or preset to outputs another host holds are left out, the rest made;
// the answer is 409 and names the outputs left out.
void TestGatewayApi::salvoAndPresetWithALockedOutput()
{
    Fixture f;
    QTRY_VERIFY(f.gateway->state().present);
    const QHostAddress other(QStringLiteral("127.0.0.2"));
    for (const char *output : {"2", "4"}) {
        QCOMPARE(f.callFrom(other, "PUT", u"/api/v1/locks/"_s + QLatin1String(output),
                      R"({"locked": true, "force": false})")
                     .status,
            200);
    }

    Answer answer = f.call("POST", QStringLiteral("/api/v1/routes"),
        R"({"routes": [{"output": 1, "input": 3}, {"output": 4, "input": 3},
                       {"output": 5, "input": 3}, {"output": 2, "input": 3}]})");
    QCOMPARE(answer.status, 409);
    QCOMPARE(answer.json.value(QStringLiteral("error")).toString(), QStringLiteral("locked"));
    QCOMPARE(answer.json.value(QStringLiteral("applied")).toInt(), 2);
    QCOMPARE(answer.json.value(QStringLiteral("lockedOutputs")).toArray(), (QJsonArray{4, 2}));
    QVERIFY(answer.json.value(QStringLiteral("message")).toString().contains(u"4, 2"_s));
    QCOMPARE(f.device().routes, (std::array<int, 6>{3, 2, 3, 4, 3, 6}));

    // Preset 1 routes output k to input k.
    f.device().routes = {6, 5, 4, 3, 2, 1};
    answer = f.call("POST", QStringLiteral("/api/v1/presets/1/apply"));
    QCOMPARE(answer.status, 409);
    QCOMPARE(answer.json.value(QStringLiteral("applied")).toInt(), 4);
    QCOMPARE(answer.json.value(QStringLiteral("lockedOutputs")).toArray(), (QJsonArray{2, 4}));
    QCOMPARE(f.device().routes, (std::array<int, 6>{1, 5, 3, 3, 5, 6}));
}

void TestGatewayApi::switcherNotPresent()
{
    Fixture f;
    QTRY_VERIFY(f.gateway->state().present);
    // The switcher falls silent: the link gives up on it and every try to reach it again fails.
    f.simulator.faults().dropReplies = 1000000;
    QTRY_VERIFY(!f.gateway->state().present);

    const Answer answer = f.call("PUT", QStringLiteral("/api/v1/routes/2"), R"({"input": 1})");
    QCOMPARE(answer.status, 503);
    QCOMPARE(answer.json.value(QStringLiteral("error")).toString(), QStringLiteral("not_present"));
    QVERIFY(answer.json.value(QStringLiteral("message"))
                .toString()
                .contains(f.gateway->state().linkText));
    QCOMPARE(f.call("GET", QStringLiteral("/api/v1/state")).json.value(QStringLiteral("present")),
        QJsonValue(false));

    // The gateway reconnects by itself; requests work again.
    f.simulator.faults().dropReplies = 0;
    QTRY_VERIFY_WITH_TIMEOUT(f.gateway->state().present, 10000);
    QCOMPARE(f.call("PUT", QStringLiteral("/api/v1/routes/2"), R"({"input": 1})").status, 200);
    QCOMPARE(f.device().routes[1], 1);
}

// A request in flight when the switcher falls silent gets 503 once the gateway's own two tries
// of a second are over, not after the window's five of five seconds.
void TestGatewayApi::silentSwitcherAnswered503()
{
    Fixture f;
    QTRY_VERIFY(f.gateway->state().present);
    f.gateway->link().setTiming(GatewayConfig().timing);
    f.simulator.faults().dropReplies = 1000000;
    const Answer answer = f.call("PUT", QStringLiteral("/api/v1/routes/2"), R"({"input": 4})");
    QCOMPARE(answer.status, 503);
    QCOMPARE(answer.json.value(QStringLiteral("error")).toString(), QStringLiteral("not_present"));
    QVERIFY(!f.gateway->state().present);
}

// `present` is the switcher reachable, in standby too, so that it can be switched on;
// `routesKnown` says whether the routes have been read since it was found or switched on.
// Until they are, no route is given: in standby, the routes from before are not taken as true.
void TestGatewayApi::routesKnownOnlyOnceRead()
{
    Fixture f;
    QTRY_VERIFY(f.gateway->state().present);
    Answer state = f.call("GET", QStringLiteral("/api/v1/state"));
    QCOMPARE(state.json.value(QStringLiteral("routesKnown")), QJsonValue(true));
    QCOMPARE(routesOf(state.json), (QList<QVariant>{1, 2, 3, 4, 5, 6}));

    QList<QJsonObject> events;
    QWebSocket socket;
    connect(&socket, &QWebSocket::textMessageReceived, this, [&events](const QString &text) {
        events.append(QJsonDocument::fromJson(text.toUtf8()).object());
    });
    QWebSocketHandshakeOptions options;
    options.setSubprotocols({HttpAccess::eventSubprotocol()});
    socket.open(QNetworkRequest(QUrl(
                    QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(f.server.serverPort()))),
        options);
    QTRY_COMPARE(events.size(), 1);
    QCOMPARE(events.first()
                 .value(QStringLiteral("state"))
                 .toObject()
                 .value(QStringLiteral("routesKnown")),
        QJsonValue(true));

    // Switched off at the switcher itself, found by the poll.
    f.device().powerOn = false;
    QTRY_COMPARE(f.gateway->state().power, std::optional<bool>(false));
    state = f.call("GET", QStringLiteral("/api/v1/state"));
    QCOMPARE(state.json.value(QStringLiteral("present")), QJsonValue(true));
    QCOMPARE(state.json.value(QStringLiteral("routesKnown")), QJsonValue(false));
    QJsonArray unknown;
    for (int output = 1; output <= 6; ++output)
        unknown.append(QJsonValue());
    QCOMPARE(state.json.value(QStringLiteral("routes")), QJsonValue(unknown));
    // Told at once: the routes are no longer known, and each is unknown.
    QTRY_VERIFY(events.size() >= 2);
    QCOMPARE(events.at(1),
        (QJsonObject{{QStringLiteral("type"), QStringLiteral("present")},
            {QStringLiteral("present"), true}, {QStringLiteral("routesKnown"), false},
            {QStringLiteral("link"), f.gateway->state().linkText}}));
    for (int output = 1; output <= 6; ++output)
        QTRY_VERIFY(events.contains(QJsonObject{{QStringLiteral("type"), QStringLiteral("route")},
            {QStringLiteral("output"), output}, {QStringLiteral("input"), QJsonValue()}}));

    // Switched on through the API: the routes are read again, then known.
    f.device().routes = {4, 4, 4, 4, 4, 4};
    QCOMPARE(f.call("PUT", QStringLiteral("/api/v1/power"), R"({"on": true})").status, 200);
    QTRY_VERIFY(f.gateway->state().routesKnown);
    state = f.call("GET", QStringLiteral("/api/v1/state"));
    QCOMPARE(state.json.value(QStringLiteral("routesKnown")), QJsonValue(true));
    QCOMPARE(routesOf(state.json), (QList<QVariant>{4, 4, 4, 4, 4, 4}));
    QTRY_COMPARE(events.constLast().value(QStringLiteral("routesKnown")), QJsonValue(true));
}

void TestGatewayApi::queueFull()
{
    Fixture f(1);
    QTRY_VERIFY(f.gateway->state().present);
    f.simulator.faults().delayMs = 50;

    // Several clients at once: one runs, one waits, the others are refused at once.
    QList<QNetworkReply *> replies;
    for (int i = 0; i < 5; ++i) {
        QNetworkRequest request(f.url(QStringLiteral("/api/v1/routes/%1").arg(i + 1)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
        replies.append(f.network.sendCustomRequest(request, "PUT", R"({"input": 6})"));
    }
    QList<int> statuses;
    for (QNetworkReply *reply : replies) {
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 20000);
        statuses.append(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
        if (statuses.last() == 429) {
            QCOMPARE(
                QJsonDocument::fromJson(reply->readAll()).object().value(QStringLiteral("error")),
                QJsonValue(QStringLiteral("queue_full")));
        }
        reply->deleteLater();
    }
    QVERIFY2(statuses.contains(429) && statuses.contains(200),
        qPrintable(QVariant::fromValue(statuses).toString()));
    for (const int status : statuses)
        QVERIFY(status == 200 || status == 429);
}

void TestGatewayApi::token()
{
    Fixture f;
    QTRY_VERIFY(f.gateway->state().present);
    // Without a token, a request that names the gateway by another site's name is refused:
    // that is how a page of that site reaches a loopback gateway through DNS rebinding.
    QCOMPARE(f.call("PUT", QStringLiteral("/api/v1/routes/1"), R"({"input": 5})",
                  {{"Host", "rebound.example:8080"}, {"Origin", "http://rebound.example:8080"}})
                 .status,
        403);
    QCOMPARE(f.device().routes[0], 1);
    QCOMPARE(
        f.call("GET", QStringLiteral("/api/v1/state"), {}, {{"Host", "localhost:8080"}}).status,
        200);

    f.server.setAccess(HttpAccess("s3cret"));

    Answer answer = f.call("GET", QStringLiteral("/api/v1/state"));
    QCOMPARE(answer.status, 401);
    QCOMPARE(answer.authenticate, QByteArray("Bearer"));
    QCOMPARE(answer.json.value(QStringLiteral("error")).toString(), QStringLiteral("unauthorized"));
    answer = f.call("PUT", QStringLiteral("/api/v1/routes/1"), R"({"input": 2})",
        {{"Authorization", "Bearer wrong"}});
    QCOMPARE(answer.status, 401);
    QTRY_VERIFY(f.gateway->state().present);
    QCOMPARE(f.device().routes[0], 1);
    answer = f.call("PUT", QStringLiteral("/api/v1/routes/1"), R"({"input": 2})",
        {{"Authorization", "Bearer s3cret"}});
    QCOMPARE(answer.status, 200);
    QCOMPARE(f.device().routes[0], 2);

    // The page itself needs no token; nothing in it is secret.
    answer = f.call("GET", QStringLiteral("/"));
    QCOMPARE(answer.status, 200);
    QVERIFY(answer.contentType.startsWith("text/html"));
    QVERIFY(answer.body.contains("app.js"));
    QCOMPARE(f.call("GET", QStringLiteral("/app.js")).status, 200);
    QCOMPARE(f.call("GET", QStringLiteral("/../CMakeLists.txt")).status, 404);

    // A page of another site open in the same browser cannot change anything.
    answer = f.call("PUT", QStringLiteral("/api/v1/routes/1"), R"({"input": 3})",
        {{"Authorization", "Bearer s3cret"}, {"Origin", "http://example.org"}});
    QCOMPARE(answer.status, 403);
    QCOMPARE(f.device().routes[0], 2);
}

void TestGatewayApi::eventsReachEveryClientOnceInOrder()
{
    Fixture f;
    QTRY_VERIFY(f.gateway->state().present);
    QTRY_COMPARE(f.gateway->state().route(6), 6);

    constexpr int Clients = 10;
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(f.server.serverPort()));
    std::vector<std::unique_ptr<QWebSocket>> clients;
    std::vector<QList<QJsonObject>> events(Clients);
    for (int i = 0; i < Clients; ++i) {
        clients.push_back(std::make_unique<QWebSocket>());
        connect(clients.back().get(), &QWebSocket::textMessageReceived, this,
            [&events, i](const QString &text) {
                events[std::size_t(i)].append(QJsonDocument::fromJson(text.toUtf8()).object());
            });
        QWebSocketHandshakeOptions options;
        options.setSubprotocols({HttpAccess::eventSubprotocol()});
        clients.back()->open(QNetworkRequest(url), options);
    }
    for (auto &events1 : events)
        QTRY_COMPARE(events1.size(), 1);
    for (auto &events1 : events) {
        QCOMPARE(events1.first().value(QStringLiteral("type")).toString(), QStringLiteral("state"));
        QCOMPARE(routesOf(events1.first().value(QStringLiteral("state")).toObject()).at(5), 6);
    }

    // One route through the API, then one changed behind the gateway at the switcher itself
    // (found by the poll).
    QCOMPARE(f.call("PUT", QStringLiteral("/api/v1/routes/6"), R"({"input": 2})").status, 200);
    f.device().routes[4] = 3;
    QTRY_COMPARE(f.gateway->state().route(5), 3);

    auto route = [](int output, int input) {
        return QJsonObject{{QStringLiteral("type"), QStringLiteral("route")},
            {QStringLiteral("output"), output}, {QStringLiteral("input"), input}};
    };
    // A lock, told without its owner; a label last: a route sent twice would show up before it.
    QCOMPARE(f.call("PUT", QStringLiteral("/api/v1/locks/3"), R"({"locked": true})").status, 200);
    const QJsonObject lock{{QStringLiteral("type"), QStringLiteral("lock")},
        {QStringLiteral("output"), 3}, {QStringLiteral("locked"), true}};
    QCOMPARE(
        f.call("PUT", QStringLiteral("/api/v1/labels/outputs/1"), R"({"label": "Stage"})").status,
        200);
    const QJsonObject label{{QStringLiteral("type"), QStringLiteral("label")},
        {QStringLiteral("side"), QStringLiteral("output")}, {QStringLiteral("port"), 1},
        {QStringLiteral("label"), QStringLiteral("Stage")}};
    const QList<QJsonObject> expected{route(6, 2), route(5, 3), lock, label};
    for (auto &events1 : events) {
        QTRY_COMPARE(events1.size(), 5);
        QCOMPARE(events1.mid(1), expected);
    }
}

void TestGatewayApi::labelRule_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says"); // in the refusal's message, or the label taken

    const QString label = QStringLiteral("/api/v1/labels/inputs/2");
    const QString clapper = QStringLiteral("\U0001F3AC"); // one character, two UTF-16 units
    auto json = [](const QString &text) {
        return QJsonDocument(QJsonObject{{QStringLiteral("label"), text}})
            .toJson(QJsonDocument::Compact);
    };
    QTest::newRow("255 characters")
        << label << json(QString(255, u'x')) << 200 << QString(255, u'x');
    QTest::newRow("255 characters outside the BMP")
        << label << json(clapper.repeated(255)) << 200 << clapper.repeated(255);
    QTest::newRow("256 characters")
        << label << json(QString(256, u'x')) << 400 << "at most 255 characters";
    QTest::newRow("256 characters outside the BMP")
        << label << json(clapper.repeated(256)) << 400 << "at most 255 characters";
    QTest::newRow("NUL") << label << QByteArray(R"({"label": "a\u0000b"})") << 400
                         << "control characters";
    QTest::newRow("line break") << label << QByteArray(R"({"label": "a\nb"})") << 400
                                << "control characters";
    QTest::newRow("tab") << label << QByteArray(R"({"label": "a\tb"})") << 400
                         << "control characters";
    QTest::newRow("C1 control") << label << QByteArray(R"({"label": "a\u0085b"})") << 400
                                << "control characters";
    QTest::newRow("lone surrogate")
        << label << QByteArray(R"({"label": "a\ud800b"})") << 400 << "not valid Unicode";
    QTest::newRow("invalid UTF-8")
        << label << QByteArray("{\"label\": \"caf\xE9\"}") << 400 << "not valid UTF-8";
    QTest::newRow("preset name with a control character")
        << QStringLiteral("/api/v1/presets/2")
        << QByteArray(R"({"name": "a\u0007", "routes": [1, 2, 3, 4, 5, 6]})") << 400
        << "control characters";
}

// One rule for label text: Unicode characters counted, no control characters, valid text; a
// refusal says which.
void TestGatewayApi::labelRule()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, says);
    Fixture f;
    const Answer answer = f.call("PUT", path, body);
    QCOMPARE(answer.status, status);
    if (status == 200) {
        QCOMPARE(f.gateway->state().label(GatewaySide::Input, 2), says);
        return;
    }
    QCOMPARE(answer.json.value(QStringLiteral("error")).toString(), QStringLiteral("bad_input"));
    const QString message = answer.json.value(QStringLiteral("message")).toString();
    QVERIFY2(message.contains(says), qPrintable(message));
    QCOMPARE(f.gateway->state().label(GatewaySide::Input, 2), QString());
    QCOMPARE(f.gateway->state().preset(2), GatewayState::defaultPresets()[1]);
}

// When gateway.ini cannot be written, a label or preset is not changed: 507, and no event.
void TestGatewayApi::changeNotSavedIsNotMade()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString settings = dir.filePath(QStringLiteral("gateway.ini"));
    Fixture f(32, settings);
    QTRY_VERIFY(f.gateway->state().present);
    QList<QJsonObject> events; // of labels and presets
    QWebSocket client;
    connect(&client, &QWebSocket::textMessageReceived, this, [&events](const QString &text) {
        const QJsonObject event = QJsonDocument::fromJson(text.toUtf8()).object();
        const QString type = event.value(QStringLiteral("type")).toString();
        if (type == QLatin1String("state") || type == QLatin1String("label")
            || type == QLatin1String("preset"))
            events.append(event);
    });
    QWebSocketHandshakeOptions options;
    options.setSubprotocols({HttpAccess::eventSubprotocol()});
    client.open(QNetworkRequest(QUrl(
                    QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(f.server.serverPort()))),
        options);
    QTRY_COMPARE(events.size(), 1);
    QVERIFY(QDir().mkdir(settings)); // a save cannot replace a folder

    Answer answer
        = f.call("PUT", QStringLiteral("/api/v1/labels/outputs/3"), R"({"label": "Wall"})");
    QCOMPARE(answer.status, 507);
    QCOMPARE(answer.json.value(QStringLiteral("error")).toString(), QStringLiteral("not_saved"));
    QVERIFY2(answer.json.value(QStringLiteral("message")).toString().contains(settings),
        answer.body.constData());
    answer = f.call("PUT", QStringLiteral("/api/v1/presets/4"),
        R"({"name": "Show", "routes": [2, 2, 2, null, null, null]})");
    QCOMPARE(answer.status, 507);
    QCOMPARE(answer.json.value(QStringLiteral("error")).toString(), QStringLiteral("not_saved"));
    QCOMPARE(f.call("GET", QStringLiteral("/api/v1/labels/outputs/3")).json,
        (QJsonObject{{QStringLiteral("label"), QString()}}));
    QCOMPARE(f.gateway->state().preset(4), GatewayState::defaultPresets()[3]);

    // Once the file can be written again the same change is made, kept and told once.
    QVERIFY(QDir().rmdir(settings));
    QCOMPARE(
        f.call("PUT", QStringLiteral("/api/v1/labels/outputs/3"), R"({"label": "Wall"})").status,
        200);
    QTRY_COMPARE(events.size(), 2);
    QCOMPARE(events.at(1).value(QStringLiteral("type")).toString(), QStringLiteral("label"));
    QCOMPARE(events.at(1).value(QStringLiteral("label")).toString(), QStringLiteral("Wall"));
    QCOMPARE(GatewaySettings(settings).load().outputLabels[2], QStringLiteral("Wall"));
}

// The name a router panel gives the switcher is the name the API shows, in the state and as a
// device event; without one, the model's name.
void TestGatewayApi::friendlyNameFromAPanel()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Fixture f(32, dir.filePath(QStringLiteral("gateway.ini")));
    VideohubServer videohub(*f.gateway, ClientPolicy{}, QStringLiteral("0123456789AB"));
    QVERIFY(videohub.listen(QHostAddress::LocalHost, 0));
    QTRY_VERIFY(f.gateway->state().present);
    QTRY_COMPARE(f.gateway->state().model, QStringLiteral("HDMI Matrix 6x6"));
    QCOMPARE(f.call("GET", QStringLiteral("/api/v1/state")).json.value(u"friendlyName"_s),
        QJsonValue(u"HDMI Matrix 6x6"_s));

    QList<QJsonObject> devices;
    QWebSocket client;
    connect(&client, &QWebSocket::textMessageReceived, this, [&devices](const QString &text) {
        const QJsonObject event = QJsonDocument::fromJson(text.toUtf8()).object();
        if (event.value(u"type"_s) == u"device"_s)
            devices.append(event);
    });
    QSignalSpy connected(&client, &QWebSocket::connected);
    QWebSocketHandshakeOptions options;
    options.setSubprotocols({HttpAccess::eventSubprotocol()});
    client.open(QNetworkRequest(QUrl(
                    QStringLiteral("ws://127.0.0.1:%1/api/v1/events").arg(f.server.serverPort()))),
        options);
    QTRY_COMPARE(connected.count(), 1);

    QTcpSocket panel;
    QByteArray heard;
    connect(&panel, &QTcpSocket::readyRead, this, [&] { heard += panel.readAll(); });
    panel.connectToHost(QHostAddress::LocalHost, videohub.port());
    QTRY_VERIFY(heard.contains("END PRELUDE:\n\n"));
    panel.write("VIDEOHUB DEVICE:\nFriendly name: Salle Pleyel\n\n");
    QTRY_VERIFY(heard.contains("ACK\n\n"));

    QCOMPARE(f.call("GET", QStringLiteral("/api/v1/state")).json.value(u"friendlyName"_s),
        QJsonValue(u"Salle Pleyel"_s));
    QTRY_COMPARE(devices.size(), 1);
    QCOMPARE(devices.first().value(u"friendlyName"_s), QJsonValue(u"Salle Pleyel"_s));
    QCOMPARE(devices.first().value(u"model"_s), QJsonValue(u"HDMI Matrix 6x6"_s));
}

QTEST_GUILESS_MAIN(TestGatewayApi)
#include "tst_gatewayapi.moc"
