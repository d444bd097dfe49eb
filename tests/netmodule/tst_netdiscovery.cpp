// Search, configuration and ping through real sockets: this program is the PC on 10.200.0.1,
// the simulated modules answer from a peer namespace on 10.200.0.2 (see NetTestNamespace.h).
#include "NetTestNamespace.h"

#include "DeviceEntry.h"
#include "InProcessTransport.h"
#include "NetworkModuleControl.h"
#include "SimNetwork.h"
#include "TKVCOMControl.h"
#include "TKVPing.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

using nettest::PcAddress;
using nettest::PeerAddress;
using nettest::PeerAddress2;

namespace {

const QString SearchingText = QStringLiteral("Searching TCP control device ... ");

// Stands in for a module that answers each search request with fixed datagrams.
class RawResponder
{
public:
    bool bind(nettest::PeerNamespace &peer)
    {
        bool bound = false;
        peer.inside([&] { bound = m_socket.bind(QHostAddress::AnyIPv4, SearchPort); });
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram in = m_socket.receiveDatagram();
                ++requests;
                QTimer::singleShot(delayMs, &m_socket, [this, in] {
                    for (const QByteArray &reply : std::as_const(replies))
                        m_socket.writeDatagram(reply, in.senderAddress(), quint16(in.senderPort()));
                });
            }
        });
        return bound;
    }
    QByteArrayList replies;
    int requests = 0;
    int delayMs = 0; // well inside a round, yet after the reply wait that ends it

private:
    QUdpSocket m_socket;
};

// Records what would have gone out, and sends nothing.
class RecordingSocket final : public DatagramSocket
{
public:
    bool bindLocalPort(quint16 port) override
    {
        binds.append(port);
        return true;
    }
    quint16 localPort() const override { return binds.isEmpty() ? 0 : binds.last(); }
    void setBroadcastAllowed(bool) override { }
    qint64 send(const QByteArray &datagram, const QHostAddress &host, quint16) override
    {
        sends.append(host.toString());
        return datagram.size();
    }
    QString errorString() const override { return {}; }

    QList<quint16> binds;
    QStringList sends;
};

QByteArray record(quint8 last, const QByteArray &tag = "module")
{
    SearchRecord r;
    r.mac = {0x02, 0x00, 0x00, 0x00, 0x00, last};
    r.ip = {10, 200, 0, 2};
    r.tag = tag;
    return r.toBytes();
}

ConfigRecord staticRequest(const MacAddress &mac, const IPv4Bytes &ip)
{
    ConfigRecord r;
    r.setTargetMac(mac);
    r.setIP(ip);
    r.setGateway({10, 200, 0, 1});
    r.setMask({255, 255, 255, 0});
    r.setOperation(ConfigRecord::OperationStatic);
    r.setTag("renamed");
    return r;
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

} // namespace

class TestNetDiscovery : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void twoModulesListedOnceInOrderOfArrival();
    void replyShapes_data();
    void replyShapes();
    void senderRules_data();
    void senderRules();
    void secondSearchWhileOneRuns();
    void searchAfterTheLinkLostItsConnection();
    void searchEnds_data();
    void searchEnds();
    void sendFailures_data();
    void sendFailures();
    void configStatuses_data();
    void configStatuses();
    void autoIPAnswerFillsTheEntry();
    void ownAddressIsNeverSent_data();
    void ownAddressIsNeverSent();
    void ping_data();
    void ping();
    void pingEndsOnStop_data();
    void pingEndsOnStop();
    void localAddressWithoutNameLookUp();
    void configReachesWhatTheSearchFound();
    void portsFreeBetweenOperations();

private:
    bool startSim(int modules);
    QStringList progressTexts(quint32 kind) const;
    int count(LinkMessage code) const;

    nettest::PeerNamespace m_peer;
    std::unique_ptr<TKVCOMControl> m_link;
    std::unique_ptr<NetworkModuleControl> m_control;
    std::unique_ptr<SimNetwork> m_sim;
    QList<LinkNotice> m_notices;
};

