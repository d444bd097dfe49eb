// The switcher session against the simulated switcher over loopback TCP: what each named
// operation puts on the wire, what it makes of the reply, and how each failure ends.
#include "LinkFixture.h"
#include "SwitcherSession.h"

#include <QTcpServer>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

using Call = std::function<SwitcherOperation()>;
using Status = SwitcherOutcome::Status;
Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(SimFaults)
Q_DECLARE_METATYPE(SwitcherOutcome::Status)

class TestSwitcherSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void operations_data();
    void operations();
    void answersDecoded();
    void changesReachTheSwitcher();
    void outcomes_data();
    void outcomes();
    void nothingSentWhenClosedOrStopping();
    void openFails();
    void severalStopAtTheFirstFailure();
    void asynchronousForm_data();
    void asynchronousForm();
    void asynchronousStop();

private:
    // Success paths keep the real reply deadlines; failure paths take the short ones.
    bool connectTcp(bool shortWaits = false);
    SwitcherSession &session() { return *m_session; }
    SwitcherState &state() { return m_fix->sim().simulator().state(); }

    std::unique_ptr<testsupport::LinkFixture> m_fix;
    std::unique_ptr<SwitcherSession> m_session;
};

void TestSwitcherSession::init()
{
    m_fix = std::make_unique<testsupport::LinkFixture>();
    QVERIFY(m_fix->listening());
    m_session = std::make_unique<SwitcherSession>(m_fix->link());
}

void TestSwitcherSession::cleanup()
{
    m_session.reset();
    m_fix.reset();
}

bool TestSwitcherSession::connectTcp(bool shortWaits)
{
    if (!shortWaits)
        m_fix->link().setTiming(Timing());
    return m_fix->connectWire(QStringLiteral("tcp"));
}

void TestSwitcherSession::operations_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("progress");
    QTest::addColumn<bool>("powered");

    using Op = SwitcherOperation;
    const auto row = [](const char *name, Call call, const char *wire, const char *progress,
                         bool powered) {
        QTest::newRow(name) << call << QByteArray(wire) << QString::fromLatin1(progress) << powered;
    };
    row(
        "model", [] { return Op::model(); }, "a5 5b 01 01 fe 00 00 00 00 00 00 00 00",
        "Getting device info ...", true);
    row(
        "size", [] { return Op::size(); }, "a5 5b 01 02 fe 00 00 00 00 00 00 00 ff",
        "Getting device info ...", true);
    row(
        "version", [] { return Op::version(); }, "a5 5b 01 03 fe 00 00 00 00 00 00 00 fe",
        "Getting device info ...", true);
    row(
        "power", [] { return Op::power(); }, "a5 5b 10 01 fe 00 00 00 2d d2 d3 2e f1",
        "Getting Power status ...", false);
    row(
        "power on", [] { return Op::setPower(true); }, "a5 5b 10 02 0f 00 00 00 2d d2 d3 2e df",
        "Matrix booting ...", false);
    row(
        "power off", [] { return Op::setPower(false); }, "a5 5b 10 02 f0 00 00 00 2d d2 d3 2e fe",
        "Power off ...", false);
    row(
        "route of output 3", [] { return Op::route(3); }, "a5 5b 02 01 03 00 00 00 00 00 00 00 fa",
        "Getting Output3 ...", true);
    row(
        "input 4 to output 2", [] { return Op::setRoute(4, 2); },
        "a5 5b 02 03 04 00 02 00 00 00 00 00 f5", "Setting...", true);
    row(
        "input 5 connection", [] { return Op::inputConnection(5); },
        "a5 5b 01 04 05 00 00 00 00 00 00 00 f6", "Getting Input5 connection ...", true);
    row(
        "output 6 connection", [] { return Op::outputConnection(6); },
        "a5 5b 01 05 06 00 00 00 00 00 00 00 f4", "Getting Output6 connection ...", true);
    row(
        "IR state", [] { return Op::switchState(PanelSwitch::Ir); },
        "a5 5b 04 04 fe 00 00 00 00 00 00 00 fa", "Getting IR status ...", true);
    row(
        "IR off", [] { return Op::setSwitch(PanelSwitch::Ir, false); },
        "a5 5b 04 03 f0 00 00 00 00 00 00 00 09", "Disable IR control ...", true);
    row(
        "keys state", [] { return Op::switchState(PanelSwitch::Keys); },
        "a5 5b 01 0e fe 00 00 00 00 00 00 00 f3", "Getting Keys status ...", true);
    row(
        "keys unlocked", [] { return Op::setSwitch(PanelSwitch::Keys, true); },
        "a5 5b 01 0f 0f 00 00 00 00 00 00 00 e1", "Unlock Keys on panel ...", true);
    row(
        "beeper state", [] { return Op::switchState(PanelSwitch::Beeper); },
        "a5 5b 01 0c fe 00 00 00 00 00 00 00 f5", "Getting Beeper status ...", true);
    row(
        "beeper off", [] { return Op::setSwitch(PanelSwitch::Beeper, false); },
        "a5 5b 01 0d f0 00 00 00 00 00 00 00 02", "Disable Beeper control ...", true);
    row(
        "APM state", [] { return Op::switchState(PanelSwitch::Apm); },
        "a5 5b 01 0a fe 00 00 00 00 00 00 00 f7", "Getting APM status ...", true);
    row(
        "APM on", [] { return Op::setSwitch(PanelSwitch::Apm, true); },
        "a5 5b 01 0b 0f 00 00 00 00 00 00 00 e5", "Set APM ON ...", true);
    row(
        "a command by its codes",
        [] { return Op::command(u"Copying..."_s, true, 0x03, 0x04, 2, 5); },
        "a5 5b 03 04 02 00 05 00 00 00 00 00 f2", "Copying...", true);
}

