#include "InProcessTransport.h"
#include "LinkStatusText.h"
#include "LinkTestAccess.h"
#include "TKVCOMControl.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// A device that answers each request with the next entry of its script: reply bytes, or an
// empty entry to stay silent.
class ScriptedDevice : public QObject
{
public:
    explicit ScriptedDevice(InProcessTransport *wire)
    {
        connect(wire, &InProcessTransport::written, this, [this, wire](const QByteArray &bytes) {
            requests.append(bytes);
            if (script.isEmpty())
                return;
            const QByteArray reply = script.takeFirst();
            if (!reply.isEmpty())
                QTimer::singleShot(0, wire, [wire, reply] { wire->deliver(reply); });
        });
    }
    QByteArrayList script;
    QByteArrayList requests;
};

QByteArray reply(quint8 cmd, quint8 sub, quint8 status, quint8 answer = 0)
{
    auto packet = CommandPacket::make(cmd, sub, status, answer);
    return packet.toByteArray();
}

QByteArray withChecksum(QByteArray bytes, quint8 checksum)
{
    bytes[12] = static_cast<char>(checksum);
    return bytes;
}

// Records the notifications a main window would act on, and counts the traces and dumps
// apart, which it asks for.
struct NoticeLog
{
    explicit NoticeLog(TKVCOMControl &link)
    {
        link.setDiagnosticsWanted(true);
        QObject::connect(&link, &TKVCOMControl::notification, &link, [this](const LinkNotice &n) {
            if (n.code != LinkMessage::Trace && n.code != LinkMessage::ReceiveDump
                && n.code != LinkMessage::DataReceived)
                codes.append(static_cast<int>(n.code));
            else
                ++chatter;
        });
    }
    QList<int> codes;
    int chatter = 0;
};

// The late-reply cases race a reply timer against the link's deadline: a wider grace keeps
// the late reply well after the deadline and well inside the drain, however busy the machine.
Timing lateReplyTiming()
{
    Timing t = Timing::fast();
    t.drainGraceMs = 200;
    return t;
}

} // namespace

class TestTransaction : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void transaction_data();
    void transaction();
    void lateReplyIsNeverTakenForALaterOne_data();
    void lateReplyIsNeverTakenForALaterOne();
    void barrier_data();
    void barrier();
    void requestIsRebuilt();
    void diagnosticsOnlyWhenAsked();
    void replyInPiecesAndSurplusBytes();
    void transportBreaksDuringWait();
    void notConnected();
    void stopBeforeStart();
    void stopWhileWaiting();
    void connectWhileConnected();
    void connectFailureReportsOpenClose();
    void statusTexts_data();
    void statusTexts();
    void frameStorage_data();
    void frameStorage();
    void controlModeClearsBusyFlags();

private:
    TKVCOMControl *m_link = nullptr;
    InProcessTransport *m_wire = nullptr;
    ScriptedDevice *m_device = nullptr;
};

void TestTransaction::init()
{
    m_link = new TKVCOMControl;
    m_link->setTiming(Timing::fast());
    auto wire = std::make_unique<InProcessTransport>();
    m_wire = wire.get();
    m_link->setTransport(cmLAN, std::move(wire));
    m_device = new ScriptedDevice(m_wire);
    m_link->setDeviceIP(QStringLiteral("127.0.0.1"));
    QVERIFY(m_link->Connect());
}

void TestTransaction::cleanup()
{
    delete m_device;
    delete m_link;
}

