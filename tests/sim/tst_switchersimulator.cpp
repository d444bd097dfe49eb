#include "SwitcherSimulator.h"

#include <QTest>

namespace {

enum Fixture {
    Fresh,
    Off, // in standby
    Unplugged, // no source on input 4, no display on output 3
    Changed, // every panel switch flipped, output 2 showing input 5
    Small, // a 4x4 model
};

void setUp(SwitcherSimulator &sim, Fixture fixture)
{
    SwitcherState &s = sim.state();
    switch (fixture) {
    case Fresh:
        break;
    case Off:
        s.powerOn = false;
        break;
    case Unplugged:
        s.inputConnected[3] = false;
        s.outputConnected[2] = false;
        break;
    case Changed:
        s.apm = true;
        s.beeper = false;
        s.keysUnlocked = false;
        s.irEnabled = false;
        s.routes[1] = 5;
        break;
    case Small:
        s.modelNumber = 1;
        s.inputs = s.outputs = 4;
        break;
    }
}

QByteArray request(quint8 command, quint8 subcommand, quint16 word1 = 0, quint16 word2 = 0,
    quint16 word3 = 0, quint16 word4 = 0)
{
    return CommandPacket::make(command, subcommand, word1, word2, word3, word4).toByteArray();
}

QByteArray power(quint8 subcommand, quint16 word1)
{
    return request(0x10, subcommand, word1, 0, 0xD22D, 0x2ED3);
}

QByteArray ask(SwitcherSimulator &sim, const QByteArray &bytes)
{
    return sim.handle(CommandPacket::fromBytes(bytes));
}

constexpr int Silent = -1;
constexpr quint8 Ok = 0x00;
constexpr quint8 Refused = 0xFF;

} // namespace

class tst_SwitcherSimulator : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void replies_data();
    void replies();
    void replyLayout();
    void commandsChangeState_data();
    void commandsChangeState();
    void edidSources_data();
    void edidSources();
    void rebootIsCounted();
};

