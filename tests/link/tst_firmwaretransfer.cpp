// Firmware parts and the reboot wait, through a loopback TCP connection to the simulated
// switcher: what goes on the wire, what the switcher stores, and what the link reports.
#include "../firmware/FirmwareFixtures.h"
#include "LinkStatusText.h"
#include "SimulatorServer.h"
#include "TKVCOMControl.h"

#include <QTest>

namespace {

// One data frame as the switcher saw it: its header words.
struct Block
{
    quint16 status; // word1: 0x00AA more, 0x0056 last
    quint16 length; // word2
    quint16 mcu; // word3
    quint16 number; // word4
    friend bool operator==(const Block &, const Block &) = default;
};

char *toString(const Block &b)
{
    return qstrdup(QStringLiteral("{%1, %2, mcu %3, #%4}")
                       .arg(b.status, 4, 16, QLatin1Char('0'))
                       .arg(b.length)
                       .arg(b.mcu)
                       .arg(b.number)
                       .toLatin1());
}

} // namespace

Q_DECLARE_METATYPE(Block)
Q_DECLARE_METATYPE(SimFaults)

class TestFirmwareTransfer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void slaveBlocks_data();
    void slaveBlocks();
    void mainPartPreparesAndWaitsForTheReboot();
    void refusedStart_data();
    void refusedStart();
    void replyFaults_data();
    void replyFaults();
    void stopDuringBlocks();
    void waitReboot_data();
    void waitReboot();

private:
    void load(const QByteArray &image);
    QList<Block> blocks() const;
    QList<LinkNotice> notices(LinkMessage code) const;
    // Applies faults to the switcher's answers from the n-th data frame on.
    void faultsFromBlock(int n, const SimFaults &faults);

    SimulatorServer *m_sim = nullptr;
    TKVCOMControl *m_link = nullptr;
    QList<LinkNotice> m_notices;
    QStringList m_texts;
};

void TestFirmwareTransfer::init()
{
    m_sim = new SimulatorServer;
    QVERIFY(m_sim->listenTcp());
    m_sim->firmware().setRebootMs(20);
    m_link = new TKVCOMControl;
    m_link->setTiming(Timing::fast());
    m_link->setDeviceIP(QStringLiteral("127.0.0.1"));
    m_link->setTcpPort(m_sim->tcpPort());
    m_notices.clear();
    m_texts.clear();
    connect(m_link, &TKVCOMControl::notification, m_link, [this](const LinkNotice &n) {
        if (n.code != LinkMessage::Trace && n.code != LinkMessage::ReceiveDump
            && n.code != LinkMessage::DataReceived)
            m_notices.append(n);
        const QString text = linkStatusText(n, *m_link);
        if (!text.isEmpty())
            m_texts.append(text);
    });
    QVERIFY(m_link->Connect());
}

void TestFirmwareTransfer::cleanup()
{
    delete m_link;
    delete m_sim;
}

void TestFirmwareTransfer::load(const QByteArray &image)
{
    m_link->setSendStream(image);
}

QList<Block> TestFirmwareTransfer::blocks() const
{
    QList<Block> out;
    for (const QByteArray &bytes : m_sim->received()) {
        const CommandPacket p = CommandPacket::fromBytes(bytes);
        if (p.command() == 0x20 && (p.word(1) == 0x00AA || p.word(1) == 0x0056))
            out.append({p.word(1), p.word(2), p.word(3), p.word(4)});
    }
    return out;
}

QList<LinkNotice> TestFirmwareTransfer::notices(LinkMessage code) const
{
    QList<LinkNotice> out;
    for (const LinkNotice &n : m_notices) {
        if (n.code == code)
            out.append(n);
    }
    return out;
}

void TestFirmwareTransfer::faultsFromBlock(int n, const SimFaults &faults)
{
    auto seen = std::make_shared<int>(0);
    connect(m_sim, &SimulatorServer::requestHandled, m_sim, [=, this](const QByteArray &request) {
        const CommandPacket p = CommandPacket::fromBytes(request);
        if (p.command() == 0x20 && (p.word(1) == 0x00AA || p.word(1) == 0x0056) && (*seen)++ == n)
            m_sim->faults() = faults;
    });
}

