// matrixctl's EDID commands against the simulated switcher: in-process for the requests on
// the wire and the switcher's memories, and as real programs over a pty for what a script
// sees, edid-decode reading the file matrixctl wrote.
#include "../SpecialFiles.h"
#include "EdidFixture.h"
#include "EdidTexts.h"
#include "MatrixCtlRunner.h"
#include "SimEdidData.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

using Setup = std::function<void(SimulatorServer &)>;
Q_DECLARE_METATYPE(Setup)

class TestEdidCtl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void check_data();
    void check();
    void device_data();
    void device();
    void specialFiles_data();
    void specialFiles();
    void programs();

private:
    // On the simulator; "{dir}" in an argument is the test folder.
    int run(const QStringList &args)
    {
        return m_ctl->run(QStringList{u"--tcp"_s, u"{tcp}"_s} + args);
    }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    std::unique_ptr<testsupport::MatrixCtlFixture> m_ctl;
};

void TestEdidCtl::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QByteArray good = EdidFixture::make();
    QByteArray badSum = good;
    badSum[200] = static_cast<char>(badSum[200] + 1);
    const std::pair<const char *, QByteArray> files[]
        = {{"good.bin", good}, {"good257.bin", good + '\x01'}, {"short.bin", good.left(128)},
            {"badsum.bin", badSum}, {"huge.bin", good.repeated(4096)}};
    for (const auto &[name, bytes] : files) {
        QFile file(path(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
}

void TestEdidCtl::init()
{
    m_ctl = std::make_unique<testsupport::MatrixCtlFixture>();
    QVERIFY(m_ctl->listening());
    m_ctl->runner().set(u"dir"_s, m_dir.path());
    QFile::remove(path(u"out.bin"_s));
}

void TestEdidCtl::cleanup()
{
    m_ctl.reset();
}

void TestEdidCtl::check_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    // The same facts for scripts: matrixctl --json edid check FILE.
    QTest::addColumn<QString>("document");
    const QString summary = u"ABC 0x1234 \"Test Monitor\" 1920x1080@60\n"_s;
    const QString accepted
        = uR"({"accepted":true,"decoded":true,"manufacturer":"ABC","monitorName":"Test Monitor",)"
          uR"("preferredTiming":"1920x1080@60","productCode":4660,)"
          uR"("summary":"ABC 0x1234 \"Test Monitor\" 1920x1080@60"})"_s;
    const QString refused
        = uR"({"accepted":false,"decoded":true,"manufacturer":"ABC","monitorName":"Test Monitor",)"
          uR"("preferredTiming":"1920x1080@60","productCode":4660,"reason":"%1",)"
          uR"("summary":"ABC 0x1234 \"Test Monitor\" 1920x1080@60"})"_s;
    QTest::newRow("accepted") << u"good.bin"_s << 0 << summary + u"accepted\n"_s << QString()
                              << accepted;
    QTest::newRow("257 bytes") << u"good257.bin"_s << 0 << summary + u"accepted\n"_s << QString()
                               << accepted;
    QTest::newRow("128 bytes") << u"short.bin"_s << 1
                               << summary + u"refused: size 128, not 256 or 257 bytes\n"_s
                               << QString() << refused.arg(u"size 128, not 256 or 257 bytes"_s);
    QTest::newRow("1 MiB") << u"huge.bin"_s << 1
                           << summary + u"refused: size 1048576, not 256 or 257 bytes\n"_s
                           << QString() << refused.arg(u"size 1048576, not 256 or 257 bytes"_s);
    QTest::newRow("bad sum") << u"badsum.bin"_s << 1
                             << summary + u"refused: bytes 0-255 do not sum to 0 modulo 256\n"_s
                             << QString()
                             << refused.arg(u"bytes 0-255 do not sum to 0 modulo 256"_s);
    QTest::newRow("missing") << u"missing.bin"_s << 1 << QString()
                             << u"Cannot open EDID file %1: No such file or directory\n"_s
                             << uR"({"error":"bad_input","message":"Cannot open EDID file %1: )"
                                uR"(No such file or directory"})"_s;
}

void TestEdidCtl::check()
{
    QFETCH(QString, file);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QString, document);
    QCOMPARE(run({u"edid"_s, u"check"_s, u"{dir}/"_s + file}), exitCode);
    QCOMPARE(m_ctl->out(), out);
    QCOMPARE(m_ctl->err(),
        testsupport::ctlErrorLines(err.contains(u"%1"_s) ? err.arg(path(file)) : err));
    QCOMPARE(run({u"--json"_s, u"edid"_s, u"check"_s, u"{dir}/"_s + file}), exitCode);
    QCOMPARE(m_ctl->out(), document.isEmpty() ? QString() : document.arg(path(file)) + u'\n');
    QCOMPARE(m_ctl->err(),
        testsupport::ctlErrorLines(err.contains(u"%1"_s) ? err.arg(path(file)) : err));
    QVERIFY(m_ctl->sim().received().isEmpty());
}

