// The gateway on a real MQTT broker: a mosquitto of the test's own on a free loopback port
// (never a system broker), with a password file and, for one case, TLS with a throwaway
// certificate. An observer client reads what the gateway publishes, as Home Assistant would,
// and sends the commands.
#include "Gateway.h"
#include "GatewayCommandLine.h"
#include "GatewaySettings.h"
#include "MqttBridge.h"
#include "MqttBroker.h"
#include "MqttLink.h"
#include "ProgramRun.h"
#include "SimulatorServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <signal.h>

using namespace Qt::StringLiterals;

namespace {

using testsupport::Broker;
using testsupport::GatewayPassword;
using testsupport::GatewayUser;
using testsupport::Observer;
using testsupport::ObserverPassword;
using testsupport::ObserverUser;

// The simulated switcher, the gateway that owns it, and the gateway on the broker.
struct Fixture
{
    explicit Fixture(const Broker &broker, const QString &id = QStringLiteral("gw1"))
    {
        simulator.listenTcp(QHostAddress::LocalHost);
        GatewayConfig config;
        config.target = GatewayConfig::Target::Tcp;
        config.host = QStringLiteral("127.0.0.1");
        config.tcpPort = simulator.tcpPort();
        config.pollMs = 100;
        config.timing = Timing::fast();
        gateway = std::make_unique<Gateway>(config);
        MqttBridgeConfig mqtt;
        mqtt.link = broker.linkConfig(GatewayUser, GatewayPassword);
        mqtt.link.clientId = id;
        mqtt.id = id;
        mqtt.configurationUrl = QStringLiteral("http://127.0.0.1:8080/");
        bridge = std::make_unique<MqttBridge>(*gateway, mqtt);
        gateway->start();
        QString error;
        started = bridge->start(&error);
    }
    QByteArray topic(const char *rest) const { return QByteArray("matrix/gw1/") + rest; }

    SimulatorServer simulator;
    std::unique_ptr<Gateway> gateway;
    std::unique_ptr<MqttBridge> bridge;
    bool started = false;
};

bool isSet(const QJsonObject &config, const char *key)
{
    const QJsonValue value = config.value(QLatin1String(key));
    return value.isString() ? !value.toString().isEmpty() : !value.isUndefined();
}

} // namespace

class TestGatewayMqtt final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void discoveryAsHomeAssistantReadsIt();
    void commands_data();
    void commands();
    void frontPanelChangePublished();
    void salvoGivesFewStateMessages();
    void brokerLostAndBack();
    void willAndCleanStop();
    void wrongPasswordRetriedWhileHttpServes();
    void tlsChecksTheHostName();
    void haRemove();
    void refusesToStart();
    void idSurvivesSaves();

private:
    bool m_haveBroker = false;
};

void TestGatewayMqtt::init()
{
    MATRIX_BROKER_OR_SKIP();
}