void TestFirmwareTransfer::slaveBlocks_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<Block>>("expected");
    QTest::addColumn<QList<int>>("progress");
    QTest::newRow("600 bytes") << 600
                               << QList<Block>{{0xAA, 256, 3, 0}, {0xAA, 256, 3, 1},
                                      {0x56, 88, 3, 2}}
                               << QList<int>{42, 85, 100};
    QTest::newRow("256 bytes: one last block")
        << 256 << QList<Block>{{0x56, 256, 3, 0}} << QList<int>{100};
    QTest::newRow("257 bytes") << 257 << QList<Block>{{0xAA, 256, 3, 0}, {0x56, 1, 3, 1}}
                               << QList<int>{99, 100};
    QTest::newRow("empty image: one empty last block")
        << 0 << QList<Block>{{0x56, 0, 3, 0}} << QList<int>{100};
}

void TestFirmwareTransfer::slaveBlocks()
{
    QFETCH(int, size);
    QFETCH(QList<Block>, expected);
    QFETCH(QList<int>, progress);
    const QByteArray image = testImage(size);
    load(image);
    CommandResult result;
    m_link->TransferSlavePart(CommandPacket::make(0x20, 0x02, 3, 0, 4, 2), result);

    QVERIFY(result.Success);
    QCOMPARE(blocks(), expected);
    QList<int> percents;
    for (const LinkNotice &n : notices(LinkMessage::PartProgress)) {
        QCOMPARE(n.wParam, 0x0203u); // subcommand 2, MCU 3
        percents.append(static_cast<int>(n.lParam));
    }
    QCOMPARE(percents, progress);
    QCOMPARE(notices(LinkMessage::TransferDone).size(), 1);
    QCOMPARE(m_notices.last().code, LinkMessage::TransferDone);
    QVERIFY(m_texts.isEmpty());
    const SimFirmware::Part *part = m_sim->firmware().part(2, 3);
    QVERIFY(part && part->complete);
    QCOMPARE(part->image, image);
    QCOMPARE(part->version1, 4);
    QCOMPARE(part->version2, 2);
    QCOMPARE(m_sim->simulator().state().reboots, 0);
}

void TestFirmwareTransfer::mainPartPreparesAndWaitsForTheReboot()
{
    const QByteArray image = testImage(300);
    load(image);
    CommandResult result;
    m_link->TransferMainPart(CommandPacket::make(0x20, 0x01, 1, 0, 7, 3), result);

    QVERIFY(result.Success);
    QCOMPARE(m_sim->firmware().part(1, 1)->image, image);
    QCOMPARE(m_sim->simulator().state().reboots, 1);
    // On the wire: start, the two preparation steps, the blocks, then the reboot check.
    QList<QByteArray> words;
    for (const QByteArray &r : m_sim->received())
        words.append(r.mid(2, 4).toHex(' '));
    QCOMPARE(words.mid(0, 5),
        (QList<QByteArray>{
            "20 01 01 00", "20 01 80 00", "20 01 10 00", "20 01 aa 00", "20 01 56 00"}));
    QVERIFY(!words.mid(5).isEmpty());
    for (const QByteArray &w : words.mid(5))
        QCOMPARE(w, QByteArray("01 01 00 00"));

    const QList<LinkNotice> done = notices(LinkMessage::TransferDone);
    QCOMPARE(done.size(), 1);
    QCOMPARE(done[0].wParam, 0x0101u);
    QCOMPARE(done[0].lParam, 0x0703u);
    const QList<LinkNotice> reboot = notices(LinkMessage::Reboot);
    QVERIFY(reboot.size() > 100);
    for (int i = 0; i < reboot.size() - 1; ++i) {
        QCOMPARE(reboot[i].lParam, 1u);
        QCOMPARE(reboot[i].text,
            QStringLiteral("System rebooting, please wait ...") + QLatin1Char("/-\\|"[i % 4]));
    }
    QCOMPARE(reboot.last().lParam, 0u);
    QCOMPARE(reboot.last().text, QStringLiteral("System reboot ok"));
    QCOMPARE(m_notices.last().code, LinkMessage::Reboot);
}

