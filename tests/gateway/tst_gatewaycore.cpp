// The gateway's core against the simulated switcher over a real loopback socket: requests,
// salvos, presets, locks, the queue's bound, the poll, link loss and gateway.ini. Every test
// also checks that no answer or device outcome ran in an event loop nested under the gateway.
#include "../SpecialFiles.h"
#include "AppSettings.h"
#include "CommandPacket.h"
#include "Gateway.h"
#include "GatewaySettings.h"
#include "LoopLevelProbe.h"
#include "SettingsFile.h"
#include "SimulatorServer.h"
#include "StalledListener.h"
#include "TKVCOMControl.h"
#include "WindowSettingsImport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

Q_DECLARE_METATYPE(GatewayRoute)

namespace {

// Where the running test's callbacks run.
LoopLevelProbe *probe = nullptr;

// A request's answer, caught when it comes.
struct Answer
{
    std::optional<GatewayResult> result;
    Gateway::Done done()
    {
        return probe->wrap([this](const GatewayResult &r) {
            QVERIFY2(!result, "answered twice");
            result = r;
        });
    }
};

// Two hosts of the loopback network.
const QHostAddress Me(QStringLiteral("127.0.0.1"));
const QHostAddress Other(QStringLiteral("127.0.0.2"));

} // namespace

class TestGatewayCore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void startReadsTheSwitcher_data();
    void startReadsTheSwitcher();
    void salvo_data();
    void salvo();
    void presetSkipsOutputsLockedByAnother();
    void locksBelongToAddresses();
    void fullQueueRefusesAtOnce();
    void pollSeesChangesMadeAtTheSwitcher();
    void pollYieldsToClientRequests();
    void switcherDisappearsAndReturns();
    void labelsAndPresetsPersist();
    void importTakesTheWindowsLabelsAndPresets_data();
    void importTakesTheWindowsLabelsAndPresets();
    void importWithNothingForThisSwitcher_data();
    void importWithNothingForThisSwitcher();
    void unreadableFileMovedAside_data();
    void unreadableFileMovedAside();
    void fileThatCannotBeKeptRefused_data();
    void fileThatCannotBeKeptRefused();
    void reconnectWaitsGrowToFiveSeconds();
    void silentSwitcherGivenUpAfterTwoTries_data();
    void silentSwitcherGivenUpAfterTwoTries();
    void destroyedWithAnOperationInFlight_data();
    void destroyedWithAnOperationInFlight();

private:
    GatewayConfig config() const;
    void startGateway(const GatewayConfig &config);

    std::unique_ptr<SimulatorServer> m_sim;
    std::unique_ptr<Gateway> m_gateway;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LoopLevelProbe> m_probe;
};

void TestGatewayCore::init()
{
    m_probe = std::make_unique<LoopLevelProbe>();
    probe = m_probe.get();
    m_sim = std::make_unique<SimulatorServer>();
    QVERIFY(m_sim->listenTcp());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestGatewayCore::cleanup()
{
    m_gateway.reset();
    m_sim.reset();
    m_dir.reset();
    QVERIFY2(m_probe->nothingNested(), qPrintable(m_probe->report()));
}

GatewayConfig TestGatewayCore::config() const
{
    GatewayConfig c;
    c.target = GatewayConfig::Target::Tcp;
    c.host = QStringLiteral("127.0.0.1");
    c.tcpPort = m_sim->tcpPort();
    c.pollMs = 0;
    c.timing = Timing::fast();
    c.reconnectMinMs = 5;
    c.reconnectMaxMs = 40;
    c.settingsPath = m_dir->filePath(QStringLiteral("gateway.ini"));
    return c;
}

void TestGatewayCore::startGateway(const GatewayConfig &config)
{
    m_gateway = std::make_unique<Gateway>(config);
    m_probe->watch(*m_gateway);
    QSignalSpy present(m_gateway.get(), &Gateway::presentChanged);
    m_gateway->start();
    QTRY_VERIFY(m_gateway->state().present);
}

void TestGatewayCore::startReadsTheSwitcher_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<bool>("relative"); // the line named by a link in the current folder
    QTest::newRow("tcp") << false << false;
    QTest::newRow("serial line (pseudo terminal)") << true << false;
    QTest::newRow("serial line named relative to the current folder") << true << true;
}

