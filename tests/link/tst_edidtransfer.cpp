// EDID block read and download against the simulated switcher over a loopback TCP
// connection and a pseudo terminal: the frames on the wire, the retry words, the
// notifications and what ends up in the switcher's memories.
#include "LinkFixture.h"
#include "SimEdidData.h"

#include <QTest>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

// Spoils the switcher from the n-th block request (read) or data frame (download) on.
struct Spoil
{
    int from = 0;
    std::function<void(SimulatorServer &)> apply;
};
Q_DECLARE_METATYPE(Spoil)

namespace {

bool isReadBlockRequest(const CommandPacket &p)
{
    const quint16 w1 = p.word(1);
    return p.command() == 0x03 && p.subcommand() == 0x05 && (w1 == 0x00AA || w1 == 0 || w1 == 0xFF);
}

bool isDataFrame(const CommandPacket &p)
{
    return p.command() == 0x03 && (p.subcommand() == 0x06 || p.subcommand() == 0x07)
        && (p.word(1) == 0x00AA || p.word(1) == 0x0056);
}

Spoil edidFaults(int from, std::function<void(SimEdid::Faults &)> set)
{
    return {from, [set](SimulatorServer &sim) { set(sim.edid().faults()); }};
}

// A 256-byte pattern that is no EDID: the transfers carry any bytes.
QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 + 3);
    return bytes;
}

} // namespace

class TestEdidTransfer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void read_data();
    void read();
    void download_data();
    void download();
    void stopPartWayFailsTheRead();

private:
    bool connectWire(const QString &wire) { return m_fix->connectWire(wire); }
    void spoilWhen(const Spoil &spoil, bool (*counts)(const CommandPacket &));

    std::unique_ptr<testsupport::LinkFixture> m_fix;
    SimulatorServer *m_sim = nullptr; // m_fix's
    TKVCOMControl *m_link = nullptr; // m_fix's
    QList<LinkMessage> m_codes;
    QStringList m_sentDumps;
};

void TestEdidTransfer::init()
{
    m_fix = std::make_unique<testsupport::LinkFixture>();
    QVERIFY(m_fix->listening());
    m_sim = &m_fix->sim();
    m_link = &m_fix->link();
    m_codes.clear();
    m_sentDumps.clear();
    m_link->setDiagnosticsWanted(true);
    connect(m_link, &TKVCOMControl::notification, m_link, [this](const LinkNotice &n) {
        m_codes.append(n.code);
        if (n.code == LinkMessage::ReceiveDump && n.text.startsWith(u"0xA5, 0x5B"_s))
            m_sentDumps.append(n.text);
    });
}

void TestEdidTransfer::cleanup()
{
    m_fix.reset();
}

void TestEdidTransfer::spoilWhen(const Spoil &spoil, bool (*counts)(const CommandPacket &))
{
    if (!spoil.apply)
        return;
    auto seen = std::make_shared<int>(0);
    // The switcher reports a request before it answers it, so the fault meets that answer.
    connect(m_sim, &SimulatorServer::requestHandled, m_sim,
        [this, spoil, counts, seen](const QByteArray &header) {
            if (counts(CommandPacket::fromBytes(header)) && (*seen)++ == spoil.from)
                spoil.apply(*m_sim);
        });
}

