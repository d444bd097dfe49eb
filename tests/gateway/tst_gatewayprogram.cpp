// matrix-gateway as a user starts it: its command line, and the program itself with --demo,
// a panel on its Videohub port and a stop by SIGTERM.
#include "GatewayCommandLine.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestGatewayProgram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void badArguments_data();
    void badArguments();
    void defaults();
    void options();
    void demoServesAPanel();
    void stopsDuringAnOperation();
    void weakTokenRefused();
    void makesAToken();
};

void TestGatewayProgram::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("says");
    auto row = [](const char *name, std::initializer_list<const char *> args, const char *says) {
        QStringList list{QStringLiteral("matrix-gateway")};
        for (const char *a : args)
            list.append(QString::fromUtf8(a));
        QTest::newRow(name) << list << QString::fromUtf8(says);
    };
    row("no switcher", {}, "choose one of");
    row("two switchers", {"--demo", "--tcp", "10.0.0.5"}, "choose one of");
    row("tcp port not a number", {"--tcp", "host:x"}, "--tcp takes");
    row("tcp port 0", {"--tcp", "host:0"}, "--tcp takes");
    row("serial path empty", {"--serial", " "}, "--serial takes");
    row("poll negative", {"--demo", "--poll", "-1"}, "--poll takes");
    row("poll a word", {"--demo", "--poll", "often"}, "--poll takes");
    row("listen not an address", {"--demo", "--listen", "localhost"}, "--listen takes");
    row("beyond loopback without a token", {"--tcp", "10.0.0.5", "--listen", "0.0.0.0"},
        "--token-file");
    row("demo beyond loopback", {"--demo", "--listen", "0.0.0.0", "--token-file", "t"},
        "--demo serves on loopback only");
    row("token in clear text beyond loopback",
        {"--tcp", "10.0.0.5", "--listen", "0.0.0.0", "--token-file", "t"}, "--insecure-http");
    row("certificate without key", {"--demo", "--tls-cert", "c.pem"}, "go together");
    row("max per address negative", {"--demo", "--max-per-address", "-1"}, "--max-per-address");
    row("videohub port too large", {"--demo", "--videohub-port", "65536"}, "--videohub-port");
    row("allow not a subnet", {"--demo", "--allow", "10.0.0.0/8,lan"}, "--allow takes");
    row("stray argument", {"--demo", "route"}, "unexpected argument");
}

void TestGatewayProgram::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, says);
    GatewayOptions options;
    const GatewayParse parsed = parseGatewayArguments(arguments, &options);
    QCOMPARE(parsed.kind, GatewayParse::Error);
    QVERIFY2(parsed.text.contains(says), qPrintable(parsed.text));
}

void TestGatewayProgram::defaults()
{
    GatewayOptions o;
    const GatewayParse parsed
        = parseGatewayArguments({QStringLiteral("matrix-gateway"), QStringLiteral("--serial"),
                                    QStringLiteral("/dev/ttyUSB0")},
            &o);
    QCOMPARE(parsed.kind, GatewayParse::Run);
    QCOMPARE(o.gateway.target, GatewayConfig::Target::Serial);
    QCOMPARE(o.gateway.serialPath, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(o.gateway.pollMs, 2000);
    QCOMPARE(o.listen, QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(o.videohubPort, quint16(9990));
    QCOMPARE(o.httpPort, quint16(8080));
    QVERIFY(!o.settingsNamed);
    QVERIFY(o.allowed(QHostAddress(QStringLiteral("127.0.0.1"))));
    QVERIFY(o.allowed(QHostAddress(QStringLiteral("127.3.2.1"))));
    QVERIFY(o.allowed(QHostAddress(QStringLiteral("::1"))));
    QVERIFY(o.allowed(QHostAddress(QStringLiteral("::ffff:127.0.0.1"))));
    QVERIFY(!o.allowed(QHostAddress(QStringLiteral("192.0.2.7"))));
    QVERIFY(!o.allowed(QHostAddress(QStringLiteral("::ffff:192.0.2.7"))));
}

void TestGatewayProgram::options()
{
    GatewayOptions o;
    const GatewayParse parsed = parseGatewayArguments(
        {QStringLiteral("matrix-gateway"), QStringLiteral("--tcp=[fd00::5]:9000"),
            QStringLiteral("--poll=0.5"), QStringLiteral("--listen=0.0.0.0"),
            QStringLiteral("--token-file=/t"), QStringLiteral("--allow=192.0.2.0/24"),
            QStringLiteral("--allow=10.1.0.0/16,::1/128"), QStringLiteral("--videohub-port=0"),
            QStringLiteral("--settings=/x/g.ini"), QStringLiteral("--insecure-http"),
            QStringLiteral("--max-per-address=3")},
        &o);
    QCOMPARE(parsed.kind, GatewayParse::Run);
    QVERIFY(o.insecureHttp && o.allowNamed);
    QCOMPARE(o.maxPerAddress, 3);
    QCOMPARE(o.gateway.host, QStringLiteral("fd00::5"));
    QCOMPARE(o.gateway.tcpPort, quint16(9000));
    QCOMPARE(o.gateway.pollMs, 500);
    QCOMPARE(o.videohubPort, quint16(0));
    QCOMPARE(o.gateway.settingsPath, QStringLiteral("/x/g.ini"));
    QVERIFY(o.allowed(QHostAddress(QStringLiteral("192.0.2.200"))));
    QVERIFY(o.allowed(QHostAddress(QStringLiteral("10.1.9.9"))));
    QVERIFY(!o.allowed(QHostAddress(QStringLiteral("127.0.0.1")))); // the list replaces loopback
}

void TestGatewayProgram::demoServesAPanel()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString settings = dir.filePath(QStringLiteral("gateway.ini"));
    QProcess gateway;
    gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH),
        {QStringLiteral("--demo"), QStringLiteral("--videohub-port"), QStringLiteral("0"),
            QStringLiteral("--http-port"), QStringLiteral("0"), QStringLiteral("--settings"),
            settings});
    QVERIFY(gateway.waitForStarted());
    QByteArray out;
    const QRegularExpression ready(
        QStringLiteral("Videohub server listening on 127.0.0.1:(\\d+)\n"));
    QRegularExpressionMatch match;
    QTRY_VERIFY_WITH_TIMEOUT((out += gateway.readAllStandardOutput(),
                                 match = ready.match(QString::fromUtf8(out)), match.hasMatch()),
        10000);

    QTcpSocket panel;
    QByteArray in;
    connect(&panel, &QTcpSocket::readyRead, this, [&] { in += panel.readAll(); });
    panel.connectToHost(QHostAddress::LocalHost, match.captured(1).toUShort());
    QTRY_VERIFY(in.contains("Device present: true\n") && in.contains("END PRELUDE:\n\n"));
    in.clear();
    panel.write("OUTPUT LABELS:\n2 Screen\n\nVIDEO OUTPUT ROUTING:\n2 5\n\n");
    QTRY_COMPARE(
        in, QByteArray("ACK\n\nOUTPUT LABELS:\n2 Screen\n\nACK\n\nVIDEO OUTPUT ROUTING:\n2 5\n\n"));

    ::kill(pid_t(gateway.processId()), SIGTERM);
    QVERIFY(gateway.waitForFinished(10000));
    QCOMPARE(gateway.exitStatus(), QProcess::NormalExit);
    QCOMPARE(gateway.exitCode(), 0);
    QFile file(settings);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("Out3=Screen"));
}