void TestNetDiscovery::initTestCase()
{
    if (!g_netSkip.isEmpty())
        QSKIP(qPrintable(g_netSkip));
    const QString why = m_peer.create();
    QVERIFY2(why.isEmpty(), qPrintable(why));
}

void TestNetDiscovery::init()
{
    m_link = std::make_unique<TKVCOMControl>();
    m_link->setTiming(Timing::fast());
    m_notices.clear();
    QObject::connect(m_link.get(), &TKVCOMControl::notification, m_link.get(),
        [this](const LinkNotice &notice) { m_notices.append(notice); });
    m_control = std::make_unique<NetworkModuleControl>(*m_link);
}

void TestNetDiscovery::cleanup()
{
    m_control.reset();
    m_link.reset();
    m_sim.reset();
}

bool TestNetDiscovery::startSim(int modules)
{
    m_sim = std::make_unique<SimNetwork>();
    m_sim->setModuleCount(modules, {10, 200, 0, 2});
    bool bound = false;
    m_peer.inside([&] { bound = m_sim->bind(QHostAddress(QHostAddress::AnyIPv4)); });
    return bound;
}

QStringList TestNetDiscovery::progressTexts(quint32 kind) const
{
    QStringList texts;
    for (const LinkNotice &n : m_notices) {
        if (n.code == LinkMessage::NetworkProgress && n.lParam == kind)
            texts.append(n.text);
    }
    return texts;
}

int TestNetDiscovery::count(LinkMessage code) const
{
    return int(std::count_if(m_notices.begin(), m_notices.end(),
        [code](const LinkNotice &n) { return n.code == code; }));
}

void TestNetDiscovery::twoModulesListedOnceInOrderOfArrival()
{
    QCOMPARE(NetworkModuleControl::searchTargets(),
        (QList<QHostAddress>{QHostAddress(QStringLiteral("255.255.255.255")),
            QHostAddress(QStringLiteral("10.200.0.255"))}));
    QVERIFY(startSim(2));
    // The second module answers first: the list keeps the order of arrival, not of MACs.
    m_sim->modules().swapItemsAt(0, 1);

    QVERIFY(m_control->SearchTCPDevice());
    // Both broadcasts reached the modules, so each answered twice and is listed once.
    QCOMPARE(m_sim->searchRequests(), 2);
    QCOMPARE(m_control->GetTCPDeviceCount(), 2);
    QCOMPARE(m_control->FoundDevices().mid(0, 8), m_sim->modules()[0].searchRecord().itemTexts());
    QCOMPARE(m_control->FoundDevices().mid(8, 8), m_sim->modules()[1].searchRecord().itemTexts());
    QCOMPARE(m_control->GetTCPDeviceItem(1, 0), QStringLiteral("02-4D-58-00-00-02"));
    QVERIFY(!m_link->Searching());
    QVERIFY(!m_control->UDPReceiving());

    // A later search without clearing the list: every answer is a duplicate, yet it counts.
    QVERIFY(m_control->SearchTCPDevice());
    QCOMPARE(m_control->GetTCPDeviceCount(), 2);
    QVERIFY(count(LinkMessage::Trace) >= 8); // one per datagram, own broadcasts included
}

void TestNetDiscovery::replyShapes_data()
{
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("firstTag");

    QTest::newRow("110 bytes: two modules")
        << QByteArrayList{record(1) + record(2)} << true << 2 << 1 << QStringLiteral("module");
    QTest::newRow("54 bytes: none, the search goes on")
        << QByteArrayList{record(1).left(54)} << false << 0 << 5 << QString();
    QTest::newRow("56 bytes: none, the search goes on")
        << QByteArrayList{record(1) + 'x'} << false << 0 << 5 << QString();
    QTest::newRow("a bad datagram, then a good one") << QByteArrayList{record(1).left(54),
        record(2)} << true << 1 << 1 << QStringLiteral("module");
    QTest::newRow("the same module twice in one datagram")
        << QByteArrayList{record(1) + record(1)} << true << 1 << 1 << QStringLiteral("module");
    QTest::newRow("a tag of 32 bytes") << QByteArrayList{record(1, QByteArray(32, 'T'))} << true
                                       << 1 << 1 << QString(32, QLatin1Char('T'));
}