void TestGatewayCore::startReadsTheSwitcher()
{
    QFETCH(bool, serial);
    QFETCH(bool, relative);
    m_sim->simulator().state().routes = {6, 5, 4, 3, 2, 1};
    GatewayConfig c = config();
    QString where = QString::number(m_sim->tcpPort());
    const QString before = QDir::currentPath();
    const auto restore = qScopeGuard([&before] { QDir::setCurrent(before); });
    if (serial) {
        const QString pty = m_sim->openPty();
        QVERIFY2(!pty.isEmpty(), qPrintable(m_sim->ptyError()));
        c.target = GatewayConfig::Target::Serial;
        c.serialPath = pty;
        if (relative) {
            // Not under /dev: the name is the link's, as the shell gave it.
            QVERIFY(QFile::link(pty, m_dir->filePath(QStringLiteral("simtty"))));
            QVERIFY(QDir::setCurrent(m_dir->path()));
            c.serialPath = QStringLiteral("simtty");
        }
        where = c.serialPath;
    }
    startGateway(c);
    const GatewayState &s = m_gateway->state();
    QCOMPARE(s.model, QStringLiteral("HDMI Matrix 6x6"));
    QCOMPARE(s.version, QStringLiteral("6.50"));
    QCOMPARE(s.power, std::optional<bool>(true));
    QCOMPARE(s.routes, (std::array<int, 6>{6, 5, 4, 3, 2, 1}));
    QVERIFY2(s.linkText.contains(where), qPrintable(s.linkText));
    Answer routed;
    m_gateway->setRoute(2, 6, Me, routed.done());
    QTRY_VERIFY(routed.result);
    QVERIFY(routed.result->ok());
    QCOMPARE(m_sim->simulator().state().routes[1], 6);
}

void TestGatewayCore::salvo_data()
{
    QTest::addColumn<QList<GatewayRoute>>("salvo");
    // Who holds the lock of output 2: nobody (null), the requester, or another host.
    QTest::addColumn<QHostAddress>("output2LockedBy");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("applied");
    QTest::addColumn<QList<int>>("left"); // outputs left out for their lock
    QTest::addColumn<QList<int>>("routesAfter");

    // The simulated switcher has four inputs here: it refuses inputs 5 and 6.
    const int none = int(GatewayError::None);
    const int locked = int(GatewayError::Locked);
    QTest::newRow("all applied in order")
        << QList<GatewayRoute>{{1, 3}, {2, 3}, {6, 1}} << QHostAddress() << none << 3
        << QList<int>{} << QList<int>{3, 3, 3, 4, 5, 1};
    QTest::newRow("stops at the switcher's refusal")
        << QList<GatewayRoute>{{1, 3}, {2, 5}, {3, 2}} << QHostAddress()
        << int(GatewayError::Refused) << 1 << QList<int>{} << QList<int>{3, 2, 3, 4, 5, 6};
    QTest::newRow("an output another host locked is left out, the rest made")
        << QList<GatewayRoute>{{1, 4}, {2, 1}, {3, 1}} << Other << locked << 2 << QList<int>{2}
        << QList<int>{4, 2, 1, 4, 5, 6};
    QTest::newRow("only locked lines: nothing is sent") << QList<GatewayRoute>{{2, 1},
        {2, 3}} << Other << locked << 0 << QList<int>{2} << QList<int>{1, 2, 3, 4, 5, 6};
    QTest::newRow("left out, then stopped by a refusal")
        << QList<GatewayRoute>{{2, 1}, {1, 3}, {3, 5}, {4, 1}} << Other
        << int(GatewayError::Refused) << 1 << QList<int>{2} << QList<int>{3, 2, 3, 4, 5, 6};
    QTest::newRow("one's own lock does not stop one") << QList<GatewayRoute>{{2, 4},
        {1, 2}} << Me << none << 2 << QList<int>{} << QList<int>{2, 4, 3, 4, 5, 6};
    QTest::newRow("the same host over IPv6 holds the lock")
        << QList<GatewayRoute>{{2, 4}} << QHostAddress(QStringLiteral("::ffff:127.0.0.1")) << none
        << 1 << QList<int>{} << QList<int>{1, 4, 3, 4, 5, 6};
    QTest::newRow("port out of range: nothing is sent")
        << QList<GatewayRoute>{{1, 2}, {7, 1}} << QHostAddress() << int(GatewayError::BadInput) << 0
        << QList<int>{} << QList<int>{1, 2, 3, 4, 5, 6};
    QTest::newRow("input 0: nothing is sent")
        << QList<GatewayRoute>{{1, 0}} << QHostAddress() << int(GatewayError::BadInput) << 0
        << QList<int>{} << QList<int>{1, 2, 3, 4, 5, 6};
}