// A switcher that takes the connection and never answers keeps the gateway's first request
// waiting for its reply; SIGTERM must end that wait rather than let it run to its time-outs
// (five attempts of five seconds).
void TestGatewayProgram::stopsDuringAnOperation()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    QByteArray asked;
    QTcpSocket *line = nullptr;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        line = silent.nextPendingConnection();
        connect(line, &QTcpSocket::readyRead, this, [&] { asked += line->readAll(); });
    });
    QTemporaryDir dir;
    QProcess gateway;
    gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH),
        {QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()),
            QStringLiteral("--videohub-port"), QStringLiteral("0"), QStringLiteral("--http-port"),
            QStringLiteral("0"), QStringLiteral("--settings"),
            dir.filePath(QStringLiteral("gateway.ini"))});
    QVERIFY(gateway.waitForStarted());
    QTRY_VERIFY(asked.size() >= 13); // the first request is out and waits for its reply
    ::kill(pid_t(gateway.processId()), SIGTERM);
    QVERIFY(gateway.waitForFinished(3000));
    QCOMPARE(gateway.exitCode(), 0);
}

void TestGatewayProgram::weakTokenRefused()
{
    QTemporaryDir dir;
    const QString token = dir.filePath(QStringLiteral("token"));
    QFile file(token);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("fifteen-chars-x\n");
    file.close();
    QProcess gateway;
    gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH),
        {QStringLiteral("--demo"), QStringLiteral("--token-file"), token,
            QStringLiteral("--videohub-port"), QStringLiteral("0"), QStringLiteral("--http-port"),
            QStringLiteral("0"), QStringLiteral("--settings"),
            dir.filePath(QStringLiteral("gateway.ini"))});
    QVERIFY(gateway.waitForFinished(10000));
    QCOMPARE(gateway.exitCode(), 2);
    const QByteArray said = gateway.readAllStandardError();
    QVERIFY2(said.contains("has 15 characters") && said.contains("at least 16"), said.constData());
    QVERIFY(gateway.readAllStandardOutput().isEmpty());
}

void TestGatewayProgram::makesAToken()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("token"));
    QProcess make;
    make.start(QStringLiteral(MATRIX_GATEWAY_PATH), {QStringLiteral("--make-token"), path});
    QVERIFY(make.waitForFinished(10000));
    QCOMPARE(make.exitCode(), 0);
    const QByteArray said = make.readAllStandardOutput();
    QVERIFY2(said.contains("LoadCredential=token:" + path.toUtf8() + "\n")
            && said.contains("--token-file ${CREDENTIALS_DIRECTORY}/token"),
        said.constData());
    QFile file(path);
    QCOMPARE(file.permissions()
            & ~(QFile::ReadUser | QFile::WriteUser | QFile::ReadOwner | QFile::WriteOwner),
        QFile::Permissions());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray token = file.readAll();
    QVERIFY(QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{43}\n$"))
                .match(QString::fromLatin1(token))
                .hasMatch());
    file.close();

    // A second token never replaces the one clients already use.
    make.start(QStringLiteral(MATRIX_GATEWAY_PATH), {QStringLiteral("--make-token"), path});
    QVERIFY(make.waitForFinished(10000));
    QCOMPARE(make.exitCode(), 2);
    QVERIFY(make.readAllStandardError().contains("it exists"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), token);
}

QTEST_GUILESS_MAIN(TestGatewayProgram)
#include "tst_gatewayprogram.moc"
