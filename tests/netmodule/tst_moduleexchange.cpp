// The 32-byte module frames between the link and the simulated switcher, over a real pseudo
// terminal and loopback TCP, and the query and reset procedures of the main window.
#include "ModuleExchange.h"
#include "SimModule.h"
#include "SimulatorServer.h"
#include "TKVCOMControl.h"

#include <QTest>

#include <memory>

namespace {

QByteArray requestBytes(quint8 command)
{
    return ModuleFrame::request(command).toByteArray();
}

QByteArray switcherRequest()
{
    return CommandPacket::make(0x01, 0x01, 0x00FE).toByteArray();
}

// The main window's side of the query and reset procedures, as a log of what they did.
class PanelLog final : public TCPModulePanel
{
public:
    explicit PanelLog(TKVCOMControl &link) : m_link(link) { }

    bool stopRequested() const override { return m_link.StopRequested(); }
    bool ensureConnected() override { return connectable && m_link.Connect(); }
    bool runnerIdle() const override { return idle; }
    void setRunnerIdle(bool on) override
    {
        idle = on;
        log.append(QStringLiteral("idle %1").arg(on));
    }
    void showStatus(int panel, const QString &text, bool blink) override
    {
        log.append(QStringLiteral("status %1%2 %3")
                       .arg(panel)
                       .arg(QLatin1Char(blink ? '!' : ':'))
                       .arg(text));
    }
    void setQueryEnabled(bool on) override { log.append(QStringLiteral("enabled %1").arg(on)); }
    void setModuleLabels(const QString &v, const QString &d, const QString &i) override
    {
        log.append(QStringLiteral("labels ") + v + u'|' + d + u'|' + i);
    }
    bool confirmReset() override
    {
        log.append(QStringLiteral("confirm"));
        return confirm;
    }

    QStringList log;
    bool idle = true;
    bool confirm = true;
    bool connectable = true;

private:
    TKVCOMControl &m_link;
};

} // namespace

class TestModuleExchange : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void streamSeparatesModuleFrames_data();
    void streamSeparatesModuleFrames();
    void queryAndResetEndToEnd_data();
    void queryAndResetEndToEnd();
    void attempts_data();
    void attempts();
    void panelProcedures_data();
    void panelProcedures();

private:
    void connectOverPty();

    std::unique_ptr<SimulatorServer> m_sim;
    std::unique_ptr<TKVCOMControl> m_link;
    QList<LinkMessage> m_notices;
};

void TestModuleExchange::init()
{
    m_sim = std::make_unique<SimulatorServer>();
    SimModuleState &module = m_sim->network().modules().first();
    module.ip = {10, 1, 2, 3};
    module.dhcp = true;
    module.tag = "Hall A";
    m_link = std::make_unique<TKVCOMControl>();
    m_link->setTiming(Timing::fast());
    m_notices.clear();
    QObject::connect(
        m_link.get(), &TKVCOMControl::notification, m_link.get(), [this](const LinkNotice &notice) {
            if (notice.code != LinkMessage::Trace && notice.code != LinkMessage::DataReceived
                && notice.code != LinkMessage::ReceiveDump)
                m_notices.append(notice.code);
        });
}

void TestModuleExchange::cleanup()
{
    m_link.reset();
    m_sim.reset();
}

void TestModuleExchange::connectOverPty()
{
    const QString pty = m_sim->openPty();
    QVERIFY2(!pty.isEmpty(), qPrintable(m_sim->ptyError()));
    m_link->setControlMode(cmCOM);
    m_link->setComPort(pty);
    QVERIFY(m_link->Connect());
}

void TestModuleExchange::streamSeparatesModuleFrames_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArray>("passedOn");
    QTest::addColumn<int>("frames");

    const QByteArray frame = requestBytes(ModuleFrame::CommandQuery);
    const QByteArray request = switcherRequest();
    QTest::newRow("a frame") << QByteArrayList{frame} << QByteArray() << 1;
    QTest::newRow("a switcher request") << QByteArrayList{request} << request << 0;
    QTest::newRow("a frame in three pieces")
        << QByteArrayList{frame.left(3), frame.mid(3, 20), frame.mid(23)} << QByteArray() << 1;
    QTest::newRow("a request, then a frame") << QByteArrayList{request + frame} << request << 1;
    QTest::newRow("a frame, then a request") << QByteArrayList{frame + request} << request << 1;
    QTest::newRow("two frames and a request split between them")
        << QByteArrayList{frame + request.left(5), request.mid(5) + frame} << request << 2;
    QTest::newRow("noise before a frame")
        << QByteArrayList{"xyz" + frame} << QByteArray("xyz") << 1;
    QTest::newRow("what began like a header but was not one")
        << QByteArrayList{frame.left(4), request} << frame.left(4) + request << 0;
}