// Every config parses, carries what Home Assistant requires of its component, names the
// availability topic and one device, and has a unique_id of its own; the outputs' options are
// unique and never empty, and come again with the new texts when a label changes.
void TestGatewayMqtt::discoveryAsHomeAssistantReadsIt()
{
    Broker broker;
    QVERIFY(broker.setUp() && broker.start());
    Fixture f(broker);
    QVERIFY(f.started);
    QCOMPARE(f.gateway
                 ->setLabels(GatewaySide::Input,
                     {{1, QStringLiteral("Apple TV")}, {3, QStringLiteral("Apple TV")}})
                 .error,
        GatewayError::None);
    Observer ha(broker.linkConfig(ObserverUser, ObserverPassword));
    QVERIFY(ha.started);
    const QByteArray select1 = "homeassistant/select/gw1/output_1/config";
    QTRY_VERIFY_WITH_TIMEOUT(ha.json(select1)
                                 .value(QStringLiteral("options"))
                                 .toArray()
                                 .contains(QStringLiteral("Apple TV (3)")),
        20000);

    QSet<QString> uniqueIds;
    int configs = 0;
    for (auto it = ha.last.cbegin(); it != ha.last.cend(); ++it) {
        if (!it.key().startsWith("homeassistant/") || !it.key().endsWith("/config"))
            continue;
        ++configs;
        const QString component = QString::fromUtf8(it.key().split('/').at(1));
        QJsonParseError error;
        const QJsonObject config = QJsonDocument::fromJson(it.value(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY2(isSet(config, "name") && isSet(config, "unique_id"), it.key().constData());
        QVERIFY(!uniqueIds.contains(config.value(QStringLiteral("unique_id")).toString()));
        uniqueIds.insert(config.value(QStringLiteral("unique_id")).toString());
        QCOMPARE(config.value(QStringLiteral("availability"))
                     .toArray()
                     .first()[QStringLiteral("topic")]
                     .toString(),
            QStringLiteral("matrix/gw1/status"));
        const QJsonObject device = config.value(QStringLiteral("device")).toObject();
        QCOMPARE(device.value(QStringLiteral("identifiers")).toArray(),
            QJsonArray{QStringLiteral("gw1")});
        QCOMPARE(
            device.value(QStringLiteral("model")).toString(), QStringLiteral("HDMI Matrix 6x6"));
        QVERIFY(isSet(device, "name") && isSet(device, "sw_version"));
        QCOMPARE(device.value(QStringLiteral("configuration_url")).toString(),
            QStringLiteral("http://127.0.0.1:8080/"));
        if (component == QLatin1String("select")) {
            QVERIFY(isSet(config, "command_topic") && isSet(config, "state_topic"));
            const QJsonArray options = config.value(QStringLiteral("options")).toArray();
            QCOMPARE(options.size(), GatewayPorts);
            QSet<QString> texts;
            for (const QJsonValue &option : options) {
                QVERIFY(!option.toString().isEmpty());
                texts.insert(option.toString());
            }
            QCOMPARE(texts.size(), GatewayPorts);
        } else if (component == QLatin1String("switch") || component == QLatin1String("button")) {
            QVERIFY(isSet(config, "command_topic"));
        } else {
            QCOMPARE(component, QStringLiteral("binary_sensor"));
            QCOMPARE(config.value(QStringLiteral("device_class")).toString(),
                QStringLiteral("connectivity"));
            QCOMPARE(config.value(QStringLiteral("name")).toString(),
                QStringLiteral("Switcher reachable"));
            QCOMPARE(config.value(QStringLiteral("state_topic")).toString(),
                QStringLiteral("matrix/gw1/present"));
        }
    }
    QCOMPARE(configs, 6 + 1 + 8 + 1);
    QCOMPARE(ha.json(select1).value(QStringLiteral("options")).toArray(),
        (QJsonArray{u"Apple TV (1)"_s, u"Input 2"_s, u"Apple TV (3)"_s, u"Input 4"_s, u"Input 5"_s,
            u"Input 6"_s}));
    // The state topic of output 1 carries the option text, exactly as the config lists it.
    QTRY_COMPARE(ha.last.value(f.topic("output/1")), QByteArray("Apple TV (1)"));

    bool saved = false;
    f.gateway->setLabel(GatewaySide::Input, 3, QStringLiteral("Blu-ray"),
        [&](const GatewayResult &r) { saved = r.ok(); });
    QTRY_VERIFY(saved);
    QTRY_COMPARE(ha.json(select1).value(QStringLiteral("options")).toArray(),
        (QJsonArray{
            u"Apple TV"_s, u"Input 2"_s, u"Blu-ray"_s, u"Input 4"_s, u"Input 5"_s, u"Input 6"_s}));
    QTRY_COMPARE(ha.last.value(f.topic("output/1")), QByteArray("Apple TV"));

    // Home Assistant back from a restart: the configs come again.
    const int before = ha.count(select1);
    QVERIFY(ha.link.publish("homeassistant/status", "online", false));
    QTRY_VERIFY(ha.count(select1) > before);
}

void TestGatewayMqtt::commands_data()
{
    QTest::addColumn<QByteArray>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QList<int>>("routes"); // the switcher's routes after it
    QTest::addColumn<QString>("error"); // the error message's outcome; empty: none
    const QList<int> before{1, 2, 3, 4, 5, 6};
    QTest::newRow("by label") << QByteArray("output/2/set") << QByteArray("Camera")
                              << QList<int>{1, 4, 3, 4, 5, 6} << QString();
    QTest::newRow("by option of an empty label")
        << QByteArray("output/2/set") << QByteArray("Input 6") << QList<int>{1, 6, 3, 4, 5, 6}
        << QString();
    QTest::newRow("by number") << QByteArray("output/6/set") << QByteArray("3")
                               << QList<int>{1, 2, 3, 4, 5, 3} << QString();
    QTest::newRow("salvo") << QByteArray(
        "salvo/set") << QByteArray(R"({"routes":[{"output":1,"input":5},{"output":3,"input":5}]})")
                           << QList<int>{5, 2, 5, 4, 5, 6} << QString();
    QTest::newRow("preset by name") << QByteArray("preset/set") << QByteArray("Reverse")
                                    << QList<int>{6, 5, 4, 3, 5, 1} << QString();
    QTest::newRow("preset by number")
        << QByteArray("preset/set") << QByteArray("2") << QList<int>{6, 5, 4, 3, 5, 1} << QString();
    QTest::newRow("power off") << QByteArray("power/set") << QByteArray("OFF") << before
                               << QString();
    QTest::newRow("unknown label") << QByteArray("output/2/set") << QByteArray("Projector")
                                   << before << QStringLiteral("bad_input");
    QTest::newRow("number out of range")
        << QByteArray("output/2/set") << QByteArray("7") << before << QStringLiteral("bad_input");
    QTest::newRow("no such output")
        << QByteArray("output/9/set") << QByteArray("1") << before << QStringLiteral("bad_input");
    QTest::newRow("locked by a panel")
        << QByteArray("output/5/set") << QByteArray("1") << before << QStringLiteral("locked");
    QTest::newRow("salvo not JSON") << QByteArray("salvo/set") << QByteArray("{\"routes\":[")
                                    << before << QStringLiteral("bad_input");
    QTest::newRow("salvo port out of range")
        << QByteArray("salvo/set")
        << QByteArray(R"({"routes":[{"output":1,"input":2},{"output":0,"input":1}]})") << before
        << QStringLiteral("bad_input");
    QTest::newRow("oversized") << QByteArray("output/2/set") << QByteArray(5000, '4') << before
                               << QStringLiteral("bad_input");
    QTest::newRow("oversized salvo")
        << QByteArray("salvo/set")
        << (QByteArray(R"({"routes":[)") + QByteArray(R"({"output":1,"input":2},)").repeated(300)
               + QByteArray(R"({"output":1,"input":2}]})"))
        << before << QStringLiteral("bad_input");
    QTest::newRow("not UTF-8") << QByteArray("output/2/set") << QByteArray("\xff\xfe") << before
                               << QStringLiteral("bad_input");
    QTest::newRow("power neither ON nor OFF")
        << QByteArray("power/set") << QByteArray("maybe") << before << QStringLiteral("bad_input");
    QTest::newRow("unknown command")
        << QByteArray("reboot/set") << QByteArray("1") << before << QStringLiteral("bad_input");
}

// Commands by label, by number, as a salvo and a preset reach the switcher through the
// gateway's queue; a refused or unreadable one publishes an error and changes nothing.
void TestGatewayMqtt::commands()
{
    QFETCH(QByteArray, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QList<int>, routes);
    QFETCH(QString, error);
    Broker broker;
    QVERIFY(broker.setUp() && broker.start());
    Fixture f(broker);
    QVERIFY(f.started);
    QCOMPARE(f.gateway->setLabels(GatewaySide::Input, {{4, QStringLiteral("Camera")}}).error,
        GatewayError::None);
    // Output 5 is locked by a panel: the preset leaves it as it is.
    GatewayPreset reverse{QStringLiteral("Reverse"), {6, 5, 4, 3, 0, 1}};
    bool saved = false;
    f.gateway->setPreset(2, reverse, [&](const GatewayResult &r) { saved = r.ok(); });
    QTRY_VERIFY(saved);
    const QHostAddress panel(QStringLiteral("127.0.0.2"));
    QVERIFY(f.gateway->lock(5, panel).ok());
    Observer client(broker.linkConfig(ObserverUser, ObserverPassword));
    QVERIFY(client.started);
    QTRY_VERIFY_WITH_TIMEOUT(
        client.connected() && f.bridge->link().status() == MqttLink::Status::Connected, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(client.last.value(f.topic("present")) == "true", 20000);
    // The gateway's subscriptions are made before its status goes out.
    QTRY_COMPARE(client.last.value(f.topic("status")), QByteArray("online"));

    QVERIFY(client.link.publish(f.topic("") + topic, payload, false));
    if (error.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(QList<int>(f.simulator.simulator().state().routes.begin(),
                                     f.simulator.simulator().state().routes.end())
                == routes,
            10000);
        // The route is published back as it now is.
        const QJsonArray published
            = client.json(f.topic("state")).value(QStringLiteral("routes")).toArray();
        QTRY_VERIFY(
            client.json(f.topic("state")).value(QStringLiteral("routes")).toArray().toVariantList()
            == QJsonArray::fromVariantList(QVariantList(routes.begin(), routes.end()))
                   .toVariantList());
        Q_UNUSED(published);
        QCOMPARE(client.count(f.topic("error")), 0);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(client.count(f.topic("error")) == 1, 10000);
        const QJsonObject message = client.json(f.topic("error"));
        QCOMPARE(message.value(QStringLiteral("error")).toString(), error);
        QCOMPARE(message.value(QStringLiteral("command")).toString(), QString::fromUtf8(topic));
        QVERIFY(!message.value(QStringLiteral("message")).toString().isEmpty());
        QCOMPARE(QList<int>(f.simulator.simulator().state().routes.begin(),
                     f.simulator.simulator().state().routes.end()),
            routes);
    }
    if (topic == "power/set" && error.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(!f.simulator.simulator().state().powerOn, 10000);
        QTRY_COMPARE(client.last.value(f.topic("power")), QByteArray("OFF"));
        return; // a switcher that is off takes no routes
    }
    // The gateway takes the next command as before.
    QVERIFY(client.link.publish(f.topic("output/1/set"), "2", false));
    QTRY_COMPARE(f.simulator.simulator().state().routes[0], 2);
}

// A route changed at the switcher's front panel is found by the poll and published.
void TestGatewayMqtt::frontPanelChangePublished()
{
    Broker broker;
    QVERIFY(broker.setUp() && broker.start());
    Fixture f(broker);
    Observer client(broker.linkConfig(ObserverUser, ObserverPassword));
    QVERIFY(client.started);
    QTRY_VERIFY_WITH_TIMEOUT(client.last.value(f.topic("output/4")) == "Input 4", 20000);
    f.simulator.simulator().state().routes[3] = 6;
    QTRY_COMPARE_WITH_TIMEOUT(client.last.value(f.topic("output/4")), QByteArray("Input 6"), 10000);
    QTRY_COMPARE(
        client.json(f.topic("state")).value(QStringLiteral("routes")).toArray().at(3).toInt(), 6);
    f.simulator.simulator().state().powerOn = false;
    QTRY_COMPARE_WITH_TIMEOUT(client.last.value(f.topic("power")), QByteArray("OFF"), 10000);
}

// Each route of a salvo is published as it is made; the large state message follows them, once
// for changes close together, and ends with all of them.
void TestGatewayMqtt::salvoGivesFewStateMessages()
{
    Broker broker;
    QVERIFY(broker.setUp() && broker.start());
    Fixture f(broker);
    QVERIFY(f.started);
    Observer client(broker.linkConfig(ObserverUser, ObserverPassword));
    QVERIFY(client.started);
    const auto stateRoutes
        = [&] { return client.json(f.topic("state")).value(QStringLiteral("routes")).toArray(); };
    QTRY_VERIFY_WITH_TIMEOUT(stateRoutes() == QJsonArray({1, 2, 3, 4, 5, 6}), 20000);
    QTRY_COMPARE(client.last.value(f.topic("status")), QByteArray("online"));
    const qsizetype before = client.received.size();

    QVERIFY(client.link.publish(f.topic("salvo/set"),
        R"({"routes": [{"output": 1, "input": 6}, {"output": 2, "input": 5},
            {"output": 3, "input": 4}, {"output": 4, "input": 3}, {"output": 5, "input": 2},
            {"output": 6, "input": 1}]})",
        false));
    QTRY_VERIFY_WITH_TIMEOUT(stateRoutes() == QJsonArray({6, 5, 4, 3, 2, 1}), 10000);
    QTest::qWait(4 * MqttBridge::StateIntervalMs); // nothing more is due

    int states = 0;
    int outputs = 0;
    for (qsizetype k = before; k < client.received.size(); ++k) {
        const QByteArray &topic = client.received.at(k).first;
        if (topic == f.topic("state")) {
            ++states;
        } else if (topic.startsWith(f.topic("output/"))) {
            QCOMPARE(states, 0); // each output before the state that holds it
            ++outputs;
        }
    }
    QCOMPARE(outputs, 6);
    QVERIFY2(states >= 1 && states < outputs, qPrintable(QString::number(states)));
}

