// The simulated switcher's firmware loader, frame by frame, and its serial line pacing.
#include "FirmwareFixtures.h"
#include "SimFirmware.h"
#include "SimFirmwarePacing.h"
#include "SwitcherSimulator.h"

#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(CommandPacket)

namespace {

constexpr int Silent = -1;

QByteArray dataFrame(quint8 sub, quint16 mcu, quint16 block, const QByteArray &data, bool last)
{
    QByteArray frame = CommandPacket::make(
        0x20, sub, last ? 0x0056 : 0x00AA, static_cast<quint16>(data.size()), mcu, block)
                           .toByteArray();
    frame.append(static_cast<char>(BlockChecksum(data)));
    frame.append(data);
    if (sub == 1)
        frame.append(270 - frame.size(), '\0');
    return frame;
}

} // namespace

class TestSimFirmware : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void frameLength_data();
    void frameLength();
    void slavePart();
    void blockChecks_data();
    void blockChecks();
    void versionRefused();
    void mainPartRebootsAndGoesSilent();
    void rebootCommand();
    void pacing();

private:
    // The status byte of the answer, or Silent.
    int ask(const QByteArray &frame);
    int start(quint8 sub, quint16 mcu, quint16 v1 = 1, quint16 v2 = 0);

    std::unique_ptr<SwitcherSimulator> m_sim;
    std::unique_ptr<SimFirmware> m_fw;
};

void TestSimFirmware::init()
{
    m_sim = std::make_unique<SwitcherSimulator>();
    m_fw = std::make_unique<SimFirmware>(m_sim->state());
    m_sim->addFrameHandler(m_fw.get());
}

int TestSimFirmware::ask(const QByteArray &frame)
{
    // As a session does: the frame is as long as the switcher says.
    const CommandPacket header = CommandPacket::fromBytes(frame);
    if (m_sim->frameLength(header) != frame.size())
        qFatal("frame of %d bytes, the switcher expects %d", int(frame.size()),
            int(m_sim->frameLength(header)));
    const QByteArray reply = m_sim->handleFrame(frame);
    if (reply.isEmpty())
        return Silent;
    const CommandPacket packet = CommandPacket::fromBytes(reply);
    if (reply.size() != 13 || PacketChecksum(packet) != packet.checksum()
        || !IsMatchingReply(packet, header))
        qFatal("malformed reply %s", reply.toHex(' ').constData());
    return packet.status();
}

int TestSimFirmware::start(quint8 sub, quint16 mcu, quint16 v1, quint16 v2)
{
    return ask(CommandPacket::make(0x20, sub, mcu, 0, v1, v2).toByteArray());
}

void TestSimFirmware::frameLength_data()
{
    QTest::addColumn<CommandPacket>("header");
    QTest::addColumn<int>("length");
    QTest::newRow("main start") << CommandPacket::make(0x20, 1, 1) << 13;
    QTest::newRow("main block") << CommandPacket::make(0x20, 1, 0x00AA, 256, 1, 0) << 270;
    QTest::newRow("main last block, short") << CommandPacket::make(0x20, 1, 0x0056, 3, 1, 4) << 270;
    QTest::newRow("slave block") << CommandPacket::make(0x20, 2, 0x00AA, 256, 1, 0) << 270;
    QTest::newRow("slave last block") << CommandPacket::make(0x20, 2, 0x0056, 88, 1, 2) << 102;
    QTest::newRow("slave block claiming 257")
        << CommandPacket::make(0x20, 2, 0x0056, 257, 1, 2) << 13;
    QTest::newRow("reboot") << CommandPacket::make(0x80, 2, 0x0F) << 13;
    QTest::newRow("routing is not ours") << CommandPacket::make(0x02, 3, 1, 1) << 13;
}

void TestSimFirmware::frameLength()
{
    QFETCH(CommandPacket, header);
    QFETCH(int, length);
    QCOMPARE(m_sim->frameLength(header), length);
}

void TestSimFirmware::slavePart()
{
    const QByteArray image = testImage(600);
    QCOMPARE(start(2, 3, 4, 1), 0xAA);
    QCOMPARE(ask(dataFrame(2, 3, 0, image.mid(0, 256), false)), 0x00);
    QCOMPARE(ask(dataFrame(2, 3, 1, image.mid(256, 256), false)), 0x00);
    // The answer to block 1 was lost: it comes again and is taken once.
    QCOMPARE(ask(dataFrame(2, 3, 1, image.mid(256, 256), false)), 0x00);
    QCOMPARE(ask(dataFrame(2, 3, 2, image.mid(512), true)), 0x00);

    const SimFirmware::Part *part = m_fw->part(2, 3);
    QVERIFY(part);
    QVERIFY(part->complete);
    QCOMPARE(part->image, image);
    QCOMPARE(part->blocks, 3);
    QCOMPARE(part->version1, 4);
    QCOMPARE(part->version2, 1);
    QVERIFY(!m_fw->rebooting()); // only the main MCU restarts
    QCOMPARE(ask(CommandPacket::make(0x01, 0x01).toByteArray()), 2);
    // The main MCU's steps belong to a main part.
    QCOMPARE(ask(CommandPacket::make(0x20, 1, 0x0080).toByteArray()), 0xFF);
}