void TestEdidTransfer::read_data()
{
    QTest::addColumn<QString>("wire");
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<Spoil>("spoil");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QList<quint16>>("requests"); // word1 of each block request
    QTest::addColumn<QStringList>("texts");

    using W = QList<quint16>;
    const QStringList none;
    const QStringList sendFailed{u"Send data failed!"_s};
    const Spoil clean;
    for (const char *wire : {"tcp", "pty"}) {
        const auto row = [wire](const char *name) -> QTestData & {
            return QTest::addRow("%s: %s", wire, name) << QString::fromLatin1(wire);
        };
        row("256 bytes in one block") << 256 << clean << true << W{0xAA} << none;
        row("shorter blocks") << 100 << clean << true << W{0xAA, 0, 0} << none;
        row("bad checksum before any block was taken")
            << 256 << edidFaults(0, [](auto &f) { f.badBlockChecksum = 1; }) << true
            << W{0xAA, 0xAA} << none;
        row("bad checksum after a block was taken")
            << 128 << edidFaults(1, [](auto &f) { f.badBlockChecksum = 1; }) << true
            << W{0xAA, 0, 0xFF} << none;
        row("bad header checksum")
            << 256 << Spoil{0, [](SimulatorServer &s) { s.faults().corruptChecksum = 1; }} << true
            << W{0xAA, 0xAA} << none;
        row("bad header") << 256 << edidFaults(0, [](auto &f) { f.badBlockHeader = 1; }) << true
                          << W{0xAA, 0xAA} << none;
        row("refused block") << 128 << edidFaults(1, [](auto &f) { f.refuseBlock = 1; }) << true
                             << W{0xAA, 0, 0xFF} << none;
        row("length beyond the frame") << 128 << edidFaults(1, [](auto &f) { f.oversizeBlock = 1; })
                                       << true << W{0xAA, 0, 0xFF} << none;
        row("five bad blocks") << 128 << edidFaults(1, [](auto &f) { f.badBlockChecksum = 5; })
                               << false << W{0xAA, 0, 0xFF, 0xFF, 0xFF, 0xFF} << sendFailed;
        row("no display on the output")
            << 256
            << Spoil{-1,
                   [](SimulatorServer &s) { s.simulator().state().outputConnected[1] = false; }}
            << false << W{} << sendFailed;
        // A TCP switcher that hangs up is a transport failure; on a serial line only that block
        // is lost, and asked for again.
        const bool tcp = QLatin1String(wire) == QLatin1String("tcp");
        row("connection lost mid-read")
            << 256 << Spoil{0, [](SimulatorServer &s) { s.faults().dropConnectionAfter = 1; }}
            << !tcp << (tcp ? W{0xAA} : W{0xAA, 0xAA})
            << (tcp ? QStringList{u"TCP control failed!"_s} : none);
        row("blocks lost") << 256
                           << Spoil{0, [](SimulatorServer &s) { s.faults().dropReplies = 5; }}
                           << false << W{0xAA, 0xAA, 0xAA, 0xAA, 0xAA}
                           << QStringList{u"Time out!"_s};
    }
}

void TestEdidTransfer::read()
{
    QFETCH(QString, wire);
    QFETCH(int, blockSize);
    QFETCH(Spoil, spoil);
    QFETCH(bool, success);
    QFETCH(QList<quint16>, requests);
    QFETCH(QStringList, texts);

    QVERIFY(connectWire(wire));
    m_sim->edid().setBlockSize(blockSize);
    if (spoil.from < 0)
        spoil.apply(*m_sim);
    else
        spoilWhen(spoil, isReadBlockRequest);

    CommandResult result;
    m_link->ReadEDIDBlocks(CommandPacket::make(0x03, 0x05, 0xF002), result);
    QCOMPARE(result.Success, success);
    QCOMPARE(m_fix->texts(), texts);
    QCOMPARE(m_codes.contains(LinkMessage::TransferDone), success);
    if (success)
        QCOMPARE(m_link->EDIDReadStream(), SimEdidData::displayEdid(2));

    QList<quint16> words;
    for (const QByteArray &header : m_sim->received()) {
        const CommandPacket p = CommandPacket::fromBytes(header);
        if (isReadBlockRequest(p)) {
            QCOMPARE(p.word(2), 0);
            words.append(p.word(1));
        }
    }
    QCOMPARE(words, requests);
}

void TestEdidTransfer::download_data()
{
    QTest::addColumn<QString>("wire");
    QTest::addColumn<quint16>("target"); // word1 of 03/06 or 03/07
    QTest::addColumn<int>("size");
    QTest::addColumn<Spoil>("spoil");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QList<QPair<quint16, quint16>>>("frames"); // word1, word2 of each frame
    QTest::addColumn<QStringList>("texts");

    using F = QList<QPair<quint16, quint16>>;
    const QStringList none;
    const Spoil clean;
    for (const char *wire : {"tcp", "pty"}) {
        const auto row = [wire](const char *name) -> QTestData & {
            return QTest::addRow("%s: %s", wire, name) << QString::fromLatin1(wire);
        };
        row("256 bytes: one last frame")
            << quint16(0xF003) << 256 << clean << true << F{{0x56, 256}} << none;
        row("257 bytes: 256 and 1")
            << quint16(0xF003) << 257 << clean << true << F{{0xAA, 256}, {0x56, 1}} << none;
        row("600 bytes to all inputs") << quint16(0xF0FE) << 600 << clean << true
                                       << F{{0xAA, 256}, {0xAA, 256}, {0x56, 88}} << none;
        row("User2 Memory") << quint16(0xF200) << 256 << clean << true << F{{0x56, 256}} << none;
        row("frame refused once") << quint16(0xF001) << 257
                                  << edidFaults(1, [](auto &f) { f.refuseBlock = 1; }) << true
                                  << F{{0xAA, 256}, {0x56, 1}, {0x56, 1}} << none;
        row("declined start") << quint16(0xF001) << 256
                              << Spoil{-1,
                                     [](SimulatorServer &s) {
                                         s.edid().faults().declineDownload = 1;
                                     }}
                              << false << F{} << QStringList{u"Data invalid!"_s};
        row("refused five times") << quint16(0xF001) << 256
                                  << edidFaults(0, [](auto &f) { f.refuseBlock = 5; }) << false
                                  << F(5, {0x56, 256}) << QStringList{u"Send data failed!"_s};
    }
}