void TestGatewayCore::salvo()
{
    QFETCH(QList<GatewayRoute>, salvo);
    QFETCH(QHostAddress, output2LockedBy);
    QFETCH(int, error);
    QFETCH(int, applied);
    QFETCH(QList<int>, left);
    QFETCH(QList<int>, routesAfter);

    m_sim->simulator().state().inputs = 4;
    startGateway(config());
    if (!output2LockedBy.isNull())
        QVERIFY(m_gateway->lock(2, output2LockedBy).ok());
    QSignalSpy changes(m_gateway.get(), &Gateway::routeChanged);
    Answer answer;
    m_gateway->setRoutes(salvo, Me, answer.done());
    QVERIFY(!answer.result); // never from inside the call
    QTRY_VERIFY(answer.result);
    QCOMPARE(int(answer.result->error), error);
    QCOMPARE(answer.result->applied, applied);
    QCOMPARE(answer.result->locked, left);
    QCOMPARE(answer.result->message.isEmpty(), error == int(GatewayError::None));

    const auto &device = m_sim->simulator().state().routes;
    QCOMPARE(QList<int>(device.begin(), device.end()), routesAfter);
    const auto &model = m_gateway->state().routes;
    QCOMPARE(QList<int>(model.begin(), model.end()), routesAfter);
    // Each change told once, in the salvo's order; the switcher starts with input k on output k.
    QList<GatewayRoute> told;
    for (const QList<QVariant> &signal : std::as_const(changes))
        told.append({signal[0].toInt(), signal[1].toInt()});
    QList<GatewayRoute> expected;
    int made = 0;
    for (const GatewayRoute &r : std::as_const(salvo)) {
        if (left.contains(r.output) || made == applied)
            continue;
        ++made;
        if (r.input != r.output)
            expected.append(r);
    }
    QCOMPARE(told, expected);
}

void TestGatewayCore::presetSkipsOutputsLockedByAnother()
{
    startGateway(config());
    GatewayPreset preset{QStringLiteral("Stage"), {2, 0, 6, 6, 1, 1}};
    Answer stored;
    m_gateway->setPreset(3, preset, stored.done());
    QTRY_VERIFY(stored.result);
    QVERIFY(stored.result->ok());

    QVERIFY(m_gateway->lock(4, Other).ok());
    QVERIFY(m_gateway->lock(1, Me).ok());
    Answer applied;
    m_gateway->applyPreset(3, Me, applied.done());
    QTRY_VERIFY(applied.result);
    QCOMPARE(applied.result->error, GatewayError::Locked);
    QCOMPARE(applied.result->locked, QList<int>{4});
    QCOMPARE(applied.result->applied, 4); // outputs 1, 3, 5, 6; output 2 is left as it is
    QCOMPARE(m_sim->simulator().state().routes, (std::array<int, 6>{2, 2, 6, 4, 1, 1}));

    // A client without an address holds no lock: both locked outputs are left out.
    Answer anonymous;
    m_gateway->applyPreset(3, {}, anonymous.done());
    QTRY_VERIFY(anonymous.result);
    QCOMPARE(anonymous.result->locked, (QList<int>{1, 4}));
    QCOMPARE(anonymous.result->applied, 3);

    // Once both locks are open, the whole preset applies.
    QVERIFY(m_gateway->forceUnlock(4).ok());
    QVERIFY(m_gateway->unlock(1, Me).ok());
    Answer last;
    m_gateway->applyPreset(3, Other, last.done());
    QTRY_VERIFY(last.result);
    QVERIFY(last.result->ok());
    QCOMPARE(last.result->locked, QList<int>{});
    QCOMPARE(m_sim->simulator().state().routes, (std::array<int, 6>{2, 2, 6, 6, 1, 1}));
}