void TestEdidCtl::device_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // its start, when it ends with "..."
    QTest::addColumn<QString>("err");
    QTest::addColumn<QStringList>("requests"); // "cmd/sub word1 word2" of each frame
    QTest::addColumn<int>("memory"); // input 1-6, 8/9 user memory 1/2; 0 none
    QTest::addColumn<QByteArray>("content"); // of that memory, or of {dir}/out.bin

    const Setup none;
    const auto unplug = [](int output) {
        return Setup([output](SimulatorServer &s) {
            s.simulator().state().outputConnected[std::size_t(output - 1)] = false;
        });
    };
    const QByteArray fixture = EdidFixture::make();
    const QString display2 = u"SIM 0x0102 \"SIM Display 2\" 3840x2160@60"_s;
    const QString notConnected = u"EDID can not be read because output not connected. Output%1\n"_s;
    const auto row = [](const char *name, const char *args) -> QTestData & {
        return QTest::newRow(name) << QString::fromLatin1(args).split(QLatin1Char(' '));
    };

    row("read into a file", "edid read 2 -o {dir}/out.bin")
        << none << 0 << u"Output2: "_s + display2 + u'\n' << QString()
        << QStringList{u"01/05 0002 0000"_s, u"03/05 F002 0000"_s, u"03/05 00AA 0000"_s} << 0
        << SimEdidData::displayEdid(2);
    row("read and show", "edid read 2")
        << none << 0 << u"Output2: "_s + display2 + u"\n    0  1  2  3  4  5..."_s << QString()
        << QStringList{u"01/05 0002 0000"_s, u"03/05 F002 0000"_s, u"03/05 00AA 0000"_s} << 0
        << QByteArray();
    row("read from an output without a display", "edid read 3 -o {dir}/out.bin")
        << unplug(3) << 1 << QString() << notConnected.arg(3) << QStringList{u"01/05 0003 0000"_s}
        << 0 << QByteArray();
    // The window's words: the size, and that only 256-byte EDIDs are shown.
    row("read of an EDID of another size", "edid read 4 -o {dir}/out.bin")
        << Setup([](SimulatorServer &s) {
               s.edid().setDisplayEdid(4, SimEdidData::displayEdid(4).left(128));
           })
        << 1 << QString() << EdidTexts::readSizeRefused(4, 128).replace(u"\r\n"_s, u" "_s) + u"\n"_s
        << QStringList{u"01/05 0004 0000"_s, u"03/05 F004 0000"_s, u"03/05 00AA 0000"_s} << 0
        << QByteArray();
    row("read of content the checks refuse", "edid read 4 -o {dir}/out.bin")
        << Setup([](SimulatorServer &s) {
               QByteArray edid = SimEdidData::displayEdid(4);
               edid[20] = static_cast<char>(edid[20] ^ 0x01);
               s.edid().setDisplayEdid(4, edid);
           })
        << 1 << QString() << u"EDID content error. (bytes 0-255 do not sum to 0 modulo 256)\n"_s
        << QStringList{u"01/05 0004 0000"_s, u"03/05 F004 0000"_s, u"03/05 00AA 0000"_s} << 0
        << QByteArray();
    row("download to input 3", "edid download 3 {dir}/good.bin")
        << none << 0 << u"Input3: ABC 0x1234 \"Test Monitor\" 1920x1080@60\n"_s << QString()
        << QStringList{u"03/08 00F0 0000"_s, u"03/07 F003 0000"_s, u"03/07 0056 0100"_s} << 3
        << fixture;
    row("download of 257 bytes to User2 Memory", "edid download user2 {dir}/good257.bin")
        << none << 0 << u"User2 Memory: ABC 0x1234 \"Test Monitor\" 1920x1080@60\n"_s << QString()
        << QStringList{u"03/08 00F0 0000"_s, u"03/07 F200 0000"_s, u"03/07 0056 0100"_s} << 9
        << fixture;
    row("download to all inputs", "edid download all {dir}/good.bin")
        << none << 0 << u"All Inputs: ABC 0x1234 \"Test Monitor\" 1920x1080@60\n"_s << QString()
        << QStringList{u"03/08 00F0 0000"_s, u"03/06 F0FE 0000"_s, u"03/06 0056 0100"_s} << 6
        << fixture;
    row("download of a refused file", "edid download all {dir}/badsum.bin")
        << none << 1 << QString()
        << u"EDID content error. (bytes 0-255 do not sum to 0 modulo 256)\n"_s << QStringList() << 1
        << SimEdidData::defaultEdid();
    row("download declined", "edid download 1 {dir}/good.bin")
        << Setup([](SimulatorServer &s) { s.edid().faults().declineDownload = 1; }) << 1
        << QString() << u"Data invalid!\n"_s
        << QStringList{u"03/08 00F0 0000"_s, u"03/07 F001 0000"_s} << 1
        << SimEdidData::defaultEdid();
    row("User2 on input 3", "edid mode user2 3")
        << none << 0 << u"Input3: User2\n"_s << QString()
        << QStringList{u"03/08 00F0 0000"_s, u"03/02 F200 0003"_s} << 3 << SimEdidData::userEdid(2);
    row("Default EDID on all inputs", "edid mode default all")
        << none << 0 << u"All Inputs: Default EDID\n"_s << QString()
        << QStringList{u"03/08 00F0 0000"_s, u"03/09 00FE 0000"_s} << 0 << QByteArray();
    row("mode by number", "edid mode 4 all")
        << none << 0 << u"All Inputs: 1080p, Stereo Audio 2.0\n"_s << QString()
        << QStringList{u"03/08 00F0 0000"_s, u"03/01 F004 0000"_s} << 5
        << SimEdidData::modeEdid(0xF004);
    row("copy to one input", "edid copy 2 1")
        << none << 0 << u"Input1: EDID of Output2\n"_s << QString()
        << QStringList{u"01/05 0002 0000"_s, u"03/08 00F0 0000"_s, u"03/04 0002 0001"_s} << 1
        << SimEdidData::displayEdid(2);
    row("copy from an output without a display", "edid copy 3 all")
        << unplug(3) << 1 << QString() << notConnected.arg(3) << QStringList{u"01/05 0003 0000"_s}
        << 1 << SimEdidData::defaultEdid();

    // Bad arguments: usage, exit 2, nothing on the wire.
    const QStringList nothing;
    const auto usage = [&](const char *name, const char *args, const char *why) {
        row(name, args) << none << 2 << QString() << u"matrixctl: "_s + QLatin1String(why)
                        << nothing << 0 << QByteArray();
    };
    usage("no subcommand", "edid", "edid takes read, download, mode, copy, check or modes");
    usage("output 7", "edid read 7 -o x", "OUT must be an output 1-6");
    usage("-o without a file", "edid read 2 -o", "-o needs a FILE");
    usage("download target 0", "edid download 0 f",
        "TARGET must be an input 1-6, all, user1 or user2");
    usage("unknown mode", "edid mode 19 1", "MODE must be a number or a name from \"edid modes\"");
    usage("copy to the user memory", "edid copy 1 user1", "TARGET must be an input 1-6 or all");
}

