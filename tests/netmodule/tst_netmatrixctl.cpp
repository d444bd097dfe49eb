// matrixctl's network commands as a script sees them: matrix-sim serves two modules from the
// peer namespace, matrixctl runs on the PC side (see NetTestNamespace.h).
#include "NetTestNamespace.h"

#include "MatrixCtlRunner.h"

#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>

using nettest::PcAddress;
using nettest::PeerAddress;
using nettest::PeerAddress2;

namespace {

using Run = testsupport::ProgramRun;

// In this process, with the short time-outs of failure paths.
Run matrixctlHere(const QString &args)
{
    return testsupport::MatrixCtlRunner().run(args);
}

Run matrixctl(const QStringList &args)
{
    return testsupport::runProgram(QStringLiteral(MATRIXCTL_PATH), args, 120000);
}

QString entry(const char *tag, const QString &ip, const char *mac, const char *reach)
{
    return QStringLiteral(
        "[%1] - [Static IP] - [%2] - [10.200.0.1] - [255.255.255.0] - [%3] - [%4]")
        .arg(QLatin1String(tag), ip, QLatin1String(mac), QLatin1String(reach));
}

} // namespace

class TestNetMatrixCtl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void usageErrors_data();
    void usageErrors();
    void discoverAndConfigure();
    void networkFailures_data();
    void networkFailures();
    void configureWithoutDefaultRoute();
    void moduleInfoAndResetOverSerial();

private:
    nettest::PeerNamespace m_peer;
    testsupport::ProgramProcess m_sim;
    QString m_pty;
};

void TestNetMatrixCtl::initTestCase()
{
    if (!g_netSkip.isEmpty())
        QSKIP(qPrintable(g_netSkip));
    const QString why = m_peer.create();
    QVERIFY2(why.isEmpty(), qPrintable(why));
    bool started = false;
    m_peer.inside([&] {
        started = m_sim.start(QStringLiteral(MATRIX_SIM_PATH),
            {QStringLiteral("--tcp-port"), QStringLiteral("0"), QStringLiteral("--pty"),
                QStringLiteral("--udp"), QStringLiteral("0.0.0.0"), QStringLiteral("--module-ip"),
                PeerAddress, QStringLiteral("--modules"), QStringLiteral("2")});
    });
    QVERIFY(started);
    const QString pty = m_sim.nextLine(QStringLiteral("PTY "));
    QVERIFY2(!pty.isEmpty(), m_sim.process().readAllStandardError().constData());
    m_pty = pty.mid(4);
    QCOMPARE(m_sim.nextLine(QStringLiteral("UDP ")), QStringLiteral("UDP 0.0.0.0 30600 30601"));
    QVERIFY(m_sim.nextLine(QStringLiteral("MODULE 2 ")).contains(PeerAddress2));
}

void TestNetMatrixCtl::cleanupTestCase()
{
    if (m_sim.process().state() != QProcess::NotRunning)
        QVERIFY(m_sim.stop(30000));
}

void TestNetMatrixCtl::usageErrors_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("message");

    const auto row = [](const char *args, const char *message) {
        QTest::newRow(args) << QString::fromLatin1(args) << QString::fromLatin1(message);
    };
    row("netconfig", "netconfig wants one MAC address");
    row("netconfig 00-11-22 --dhcp", "netconfig wants one MAC address");
    row("netconfig 02-00-00-00-00-01", "netconfig wants --dhcp, or --static");
    row("netconfig 02-00-00-00-00-01 --dhcp --mask 255.0.0.0", "netconfig wants --dhcp, or");
    row("netconfig 02-00-00-00-00-01 --static 10.0.0.2", "netconfig wants --dhcp, or");
    row("netconfig 02-00-00-00-00-01 --static 10.0.0.300 --gateway 10.0.0.1 --mask 255.0.0.0",
        "--static wants a dotted IPv4 address");
    row("netconfig 02-00-00-00-00-01 --dhcp --address somewhere",
        "--address wants a dotted IPv4 address");
    row("netconfig 02-00-00-00-00-01 --dhcp --colour red", "netconfig: Unknown option");
    row("discover now", "discover takes only --address IP");
    row("discover --address 10.1", "--address wants a dotted IPv4 address");
    row("module", "module takes info or reset");
    row("module info", "choose one of --tcp HOST[:PORT] and --serial PATH");
}

void TestNetMatrixCtl::usageErrors()
{
    QFETCH(QString, args);
    QFETCH(QString, message);
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    const int code
        = runMatrixCtl(QStringList{QStringLiteral("matrixctl")} + args.split(QLatin1Char(' ')),
            outStream, errStream, Timing::fast());
    QCOMPARE(code, 2);
    QVERIFY2(err.startsWith(QStringLiteral("matrixctl: ") + message), qPrintable(err));
    QVERIFY(out.isEmpty());
}

