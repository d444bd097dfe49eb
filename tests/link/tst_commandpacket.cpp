#include "BlockFrame.h"
#include "CommandPacket.h"

#include <QTest>

#include <optional>

class TestCommandPacket : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void checksum_data();
    void checksum();
    void fieldsAreLittleEndian();
    void matchingReply_data();
    void matchingReply();
    void blockChecksum_data();
    void blockChecksum();
    void makeWord();
    void traceLine();
    void blockFrameData_data();
    void blockFrameData();
    void blockFrameBuildAndDump();
};

void TestCommandPacket::checksum_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("subcommand");
    QTest::addColumn<int>("word1");
    QTest::addColumn<int>("word2");
    QTest::addColumn<int>("word3");
    QTest::addColumn<int>("word4");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("device model: bytes sum to 0x200")
        << 0x01 << 0x01 << 0x00FE << 0 << 0 << 0
        << QByteArray::fromHex("a55b0101fe0000000000000000");
    QTest::newRow("power status with its key words")
        << 0x10 << 0x01 << 0x00FE << 0 << 0xD22D << 0x2ED3
        << QByteArray::fromHex("a55b1001fe0000002dd2d32ef1");
    QTest::newRow("route input 3 to output 2")
        << 0x02 << 0x03 << 3 << 2 << 0 << 0 << QByteArray::fromHex("a55b02030300020000000000f6");
    QTest::newRow("all words 0xFFFF") << 0xFF << 0xFF << 0xFFFF << 0xFFFF << 0xFFFF << 0xFFFF
                                      << QByteArray::fromHex("a55bffffffffffffffffffff0a");
}

void TestCommandPacket::checksum()
{
    QFETCH(int, command);
    QFETCH(int, subcommand);
    QFETCH(int, word1);
    QFETCH(int, word2);
    QFETCH(int, word3);
    QFETCH(int, word4);
    QFETCH(QByteArray, wire);

    const CommandPacket packet = CommandPacket::make(static_cast<quint8>(command),
        static_cast<quint8>(subcommand), static_cast<quint16>(word1), static_cast<quint16>(word2),
        static_cast<quint16>(word3), static_cast<quint16>(word4));
    QCOMPARE(packet.toByteArray().toHex(' '), wire.toHex(' '));
    QCOMPARE(PacketChecksum(packet), packet.checksum());
    int sum = 0;
    for (quint8 b : packet.bytes)
        sum += b;
    QCOMPARE(sum % 256, 0);
}

void TestCommandPacket::fieldsAreLittleEndian()
{
    CommandPacket packet;
    InitPacket(packet);
    QCOMPARE(packet.toByteArray(), QByteArray::fromHex("a55b0000000000000000000000"));
    packet.setWord(3, 0xD22D);
    QCOMPARE(packet.bytes[8], 0x2D);
    QCOMPARE(packet.bytes[9], 0xD2);
    QCOMPARE(packet.word(3), 0xD22D);
    QCOMPARE(CommandPacket::fromBytes(QByteArray::fromHex("a55b01")).toByteArray(),
        QByteArray::fromHex("a55b0100000000000000000000"));
}

void TestCommandPacket::matchingReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("matches");
    // request is 02/03
    QTest::newRow("echo") << QByteArray::fromHex("a55b0203000002000000000000") << true;
    QTest::newRow("bad checksum still matches")
        << QByteArray::fromHex("a55b02030000020000000000ff") << true;
    QTest::newRow("wrong subcommand") << QByteArray::fromHex("a55b0201000002000000000000") << false;
    QTest::newRow("wrong command") << QByteArray::fromHex("a55b0103000002000000000000") << false;
    QTest::newRow("wrong lead") << QByteArray::fromHex("a55c0203000002000000000000") << false;
    QTest::newRow("all zero") << QByteArray(13, '\0') << false;
}

void TestCommandPacket::matchingReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, matches);
    const CommandPacket request = CommandPacket::make(0x02, 0x03, 3, 2);
    QCOMPARE(IsMatchingReply(CommandPacket::fromBytes(reply), request), matches);
}