void TestEdidCtl::device()
{
    QFETCH(QStringList, args);
    QFETCH(Setup, setup);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QStringList, requests);
    QFETCH(int, memory);
    QFETCH(QByteArray, content);

    if (setup)
        setup(m_ctl->sim());
    QCOMPARE(run(args), exitCode);
    if (out.endsWith(u"..."_s))
        QVERIFY2(m_ctl->out().startsWith(out.chopped(3)), qPrintable(m_ctl->out()));
    else
        QCOMPARE(m_ctl->out(), out);
    // A bad argument is told in one line, not with the whole usage.
    QCOMPARE(m_ctl->err(),
        testsupport::ctlErrorLines(exitCode == 2 ? err + u"; see matrixctl --help\n"_s : err));

    QStringList sent;
    for (const QByteArray &header : m_ctl->sim().received()) {
        const CommandPacket p = CommandPacket::fromBytes(header);
        sent += u"%1/%2 %3 %4"_s.arg(p.command(), 2, 16, QLatin1Char('0'))
                    .arg(p.subcommand(), 2, 16, QLatin1Char('0'))
                    .arg(p.word(1), 4, 16, QLatin1Char('0'))
                    .arg(p.word(2), 4, 16, QLatin1Char('0'))
                    .toUpper();
    }
    QCOMPARE(sent, requests);

    const SimEdid &edid = m_ctl->sim().edid();
    if (memory >= 1 && memory <= 6)
        QCOMPARE(edid.inputEdid(memory), content);
    else if (memory >= 8)
        QCOMPARE(edid.userEdid(memory - 7), content);
    QFile written(path(u"out.bin"_s));
    if (args.contains(u"{dir}/out.bin"_s)) {
        QCOMPARE(written.exists(), exitCode == 0);
        if (exitCode == 0) {
            QVERIFY(written.open(QIODevice::ReadOnly));
            QCOMPARE(written.readAll(), content);
        }
    }
}

