#include "InProcessTransport.h"
#include "SimulatorServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QByteArray request(quint8 command, quint8 subcommand, quint16 word1 = 0, quint16 word2 = 0)
{
    return CommandPacket::make(command, subcommand, word1, word2).toByteArray();
}

const QByteArray Size = request(0x01, 0x02, 0x00FE);
const QByteArray SizeReply = QByteArray::fromHex("a55b01020600060000000000f1");

QByteArray routeReply(int input)
{
    return SwitcherSimulator::makeReply(
        CommandPacket::fromBytes(request(0x02, 0x01)), 0x00, quint8(input))
        .toByteArray();
}

// Reads from a socket or serial port until n bytes have come, or a few seconds pass. The
// device runs in this thread: the wait must run the event loop.
QByteArray readExactly(QIODevice &device, qsizetype n)
{
    QByteArray bytes;
    QSignalSpy readyRead(&device, &QIODevice::readyRead);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        bytes += device.read(n - bytes.size());
        if (bytes.size() >= n)
            break;
        readyRead.wait(100);
    }
    return bytes;
}

quint8 status(const QByteArray &reply)
{
    return reply.size() > 4 ? quint8(reply[4]) : 0xEE;
}

std::unique_ptr<QTcpSocket> connectTo(const SimulatorServer &server)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, server.tcpPort());
    if (!socket->waitForConnected(3000))
        return nullptr;
    return socket;
}

} // namespace

class tst_SimulatorServer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void tcpClientsShareTheDevice();
    void tcpClientGoneMidRequest();
    void requestHistoryIsBounded();
    void tcpHangUpAndSplit();
    void ptySurvivesReopen();
    void ptyLinkRules();
    void inProcessTransport();
};

void tst_SimulatorServer::tcpClientsShareTheDevice()
{
    SimulatorServer server;
    QVERIFY(server.listenTcp(QHostAddress::LocalHost, 0));
    QVERIFY(server.tcpPort() != 0);

    auto first = connectTo(server);
    QVERIFY(first);
    first->write(Size);
    QCOMPARE(readExactly(*first, 13), SizeReply);
    first->write(request(0x02, 0x03, 4, 2));
    QCOMPARE(status(readExactly(*first, 13)), 0x00);
    first->disconnectFromHost();
    first.reset();

    auto second = connectTo(server);
    QVERIFY(second);
    second->write(request(0x02, 0x01, 2));
    QCOMPARE(readExactly(*second, 13), routeReply(4));

    // Both at once
    auto third = connectTo(server);
    QVERIFY(third);
    third->write(Size);
    second->write(Size);
    QCOMPARE(readExactly(*third, 13), SizeReply);
    QCOMPARE(readExactly(*second, 13), SizeReply);

    QCOMPARE(server.received().size(), 5);
    QCOMPARE(server.received().first(), Size);
    QCOMPARE(server.received().at(1), request(0x02, 0x03, 4, 2));
}

// Each connection reassembles its own stream: half a request left behind by a client that
// went away must not spoil the next client's first request.
void tst_SimulatorServer::tcpClientGoneMidRequest()
{
    SimulatorServer server;
    QVERIFY(server.listenTcp());
    QSignalSpy handled(&server, &SimulatorServer::requestHandled);
    {
        auto client = connectTo(server);
        QVERIFY(client);
        client->write(Size.left(7));
        client->waitForBytesWritten(1000);
        QTest::qWait(20);
        client->abort();
    }
    auto next = connectTo(server);
    QVERIFY(next);
    next->write(Size);
    QCOMPARE(readExactly(*next, 13), SizeReply);
    QCOMPARE(handled.count(), 1);
}

// A switcher that serves for days keeps only its newest requests, whatever the connections.
void tst_SimulatorServer::requestHistoryIsBounded()
{
    SimulatorServer server;
    QVERIFY(server.listenTcp());
    constexpr int Connections = 3;
    const qsizetype perConnection = SimulatorServer::RequestHistory / 2;
    QByteArrayList sent;
    for (int c = 0; c < Connections; ++c) {
        auto client = connectTo(server);
        QVERIFY(client);
        QByteArray burst;
        for (qsizetype i = 0; i < perConnection; ++i) {
            sent.append(request(0x01, 0x02, 0x00FE, quint16(sent.size())));
            burst += sent.last();
        }
        client->write(burst);
        QCOMPARE(readExactly(*client, burst.size()).size(), burst.size());
    }
    QCOMPARE(server.received(), sent.mid(sent.size() - SimulatorServer::RequestHistory));
}