void TestCommandPacket::blockChecksum_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("checksum");
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("one byte") << QByteArray::fromHex("01") << 0xFF;
    QTest::newRow("sum wraps") << QByteArray::fromHex("ff02") << 0xFF;
    QTest::newRow("sum is 0x100") << QByteArray::fromHex("8080") << 0x00;
    QTest::newRow("256 bytes of 0xFF") << QByteArray(256, '\xff') << 0x00;
}

void TestCommandPacket::blockChecksum()
{
    QFETCH(QByteArray, data);
    QFETCH(int, checksum);
    QCOMPARE(int(BlockChecksum(data)), checksum);
    QCOMPARE(BlockChecksum(reinterpret_cast<const quint8 *>(data.constData()), -3), 0);
}

void TestCommandPacket::makeWord()
{
    QCOMPARE(MakeWord(0x1234, 0x5678), 0x3478);
    QCOMPARE(MakeWord(0x20, 0x01), 0x2001);
    QCOMPARE(loByte(0xD22D), 0x2D);
    QCOMPARE(hiByte(0xD22D), 0xD2);
}

void TestCommandPacket::traceLine()
{
    const auto packet = CommandPacket::make(0x10, 0x01, 0x00FE, 0, 0xD22D, 0x2ED3);
    QCOMPARE(TracePacket(QStringLiteral("[1] snd cmd PPP:   "), packet, 0),
        QStringLiteral("[1] snd cmd PPP:   \r\nA5 5B 10 01 [00 UU FE] [00 00] [D2 2D] [2E D3] "
                       "F1, RC=0"));
    QCOMPARE(TracePacket(QStringLiteral("rcv cmd:   "), CommandPacket(), 8888),
        QStringLiteral("rcv cmd:   \r\n00 00 00 00 [00 UU 00] [00 00] [00 00] [00 00] 00, "
                       "RC=8888"));
}

// The data a block frame carries is taken only when word2 fits a frame, the frame holds that
// many bytes and byte 13 is their checksum.
void TestCommandPacket::blockFrameData_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QByteArray>("data");
    const QByteArray three = QByteArray::fromHex("010203");
    const auto header = [](int length) {
        return CommandPacket::make(0x03, 0x05, 0x00AA, static_cast<quint16>(length));
    };
    const QByteArray good = BlockFrame::build(header(3), three);
    QTest::newRow("good") << good << true << three;
    QTest::newRow("padded") << BlockFrame::build(header(3), three, BlockFrame::Size) << true
                            << three;
    QTest::newRow("empty") << BlockFrame::build(header(0), {}) << true << QByteArray();
    QByteArray spoiled = good;
    spoiled[BlockFrame::HeaderSize + 1] = '\x07';
    QTest::newRow("data checksum wrong") << spoiled << false << QByteArray();
    QTest::newRow("shorter than word2") << good.left(good.size() - 1) << false << QByteArray();
    QTest::newRow("word2 beyond a frame")
        << BlockFrame::build(header(257), QByteArray(257, '\0')) << false << QByteArray();
    QTest::newRow("no checksum byte") << header(0).toByteArray() << false << QByteArray();
}

void TestCommandPacket::blockFrameData()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, taken);
    QFETCH(QByteArray, data);
    const std::optional<QByteArray> got = BlockFrame::data(frame);
    QCOMPARE(got.has_value(), taken);
    if (got)
        QCOMPARE(*got, data);
}

void TestCommandPacket::blockFrameBuildAndDump()
{
    const QByteArray data = QByteArray::fromHex("1122");
    const QByteArray frame
        = BlockFrame::build(CommandPacket::make(0x20, 0x02, 0x0056, 2, 3, 1), data);
    QCOMPARE(frame.toHex(), QByteArray("a55b2002560002000300010082cd1122"));
    QCOMPARE(BlockFrame::build(CommandPacket(), data, BlockFrame::Size).size(), BlockFrame::Size);
    // A bar before bytes 4, 6, 8, 10 and 12, a line break before the sixteenth.
    QCOMPARE(BlockFrame::dump(frame + QByteArray(1, '\x33')),
        QStringLiteral("0xA5, 0x5B, 0x20, 0x02, |0x56, 0x00, |0x02, 0x00, |0x03, 0x00, "
                       "|0x01, 0x00, |0x82, 0xCD, 0x11, 0x22, \r\n0x33, "));
}

QTEST_GUILESS_MAIN(TestCommandPacket)
#include "tst_commandpacket.moc"
