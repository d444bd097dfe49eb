#include "SimFaults.h"
#include "SimSession.h"
#include "SwitcherSimulator.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray request(quint8 command, quint8 subcommand, quint16 word1 = 0, quint16 word2 = 0)
{
    return CommandPacket::make(command, subcommand, word1, word2).toByteArray();
}

// Three queries with different answers; none changes the device.
const QByteArray A = request(0x01, 0x02, 0x00FE);
const QByteArray B = request(0x02, 0x01, 3);
const QByteArray C = request(0x01, 0x03, 0x00FE);

QByteArray cleanReply(const QByteArray &req)
{
    SwitcherSimulator fresh;
    return fresh.handle(CommandPacket::fromBytes(req));
}

QByteArray withBadChecksum(QByteArray packet)
{
    packet[12] = char(packet[12] ^ 0x01);
    return packet;
}

bool checksumOk(const QByteArray &reply)
{
    const CommandPacket p = CommandPacket::fromBytes(reply);
    return PacketChecksum(p) == p.checksum();
}

QByteArray joined(const QSignalSpy &spy)
{
    QByteArray all;
    for (const QList<QVariant> &args : spy)
        all += args.at(0).toByteArray();
    return all;
}

struct Session
{
    SwitcherSimulator sim;
    SimFaults faults;
    SimSession session{sim, faults};
    QSignalSpy sent{&session, &SimSession::send};
    QSignalSpy handled{&session, &SimSession::requestHandled};
    QSignalSpy hungUp{&session, &SimSession::hangUp};
};

// What became of one reply.
enum Outcome { Good, Silent, BadChecksum, WrongEcho, Refused, Declined, HangUp };

} // namespace

Q_DECLARE_METATYPE(SimFaults)
using Outcomes = QList<int>;

class tst_SimSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void framing_data();
    void framing();
    void faults_data();
    void faults();
    void damagedRequestUsesNoFault();
    void hangUpDropsPendingInput();
    void splitReplies_data();
    void splitReplies();
    void delayedRepliesKeepOrder();
};

void tst_SimSession::framing_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<int>("pending");

    const QByteArray noise("\x00\xFF\x13\x5B", 4);
    QByteArrayList bytewise;
    for (char c : A)
        bytewise << QByteArray(1, c);

    QTest::newRow("whole") << QByteArrayList{A} << QByteArrayList{A} << 0;
    QTest::newRow("byte by byte") << bytewise << QByteArrayList{A} << 0;
    QTest::newRow("two in one piece") << QByteArrayList{A + B} << QByteArrayList{A, B} << 0;
    QTest::newRow("second across pieces")
        << QByteArrayList{A + B.left(5), B.mid(5)} << QByteArrayList{A, B} << 0;
    QTest::newRow("partial second waits")
        << QByteArrayList{A + B.left(5)} << QByteArrayList{A} << 5;
    QTest::newRow("noise before") << QByteArrayList{noise + A} << QByteArrayList{A} << 0;
    QTest::newRow("noise after") << QByteArrayList{A + noise} << QByteArrayList{A} << 0;
    QTest::newRow("lone 0xA5 in noise")
        << QByteArrayList{QByteArray("\xA5\x00\xA5", 3) + A} << QByteArrayList{A} << 0;
    QTest::newRow("lead split across pieces")
        << QByteArrayList{noise + A.left(1), A.mid(1)} << QByteArrayList{A} << 0;
    QTest::newRow("false lead in noise")
        << QByteArrayList{QByteArray("\xA5\x5B\x01", 3) + A} << QByteArrayList{A} << 0;
    QTest::newRow("damaged request, then a good one")
        << QByteArrayList{withBadChecksum(A) + B} << QByteArrayList{B} << 0;
    QTest::newRow("truncated request, then a good one")
        << QByteArrayList{A.left(6) + B} << QByteArrayList{B} << 0;
    QTest::newRow("noise only is not kept")
        << QByteArrayList{QByteArray(300, '\x11'), QByteArray(300, '\x5B')} << QByteArrayList{}
        << 0;
    QTest::newRow("a trailing 0xA5 is kept")
        << QByteArrayList{QByteArray(20, '\x11') + '\xA5'} << QByteArrayList{} << 1;
}

