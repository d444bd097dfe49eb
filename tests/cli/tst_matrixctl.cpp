// matrixctl against the simulated switcher: in-process for the command table, and the real
// programs as processes for what a script sees.
#include "../SpecialFiles.h"
#include "EdidCommands.h"
#include "MatrixCtlRunner.h"
#include "SimFaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class TestMatrixCtl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void commands_data();
    void commands();
    void routeSetPutsExactBytesOnTheWire_data();
    void routeSetPutsExactBytesOnTheWire();
    void linkFailures_data();
    void linkFailures();
    void badTargets_data();
    void badTargets();
    void serialPaths_data();
    void serialPaths();
    void faultyLine_data();
    void faultyLine();
    void busySwitcher_data();
    void busySwitcher();
    void json_data();
    void json();
    void targetFromEnvironment_data();
    void targetFromEnvironment();
    void programs();
    void readmeListsEveryCommand();

private:
    std::unique_ptr<testsupport::MatrixCtlFixture> m_ctl;
};

void TestMatrixCtl::init()
{
    m_ctl = std::make_unique<testsupport::MatrixCtlFixture>();
    QVERIFY(m_ctl->listening());
}

void TestMatrixCtl::cleanup()
{
    m_ctl.reset();
}

void TestMatrixCtl::commands_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<int>("requests");

    const auto row = [](const char *name, const char *args, int code, const char *out,
                         const char *err, int requests) {
        QTest::newRow(name) << QString::fromLatin1(args).split(QLatin1Char(' '), Qt::SkipEmptyParts)
                            << code << QString::fromLatin1(out) << QString::fromLatin1(err)
                            << requests;
    };
    row("info", "info", 0, "Model: HDMI Matrix 6x6 (2)\nSize: 6x6\nFirmware: 6.50\n", "", 3);
    row("route get one", "route get 4", 0, "Output4: Input4\n", "", 1);
    row("route get all", "route get", 0,
        "Output1: Input1\nOutput2: Input2\nOutput3: Input3\nOutput4: Input4\nOutput5: "
        "Input5\nOutput6: Input6\n",
        "", 6);
    row("route set", "route set 5 1", 0, "Output1: Input5\n", "", 1);
    // Ports are those the window offers: outside them nothing goes on the wire.
    row("route an input outside 1..6", "route set 7 1", 2, "",
        "matrixctl: IN must be 1..6; see matrixctl --help\n", 0);
    row("route to an output outside 1..6", "route set 1 7", 2, "",
        "matrixctl: OUT must be 1..6; see matrixctl --help\n", 0);
    row("read an output outside 1..6", "route get 9", 2, "",
        "matrixctl: OUT must be 1..6; see matrixctl --help\n", 0);
    row("route all", "route all 3", 0,
        "Output1: Input3\nOutput2: Input3\nOutput3: Input3\nOutput4: Input3\nOutput5: "
        "Input3\nOutput6: Input3\n",
        "", 6);
    row("route port-to-port", "route port-to-port", 0,
        "Output1: Input1\nOutput2: Input2\nOutput3: Input3\nOutput4: Input4\nOutput5: "
        "Input5\nOutput6: Input6\n",
        "", 6);
    row("route all from an input outside 1..6", "route all 7", 2, "",
        "matrixctl: IN must be 1..6; see matrixctl --help\n", 0);
    row("power status", "power status", 0, "Power: on\n", "", 1);
    row("power off", "power off", 0, "Power: off\n", "", 1);
    row("send", "send 01 02 0xFE", 0, "A5 5B 01 02 06 00 06 00 00 00 00 00 F1\nSuccess\n", "", 1);
    row("send refused", "send 7f 01", 1, "A5 5B 7F 01 FF 00 00 00 00 00 00 00 81\nFailed\n",
        "matrixctl: Send data failed!\n", 5);
    // Options of matrixctl may follow the command.
    row("option after the command", "route get 4 --json", 0, "{\"input\":4,\"output\":4}\n", "", 1);
    // bad arguments: one line, exit 2, nothing on the wire
    row("no command", "", 2, "", "matrixctl: no command given; see matrixctl --help\n", 0);
    row("unknown command", "reboot", 2, "", "matrixctl: unknown command; see matrixctl --help\n",
        0);
    row("port not a number", "route set x 2", 2, "",
        "matrixctl: IN must be 1..6; see matrixctl --help\n", 0);
    row("port zero", "route get 0", 2, "", "matrixctl: OUT must be 1..6; see matrixctl --help\n",
        0);
    // The parser's sentence loses its full stop before the pointer to the help.
    row("unknown option", "-v info", 2, "", "matrixctl: Unknown option 'v'; see matrixctl --help\n",
        0);
    row("route all without a port", "route all", 2, "",
        "matrixctl: route takes get [OUT], set IN OUT, all IN or port-to-port; see matrixctl "
        "--help\n",
        0);
    row("power what", "power maybe", 2, "",
        "matrixctl: power takes status, on or off; see matrixctl --help\n", 0);
    row("send word too big", "send 01 02 65536", 2, "",
        "matrixctl: words must be 0..65535 (decimal or 0x-hex); see matrixctl --help\n", 0);
    row("send byte too big", "send 100 02", 2, "",
        "matrixctl: CMD and SUB must be hex bytes; see matrixctl --help\n", 0);
}