// Each operation is one request, exactly as the switcher's command table has it.
void TestSwitcherSession::operations()
{
    QFETCH(Call, call);
    QFETCH(QByteArray, wire);
    QFETCH(QString, progress);
    QFETCH(bool, powered);

    QVERIFY(connectTcp());
    const SwitcherOperation operation = call();
    QCOMPARE(operation.progressText(), progress);
    QCOMPARE(operation.needsPower(), powered);
    const SwitcherOutcome outcome = session().run(operation);
    QVERIFY2(outcome.ok(), qPrintable(outcome.message()));
    QCOMPARE(outcome.reason, QString());
    QCOMPARE(m_fix->sim().received().size(), 1);
    QCOMPARE(m_fix->sim().received().first().toHex(' '), wire);
}

void TestSwitcherSession::answersDecoded()
{
    QVERIFY(connectTcp());
    SwitcherState &s = state();
    s.modelNumber = 3;
    s.inputs = 8;
    s.outputs = 4;
    s.versionMajor = 1;
    s.versionMinor = 5;
    s.routes = {6, 5, 4, 3, 2, 1};
    s.inputConnected[1] = false;
    s.outputConnected[4] = false;
    s.irEnabled = false;
    s.keysUnlocked = true;
    s.beeper = false;
    s.apm = true;

    const SwitcherResult<SwitcherIdentity> identity = session().identity();
    QVERIFY(identity.ok());
    QCOMPARE(identity.value.modelNumber, 3);
    QCOMPARE(identity.value.model(), u"HDMI Matrix 8x8"_s);
    QCOMPARE(identity.value.size.text(), u"8x4"_s);
    // The minor number in two digits: 1.05, not 1.5.
    QCOMPARE(identity.value.version.text(), u"1.05"_s);
    // A switcher of that size refuses outputs it does not have.
    s.inputs = s.outputs = 6;

    QCOMPARE(session().route(2).value, 5);
    const SwitcherResult<QList<int>> routes = session().routes();
    QVERIFY(routes.ok());
    QCOMPARE(routes.value, (QList<int>{6, 5, 4, 3, 2, 1}));

    QCOMPARE(session().inputConnected(1).value, true);
    QCOMPARE(session().inputConnected(2).value, false);
    QCOMPARE(session().outputConnected(4).value, true);
    QCOMPARE(session().outputConnected(5).value, false);

    QCOMPARE(session().switchState(PanelSwitch::Ir).value, false);
    QCOMPARE(session().switchState(PanelSwitch::Keys).value, true);
    QCOMPARE(session().switchState(PanelSwitch::Beeper).value, false);
    QCOMPARE(session().switchState(PanelSwitch::Apm).value, true);

    QCOMPARE(session().power().value, true);
    s.powerOn = false;
    const SwitcherResult<bool> off = session().power();
    QVERIFY(off.ok());
    QCOMPARE(off.value, false);
    // A model the list does not know is named by its number.
    s.modelNumber = 9;
    s.powerOn = true;
    QCOMPARE(session().identity().value.model(), u"Unknown model 9"_s);
}