void TestFirmwareTransfer::refusedStart_data()
{
    QTest::addColumn<quint8>("subcommand");
    QTest::newRow("slave") << quint8(2);
    QTest::newRow("main") << quint8(1);
}

void TestFirmwareTransfer::refusedStart()
{
    QFETCH(quint8, subcommand);
    m_sim->firmware().setMinimumVersion(9, 0);
    load(testImage(600));
    CommandResult result;
    const CommandPacket start = CommandPacket::make(0x20, subcommand, 1, 0, 2, 5);
    if (subcommand == 1)
        m_link->TransferMainPart(start, result);
    else
        m_link->TransferSlavePart(start, result);

    QVERIFY(result.Success); // the refusal is reported by 2034 alone
    QCOMPARE(result.reply.status(), 0x44);
    QCOMPARE(m_notices.size(), 1);
    QCOMPARE(m_notices[0].code, LinkMessage::PartRefused);
    QCOMPARE(m_notices[0].wParam, MakeWord(subcommand, 1));
    QCOMPARE(m_notices[0].lParam, 0x0205u);
    QCOMPARE(m_sim->received().size(), 1);
}

void TestFirmwareTransfer::replyFaults_data()
{
    QTest::addColumn<bool>("main");
    QTest::addColumn<int>("fromBlock");
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<bool>("success");
    QTest::addColumn<int>("refusals");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<quint16>>("numbers"); // block numbers on the wire
    const auto f = [](auto set) {
        SimFaults faults;
        set(faults);
        return faults;
    };
    const QStringList none;

    for (const bool main : {false, true}) {
        const char *mcu = main ? "main" : "slave";
        QTest::addRow("%s: damaged answer, block sent again", mcu)
            << main << 1 << f([](SimFaults &x) { x.corruptChecksum = 1; }) << true << 0 << none
            << QList<quint16>{0, 1, 1, 2};
        QTest::addRow("%s: wrong echo, block sent again", mcu)
            << main << 0 << f([](SimFaults &x) { x.wrongEcho = 4; }) << true << 0 << none
            << QList<quint16>{0, 0, 0, 0, 0, 1, 2};
        QTest::addRow("%s: refused once, then taken", mcu)
            << main << 1 << f([](SimFaults &x) { x.refuse44 = 1; }) << true << 1 << none
            << QList<quint16>{0, 1, 1, 2};
        QTest::addRow("%s: refused five times, part stops", mcu)
            << main << 1 << f([](SimFaults &x) { x.refuse44 = 5; }) << true << 5 << none
            << QList<quint16>{0, 1, 1, 1, 1, 1};
        QTest::addRow("%s: failed five times", mcu)
            << main << 0 << f([](SimFaults &x) { x.refuseStatus = 5; }) << false << 0
            << QStringList{QStringLiteral("Send data failed!")} << QList<quint16>{0, 0, 0, 0, 0};
        QTest::addRow("%s: no answer five times", mcu)
            << main << 1 << f([](SimFaults &x) { x.dropReplies = 5; }) << false << 0
            << QStringList{QStringLiteral("Time out!")} << QList<quint16>{0, 1, 1, 1, 1, 1};
        QTest::addRow("%s: answer lost four times", mcu)
            << main << 1 << f([](SimFaults &x) { x.dropReplies = 4; }) << true << 0 << none
            << QList<quint16>{0, 1, 1, 1, 1, 1, 2};
    }
}