void TestGatewayCore::locksBelongToAddresses()
{
    startGateway(config());
    Gateway &g = *m_gateway;
    const QHostAddress meOverIpv6(QStringLiteral("::ffff:127.0.0.1"));
    QSignalSpy locks(&g, &Gateway::lockChanged);
    QVERIFY(g.lock(2, meOverIpv6).ok());
    QCOMPARE(g.state().lockOwner(2), Me); // kept as the IPv4 address it is
    QVERIFY(g.lock(2, Me).ok()); // again: nothing changes
    QVERIFY(g.holdsLock(2, Me) && g.holdsLock(2, meOverIpv6));
    QVERIFY(!g.holdsLock(2, Other) && !g.holdsLock(2, {}) && !g.holdsLock(3, Me));
    QCOMPARE(g.lock(2, Other).error, GatewayError::Locked);
    QCOMPARE(g.unlock(2, Other).error, GatewayError::Locked);
    QVERIFY(g.state().locked(2));
    QVERIFY(g.unlock(2, meOverIpv6).ok());
    QVERIFY(!g.state().locked(2));
    QVERIFY(g.unlock(2, Other).ok()); // nothing to open
    QVERIFY(g.lock(2, Other).ok());
    QVERIFY(g.forceUnlock(2).ok()); // anyone's
    QVERIFY(g.lock(2, Me).ok());
    QCOMPARE(g.lock(0, Me).error, GatewayError::BadInput);
    QCOMPARE(g.lock(7, Me).error, GatewayError::BadInput);
    QCOMPARE(g.lock(1, {}).error, GatewayError::BadInput); // no address, no lock
    QCOMPARE(g.forceUnlock(7).error, GatewayError::BadInput);
    // Each change told once, without its owner.
    QCOMPARE(locks.count(), 5);
    const QList<QVariant> expected[]{{2, true}, {2, false}, {2, true}, {2, false}, {2, true}};
    for (int k = 0; k < locks.count(); ++k)
        QCOMPARE(locks.at(k), expected[k]);
}

void TestGatewayCore::fullQueueRefusesAtOnce()
{
    GatewayConfig c = config();
    c.queueLimit = 2;
    startGateway(c);
    Answer first, second, third;
    m_gateway->setRoute(1, 2, Me, first.done());
    m_gateway->setRoute(2, 3, Me, second.done());
    m_gateway->setRoute(3, 4, Me, third.done());
    QTRY_VERIFY(third.result);
    QCOMPARE(third.result->error, GatewayError::QueueFull);
    QVERIFY(!third.result->message.isEmpty());
    QTRY_VERIFY(first.result && second.result);
    QVERIFY(first.result->ok());
    QVERIFY(second.result->ok());
    QCOMPARE(m_sim->simulator().state().routes[2], 3); // the refused one never reached it
}

void TestGatewayCore::pollSeesChangesMadeAtTheSwitcher()
{
    GatewayConfig c = config();
    c.pollMs = 20;
    startGateway(c);
    QSignalSpy routes(m_gateway.get(), &Gateway::routeChanged);
    QSignalSpy power(m_gateway.get(), &Gateway::powerChanged);
    m_sim->simulator().state().routes[4] = 1; // the front panel switches output 5
    QTRY_COMPARE(routes.count(), 1);
    QCOMPARE(routes.at(0), (QList<QVariant>{5, 1}));
    m_sim->simulator().state().powerOn = false;
    QTRY_COMPARE(power.count(), 1);
    QCOMPARE(power.at(0).at(0).toBool(), false);
    // In standby no route is known: each is told unknown once, and nothing else twice.
    QCOMPARE(routes.count(), 7);
    for (int output = 1; output <= 6; ++output)
        QCOMPARE(routes.at(output), (QList<QVariant>{output, 0}));
    QVERIFY(!m_gateway->state().routesKnown);
}

void TestGatewayCore::pollYieldsToClientRequests()
{
    GatewayConfig c = config();
    c.pollMs = 20;
    startGateway(c);
    // A request made while the poll reads the power goes out next, before the poll's six route
    // reads.
    Answer answer;
    QMetaObject::Connection asked;
    asked = connect(
        m_sim.get(), &SimulatorServer::requestHandled, this, [&](const QByteArray &request) {
            const CommandPacket packet = CommandPacket::fromBytes(request);
            if (packet.command() != 0x10 || packet.subcommand() != 0x01)
                return;
            disconnect(asked);
            m_sim->clearReceived();
            m_gateway->setRoute(4, 1, Me, answer.done());
        });
    QTRY_VERIFY(answer.result);
    QVERIFY(answer.result->ok());
    QTRY_VERIFY(m_sim->received().size() >= 7);
    const QByteArrayList sent = m_sim->received();
    QCOMPARE(CommandPacket::fromBytes(sent.at(0)).command(), quint8(0x02));
    QCOMPARE(CommandPacket::fromBytes(sent.at(0)).subcommand(), quint8(0x03)); // the route
    for (int k = 1; k <= 6; ++k) {
        const CommandPacket read = CommandPacket::fromBytes(sent.at(k));
        QCOMPARE(read.subcommand(), quint8(0x01)); // then the poll's reads of outputs 1..6
        QCOMPARE(int(read.word(1)), k);
    }
}