void TestSimFirmware::blockChecks_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("status");
    const QByteArray data = testImage(256);
    QByteArray badSum = dataFrame(2, 1, 1, data, false);
    badSum[13] = static_cast<char>(badSum[13] + 1);
    QByteArray badData = dataFrame(2, 1, 1, data, false);
    badData[100] = static_cast<char>(badData[100] ^ 0x40);

    QTest::newRow("next block") << dataFrame(2, 1, 1, data, false) << 0x00;
    QTest::newRow("data checksum wrong") << badSum << 0xFF;
    QTest::newRow("data damaged") << badData << 0xFF;
    QTest::newRow("block skipped") << dataFrame(2, 1, 2, data, false) << 0xFF;
    QTest::newRow("other MCU") << dataFrame(2, 2, 1, data, false) << 0xFF;
    QTest::newRow("main frame for a slave part") << dataFrame(1, 1, 1, data, false) << 0xFF;
}

void TestSimFirmware::blockChecks()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, status);
    // No part started: every block is refused.
    QCOMPARE(ask(dataFrame(2, 1, 0, testImage(256, 9), false)), 0xFF);
    QCOMPARE(start(2, 1), 0xAA);
    QCOMPARE(ask(dataFrame(2, 1, 0, testImage(256, 9), false)), 0x00);

    QCOMPARE(ask(frame), status);
    QCOMPARE(m_fw->part(2, 1)->image.size(), status == 0x00 ? 512 : 256);
    QCOMPARE(m_fw->part(2, 1)->complete, false);
}

void TestSimFirmware::versionRefused()
{
    m_fw->setMinimumVersion(3, 0);
    QCOMPARE(start(2, 1, 2, 255), 0x44);
    QCOMPARE(start(1, 1, 2, 9), 0x44);
    QVERIFY(m_fw->parts().isEmpty());
    QCOMPARE(ask(dataFrame(2, 1, 0, testImage(4), true)), 0xFF); // nothing was started
    QCOMPARE(start(2, 1, 3, 0), 0xAA);
    QCOMPARE(start(2, 4, 9, 9), 0xFF); // there is no slave MCU 4
}

void TestSimFirmware::mainPartRebootsAndGoesSilent()
{
    m_fw->setRebootMs(3'600'000);
    const QByteArray image = testImage(300);
    QCOMPARE(start(1, 1, 7, 1), 0xAA);
    QCOMPARE(ask(CommandPacket::make(0x20, 1, 0x0080).toByteArray()), 0x00);
    QCOMPARE(ask(CommandPacket::make(0x20, 1, 0x0010).toByteArray()), 0x00);
    QCOMPARE(ask(dataFrame(1, 1, 0, image.left(256), false)), 0x00);
    QCOMPARE(ask(CommandPacket::make(0x20, 1, 0x0080).toByteArray()), 0xFF); // too late
    QCOMPARE(ask(dataFrame(1, 1, 1, image.mid(256), true)), 0x00);

    QCOMPARE(m_fw->part(1, 1)->image, image);
    QVERIFY(m_fw->rebooting());
    QCOMPARE(m_sim->state().reboots, 1);
    QCOMPARE(m_sim->state().versionMajor, 7);
    QCOMPARE(m_sim->state().versionMinor, 1);
    // Deaf to everything, whichever part of the switcher it is for.
    QCOMPARE(ask(CommandPacket::make(0x01, 0x01).toByteArray()), Silent);
    QCOMPARE(ask(CommandPacket::make(0x02, 0x03, 1, 1).toByteArray()), Silent);
    QCOMPARE(ask(dataFrame(2, 1, 0, testImage(5), true)), Silent);

    m_fw->setRebootMs(0); // the reboot is over
    QCOMPARE(ask(CommandPacket::make(0x01, 0x01).toByteArray()), 2);
}

void TestSimFirmware::rebootCommand()
{
    m_fw->setRebootMs(3'600'000);
    QCOMPARE(ask(CommandPacket::make(0x80, 0x02, 0x0000).toByteArray()), 0xFF);
    QVERIFY(!m_fw->rebooting());
    QCOMPARE(ask(CommandPacket::make(0x80, 0x02, 0x000F).toByteArray()), 0x00);
    QVERIFY(m_fw->rebooting());
    QCOMPARE(m_sim->state().reboots, 1);
    QCOMPARE(ask(CommandPacket::make(0x80, 0x02, 0x000F).toByteArray()), Silent);
}

void TestSimFirmware::pacing()
{
    // Without a rate everything passes at once, in order.
    SimLinePacer direct(0);
    QSignalSpy directSent(&direct, &SimLinePacer::send);
    direct.transmit("a");
    direct.transmit("b");
    QCOMPARE(directSent.size(), 2);
    QCOMPARE(directSent[1][0].toByteArray(), QByteArray("b"));

    SimLinePacer line(57600);
    QCOMPARE(line.wireNs(13), 2'256'944); // 130 bits at 57600 baud
    QCOMPARE(line.wireNs(270), 46'875'000);
    QSignalSpy received(&line, &SimLinePacer::received);
    QSignalSpy sent(&line, &SimLinePacer::send);
    QSignalSpy hungUp(&line, &SimLinePacer::hangUp);
    line.receive(QByteArray(270, 'x'));
    QCOMPARE(received.size(), 1); // the device sees its input at once
    line.transmit("reply 1");
    line.transmit("reply 2");
    line.transmitHangUp();
    line.transmit("lost with the line");
    QCOMPARE(sent.size(), 0); // the request is still "on the wire"
    QTRY_COMPARE(hungUp.size(), 1);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent[0][0].toByteArray(), QByteArray("reply 1"));
    QCOMPARE(sent[1][0].toByteArray(), QByteArray("reply 2"));
}

QTEST_GUILESS_MAIN(TestSimFirmware)
#include "tst_simfirmware.moc"