void TestNetMatrixCtl::discoverAndConfigure()
{
    Run run = matrixctl({QStringLiteral("discover")});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out,
        entry("TCP Module", PeerAddress, "02-4D-58-00-00-01", "Same Subnet") + u'\n'
            + entry("TCP Module 2", PeerAddress2, "02-4D-58-00-00-02", "Same Subnet") + u'\n');
    // The same entries for scripts, field by field.
    run = matrixctl({QStringLiteral("--json"), QStringLiteral("discover")});
    QCOMPARE(run.code, 0);
    const QString device = QStringLiteral(
        R"({"addressMode":"Static IP","gateway":"10.200.0.1","ip":"%1","mac":"%2",)"
        R"("mask":"255.255.255.0","reach":"Same Subnet","tag":"%3"})");
    QCOMPARE(run.out,
        QStringLiteral(R"({"devices":[%1,%2]})")
                .arg(device.arg(PeerAddress, QStringLiteral("02-4D-58-00-00-01"),
                         QStringLiteral("TCP Module")),
                    device.arg(PeerAddress2, QStringLiteral("02-4D-58-00-00-02"),
                        QStringLiteral("TCP Module 2")))
            + u'\n');

    // A static address for the second module, sent by broadcast and to its address.
    run = matrixctl(QStringLiteral("netconfig 02-4D-58-00-00-02 --static 10.200.0.50 --gateway "
                                   "10.200.0.1 --mask 255.255.255.0 --tag Lobby --address %1")
                        .arg(PeerAddress2)
                        .split(u' '));
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out,
        QStringLiteral("Modify TCP configuration ok\n[Lobby] - [Static IP] - [10.200.0.50] - "
                       "[10.200.0.1] - [255.255.255.0] - [02-4D-58-00-00-02] - [Cross Subnet]\n"));
    QCOMPARE(m_sim.nextLine(QStringLiteral("MODULE 2 ")),
        QStringLiteral("MODULE 2 02-4D-58-00-00-02 Static IP 10.200.0.50 10.200.0.1 "
                       "255.255.255.0 [Lobby]"));

    // Auto IP for the first module; without --tag its own tag stays.
    run = matrixctl(QStringLiteral("netconfig 02-4D-58-00-00-01 --dhcp").split(u' '));
    QCOMPARE(run.code, 0);
    QCOMPARE(m_sim.nextLine(QStringLiteral("MODULE 1 ")),
        QStringLiteral("MODULE 1 02-4D-58-00-00-01 Auto IP 10.200.0.201 10.200.0.1 "
                       "255.255.255.0 [TCP Module]"));

    run = matrixctl({QStringLiteral("discover")});
    QCOMPARE(run.code, 0);
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith(QStringLiteral("[TCP Module] - [Auto IP] - [10.200.0.201]")),
        qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith(QStringLiteral("[Lobby] - [Static IP] - [10.200.0.50]")),
        qPrintable(lines[1]));
}

void TestNetMatrixCtl::networkFailures_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("heldPort"); // held by another program; 0 none
    QTest::addColumn<QString>("err"); // all of stderr

    QTest::newRow("nobody answers")
        << "netconfig 02-09-09-09-09-09 --dhcp --tag x" << 0
        << "Modify TCP configuration failed: no answer from MAC 02-09-09-09-09-09\n";
    // A refusal, not a bad argument: exit 1, and nothing is sent.
    QTest::newRow("the PC's own address")
        << QStringLiteral("netconfig 02-4D-58-00-00-02 --static %1 "
                          "--gateway 10.200.0.1 --mask 255.255.255.0 --tag x")
               .arg(PcAddress)
        << 0 << QStringLiteral("Setting IP conflict:%1\n").arg(PcAddress);
    QTest::newRow("configuration port held")
        << "netconfig 02-4D-58-00-00-01 --dhcp --tag x" << 30601
        << "Modify TCP configuration failed: UDP port 30601 is in "
           "use by another program\n";
    QTest::newRow("search port held")
        << "discover" << 30600 << "UDP port 30600 is in use by another program\n";
}

void TestNetMatrixCtl::networkFailures()
{
    QFETCH(QString, args);
    QFETCH(int, heldPort);
    QFETCH(QString, err);
    // Each failure is told once, by the command.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    QUdpSocket holder;
    if (heldPort)
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, quint16(heldPort)));
    const Run run = matrixctlHere(args);
    QCOMPARE(run.code, 1);
    QCOMPARE(run.err, testsupport::ctlErrorLines(err));
    QVERIFY(run.out.isEmpty());
}

void TestNetMatrixCtl::configureWithoutDefaultRoute()
{
    // 255.255.255.255 cannot be sent then; the subnet's broadcast that the search used can.
    const nettest::WithoutDefaultRoute noDefaultRoute;
    QVERIFY2(noDefaultRoute.ok(), qPrintable(noDefaultRoute.why()));
    Run run = matrixctlHere(QStringLiteral("discover"));
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.contains(QLatin1String("[02-4D-58-00-00-02]")), qPrintable(run.out));

    run = matrixctlHere(QStringLiteral("netconfig 02-4D-58-00-00-02 --static 10.200.0.51 --gateway "
                                       "10.200.0.1 --mask 255.255.255.0 --tag Hall"));
    QVERIFY2(run.code == 0, qPrintable(run.err));
    QCOMPARE(m_sim.nextLine(QStringLiteral("MODULE 2 ")),
        QStringLiteral("MODULE 2 02-4D-58-00-00-02 Static IP 10.200.0.51 10.200.0.1 "
                       "255.255.255.0 [Hall]"));
}

void TestNetMatrixCtl::moduleInfoAndResetOverSerial()
{
    Run run = matrixctl(
        {QStringLiteral("--serial"), m_pty, QStringLiteral("module"), QStringLiteral("reset")});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out,
        QStringLiteral("Reset Default ok\nVersion: Ver2.1\nDHCP: Static IP\n"
                       "IP Address: 192.168.0.100\n"));
    QVERIFY(m_sim.nextLine(QStringLiteral("MODULE 1 "))
                .contains(QStringLiteral("Static IP 192.168.0.100")));

    run = matrixctl(
        {QStringLiteral("--serial"), m_pty, QStringLiteral("module"), QStringLiteral("info")});
    QCOMPARE(run.code, 0);
    QCOMPARE(
        run.out, QStringLiteral("Version: Ver2.1\nDHCP: Static IP\nIP Address: 192.168.0.100\n"));
}

NETTEST_MAIN(TestNetMatrixCtl)
#include "tst_netmatrixctl.moc"