void TestGatewayCore::switcherDisappearsAndReturns()
{
    startGateway(config());
    const quint16 port = m_sim->tcpPort();
    QSignalSpy present(m_gateway.get(), &Gateway::presentChanged);
    m_sim.reset(); // switched off: the connection drops, and no new one is taken
    QTRY_COMPARE(present.count(), 1);
    QCOMPARE(present.at(0).at(0).toBool(), false);
    QVERIFY(!m_gateway->state().present);

    Answer refused;
    m_gateway->setRoute(1, 2, Me, refused.done());
    QTRY_VERIFY(refused.result);
    QCOMPARE(refused.result->error, GatewayError::NotPresent);
    QVERIFY(refused.result->message.contains(m_gateway->state().linkText));

    m_sim = std::make_unique<SimulatorServer>();
    m_sim->simulator().state().routes = {2, 2, 2, 2, 2, 2};
    QVERIFY(m_sim->listenTcp(QHostAddress::LocalHost, port));
    QTRY_VERIFY(m_gateway->state().present);
    QCOMPARE(present.constLast().at(0).toBool(), true);
    QCOMPARE(m_gateway->state().routes, (std::array<int, 6>{2, 2, 2, 2, 2, 2}));
    Answer routed;
    m_gateway->setRoute(1, 5, Me, routed.done());
    QTRY_VERIFY(routed.result);
    QVERIFY(routed.result->ok());
    QCOMPARE(m_sim->simulator().state().routes[0], 5);
}

void TestGatewayCore::labelsAndPresetsPersist()
{
    startGateway(config());
    QSignalSpy labels(m_gateway.get(), &Gateway::labelChanged);
    Answer a, b, c, bad;
    m_gateway->setLabel(GatewaySide::Input, 2, QStringLiteral("Blu-ray; [player] = one"), a.done());
    m_gateway->setLabel(GatewaySide::Output, 6, QStringLiteral("Projector \u2192 left"), b.done());
    m_gateway->setPreset(8, {QStringLiteral("Évening"), {1, 1, 0, 0, 6, 6}}, c.done());
    m_gateway->setLabel(GatewaySide::Output, 7, QStringLiteral("x"), bad.done());
    Answer nul, lineBreak;
    m_gateway->setLabel(GatewaySide::Output, 5, QStringLiteral("a\0b"), nul.done());
    m_gateway->setLabel(GatewaySide::Output, 5, QStringLiteral("a\nb"), lineBreak.done());
    QTRY_VERIFY(a.result && b.result && c.result && bad.result && nul.result && lineBreak.result);
    QCOMPARE(bad.result->error, GatewayError::BadInput);
    QCOMPARE(nul.result->error, GatewayError::BadInput);
    QCOMPARE(lineBreak.result->error, GatewayError::BadInput);
    QCOMPARE(labels.count(), 2);
    // The device's name follows the same rule and is told once as a change of the device.
    QSignalSpy device(m_gateway.get(), &Gateway::deviceChanged);
    QCOMPARE(m_gateway->state().shownName(), QStringLiteral("HDMI Matrix 6x6"));
    QVERIFY(m_gateway->setFriendlyName(QStringLiteral("Hall [east]; = 2")).ok());
    QVERIFY(m_gateway->setFriendlyName(QStringLiteral("Hall [east]; = 2")).ok());
    QCOMPARE(m_gateway->setFriendlyName(QStringLiteral("a\tb")).error, GatewayError::BadInput);
    QCOMPARE(m_gateway->setFriendlyName(QString(256, u'x')).error, GatewayError::BadInput);
    QCOMPARE(device.count(), 1);
    QCOMPARE(m_gateway->state().shownName(), QStringLiteral("Hall [east]; = 2"));

    const GatewaySettings::Values read = GatewaySettings(config().settingsPath).load();
    QCOMPARE(read.friendlyName, QStringLiteral("Hall [east]; = 2"));
    QCOMPARE(read.inputLabels[1], QStringLiteral("Blu-ray; [player] = one"));
    QCOMPARE(read.outputLabels[5], QStringLiteral("Projector \u2192 left"));
    QCOMPARE(read.presets[7], (GatewayPreset{QStringLiteral("Évening"), {1, 1, 0, 0, 6, 6}}));
    QCOMPARE(read.presets[0], GatewayState::defaultPresets()[0]);

    // A new gateway starts with them.
    m_gateway.reset();
    startGateway(config());
    QCOMPARE(
        m_gateway->state().label(GatewaySide::Output, 6), QStringLiteral("Projector \u2192 left"));
    QCOMPARE(m_gateway->state().preset(8).name, QStringLiteral("Évening"));
    QCOMPARE(m_gateway->state().friendlyName, QStringLiteral("Hall [east]; = 2"));
}

