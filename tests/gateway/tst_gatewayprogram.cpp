// matrix-gateway as a user starts it: its command line, and the program itself with --demo,
// a panel on its Videohub port and a stop by SIGTERM.
#include "../SpecialFiles.h"
#include "GatewayCommandLine.h"

#include <QDir>
#include <QFile>
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
    void serversTurnedOff_data();
    void serversTurnedOff();
    void stopsDuringAnOperation();
    void silentSwitcherGivenUp_data();
    void silentSwitcherGivenUp();
    void refusesToStart_data();
    void refusesToStart();
    void movesAnUnreadableFileAside();
    void importTellsWhatItTook();
    void weakTokenRefused();
    void makesAToken();
};

namespace {

struct Run
{
    bool finished = false;
    int exitCode = -1;
    QString err;
    QString out;
};

// Runs matrix-gateway until it ends by itself, or for at most timeoutMs (then it is killed).
Run runGateway(const QStringList &arguments, int timeoutMs = 10000)
{
    QProcess gateway;
    gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH), arguments);
    Run run;
    if (!gateway.waitForStarted())
        return run;
    run.finished = gateway.waitForFinished(timeoutMs);
    if (!run.finished) {
        gateway.kill();
        gateway.waitForFinished();
    }
    run.exitCode = gateway.exitCode();
    run.err = QString::fromUtf8(gateway.readAllStandardError());
    run.out = QString::fromUtf8(gateway.readAllStandardOutput());
    return run;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

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
    row("reply timeout a word", {"--demo", "--reply-timeout", "soon"}, "--reply-timeout takes");
    row("reply timeout 0", {"--demo", "--reply-timeout", "0"}, "--reply-timeout takes");
    row("reply timeout in seconds", {"--demo", "--reply-timeout", "1.5"}, "--reply-timeout takes");
    row("reply timeout over a minute", {"--demo", "--reply-timeout", "60001"},
        "--reply-timeout takes");
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
    row("mqtt another scheme", {"--demo", "--mqtt", "http://broker"}, "--mqtt takes");
    row("mqtt without a host", {"--demo", "--mqtt", "mqtt://:1883"}, "--mqtt takes");
    row("mqtt with a path", {"--demo", "--mqtt", "mqtt://broker/x"}, "--mqtt takes");
    row("mqtt port 0", {"--demo", "--mqtt", "mqtt://broker:0"}, "--mqtt takes");
    row("mqtt option without --mqtt", {"--demo", "--mqtt-user", "u"}, "needs --mqtt URL");
    row("password without user", {"--demo", "--mqtt", "mqtt://b", "--mqtt-password-file", "p"},
        "needs --mqtt-user");
    row("cafile on plain mqtt", {"--demo", "--mqtt", "mqtt://b", "--mqtt-cafile", "ca.pem"},
        "mqtts://");
    row("mqtt id with a slash", {"--demo", "--mqtt", "mqtt://b", "--mqtt-id", "a/b"},
        "--mqtt-id takes");
    row("mqtt prefix with a wildcard", {"--demo", "--mqtt", "mqtt://b", "--mqtt-prefix", "m/#"},
        "--mqtt-prefix");
    row("discovery prefix with an empty level",
        {"--demo", "--mqtt", "mqtt://b", "--ha-discovery-prefix", "ha//x"}, "--mqtt-prefix");
    row("no server and no broker", {"--demo", "--no-videohub", "--no-http"},
        "leave no way to reach the switcher");
    row("videohub port of no videohub", {"--demo", "--no-videohub", "--videohub-port", "9991"},
        "contradict");
    row("http port of no http", {"--demo", "--no-http", "--http-port", "8081"},
        "--http-port is for the HTTP server");
    row("token without http", {"--demo", "--no-http", "--token-file", "t"},
        "--token-file is for the HTTP server");
    row("tls without http", {"--demo", "--no-http", "--tls-cert", "c", "--tls-key", "k"},
        "--tls-cert is for the HTTP server");
    row("remove without discovery", {"--mqtt", "mqtt://b", "--ha-remove", "--no-ha-discovery"},
        "contradict");
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
    // The gateway's own waits: a second for a reply, two tries.
    QCOMPARE(o.gateway.timing.replyTimeoutMs(), 1000);
    QCOMPARE(o.gateway.timing.commandAttempts, 2);
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
            QStringLiteral("--max-per-address=3"), QStringLiteral("--reply-timeout=250")},
        &o);
    QCOMPARE(parsed.kind, GatewayParse::Run);
    QVERIFY(o.insecureHttp && o.allowNamed);
    QCOMPARE(o.maxPerAddress, 3);
    QCOMPARE(o.gateway.host, QStringLiteral("fd00::5"));
    QCOMPARE(o.gateway.tcpPort, quint16(9000));
    QCOMPARE(o.gateway.pollMs, 500);
    QCOMPARE(o.gateway.timing.replyTimeoutMs(), 250);
    QCOMPARE(o.gateway.timing.commandAttempts, 2);
    QCOMPARE(o.videohubPort, quint16(0));
    QCOMPARE(o.gateway.settingsPath, QStringLiteral("/x/g.ini"));
    QVERIFY(o.allowed(QHostAddress(QStringLiteral("192.0.2.200"))));
    QVERIFY(o.allowed(QHostAddress(QStringLiteral("10.1.9.9"))));
    QVERIFY(!o.allowed(QHostAddress(QStringLiteral("127.0.0.1")))); // the list replaces loopback
    QVERIFY(o.videohub && o.http);

    // Only MQTT: no server, and no token, since the token guards the HTTP server alone.
    GatewayOptions m;
    QCOMPARE(parseGatewayArguments({QStringLiteral("matrix-gateway"), QStringLiteral("--tcp=h"),
                                       QStringLiteral("--no-videohub"), QStringLiteral("--no-http"),
                                       QStringLiteral("--mqtt=mqtt://b")},
                 &m)
                 .kind,
        GatewayParse::Run);
    QVERIFY(!m.videohub && !m.http && m.mqtt.enabled);
    // Panels beyond loopback without HTTP need no token either; the allow-list still applies.
    GatewayOptions v;
    QCOMPARE(
        parseGatewayArguments({QStringLiteral("matrix-gateway"), QStringLiteral("--tcp=h"),
                                  QStringLiteral("--no-http"), QStringLiteral("--listen=0.0.0.0")},
            &v)
            .kind,
        GatewayParse::Run);
    QVERIFY(v.videohub && !v.http);
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