void TestTransaction::transaction_data()
{
    QTest::addColumn<QByteArrayList>("script");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QList<int>>("notices");
    QTest::addColumn<int>("attempts");

    const QByteArray good = reply(0x02, 0x03, 0x00, 3);
    const QByteArray refused = reply(0x02, 0x03, 0xFF, 3);
    const QByteArray silent;
    const QList<int> none;

    QTest::newRow("good reply") << QByteArrayList{good} << true << none << 1;
    QTest::newRow("status 0xFF is never accepted")
        << QByteArrayList(5, refused) << false << QList<int>{2037} << 5;
    QTest::newRow("wrong echo is retried")
        << QByteArrayList{reply(0x02, 0x01, 0x00), good} << true << none << 2;
    QTest::newRow("bad checksum is retried")
        << QByteArrayList{withChecksum(good, 0x11), good} << true << none << 2;
    QTest::newRow("four time-outs then a good reply")
        << QByteArrayList{silent, silent, silent, silent, good} << true << none << 5;
    QTest::newRow("five time-outs") << QByteArrayList(5, silent) << false << QList<int>{2026} << 5;
    QTest::newRow("bad replies then a time-out")
        << QByteArrayList{refused, refused, refused, refused, silent} << false << QList<int>{2026}
        << 5;
    QTest::newRow("time-outs then a bad fifth reply") << QByteArrayList{silent, silent, silent,
        silent, refused} << false << QList<int>{2037} << 5;
    // Bytes without the lead are line noise, not a reply: each attempt times out.
    QTest::newRow("garbage reply")
        << QByteArrayList(5, QByteArray(13, 'x')) << false << QList<int>{2026} << 5;
}

void TestTransaction::transaction()
{
    QFETCH(QByteArrayList, script);
    QFETCH(bool, success);
    QFETCH(QList<int>, notices);
    QFETCH(int, attempts);

    m_device->script = script;
    const QByteArray last = script.last();
    NoticeLog log(*m_link);
    CommandResult result;
    m_link->ExecuteCommand(CommandPacket::make(0x02, 0x03, 3, 2), result);

    QCOMPARE(result.Success, success);
    QCOMPARE(log.codes, notices);
    QCOMPARE(m_device->requests.size(), attempts);
    for (const QByteArray &request : std::as_const(m_device->requests))
        QCOMPARE(request.toHex(' '), QByteArray("a5 5b 02 03 03 00 02 00 00 00 00 00 f6"));
    if (!last.isEmpty() && !notices.contains(2026))
        QCOMPARE(result.reply.toByteArray().toHex(' '), last.toHex(' '));
    QVERIFY(log.chatter > 0); // traces are sent along the way, when asked for
}

void TestTransaction::lateReplyIsNeverTakenForALaterOne_data()
{
    QTest::addColumn<QList<int>>("delays"); // per request written, ms; -1 silent
    QTest::addColumn<QList<int>>("answers"); // per command: the answer taken, 0 failed

    // The device numbers its replies by the request they answer (1, 2, ...). A late reply
    // comes just after its request timed out; a slow one well within the time-out, but
    // after that late reply would have come had the next request gone out at once.
    const Timing t = lateReplyTiming();
    const int late = t.replyTimeoutMs() + t.drainGraceMs / 4;
    const int slow = t.drainGraceMs * 3 / 4;
    QTest::newRow("late answer to the first attempt") << QList<int>{late, slow} << QList<int>{2};
    // The command after one given up is preceded by a barrier query (the sixth request).
    QTest::newRow("late answer to a command given up")
        << QList<int>{late, late, late, late, late, slow, slow} << QList<int>{0, 7};
    QTest::newRow("four time-outs then a good reply")
        << QList<int>{-1, -1, -1, -1, slow} << QList<int>{5};
}

void TestTransaction::lateReplyIsNeverTakenForALaterOne()
{
    QFETCH(QList<int>, delays);
    QFETCH(QList<int>, answers);
    m_link->setTiming(lateReplyTiming());

    int written = 0;
    connect(m_wire, &InProcessTransport::written, this, [&](const QByteArray &request) {
        const int delay = delays.value(written++, -1);
        if (delay < 0)
            return;
        QByteArray bytes = request;
        bytes[4] = 0; // accepted
        bytes[6] = static_cast<char>(written);
        bytes[12] = static_cast<char>(PacketChecksum(CommandPacket::fromBytes(bytes)));
        QTimer::singleShot(
            delay, Qt::PreciseTimer, m_wire, [this, bytes] { m_wire->deliver(bytes); });
    });
    QStringList traces;
    m_link->setDiagnosticsWanted(true);
    connect(m_link, &TKVCOMControl::notification, this, [&traces](const LinkNotice &n) {
        if (n.code == LinkMessage::Trace)
            traces.append(n.text);
    });

    for (int command = 0; command < answers.size(); ++command) {
        CommandResult result;
        m_link->ExecuteCommand(CommandPacket::make(0x02, 0x01, quint16(command + 1)), result);
        QCOMPARE(result.Success, answers[command] != 0);
        if (result.Success)
            QCOMPARE(int(result.reply.answer()), answers[command]);
    }
    QCOMPARE(written, delays.size());
    // What was drained is traced, as the bytes it was.
    const Timing t = lateReplyTiming();
    const bool late = delays.contains(t.replyTimeoutMs() + t.drainGraceMs / 4);
    QCOMPARE(
        !traces.filter(QStringLiteral("late reply drained:   A5 5B 02 01 00")).isEmpty(), late);
}