void TestFirmwareTransfer::replyFaults()
{
    QFETCH(bool, main);
    QFETCH(int, fromBlock);
    QFETCH(SimFaults, faults);
    QFETCH(bool, success);
    QFETCH(int, refusals);
    QFETCH(QStringList, texts);
    QFETCH(QList<quint16>, numbers);

    const QByteArray image = testImage(600);
    load(image);
    faultsFromBlock(fromBlock, faults);
    CommandResult result;
    const quint8 sub = main ? 1 : 2;
    const CommandPacket start = CommandPacket::make(0x20, sub, 1, 0, 3, 4);
    if (main)
        m_link->TransferMainPart(start, result);
    else
        m_link->TransferSlavePart(start, result);

    QCOMPARE(result.Success, success);
    QCOMPARE(m_texts, texts);
    QList<quint16> sent;
    for (const Block &b : blocks())
        sent.append(b.number);
    QCOMPARE(sent, numbers);
    const QList<LinkNotice> refused = notices(LinkMessage::PartRefused);
    QCOMPARE(refused.size(), refusals);
    for (const LinkNotice &n : refused) {
        QCOMPARE(n.wParam, MakeWord(sub, 1));
        QCOMPARE(n.lParam, 0x0304u);
    }
    // A completed part is complete and whole, whatever was repeated on the way.
    const bool complete = numbers.last() == 2 && success;
    QCOMPARE(notices(LinkMessage::TransferDone).size(), complete ? 1 : 0);
    QCOMPARE(m_sim->firmware().part(sub, 1)->complete, complete);
    if (complete)
        QCOMPARE(m_sim->firmware().part(sub, 1)->image, image);
}

void TestFirmwareTransfer::stopDuringBlocks()
{
    load(testImage(1000));
    connect(m_sim, &SimulatorServer::requestHandled, m_link, [this](const QByteArray &request) {
        const CommandPacket p = CommandPacket::fromBytes(request);
        if (p.word(1) == 0x00AA && p.word(4) == 1)
            m_link->setStopRequested(true);
    });
    CommandResult result;
    m_link->TransferSlavePart(CommandPacket::make(0x20, 0x02, 2, 0, 1, 1), result);
    QVERIFY(!result.Success);
    QCOMPARE(blocks().size(), 2);
    QVERIFY(notices(LinkMessage::TransferDone).isEmpty());
    QVERIFY(m_texts.isEmpty()); // a stop is not a failure to report
}

void TestFirmwareTransfer::waitReboot_data()
{
    QTest::addColumn<int>("silentProbes"); // -1: the switcher never comes back
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("last"); // last 2038 line
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("probes");
    const QString spinning = QStringLiteral("System rebooting, please wait ...");
    SimFaults refuseAll;
    refuseAll.refuseStatus = 10;
    SimFaults refuseSome;
    refuseSome.refuseStatus = 3;

    QTest::newRow("back at once") << 0 << SimFaults() << true << "System reboot ok" << QStringList()
                                  << 1;
    QTest::newRow("back after two silent probes")
        << 2 << SimFaults() << true << "System reboot ok" << QStringList() << 3;
    QTest::newRow("refused three times")
        << 0 << refuseSome << true << "System reboot ok" << QStringList() << 4;
    QTest::newRow("refused ten times")
        << 0 << refuseAll << false << "System reboot failed" << QStringList() << 10;
    // The spinner's line does not stay the last word.
    QTest::newRow("never back") << -1 << SimFaults() << false << "System reboot failed"
                                << QStringList{QStringLiteral("Time out!")} << 5;
}

void TestFirmwareTransfer::waitReboot()
{
    QFETCH(int, silentProbes);
    QFETCH(SimFaults, faults);
    QFETCH(bool, success);
    QFETCH(QString, last);
    QFETCH(QStringList, texts);
    QFETCH(int, probes);

    m_sim->firmware().setRebootMs(silentProbes == 0 ? 0 : 3'600'000);
    CommandResult reboot;
    m_link->ExecuteCommand(CommandPacket::make(0x80, 0x02, 0x000F), reboot);
    QVERIFY(reboot.Success);
    m_sim->faults() = faults;
    m_sim->clearReceived();
    // The reboot ends just before the switcher sees the probe after the silent ones.
    connect(m_sim, &SimulatorServer::requestHandled, m_sim, [this, silentProbes] {
        if (m_sim->received().size() == silentProbes + 1)
            m_sim->firmware().setRebootMs(0);
    });
    m_notices.clear();

    CommandResult result;
    m_link->WaitReboot(result);
    QCOMPARE(result.Success, success);
    QCOMPARE(m_texts, texts);
    QVERIFY(notices(LinkMessage::Reboot).last().text.startsWith(last));
    // Probes the silent switcher does not answer still count: all of them reached it.
    QCOMPARE(m_sim->received().size(), probes);
}

QTEST_GUILESS_MAIN(TestFirmwareTransfer)
#include "tst_firmwaretransfer.moc"