// The broker killed and started again: the gateway connects again within its capped back-off,
// subscribes again and publishes its retained topics again, with what changed while it was away.
void TestGatewayMqtt::brokerLostAndBack()
{
    Broker broker;
    QVERIFY(broker.setUp() && broker.start());
    Fixture f(broker);
    QTRY_VERIFY_WITH_TIMEOUT(f.bridge->link().status() == MqttLink::Status::Connected, 20000);
    broker.kill();
    QTRY_VERIFY_WITH_TIMEOUT(f.bridge->link().status() == MqttLink::Status::Disconnected, 10000);
    QCOMPARE(f.bridge->statusJson().value(QStringLiteral("status")).toString(),
        QStringLiteral("disconnected"));
    f.simulator.simulator().state().routes[1] = 5;
    QTRY_COMPARE_WITH_TIMEOUT(f.gateway->state().route(2), 5, 10000);
    f.simulator.simulator().state().routes[1] = 3; // only the latest goes out
    QTRY_COMPARE_WITH_TIMEOUT(f.gateway->state().route(2), 3, 10000);
    QTest::qWait(1500); // the back-off grows while the broker is away
    QVERIFY(broker.start());
    // A broker without persistence lost every retained message: all of them come from the gateway.
    Observer client(broker.linkConfig(ObserverUser, ObserverPassword));
    QVERIFY(client.started);
    QTRY_VERIFY_WITH_TIMEOUT(f.bridge->link().status() == MqttLink::Status::Connected, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(client.last.value(f.topic("output/2")), QByteArray("Input 3"), 15000);
    QCOMPARE(client.count(f.topic("output/2")), 1);
    QTRY_COMPARE(client.last.value(f.topic("status")), QByteArray("online"));
    QTRY_VERIFY(client.last.contains("homeassistant/switch/gw1/power/config"));
    // And it takes commands again.
    QVERIFY(client.link.publish(f.topic("output/2/set"), "Input 1", false));
    QTRY_COMPARE_WITH_TIMEOUT(f.simulator.simulator().state().routes[1], 1, 10000);
}

// The real program: offline is its will (seen by another client when it dies) and is published
// at a clean stop.
void TestGatewayMqtt::willAndCleanStop()
{
    Broker broker;
    QVERIFY(broker.setUp() && broker.start());
    QTemporaryDir dir;
    QFile password(dir.filePath(QStringLiteral("password")));
    QVERIFY(
        password.open(QIODevice::WriteOnly) && password.write(GatewayPassword.toUtf8() + "\n") > 0);
    password.close();
    Observer client(broker.linkConfig(ObserverUser, ObserverPassword));
    QVERIFY(client.started);
    const QStringList arguments{QStringLiteral("--demo"), QStringLiteral("--settings"),
        dir.filePath(QStringLiteral("gateway.ini")), QStringLiteral("--videohub-port"),
        QStringLiteral("0"), QStringLiteral("--http-port"), QStringLiteral("0"),
        QStringLiteral("--mqtt"), broker.url(), QStringLiteral("--mqtt-user"), GatewayUser,
        QStringLiteral("--mqtt-password-file"), password.fileName()};
    QString id;
    for (const bool clean : {false, true}) {
        QProcess gateway;
        gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH), arguments);
        QVERIFY(gateway.waitForStarted());
        QString out;
        QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromUtf8(gateway.readAllStandardOutput()))
                                     .contains(QStringLiteral("MQTT topics under matrix/")),
            20000);
        const QRegularExpressionMatch line
            = QRegularExpression(QStringLiteral("MQTT topics under matrix/(\\S+) on")).match(out);
        QVERIFY2(line.hasMatch(), qPrintable(out));
        const QString thisId = line.captured(1);
        // The id made at the first start is kept in gateway.ini.
        if (id.isEmpty())
            id = thisId;
        QCOMPARE(thisId, id);
        const QByteArray status = QStringLiteral("matrix/%1/status").arg(id).toUtf8();
        QTRY_COMPARE_WITH_TIMEOUT(client.last.value(status), QByteArray("online"), 20000);
        if (clean) {
            gateway.terminate();
            QVERIFY(gateway.waitForFinished(10000));
            QCOMPARE(gateway.exitCode(), 0);
        } else {
            gateway.kill();
            QVERIFY(gateway.waitForFinished(10000));
        }
        QTRY_COMPARE_WITH_TIMEOUT(client.last.value(status), QByteArray("offline"), 20000);
        // A clean stop disconnects cleanly, which keeps the broker from publishing the will:
        // its offline is the gateway's own.
        QCOMPARE(broker.log().contains(QStringLiteral("Received DISCONNECT from ") + id), clean);
    }
    QVERIFY(id.startsWith(QStringLiteral("gateway-")));
}

