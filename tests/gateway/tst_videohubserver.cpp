// The Videohub protocol server as router panels meet it: real TCP clients on loopback, the
// gateway in front of the simulated switcher.
#include "CommandPacket.h"
#include "Gateway.h"
#include "GatewaySettings.h"
#include "LoopLevelProbe.h"
#include "SimulatorServer.h"
#include "TKVCOMControl.h"
#include "VideohubServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr char EndPrelude[] = "END PRELUDE:\n\n";
constexpr char Preamble[] = "PROTOCOL PREAMBLE:\nVersion: 2.7\n\n";
constexpr char Absent[] = "VIDEOHUB DEVICE:\nDevice present: false\n\n";

// Two hosts of the loopback network, each the address of its own panels.
const QHostAddress HostA(QStringLiteral("127.0.0.1"));
const QHostAddress HostB(QStringLiteral("127.0.0.2"));

// A router panel: a socket and everything it has received. `from` is the address it connects
// from (the system's choice when null).
class Panel final : public QObject
{
public:
    explicit Panel(quint16 port, const QHostAddress &from = {})
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] { in += socket.readAll(); });
        if (!from.isNull())
            socket.bind(from);
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool hasDump() const { return in.contains(EndPrelude); }
    // Drops the status dump, keeping what came after it.
    QByteArray takeDump()
    {
        const qsizetype end = in.indexOf(EndPrelude) + qsizetype(sizeof(EndPrelude) - 1);
        const QByteArray dump = in.left(end);
        in.remove(0, end);
        return dump;
    }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }

    QTcpSocket socket;
    QByteArray in;
};

QByteArray routing(const QByteArray &lines)
{
    return "VIDEO OUTPUT ROUTING:\n" + lines + "\n";
}

// The device block of the simulated switcher, present, under the given name.
QByteArray device(const QByteArray &friendlyName)
{
    return "VIDEOHUB DEVICE:\n"
           "Device present: true\n"
           "Model name: HDMI Matrix 6x6\n"
           "Friendly name: "
        + friendlyName
        + "\n"
          "Unique ID: 0123456789AB\n"
          "Video inputs: 6\n"
          "Video processing units: 0\n"
          "Video outputs: 6\n"
          "Video monitoring outputs: 0\n"
          "Serial ports: 0\n"
          "\n";
}

constexpr char TakeModeOff[] = "CONFIGURATION:\nTake Mode: false\n\n";

// Route requests (02/03) among what the switcher received.
int routeRequests(const QByteArrayList &received)
{
    return int(std::count_if(received.begin(), received.end(), [](const QByteArray &request) {
        const CommandPacket packet = CommandPacket::fromBytes(request);
        return packet.command() == 0x02 && packet.subcommand() == 0x03;
    }));
}

} // namespace

// An exchange that failed ends the test there.
#define EXCHANGE(...)                                                                              \
    do {                                                                                           \
        exchange(__VA_ARGS__);                                                                     \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class TestVideohubServer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void statusDumpOnConnect();
    void scriptedSession();
    void locksBelongToTheAddress();
    void salvoWithALockedOutput();
    void labelNotSavedIsRefused();
    void friendlyNameKeptAndTold();
    void takeModeStaysOff();
    void malformedBlocks_data();
    void malformedBlocks();
    void silentAndUnfinishedClients();
    void addressNotAllowed();
    void clientBound();
    void feedbackReachesEveryClientOnceInOrder();
    void switcherDisappearsAndReturns();
    void switcherFoundAfterPanelsConnected();
    void deviceNotPresentUntilItsRoutesAreRead_data();
    void deviceNotPresentUntilItsRoutesAreRead();
    void silentSwitcherToldAtOnce();

private:
    void start(const VideohubServer::Limits &limits = {},
        const QList<QPair<QHostAddress, int>> &allow
        = {QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8"))},
        int pollMs = 0);
    std::unique_ptr<Panel> connectPanel(const QHostAddress &from = {});
    // Sends the text and waits until the panel has received exactly `reply` (then nothing
    // more before the answer to a PING).
    void exchange(Panel &panel, const QByteArray &text, const QByteArray &reply);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimulatorServer> m_sim;
    std::unique_ptr<Gateway> m_gateway;
    std::unique_ptr<VideohubServer> m_server;
    std::unique_ptr<LoopLevelProbe> m_probe;
};

void TestVideohubServer::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_sim = std::make_unique<SimulatorServer>();
    QVERIFY(m_sim->listenTcp());
}