void TestMatrixCtl::commands()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(int, requests);

    const QStringList target{QStringLiteral("--tcp"), QStringLiteral("{tcp}")};
    QCOMPARE(m_ctl->run(target + args), exitCode);
    QCOMPARE(m_ctl->out(), out);
    QCOMPARE(m_ctl->err(), err);
    QCOMPARE(m_ctl->sim().received().size(), requests);
}

void TestMatrixCtl::routeSetPutsExactBytesOnTheWire_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("tcp") << false;
    QTest::newRow("serial") << true;
}

void TestMatrixCtl::routeSetPutsExactBytesOnTheWire()
{
    QFETCH(bool, serial);
    QStringList target;
    if (serial) {
        const QString pty = m_ctl->sim().openPty();
        QVERIFY2(!pty.isEmpty(), qPrintable(m_ctl->sim().ptyError()));
        target = {QStringLiteral("--serial"), pty};
    } else {
        target = {QStringLiteral("--tcp"), QStringLiteral("{tcp}")};
    }
    QCOMPARE(m_ctl->run(target
                 + QStringList{QStringLiteral("route"), QStringLiteral("set"), QStringLiteral("3"),
                     QStringLiteral("2")}),
        0);
    QCOMPARE(
        m_ctl->sim().received(), QByteArrayList{QByteArray::fromHex("a55b02030300020000000000f6")});
    QCOMPARE(m_ctl->sim().simulator().state().routes[1], 3);
}

void TestMatrixCtl::linkFailures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("err");
    QTest::newRow("refused connection")
        << QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:1"),
               QStringLiteral("info")}
        << QStringLiteral("matrixctl: Connect 127.0.0.1:1 failed: Connection refused\n");
    QTest::newRow("no such serial port")
        << QStringList{QStringLiteral("--serial"), QStringLiteral("/dev/no-such-port"),
               QStringLiteral("info")}
        << QStringLiteral("matrixctl: Open COM [/dev/no-such-port] failed: "
                          "No such file or directory\n");
    QTest::newRow("silent switcher") << QStringList{QStringLiteral("power"), QStringLiteral("on")}
                                     << QStringLiteral("matrixctl: Time out!\n");
}

void TestMatrixCtl::linkFailures()
{
    QFETCH(QStringList, args);
    QFETCH(QString, err);
    if (!args.first().startsWith(QLatin1String("--"))) {
        m_ctl->sim().faults().dropReplies = 5;
        args = QStringList{QStringLiteral("--tcp"), QStringLiteral("{tcp}")} + args;
    }
    QCOMPARE(m_ctl->run(args), 1);
    QCOMPARE(m_ctl->err(), err);
    QVERIFY(m_ctl->out().isEmpty());
}