void TestEdidTransfer::download()
{
    using F = QList<QPair<quint16, quint16>>;
    QFETCH(QString, wire);
    QFETCH(quint16, target);
    QFETCH(int, size);
    QFETCH(Spoil, spoil);
    QFETCH(bool, success);
    QFETCH(F, frames);
    QFETCH(QStringList, texts);

    QVERIFY(connectWire(wire));
    if (spoil.from < 0)
        spoil.apply(*m_sim);
    else
        spoilWhen(spoil, isDataFrame);
    const SimEdid &edid = m_sim->edid();
    const auto memory = [&] {
        if (target == 0xF0FE)
            return edid.inputEdid(1);
        return hiByte(target) == 0xF0 ? edid.inputEdid(loByte(target))
                                      : edid.userEdid(hiByte(target) & 0x0F);
    };
    const QByteArray before = memory();

    const QByteArray data = pattern(size);
    m_link->setSendStream(data);
    const quint8 subcommand = target == 0xF0FE ? 0x06 : 0x07;
    CommandResult result;
    m_link->DownloadEDIDBlocks(CommandPacket::make(0x03, subcommand, target), result);
    QCOMPARE(result.Success, success);
    QCOMPARE(m_fix->texts(), texts);
    QCOMPARE(m_codes.contains(LinkMessage::TransferDone), success);
    QCOMPARE(memory(), success ? data : before);
    if (success && target == 0xF0FE) {
        for (int input = 2; input <= 6; ++input)
            QCOMPARE(edid.inputEdid(input), data);
    }

    F sent;
    for (const QByteArray &header : m_sim->received()) {
        const CommandPacket p = CommandPacket::fromBytes(header);
        if (isDataFrame(p)) {
            QCOMPARE(p.subcommand(), subcommand);
            sent.append({p.word(1), p.word(2)});
        }
    }
    QCOMPARE(sent, frames);
    // Each frame sent is dumped as far as it carries data: header, checksum and n bytes.
    QCOMPARE(m_sentDumps.size(), frames.size());
    if (!frames.isEmpty()) {
        const QString dump = m_sentDumps.first();
        QCOMPARE(dump.count(u"0x"_s), 14 + frames.first().second);
        const QString words
            = u"|0x%1, 0x00, |0x%2, 0x%3, |"_s.arg(frames.first().first, 2, 16, QLatin1Char('0'))
                  .arg(loByte(frames.first().second), 2, 16, QLatin1Char('0'))
                  .arg(hiByte(frames.first().second), 2, 16, QLatin1Char('0'))
                  .toUpper()
                  .replace(u"0X"_s, u"0x"_s);
        QVERIFY2(dump.contains(words), qPrintable(dump.left(80)));
    }
}

void TestEdidTransfer::stopPartWayFailsTheRead()
{
    QVERIFY(connectWire(u"tcp"_s));
    m_sim->edid().setBlockSize(64);
    spoilWhen(
        {1, [this](SimulatorServer &) { m_link->setStopRequested(true); }}, isReadBlockRequest);
    CommandResult result;
    m_link->ReadEDIDBlocks(CommandPacket::make(0x03, 0x05, 0xF001), result);
    QVERIFY(!result.Success);
    QVERIFY(!m_codes.contains(LinkMessage::TransferDone));
    QVERIFY(m_fix->texts().isEmpty());
}

QTEST_GUILESS_MAIN(TestEdidTransfer)
#include "tst_edidtransfer.moc"