void TestVideohubServer::cleanup()
{
    // No state change of the switcher was told from an event loop nested under the gateway.
    if (m_probe)
        QVERIFY2(m_probe->nothingNested(), qPrintable(m_probe->report()));
    m_probe.reset();
    m_server.reset();
    m_gateway.reset();
    m_sim.reset();
    m_dir.reset();
}

void TestVideohubServer::start(
    const VideohubServer::Limits &limits, const QList<QPair<QHostAddress, int>> &allow, int pollMs)
{
    GatewayConfig c;
    c.target = GatewayConfig::Target::Tcp;
    c.host = QStringLiteral("127.0.0.1");
    c.tcpPort = m_sim->tcpPort();
    c.pollMs = pollMs;
    c.timing = Timing::fast();
    c.reconnectMinMs = 5;
    c.reconnectMaxMs = 40;
    c.settingsPath = m_dir->filePath(QStringLiteral("gateway.ini"));
    m_gateway = std::make_unique<Gateway>(c);
    m_probe = std::make_unique<LoopLevelProbe>();
    m_probe->watch(*m_gateway);
    ClientPolicy clients;
    clients.allow = allow;
    m_server = std::make_unique<VideohubServer>(
        *m_gateway, clients, QStringLiteral("0123456789AB"), limits);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    m_gateway->start();
    QTRY_VERIFY(m_gateway->state().present);
}

std::unique_ptr<Panel> TestVideohubServer::connectPanel(const QHostAddress &from)
{
    auto panel = std::make_unique<Panel>(m_server->port(), from);
    [&] { QTRY_VERIFY(panel->hasDump()); }();
    panel->takeDump();
    return panel;
}

void TestVideohubServer::exchange(Panel &panel, const QByteArray &text, const QByteArray &reply)
{
    panel.send(text);
    QTRY_VERIFY2(panel.in.size() >= reply.size(), panel.in.constData());
    panel.send("PING:\n\n");
    QTRY_VERIFY(panel.in.size() >= reply.size() + 5);
    QCOMPARE(panel.in, reply + "ACK\n\n");
    panel.in.clear();
}

void TestVideohubServer::statusDumpOnConnect()
{
    m_sim->simulator().state().routes = {2, 1, 3, 4, 6, 6};
    start();
    Gateway::Done ignore;
    m_gateway->setLabel(GatewaySide::Input, 1, QStringLiteral("Camera"), ignore);
    m_gateway->setLabel(GatewaySide::Output, 6, QStringLiteral("Stage\u2028left"), ignore);
    const std::unique_ptr<Panel> other = connectPanel(HostB);
    EXCHANGE(*other, "VIDEO OUTPUT LOCKS:\n2 O\n\n", "ACK\n\nVIDEO OUTPUT LOCKS:\n2 O\n\n");

    Panel panel(m_server->port(), HostA);
    QTRY_VERIFY(panel.hasDump());
    QCOMPARE(panel.takeDump(),
        QByteArray("PROTOCOL PREAMBLE:\n"
                   "Version: 2.7\n"
                   "\n"
                   "VIDEOHUB DEVICE:\n"
                   "Device present: true\n"
                   "Model name: HDMI Matrix 6x6\n"
                   "Friendly name: HDMI Matrix 6x6\n"
                   "Unique ID: 0123456789AB\n"
                   "Video inputs: 6\n"
                   "Video processing units: 0\n"
                   "Video outputs: 6\n"
                   "Video monitoring outputs: 0\n"
                   "Serial ports: 0\n"
                   "\n"
                   "INPUT LABELS:\n0 Camera\n1 Input 2\n2 Input 3\n3 Input 4\n4 Input 5\n"
                   "5 Input 6\n\n"
                   "OUTPUT LABELS:\n0 Output 1\n1 Output 2\n2 Output 3\n3 Output 4\n4 Output 5\n"
                   "5 Stage left\n\n"
                   "VIDEO OUTPUT LOCKS:\n0 U\n1 U\n2 L\n3 U\n4 U\n5 U\n\n"
                   "VIDEO OUTPUT ROUTING:\n0 1\n1 0\n2 2\n3 3\n4 5\n5 5\n\n"
                   "CONFIGURATION:\nTake Mode: false\n\n"
                   "END PRELUDE:\n\n"));
    QCOMPARE(panel.in, QByteArray());
    QCOMPARE(m_server->clientCount(), 2);
}