void tst_SimulatorServer::tcpHangUpAndSplit()
{
    SimulatorServer server;
    QVERIFY(server.listenTcp());
    server.faults().dropConnectionAfter = 2;
    server.faults().splitInto = 4;

    auto client = connectTo(server);
    QVERIFY(client);
    QSignalSpy gone(client.get(), &QTcpSocket::disconnected);
    client->write(Size);
    QCOMPARE(readExactly(*client, 13), SizeReply);
    client->write(Size);
    QTRY_COMPARE(gone.count(), 1);
    QCOMPARE(client->bytesAvailable(), 0);

    // The device is still there for the next connection
    auto again = connectTo(server);
    QVERIFY(again);
    again->write(Size);
    QCOMPARE(readExactly(*again, 13), SizeReply);
}

void tst_SimulatorServer::ptySurvivesReopen()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("ttyMATRIX"));
    auto server = std::make_unique<SimulatorServer>();
    const QString slave = server->openPty(link);
    QVERIFY2(!slave.isEmpty(), qPrintable(server->ptyError()));
    QCOMPARE(QFileInfo(link).symLinkTarget(), slave);

    QSerialPort port(link);
    for (int round = 1; round <= 2; ++round) {
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        port.write(request(0x02, 0x03, round + 2, 1));
        QCOMPARE(status(readExactly(port, 13)), 0x00);
        port.write(request(0x02, 0x01, 1));
        QCOMPARE(readExactly(port, 13), routeReply(round + 2));
        port.close();
        QTest::qWait(20); // let the device see the line idle
    }

    // Opening by the slave path works as well
    QSerialPort direct(slave);
    QVERIFY2(direct.open(QIODevice::ReadWrite), qPrintable(direct.errorString()));
    direct.write(Size.left(5));
    direct.waitForBytesWritten(100);
    QTest::qWait(20);
    direct.write(Size.mid(5));
    QCOMPARE(readExactly(direct, 13), SizeReply);
    direct.close();

    server.reset();
    QVERIFY(!QFileInfo(link).isSymLink());
}

void tst_SimulatorServer::ptyLinkRules()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimulatorServer server;

    // A link left behind by a crashed run is replaced
    const QString stale = dir.filePath(QStringLiteral("stale"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), stale));
    const QString slave = server.openPty(stale);
    QVERIFY(!slave.isEmpty());
    QCOMPARE(QFileInfo(stale).symLinkTarget(), slave);

    // A real file is never overwritten
    const QString file = dir.filePath(QStringLiteral("file"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("keep");
    f.close();
    QCOMPARE(server.openPty(file), QString());
    QVERIFY(!server.ptyError().isEmpty());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep"));
}

void tst_SimulatorServer::inProcessTransport()
{
    SimulatorServer server;
    InProcessTransport transport;
    QVERIFY(transport.open(nullptr, 0));
    server.attach(&transport);
    QSignalSpy received(&transport, &Transport::received);
    QSignalSpy failed(&transport, &Transport::failed);

    transport.write(Size);
    QCOMPARE(received.count(), 0); // as from a wire: never inside write()
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).toByteArray(), SizeReply);
    QCOMPARE(server.received(), QByteArrayList{Size});

    server.faults().dropConnectionAfter = 1;
    transport.write(Size);
    QTRY_COMPARE(failed.count(), 1);
    QVERIFY(!transport.isOpen());
    QCOMPARE(received.count(), 1);

    QVERIFY(transport.open(nullptr, 0));
    transport.write(Size);
    QTRY_COMPARE(received.count(), 2);
    QCOMPARE(received.at(1).at(0).toByteArray(), SizeReply);
}

QTEST_GUILESS_MAIN(tst_SimulatorServer)
#include "tst_simulatorserver.moc"
