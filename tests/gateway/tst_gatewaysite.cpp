// A site: three matrix-gateway programs, each owning its own matrix-sim, on one mosquitto of the
// test's own. Home Assistant's view of it is an observer client subscribed to everything.
#include "MqttBroker.h"
#include "ProgramRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <memory>

using testsupport::Broker;
using testsupport::Observer;

namespace {

// One room: its simulated switcher and the gateway that owns it.
struct Room
{
    QString id;
    bool servers = true; // false: --no-videohub --no-http, MQTT only
    testsupport::ProgramProcess simulator;
    testsupport::ProgramProcess gateway;
    QString httpPort; // from the gateway's ready line; empty without HTTP

    QByteArray topic(const char *rest) const
    {
        return QByteArray("matrix/") + id.toUtf8() + '/' + rest;
    }
};

QList<int> routesOf(const Observer &ha, const Room &room)
{
    QList<int> routes;
    for (const QJsonValue &input :
        ha.json(room.topic("state")).value(QStringLiteral("routes")).toArray())
        routes.append(input.toInt());
    return routes;
}

} // namespace

class TestGatewaySite final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void threeSwitchersOnOneBroker();
};

void TestGatewaySite::init()
{
    MATRIX_BROKER_OR_SKIP();
}

// Each gateway is a device of its own under its own id; a command reaches only the switcher its
// topic names; a gateway killed outright is shown offline by its will while the others stay
// online and keep serving.
void TestGatewaySite::threeSwitchersOnOneBroker()
{
    Broker broker;
    QVERIFY(broker.setUp() && broker.start());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile password(dir.filePath(QStringLiteral("password")));
    QVERIFY(password.open(QIODevice::WriteOnly)
        && password.write(testsupport::GatewayPassword.toUtf8() + '\n') > 0);
    password.close();
    Observer ha(broker.linkConfig(testsupport::ObserverUser, testsupport::ObserverPassword));
    QVERIFY(ha.started);
    QTRY_VERIFY_WITH_TIMEOUT(ha.connected(), 20000);

    std::array<Room, 3> rooms;
    for (int i = 0; i < int(rooms.size()); ++i) {
        Room &room = rooms[size_t(i)];
        room.id = QStringLiteral("room%1").arg(i + 1);
        room.servers = i != 2;
        QVERIFY(room.simulator.start(
            QStringLiteral(MATRIX_SIM_PATH), {QStringLiteral("--tcp-port"), QStringLiteral("0")}));
        const QString tcp = room.simulator.nextLine(QStringLiteral("TCP "));
        QVERIFY2(tcp.startsWith(QLatin1String("TCP 127.0.0.1:")), qPrintable(tcp));
        QStringList arguments{QStringLiteral("--tcp"), tcp.mid(4), QStringLiteral("--settings"),
            dir.filePath(room.id + QStringLiteral(".ini")), QStringLiteral("--mqtt"), broker.url(),
            QStringLiteral("--mqtt-user"), testsupport::GatewayUser,
            QStringLiteral("--mqtt-password-file"), password.fileName(),
            QStringLiteral("--mqtt-id"), room.id};
        if (room.servers)
            arguments << QStringLiteral("--videohub-port=0") << QStringLiteral("--http-port=0");
        else
            arguments << QStringLiteral("--no-videohub") << QStringLiteral("--no-http");
        QVERIFY(room.gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH), arguments));
        if (room.servers) {
            const QString http = room.gateway.nextLine(QStringLiteral("HTTP server listening on"));
            QVERIFY2(!http.isEmpty(), qPrintable(room.id));
            room.httpPort = http.section(QLatin1Char(':'), -1);
        }
        QVERIFY(!room.gateway.nextLine(QStringLiteral("MQTT topics under matrix/") + room.id)
                     .isEmpty());
    }

    // Each is online under its own id, with its routes read from its own switcher and a device
    // of its own in Home Assistant.
    QSet<QString> uniqueIds;
    for (const Room &room : rooms) {
        QTRY_COMPARE_WITH_TIMEOUT(ha.last.value(room.topic("status")), QByteArray("online"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(
            ha.json(room.topic("state")).value(QStringLiteral("routesKnown")).toBool(), 20000);
        QCOMPARE(routesOf(ha, room).size(), 6);
        const QByteArray select = "homeassistant/select/" + room.id.toUtf8() + "/output_1/config";
        QTRY_VERIFY_WITH_TIMEOUT(ha.last.contains(select), 20000);
        const QJsonObject config = ha.json(select);
        QCOMPARE(config.value(QStringLiteral("command_topic")).toString(),
            QString::fromUtf8(room.topic("output/1/set")));
        QCOMPARE(config.value(QStringLiteral("availability"))
                     .toArray()
                     .first()[QStringLiteral("topic")]
                     .toString(),
            QString::fromUtf8(room.topic("status")));
        const QJsonObject device = config.value(QStringLiteral("device")).toObject();
        QCOMPARE(device.value(QStringLiteral("identifiers")).toArray(), QJsonArray{room.id});
        // The device links to its own gateway's page; one without HTTP has none to link to.
        QCOMPARE(device.value(QStringLiteral("configuration_url")).toString(),
            room.servers ? QStringLiteral("http://127.0.0.1:%1/").arg(room.httpPort) : QString());
        uniqueIds.insert(config.value(QStringLiteral("unique_id")).toString());
    }
    QCOMPARE(uniqueIds.size(), 3);

    // A route by MQTT to room 2 routes room 2 only. Each gateway runs its commands in order, so
    // once room 1's and room 3's own later commands show in their state, a stray route of the
    // first command would show there too.
    const std::array<QList<int>, 3> before{
        routesOf(ha, rooms[0]), routesOf(ha, rooms[1]), routesOf(ha, rooms[2])};
    const int input = before[1].at(2) == 5 ? 4 : 5;
    QVERIFY(ha.link.publish(rooms[1].topic("output/3/set"), QByteArray::number(input), false));
    for (const size_t other : {size_t(0), size_t(2)}) {
        const int own = before[other].at(0) == 6 ? 2 : 6;
        QVERIFY(
            ha.link.publish(rooms[other].topic("output/1/set"), QByteArray::number(own), false));
        QList<int> expected = before[other];
        expected[0] = own;
        QTRY_COMPARE_WITH_TIMEOUT(routesOf(ha, rooms[other]), expected, 20000);
    }
    QList<int> expected = before[1];
    expected[2] = input;
    QTRY_COMPARE_WITH_TIMEOUT(routesOf(ha, rooms[1]), expected, 20000);
    QCOMPARE(
        ha.last.value(rooms[1].topic("output/3")), QStringLiteral("Input %1").arg(input).toUtf8());

    // Room 2's gateway dies without a word: the broker publishes its will. The others stay
    // online and keep routing.
    rooms[1].gateway.process().kill();
    QVERIFY(rooms[1].gateway.process().waitForFinished(10000));
    QTRY_COMPARE_WITH_TIMEOUT(
        ha.last.value(rooms[1].topic("status")), QByteArray("offline"), 30000);
    QVERIFY(!broker.log().contains(QStringLiteral("Received DISCONNECT from room2")));
    for (const size_t other : {size_t(0), size_t(2)}) {
        const QList<int> now = routesOf(ha, rooms[other]);
        const int own = now.at(5) == 1 ? 3 : 1;
        QVERIFY(
            ha.link.publish(rooms[other].topic("output/6/set"), QByteArray::number(own), false));
        QTRY_COMPARE_WITH_TIMEOUT(routesOf(ha, rooms[other]).value(5), own, 20000);
        QCOMPARE(ha.last.value(rooms[other].topic("status")), QByteArray("online"));
        QVERIFY(!ha.received.contains({rooms[other].topic("status"), QByteArray("offline")}));
    }

    for (const size_t other : {size_t(0), size_t(2)}) {
        QVERIFY(rooms[other].gateway.stop(10000));
        QCOMPARE(rooms[other].gateway.process().exitCode(), 0);
    }
}

QTEST_GUILESS_MAIN(TestGatewaySite)
#include "tst_gatewaysite.moc"