// The dialogues of the protocol's public description, on a six-port switcher (its examples
// use port 7 of larger routers; here the ports are within 0..5).
void TestVideohubServer::scriptedSession()
{
    start();
    const std::unique_ptr<Panel> panel = connectPanel();
    // Requesting changes: a route, answered ACK, then the status update.
    EXCHANGE(*panel, "VIDEO OUTPUT ROUTING:\n5 2\n\n",
        "ACK\n\n"
        "VIDEO OUTPUT ROUTING:\n5 2\n\n");
    QCOMPARE(m_sim->simulator().state().routes[5], 3);
    // A simple label change.
    EXCHANGE(*panel, "OUTPUT LABELS:\n5 new output label six\n\n",
        "ACK\n\n"
        "OUTPUT LABELS:\n5 new output label six\n\n");
    // Requesting a status dump of one block.
    EXCHANGE(*panel, "OUTPUT LABELS:\n\n",
        "ACK\n\n"
        "OUTPUT LABELS:\n0 Output 1\n1 Output 2\n2 Output 3\n3 Output 4\n4 Output 5\n"
        "5 new output label six\n\n");
    // Locking, and forcing a lock open.
    EXCHANGE(*panel, "VIDEO OUTPUT LOCKS:\n4 O\n\n",
        "ACK\n\n"
        "VIDEO OUTPUT LOCKS:\n4 O\n\n");
    EXCHANGE(*panel, "VIDEO OUTPUT LOCKS:\n4 F\n\n",
        "ACK\n\n"
        "VIDEO OUTPUT LOCKS:\n4 U\n\n");
    // Checking the connection.
    EXCHANGE(*panel, "PING:\n\n", "ACK\n\n");
    // A request not understood.
    EXCHANGE(*panel, "VIDEO OUTPUT ROUTING:\n7 2\n\n", "NAK\n\n");
    // A salvo: each change in order; a route already in place is shown as it stands.
    EXCHANGE(*panel, "VIDEO OUTPUT ROUTING:\n0 4\n1 1\n2 0\n\n",
        "ACK\n\n"
        "VIDEO OUTPUT ROUTING:\n0 4\n\n"
        "VIDEO OUTPUT ROUTING:\n2 0\n\n"
        "VIDEO OUTPUT ROUTING:\n1 1\n\n");
}

// A lock is its address's: every panel of that host holds it, and it stays when they go.
void TestVideohubServer::locksBelongToTheAddress()
{
    start();
    const std::unique_ptr<Panel> a1 = connectPanel(HostA);
    const std::unique_ptr<Panel> a2 = connectPanel(HostA);
    const std::unique_ptr<Panel> b = connectPanel(HostB);
    EXCHANGE(*a1, "VIDEO OUTPUT LOCKS:\n1 O\n\n", "ACK\n\nVIDEO OUTPUT LOCKS:\n1 O\n\n");
    QTRY_COMPARE(a2->in, QByteArray("VIDEO OUTPUT LOCKS:\n1 O\n\n"));
    QTRY_COMPARE(b->in, QByteArray("VIDEO OUTPUT LOCKS:\n1 L\n\n"));
    a2->in.clear();
    b->in.clear();

    // The other host can neither route the output nor unlock it; it is shown both as they are.
    EXCHANGE(*b, routing("1 5\n"), "ACK\n\n" + routing("1 1\n"));
    EXCHANGE(*b, "VIDEO OUTPUT LOCKS:\n1 U\n\n", "ACK\n\nVIDEO OUTPUT LOCKS:\n1 L\n\n");
    QCOMPARE(m_sim->simulator().state().routes[1], 2);
    // The locking host's other connection routes it.
    EXCHANGE(*a2, routing("1 5\n"), "ACK\n\n" + routing("1 5\n"));
    QTRY_COMPARE(b->in, routing("1 5\n"));
    b->in.clear();

    // Its connections close: the lock stays, and is told to no one. A new connection from
    // that host finds it its own, one from elsewhere another's.
    a1->socket.disconnectFromHost();
    a2->socket.disconnectFromHost();
    QTRY_COMPARE(m_server->clientCount(), 1);
    EXCHANGE(*b, "PING:\n\n", "ACK\n\n");
    const std::unique_ptr<Panel> a3 = std::make_unique<Panel>(m_server->port(), HostA);
    QTRY_VERIFY(a3->hasDump());
    QVERIFY(a3->takeDump().contains("VIDEO OUTPUT LOCKS:\n0 U\n1 O\n2 U\n"));
    const std::unique_ptr<Panel> b2 = std::make_unique<Panel>(m_server->port(), HostB);
    QTRY_VERIFY(b2->hasDump());
    QVERIFY(b2->takeDump().contains("VIDEO OUTPUT LOCKS:\n0 U\n1 L\n2 U\n"));
    EXCHANGE(*a3, "VIDEO OUTPUT LOCKS:\n\n",
        "ACK\n\nVIDEO OUTPUT LOCKS:\n0 U\n1 O\n2 U\n3 U\n4 U\n5 U\n\n");

    // Any client may force it open.
    EXCHANGE(*b2, "VIDEO OUTPUT LOCKS:\n1 F\n\n", "ACK\n\nVIDEO OUTPUT LOCKS:\n1 U\n\n");
    QTRY_COMPARE(a3->in, QByteArray("VIDEO OUTPUT LOCKS:\n1 U\n\n"));
    QTRY_COMPARE(b->in, QByteArray("VIDEO OUTPUT LOCKS:\n1 U\n\n"));
    b->in.clear();
    EXCHANGE(*b, routing("1 3\n"), "ACK\n\n" + routing("1 3\n"));

    // A command-line client that sends its lock and closes at once has it taken, and one that
    // unlocks and closes likewise.
    for (const char *letter : {"O", "U"}) {
        b->in.clear();
        auto quick = std::make_unique<Panel>(m_server->port(), HostA);
        quick->socket.write(QByteArray("VIDEO OUTPUT LOCKS:\n4 ") + letter + "\n\n");
        quick->socket.disconnectFromHost();
        QTRY_COMPARE(
            b->in, QByteArray("VIDEO OUTPUT LOCKS:\n4 ") + (*letter == 'O' ? "L" : "U") + "\n\n");
        QCOMPARE(m_gateway->state().locked(5), *letter == 'O');
    }
}