void TestMatrixCtl::badTargets_data()
{
    QTest::addColumn<QStringList>("target");
    QTest::addColumn<QString>("why");
    const QString serial = QStringLiteral("--serial takes the PATH of a serial port");
    QTest::newRow("empty serial path")
        << QStringList{QStringLiteral("--serial"), QString()} << serial;
    QTest::newRow("blank serial path")
        << QStringList{QStringLiteral("--serial"), QStringLiteral(" ")} << serial;
    const QString tcp = QStringLiteral("--tcp takes HOST or HOST:PORT");
    QTest::newRow("empty host") << QStringList{QStringLiteral("--tcp"), QString()} << tcp;
    QTest::newRow("a third field") << QStringList{u"--tcp"_s, u"127.0.0.1:8000:9"_s} << tcp;
    QTest::newRow("a signed port") << QStringList{u"--tcp"_s, u"127.0.0.1:+80"_s} << tcp;
    QTest::newRow("a port with a space") << QStringList{u"--tcp"_s, u"127.0.0.1: 80"_s} << tcp;
}

// A target that names nothing is a bad argument, not a link that failed.
void TestMatrixCtl::badTargets()
{
    QFETCH(QStringList, target);
    QFETCH(QString, why);
    QCOMPARE(m_ctl->run(target + QStringList{QStringLiteral("info")}), 2);
    QCOMPARE(m_ctl->err(),
        QStringLiteral("matrixctl: ") + why + QStringLiteral("; see matrixctl --help\n"));
    QVERIFY(m_ctl->out().isEmpty());
}

void TestMatrixCtl::serialPaths_data()
{
    // In a fresh current folder that holds "simtty" and "sub/simtty", links to the simulator's
    // pty, a file "plain", a FIFO "fifo" and a folder "dir"; %1 is that folder. Empty err:
    // the route is read.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("err");
    QTest::newRow("a bare name in the current folder") << u"simtty"_s << QString();
    QTest::newRow("a relative path") << u"sub/simtty"_s << QString();
    QTest::newRow("an absolute path") << u"%1/simtty"_s << QString();
    QTest::newRow("a bare name that is a device")
        << u"null"_s
        << u"Open COM [/dev/null] failed: it is a device that is not a serial port (not a "
           u"terminal)"_s;
    QTest::newRow("a bare name found nowhere")
        << u"no-such-tty"_s << u"Open COM [/dev/no-such-tty] failed: No such file or directory"_s;
    QTest::newRow("a relative path to nothing")
        << u"sub/none"_s << u"Open COM [%1/sub/none] failed: No such file or directory"_s;
    QTest::newRow("a regular file")
        << u"plain"_s << u"Open COM [%1/plain] failed: it is a regular file, not a serial port"_s;
    QTest::newRow("a FIFO") << u"fifo"_s
                            << u"Open COM [%1/fifo] failed: it is a pipe, not a serial port"_s;
    QTest::newRow("a folder") << u"dir"_s
                              << u"Open COM [%1/dir] failed: it is a folder, not a serial port"_s;
}

// --serial takes a path as the shell gives it; only a bare name found nowhere is one under /dev.
void TestMatrixCtl::serialPaths()
{
    QFETCH(QString, path);
    QFETCH(QString, err);
    const QString pty = m_ctl->sim().openPty();
    QVERIFY2(!pty.isEmpty(), qPrintable(m_ctl->sim().ptyError()));
    QTemporaryDir dir;
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    QVERIFY(QDir(folder).mkpath(u"sub"_s) && QDir(folder).mkpath(u"dir"_s));
    QVERIFY(QFile::link(pty, folder + u"/simtty"_s));
    QVERIFY(QFile::link(pty, folder + u"/sub/simtty"_s));
    QFile plain(folder + u"/plain"_s);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QVERIFY(makeFifo(folder + u"/fifo"_s));

    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder));
    const int code
        = m_ctl->run(QStringList{u"--serial"_s, path.arg(folder), u"route"_s, u"get"_s, u"2"_s});
    QDir::setCurrent(before);
    if (err.isEmpty()) {
        QCOMPARE(m_ctl->err(), QString());
        QCOMPARE(code, 0);
        QCOMPARE(m_ctl->out(), u"Output2: Input2\n"_s);
    } else {
        QCOMPARE(m_ctl->err(), u"matrixctl: "_s + err.arg(folder) + u'\n');
        QCOMPARE(code, 1);
    }
}