void TestNetDiscovery::replyShapes()
{
    QFETCH(QByteArrayList, replies);
    QFETCH(bool, found);
    QFETCH(int, devices);
    QFETCH(int, requests);
    QFETCH(QString, firstTag);

    RawResponder responder;
    responder.replies = replies;
    QVERIFY(responder.bind(m_peer));
    m_link->setUDPMode(umNORMAL);
    m_link->setDeviceIP(PeerAddress);

    QCOMPARE(m_control->SearchTCPDevice(), found);
    QCOMPARE(responder.requests, requests);
    QCOMPARE(m_control->GetTCPDeviceCount(), devices);
    if (devices)
        QCOMPARE(m_control->GetTCPDeviceItem(1, 6), firstTag);
}

void TestNetDiscovery::senderRules_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("receiving");
    QTest::addColumn<int>("devices");

    QTest::newRow("a module") << PeerAddress << 30600 << true << 1;
    QTest::newRow("not while receiving is off") << PeerAddress << 30600 << false << 0;
    QTest::newRow("the PC's LAN address") << PcAddress << 30600 << true << 0;
    QTest::newRow("the PC's loopback address") << QStringLiteral("127.0.0.1") << 30600 << true << 0;
    QTest::newRow("the PC's host name address")
        << NetworkModuleControl::GetLocalIP() << 30600 << true << 0;
    QTest::newRow("configuration port") << PeerAddress << 30601 << true << 0;
    QTest::newRow("another port") << PeerAddress << 40000 << true << 0;
}

void TestNetDiscovery::senderRules()
{
    QFETCH(QString, sender);
    QFETCH(int, port);
    QFETCH(bool, receiving);
    QFETCH(int, devices);
    m_control->setUDPReceiving(receiving);
    m_control->UDPDataReceived(record(1), sender, quint16(port));
    QCOMPARE(m_control->GetTCPDeviceCount(), devices);
    QCOMPARE(m_control->UDPReplied(), devices > 0);
    QCOMPARE(count(LinkMessage::Trace), 1);
}

void TestNetDiscovery::secondSearchWhileOneRuns()
{
    QVERIFY(startSim(1));
    int nested = 0;
    bool nestedResult = true;
    QObject::connect(
        m_link.get(), &TKVCOMControl::notification, m_link.get(), [&](const LinkNotice &notice) {
            if (notice.code == LinkMessage::NetworkProgress && nested++ == 0)
                nestedResult = m_control->SearchTCPDevice();
        });
    QVERIFY(m_control->SearchTCPDevice());
    QVERIFY(!nestedResult);
    QCOMPARE(m_sim->searchRequests(), 2); // only the first search sent anything
    QCOMPARE(m_control->GetTCPDeviceCount(), 1);
}

void TestNetDiscovery::searchAfterTheLinkLostItsConnection()
{
    // The main window disconnects before a search; a connection that broke earlier must not
    // cut the search's listening short.
    auto owned = std::make_unique<InProcessTransport>();
    InProcessTransport *wire = owned.get();
    m_link->setTransport(cmLAN, std::move(owned));
    QVERIFY(m_link->Connect());
    wire->breakStream();
    QVERIFY(m_link->transportFailed());
    m_link->Disconnect();
    RawResponder responder;
    responder.replies = {record(1)};
    responder.delayMs = 10 * NetworkModuleControl::ReplyWaitTicks * m_link->timing().tickMs;
    QVERIFY(responder.bind(m_peer));
    m_link->setUDPMode(umNORMAL);
    m_link->setDeviceIP(PeerAddress);

    QVERIFY(m_control->SearchTCPDevice());
    QCOMPARE(responder.requests, 1); // the first round heard the late answer
    QCOMPARE(progressTexts(0).size(), NetworkModuleControl::StepsPerRound);
}