void TestSwitcherSession::changesReachTheSwitcher()
{
    QVERIFY(connectTcp());
    QVERIFY(session().setRoute(4, 2).ok());
    QCOMPARE(state().routes[1], 4);
    QVERIFY(session().setSwitch(PanelSwitch::Beeper, false).ok());
    QCOMPARE(state().beeper, false);
    QVERIFY(session().setSwitch(PanelSwitch::Apm, true).ok());
    QCOMPARE(state().apm, true);
    QVERIFY(session().setPower(false).ok());
    QCOMPARE(state().powerOn, false);
    QVERIFY(session().setPower(true).ok());
    QCOMPARE(state().powerOn, true);
}

void TestSwitcherSession::outcomes_data()
{
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<Status>("status");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("requests");

    SimFaults f;
    f.dropReplies = 5;
    QTest::newRow("no reply") << f << Status::TimedOut << u"Time out!"_s << 5;
    f = SimFaults();
    f.dropReplies = 4;
    QTest::newRow("the fifth attempt answered") << f << Status::Ok << QString() << 5;
    f = SimFaults();
    f.refuseStatus = 5;
    QTest::newRow("refused") << f << Status::Refused << u"Send data failed!"_s << 5;
    f = SimFaults();
    f.corruptChecksum = 5;
    QTest::newRow("replies damaged") << f << Status::Lost << u"Send data failed!"_s << 5;
    f = SimFaults();
    f.wrongEcho = 5;
    QTest::newRow("another command's echo") << f << Status::Lost << u"Send data failed!"_s << 5;
    f = SimFaults();
    f.dropConnectionAfter = 1;
    QTest::newRow("hung up") << f << Status::Lost << u"TCP control failed!"_s << 1;
}

void TestSwitcherSession::outcomes()
{
    QFETCH(SimFaults, faults);
    QFETCH(Status, status);
    QFETCH(QString, reason);
    QFETCH(int, requests);

    QVERIFY(connectTcp(true));
    m_fix->sim().faults() = faults;
    const SwitcherResult<int> route = session().route(3);
    QCOMPARE(switcherStatusName(route.outcome.status), switcherStatusName(status));
    QCOMPARE(route.outcome.reason, reason);
    QCOMPARE(route.outcome.message(), reason);
    QCOMPARE(m_fix->sim().received().size(), requests);
    if (status == Status::Ok)
        QCOMPARE(route.value, 3);
    // The reason is the one the window shows for the same failure.
    if (!reason.isEmpty())
        QCOMPARE(m_fix->texts().last(), reason);
}

void TestSwitcherSession::nothingSentWhenClosedOrStopping()
{
    // Closed: lost, in the link's words for its mode, and nothing on the wire.
    SwitcherOutcome closed = session().setRoute(1, 1);
    QCOMPARE(closed.status, Status::Lost);
    QCOMPARE(closed.reason, u"TCP control failed!"_s);
    m_fix->link().setControlMode(cmCOM);
    QCOMPARE(session().power().outcome.reason, u"COM access failed!"_s);
    m_fix->link().setControlMode(cmLAN);

    QVERIFY(connectTcp());
    m_fix->link().setStopRequested(true);
    const SwitcherOutcome stopped = session().setRoute(1, 1);
    QCOMPARE(stopped.status, Status::Stopped);
    QCOMPARE(stopped.message(), QString());
    QCOMPARE(session().open().status, Status::Stopped);
    QVERIFY(m_fix->sim().received().isEmpty());
}

void TestSwitcherSession::openFails()
{
    // A port nobody listens on: the window's text, with the system's reason beside it.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    TKVCOMControl &link = m_fix->link();
    link.setControlMode(cmLAN);
    link.setDeviceIP(u"127.0.0.1"_s);
    link.setTcpPort(port);
    const SwitcherOutcome outcome = session().open();
    QCOMPARE(outcome.status, Status::Lost);
    QCOMPARE(outcome.reason, u"Connect 127.0.0.1 failed"_s);
    QVERIFY(!outcome.detail.isEmpty());
    QCOMPARE(outcome.message(), outcome.reason + u": "_s + outcome.detail);

    link.setTcpPort(m_fix->sim().tcpPort());
    QVERIFY(session().open().ok());
    QVERIFY(link.Connected());
    QVERIFY(session().open().ok());
}