void tst_SimSession::framing()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArrayList, requests);
    QFETCH(int, pending);

    Session s;
    for (const QByteArray &piece : pieces)
        s.session.receive(piece);

    QByteArrayList seen;
    QByteArray expectedReplies;
    for (const QList<QVariant> &args : s.handled)
        seen << args.at(0).toByteArray();
    for (const QByteArray &r : requests)
        expectedReplies += cleanReply(r);
    QCOMPARE(seen, requests);
    QCOMPARE(joined(s.sent), expectedReplies);
    QCOMPARE(s.session.pendingInput(), qsizetype(pending));
}

void tst_SimSession::faults_data()
{
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<Outcomes>("outcomes"); // for requests A, B, C in turn
    QTest::addColumn<SimFaults>("after");

    const auto f = [](auto set) {
        SimFaults faults;
        set(faults);
        return faults;
    };
    const SimFaults none;

    QTest::newRow("none") << none << Outcomes{Good, Good, Good} << none;
    QTest::newRow("drop 2") << f([](SimFaults &x) { x.dropReplies = 2; })
                            << Outcomes{Silent, Silent, Good} << none;
    QTest::newRow("corrupt checksum 1") << f([](SimFaults &x) { x.corruptChecksum = 1; })
                                        << Outcomes{BadChecksum, Good, Good} << none;
    QTest::newRow("wrong echo 1") << f([](SimFaults &x) { x.wrongEcho = 1; })
                                  << Outcomes{WrongEcho, Good, Good} << none;
    QTest::newRow("refuse 2") << f([](SimFaults &x) { x.refuseStatus = 2; })
                              << Outcomes{Refused, Refused, Good} << none;
    QTest::newRow("refuse 0x44 1")
        << f([](SimFaults &x) { x.refuse44 = 1; }) << Outcomes{Declined, Good, Good} << none;
    // A dropped reply is not there to be spoilt: the refusal goes to the next one.
    QTest::newRow("drop, then refuse") << f([](SimFaults &x) {
        x.dropReplies = 1;
        x.refuseStatus = 1;
    }) << Outcomes{Silent, Refused, Good}
                                       << none;
    QTest::newRow("hang up at the 2nd reply") << f([](SimFaults &x) { x.dropConnectionAfter = 2; })
                                              << Outcomes{Good, HangUp, Good} << none;
    QTest::newRow("hang up at the next reply") << f([](SimFaults &x) { x.dropConnectionAfter = 1; })
                                               << Outcomes{HangUp, Good, Good} << none;
    const SimFaults extra = f([](SimFaults &x) { x.extraBytes = 3; });
    QTest::newRow("extra bytes stay") << extra << Outcomes{Good, Good, Good} << extra;
}

void tst_SimSession::faults()
{
    QFETCH(SimFaults, faults);
    QFETCH(Outcomes, outcomes);
    QFETCH(SimFaults, after);

    Session s;
    s.faults = faults;
    const QByteArrayList requests{A, B, C};
    for (int i = 0; i < requests.size(); ++i) {
        s.sent.clear();
        s.hungUp.clear();
        s.session.receive(requests[i]);
        const QByteArray clean = cleanReply(requests[i]);
        const int outcome = outcomes[i];
        QCOMPARE(s.hungUp.count(), outcome == HangUp ? 1 : 0);
        if (outcome == Silent || outcome == HangUp) {
            QCOMPARE(s.sent.count(), 0);
            continue;
        }
        QCOMPARE(s.sent.count(), 1);
        const QByteArray whole = s.sent.at(0).at(0).toByteArray();
        QCOMPARE(whole.size(), CommandPacket::Size + faults.extraBytes);
        QVERIFY(!whole.mid(CommandPacket::Size).contains('\xA5'));
        QByteArray reply = whole.left(CommandPacket::Size);
        switch (outcome) {
        case Good:
            QCOMPARE(reply, clean);
            break;
        case BadChecksum:
            QVERIFY(!checksumOk(reply));
            QCOMPARE(reply.left(12), clean.left(12));
            break;
        case WrongEcho:
            QVERIFY(checksumOk(reply));
            QCOMPARE(reply[2], clean[2]);
            QVERIFY(reply[3] != clean[3]);
            break;
        case Refused:
        case Declined:
            QVERIFY(checksumOk(reply));
            QCOMPARE(reply.left(4), clean.left(4));
            QCOMPARE(quint8(reply[4]), outcome == Refused ? 0xFF : 0x44);
            break;
        }
    }
    QCOMPARE(s.faults.dropReplies, after.dropReplies);
    QCOMPARE(s.faults.corruptChecksum, after.corruptChecksum);
    QCOMPARE(s.faults.wrongEcho, after.wrongEcho);
    QCOMPARE(s.faults.refuseStatus, after.refuseStatus);
    QCOMPARE(s.faults.refuse44, after.refuse44);
    QCOMPARE(s.faults.dropConnectionAfter, after.dropConnectionAfter);
    QCOMPARE(s.faults.extraBytes, after.extraBytes);
}