void TestNetDiscovery::searchEnds_data()
{
    QTest::addColumn<int>("stopAt"); // progress text after which to stop, -1 never
    QTest::addColumn<bool>("closing"); // StopRequested rather than the Stop button
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("texts");
    QTest::addColumn<bool>("busyAfter");

    QTest::newRow("no answer: five rounds") << -1 << false << 10 << 150 << false;
    QTest::newRow("Stop button") << 3 << false << 2 << 3 << false;
    QTest::newRow("Stop button in the second round") << 33 << false << 4 << 33 << false;
    QTest::newRow("program closing keeps the flags") << 3 << true << 2 << 3 << true;
}

void TestNetDiscovery::searchEnds()
{
    QFETCH(int, stopAt);
    QFETCH(bool, closing);
    QFETCH(int, requests);
    QFETCH(int, texts);
    QFETCH(bool, busyAfter);
    QVERIFY(startSim(0));
    int seen = 0;
    QObject::connect(
        m_link.get(), &TKVCOMControl::notification, m_link.get(), [&](const LinkNotice &notice) {
            if (notice.code != LinkMessage::NetworkProgress || ++seen != stopAt)
                return;
            if (closing)
                m_link->setStopRequested(true);
            else
                m_link->setSearching(false);
        });

    QVERIFY(!m_control->SearchTCPDevice());
    QCOMPARE(m_sim->searchRequests(), requests);
    const QStringList progress = progressTexts(0);
    QCOMPARE(progress.size(), texts);
    // The spinner runs on across rounds.
    static const char spinner[] = "/-\\|";
    for (int i = 0; i < progress.size(); ++i)
        QCOMPARE(progress[i], SearchingText + QLatin1Char(spinner[i % 4]));
    QCOMPARE(m_link->Searching(), busyAfter);
    QCOMPARE(m_control->UDPReceiving(), busyAfter);
    QCOMPARE(count(LinkMessage::SendFailed), 0);
}

void TestNetDiscovery::sendFailures_data()
{
    QTest::addColumn<bool>("search");
    QTest::addColumn<QString>("deviceIP");
    QTest::addColumn<int>("takenPort");
    QTest::addColumn<QString>("reason"); // lastError(), after the operation's name

    // The system's own reason is kept.
    QTest::newRow("search: no route to the typed address")
        << true << nettest::UnreachableAddress << 0 << "cannot send: 10.99.0.1: No route to host";
    QTest::newRow("search: no typed address")
        << true << QStringLiteral("0.0.0.0") << 0 << "no address to send to";
    QTest::newRow("search: port in use")
        << true << PeerAddress << 30600 << "UDP port 30600 is in use by another program";
    QTest::newRow("configuration: port in use")
        << false << PeerAddress << 30601 << "UDP port 30601 is in use by another program";
}

void TestNetDiscovery::sendFailures()
{
    QFETCH(bool, search);
    QFETCH(QString, deviceIP);
    QFETCH(int, takenPort);
    QFETCH(QString, reason);
    // Told once, to the caller; a warning of its own would print it twice.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    QUdpSocket squatter;
    if (takenPort)
        QVERIFY(squatter.bind(QHostAddress::AnyIPv4, quint16(takenPort)));
    m_link->setUDPMode(umNORMAL);
    m_link->setDeviceIP(deviceIP);

    if (search) {
        QVERIFY(!m_control->SearchTCPDevice());
        QVERIFY(!m_link->Searching());
    } else {
        QCOMPARE(m_control->SetTCPConfig(staticRequest({2, 0, 0, 0, 0, 1}, {10, 200, 0, 9})),
            ConfigResult::Failed);
        QVERIFY(!m_link->Configuring());
    }
    QVERIFY(!m_control->UDPReceiving());
    QVERIFY2(m_control->lastError().endsWith(reason), qPrintable(m_control->lastError()));
    QCOMPARE(m_control->portInUseText().isEmpty(), takenPort == 0);
    QCOMPARE(count(LinkMessage::SendFailed), 1);
    QVERIFY(progressTexts(0).isEmpty() && progressTexts(1).isEmpty());
}

