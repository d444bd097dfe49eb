#include "LinkStatusText.h"
#include "StalledListener.h"
#include "TKVCOMControl.h"

#include <QFile>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <thread>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Answers every 13-byte request with an accepted echo carrying 0x42 as the answer byte.
QByteArray answerFor(const QByteArray &request)
{
    const CommandPacket in = CommandPacket::fromBytes(request);
    return CommandPacket::make(in.command(), in.subcommand(), 0x00, 0x42).toByteArray();
}

// The far end of a pseudo terminal, played by the test.
class PtyDevice
{
public:
    PtyDevice()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        termios raw{};
        tcgetattr(m_master, &raw);
        cfmakeraw(&raw);
        tcsetattr(m_master, TCSANOW, &raw);
        m_slavePath = QString::fromLocal8Bit(ptsname(m_master));
        m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
            char buffer[512];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                return;
            m_pending.append(buffer, n);
            while (m_pending.size() >= 13) {
                const QByteArray reply = answerFor(m_pending.left(13));
                m_pending.remove(0, 13);
                ++requests;
                if (::write(m_master, reply.constData(), 13) != 13)
                    qWarning("pty write failed");
            }
        });
    }
    ~PtyDevice() { hangUp(); }
    void hangUp()
    {
        m_notifier.reset();
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    QString slavePath() const { return m_slavePath; }
    int requests = 0;

private:
    int m_master = -1;
    QString m_slavePath;
    QByteArray m_pending;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// A loopback TCP device that answers like PtyDevice.
class TcpDevice : public QTcpServer
{
public:
    explicit TcpDevice(const QHostAddress &address = QHostAddress::LocalHost)
    {
        listen(address, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = nextPendingConnection()) {
                ++connections;
                if (hangUpOnAccept) {
                    client->disconnectFromHost();
                    continue;
                }
                connect(client, &QTcpSocket::readyRead, client, [client] {
                    while (client->bytesAvailable() >= 13)
                        client->write(answerFor(client->read(13)));
                });
            }
        });
    }
    int connections = 0;
    bool hangUpOnAccept = false;
};

} // namespace

class TestTransports : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void tcpTransaction();
    void tcpConnectFailures_data();
    void tcpConnectFailures();
    void tcpPeerCloses();
    void tcpConnectEndsOnStop();
    void serialTransaction();
    void serialPeerVanishes();
    void serialLineStopped();
    void serialOpenFailure();
    void serialPermissionHint();
};

namespace {
struct Notices
{
    explicit Notices(TKVCOMControl &link)
    {
        QObject::connect(&link, &TKVCOMControl::notification, &link, [this, &link](const auto &n) {
            const QString text = linkStatusText(n, link);
            if (!text.isEmpty())
                texts.append(text);
        });
    }
    QStringList texts;
};
} // namespace

void TestTransports::tcpTransaction()
{
    TcpDevice device;
    TKVCOMControl link;
    link.setDeviceIP(QStringLiteral("127.0.0.1"));
    link.setTcpPort(device.serverPort());
    Notices notices(link);
    QVERIFY(link.Connect());
    QVERIFY(link.Connected());
    CommandResult result;
    link.ExecuteCommand(CommandPacket::make(0x02, 0x01, 3), result);
    QVERIFY(result.Success);
    QCOMPARE(result.reply.answer(), 0x42);
    QVERIFY(notices.texts.isEmpty());
    QVERIFY(link.Disconnect());
    QVERIFY(!link.Connected());
}

void TestTransports::tcpConnectFailures_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("text");
    QTest::newRow("no device selected")
        << QStringLiteral("0.0.0.0") << true << QStringLiteral("Connect 0.0.0.0 failed");
    QTest::newRow("refused") << QStringLiteral("127.0.0.1") << false
                             << QStringLiteral("Connect 127.0.0.1 failed");
}

void TestTransports::tcpConnectFailures()
{
    QFETCH(QString, ip);
    QFETCH(bool, listening);
    QFETCH(QString, text);

    // Listening on every address: a connect to 0.0.0.0 would otherwise land here.
    TcpDevice device(QHostAddress::Any);
    const quint16 port = device.serverPort();
    if (!listening)
        device.close();
    TKVCOMControl link;
    link.setDeviceIP(ip);
    link.setTcpPort(port);
    Notices notices(link);
    QVERIFY(!link.Connect());
    QVERIFY(!link.Connected());
    QCOMPARE(notices.texts, QStringList{text});
    QTest::qWait(20);
    QCOMPARE(device.connections, 0);
}

void TestTransports::tcpPeerCloses()
{
    TcpDevice device;
    device.hangUpOnAccept = true;
    TKVCOMControl link;
    link.setDeviceIP(QStringLiteral("127.0.0.1"));
    link.setTcpPort(device.serverPort());
    Notices notices(link);
    QSignalSpy changed(&link, &TKVCOMControl::connectedChanged);
    QVERIFY(link.Connect());
    QTRY_VERIFY(!link.Connected());
    QCOMPARE(notices.texts, QStringList{QStringLiteral("TCP control failed!")});
    QCOMPARE(changed.size(), 2);
}

void TestTransports::tcpConnectEndsOnStop()
{
    // A connect to it waits for its time-out, here far longer than the test may run.
    const StalledListener listener;
    QVERIFY(listener.ready());
    const quint16 port = listener.port();

    TKVCOMControl link;
    Timing timing = Timing::fast();
    timing.connectTimeoutMs = 600000;
    link.setTiming(timing);
    link.setDeviceIP(QStringLiteral("127.0.0.1"));
    link.setTcpPort(port);
    Notices notices(link);
    bool connectingWhenStopped = false;
    QTimer::singleShot(50, &link, [&] {
        connectingWhenStopped = link.connecting();
        link.setStopRequested(true);
    });
    QVERIFY(!link.Connect());
    QVERIFY(connectingWhenStopped);
    QVERIFY(!link.Connected());
    // The program is closing: the stopped connect is not reported as a failure.
    QVERIFY(notices.texts.isEmpty());
}

