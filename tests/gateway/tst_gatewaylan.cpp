// The gateway on a LAN: it listens on this namespace's veth address (10.200.0.1), and its
// clients come from the peer namespace's two addresses (10.200.0.2 and .3), so that what one
// host does to the servers can be told apart from what another host sees.
#include "NetTestNamespace.h"

#include "ClientAddresses.h"
#include "Gateway.h"
#include "GatewayCommandLine.h"
#include "HttpServer.h"
#include "SimulatorServer.h"
#include "VideohubServer.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

using namespace nettest;

namespace {

// A client in the peer namespace, from one of its addresses, with everything it received.
class LanClient final : public QObject
{
public:
    LanClient(PeerNamespace &peer, const QString &from, quint16 port, QByteArray send = {})
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] { in += socket.readAll(); });
        connect(&socket, &QTcpSocket::connected, this, [this, send] {
            if (!send.isEmpty())
                socket.write(send);
        });
        connect(&socket, &QTcpSocket::disconnected, this, [this] { closed = true; });
        peer.inside([&] {
            socket.bind(QHostAddress(from));
            socket.connectToHost(QHostAddress(PcAddress), port);
        });
    }
    int status() const { return in.startsWith("HTTP/1.1 ") ? in.mid(9, 3).toInt() : -1; }

    QTcpSocket socket;
    QByteArray in;
    bool closed = false;
};

QByteArray get(const QByteArray &path, const QByteArray &token = {})
{
    QByteArray request = "GET " + path + " HTTP/1.1\r\nHost: " + PcAddress.toLatin1()
        + "\r\nConnection: close\r\n";
    if (!token.isEmpty())
        request += "Authorization: Bearer " + token + "\r\n";
    return request + "\r\n";
}

ClientPolicy lanPolicy(const QString &subnet)
{
    ClientPolicy policy;
    policy.allow = {QHostAddress::parseSubnet(subnet)};
    return policy;
}

} // namespace

class TestGatewayLan : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void slowClientsCannotLockOthersOut();
    void videohubPlacesPerAddress();
    void oneAllowListForEveryServer();
    void listenAddressAllowsItsSubnet();

private:
    PeerNamespace m_peer;
};

void TestGatewayLan::initTestCase()
{
    if (!g_netSkip.isEmpty())
        QSKIP(qPrintable(g_netSkip));
    const QString why = m_peer.create();
    QVERIFY2(why.isEmpty(), qPrintable(why));
}

// 64 connections from one host, each sending a byte of its head every two seconds, held every
// place of the server for as long as they went on. Now that host gets its share of places,
// another host is served at once, and the slow requests end at their deadline although their
// bytes keep coming (the real 10 s).
void TestGatewayLan::slowClientsCannotLockOthersOut()
{
    HttpServer server;
    server.setClientPolicy(lanPolicy(QStringLiteral("10.200.0.0/24")));
    server.setHandler([](const HttpRequest &request, const HttpServer::Reply &reply) {
        HttpResponse response;
        response.body = request.path.toUtf8();
        reply(response);
    });
    QVERIFY(server.listen(QHostAddress(PcAddress), 0));

    std::vector<std::unique_ptr<LanClient>> slow;
    for (int i = 0; i < server.limits().maxConnections; ++i)
        slow.push_back(std::make_unique<LanClient>(m_peer, PeerAddress, server.serverPort(), "G"));
    QTimer trickle;
    connect(&trickle, &QTimer::timeout, this, [&] {
        for (auto &client : slow) {
            if (client->socket.state() == QAbstractSocket::ConnectedState)
                client->socket.write("E");
        }
    });
    trickle.start(2000);
    const int bound = ClientPolicy::DefaultMaxPerAddress;
    auto count = [&](int status) {
        return int(std::count_if(slow.begin(), slow.end(),
            [status](const auto &client) { return client->status() == status; }));
    };
    QTRY_COMPARE(count(503), server.limits().maxConnections - bound);
    QCOMPARE(server.connectionCount(), bound);

    LanClient other(m_peer, PeerAddress2, server.serverPort(), get("/other"));
    QTRY_VERIFY(other.closed);
    QCOMPARE(other.status(), 200);
    QVERIFY(other.in.endsWith("/other"));

    QTRY_COMPARE_WITH_TIMEOUT(count(408), bound, 30000);
    QTRY_COMPARE(server.connectionCount(), 0);
}

void TestGatewayLan::videohubPlacesPerAddress()
{
    SimulatorServer simulator;
    QVERIFY(simulator.listenTcp());
    QTemporaryDir folder;
    GatewayConfig config;
    config.target = GatewayConfig::Target::Tcp;
    config.host = QStringLiteral("127.0.0.1");
    config.tcpPort = simulator.tcpPort();
    config.pollMs = 0;
    config.settingsPath = folder.filePath(QStringLiteral("gateway.ini"));
    Gateway gateway(config);
    ClientPolicy policy = lanPolicy(QStringLiteral("10.200.0.0/24"));
    policy.maxPerAddress = 3;
    VideohubServer server(gateway, policy, QStringLiteral("0123456789AB"));
    QVERIFY(server.listen(QHostAddress(PcAddress), 0));
    gateway.start();
    QTRY_VERIFY(gateway.state().present);
    QSignalSpy refused(&server, &VideohubServer::refused);

    std::vector<std::unique_ptr<LanClient>> panels;
    for (int i = 0; i < 3; ++i) {
        panels.push_back(std::make_unique<LanClient>(m_peer, PeerAddress, server.port()));
        QTRY_VERIFY(panels.back()->in.contains("END PRELUDE:"));
    }
    LanClient fourth(m_peer, PeerAddress, server.port());
    QTRY_VERIFY(fourth.closed);
    QCOMPARE(fourth.in, QByteArray());
    QCOMPARE(refused.size(), 1);
    QCOMPARE(refused.at(0).at(1).toString(), QStringLiteral("too many clients from this address"));

    LanClient other(m_peer, PeerAddress2, server.port());
    QTRY_VERIFY(other.in.contains("END PRELUDE:"));
    // A place given back is a place to take again.
    panels.front()->socket.disconnectFromHost();
    QTRY_COMPARE(server.clientCount(), 3);
    LanClient again(m_peer, PeerAddress, server.port());
    QTRY_VERIFY(again.in.contains("END PRELUDE:"));
}