// A salvo makes every route but those to outputs another host holds; the requester is shown
// those as they stand, after its ACK and the routes made.
void TestVideohubServer::salvoWithALockedOutput()
{
    start();
    const std::unique_ptr<Panel> a = connectPanel(HostA);
    const std::unique_ptr<Panel> b = connectPanel(HostB);
    EXCHANGE(*b, "VIDEO OUTPUT LOCKS:\n1 O\n3 O\n\n",
        "ACK\n\nVIDEO OUTPUT LOCKS:\n1 O\n\nVIDEO OUTPUT LOCKS:\n3 O\n\n");
    QTRY_COMPARE(a->in, QByteArray("VIDEO OUTPUT LOCKS:\n1 L\n\nVIDEO OUTPUT LOCKS:\n3 L\n\n"));
    a->in.clear();

    EXCHANGE(*a, routing("0 4\n1 4\n2 4\n3 4\n4 3\n"),
        "ACK\n\n" + routing("0 4\n") + routing("2 4\n") + routing("4 3\n") + routing("1 1\n3 3\n"));
    QCOMPARE(m_sim->simulator().state().routes, (std::array<int, 6>{5, 2, 5, 4, 4, 6}));
    // The other panels see the routes made, nothing of the lines left out.
    QTRY_COMPARE(b->in, routing("0 4\n") + routing("2 4\n") + routing("4 3\n"));
    b->in.clear();
    EXCHANGE(*b, "PING:\n\n", "ACK\n\n");
}

// A label block that gateway.ini cannot keep gets NAK, changes nothing and is told to no one.
void TestVideohubServer::labelNotSavedIsRefused()
{
    start();
    const std::unique_ptr<Panel> a = connectPanel();
    const std::unique_ptr<Panel> b = connectPanel();
    const QString settings = m_dir->filePath(QStringLiteral("gateway.ini"));
    QFile::remove(settings);
    QVERIFY(QDir().mkdir(settings)); // a save cannot replace a folder

    EXCHANGE(*a, "INPUT LABELS:\n0 Camera\n1 Desk\n\n", "NAK\n\n");
    EXCHANGE(*b, "PING:\n\n", "ACK\n\n");
    QCOMPARE(m_gateway->state().label(GatewaySide::Input, 1), QString());
    QVERIFY(QFileInfo(settings).isDir());

    QVERIFY(QDir().rmdir(settings));
    EXCHANGE(*a, "INPUT LABELS:\n0 Camera\n\n", "ACK\n\nINPUT LABELS:\n0 Camera\n\n");
    QTRY_COMPARE(b->in, QByteArray("INPUT LABELS:\n0 Camera\n\n"));
    QCOMPARE(GatewaySettings(settings).load().inputLabels[0], QStringLiteral("Camera"));
}