void TestTransaction::barrier_data()
{
    QTest::addColumn<QByteArrayList>("script"); // after a route read answered on its second try
    QTest::addColumn<bool>("success");
    QTest::addColumn<QList<int>>("notices");
    QTest::addColumn<QStringList>("sent"); // kinds, after the route read's two requests

    const QByteArray power = reply(0x10, 0x01, 0x00, 0xFF);
    const QByteArray route = reply(0x02, 0x01, 0x00, 4);
    const QByteArray lateRoute = reply(0x02, 0x01, 0x00, 3);
    const QByteArray silent;
    const QList<int> none;
    QTest::newRow("answered") << QByteArrayList{power, route} << true << none
                              << QStringList{u"1001"_s, u"0201"_s};
    // A refusal is a reply in its place as well: the switcher may be off.
    QTest::newRow("refused") << QByteArrayList{reply(0x10, 0x01, 0xFF), route} << true << none
                             << QStringList{u"1001"_s, u"0201"_s};
    // The late route reply and the barrier's reply in one piece: the late one is dropped, the
    // one behind it taken.
    QTest::newRow("late reply first, in one piece") << QByteArrayList{
        lateRoute + power, route} << true << none << QStringList{u"1001"_s, u"0201"_s};
    QTest::newRow("late reply alone, then the barrier's on its second try") << QByteArrayList{
        lateRoute, power, route} << true << none << QStringList{u"1001"_s, u"1001"_s, u"0201"_s};
    // The barrier's own late reply comes in the request's wait: dropped too.
    QTest::newRow("barrier answered late") << QByteArrayList{silent, power, power + route} << true
                                           << none << QStringList{u"1001"_s, u"1001"_s, u"0201"_s};
    // Nothing the link can vouch for: the request does not go out, and fails as a time-out.
    QTest::newRow("barrier never answered")
        << QByteArrayList(5, silent) << false << QList<int>{2026} << QStringList(5, u"1001"_s);
}

// A route read answered only on its second try leaves the link out of step; the next read is
// preceded by a power query whose reply vouches for the order.
void TestTransaction::barrier()
{
    QFETCH(QByteArrayList, script);
    QFETCH(bool, success);
    QFETCH(QList<int>, notices);
    QFETCH(QStringList, sent);

    m_device->script = {QByteArray(), reply(0x02, 0x01, 0x00, 6)};
    CommandResult result;
    m_link->ExecuteCommand(CommandPacket::make(0x02, 0x01, 1), result);
    QVERIFY(result.Success);
    QVERIFY(!m_link->inStep());

    m_device->script = script;
    NoticeLog log(*m_link);
    result = CommandResult();
    m_link->ExecuteCommand(CommandPacket::make(0x02, 0x01, 2), result);
    QCOMPARE(result.Success, success);
    QCOMPARE(log.codes, notices);
    QStringList kinds;
    for (const QByteArray &request : m_device->requests.mid(2))
        kinds.append(QString::fromLatin1(request.mid(2, 2).toHex()));
    QCOMPARE(kinds, sent);
    QCOMPARE(result.reply.answer(), success ? 4 : 0);
    QCOMPARE(m_link->inStep(), success);
}

void TestTransaction::requestIsRebuilt()
{
    // Callers may hand over a packet with only the fields set.
    CommandPacket bare;
    bare.bytes[2] = 0x01;
    bare.bytes[3] = 0x01;
    bare.setWord(1, 0x00FE);
    m_device->script = {reply(0x01, 0x01, 0x02)};
    CommandResult result;
    m_link->ExecuteCommand(bare, result);
    QVERIFY(result.Success);
    QCOMPARE(m_device->requests.value(0), QByteArray::fromHex("a55b0101fe0000000000000000"));
    QCOMPARE(result.reply.status(), 0x02);
}