void TestGatewayCore::importTakesTheWindowsLabelsAndPresets_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("input1");
    QTest::addColumn<bool>("labels");
    QTest::newRow("serial: COM-mode tags") << QString() << QStringLiteral("COM camera") << true;
    QTest::newRow("network: the entry with the address")
        << QStringLiteral("10.1.2.3") << QStringLiteral("LAN camera") << true;
    // No tags for this switcher: its labels stay as they are.
    QTest::newRow("network: no entry has the address")
        << QStringLiteral("10.9.9.9") << QStringLiteral("Kept") << false;
}

void TestGatewayCore::importTakesTheWindowsLabelsAndPresets()
{
    QFETCH(QString, host);
    QFETCH(QString, input1);
    QFETCH(bool, labels);
    AppSettings window;
    window.comTags.inputs[0] = QStringLiteral("COM camera");
    window.lanDevices
        = {QStringLiteral("[Other] - [Static IP] - [10.1.2.30] - [10.1.2.1] - [255.255.255.0] - "
                          "[00-11-22-33-44-66] - [Same Subnet]"),
            QStringLiteral("[Hall] - [Static IP] - [10.1.2.3] - [10.1.2.1] - [255.255.255.0] - "
                           "[00-11-22-33-44-55] - [Same Subnet]")};
    PortTags lan;
    lan.inputs[0] = QStringLiteral("LAN camera");
    window.setTags(cmLAN, QStringLiteral("00-11-22-33-44-55"), lan);
    window.presets[1] = {QStringLiteral("Two"), QStringLiteral("3,x,9")};
    const QString windowFile = m_dir->filePath(QStringLiteral("Settings.ini"));
    QVERIFY(SettingsFile::save(windowFile, window));
    QFile file(windowFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    GatewaySettings::Values values;
    values.inputLabels[0] = QStringLiteral("Kept");
    WindowImport found;
    QString error;
    QVERIFY2(importWindowSettings(windowFile, host, &values, &found, &error), qPrintable(error));
    QCOMPARE(values.inputLabels[0], input1);
    QCOMPARE(found.labels, labels);
    QCOMPARE(found.presets, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8})); // the window writes all eight
    // "3,x,9": input 3, a word (no input chosen), a port the switcher lacks, then the
    // window's padding 1, 2, 3.
    QCOMPARE(values.presets[1], (GatewayPreset{QStringLiteral("Two"), {3, 0, 0, 1, 2, 3}}));
    QCOMPARE(values.presets[0].name, QStringLiteral("Setting1"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before); // only read
    QVERIFY2(found.summary(windowFile).startsWith(QStringLiteral("Imported from ")),
        qPrintable(found.summary(windowFile)));

    QVERIFY(!importWindowSettings(
        m_dir->filePath(QStringLiteral("missing.ini")), host, &values, &found, &error));
    QVERIFY(error.contains(QStringLiteral("missing.ini")));
}

void TestGatewayCore::importWithNothingForThisSwitcher_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("host");
    QTest::newRow("empty file") << QByteArray() << QString();
    QTest::newRow("COM tags while serving a network switcher")
        << QByteArray("[Tag of Input - COM]\nIn1=Camera\n") << QStringLiteral("10.1.2.3");
    QTest::newRow("blank tags of this switcher")
        << QByteArray("[Tag of Input - COM]\nIn1=\nIn2= \n") << QString();
}

// Nothing for the switcher served: nothing changes, and the caller is told.
void TestGatewayCore::importWithNothingForThisSwitcher()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, host);
    const QString windowFile = m_dir->filePath(QStringLiteral("Settings.ini"));
    QFile out(windowFile);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();
    GatewaySettings::Values values;
    values.inputLabels[0] = QStringLiteral("Kept");
    values.presets[2].name = QStringLiteral("Mine");
    const GatewaySettings::Values before = values;
    WindowImport found;
    QString error;
    QVERIFY2(importWindowSettings(windowFile, host, &values, &found, &error), qPrintable(error));
    QVERIFY(found.nothing());
    QVERIFY(values == before);
    QVERIFY2(found.summary(windowFile).contains(QStringLiteral("has no port tags")),
        qPrintable(found.summary(windowFile)));
}