// A login the broker refuses is told once with its reason and tried again at the capped
// back-off, while the switcher's HTTP side serves and shows the MQTT link's status; once the
// broker takes the password, the gateway connects by itself.
void TestGatewayMqtt::wrongPasswordRetriedWhileHttpServes()
{
    Broker broker;
    QVERIFY(broker.setUp() && broker.start());
    QTemporaryDir dir;
    QFile password(dir.filePath(QStringLiteral("password")));
    QVERIFY(password.open(QIODevice::WriteOnly) && password.write("not-the-password\n") > 0);
    password.close();
    QProcess gateway;
    gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH),
        {QStringLiteral("--demo"), QStringLiteral("--settings"),
            dir.filePath(QStringLiteral("gateway.ini")), QStringLiteral("--videohub-port"),
            QStringLiteral("0"), QStringLiteral("--http-port"), QStringLiteral("0"),
            QStringLiteral("--mqtt"), broker.url(), QStringLiteral("--mqtt-id"),
            QStringLiteral("refused"), QStringLiteral("--mqtt-user"), GatewayUser,
            QStringLiteral("--mqtt-password-file"), password.fileName()});
    QVERIFY(gateway.waitForStarted());
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromUtf8(gateway.readAllStandardOutput()))
                                 .contains(QStringLiteral("MQTT topics")),
        20000);
    const QRegularExpressionMatch http
        = QRegularExpression(QStringLiteral("HTTP server listening on 127.0.0.1:(\\d+)"))
              .match(out);
    QVERIFY(http.hasMatch());
    QString err;
    QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromUtf8(gateway.readAllStandardError()))
                                 .contains(QStringLiteral("not authorised")),
        20000);
    // Tried again: the broker sees the same client more than once.
    QTRY_VERIFY_WITH_TIMEOUT(
        broker.log().count(QStringLiteral("disconnected, not authorised")) >= 3, 20000);
    QTest::qWait(2000);
    err += QString::fromUtf8(gateway.readAllStandardError());
    QCOMPARE(err.count(QStringLiteral("not authorised")), 1);

    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    auto state = [&] {
        QNetworkReply *reply = network.get(QNetworkRequest(
            QUrl(QStringLiteral("http://127.0.0.1:%1/api/v1/state").arg(http.captured(1)))));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        const QJsonObject json = QJsonDocument::fromJson(reply->readAll()).object();
        reply->deleteLater();
        return json;
    };
    QJsonObject answer = state();
    QCOMPARE(answer.value(QStringLiteral("present")).toBool(), true);
    QCOMPARE(
        answer.value(QStringLiteral("mqtt")).toObject().value(QStringLiteral("status")).toString(),
        QStringLiteral("refused"));
    QVERIFY(answer.value(QStringLiteral("mqtt"))
                .toObject()
                .value(QStringLiteral("reason"))
                .toString()
                .contains(QStringLiteral("not authorised")));

    QVERIFY(broker.addUser(GatewayUser, QStringLiteral("not-the-password")));
    broker.reload();
    QTRY_VERIFY_WITH_TIMEOUT(
        state().value(QStringLiteral("mqtt")).toObject().value(QStringLiteral("status")).toString()
            == QLatin1String("connected"),
        20000);
    gateway.terminate();
    QVERIFY(gateway.waitForFinished(10000));
    QCOMPARE(gateway.exitCode(), 0);
}