void TestTransaction::diagnosticsOnlyWhenAsked()
{
    // The window, matrixctl and the gateway listen for failures only: no trace line or dump
    // is built for them. A listener that asks gets the trace of both packets and the dump.
    QList<LinkMessage> codes;
    QStringList traces;
    connect(m_link, &TKVCOMControl::notification, this, [&](const LinkNotice &n) {
        codes.append(n.code);
        if (n.code == LinkMessage::Trace)
            traces.append(n.text);
    });
    for (const bool asked : {false, true}) {
        codes.clear();
        m_link->setDiagnosticsWanted(asked);
        m_device->script = {reply(0x02, 0x01, 0x00, 4)};
        CommandResult result;
        m_link->ExecuteCommand(CommandPacket::make(0x02, 0x01, 4), result);
        QVERIFY(result.Success);
        QCOMPARE(codes.count(LinkMessage::Trace), asked ? 2 : 0);
        QCOMPARE(codes.count(LinkMessage::ReceiveDump), asked ? 1 : 0);
        QCOMPARE(codes.count(LinkMessage::DataReceived), asked ? 1 : 0);
    }
    QCOMPARE(traces.size(), 2);
    QVERIFY2(
        traces.at(0).startsWith(QStringLiteral("[1] snd cmd PPP:   \r\nA5 5B 02 01 [00 UU 04]")),
        qPrintable(traces.at(0)));
    QVERIFY2(traces.at(1).startsWith(QStringLiteral("rcv cmd PPP:   \r\nA5 5B 02 01")),
        qPrintable(traces.at(1)));
}

void TestTransaction::replyInPiecesAndSurplusBytes()
{
    const QByteArray good = reply(0x02, 0x01, 0x00, 4);
    connect(m_wire, &InProcessTransport::written, this, [this, good] {
        QTimer::singleShot(0, m_wire, [this, good] { m_wire->deliver(good.left(5)); });
        QTimer::singleShot(1, m_wire, [this, good] {
            // the rest, followed by bytes that belong to no frame
            m_wire->deliver(good.mid(5));
            m_wire->deliver(QByteArray(13, '\xEE'));
        });
    });
    CommandResult result;
    m_link->ExecuteCommand(CommandPacket::make(0x02, 0x01, 2), result);
    QVERIFY(result.Success);
    QCOMPARE(result.reply.answer(), 4);
    QCOMPARE(m_device->requests.size(), 1);
}

void TestTransaction::transportBreaksDuringWait()
{
    NoticeLog log(*m_link);
    QSignalSpy lost(m_link, &TKVCOMControl::connectedChanged);
    connect(m_wire, &InProcessTransport::written, this,
        [this] { QTimer::singleShot(0, m_wire, [this] { m_wire->breakStream(); }); });
    CommandResult result;
    result.Success = true;
    m_link->ExecuteCommand(CommandPacket::make(0x01, 0x02, 0xFE), result);
    QVERIFY(!result.Success);
    QCOMPARE(log.codes, QList<int>{2031});
    QCOMPARE(m_device->requests.size(), 1);
    QVERIFY(!m_link->Connected());
    QCOMPARE(lost.size(), 1);
    QCOMPARE(lost.first().first().toBool(), false);
}

void TestTransaction::notConnected()
{
    m_link->Disconnect();
    NoticeLog log(*m_link);
    CommandResult result;
    m_link->ExecuteCommand(CommandPacket::make(0x01, 0x02, 0xFE), result);
    QVERIFY(!result.Success);
    QCOMPARE(log.codes, QList<int>{2031});
    QVERIFY(m_device->requests.isEmpty());
}

void TestTransaction::stopBeforeStart()
{
    m_link->setStopRequested(true);
    NoticeLog log(*m_link);
    CommandResult result;
    result.Success = true;
    result.reply.bytes[6] = 0x42;
    m_link->ExecuteCommand(CommandPacket::make(0x01, 0x02, 0xFE), result);
    QVERIFY(result.Success); // untouched
    QCOMPARE(result.reply.answer(), 0x42);
    QVERIFY(m_device->requests.isEmpty());
    QVERIFY(log.codes.isEmpty());
}