void TestNetDiscovery::configStatuses_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("invalidFirst");
    QTest::addColumn<int>("module"); // 0-based; -1 an unknown MAC
    QTest::addColumn<QString>("deviceIP");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("requests");

    // Each copy reaches the modules: one per broadcast target (255.255.255.255 and
    // 10.200.0.255), and the unicast one; each is answered, and one result comes of them.
    QTest::newRow("accepted, broadcasts and unicast copy")
        << 0x00 << false << 1 << PeerAddress2 << 0 << 3;
    QTest::newRow("accepted, broadcasts only")
        << 0x00 << false << 1 << QStringLiteral("0.0.0.0") << 0 << 2;
    QTest::newRow("0xFF record skipped, the later one counts")
        << 0x00 << true << 1 << QStringLiteral("0.0.0.0") << 0 << 2;
    QTest::newRow("0x30: conflict tested first")
        << 0x30 << false << 1 << QStringLiteral("0.0.0.0") << 2 << 2;
    QTest::newRow("0x20: conflict") << 0x20 << false << 1 << QStringLiteral("0.0.0.0") << 2 << 2;
    QTest::newRow("0x10: failed") << 0x10 << false << 1 << QStringLiteral("0.0.0.0") << 1 << 2;
    QTest::newRow("0x01: failed") << 0x01 << false << 1 << QStringLiteral("0.0.0.0") << 1 << 2;
    QTest::newRow("no answer: every round") << 0x00 << false << -1 << PeerAddress << 1 << 3;
}

void TestNetDiscovery::configStatuses()
{
    QFETCH(int, status);
    QFETCH(bool, invalidFirst);
    QFETCH(int, module);
    QFETCH(QString, deviceIP);
    QFETCH(int, result);
    QFETCH(int, requests);
    QVERIFY(startSim(2));
    m_sim->faults().configStatus = quint8(status);
    m_sim->faults().invalidRecordFirst = invalidFirst;
    const QList<SimModuleState> before = m_sim->modules();
    const MacAddress mac = module >= 0 ? before[module].mac : MacAddress{2, 9, 9, 9, 9, 9};
    m_link->setDeviceIP(deviceIP);

    const ConfigRecord request = staticRequest(mac, {10, 200, 0, 50});
    QCOMPARE(int(m_control->SetTCPConfig(request)), result);
    QCOMPARE(m_sim->configRequests(), requests);
    QVERIFY(!m_link->Configuring());
    QVERIFY(!m_control->UDPReceiving());
    QVERIFY(progressTexts(1).size() >= NetworkModuleControl::StepsPerRound);
    QCOMPARE(progressTexts(1).first(), QStringLiteral("Setting TCP control configuration ... /"));

    if (result == 0) {
        const SimModuleState &changed = m_sim->modules()[module];
        QCOMPARE(ipText(changed.ip), QStringLiteral("10.200.0.50"));
        QCOMPARE(changed.tag, QByteArray("renamed"));
        QCOMPARE(m_control->configRecord().status(), quint8(0));
        QCOMPARE(m_control->configRecord().moduleMac(), mac);
    } else {
        QCOMPARE(m_sim->modules(), before);
    }
    if (module < 0) // nothing answered: the record is the request as it was sent
        QCOMPARE(m_control->configRecord().status(), quint8(0xFF));
}