void TestSwitcherSession::severalStopAtTheFirstFailure()
{
    QVERIFY(connectTcp(true));
    // Identity: a refused model query ends it before the size is asked.
    m_fix->sim().faults().refuseStatus = 5;
    const SwitcherResult<SwitcherIdentity> identity = session().identity();
    QCOMPARE(identity.outcome.status, Status::Refused);
    QCOMPARE(m_fix->sim().received().size(), 5);

    // Routes: the link breaks at the fourth query; the three read before it stay.
    m_fix->sim().faults() = SimFaults();
    m_fix->sim().faults().dropConnectionAfter = 4;
    state().routes = {2, 3, 4, 5, 6, 1};
    const SwitcherResult<QList<int>> routes = session().routes();
    QCOMPARE(routes.outcome.status, Status::Lost);
    QCOMPARE(routes.value, (QList<int>{2, 3, 4}));
}

void TestSwitcherSession::asynchronousForm_data()
{
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<Status>("status");
    SimFaults none;
    SimFaults refuse;
    refuse.refuseStatus = 5;
    SimFaults silent;
    silent.dropReplies = 5;
    SimFaults drop;
    drop.dropConnectionAfter = 1;
    QTest::newRow("ok") << none << Status::Ok;
    QTest::newRow("refused") << refuse << Status::Refused;
    QTest::newRow("timed out") << silent << Status::TimedOut;
    QTest::newRow("lost") << drop << Status::Lost;
}

// The asynchronous form ends as the synchronous one does, with the same bytes on the wire, but
// later: never from inside the call, and once.
void TestSwitcherSession::asynchronousForm()
{
    QFETCH(SimFaults, faults);
    QFETCH(Status, status);
    QVERIFY(connectTcp(status != Status::Ok));
    m_fix->sim().faults() = faults;
    QList<SwitcherOutcome> outcomes;
    const auto caught = [&outcomes](const SwitcherOutcome &o) { outcomes.append(o); };
    session().runAsync(SwitcherOperation::setRoute(3, 2), caught);
    QVERIFY(outcomes.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 1, 15000);
    QCOMPARE(outcomes[0].status, status);
    QCOMPARE(outcomes[0].ok(), status == Status::Ok);
    const int attempts = status == Status::Ok || status == Status::Lost ? 1 : 5;
    QCOMPARE(m_fix->sim().received(),
        QByteArrayList(attempts, SwitcherOperation::setRoute(3, 2).request().toByteArray()));
    QTest::qWait(20);
    QCOMPARE(outcomes.size(), 1);

    // Closed now or never open: Lost, also later.
    if (status == Status::Lost) {
        session().runAsync(SwitcherOperation::power(), caught);
        QCOMPARE(outcomes.size(), 1);
        QTRY_COMPARE(outcomes.size(), 2);
        QCOMPARE(outcomes[1].reason, u"TCP control failed!"_s);
    }
}

// A stop ends a request in flight as stopped, at once; a session that goes away with one in
// flight never calls back.
void TestSwitcherSession::asynchronousStop()
{
    QVERIFY(connectTcp(true));
    m_fix->sim().faults().dropReplies = 100;
    QList<SwitcherOutcome> outcomes;
    session().runAsync(
        SwitcherOperation::power(), [&outcomes](const SwitcherOutcome &o) { outcomes.append(o); });
    QTRY_COMPARE(m_fix->sim().received().size(), 1);
    m_fix->link().setStopRequested(true);
    QCOMPARE(outcomes.size(), 1);
    QCOMPARE(outcomes[0].status, Status::Stopped);
    QVERIFY(!m_fix->link().busy());

    m_fix->link().setStopRequested(false);
    bool called = false;
    session().runAsync(
        SwitcherOperation::power(), [&called](const SwitcherOutcome &) { called = true; });
    QTRY_COMPARE(m_fix->sim().received().size(), 2);
    m_session.reset();
    m_fix->link().setStopRequested(true);
    QVERIFY(!m_fix->link().busy());
    QCoreApplication::processEvents();
    QVERIFY(!called);

    // Opening: later too.
    m_fix->link().setStopRequested(false);
    m_session = std::make_unique<SwitcherSession>(m_fix->link());
    m_fix->link().Disconnect();
    std::optional<SwitcherOutcome> opened;
    session().openAsync([&opened](const SwitcherOutcome &o) { opened = o; });
    QTRY_VERIFY(opened);
    QVERIFY(opened->ok());
    QVERIFY(m_fix->link().Connected());
}

QTEST_MAIN(TestSwitcherSession)
#include "tst_switchersession.moc"