// The controller's retry of a request the device never understood must meet the fault.
void tst_SimSession::damagedRequestUsesNoFault()
{
    Session s;
    s.faults.dropReplies = 1;
    s.session.receive(withBadChecksum(A));
    QCOMPARE(s.faults.dropReplies, 1);
    s.session.receive(A);
    s.session.receive(B);
    QCOMPARE(joined(s.sent), cleanReply(B));
}

void tst_SimSession::hangUpDropsPendingInput()
{
    Session s;
    s.faults.dropConnectionAfter = 1;
    s.session.receive(A + B + C.left(4));
    QCOMPARE(s.hungUp.count(), 1);
    QCOMPARE(s.handled.count(), 1); // what followed on the line went with the connection
    QCOMPARE(s.sent.count(), 0);
    QCOMPARE(s.session.pendingInput(), 0);
    s.session.receive(C);
    QCOMPARE(joined(s.sent), cleanReply(C));
}

void tst_SimSession::splitReplies_data()
{
    QTest::addColumn<int>("splitInto");
    QTest::addColumn<int>("extraBytes");
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<int>("pieces");

    QTest::newRow("two pieces") << 2 << 0 << QByteArrayList{A} << 2;
    QTest::newRow("byte by byte") << 13 << 0 << QByteArrayList{A} << 13;
    QTest::newRow("more pieces than bytes") << 50 << 0 << QByteArrayList{A} << 13;
    QTest::newRow("garbage split too") << 3 << 2 << QByteArrayList{A} << 3;
    QTest::newRow("pipelined requests keep order") << 3 << 0 << QByteArrayList{A, B, C} << 9;
}

void tst_SimSession::splitReplies()
{
    QFETCH(int, splitInto);
    QFETCH(int, extraBytes);
    QFETCH(QByteArrayList, requests);
    QFETCH(int, pieces);

    Session s;
    s.faults.splitInto = splitInto;
    s.faults.extraBytes = extraBytes;
    QByteArray expected;
    for (const QByteArray &r : requests) {
        s.session.receive(r);
        expected += cleanReply(r) + QByteArray(extraBytes, SimSession::GarbageByte);
    }
    QVERIFY(s.sent.count() < pieces); // the rest follows from the event loop
    QTRY_COMPARE(s.sent.count(), pieces);
    QCOMPARE(joined(s.sent), expected);
    for (const QList<QVariant> &args : s.sent)
        QVERIFY(!args.at(0).toByteArray().isEmpty());
}

void tst_SimSession::delayedRepliesKeepOrder()
{
    Session s;
    s.faults.delayMs = 60;
    QElapsedTimer clock;
    clock.start();
    s.session.receive(A + B);
    s.session.receive(C);
    QCOMPARE(s.sent.count(), 0);
    QTRY_COMPARE(s.sent.count(), 3);
    // One reply after another, each after its own delay
    QVERIFY2(clock.elapsed() >= 3 * 60, QByteArray::number(clock.elapsed()).constData());
    QCOMPARE(joined(s.sent), cleanReply(A) + cleanReply(B) + cleanReply(C));
}

QTEST_GUILESS_MAIN(tst_SimSession)
#include "tst_simsession.moc"