void TestGatewayCore::unreadableFileMovedAside_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("input1"); // what could be read, kept in the new file
    QTest::addColumn<QString>("reason");
    QTest::newRow("NUL byte") << QByteArray("[Input labels]\nIn1=Camera\nIn2=a\0b\n", 34)
                              << QStringLiteral("Camera") << QStringLiteral("NUL byte");
    QTest::newRow("UTF-16 without a byte order mark")
        << QByteArray("[\0I\0n\0p\0u\0t\0]\0", 14) << QString() << QStringLiteral("NUL byte");
    QTest::newRow("larger than 4 MiB")
        << "[Input labels]\nIn1=Camera\n" + QByteArray(4 * 1024 * 1024, ';') << QString()
        << QStringLiteral("larger than");
}

void TestGatewayCore::unreadableFileMovedAside()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, input1);
    QFETCH(QString, reason);
    const QString path = m_dir->filePath(QStringLiteral("gateway.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    const QDateTime when(QDate(2026, 3, 5), QTime(9, 7, 30));
    const GatewaySettings settings(path);
    const GatewaySettings::Prepared prepared = settings.prepare(when);
    QVERIFY2(prepared.refusal.isEmpty(), qPrintable(prepared.refusal));
    const QString backup = path + QStringLiteral(".bak-2026-03-05-090730");
    QCOMPARE(prepared.notes.size(), 1);
    QVERIFY2(prepared.notes.first().contains(path) && prepared.notes.first().contains(backup)
            && prepared.notes.first().contains(reason),
        qPrintable(prepared.notes.first()));
    QFile moved(backup);
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), bytes);
    QString problem;
    QCOMPARE(settings.load(&problem).inputLabels[0], input1);
    QCOMPARE(problem, QString());

    // A new gateway keeps its changes in the new file.
    GatewayConfig c = config();
    startGateway(c);
    Answer saved;
    m_gateway->setLabel(GatewaySide::Input, 3, QStringLiteral("Desk"), saved.done());
    QTRY_VERIFY(saved.result);
    QVERIFY(saved.result->ok());
    QCOMPARE(settings.load().inputLabels[2], QStringLiteral("Desk"));
}

void TestGatewayCore::fileThatCannotBeKeptRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("it is a folder");
    QTest::newRow("FIFO") << QStringLiteral("fifo") << QStringLiteral("it is a pipe");
    QTest::newRow("link to a device")
        << QStringLiteral("device link") << QStringLiteral("it is a device");
    QTest::newRow("folder missing")
        << QStringLiteral("no folder") << QStringLiteral("no file can be made");
    QTest::newRow("folder read-only")
        << QStringLiteral("read-only folder") << QStringLiteral("no file can be made");
}