void TestMatrixCtl::faultyLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("delayMs"); // before every reply
    QTest::addColumn<int>("split"); // pieces per reply
    QTest::addColumn<int>("extraBytes"); // garbage after every reply
    QTest::addColumn<bool>("mayFail"); // else it must succeed

    // Replies a little later than the time-out: each is the answer to a request already given
    // up, and only the command is echoed, so taken for a later request's answer it would be
    // wrong data reported as success. Scaled like the real 5.1 s against a 5 s time-out.
    const Timing t = Timing::fast();
    const int late = t.replyTimeoutMs() + t.drainGraceMs / 2;
    const QStringList routeGet{QStringLiteral("route"), QStringLiteral("get")};
    const QStringList edidRead{QStringLiteral("edid"), QStringLiteral("read"), QStringLiteral("2")};
    QTest::newRow("route get, replies late") << routeGet << late << 1 << 0 << true;
    QTest::newRow("edid read, replies late") << edidRead << late << 1 << 0 << true;
    // Garbage after each reply, split so that it arrives after the frame has completed: the
    // next frame is found by its lead bytes.
    QTest::newRow("route get, split replies with garbage") << routeGet << 0 << 13 << 7 << false;
    QTest::newRow("edid read, split replies with garbage") << edidRead << 0 << 13 << 7 << false;
    QTest::newRow("info, garbage before the next reply")
        << QStringList{QStringLiteral("info")} << 0 << 2 << 20 << false;
}

void TestMatrixCtl::faultyLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, delayMs);
    QFETCH(int, split);
    QFETCH(int, extraBytes);
    QFETCH(bool, mayFail);

    // Routes that tell the outputs apart, and what a sound line answers.
    m_ctl->sim().simulator().state().routes = {3, 5, 1, 6, 2, 4};
    const QStringList target{QStringLiteral("--tcp"), QStringLiteral("{tcp}")};
    QCOMPARE(m_ctl->run(target + args), 0);
    const QString expected = m_ctl->out();

    SimFaults &faults = m_ctl->sim().faults();
    faults.delayMs = delayMs;
    faults.splitInto = split;
    faults.extraBytes = extraBytes;
    const int code = m_ctl->run(target + args);
    if (code == 0)
        QCOMPARE(m_ctl->out(), expected);
    else
        QVERIFY2(mayFail && expected.startsWith(m_ctl->out()) && !m_ctl->err().isEmpty(),
            qPrintable(m_ctl->out() + m_ctl->err()));
}

void TestMatrixCtl::busySwitcher_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("delayed"); // replies delayed, each by `lateMs`; 0: every reply
    QTest::addColumn<int>("lateMs");

    // A switcher busy for longer than one reply wait (scaled like 5.4 s, 7 s and 12 s against
    // the real 5 s), then answering at once and in order; or one late with every reply.
    const int wait = Timing::fast().replyTimeoutMs();
    for (const char *args : {"route get", "route all 4", "preset apply 1"}) {
        QTest::addRow("%s, busy once (108%%)", args)
            << QString::fromLatin1(args) << 3 << wait * 108 / 100;
        QTest::addRow("%s, busy once (140%%)", args)
            << QString::fromLatin1(args) << 2 << wait * 140 / 100;
        QTest::addRow("%s, busy once (240%%)", args)
            << QString::fromLatin1(args) << 2 << wait * 240 / 100;
        QTest::addRow("%s, every reply late", args)
            << QString::fromLatin1(args) << 0 << wait * 6 / 5;
    }
}