void TestGatewayProgram::serversTurnedOff_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("videohub");
    QTest::addColumn<bool>("http");
    QTest::newRow("--no-videohub")
        << QStringList{QStringLiteral("--no-videohub"), QStringLiteral("--http-port=0")} << false
        << true;
    QTest::newRow("--no-http") << QStringList{QStringLiteral("--no-http"),
        QStringLiteral("--videohub-port=0")}
                               << true << false;
}

// A server turned off is neither announced nor started; the other one serves.
void TestGatewayProgram::serversTurnedOff()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, videohub);
    QFETCH(bool, http);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess gateway;
    gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH),
        arguments
            + QStringList{QStringLiteral("--demo"), QStringLiteral("--settings"),
                dir.filePath(QStringLiteral("gateway.ini"))});
    QVERIFY(gateway.waitForStarted());
    QString out;
    const QRegularExpression ready(QStringLiteral("(Videohub|HTTP) server listening on "
                                                  "127.0.0.1:(\\d+)\n"));
    QRegularExpressionMatch match;
    QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromUtf8(gateway.readAllStandardOutput()),
                                 match = ready.match(out), match.hasMatch()),
        10000);
    QCOMPARE(match.captured(1), videohub ? QStringLiteral("Videohub") : QStringLiteral("HTTP"));
    // The server that is on answers.
    QTcpSocket client;
    QByteArray in;
    connect(&client, &QTcpSocket::readyRead, this, [&] { in += client.readAll(); });
    client.connectToHost(QHostAddress::LocalHost, match.captured(2).toUShort());
    if (http)
        client.write("GET /api/v1/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(
        in.contains(http ? QByteArray("HTTP/1.1 200") : QByteArray("END PRELUDE:\n\n")), 10000);

    ::kill(pid_t(gateway.processId()), SIGTERM);
    QVERIFY(gateway.waitForFinished(10000));
    QCOMPARE(gateway.exitCode(), 0);
    out += QString::fromUtf8(gateway.readAllStandardOutput());
    QCOMPARE(out.contains(QStringLiteral("Videohub server listening")), videohub);
    QCOMPARE(out.contains(QStringLiteral("HTTP server listening")), http);
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

void TestGatewayProgram::silentSwitcherGivenUp_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("default reply time-out") << QStringList();
    QTest::newRow("--reply-timeout 200")
        << QStringList{QStringLiteral("--reply-timeout"), QStringLiteral("200")};
}