// With mqtts the broker's certificate is checked against the host name given: "localhost"
// matches the certificate, the same broker named by its address does not.
void TestGatewayMqtt::tlsChecksTheHostName()
{
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty()) {
        if (qEnvironmentVariableIsSet("MATRIX_REQUIRE_MQTT"))
            QFAIL("needs openssl(1) to make a certificate");
        QSKIP("needs openssl(1) to make a certificate");
    }
    Broker broker;
    QVERIFY(broker.setUp(true) && broker.start());
    MqttLinkConfig config = broker.linkConfig(ObserverUser, ObserverPassword);
    config.tls = true;
    config.caFile = broker.path("cert.pem");
    config.host = QStringLiteral("localhost");
    config.clientId = QStringLiteral("tls-by-name");
    MqttLink byName(config);
    QString error;
    QVERIFY2(byName.start(&error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(byName.status(), MqttLink::Status::Connected, 20000);

    config.host = QStringLiteral("127.0.0.1");
    config.clientId = QStringLiteral("tls-by-address");
    MqttLink byAddress(config);
    QVERIFY(byAddress.start(&error));
    QTRY_COMPARE_WITH_TIMEOUT(byAddress.status(), MqttLink::Status::Disconnected, 20000);
    QVERIFY2(!byAddress.reason().isEmpty(), qPrintable(byAddress.reason()));
    QVERIFY(!broker.log().contains(QStringLiteral("as tls-by-address")));
}

// --ha-remove empties every retained config of the device and the gateway's retained topics.
void TestGatewayMqtt::haRemove()
{
    Broker broker;
    QVERIFY(broker.setUp() && broker.start());
    {
        Fixture f(broker);
        Observer client(broker.linkConfig(ObserverUser, ObserverPassword));
        QVERIFY(client.started);
        QTRY_VERIFY_WITH_TIMEOUT(
            client.last.contains("homeassistant/binary_sensor/gw1/reachable/config")
                && client.last.contains(f.topic("state")),
            20000);
        f.bridge->stop();
    }
    QTemporaryDir dir;
    QFile password(dir.filePath(QStringLiteral("password")));
    QVERIFY(password.open(QIODevice::WriteOnly) && password.write(GatewayPassword.toUtf8()) > 0);
    password.close();
    const testsupport::ProgramRun run = testsupport::runProgram(QStringLiteral(MATRIX_GATEWAY_PATH),
        {QStringLiteral("--settings"), dir.filePath(QStringLiteral("gateway.ini")),
            QStringLiteral("--mqtt"), broker.url(), QStringLiteral("--mqtt-id"),
            QStringLiteral("gw1"), QStringLiteral("--mqtt-user"), GatewayUser,
            QStringLiteral("--mqtt-password-file"), password.fileName(),
            QStringLiteral("--ha-remove")});
    QVERIFY2(run.code == 0, qPrintable(run.err));
    QVERIFY(run.out.contains(QStringLiteral("Removed the device gw1")));
    // A new subscriber gets nothing retained from that gateway any more.
    Observer late(broker.linkConfig(ObserverUser, ObserverPassword));
    QVERIFY(late.started);
    QTRY_VERIFY_WITH_TIMEOUT(late.connected(), 20000);
    QTest::qWait(1000);
    for (auto it = late.last.cbegin(); it != late.last.cend(); ++it)
        QVERIFY2(!it.key().contains("gw1"), it.key().constData());
}

// What cannot be used exits 2 with its reason, before anything is served.
void TestGatewayMqtt::refusesToStart()
{
    QTemporaryDir dir;
    const QStringList common{QStringLiteral("--demo"), QStringLiteral("--settings"),
        dir.filePath(QStringLiteral("gateway.ini")), QStringLiteral("--videohub-port"),
        QStringLiteral("0"), QStringLiteral("--http-port"), QStringLiteral("0")};
    testsupport::ProgramRun run = testsupport::runProgram(QStringLiteral(MATRIX_GATEWAY_PATH),
        common
            + QStringList{QStringLiteral("--mqtt"), QStringLiteral("mqtt://127.0.0.1:1"),
                QStringLiteral("--mqtt-user"), QStringLiteral("u"),
                QStringLiteral("--mqtt-password-file"), dir.filePath(QStringLiteral("none"))});
    QCOMPARE(run.code, 2);
    QVERIFY2(run.err.contains(QStringLiteral("cannot read the MQTT password file")),
        qPrintable(run.err));
    run = testsupport::runProgram(QStringLiteral(MATRIX_GATEWAY_PATH),
        common
            + QStringList{QStringLiteral("--mqtt"), QStringLiteral("mqtts://localhost:1"),
                QStringLiteral("--mqtt-cafile"), dir.path()});
    QCOMPARE(run.code, 2);
    QVERIFY2(run.err.contains(QStringLiteral("cannot read the MQTT CA file")), qPrintable(run.err));
    GatewayOptions options;
    QCOMPARE(parseGatewayArguments({QStringLiteral("matrix-gateway"), QStringLiteral("--demo"),
                                       QStringLiteral("--mqtt"), QStringLiteral("mqtts://[::1]")},
                 &options)
                 .kind,
        GatewayParse::Run);
    QCOMPARE(options.mqtt.host, QStringLiteral("::1"));
    QCOMPARE(options.mqtt.port, quint16(8883));
    QVERIFY(options.mqtt.tls && options.mqtt.discovery);
    QCOMPARE(options.mqtt.prefix, QStringLiteral("matrix"));
}

// The MQTT id kept in gateway.ini stays there when the gateway saves labels.
void TestGatewayMqtt::idSurvivesSaves()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("gateway.ini"));
    GatewaySettings::Values values;
    values.mqttId = QStringLiteral("gateway-0123456789ab");
    QVERIFY(GatewaySettings(ini).save(values));
    GatewayConfig config;
    config.settingsPath = ini;
    Gateway gateway(config);
    gateway.start();
    bool saved = false;
    gateway.setLabel(GatewaySide::Output, 2, QStringLiteral("Stage"),
        [&](const GatewayResult &r) { saved = r.ok(); });
    QTRY_VERIFY(saved);
    const GatewaySettings::Values after = GatewaySettings(ini).load();
    QCOMPARE(after.outputLabels[1], QStringLiteral("Stage"));
    QCOMPARE(after.mqttId, QStringLiteral("gateway-0123456789ab"));
}

QTEST_GUILESS_MAIN(TestGatewayMqtt)
#include "tst_gatewaymqtt.moc"