// What a script reads is the switcher's state, or a failure: never another request's answer,
// and never a refusal reported as done. The switcher refuses output 6.
void TestMatrixCtl::busySwitcher()
{
    QFETCH(QString, args);
    QFETCH(int, delayed);
    QFETCH(int, lateMs);

    QTemporaryDir dir;
    QFile ini(dir.filePath(u"Settings.ini"_s));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Pre-Setting value]\nvalue1=2,3,4,5,1,3\n");
    ini.close();
    SwitcherState &state = m_ctl->sim().simulator().state();
    state.outputs = 5;
    const QStringList command
        = QStringList{u"--tcp"_s, u"{tcp}"_s, u"--settings"_s, ini.fileName()} + args.split(u' ');

    // What a switcher that answers at once says, from the same state.
    const auto initial = std::array<int, 6>{6, 5, 4, 3, 2, 1};
    state.routes = initial;
    const int cleanCode = m_ctl->run(command);
    const QString cleanOut = m_ctl->out();
    const auto cleanRoutes = state.routes;
    QVERIFY(cleanCode == 0 || !m_ctl->err().isEmpty());

    state.routes = initial;
    SimFaults &faults = m_ctl->sim().faults();
    if (delayed > 0) {
        faults.delayNext = delayed;
        faults.delayNextMs = lateMs;
    } else {
        faults.delayMs = lateMs;
    }
    const int code = m_ctl->run(command);
    const QString out = m_ctl->out();
    if (delayed > 0) {
        // Busy once: every request is answered in the end.
        QCOMPARE(code, cleanCode);
        QCOMPARE(out, cleanOut);
        QCOMPARE(state.routes, cleanRoutes);
    } else if (code == 0) {
        QCOMPARE(out, cleanOut);
    } else {
        QVERIFY2(cleanOut.startsWith(out) && !m_ctl->err().isEmpty(), qPrintable(out));
    }
    QVERIFY2(!out.contains(u"Output6: Input"_s), qPrintable(out));
}

void TestMatrixCtl::json_data()
{
    // Arguments after the target; the document on stdout (ending "...": its start); its exit
    // status. The names and shapes are those of the gateway's HTTP API.
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("document");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("info") << u"info"_s
                          << uR"({"model":"HDMI Matrix 6x6","modelNumber":2,"size":"6x6",)"
                             uR"("version":"6.50"})"_s
                          << 0;
    QTest::newRow("power status") << u"power status"_s << uR"({"power":true})"_s << 0;
    QTest::newRow("power off") << u"power off"_s << uR"({"power":false})"_s << 0;
    QTest::newRow("route get one") << u"route get 4"_s << uR"({"input":4,"output":4})"_s << 0;
    QTest::newRow("route get all") << u"route get"_s << uR"({"routes":[1,2,3,4,5,6]})"_s << 0;
    QTest::newRow("route set") << u"route set 1 2"_s << uR"({"input":1,"output":2})"_s << 0;
    QTest::newRow("route all") << u"route all 3"_s << uR"({"routes":[3,3,3,3,3,3]})"_s << 0;
    QTest::newRow("route port-to-port")
        << u"route port-to-port"_s << uR"({"routes":[1,2,3,4,5,6]})"_s << 0;
    // Settings.ini below: preset 2 leaves output 3 without an input, the COM tags name input 1,
    // one switcher has tags of its own.
    QTest::newRow("preset list")
        << u"preset list"_s
        << uR"({"presets":[{"n":1,"name":"Setting1","routes":[1,2,3,4,5,6]},)"
           uR"({"n":2,"name":"Stage \"left\"","routes":[6,5,null,3,2,1]},)"
           uR"({"n":3,"name":"Setting3","routes":[1,2,3,4,5,6]},)"
           uR"({"n":4,"name":"Setting4","routes":[1,2,3,4,5,6]},)"
           uR"({"n":5,"name":"Setting5","routes":[1,2,3,4,5,6]},)"
           uR"({"n":6,"name":"Setting6","routes":[1,2,3,4,5,6]},)"
           uR"({"n":7,"name":"Setting7","routes":[1,2,3,4,5,6]},)"
           uR"({"n":8,"name":"Setting8","routes":[1,2,3,4,5,6]}]})"_s
        << 0;
    QTest::newRow("preset apply") << u"preset apply 1"_s << uR"({"routes":[1,2,3,4,5,6]})"_s << 0;
    QTest::newRow("tags list")
        << u"tags list"_s
        << uR"({"tags":[{"inputs":["Camera","","","","",""],"mode":"COM","outputs":["","","","",)"
           uR"("",""]},{"inputs":["","","","","",""],"mac":"00-1A-2B-3C-4D-5E","mode":"TCP",)"
           uR"("outputs":["","Projector","","","",""]}]})"_s
        << 0;
    QTest::newRow("module info")
        << u"module info"_s
        << uR"({"addressMode":"Static IP","ip":"192.168.0.100","version":"2.1"})"_s << 0;
    QTest::newRow("edid modes") << u"edid modes"_s
                                << u"{\"modes\":[{\"n\":1,\"name\":\"{first mode}\"},..."_s << 0;
    QTest::newRow("edid mode") << u"edid mode default 2"_s
                               << uR"({"mode":"{default mode}","target":"Input2"})"_s << 0;
    // A failure: the text on stderr, and beside it a document with the API's error codes.
    QTest::newRow("refused") << u"send 7f 01"_s
                             << uR"({"error":"refused","message":"Send data failed!"})"_s << 1;
    QTest::newRow("not present")
        << u"--tcp 127.0.0.1:1 info"_s
        << uR"({"error":"not_present","message":"Connect 127.0.0.1:1 failed: Connection refused"})"_s
        << 1;
    QTest::newRow("bad argument") << u"route set 7 1"_s
                                  << uR"({"error":"bad_input","message":"IN must be 1..6"})"_s << 2;
    QTest::newRow("no preset input")
        << u"preset apply 2"_s
        << uR"({"error":"bad_input","message":"Output3: no input selected"})"_s << 1;
}