// A switcher that takes the connection and never answers: the gateway's first request goes
// out twice, each waiting its reply time-out, and then the gateway gives the link up.
void TestGatewayProgram::silentSwitcherGivenUp()
{
    QFETCH(QStringList, arguments);
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    QByteArray asked;
    bool closed = false;
    QTcpSocket *line = nullptr;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *next = silent.nextPendingConnection();
        if (line) // opened again later: not this test's business
            return next->abort();
        line = next;
        connect(line, &QTcpSocket::readyRead, this, [&] { asked += line->readAll(); });
        connect(line, &QTcpSocket::disconnected, this, [&] { closed = true; });
    });
    QTemporaryDir dir;
    QProcess gateway;
    gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH),
        QStringList{QStringLiteral("--tcp"),
            QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), QStringLiteral("--poll"),
            QStringLiteral("0"), QStringLiteral("--videohub-port"), QStringLiteral("0"),
            QStringLiteral("--http-port"), QStringLiteral("0"), QStringLiteral("--settings"),
            dir.filePath(QStringLiteral("gateway.ini"))}
            + arguments);
    QVERIFY(gateway.waitForStarted());
    QTRY_VERIFY2_WITH_TIMEOUT(closed || gateway.state() == QProcess::NotRunning,
        qPrintable(QString::fromUtf8(gateway.readAllStandardError())), 15000);
    QCOMPARE(gateway.state(), QProcess::Running);
    // The model query, twice, and nothing more on that connection.
    QCOMPARE(asked.size(), 26);
    QCOMPARE(asked.mid(13), asked.left(13));
    QCOMPARE(quint8(asked.at(2)), quint8(0x01));
    ::kill(pid_t(gateway.processId()), SIGTERM);
    QVERIFY(gateway.waitForFinished(10000));
    QCOMPARE(gateway.exitCode(), 0);
}

void TestGatewayProgram::refusesToStart_data()
{
    QTest::addColumn<QString>(
        "settings"); // gateway.ini: "file", "folder", "fifo", "device link", "no folder"
    QTest::addColumn<QString>(
        "token"); // the token file: "", "file", "fifo", "zero", "folder", "large"
    QTest::addColumn<QByteArray>("import"); // a window's Settings.ini to import; null: none
    QTest::addColumn<QString>("says");
    const QByteArray none;
    QTest::newRow("gateway.ini a folder") << "folder"
                                          << "" << none << "it is a folder";
    QTest::newRow("gateway.ini a FIFO") << "fifo"
                                        << "" << none << "it is a pipe";
    QTest::newRow("gateway.ini a link to a device") << "device link"
                                                    << "" << none << "it is a device";
    QTest::newRow("--settings in a missing folder") << "no folder"
                                                    << "" << none << "no file can be made";
    QTest::newRow("token file a FIFO") << "file"
                                       << "fifo" << none << "it is a pipe";
    QTest::newRow("token file a device") << "file"
                                         << "zero" << none << "it is a device";
    QTest::newRow("token file a folder") << "file"
                                         << "folder" << none << "it is a folder";
    QTest::newRow("token file too large") << "file"
                                          << "large" << none << "larger than 4096";
    QTest::newRow("import of an empty file") << "file"
                                             << "" << QByteArray("") << "has no port tags";
    QTest::newRow("import of COM tags while serving a network switcher")
        << "file"
        << "" << QByteArray("[Tag of Input - COM]\nIn1=Camera\n") << "has no port tags";
}