void TestNetDiscovery::autoIPAnswerFillsTheEntry()
{
    QVERIFY(startSim(2));
    const MacAddress mac = m_sim->modules()[1].mac;
    const QString former = makeDeviceEntry({QStringLiteral("TCP Module 2"), StaticIPText,
        PeerAddress2, PcAddress, QStringLiteral("255.255.255.0"), macText(mac), SameSubnetText});
    const ConfigRecord request = buildConfigRecord(mac, QStringLiteral("Lobby"), true);
    m_link->setDeviceIP(PeerAddress2);

    QCOMPARE(m_control->SetTCPConfig(request), ConfigResult::Accepted);
    QCOMPARE(
        configuredEntry(former, QStringLiteral("Lobby"), true, request, m_control->configRecord()),
        QStringLiteral("[Lobby] - [Auto IP] - [10.200.0.202] - [10.200.0.1] - [255.255.255.0] - "
                       "[02-4D-58-00-00-02] - [Same Subnet]"));
    QVERIFY(m_sim->modules()[1].dhcp);
}

void TestNetDiscovery::ownAddressIsNeverSent_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("sends");

    const QStringList none;
    QTest::newRow("the PC's LAN address") << PcAddress << 2 << none;
    QTest::newRow("the PC's loopback address") << QStringLiteral("127.0.0.1") << 2 << none;
    QTest::newRow("the PC's host name address") << NetworkModuleControl::GetLocalIP() << 2 << none;
    // Another address goes out, to the broadcast targets and to DeviceIP (a stop then ends
    // the wait).
    QTest::newRow("another address") << QStringLiteral("10.200.0.9") << 1
                                     << QStringList{QStringLiteral("255.255.255.255"),
                                            QStringLiteral("10.200.0.255"), PeerAddress};
}

void TestNetDiscovery::ownAddressIsNeverSent()
{
    QFETCH(QString, address);
    QFETCH(int, result);
    QFETCH(QStringList, sends);
    auto owned = std::make_unique<RecordingSocket>();
    RecordingSocket *socket = owned.get();
    NetworkModuleControl control(*m_link, std::move(owned));
    m_link->setDeviceIP(PeerAddress);
    m_link->setStopRequested(true);

    QCOMPARE(
        int(control.SetTCPConfig(staticRequest({2, 0, 0, 0, 0, 1}, *ipBytes(address)))), result);
    QCOMPARE(socket->sends, sends);
    QCOMPARE(socket->binds.isEmpty(), sends.isEmpty());
}

void TestNetDiscovery::ping_data()
{
    QTest::addColumn<bool>("socketAllowed");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<int>("method");

    const QString ping = QStringLiteral("ping");
    const auto icmp = int(TKVPing::Method::IcmpSocket);
    const auto program = int(TKVPing::Method::PingProgram);
    const auto none = int(TKVPing::Method::None);
    QTest::newRow("socket: loopback")
        << true << ping << QStringLiteral("127.0.0.1") << true << icmp;
    QTest::newRow("socket: a module") << true << ping << PeerAddress << true << icmp;
    QTest::newRow("socket: nobody") << true << ping << nettest::NobodyAddress << false << icmp;
    QTest::newRow("socket: no route")
        << true << ping << nettest::UnreachableAddress << false << icmp;
    QTest::newRow("program: a module") << false << ping << PeerAddress << true << program;
    QTest::newRow("program: nobody") << false << ping << nettest::NobodyAddress << false << program;
    QTest::newRow("neither way") << false << QStringLiteral("/nonexistent/ping") << PeerAddress
                                 << false << none;
    QTest::newRow("names are not looked up")
        << true << ping << QStringLiteral("localhost") << false << none;
}