// A FIFO or a device node named as a file: never replaced by a save, never read until it ends,
// and no wait for a FIFO's writer.
void TestEdidCtl::specialFiles_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<mode_t>("type");
    QTest::addColumn<QString>("err");
    const QString save = u"Cannot save EDID file %1: %2; it was left as it is\n"_s;
    const QString open = u"Cannot open EDID file %1: %2\n"_s;
    const QString pipe = u"it is a pipe, not a file"_s;
    const QString device = u"it is a device, not a file"_s;
    QTest::newRow("read into a FIFO")
        << "edid read 2 -o {dir}/special" << mode_t(S_IFIFO) << save.arg(u"%1"_s, pipe);
    QTest::newRow("read into a device node")
        << "edid read 2 -o {dir}/special" << mode_t(S_IFCHR) << save.arg(u"%1"_s, device);
    QTest::newRow("check a FIFO without a writer")
        << "edid check {dir}/special" << mode_t(S_IFIFO) << open.arg(u"%1"_s, pipe);
    QTest::newRow("check an endless device")
        << "edid check {dir}/special" << mode_t(S_IFCHR) << open.arg(u"%1"_s, device);
    QTest::newRow("download a FIFO without a writer")
        << "edid download 1 {dir}/special" << mode_t(S_IFIFO) << open.arg(u"%1"_s, pipe);
}

void TestEdidCtl::specialFiles()
{
    QFETCH(QString, args);
    QFETCH(mode_t, type);
    QFETCH(QString, err);
    const QString special = path(u"special"_s);
    QFile::remove(special);
    QVERIFY(type == S_IFIFO ? makeFifo(special) : makeDeviceNode(special, 5));

    QCOMPARE(run(args.split(u' ')), 1);
    QCOMPARE(m_ctl->err(), testsupport::ctlErrorLines(err.arg(special)));
    QCOMPARE(fileType(special), type);
    QFile::remove(special);
    // A refused save happens after the read; a refused file sends nothing.
    if (!args.contains(u"-o"_s))
        QVERIFY(m_ctl->sim().received().isEmpty());
}

void TestEdidCtl::programs()
{
    // matrix-sim and matrixctl as processes, on a pty; with the real EDIDs, when they are
    // here, as the displays.
    const QString realEdids = EdidFixture::testDataFolder();
    QStringList simArgs{u"--tcp-port"_s, u"0"_s, u"--pty"_s};
    if (!realEdids.isEmpty())
        simArgs += {u"--edid-dir"_s, realEdids};
    testsupport::ProgramProcess sim;
    QVERIFY(sim.start(QStringLiteral(MATRIX_SIM_PATH), simArgs));
    const QString pty = sim.nextLine(u"PTY "_s, 5000).mid(4);
    QVERIFY(!pty.isEmpty());

    const auto ctl = [](const QStringList &args, QString *err = nullptr) {
        const testsupport::ProgramRun run
            = testsupport::runProgram(QStringLiteral(MATRIXCTL_PATH), args);
        if (err)
            *err = run.err;
        return run.code;
    };
    const QStringList serial{u"--serial"_s, pty};
    const QString file = path(u"program.bin"_s);
    QString err;
    // Without the real EDIDs, output 2 shows a built-in display; with them, the folder's
    // second file (512 bytes, which the checks refuse) and its fourth (256 bytes).
    const QString output = realEdids.isEmpty() ? u"2"_s : u"4"_s;
    QCOMPARE(ctl(serial + QStringList{u"edid"_s, u"read"_s, output, u"-o"_s, file}, &err), 0);
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QCOMPARE(ctl({u"edid"_s, u"check"_s, file}), 0);
    QCOMPARE(ctl({u"edid"_s, u"check"_s, path(u"short.bin"_s)}), 1);
    if (!realEdids.isEmpty()) {
        QFile real(QDir(realEdids).filePath(u"benq_pd3200u_256.bin"_s));
        QFile saved(file);
        QVERIFY(real.open(QIODevice::ReadOnly) && saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), real.readAll());
        QCOMPARE(ctl(serial + QStringList{u"edid"_s, u"read"_s, u"2"_s}, &err), 1);
        // The window's words: the size, and that only 256-byte EDIDs are shown.
        QCOMPARE(err,
            u"matrixctl: "_s + EdidTexts::readSizeRefused(2, 512).replace(u"\r\n"_s, u" "_s)
                + QLatin1Char('\n'));
    }
    QCOMPARE(ctl(serial + QStringList{u"edid"_s, u"download"_s, u"user1"_s, file}), 0);
    QVERIFY(sim.stop());

    const QString decoder = QStandardPaths::findExecutable(u"edid-decode"_s);
    if (decoder.isEmpty())
        QSKIP("edid-decode is not installed: the saved file was not decoded");
    QProcess decode;
    decode.start(decoder, {file});
    QVERIFY(decode.waitForFinished(10000));
    QCOMPARE(decode.exitStatus(), QProcess::NormalExit);
    QCOMPARE(decode.exitCode(), 0);
    QVERIFY(decode.readAllStandardOutput().contains("Extension blocks: 1"));
}

QTEST_GUILESS_MAIN(TestEdidCtl)
#include "tst_edidctl.moc"