void tst_SwitcherSimulator::replies_data()
{
    QTest::addColumn<int>("fixture");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status"); // byte 4, or Silent
    QTest::addColumn<int>("answer"); // byte 6

    const auto row
        = [](const char *name, Fixture f, const QByteArray &r, int status, int answer = 0) {
              QTest::newRow(name) << int(f) << r << status << answer;
          };

    // Identity and connections
    row("model", Fresh, request(0x01, 0x01, 0x00FE), 2);
    row("model, back after reboot", Fresh, request(0x01, 0x01, 0), 2);
    row("model while off", Off, request(0x01, 0x01, 0x00FE), 2);
    row("model of a 4x4", Small, request(0x01, 0x01, 0x00FE), 1);
    row("size", Fresh, request(0x01, 0x02, 0x00FE), 6, 6);
    row("size of a 4x4", Small, request(0x01, 0x02, 0x00FE), 4, 4);
    row("version", Fresh, request(0x01, 0x03, 0x00FE), 6, 50);
    row("input connected", Fresh, request(0x01, 0x04, 1), Ok, 0x00);
    row("input unplugged", Unplugged, request(0x01, 0x04, 4), Ok, 0xFF);
    row("input 7", Fresh, request(0x01, 0x04, 7), Refused);
    row("output connected", Fresh, request(0x01, 0x05, 6), Ok, 0x00);
    row("output unplugged", Unplugged, request(0x01, 0x05, 3), Ok, 0xFF);
    row("output 0", Fresh, request(0x01, 0x05, 0), Refused);
    row("output state while off", Off, request(0x01, 0x05, 1), Ok, 0x00);

    // Panel switches: queries answer 0xFF for on/enabled/unlocked
    row("APM default", Fresh, request(0x01, 0x0A, 0x00FE), Ok, 0x00);
    row("APM on", Changed, request(0x01, 0x0A, 0x00FE), Ok, 0xFF);
    row("beeper default", Fresh, request(0x01, 0x0C, 0x00FE), Ok, 0xFF);
    row("beeper off", Changed, request(0x01, 0x0C, 0x00FE), Ok, 0x00);
    row("keys default", Fresh, request(0x01, 0x0E, 0x00FE), Ok, 0xFF);
    row("keys locked", Changed, request(0x01, 0x0E, 0x00FE), Ok, 0x00);
    row("IR default", Fresh, request(0x04, 0x04, 0x00FE), Ok, 0xFF);
    row("IR off", Changed, request(0x04, 0x04, 0x00FE), Ok, 0x00);
    row("set APM", Fresh, request(0x01, 0x0B, 0x000F), Ok);
    row("set beeper", Fresh, request(0x01, 0x0D, 0x00F0), Ok);
    row("set keys", Fresh, request(0x01, 0x0F, 0x00F0), Ok);
    row("set IR", Fresh, request(0x04, 0x03, 0x000F), Ok);
    row("set APM, bad word", Fresh, request(0x01, 0x0B, 0x0001), Refused);
    row("set IR, bad word", Fresh, request(0x04, 0x03, 0x0F0F), Refused);
    row("beeper query while off", Off, request(0x01, 0x0C, 0x00FE), Refused);
    row("set IR while off", Off, request(0x04, 0x03, 0x000F), Refused);

    // Routing
    row("route of output 2", Fresh, request(0x02, 0x01, 2), Ok, 2);
    row("route of output 2, changed", Changed, request(0x02, 0x01, 2), Ok, 5);
    row("route of output 7", Fresh, request(0x02, 0x01, 7), Refused);
    row("route 3 to 2", Fresh, request(0x02, 0x03, 3, 2), Ok);
    row("route 6 to 6", Fresh, request(0x02, 0x03, 6, 6), Ok);
    row("route input 7", Fresh, request(0x02, 0x03, 7, 2), Refused);
    row("route to output 8", Fresh, request(0x02, 0x03, 3, 8), Refused);
    row("route input 0", Fresh, request(0x02, 0x03, 0, 1), Refused);
    row("route input 5 on a 4x4", Small, request(0x02, 0x03, 5, 1), Refused);
    row("route while off", Off, request(0x02, 0x03, 3, 2), Refused);
    row("route query while off", Off, request(0x02, 0x01, 1), Refused);

    // EDID
    row("mode 1 to all", Fresh, request(0x03, 0x01, 0xF001), Ok);
    row("mode 15 to all", Fresh, request(0x03, 0x01, 0xF00F), Ok);
    row("default mode to all", Fresh, request(0x03, 0x01, 0xF012), Ok);
    row("user 1 to all", Fresh, request(0x03, 0x01, 0xF100), Ok);
    row("user 2 to all", Fresh, request(0x03, 0x01, 0xF200), Ok);
    row("mode 0xF010", Fresh, request(0x03, 0x01, 0xF010), Refused);
    row("mode 0xF300", Fresh, request(0x03, 0x01, 0xF300), Refused);
    row("mode without 0xF0", Fresh, request(0x03, 0x01, 0x0004), Refused);
    row("mode to input 3", Fresh, request(0x03, 0x02, 0xF004, 3), Ok);
    row("mode to input 7", Fresh, request(0x03, 0x02, 0xF004, 7), Refused);
    row("mode while off", Off, request(0x03, 0x01, 0xF001), Refused);
    row("copy output 2 to all", Fresh, request(0x03, 0x03, 2), Ok);
    row("copy from output without display", Unplugged, request(0x03, 0x03, 3), Refused);
    row("copy from output 7", Fresh, request(0x03, 0x03, 7), Refused);
    row("copy output 2 to input 5", Fresh, request(0x03, 0x04, 2, 5), Ok);
    row("copy to input 0", Fresh, request(0x03, 0x04, 2, 0), Refused);
    row("read output 2", Fresh, request(0x03, 0x05, 0xF002), Ok);
    row("read output without display", Unplugged, request(0x03, 0x05, 0xF003), Refused);
    row("read without 0xF000", Fresh, request(0x03, 0x05, 0x0002), Refused);
    row("read output 7", Fresh, request(0x03, 0x05, 0xF007), Refused);
    row("download to all", Fresh, request(0x03, 0x06, 0xF0FE), 0xAA);
    row("download to all, bad word", Fresh, request(0x03, 0x06, 0xF001), Refused);
    row("download to input 6", Fresh, request(0x03, 0x07, 0xF006), 0xAA);
    row("download to user 1", Fresh, request(0x03, 0x07, 0xF100), 0xAA);
    row("download to user 2", Fresh, request(0x03, 0x07, 0xF200), 0xAA);
    row("download to input 7", Fresh, request(0x03, 0x07, 0xF007), Refused);
    row("download to user 3", Fresh, request(0x03, 0x07, 0xF300), Refused);
    row("download while off", Off, request(0x03, 0x06, 0xF0FE), Refused);
    row("prepare", Fresh, request(0x03, 0x08, 0x00F0), Ok);
    row("prepare, bad word", Fresh, request(0x03, 0x08, 0), Refused);
    row("default EDID on all", Fresh, request(0x03, 0x09, 0x00FE), Ok);
    row("default EDID on input 6", Fresh, request(0x03, 0x0A, 6), Ok);
    row("default EDID on input 7", Fresh, request(0x03, 0x0A, 7), Refused);

    // Power: words 3 and 4 are a key
    row("power query", Fresh, power(0x01, 0x00FE), Ok, 0xFF);
    row("power query while off", Off, power(0x01, 0x00FE), Ok, 0x00);
    row("power query without key", Fresh, request(0x10, 0x01, 0x00FE), Refused);
    row("power query, word4 wrong", Fresh, request(0x10, 0x01, 0x00FE, 0, 0xD22D, 0xD32E), Refused);
    row("power on while off", Off, power(0x02, 0x000F), Ok);
    row("power off", Fresh, power(0x02, 0x00F0), Ok);
    row("power, bad word", Fresh, power(0x02, 0x00FF), Refused);
    row("power off without key", Fresh, request(0x10, 0x02, 0x00F0), Refused);

    // Firmware and reboot
    row("main MCU part", Fresh, request(0x20, 0x01, 1, 0, 3, 7), 0x44);
    row("main MCU part while off", Off, request(0x20, 0x01, 1, 0, 3, 7), 0x44);
    row("main MCU step 0x80", Fresh, request(0x20, 0x01, 0x0080), Ok);
    row("main MCU step 0x10", Fresh, request(0x20, 0x01, 0x0010), Ok);
    row("main MCU, bad word", Fresh, request(0x20, 0x01, 5), Refused);
    row("slave MCU 3 part", Fresh, request(0x20, 0x02, 3, 0, 1, 2), 0x44);
    row("slave MCU 4", Fresh, request(0x20, 0x02, 4), Refused);
    row("reboot", Fresh, request(0x80, 0x02, 0x000F), Ok);
    row("reboot while off", Off, request(0x80, 0x02, 0x000F), Ok);
    row("reboot, bad word", Fresh, request(0x80, 0x02, 0), Refused);

    // Unknown commands
    row("unknown subcommand", Fresh, request(0x01, 0x06, 0x00FE), Refused);
    row("unknown command", Fresh, request(0x05, 0x01), Refused);
    row("all zero command", Fresh, request(0x00, 0x00), Refused);

    // Damaged requests get no reply at all
    QByteArray badChecksum = request(0x01, 0x01, 0x00FE);
    badChecksum[12] = char(badChecksum[12] + 1);
    row("bad checksum", Fresh, badChecksum, Silent);
    QByteArray badLead = request(0x01, 0x01, 0x00FE);
    badLead[0] = char(0xA4);
    badLead[12] = char(badLead[12] + 1); // sum still zero: only the lead is wrong
    row("bad lead byte", Fresh, badLead, Silent);
}