// What no save can replace, or a folder where no file can be made, is refused before anything
// is served, and left as it is.
void TestGatewayCore::fileThatCannotBeKeptRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QString path = m_dir->filePath(QStringLiteral("gateway.ini"));
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == QLatin1String("fifo")) {
        QVERIFY(makeFifo(path));
    } else if (kind == QLatin1String("device link")) {
        QVERIFY(makeDeviceNode(m_dir->filePath(QStringLiteral("null"))));
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("null")), path));
    } else if (kind == QLatin1String("no folder")) {
        path = m_dir->filePath(QStringLiteral("none/gateway.ini"));
    } else {
        QVERIFY(
            QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
    const mode_t type = fileType(path);
    GatewaySettings::Prepared prepared;
    {
        const WithoutFileOverride asAnOperator;
        prepared = GatewaySettings(path).prepare(QDateTime::currentDateTime());
    }
    QFile::setPermissions(
        m_dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY2(prepared.refusal.contains(path) && prepared.refusal.contains(reason),
        qPrintable(prepared.refusal));
    QCOMPARE(fileType(path), type);
    QCOMPARE(
        QDir(m_dir->path()).entryList({QStringLiteral("*.bak-*")}, QDir::AllEntries | QDir::System),
        QStringList());
}

// After the switcher is lost, the waits before the link is opened again double from half a
// second up to five: a switcher back from a restart reaches the panels within seconds.
void TestGatewayCore::reconnectWaitsGrowToFiveSeconds()
{
    const GatewayConfig defaults;
    ReconnectBackoff backoff(defaults.reconnectMinMs, defaults.reconnectMaxMs);
    QList<int> waits;
    for (int i = 0; i < 7; ++i)
        waits.append(backoff.next());
    QCOMPARE(waits, (QList<int>{500, 1000, 2000, 4000, 5000, 5000, 5000}));
    // The switcher answered: the next loss starts short again.
    backoff.reset();
    QCOMPARE(backoff.next(), 500);
}

void TestGatewayCore::silentSwitcherGivenUpAfterTwoTries_data()
{
    QTest::addColumn<bool>("poll");
    QTest::newRow("a client's route") << false;
    QTest::newRow("the poll") << true;
}

// The gateway's own waits, not the window's: each request or poll step is sent twice and
// waits a second for each reply; then the switcher is gone, the requester is told, and no
// route from before is taken as true.
void TestGatewayCore::silentSwitcherGivenUpAfterTwoTries()
{
    QFETCH(bool, poll);
    GatewayConfig c = config();
    c.timing = GatewayConfig().timing;
    c.pollMs = poll ? 20 : 0;
    startGateway(c);
    QVERIFY(m_gateway->state().routesKnown);
    QSignalSpy present(m_gateway.get(), &Gateway::presentChanged);
    m_sim->faults().dropReplies = 1000000;
    m_sim->clearReceived();
    Answer answer;
    if (!poll)
        m_gateway->setRoute(1, 4, Me, answer.done());
    QTRY_VERIFY_WITH_TIMEOUT(!present.isEmpty(), 15000);
    QVERIFY(!m_gateway->state().present);
    QVERIFY(!m_gateway->state().routesKnown);
    QCOMPARE(m_gateway->state().routes, (std::array<int, 6>{}));
    // The request went out twice, not a third time; what follows opens the link again.
    const QByteArrayList sent = m_sim->received();
    QVERIFY(sent.size() >= 2);
    QCOMPARE(sent.at(1), sent.at(0));
    QVERIFY(sent.size() == 2 || sent.at(2) != sent.at(0));
    if (!poll) {
        QCOMPARE(CommandPacket::fromBytes(sent.at(0)).command(), quint8(0x02));
        QTRY_VERIFY(answer.result);
        QCOMPARE(answer.result->error, GatewayError::NotPresent);
    }
}

void TestGatewayCore::destroyedWithAnOperationInFlight_data()
{
    QTest::addColumn<QString>("inFlight");
    QTest::newRow("a client's route") << QStringLiteral("route");
    QTest::newRow("the poll") << QStringLiteral("poll");
    QTest::newRow("the connect") << QStringLiteral("connect");
}

// The gateway goes away (SIGTERM ends the program this way) while the switcher has yet to
// answer: the operation ends as stopped then and there, nothing calls back into what is gone
// (the sanitizer build checks that), and nothing more goes on the wire.
void TestGatewayCore::destroyedWithAnOperationInFlight()
{
    QFETCH(QString, inFlight);
    GatewayConfig c = config();
    // The real time-outs: nothing would end the operation within the test but the stop.
    c.timing = Timing::realTimeOuts();
    c.timing.connectTimeoutMs = 600000;
    bool answered = false;
    if (inFlight == u"connect") {
        // The connect waits for its time-out.
        const StalledListener listener;
        QVERIFY(listener.ready());
        c.tcpPort = listener.port();
        m_gateway = std::make_unique<Gateway>(c);
        m_probe->watch(*m_gateway);
        m_gateway->start();
        QTRY_VERIFY(m_gateway->link().connecting());
        m_gateway.reset();
        QCoreApplication::processEvents();
        return;
    }
    if (inFlight == u"poll")
        c.pollMs = 20;
    startGateway(c);
    m_sim->faults().dropReplies = 1000;
    m_sim->clearReceived();
    if (inFlight == u"route")
        m_gateway->setRoute(
            1, 4, Me, probe->wrap([&answered](const GatewayResult &) { answered = true; }));
    QTRY_VERIFY(!m_sim->received().isEmpty());
    QVERIFY(m_gateway->link().busy());
    m_gateway.reset();
    const qsizetype sent = m_sim->received().size();
    // Whatever was posted or timed runs now, if anything is left.
    QTest::qWait(100);
    QVERIFY(!answered);
    QCOMPARE(m_sim->received().size(), sent);
}

QTEST_GUILESS_MAIN(TestGatewayCore)
#include "tst_gatewaycore.moc"