void TestTransaction::stopWhileWaiting()
{
    // With real 10 ms ticks the wait would last 5 s per attempt; the stop ends it at once.
    m_link->setTiming(Timing());
    NoticeLog log(*m_link);
    QTimer::singleShot(20, m_link, [this] { m_link->setStopRequested(true); });
    CommandResult result;
    result.Success = true;
    m_link->ExecuteCommand(CommandPacket::make(0x01, 0x02, 0xFE), result);
    QVERIFY(!result.Success);
    QCOMPARE(m_device->requests.size(), 1);
    QVERIFY(log.codes.isEmpty());
}

void TestTransaction::connectWhileConnected()
{
    QSignalSpy opened(m_wire, &InProcessTransport::opened);
    QVERIFY(m_link->Connected());
    QVERIFY(m_link->Connect());
    QCOMPARE(opened.size(), 0);
}

void TestTransaction::connectFailureReportsOpenClose()
{
    m_link->Disconnect();
    m_wire->setOpenable(false);
    QList<LinkNotice> notices;
    connect(m_link, &TKVCOMControl::notification, this,
        [&notices](const LinkNotice &n) { notices.append(n); });
    QVERIFY(!m_link->Connect());
    QVERIFY(!m_link->connecting());
    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices[0].code, LinkMessage::OpenCloseFailed);
    QCOMPARE(notices[0].wParam, 0u);
    QCOMPARE(linkStatusText(notices[0], *m_link), QStringLiteral("Connect 127.0.0.1 failed"));
}

void TestTransaction::statusTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("text");
    QTest::newRow("time out") << 2026 << int(cmLAN) << true << QStringLiteral("Time out!");
    QTest::newRow("invalid") << 2029 << int(cmCOM) << true << QStringLiteral("Data invalid!");
    QTest::newRow("send failed") << 2037 << int(cmLAN) << true
                                 << QStringLiteral("Send data failed!");
    QTest::newRow("COM access") << 2031 << int(cmCOM) << true
                                << QStringLiteral("COM access failed!");
    QTest::newRow("TCP control") << 2031 << int(cmLAN) << true
                                 << QStringLiteral("TCP control failed!");
    QTest::newRow("open COM") << 2032 << int(cmCOM) << false
                              << QStringLiteral("Open COM [COM7] failed");
    QTest::newRow("close COM") << 2032 << int(cmCOM) << true
                               << QStringLiteral("Close COM [COM7] failed");
    QTest::newRow("disconnect") << 2032 << int(cmLAN) << true
                                << QStringLiteral("Disconnect 10.1.2.3 failed");
    QTest::newRow("trace shows nothing") << 2025 << int(cmLAN) << true << QString();
}

void TestTransaction::statusTexts()
{
    QFETCH(int, code);
    QFETCH(int, mode);
    QFETCH(bool, connected);
    QFETCH(QString, text);

    TKVCOMControl link;
    auto com = std::make_unique<InProcessTransport>();
    auto lan = std::make_unique<InProcessTransport>();
    com->setOpenable(connected);
    lan->setOpenable(connected);
    link.setTransport(cmCOM, std::move(com));
    link.setTransport(cmLAN, std::move(lan));
    link.setComPort(QStringLiteral("COM7"));
    link.setDeviceIP(QStringLiteral("10.1.2.3"));
    link.setControlMode(static_cast<TControlMode>(mode));
    link.blockSignals(true);
    link.Connect();
    QCOMPARE(link.Connected(), connected);
    QCOMPARE(linkStatusText(LinkNotice{static_cast<LinkMessage>(code), 0, 0, {}}, link), text);
}

