// The link against the simulated switcher over the real wires: a loopback TCP connection and
// a pseudo terminal, with the faults a real line shows.
#include "LinkFixture.h"

#include <QTest>

using namespace Qt::StringLiterals;

#include <memory>

Q_DECLARE_METATYPE(SimFaults)

class TestLinkSimulator : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void faults_data();
    void faults();
    void hangUpDuringTransaction();
    void reconnectAfterDisconnect_data();
    void reconnectAfterDisconnect();
    void busySwitcherNeverAnswersForAnotherRequest_data();
    void busySwitcherNeverAnswersForAnotherRequest();
    void barrierGoesOnlyAfterATimeOut();

private:
    bool connectWire(const QString &wire) { return m_fix->connectWire(wire); }

    std::unique_ptr<testsupport::LinkFixture> m_fix;
};

void TestLinkSimulator::init()
{
    m_fix = std::make_unique<testsupport::LinkFixture>();
    QVERIFY(m_fix->listening());
}

void TestLinkSimulator::cleanup()
{
    m_fix.reset();
}

void TestLinkSimulator::faults_data()
{
    QTest::addColumn<QString>("wire");
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("requests");

    struct Case
    {
        const char *name;
        SimFaults faults;
        bool success;
        QStringList texts;
        int requests;
    };
    const QStringList none;
    const QStringList timeOut{QStringLiteral("Time out!")};
    const QStringList sendFailed{QStringLiteral("Send data failed!")};
    auto faults = [](auto set) {
        SimFaults f;
        set(f);
        return f;
    };
    const Case cases[] = {
        {"clean", SimFaults(), true, none, 1},
        {"four replies lost", faults([](SimFaults &f) { f.dropReplies = 4; }), true, none, 5},
        {"five replies lost", faults([](SimFaults &f) { f.dropReplies = 5; }), false, timeOut, 5},
        {"corrupt checksum retried", faults([](SimFaults &f) { f.corruptChecksum = 2; }), true,
            none, 3},
        {"wrong echo retried", faults([](SimFaults &f) { f.wrongEcho = 1; }), true, none, 2},
        {"refused five times", faults([](SimFaults &f) { f.refuseStatus = 5; }), false, sendFailed,
            5},
        {"reply in pieces", faults([](SimFaults &f) { f.splitInto = 4; }), true, none, 1},
        {"surplus bytes after the reply", faults([](SimFaults &f) { f.extraBytes = 7; }), true,
            none, 1},
        {"slow switcher", faults([](SimFaults &f) { f.delayMs = 30; }), true, none, 1},
    };
    for (const char *wire : {"tcp", "pty"}) {
        for (const Case &c : cases)
            QTest::addRow("%s: %s", wire, c.name)
                << QString::fromLatin1(wire) << c.faults << c.success << c.texts << c.requests;
    }
}

void TestLinkSimulator::faults()
{
    QFETCH(QString, wire);
    QFETCH(SimFaults, faults);
    QFETCH(bool, success);
    QFETCH(QStringList, texts);
    QFETCH(int, requests);

    QVERIFY(connectWire(wire));
    m_fix->sim().faults() = faults;
    CommandResult result;
    m_fix->link().ExecuteCommand(CommandPacket::make(0x02, 0x03, 3, 2), result);
    QCOMPARE(result.Success, success);
    QCOMPARE(m_fix->texts(), texts);
    QCOMPARE(m_fix->sim().received().size(), requests);
    QCOMPARE(m_fix->sim().received().first().toHex(' '),
        QByteArray("a5 5b 02 03 03 00 02 00 00 00 00 00 f6"));
    QCOMPARE(m_fix->sim().simulator().state().routes[1], 3);

    // The link is in step for the next command, whatever was left on the line.
    m_fix->sim().faults() = SimFaults();
    m_fix->clearTexts();
    m_fix->link().ExecuteCommand(CommandPacket::make(0x02, 0x01, 2), result);
    QVERIFY(result.Success);
    QCOMPARE(result.reply.answer(), 3);
    QVERIFY(m_fix->texts().isEmpty());
}

void TestLinkSimulator::hangUpDuringTransaction()
{
    QVERIFY(connectWire(QStringLiteral("tcp")));
    m_fix->sim().faults().dropConnectionAfter = 1;
    CommandResult result;
    m_fix->link().ExecuteCommand(CommandPacket::make(0x01, 0x02, 0xFE), result);
    QVERIFY(!result.Success);
    QCOMPARE(m_fix->texts(), QStringList{QStringLiteral("TCP control failed!")});
    QVERIFY(!m_fix->link().Connected());
    // Connecting again works and the switcher answers.
    m_fix->sim().faults() = SimFaults();
    QVERIFY(m_fix->link().Connect());
    m_fix->link().ExecuteCommand(CommandPacket::make(0x01, 0x02, 0xFE), result);
    QVERIFY(result.Success);
    QCOMPARE(result.reply.status(), 6);
    QCOMPARE(result.reply.answer(), 6);
}

void TestLinkSimulator::reconnectAfterDisconnect_data()
{
    QTest::addColumn<QString>("wire");
    QTest::newRow("tcp") << QStringLiteral("tcp");
    QTest::newRow("pty") << QStringLiteral("pty");
}