void TestMatrixCtl::json()
{
    QFETCH(QString, args);
    QFETCH(QString, document);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("Settings.ini"));
    QFile file(settings);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Pre-Setting name]\r\nSetting2=Stage \"left\"\r\n"
               "[Pre-Setting value]\r\nvalue2=6,5,,3,2,1\r\n"
               "[Tag of Input - COM]\r\nIn1=Camera\r\n"
               "[Tag of Output - TCP:00-1A-2B-3C-4D-5E]\r\nOut2=Projector\r\n");
    file.close();

    QCOMPARE(m_ctl->run(QStringList{QStringLiteral("--tcp"), QStringLiteral("{tcp}"),
                            QStringLiteral("--settings"), settings, QStringLiteral("--json")}
                 + args.split(QLatin1Char(' '))),
        exitCode);
    const QStringList modes = edidModeList();
    QString expected = document;
    expected.replace(u"{first mode}"_s, modes.value(1)).replace(u"{default mode}"_s, modes.last());
    if (expected.endsWith(u"..."_s)) // the start of the document
        QVERIFY2(m_ctl->out().startsWith(expected.chopped(3)), qPrintable(m_ctl->out()));
    else
        QCOMPARE(m_ctl->out(), expected + QLatin1Char('\n'));
    // One document on one line, and the reason of a failure on stderr as well.
    QCOMPARE(m_ctl->out().count(u'\n'), 1);
    if (exitCode == 0) {
        QCOMPARE(m_ctl->err(), QString());
    } else {
        const QString message = QJsonDocument::fromJson(m_ctl->out().toUtf8())
                                    .object()
                                    .value(u"message"_s)
                                    .toString();
        QVERIFY2(m_ctl->err().startsWith(u"matrixctl: "_s + message), qPrintable(m_ctl->err()));
    }
}

void TestMatrixCtl::targetFromEnvironment_data()
{
    // MATRIXCTL_TARGET ({tcp} and {pty}: the simulator's), the options; exit status and stderr.
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err");
    QTest::newRow("tcp") << u"tcp:{tcp}"_s << QString() << 0 << QString();
    QTest::newRow("serial") << u"serial:{pty}"_s << QString() << 0 << QString();
    QTest::newRow("an option wins over the environment")
        << u"tcp:127.0.0.1:1"_s << u"--tcp {tcp}"_s << 0 << QString();
    QTest::newRow("no kind of link")
        << u"{tcp}"_s << QString() << 2
        << u"matrixctl: MATRIXCTL_TARGET takes tcp:HOST[:PORT] or serial:PATH, not \"{tcp}\"; "
           u"see matrixctl --help\n"_s;
    QTest::newRow("tcp without a port number")
        << u"tcp:127.0.0.1:x"_s << QString() << 2
        << u"matrixctl: MATRIXCTL_TARGET takes tcp:HOST or tcp:HOST:PORT; see matrixctl --help\n"_s;
    QTest::newRow("neither") << QString() << QString() << 2
                             << u"matrixctl: choose one of --tcp HOST[:PORT] and --serial PATH, "
                                u"or set MATRIXCTL_TARGET; see matrixctl --help\n"_s;
}