// The program's --allow guards HTTP, its event socket and the Videohub port alike: a host
// outside it gets no answer even with the token.
void TestGatewayLan::oneAllowListForEveryServer()
{
    QTemporaryDir folder;
    const QString tokenFile = folder.filePath(QStringLiteral("token"));
    const QByteArray token = "an-allowed-token-0123";
    QFile file(tokenFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(token + '\n');
    file.close();

    QProcess gateway;
    gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH),
        {QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:1"), QStringLiteral("--poll"),
            QStringLiteral("0"), QStringLiteral("--listen"), PcAddress,
            QStringLiteral("--videohub-port"), QStringLiteral("0"), QStringLiteral("--http-port"),
            QStringLiteral("0"), QStringLiteral("--token-file"), tokenFile,
            QStringLiteral("--insecure-http"), QStringLiteral("--allow"),
            PeerAddress + QStringLiteral("/32"), QStringLiteral("--settings"),
            folder.filePath(QStringLiteral("gateway.ini"))});
    QByteArray out;
    const QRegularExpression ready(
        QStringLiteral("Videohub server listening on [0-9.]+:(\\d+)\nHTTP server listening on "
                       "[0-9.]+:(\\d+)\n"));
    QRegularExpressionMatch match;
    QTRY_VERIFY2_WITH_TIMEOUT((out += gateway.readAllStandardOutput(),
                                  match = ready.match(QString::fromUtf8(out)), match.hasMatch()),
        out.constData(), 10000);
    QVERIFY2(out.contains("Clients allowed from 10.200.0.2/32\n"), out.constData());
    const quint16 videohubPort = match.captured(1).toUShort();
    const quint16 httpPort = match.captured(2).toUShort();

    const QByteArray events = "GET /api/v1/events HTTP/1.1\r\nHost: " + PcAddress.toLatin1()
        + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
          "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\nAuthorization: Bearer "
        + token + "\r\n\r\n";
    LanClient allowedApi(m_peer, PeerAddress, httpPort, get("/api/v1/state", token));
    LanClient allowedEvents(m_peer, PeerAddress, httpPort, events);
    LanClient allowedPanel(m_peer, PeerAddress, videohubPort);
    LanClient outsideApi(m_peer, PeerAddress2, httpPort, get("/api/v1/state", token));
    LanClient outsideEvents(m_peer, PeerAddress2, httpPort, events);
    LanClient outsidePanel(m_peer, PeerAddress2, videohubPort);

    QTRY_COMPARE(allowedApi.status(), 200);
    QTRY_COMPARE(allowedEvents.status(), 101);
    // No switcher there: the preamble and the device block.
    QTRY_VERIFY(allowedPanel.in.contains("Device present: false\n\n"));
    for (LanClient *client : {&outsideApi, &outsideEvents, &outsidePanel}) {
        QTRY_VERIFY(client->closed);
        QCOMPARE(client->in, QByteArray());
    }
    gateway.terminate();
    QVERIFY(gateway.waitForFinished(10000));
}

// Without --allow, --listen ADDR opens the gateway to the subnet its interface gives ADDR, and
// a wildcard --listen to nobody beyond loopback until --allow names networks.
void TestGatewayLan::listenAddressAllowsItsSubnet()
{
    auto policyFor = [](const QString &listen, QString *says) {
        GatewayOptions options;
        const GatewayParse parsed = parseGatewayArguments(
            {QStringLiteral("matrix-gateway"), QStringLiteral("--tcp"), QStringLiteral("10.9.9.9"),
                QStringLiteral("--listen"), listen, QStringLiteral("--token-file"),
                QStringLiteral("t"), QStringLiteral("--insecure-http")},
            &options);
        return parsed.kind == GatewayParse::Run ? clientPolicy(options, says) : ClientPolicy{};
    };
    QString says;
    const ClientPolicy own = policyFor(PcAddress, &says);
    QCOMPARE(says, QStringLiteral("Clients allowed from 127.0.0.0/8, ::1/128, 10.200.0.0/24"));
    QVERIFY(own.allowed(QHostAddress(NobodyAddress)));
    QVERIFY(own.allowed(QHostAddress(QStringLiteral("::ffff:10.200.0.3"))));
    QVERIFY(own.allowed(QHostAddress::LocalHost));
    QVERIFY(!own.allowed(QHostAddress(UnreachableAddress)));

    for (const QString &any : {QStringLiteral("0.0.0.0"), QStringLiteral("::")}) {
        const ClientPolicy everywhere = policyFor(any, &says);
        QVERIFY2(says.contains(QStringLiteral("only loopback may connect until --allow")),
            qPrintable(says));
        QVERIFY(everywhere.allowed(QHostAddress::LocalHost));
        QVERIFY(!everywhere.allowed(QHostAddress(PeerAddress)));
    }
}

NETTEST_MAIN(TestGatewayLan)
#include "tst_gatewaylan.moc"