void tst_SwitcherSimulator::replies()
{
    QFETCH(int, fixture);
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(int, answer);

    SwitcherSimulator sim;
    setUp(sim, Fixture(fixture));
    const QByteArray reply = ask(sim, request);
    if (status == Silent) {
        QVERIFY(reply.isEmpty());
        return;
    }
    QCOMPARE(reply.size(), CommandPacket::Size);
    QCOMPARE(quint8(reply[0]), 0xA5);
    QCOMPARE(quint8(reply[1]), 0x5B);
    QCOMPARE(reply[2], request[2]);
    QCOMPARE(reply[3], request[3]);
    QCOMPARE(quint8(reply[4]), quint8(status));
    QCOMPARE(quint8(reply[6]), quint8(answer));
    int sum = 0;
    for (char c : reply)
        sum += quint8(c);
    QCOMPARE(sum % 256, 0);
}

// The whole reply, byte for byte: unused bytes are zero and the checksum closes the sum.
void tst_SwitcherSimulator::replyLayout()
{
    SwitcherSimulator sim;
    QCOMPARE(ask(sim, request(0x01, 0x02, 0x00FE)).toHex(' '),
        QByteArray("a5 5b 01 02 06 00 06 00 00 00 00 00 f1"));
    QCOMPARE(ask(sim, request(0x02, 0x03, 7, 2, 0x1234, 0x5678)).toHex(' '),
        QByteArray("a5 5b 02 03 ff 00 00 00 00 00 00 00 fc"));
    QCOMPARE(ask(sim, power(0x01, 0x00FE)).toHex(' '),
        QByteArray("a5 5b 10 01 00 00 ff 00 00 00 00 00 f0"));
}