void TestMatrixCtl::targetFromEnvironment()
{
    QFETCH(QString, target);
    QFETCH(QString, options);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    const QString pty = m_ctl->sim().openPty();
    QVERIFY2(!pty.isEmpty(), qPrintable(m_ctl->sim().ptyError()));
    m_ctl->runner().set(u"pty"_s, pty);
    const auto fill = [this](const QString &text) { return m_ctl->runner().fill(text); };
    qputenv("MATRIXCTL_TARGET", fill(target).toLocal8Bit());
    const int code = m_ctl->run(fill(options).split(QLatin1Char(' '), Qt::SkipEmptyParts)
        + QStringList{QStringLiteral("route"), QStringLiteral("get"), QStringLiteral("2")});
    qunsetenv("MATRIXCTL_TARGET");
    QCOMPARE(code, exitCode);
    QCOMPARE(m_ctl->err(), fill(err));
    QCOMPARE(m_ctl->out(), exitCode == 0 ? QStringLiteral("Output2: Input2\n") : QString());
    QCOMPARE(m_ctl->sim().received().size(), exitCode == 0 ? 1 : 0);
}

void TestMatrixCtl::programs()
{
    // matrix-sim as a process, announcing its port and pty; matrixctl as a process on both.
    testsupport::ProgramProcess sim;
    QVERIFY(sim.start(QStringLiteral(MATRIX_SIM_PATH),
        {QStringLiteral("--tcp-port"), QStringLiteral("0"), QStringLiteral("--pty")}));
    // It tells its port before its pty.
    const QString tcp = sim.nextLine(QStringLiteral("TCP "), 5000).mid(4);
    const QString pty = sim.nextLine(QStringLiteral("PTY "), 5000).mid(4);
    QVERIFY(!tcp.isEmpty() && !pty.isEmpty());

    const auto ctl = [](const QStringList &args) {
        return testsupport::runProgram(QStringLiteral(MATRIXCTL_PATH), args);
    };
    QCOMPARE(ctl({QStringLiteral("--tcp"), tcp, QStringLiteral("route"), QStringLiteral("set"),
                     QStringLiteral("3"), QStringLiteral("2")})
                 .code,
        0);
    const testsupport::ProgramRun get = ctl({QStringLiteral("--serial"), pty,
        QStringLiteral("route"), QStringLiteral("get"), QStringLiteral("2")});
    QCOMPARE(get.code, 0);
    QCOMPARE(get.out, QStringLiteral("Output2: Input3\n"));
    QCOMPARE(ctl({QStringLiteral("--tcp"), tcp, QStringLiteral("route"), QStringLiteral("set"),
                     QStringLiteral("8"), QStringLiteral("2")})
                 .code,
        2);
    QCOMPARE(ctl({QStringLiteral("route"), QStringLiteral("get")}).code, 2);

    // A result that cannot be written is a failure, with the reason.
    QProcess full;
    full.setStandardOutputFile(u"/dev/full"_s);
    full.start(
        QStringLiteral(MATRIXCTL_PATH), {u"--json"_s, u"--tcp"_s, tcp, u"route"_s, u"get"_s});
    QVERIFY(full.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(full.readAllStandardError()),
        u"matrixctl: write error: No space left on device\n"_s);
    QCOMPARE(full.exitCode(), 1);
    QVERIFY(sim.stop());
}

// The README's table of matrixctl's commands has a line for each command the help lists.
void TestMatrixCtl::readmeListsEveryCommand()
{
    QFile readme(QStringLiteral(MATRIX_SOURCE_DIR "/README.md"));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const qsizetype start = text.indexOf(u"matrixctl [--tcp"_s);
    QVERIFY(start >= 0);
    const QString table = text.mid(start, text.indexOf(u"```"_s, start) - start);

    QCOMPARE(m_ctl->run(QStringList{u"--help"_s}), 0);
    const QRegularExpression command(
        uR"(^  ([a-z][a-z|-]*(?: [a-z][a-z|-]*)?)(?: |$))"_s, QRegularExpression::MultilineOption);
    int listed = 0;
    for (const QRegularExpressionMatch &match : command.globalMatch(m_ctl->out())) {
        QVERIFY2(table.contains(u"\n  "_s + match.captured(1)), qPrintable(match.captured(1)));
        ++listed;
    }
    QVERIFY(listed > 20);
}

QTEST_GUILESS_MAIN(TestMatrixCtl)
#include "tst_matrixctl.moc"