void TestTransports::serialTransaction()
{
    PtyDevice device;
    QVERIFY(!device.slavePath().isEmpty());
    TKVCOMControl link;
    link.setControlMode(cmCOM);
    link.setComPort(device.slavePath());
    Notices notices(link);
    QVERIFY(link.Connect());
    QVERIFY(link.Connect()); // already open: no second open, which the port lock would refuse
    for (int i = 0; i < 3; ++i) {
        CommandResult result;
        link.ExecuteCommand(CommandPacket::make(0x01, 0x04, quint16(i + 1)), result);
        QVERIFY(result.Success);
    }
    QCOMPARE(device.requests, 3);
    QVERIFY(notices.texts.isEmpty());
}

void TestTransports::serialPeerVanishes()
{
    auto device = std::make_unique<PtyDevice>();
    TKVCOMControl link;
    link.setTiming(Timing::fast());
    link.setControlMode(cmCOM);
    link.setComPort(device->slavePath());
    Notices notices(link);
    QVERIFY(link.Connect());
    device->hangUp();
    // The port is closed and the loss reported once, not in a flood of read errors.
    QTRY_VERIFY(!link.Connected());
    QTest::qWait(50);
    QCOMPARE(notices.texts, QStringList{QStringLiteral("COM access failed!")});
    CommandResult result;
    link.ExecuteCommand(CommandPacket::make(0x01, 0x02, 0xFE), result);
    QVERIFY(!result.Success);
}

// A line that does not take the bytes (output stopped) fails the write after the write
// time-out with a transport error instead of waiting for a reply that cannot come; the port
// stays open and works again once the line moves.
void TestTransports::serialLineStopped()
{
    PtyDevice device;
    QVERIFY(!device.slavePath().isEmpty());
    // A second handle on the line, opened before the link takes it, to stop and start it.
    const int line = ::open(qPrintable(device.slavePath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(line >= 0);
    TKVCOMControl link;
    link.setTiming(Timing::fast());
    link.setControlMode(cmCOM);
    link.setComPort(device.slavePath());
    Notices notices(link);
    QVERIFY(link.Connect());
    QCOMPARE(::tcflow(line, TCOOFF), 0);

    CommandResult result;
    link.ExecuteCommand(CommandPacket::make(0x01, 0x04, 1), result);
    QVERIFY(!result.Success);
    QCOMPARE(notices.texts, QStringList{QStringLiteral("COM access failed!")});
    QCOMPARE(device.requests, 0);
    QVERIFY(link.Connected());

    QCOMPARE(::tcflow(line, TCOON), 0);
    notices.texts.clear();
    link.ExecuteCommand(CommandPacket::make(0x01, 0x04, 2), result);
    QVERIFY(result.Success);
    QVERIFY(notices.texts.isEmpty());
    QCOMPARE(device.requests, 1);
    ::close(line);
}

void TestTransports::serialOpenFailure()
{
    TKVCOMControl link;
    link.setControlMode(cmCOM);
    link.setComPort(QStringLiteral("/dev/no-such-port"));
    Notices notices(link);
    QVERIFY(!link.Connect());
    QCOMPARE(notices.texts, QStringList{QStringLiteral("Open COM [/dev/no-such-port] failed")});
}

// An operator outside the port's group is told which group opens it; the system's own words
// come first. The open runs on a thread of its own as the unprivileged user "nobody" (a raw
// system call changes the ids of that thread only), against a device node in a temporary
// folder that belongs to root and the 'dialout' group, as serial ports do on Debian.
void TestTransports::serialPermissionHint()
{
    const group *dialout = ::getgrnam("dialout");
    if (!dialout)
        QSKIP("this system has no 'dialout' group");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QFile::setPermissions(dir.path(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
            | QFileDevice::ReadOther | QFileDevice::ExeOther));
    const QString port = dir.filePath(QStringLiteral("ttyUSB0"));
    const QByteArray path = QFile::encodeName(port);
    QVERIFY(::mknod(path.constData(), S_IFCHR | 0660, makedev(1, 3)) == 0);
    QVERIFY(::chown(path.constData(), 0, dialout->gr_gid) == 0);

    struct Outcome
    {
        bool asNobody = false;
        bool opened = true;
        QStringList texts;
        QString reason;
    } outcome;
    std::thread operatorThread([&] {
        outcome.asNobody = ::syscall(SYS_setresgid, 65534, 65534, 65534) == 0
            && ::syscall(SYS_setgroups, 0, nullptr) == 0
            && ::syscall(SYS_setresuid, 65534, 65534, 65534) == 0;
        if (!outcome.asNobody)
            return;
        TKVCOMControl link;
        link.setControlMode(cmCOM);
        link.setComPort(port);
        QObject::connect(&link, &TKVCOMControl::notification, &link, [&](const LinkNotice &n) {
            outcome.texts.append(linkStatusText(n, link));
            outcome.reason = linkFailureReason(n);
        });
        outcome.opened = link.Connect();
    });
    operatorThread.join();
    QVERIFY2(outcome.asNobody, "cannot run a thread as the user nobody");
    QVERIFY(!outcome.opened);
    QCOMPARE(outcome.texts, QStringList{QStringLiteral("Open COM [%1] failed").arg(port)});
    QCOMPARE(
        outcome.reason, QStringLiteral("Permission denied: add your user to the 'dialout' group"));
}

QTEST_GUILESS_MAIN(TestTransports)
#include "tst_transports.moc"