void TestLinkSimulator::reconnectAfterDisconnect()
{
    QFETCH(QString, wire);
    QVERIFY(connectWire(wire));
    for (int round = 0; round < 3; ++round) {
        CommandResult result;
        m_fix->link().ExecuteCommand(
            CommandPacket::make(0x10, 0x01, 0xFE, 0, 0xD22D, 0x2ED3), result);
        QVERIFY(result.Success);
        QCOMPARE(result.reply.answer(), 0xFF);
        QVERIFY(m_fix->link().Disconnect());
        QVERIFY(!m_fix->link().Connected());
        QVERIFY(m_fix->link().Connect());
    }
    QVERIFY(m_fix->texts().isEmpty());
}

void TestLinkSimulator::busySwitcherNeverAnswersForAnotherRequest_data()
{
    QTest::addColumn<QString>("wire");
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<bool>("allAnswered"); // a switcher that is busy once answers everything

    // Late by more than one reply wait, as a switcher busy for 5.4 s, 7 s and 12 s is late
    // for the real 5 s wait; each delayed reply waits its turn, and those after come at once.
    const int wait = Timing::fast().replyTimeoutMs();
    struct Busy
    {
        int percent; // of the reply wait
        int replies; // delayed
    };
    for (const char *wire : {"tcp", "pty"}) {
        for (const Busy busy : {Busy{108, 1}, Busy{140, 2}, Busy{240, 2}, Busy{108, 3}}) {
            SimFaults busyOnce;
            busyOnce.delayNext = busy.replies;
            busyOnce.delayNextMs = wait * busy.percent / 100;
            QTest::addRow("%s: %d replies %d%% of the wait late", wire, busy.replies, busy.percent)
                << QString::fromLatin1(wire) << busyOnce << true;
        }
    }
    SimFaults slow;
    slow.delayMs = wait * 6 / 5;
    QTest::addRow("tcp: every reply late") << u"tcp"_s << slow << false;
}

// Each output's route read, then input 4 routed to every output while the switcher refuses
// output 6: an answer is the switcher's own, or the command fails; never another's answer.
void TestLinkSimulator::busySwitcherNeverAnswersForAnotherRequest()
{
    QFETCH(QString, wire);
    QFETCH(SimFaults, faults);
    QFETCH(bool, allAnswered);

    QVERIFY(connectWire(wire));
    SwitcherState &state = m_fix->sim().simulator().state();
    state.routes = {6, 5, 4, 3, 2, 1};
    m_fix->sim().faults() = faults;
    TKVCOMControl &link = m_fix->link();

    for (int output = 1; output <= 6; ++output) {
        CommandResult result;
        link.ExecuteCommand(CommandPacket::make(0x02, 0x01, quint16(output)), result);
        QCOMPARE(result.Success || !allAnswered, true);
        if (result.Success)
            QCOMPARE(int(result.reply.answer()), 7 - output);
    }
    state.outputs = 5; // output 6 refuses every route
    for (int output = 1; output <= 6; ++output) {
        CommandResult result;
        link.ExecuteCommand(CommandPacket::make(0x02, 0x03, 4, quint16(output)), result);
        if (output == 6) {
            QVERIFY2(!result.Success, "a refusal was taken for a route made");
            continue;
        }
        QCOMPARE(result.Success || !allAnswered, true);
        if (result.Success)
            QCOMPARE(state.routes[std::size_t(output - 1)], 4);
    }
}

// No time-out, no barrier: the wire holds only the commands. After one, the next command is
// preceded by one power query, and the one after that goes alone again.
void TestLinkSimulator::barrierGoesOnlyAfterATimeOut()
{
    QVERIFY(connectWire(QStringLiteral("tcp")));
    TKVCOMControl &link = m_fix->link();
    SimulatorServer &sim = m_fix->sim();
    const auto command = [&link](quint16 output) {
        CommandResult result;
        link.ExecuteCommand(CommandPacket::make(0x02, 0x01, output), result);
        return result.Success ? int(result.reply.answer()) : 0;
    };
    const auto kinds = [&sim] {
        QStringList list;
        for (const QByteArray &request : sim.received())
            list.append(QString::fromLatin1(request.mid(2, 2).toHex()));
        return list;
    };
    QCOMPARE(command(1), 1);
    QCOMPARE(command(2), 2);
    QCOMPARE(kinds(), (QStringList{u"0201"_s, u"0201"_s}));
    QVERIFY(link.inStep());

    sim.clearReceived();
    sim.faults().dropReplies = 1;
    QCOMPARE(command(3), 3);
    QVERIFY(!link.inStep());
    QCOMPARE(command(4), 4);
    QVERIFY(link.inStep());
    QCOMPARE(command(5), 5);
    QCOMPARE(kinds(), (QStringList{u"0201"_s, u"0201"_s, u"1001"_s, u"0201"_s, u"0201"_s}));
    QCOMPARE(sim.received().at(2).toHex(' '), QByteArray("a5 5b 10 01 fe 00 00 00 2d d2 d3 2e f1"));
    QVERIFY(m_fix->texts().isEmpty());

    // A power query of its own gets the model query as its barrier.
    sim.clearReceived();
    sim.faults().dropReplies = 1;
    QCOMPARE(command(6), 6);
    CommandResult power;
    link.ExecuteCommand(CommandPacket::make(0x10, 0x01, 0xFE, 0, 0xD22D, 0x2ED3), power);
    QVERIFY(power.Success);
    QCOMPARE(kinds(), (QStringList{u"0201"_s, u"0201"_s, u"0101"_s, u"1001"_s}));
}

QTEST_GUILESS_MAIN(TestLinkSimulator)
#include "tst_linksimulator.moc"