void TestNetDiscovery::ping()
{
    QFETCH(bool, socketAllowed);
    QFETCH(QString, program);
    QFETCH(QString, address);
    QFETCH(bool, answered);
    QFETCH(int, method);
    // Per network namespace: this changes the rule in this program's namespace only.
    const QString range = QStringLiteral("/proc/sys/net/ipv4/ping_group_range");
    QVERIFY(writeFile(range, socketAllowed ? "0 2147483647" : "1 0"));
    TKVPing pinger(300);
    pinger.setPingProgram(program);
    const bool result = pinger.PingHost(address);
    QVERIFY(writeFile(range, "1 0"));
    QCOMPARE(result, answered);
    QCOMPARE(int(pinger.lastMethod()), method);
}

void TestNetDiscovery::pingEndsOnStop_data()
{
    QTest::addColumn<bool>("socketAllowed");
    QTest::addColumn<int>("method");
    QTest::newRow("socket") << true << int(TKVPing::Method::IcmpSocket);
    QTest::newRow("program") << false << int(TKVPing::Method::PingProgram);
}

void TestNetDiscovery::pingEndsOnStop()
{
    QFETCH(bool, socketAllowed);
    QFETCH(int, method);
    const QString range = QStringLiteral("/proc/sys/net/ipv4/ping_group_range");
    QVERIFY(writeFile(range, socketAllowed ? "0 2147483647" : "1 0"));
    // Nobody answers, and the check would wait far longer than the test may run.
    TKVPing pinger(600000);
    pinger.setStopRequest(&m_link->stopRequest());
    QTimer::singleShot(50, m_link.get(), [this] { m_link->setStopRequested(true); });
    const bool result = pinger.PingHost(nettest::NobodyAddress);
    QVERIFY(writeFile(range, "1 0"));
    QVERIFY(m_link->StopRequested());
    QVERIFY(!result);
    QCOMPARE(int(pinger.lastMethod()), method);
}

void TestNetDiscovery::localAddressWithoutNameLookUp()
{
    // The LAN interface's address, whatever the host name is registered as.
    QCOMPARE(NetworkModuleControl::GetLocalIP(), PcAddress);
}

void TestNetDiscovery::configReachesWhatTheSearchFound()
{
    // Without a default route 255.255.255.255 cannot be sent; the subnet's broadcast can.
    const nettest::WithoutDefaultRoute noDefaultRoute;
    QVERIFY2(noDefaultRoute.ok(), qPrintable(noDefaultRoute.why()));
    QVERIFY(startSim(1));
    // The module reports an address of another subnet, where no unicast can go.
    m_sim->modules()[0].ip = *ipBytes(nettest::UnreachableAddress);
    QVERIFY(m_control->SearchTCPDevice());
    QCOMPARE(m_control->GetTCPDeviceItem(1, 1), nettest::UnreachableAddress);
    m_link->setDeviceIP(m_control->GetTCPDeviceItem(1, 1));

    QCOMPARE(m_control->SetTCPConfig(staticRequest(m_sim->modules()[0].mac, {10, 200, 0, 60})),
        ConfigResult::Accepted);
    QCOMPARE(ipText(m_sim->modules()[0].ip), QStringLiteral("10.200.0.60"));
    QCOMPARE(ipText(m_control->configRecord().ip()), QStringLiteral("10.200.0.60"));
}

void TestNetDiscovery::portsFreeBetweenOperations()
{
    // Another program (matrixctl, a second window) can search and configure in between.
    QVERIFY(startSim(1));
    QUdpSocket other;
    QVERIFY(m_control->SearchTCPDevice());
    QVERIFY2(other.bind(QHostAddress::AnyIPv4, SearchPort), qPrintable(other.errorString()));
    other.close();
    m_link->setDeviceIP(QStringLiteral("0.0.0.0"));
    QCOMPARE(m_control->SetTCPConfig(staticRequest(m_sim->modules()[0].mac, {10, 200, 0, 61})),
        ConfigResult::Accepted);
    QVERIFY2(other.bind(QHostAddress::AnyIPv4, ConfigPort), qPrintable(other.errorString()));
}

NETTEST_MAIN(TestNetDiscovery)
#include "tst_netdiscovery.moc"