// A panel names the device: the name is kept in gateway.ini before the ACK, and every panel is
// told it once. One that cannot be kept gets NAK and is told to no one.
void TestVideohubServer::friendlyNameKeptAndTold()
{
    start();
    const std::unique_ptr<Panel> a = connectPanel();
    const std::unique_ptr<Panel> b = connectPanel();
    const QString settings = m_dir->filePath(QStringLiteral("gateway.ini"));

    EXCHANGE(*a, "VIDEOHUB DEVICE:\nFriendly name: Studio A\n\n", "ACK\n\n" + device("Studio A"));
    QTRY_COMPARE(b->in, device("Studio A"));
    b->in.clear();
    QCOMPARE(GatewaySettings(settings).load().friendlyName, QStringLiteral("Studio A"));
    // The name it has already: nothing is told, the requester is shown the device as it is.
    EXCHANGE(*a, "VIDEOHUB DEVICE:\nFriendly name: Studio A\n\n", "ACK\n\n" + device("Studio A"));

    QFile::remove(settings);
    QVERIFY(QDir().mkdir(settings)); // a save cannot replace a folder
    EXCHANGE(*a, "VIDEOHUB DEVICE:\nFriendly name: Studio B\n\n", "NAK\n\n");
    QCOMPARE(m_gateway->state().friendlyName, QStringLiteral("Studio A"));
    QVERIFY(QDir().rmdir(settings));
    EXCHANGE(*b, "VIDEOHUB DEVICE:\nFriendly name: Régie\n\n", "ACK\n\n" + device("Régie"));
    QTRY_COMPARE(a->in, device("Régie"));

    // A gateway started again tells new panels the name kept.
    m_server.reset();
    start();
    Panel c(m_server->port());
    QTRY_VERIFY(c.hasDump());
    QVERIFY2(c.takeDump().contains(device("Régie")), c.in.constData());
    // An empty name gives the device its model's name again.
    EXCHANGE(c, "VIDEOHUB DEVICE:\nFriendly name:\n\n", "ACK\n\n" + device("HDMI Matrix 6x6"));
    QCOMPARE(GatewaySettings(settings).load().friendlyName, QString());
}

// Take Mode (routes held until a take) is not offered: a panel may ask to keep it off, not to
// turn it on, and routes still take effect at once.
void TestVideohubServer::takeModeStaysOff()
{
    start();
    const std::unique_ptr<Panel> a = connectPanel();
    const std::unique_ptr<Panel> b = connectPanel();
    EXCHANGE(*a, "CONFIGURATION:\nTake Mode: true\n\n", "NAK\n\n");
    EXCHANGE(*a, "CONFIGURATION:\nTake Mode: false\n\n", QByteArray("ACK\n\n") + TakeModeOff);
    EXCHANGE(*a, "CONFIGURATION:\n\n", QByteArray("ACK\n\n") + TakeModeOff);
    EXCHANGE(*a, routing("0 4\n"), "ACK\n\n" + routing("0 4\n"));
    QCOMPARE(m_sim->simulator().state().routes[0], 5);
    // The other panel heard the route and nothing of the settings.
    EXCHANGE(*b, "PING:\n\n", routing("0 4\n") + "ACK\n\n");
}

void TestVideohubServer::malformedBlocks_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("unknown header") << QByteArray("SERIAL PORT ROUTING:\n0 1\n\n");
    QTest::newRow("bad number") << QByteArray("VIDEO OUTPUT ROUTING:\n0 x\n\n");
    QTest::newRow("port out of range") << QByteArray("VIDEO OUTPUT ROUTING:\n0 1\n6 1\n\n");
    QTest::newRow("overlong line") << "INPUT LABELS:\n0 " + QByteArray(5000, 'x') + "\n\n";
    QTest::newRow("too many lines")
        << "VIDEO OUTPUT ROUTING:\n" + QByteArray("0 1\n").repeated(65) + "\n";
    QTest::newRow("binary garbage") << QByteArray("\xff\xfe\x00\x01:\n\x80\n\n", 9);
}