void TestTransaction::frameStorage_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("lead"); // empty: the kind's own
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<int>>("pieces");
    QTest::addColumn<QList<bool>>("completeAfter");
    QTest::addColumn<QByteArray>("frame");

    // Frames that start with their lead bytes and then count up, so that a misplaced byte
    // shows; block data may hold the lead bytes themselves.
    const auto frame = [](const QByteArray &lead, int size) {
        QByteArray bytes = lead;
        while (bytes.size() < size)
            bytes += static_cast<char>(bytes.size());
        return bytes;
    };
    const QByteArray ab = QByteArray::fromHex("a55b");
    const QByteArray reply = frame(ab, 13);
    QByteArray block = frame(ab, 270);
    block.replace(100, 2, ab);
    const QByteArray header = QByteArray::fromHex("5c1e93a70bd462f83a85c14e972db06f");
    const QByteArray module = frame(header, 32);
    const QByteArray noise(7, '\xEE');
    const QByteArray none;

    QTest::newRow("20 bytes for a 13-byte reply") << int(FrameKind::Reply) << none << reply + noise
                                                  << QList<int>{20} << QList<bool>{true} << reply;
    QTest::newRow("270-byte block in three pieces")
        << int(FrameKind::EdidBlock) << none << block << QList<int>{100, 100, 70}
        << QList<bool>{false, false, true} << block;
    QTest::newRow("block piece overshoots")
        << int(FrameKind::EdidBlock) << none << block + block << QList<int>{200, 340}
        << QList<bool>{false, true} << block;
    QTest::newRow("module frame") << int(FrameKind::ModuleFrame) << header << module
                                  << QList<int>{13, 13, 6} << QList<bool>{false, false, true}
                                  << module;
    QTest::newRow("firmware acknowledgement")
        << int(FrameKind::MainAck) << none << reply << QList<int>{12, 1} << QList<bool>{false, true}
        << reply;
    // Resynchronisation: what comes before the lead is dropped, inside a frame nothing is.
    QTest::newRow("noise before a reply") << int(FrameKind::Reply) << none << noise + reply
                                          << QList<int>{3, 17} << QList<bool>{false, true} << reply;
    QTest::newRow("lead split between pieces")
        << int(FrameKind::Reply) << none << noise + reply << QList<int>{8, 12}
        << QList<bool>{false, true} << reply;
    QTest::newRow("a lone A5 is no start")
        << int(FrameKind::Reply) << none << QByteArray::fromHex("a5a5eea5") + reply
        << QList<int>{1, 1, 1, 14} << QList<bool>{false, false, false, true} << reply;
    QTest::newRow("A5 A5 5B starts at the second A5")
        << int(FrameKind::SlaveAck) << none << QByteArray::fromHex("a5") + reply << QList<int>{14}
        << QList<bool>{true} << reply;
    QTest::newRow("lead bytes inside a block are data")
        << int(FrameKind::EdidBlock) << none << noise + block << QList<int>{57, 220}
        << QList<bool>{false, true} << block;
    QTest::newRow("tail of a reply before a module frame")
        << int(FrameKind::ModuleFrame) << header << reply.right(6) + header.left(5) + module
        << QList<int>{9, 2, 32} << QList<bool>{false, false, true} << module;
}

void TestTransaction::frameStorage()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, lead);
    QFETCH(QByteArray, stream);
    QFETCH(QList<int>, pieces);
    QFETCH(QList<bool>, completeAfter);
    QFETCH(QByteArray, frame);

    FrameReceiver &storage = LinkTestAccess::receiver(*m_link);
    storage.reset(static_cast<FrameKind>(kind), lead);
    qsizetype at = 0;
    for (int i = 0; i < pieces.size(); ++i) {
        m_wire->deliver(stream.mid(at, pieces[i]));
        at += pieces[i];
        QCOMPARE(storage.complete(), completeAfter[i]);
    }
    QCOMPARE(at, stream.size());
    QCOMPARE(storage.frame().toHex(' '), frame.toHex(' '));
    QCOMPARE(storage.position(), 0);
    // bytes after a complete frame do not touch it
    m_wire->deliver(frame.left(5));
    QCOMPARE(storage.frame().toHex(' '), frame.toHex(' '));
}

void TestTransaction::controlModeClearsBusyFlags()
{
    m_link->setSearching(true);
    m_link->setConfiguring(true);
    m_link->setControlMode(cmCOM);
    QVERIFY(!m_link->Searching());
    QVERIFY(!m_link->Configuring());
    // the transport of the other mode stays open; only the mode changed
    QVERIFY(m_wire->isOpen());
}

QTEST_GUILESS_MAIN(TestTransaction)
#include "tst_transaction.moc"