// Every refusal to start exits 2 at once with its reason, and leaves gateway.ini as it was.
void TestGatewayProgram::refusesToStart()
{
    QFETCH(QString, settings);
    QFETCH(QString, token);
    QFETCH(QByteArray, import);
    QFETCH(QString, says);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString ini = dir.filePath(QStringLiteral("gateway.ini"));
    const QByteArray labels("[Input labels]\nIn1=Camera\n");
    if (settings == QLatin1String("file"))
        QVERIFY(writeAll(ini, labels));
    else if (settings == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(ini));
    else if (settings == QLatin1String("fifo"))
        QVERIFY(makeFifo(ini));
    else if (settings == QLatin1String("device link"))
        QVERIFY(makeDeviceNode(dir.filePath(QStringLiteral("null")))
            && QFile::link(dir.filePath(QStringLiteral("null")), ini));
    else
        ini = dir.filePath(QStringLiteral("none/gateway.ini"));
    // A switcher that is never asked: the gateway must end before it serves.
    QStringList arguments{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:1"),
        QStringLiteral("--videohub-port"), QStringLiteral("0"), QStringLiteral("--http-port"),
        QStringLiteral("0"), QStringLiteral("--settings"), ini};
    const QString tokenFile = dir.filePath(QStringLiteral("token"));
    if (token == QLatin1String("fifo"))
        QVERIFY(makeFifo(tokenFile));
    else if (token == QLatin1String("zero"))
        QVERIFY(makeDeviceNode(tokenFile, 5));
    else if (token == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(tokenFile));
    else if (token == QLatin1String("large"))
        QVERIFY(writeAll(tokenFile, "a-strong-token-of-many-characters\n" + QByteArray(5000, '#')));
    if (!token.isEmpty())
        arguments << QStringLiteral("--token-file") << tokenFile;
    if (!import.isNull()) {
        const QString windowFile = dir.filePath(QStringLiteral("Settings.ini"));
        QVERIFY(writeAll(windowFile, import));
        arguments << QStringLiteral("--import-settings") << windowFile;
    }

    const mode_t type = fileType(ini);
    const Run run = runGateway(arguments);
    QVERIFY2(run.finished, "still running after 10 s");
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(says), qPrintable(run.err));
    QVERIFY2(!run.out.contains(QStringLiteral("listening")), qPrintable(run.out));
    QCOMPARE(fileType(ini), type);
    if (settings == QLatin1String("file"))
        QCOMPARE(readAll(ini), labels);
}

// A gateway.ini that cannot be read completely is kept aside, named with the new one on stderr,
// and the gateway serves with what could be read.
void TestGatewayProgram::movesAnUnreadableFileAside()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("gateway.ini"));
    const char text[] = "[Input labels]\nIn1=Camera\nIn2=\0\n";
    const QByteArray bytes(text, sizeof text - 1);
    QVERIFY(writeAll(ini, bytes));
    QProcess gateway;
    gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH),
        {QStringLiteral("--demo"), QStringLiteral("--videohub-port"), QStringLiteral("0"),
            QStringLiteral("--http-port"), QStringLiteral("0"), QStringLiteral("--settings"), ini});
    QVERIFY(gateway.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT(
        (out += gateway.readAllStandardOutput(), out.contains("HTTP server listening")), 10000);
    const QString err = QString::fromUtf8(gateway.readAllStandardError());
    ::kill(pid_t(gateway.processId()), SIGTERM);
    QVERIFY(gateway.waitForFinished(10000));
    QCOMPARE(gateway.exitCode(), 0);

    const QStringList backups = QDir(dir.path()).entryList({QStringLiteral("gateway.ini.bak-*")});
    QCOMPARE(backups.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^gateway\\.ini\\.bak-\\d{4}-\\d\\d-\\d\\d-\\d{6}$"))
                 .match(backups.first())
                 .hasMatch(),
        qPrintable(backups.first()));
    const QString backup = dir.filePath(backups.first());
    QCOMPARE(readAll(backup), bytes);
    QVERIFY2(err.contains(ini) && err.contains(backup), qPrintable(err));
    QVERIFY(readAll(ini).contains("In1=Camera"));
}

// --import-settings takes what the file has for the switcher, says so, then serves.
void TestGatewayProgram::importTellsWhatItTook()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("gateway.ini"));
    QVERIFY(writeAll(ini, "[Output labels]\nOut1=Stage\n"));
    const QString windowFile = dir.filePath(QStringLiteral("Settings.ini"));
    QVERIFY(writeAll(windowFile, "[Pre-Setting name]\nSetting3=Show\n"));
    QProcess gateway;
    gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH),
        {QStringLiteral("--demo"), QStringLiteral("--videohub-port"), QStringLiteral("0"),
            QStringLiteral("--http-port"), QStringLiteral("0"), QStringLiteral("--settings"), ini,
            QStringLiteral("--import-settings"), windowFile});
    QVERIFY(gateway.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT(
        (out += gateway.readAllStandardOutput(), out.contains("HTTP server listening")), 10000);
    ::kill(pid_t(gateway.processId()), SIGTERM);
    QVERIFY(gateway.waitForFinished(10000));
    QVERIFY2(out.contains("Imported from " + windowFile.toUtf8() + ": no labels")
            && out.contains("presets 3\n"),
        out.constData());
    const QByteArray kept = readAll(ini);
    QVERIFY2(kept.contains("Out1=Stage") && kept.contains("Name3=Show"), kept.constData());
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
