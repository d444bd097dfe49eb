// The link against the simulated switcher over the real wires: a loopback TCP connection and
// a pseudo terminal, with the faults a real line shows.
#include "LinkFixture.h"

#include <QTest>

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

QTEST_GUILESS_MAIN(TestLinkSimulator)
#include "tst_linksimulator.moc"