void TestVideohubServer::malformedBlocks()
{
    QFETCH(QByteArray, text);
    start();
    const std::unique_ptr<Panel> panel = connectPanel();
    const auto before = m_sim->simulator().state().routes;
    const QStringList labels{
        m_gateway->state().inputLabels.begin(), m_gateway->state().inputLabels.end()};
    EXCHANGE(*panel, text, "NAK\n\n");
    // Still served, and nothing changed.
    EXCHANGE(*panel, "VIDEO OUTPUT ROUTING:\n3 3\n\n", "ACK\n\n" + routing("3 3\n"));
    QCOMPARE(m_sim->simulator().state().routes, before);
    QCOMPARE(
        (QStringList{m_gateway->state().inputLabels.begin(), m_gateway->state().inputLabels.end()}),
        labels);
}

void TestVideohubServer::silentAndUnfinishedClients()
{
    VideohubServer::Limits limits;
    limits.idleMs = 300;
    limits.blockMs = 100;
    start(limits);
    const std::unique_ptr<Panel> unfinished = connectPanel();
    unfinished->send("VIDEO OUTPUT ROUTING:\n0 3\n");
    QTRY_COMPARE(unfinished->in, QByteArray("NAK\n\n"));
    unfinished->in.clear();
    // The rest of the dropped block is no block of its own.
    EXCHANGE(*unfinished, "\n", "");
    QCOMPARE(m_sim->simulator().state().routes[0], 1);

    // A panel that only listens has its dump and is kept well past the idle time, and still
    // hears every change.
    const std::unique_ptr<Panel> silent = connectPanel();
    QTest::qWait(3 * limits.idleMs);
    QCOMPARE(silent->socket.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(m_server->clientCount(), 2);
    EXCHANGE(*unfinished, "VIDEO OUTPUT ROUTING:\n0 3\n\n", "ACK\n\n" + routing("0 3\n"));
    QTRY_COMPARE(silent->in, routing("0 3\n"));
}

void TestVideohubServer::addressNotAllowed()
{
    start({}, {QHostAddress::parseSubnet(QStringLiteral("10.0.0.0/8"))});
    QSignalSpy refused(m_server.get(), &VideohubServer::refused);
    Panel panel(m_server->port());
    QTRY_COMPARE(refused.count(), 1);
    QCOMPARE(refused.at(0).at(0).value<QHostAddress>(), QHostAddress(QHostAddress::LocalHost));
    QTRY_COMPARE(panel.socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(panel.in, QByteArray());
    QCOMPARE(m_server->clientCount(), 0);
}

void TestVideohubServer::clientBound()
{
    VideohubServer::Limits limits;
    limits.maxClients = 2;
    start(limits);
    const std::unique_ptr<Panel> a = connectPanel();
    const std::unique_ptr<Panel> b = connectPanel();
    QSignalSpy refused(m_server.get(), &VideohubServer::refused);
    Panel third(m_server->port());
    QTRY_COMPARE(refused.count(), 1);
    QTRY_COMPARE(third.socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(third.in, QByteArray());
    // A place that comes free is taken again.
    a->socket.disconnectFromHost();
    QTRY_COMPARE(m_server->clientCount(), 1);
    const std::unique_ptr<Panel> fourth = connectPanel();
    QCOMPARE(m_server->clientCount(), 2);
}

void TestVideohubServer::feedbackReachesEveryClientOnceInOrder()
{
    start({}, {QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8"))}, 20);
    std::vector<std::unique_ptr<Panel>> panels;
    for (int k = 0; k < 50; ++k)
        panels.push_back(std::make_unique<Panel>(m_server->port()));
    for (auto &panel : panels) {
        QTRY_VERIFY(panel->hasDump());
        panel->takeDump();
    }
    // A panel's salvo, a request from outside the protocol (as the HTTP API makes), and a
    // change at the switcher's front panel that only the poll sees.
    panels[17]->send(routing("0 3\n1 3\n"));
    QTRY_VERIFY(panels[17]->in.size() >= 5);
    QCOMPARE(panels[17]->in.left(5), QByteArray("ACK\n\n"));
    panels[17]->in.remove(0, 5);
    const QByteArray salvo = routing("0 3\n") + routing("1 3\n");
    for (auto &panel : panels)
        QTRY_COMPARE(panel->in, salvo);
    bool answered = false;
    m_gateway->setRoute(6, 1, {}, [&](const GatewayResult &r) { answered = r.ok(); });
    QTRY_VERIFY(answered);
    m_sim->simulator().state().routes[3] = 6;
    const QByteArray all = salvo + routing("5 0\n") + routing("3 5\n");
    for (auto &panel : panels)
        QTRY_COMPARE(panel->in, all);
    // Nothing told twice: a PING's ACK comes next on every connection.
    for (auto &panel : panels)
        panel->send("PING:\n\n");
    for (auto &panel : panels)
        QTRY_COMPARE(panel->in, all + "ACK\n\n");
}

void TestVideohubServer::switcherDisappearsAndReturns()
{
    start();
    const quint16 port = m_sim->tcpPort();
    const std::unique_ptr<Panel> panel = connectPanel();
    m_sim.reset();
    // Told once, though the reason changes when the first reconnect fails.
    QTRY_VERIFY(m_gateway->state().linkText.startsWith(QStringLiteral("Connect 127.0.0.1 failed")));
    QCOMPARE(panel->in, QByteArray("VIDEOHUB DEVICE:\nDevice present: false\n\n"));
    panel->in.clear();
    // Still acknowledged; the route cannot change, and the requester is told why.
    EXCHANGE(*panel, routing("0 4\n"), "ACK\n\n" + QByteArray(Absent));

    m_sim = std::make_unique<SimulatorServer>();
    m_sim->simulator().state().routes = {3, 2, 3, 4, 5, 6};
    QVERIFY(m_sim->listenTcp(QHostAddress::LocalHost, port));
    // Back: the device, then every block again but the preamble, with the routes as they are.
    QTRY_VERIFY(panel->in.contains("VIDEO OUTPUT ROUTING:\n0 2\n1 1"));
    QVERIFY(panel->in.startsWith("VIDEOHUB DEVICE:\nDevice present: true\n"));
    QCOMPARE(panel->in.count("VIDEO OUTPUT ROUTING:"), 1);
    QVERIFY(panel->in.contains("INPUT LABELS:\n"));
    QVERIFY(panel->in.contains("VIDEO OUTPUT LOCKS:\n"));
    QVERIFY(panel->in.contains(TakeModeOff));
    QVERIFY(!panel->in.contains("PROTOCOL PREAMBLE:"));
}

void TestVideohubServer::switcherFoundAfterPanelsConnected()
{
    const quint16 port = m_sim->tcpPort();
    m_sim.reset(); // not there yet when the gateway starts
    GatewayConfig c;
    c.target = GatewayConfig::Target::Tcp;
    c.host = QStringLiteral("127.0.0.1");
    c.tcpPort = port;
    c.pollMs = 0;
    c.timing = Timing::fast();
    c.reconnectMinMs = 5;
    c.reconnectMaxMs = 20;
    m_gateway = std::make_unique<Gateway>(c);
    m_probe = std::make_unique<LoopLevelProbe>();
    m_probe->watch(*m_gateway);
    m_server = std::make_unique<VideohubServer>(
        *m_gateway, ClientPolicy{}, QStringLiteral("0123456789AB"));
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    m_gateway->start();
    // Nothing but the preamble and the device's absence: no labels, locks or routes.
    const QByteArray dump = Preamble + QByteArray(Absent);
    Panel panel(m_server->port());
    QTRY_VERIFY(panel.in.size() >= dump.size());
    EXCHANGE(panel, "PING:\n\n", dump + "ACK\n\n");

    m_sim = std::make_unique<SimulatorServer>();
    QVERIFY(m_sim->listenTcp(QHostAddress::LocalHost, port));
    QTRY_VERIFY(panel.in.contains(EndPrelude));
    // Found: the device with its facts, once, then the other blocks and the end of the dump;
    // no word of absence.
    QVERIFY2(panel.in.startsWith(
                 "VIDEOHUB DEVICE:\nDevice present: true\nModel name: HDMI Matrix 6x6\n"),
        panel.in.constData());
    QCOMPARE(panel.in.count("VIDEOHUB DEVICE:"), 1);
    QVERIFY(
        panel.in.endsWith(routing("0 0\n1 1\n2 2\n3 3\n4 4\n5 5\n") + TakeModeOff + EndPrelude));
}

void TestVideohubServer::deviceNotPresentUntilItsRoutesAreRead_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("restarted into standby") << QStringLiteral("restarted into standby");
    QTest::newRow("refusing after a reconnect") << QStringLiteral("refusing");
    QTest::newRow("put in standby at the switcher") << QStringLiteral("standby at the switcher");
}

// A switcher whose routes are not known is no device on this wire, reachable or not: panels
// get the device block once, nothing more until every route has been read again, and never
// the routes from before.
void TestVideohubServer::deviceNotPresentUntilItsRoutesAreRead()
{
    QFETCH(QString, how);
    const bool standbyAtSwitcher = how == u"standby at the switcher";
    start(
        {}, {QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8"))}, standbyAtSwitcher ? 20 : 0);
    const std::unique_ptr<Panel> panel = connectPanel();
    const QByteArray absent(Absent);
    const std::array<int, 6> unknown{};
    if (standbyAtSwitcher) {
        m_sim->simulator().state().powerOn = false;
        QTRY_COMPARE(m_gateway->state().power, std::optional<bool>(false));
    } else {
        const quint16 port = m_sim->tcpPort();
        m_sim.reset();
        QTRY_VERIFY(!m_gateway->state().present);
        m_sim = std::make_unique<SimulatorServer>();
        if (how == u"refusing")
            m_sim->faults().refuseStatus = 1000000;
        else
            m_sim->simulator().state().powerOn = false;
        QVERIFY(m_sim->listenTcp(QHostAddress::LocalHost, port));
        // Found (reachable in standby), or asked for its power and refused.
        const auto askedForPower = [this] {
            const QByteArrayList received = m_sim->received();
            return std::any_of(received.begin(), received.end(), [](const QByteArray &request) {
                return CommandPacket::fromBytes(request).command() == 0x10;
            });
        };
        QTRY_VERIFY(m_gateway->state().present || askedForPower());
    }
    // What it routes now is not what it routed before.
    m_sim->simulator().state().routes = {3, 3, 3, 3, 3, 3};
    EXCHANGE(*panel, "PING:\n\n", absent + "ACK\n\n");
    QVERIFY(!m_gateway->state().routesKnown);
    QCOMPARE(m_gateway->state().routes, unknown);
    // A switcher in standby stays reachable, so that it can be switched on.
    QCOMPARE(m_gateway->state().present, how != u"refusing");

    // A panel that comes now gets the preamble and the device block only; the device block
    // answers a query, and a route that cannot be made.
    Panel late(m_server->port());
    QTRY_VERIFY(late.in.size() >= (Preamble + absent).size());
    EXCHANGE(late, "PING:\n\n", Preamble + absent + "ACK\n\n");
    EXCHANGE(late, "VIDEO OUTPUT ROUTING:\n\n", "ACK\n\n" + absent);
    EXCHANGE(late, routing("0 4\n"), "ACK\n\n" + absent);
    EXCHANGE(*panel, "INPUT LABELS:\n0 Camera\n\n", "ACK\n\n");

    if (how == u"restarted into standby")
        m_gateway->setPower(true, {});
    else if (how == u"refusing")
        m_sim->faults().refuseStatus = 0;
    else
        m_sim->simulator().state().powerOn = true;
    // Every block again, with the routes read now; the end of the dump for the late panel.
    const QByteArray routes = routing("0 2\n1 2\n2 2\n3 2\n4 2\n5 2\n");
    QTRY_VERIFY(panel->in.contains("VIDEO OUTPUT ROUTING:"));
    QTRY_VERIFY(late.in.contains(EndPrelude));
    for (const Panel *p : {panel.get(), &late}) {
        QVERIFY2(p->in.startsWith("VIDEOHUB DEVICE:\nDevice present: true\n"), p->in.constData());
        QCOMPARE(p->in.count("VIDEOHUB DEVICE:"), 1);
        QVERIFY(p->in.contains("INPUT LABELS:\n0 Camera\n"));
        QVERIFY(p->in.contains("VIDEO OUTPUT LOCKS:\n"));
        QCOMPARE(p->in.count("VIDEO OUTPUT ROUTING:"), 1);
    }
    QVERIFY(panel->in.endsWith(routes + TakeModeOff));
    QVERIFY(late.in.endsWith(routes + TakeModeOff + EndPrelude));
    QVERIFY(m_gateway->state().routesKnown);
}

// A switcher that falls silent is given up after two tries of a second each, and the panel
// that asked is told then, not after the window's five tries of five seconds.
void TestVideohubServer::silentSwitcherToldAtOnce()
{
    start();
    m_gateway->link().setTiming(GatewayConfig().timing);
    const std::unique_ptr<Panel> panel = connectPanel();
    m_sim->faults().dropReplies = 1000000;
    m_sim->clearReceived();
    panel->send(routing("0 4\n"));
    QTRY_COMPARE_WITH_TIMEOUT(panel->in, "ACK\n\n" + QByteArray(Absent), 15000);
    QVERIFY(!m_gateway->state().present);
    QCOMPARE(routeRequests(m_sim->received()), 2);
}

QTEST_GUILESS_MAIN(TestVideohubServer)
#include "tst_videohubserver.moc"