void TestModuleExchange::streamSeparatesModuleFrames()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArray, passedOn);
    QFETCH(int, frames);
    QByteArrayList answered;
    SimModuleStream stream([&answered](const QByteArray &f) {
        answered.append(f);
        return QByteArray("answer");
    });
    QByteArray passed;
    QByteArray sent;
    connect(&stream, &SimModuleStream::passOn, this, [&](const QByteArray &b) { passed += b; });
    connect(&stream, &SimModuleStream::send, this, [&](const QByteArray &b) { sent += b; });
    for (const QByteArray &chunk : chunks)
        stream.receive(chunk);
    QCOMPARE(passed, passedOn);
    QCOMPARE(answered.size(), frames);
    QCOMPARE(sent, QByteArray("answer").repeated(frames));
    for (const QByteArray &f : answered)
        QCOMPARE(f, requestBytes(ModuleFrame::CommandQuery));
}

void TestModuleExchange::queryAndResetEndToEnd_data()
{
    QTest::addColumn<bool>("overTcp");
    QTest::newRow("pty") << false;
    QTest::newRow("tcp") << true;
}

void TestModuleExchange::queryAndResetEndToEnd()
{
    QFETCH(bool, overTcp);
    if (overTcp) {
        QVERIFY(m_sim->listenTcp());
        m_link->setControlMode(cmLAN);
        m_link->setDeviceIP(QStringLiteral("127.0.0.1"));
        m_link->setTcpPort(m_sim->tcpPort());
        QVERIFY(m_link->Connect());
    } else {
        connectOverPty();
    }

    const std::optional<TCPModuleInfo> info = queryTCPModule(*m_link);
    QVERIFY(info);
    QCOMPARE(info->versionText(), QStringLiteral("Version: Ver2.1"));
    QCOMPARE(info->dhcpText(), QStringLiteral("DHCP: Auto IP"));
    QCOMPARE(info->ipText(), QStringLiteral("IP Address: 10.1.2.3"));

    // The switcher's own protocol still flows on the same line.
    CommandResult model;
    m_link->ExecuteCommand(CommandPacket::make(0x01, 0x01, 0x00FE), model);
    QVERIFY(model.Success);
    QCOMPARE(model.reply.status(), quint8(2));

    QVERIFY(resetTCPModule(*m_link));
    const SimModuleState &module = m_sim->network().modules().first();
    QCOMPARE(ipText(module.ip), QStringLiteral("192.168.0.100"));
    QVERIFY(!module.dhcp);
    QCOMPARE(module.tag, QByteArray("TCP Module"));
    QCOMPARE(queryTCPModule(*m_link)->ipText(), QStringLiteral("IP Address: 192.168.0.100"));
    QCOMPARE(m_sim->network().moduleFrames(), 3);
    QVERIFY(m_notices.isEmpty());
}

void TestModuleExchange::attempts_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("times");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QList<LinkMessage>>("notices");

    using L = QList<LinkMessage>;
    QTest::newRow("one bad checksum, then accepted")
        << QStringLiteral("corrupt") << 1 << true << 2 << L{};
    QTest::newRow("four silent attempts, then accepted")
        << QStringLiteral("drop") << 4 << true << 5 << L{};
    QTest::newRow("five bad checksums")
        << QStringLiteral("corrupt") << 5 << false << 5 << L{LinkMessage::SendFailed};
    QTest::newRow("five silent attempts")
        << QStringLiteral("drop") << 5 << false << 5 << L{LinkMessage::TimeOut};
    QTest::newRow("refused five times") << QStringLiteral("refuse") << 5 << false << 5 << L{};
    QTest::newRow("stop requested") << QStringLiteral("stop") << 0 << false << 0 << L{};
    QTest::newRow("not connected")
        << QStringLiteral("unplugged") << 0 << false << 0 << L{LinkMessage::TransportError};
}

void TestModuleExchange::attempts()
{
    QFETCH(QString, fault);
    QFETCH(int, times);
    QFETCH(bool, accepted);
    QFETCH(int, frames);
    QFETCH(QList<LinkMessage>, notices);
    connectOverPty();
    SimNetworkFaults &faults = m_sim->network().faults();
    if (fault == QLatin1String("corrupt"))
        faults.corruptModuleChecksum = times;
    else if (fault == QLatin1String("drop"))
        faults.dropModuleReplies = times;
    else if (fault == QLatin1String("refuse"))
        faults.refuseModuleFrames = times;
    else if (fault == QLatin1String("stop"))
        m_link->setStopRequested(true);
    else if (fault == QLatin1String("unplugged"))
        m_link->Disconnect();

    ModuleFrame reply;
    QCOMPARE(TCPModuleCommand(*m_link, ModuleFrame::request(ModuleFrame::CommandQuery), reply),
        accepted);
    QCOMPARE(m_sim->network().moduleFrames(), frames);
    QCOMPARE(m_notices, notices);
    if (accepted)
        QCOMPARE(reply.ip(), (IPv4Bytes{10, 1, 2, 3}));
}