void tst_SwitcherSimulator::commandsChangeState_data()
{
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<int>("answer");

    const QByteArray routeOf2 = request(0x02, 0x01, 2);
    QTest::newRow("route") << QByteArrayList{request(0x02, 0x03, 3, 2)} << routeOf2 << 3;
    QTest::newRow("refused route keeps the old one")
        << QByteArrayList{request(0x02, 0x03, 3, 2), request(0x02, 0x03, 7, 2)} << routeOf2 << 3;
    QTest::newRow("route to output 8 leaves output 2")
        << QByteArrayList{request(0x02, 0x03, 3, 8)} << routeOf2 << 2;
    QTest::newRow("APM on") << QByteArrayList{request(0x01, 0x0B, 0x000F)}
                            << request(0x01, 0x0A, 0x00FE) << 0xFF;
    QTest::newRow("beeper off") << QByteArrayList{request(0x01, 0x0D, 0x00F0)}
                                << request(0x01, 0x0C, 0x00FE) << 0x00;
    QTest::newRow("keys locked") << QByteArrayList{request(0x01, 0x0F, 0x00F0)}
                                 << request(0x01, 0x0E, 0x00FE) << 0x00;
    QTest::newRow("keys unlocked again")
        << QByteArrayList{request(0x01, 0x0F, 0x00F0), request(0x01, 0x0F, 0x000F)}
        << request(0x01, 0x0E, 0x00FE) << 0xFF;
    QTest::newRow("IR off") << QByteArrayList{request(0x04, 0x03, 0x00F0)}
                            << request(0x04, 0x04, 0x00FE) << 0x00;
    QTest::newRow("bad switch word changes nothing")
        << QByteArrayList{request(0x01, 0x0D, 0x0000)} << request(0x01, 0x0C, 0x00FE) << 0xFF;
    QTest::newRow("power off") << QByteArrayList{power(0x02, 0x00F0)} << power(0x01, 0x00FE)
                               << 0x00;
    QTest::newRow("power off without key stays on")
        << QByteArrayList{request(0x10, 0x02, 0x00F0)} << power(0x01, 0x00FE) << 0xFF;
    QTest::newRow("routes survive standby")
        << QByteArrayList{request(0x02, 0x03, 5, 2), power(0x02, 0x00F0), power(0x02, 0x000F)}
        << routeOf2 << 5;
    QTest::newRow("route refused in standby")
        << QByteArrayList{power(0x02, 0x00F0), request(0x02, 0x03, 5, 2), power(0x02, 0x000F)}
        << routeOf2 << 2;
}

void tst_SwitcherSimulator::commandsChangeState()
{
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArray, query);
    QFETCH(int, answer);

    SwitcherSimulator sim;
    for (const QByteArray &command : commands)
        QVERIFY(!ask(sim, command).isEmpty());
    const QByteArray reply = ask(sim, query);
    QCOMPARE(reply.size(), CommandPacket::Size);
    QCOMPARE(quint8(reply[4]), Ok);
    QCOMPARE(quint8(reply[6]), quint8(answer));
}

using Sources = std::array<quint16, 6>;
Q_DECLARE_METATYPE(Sources)

void tst_SwitcherSimulator::edidSources_data()
{
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<Sources>("expected");

    constexpr quint16 D = SwitcherState::EdidDefault;
    constexpr quint16 Copy2 = SwitcherState::EdidCopiedFromOutput + 2;
    const QByteArray all4 = request(0x03, 0x01, 0xF004);
    QTest::newRow("fresh") << QByteArrayList{} << Sources{D, D, D, D, D, D};
    QTest::newRow("mode to all") << QByteArrayList{all4}
                                 << Sources{0xF004, 0xF004, 0xF004, 0xF004, 0xF004, 0xF004};
    QTest::newRow("user 2 to input 3")
        << QByteArrayList{request(0x03, 0x02, 0xF200, 3)} << Sources{D, D, 0xF200, D, D, D};
    QTest::newRow("copy to all") << QByteArrayList{request(0x03, 0x03, 2)}
                                 << Sources{Copy2, Copy2, Copy2, Copy2, Copy2, Copy2};
    QTest::newRow("copy to input 5")
        << QByteArrayList{request(0x03, 0x04, 2, 5)} << Sources{D, D, D, D, Copy2, D};
    QTest::newRow("default on all")
        << QByteArrayList{all4, request(0x03, 0x09, 0x00FE)} << Sources{D, D, D, D, D, D};
    QTest::newRow("default on input 2") << QByteArrayList{all4, request(0x03, 0x0A, 2)}
                                        << Sources{0xF004, D, 0xF004, 0xF004, 0xF004, 0xF004};
    QTest::newRow("refused mode changes nothing") << QByteArrayList{request(0x03, 0x01, 0xF011),
        request(0x03, 0x02, 0xF001, 7)} << Sources{D, D, D, D, D, D};
}

void tst_SwitcherSimulator::edidSources()
{
    QFETCH(QByteArrayList, commands);
    QFETCH(Sources, expected);

    SwitcherSimulator sim;
    for (const QByteArray &command : commands)
        ask(sim, command);
    QCOMPARE(sim.state().edidMode, expected);
}

void tst_SwitcherSimulator::rebootIsCounted()
{
    SwitcherSimulator sim;
    ask(sim, request(0x80, 0x02, 0x000F));
    ask(sim, request(0x80, 0x02, 0x0000)); // refused
    ask(sim, request(0x80, 0x02, 0x000F));
    QCOMPARE(sim.state().reboots, 2);
}

QTEST_GUILESS_MAIN(tst_SwitcherSimulator)
#include "tst_switchersimulator.moc"