void TestModuleExchange::panelProcedures_data()
{
    QTest::addColumn<bool>("reset");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("log");

    // Busy while it connects on demand, so that nothing else starts meanwhile.
    const QStringList connecting{QStringLiteral("idle 0"), QStringLiteral("idle 1")};
    const QString labelsCleared = QStringLiteral("labels Version: |DHCP: |IP Address: ");
    const QStringList query{QStringLiteral("idle 0"), QStringLiteral("enabled 0"),
        QStringLiteral("status 2: Query TCP Module information ..."), labelsCleared};
    const QStringList queryOk = connecting + query
        + QStringList{QStringLiteral("status 2: Query TCP Module ok"),
            QStringLiteral("labels Version: Ver2.1|DHCP: Auto IP|IP Address: 10.1.2.3"),
            QStringLiteral("enabled 1"), QStringLiteral("idle 1"), QStringLiteral("status 3: ")};
    const QStringList afterReset = connecting + query
        + QStringList{QStringLiteral("status 2: Query TCP Module ok"),
            QStringLiteral("labels Version: Ver2.1|DHCP: Static IP|IP Address: 192.168.0.100"),
            QStringLiteral("enabled 1"), QStringLiteral("idle 1"), QStringLiteral("status 3: ")};
    const QStringList resetStart = connecting
        + QStringList{QStringLiteral("status 2: Reset Default ..."), QStringLiteral("confirm")};

    QTest::newRow("query") << false << QString() << queryOk;
    QTest::newRow("query fails") << false << QStringLiteral("drop")
                                 << connecting + query
            + QStringList{QStringLiteral("status 2! Query TCP Module failed"),
                QStringLiteral("enabled 1"), QStringLiteral("idle 1"),
                QStringLiteral("status 3: ")};
    QTest::newRow("query while another operation runs")
        << false << QStringLiteral("busy")
        << QStringList{QStringLiteral("status 3: In processing, command ignored")};
    QTest::newRow("query while stopping") << false << QStringLiteral("stop") << QStringList{};
    QTest::newRow("query, cannot connect") << false << QStringLiteral("unplugged") << connecting;
    QTest::newRow("reset, then the query") << true << QString()
                                           << resetStart
            + QStringList{QStringLiteral("idle 0"), QStringLiteral("idle 1"),
                QStringLiteral("status 2: Reset Default ok")}
            + afterReset + QStringList{QStringLiteral("status 3: ")};
    QTest::newRow("reset not confirmed") << true << QStringLiteral("decline")
                                         << resetStart
            + QStringList{
                QStringLiteral("status 2: Reset Default cancelled"), QStringLiteral("status 3: ")};
    QTest::newRow("reset fails") << true << QStringLiteral("drop")
                                 << resetStart
            + QStringList{QStringLiteral("idle 0"), QStringLiteral("idle 1"),
                QStringLiteral("status 2! Reset Default failed"), QStringLiteral("status 3: ")};
    QTest::newRow("reset while another operation runs")
        << true << QStringLiteral("busy")
        << QStringList{QStringLiteral("status 3: In processing, command ignored")};
}

void TestModuleExchange::panelProcedures()
{
    QFETCH(bool, reset);
    QFETCH(QString, setup);
    QFETCH(QStringList, log);
    const QString pty = m_sim->openPty();
    QVERIFY(!pty.isEmpty());
    m_link->setControlMode(cmCOM);
    m_link->setComPort(pty);
    PanelLog panel(*m_link);
    if (setup == QLatin1String("drop"))
        m_sim->network().faults().dropModuleReplies = 5;
    panel.idle = setup != QLatin1String("busy");
    panel.confirm = setup != QLatin1String("decline");
    panel.connectable = setup != QLatin1String("unplugged");
    if (setup == QLatin1String("stop"))
        m_link->setStopRequested(true);

    const bool done = reset ? runTCPModuleReset(*m_link, panel) : runTCPModuleQuery(*m_link, panel);
    QCOMPARE(panel.log, log);
    QCOMPARE(done, setup.isEmpty());
    QCOMPARE(panel.idle, setup != QLatin1String("busy"));
    const bool sent = setup.isEmpty() || setup == QLatin1String("drop");
    QCOMPARE(m_sim->network().moduleFrames() > 0, sent);
}

QTEST_GUILESS_MAIN(TestModuleExchange)
#include "tst_moduleexchange.moc"
