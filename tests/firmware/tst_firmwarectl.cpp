// matrixctl's firmware commands: merge and info on files, upgrade against the simulated
// switcher over loopback TCP.
#include "../SpecialFiles.h"
#include "FirmwareFixtures.h"
#include "MatrixCtlRunner.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class TestFirmwareCtl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void usage_data();
    void usage();
    void merge();
    void mergeKeepsAnExistingPackage();
    void info_data();
    void info();
    void upgrade_data();
    void upgrade();
    void unreadablePackages_data();
    void unreadablePackages();

private:
    // Placeholders: {dir} the temporary folder, {tcp} the simulator's address.
    int run(const QStringList &args) { return m_ctl->run(args); }
    QString file(const QString &name, const QByteArray &data);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<testsupport::MatrixCtlFixture> m_ctl;
};

void TestFirmwareCtl::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_ctl = std::make_unique<testsupport::MatrixCtlFixture>();
    QVERIFY(m_ctl->listening());
    m_ctl->runner().set(u"dir"_s, m_dir->path());
    m_ctl->sim().firmware().setRebootMs(0);
}

void TestFirmwareCtl::cleanup()
{
    m_ctl.reset();
}

QString TestFirmwareCtl::file(const QString &name, const QByteArray &data)
{
    const QString path = m_dir->filePath(name);
    if (!writeFile(path, data))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestFirmwareCtl::usage_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("why");
    QTest::newRow("no verb") << "firmware"
                             << "firmware takes merge, info or upgrade";
    QTest::newRow("unknown verb") << "firmware flash x.fw"
                                  << "firmware takes merge, info or upgrade";
    QTest::newRow("merge without images") << "firmware merge -o {dir}"
                                          << "firmware merge needs at least one image";
    QTest::newRow("merge, option without value") << "firmware merge --main"
                                                 << "--main wants a value";
    QTest::newRow("merge, unknown option") << "firmware merge --slave4 x.bin"
                                           << "firmware merge: unknown option --slave4";
    QTest::newRow("merge into a missing folder") << "firmware merge --main x.bin -o {dir}/none"
                                                 << "-o: no folder {dir}/none";
    QTest::newRow("info without file") << "firmware info"
                                       << "firmware info takes one package file";
    QTest::newRow("upgrade without switcher")
        << "firmware upgrade {dir}/p.fw"
        << "choose one of --tcp HOST[:PORT] and --serial PATH, or set MATRIXCTL_TARGET";
}

void TestFirmwareCtl::usage()
{
    QFETCH(QString, args);
    QFETCH(QString, why);
    if (args.startsWith(u"firmware upgrade"_s))
        file(u"p.fw"_s, packagePart(2, 1, 1, 1, testImage(4)));
    QCOMPARE(run(args.split(u' ')), 2);
    QCOMPARE(m_ctl->err(),
        u"matrixctl: "_s + why.replace(u"{dir}"_s, m_dir->path()) + u"; see matrixctl --help\n"_s);
    QVERIFY(m_ctl->sim().received().isEmpty());
}

void TestFirmwareCtl::merge()
{
    const QByteArray mainImage = testImage(600, 1);
    const QByteArray panelImage = testImage(5, 2);
    const QString main = file(u"main.bin"_s, mainImage);
    const QString panel = file(u"panel.bin"_s, panelImage);
    QCOMPARE(run({u"firmware"_s, u"merge"_s, u"--main"_s, main, u"--main-version"_s, u"2.5"_s,
                 u"--slave3"_s, panel, u"--slave3-version"_s, u"1234.300"_s, u"-o"_s, u"{dir}"_s}),
        0);
    const QString package = m_dir->filePath(u"Zelkora8_MM2.5_PNL123.255.fw"_s);
    QCOMPARE(m_ctl->out(),
        u"Main MCU firmware: "_s + main + u" loaded\nMain MCU firmware merged, ver2.5\n"_s
            + u"Slave MCU3 firmware: "_s + panel
            + u" loaded\nSlave MCU3 firmware merged, ver123.255\n"_s
            + u"Firmware merged complete, save to file: "_s + package + u'\n');
    QVERIFY(m_ctl->err().isEmpty());

    QFile in(package);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(
        in.readAll(), packagePart(1, 1, 2, 5, mainImage) + packagePart(2, 3, 123, 255, panelImage));

    // Without -o the package goes beside the first image.
    QDir(m_dir->path()).mkdir(u"sub"_s);
    const QString inSub = file(u"sub/s1.bin"_s, testImage(3));
    QCOMPARE(run({u"firmware"_s, u"merge"_s, u"--slave1"_s, inSub}), 0);
    QVERIFY(QFileInfo::exists(m_dir->filePath(u"sub/Zelkora8_MS0.0.fw"_s)));
}

void TestFirmwareCtl::mergeKeepsAnExistingPackage()
{
    const QString main = file(u"main.bin"_s, testImage(10));
    const QString package = file(u"Zelkora8_MM1.0.fw"_s, "old");
    const QStringList args{u"firmware"_s, u"merge"_s, u"--main"_s, main, u"--main-version"_s,
        u"1"_s, u"-o"_s, u"{dir}"_s};
    QCOMPARE(run(args), 1);
    QVERIFY(m_ctl->out().endsWith(u"Firmware file: "_s + package
        + u" exists, overwrite it? no (use --overwrite)\nSave canceled\n"_s));
    QCOMPARE(QFileInfo(package).size(), 3);

    QCOMPARE(run(args + QStringList{u"--overwrite"_s}), 0);
    QCOMPARE(QFileInfo(package).size(), 143 + 10);
}

void TestFirmwareCtl::info_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    // The same facts for scripts: matrixctl --json firmware info FILE.
    QTest::addColumn<QString>("document");
    const QByteArray main = packagePart(1, 1, 2, 5, testImage(600));
    const QString mainPart = uR"({"bytes":600,"headerChecksum":true,"mcu":"Main MCU",)"
                             uR"("name":"Part_1.1.2.5","number":1,"offset":0,"version":"2.5")"_s;
    QByteArray badSlave = packagePart(2, 2, 3, 4, testImage(20));
    badSlave[134] = 9; // version 9.4, the checksum no longer holds
    const QString mainLine = u"Part 1 at 0: Part_1.1.2.5  Main MCU  version 2.5  600 bytes  "
                             u"header checksum ok\n"_s;

    QTest::newRow("good") << main + packagePart(2, 3, 1, 0, testImage(1)) << 0
                          << mainLine
            + u"Part 2 at 743: Part_2.3.1.0  Slave MCU3  version 1.0  1 bytes  header "
              u"checksum ok\n"_s
                          << uR"({"empty":false,"ok":true,"parts":[)"_s + mainPart
            + uR"(},{"bytes":1,"headerChecksum":true,"mcu":"Slave MCU3","name":"Part_2.3.1.0",)"
              uR"("number":2,"offset":743,"version":"1.0"}]})"_s;
    QTest::newRow("bad header") << main + badSlave << 1
                                << mainLine
            + u"Part 2 at 743: Part_2.2.9.4  Slave MCU2  version 9.4  20 bytes  header "
              u"checksum BAD\n"_s
                                << uR"({"empty":false,"ok":false,"parts":[)"_s + mainPart
            + uR"(},{"bytes":20,"headerChecksum":false,"mcu":"Slave MCU2","name":"Part_2.2.9.4",)"
              uR"("number":2,"offset":743,"version":"9.4"}]})"_s;
    QTest::newRow("image cut short")
        << main.chopped(1) << 1 << mainLine + u"Part 1: image runs past the end of the file\n"_s
        << uR"({"empty":false,"ok":false,"parts":[{"bytes":600,"headerChecksum":true,)"
           uR"("imagePastEnd":true,"mcu":"Main MCU","name":"Part_1.1.2.5","number":1,"offset":0,)"
           uR"("version":"2.5"}]})"_s;
    QTest::newRow("trailing bytes")
        << main + "xyz" << 1 << mainLine + u"Part 2 at 743: truncated header\n"_s
        << uR"({"empty":false,"ok":false,"parts":[)"_s + mainPart
            + uR"(},{"number":2,"offset":743,"problem":"truncated header"}]})"_s;
    QTest::newRow("empty") << QByteArray() << 1 << u"Empty package\n"_s
                           << uR"({"empty":true,"ok":false,"parts":[]})"_s;
}

void TestFirmwareCtl::info()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, document);
    QCOMPARE(run({u"firmware"_s, u"info"_s, file(u"p.fw"_s, bytes)}), exitCode);
    QCOMPARE(m_ctl->out(), out);
    QCOMPARE(run({u"--json"_s, u"firmware"_s, u"info"_s, file(u"p.fw"_s, bytes)}), exitCode);
    QCOMPARE(m_ctl->out(), document + u'\n');
}

void TestFirmwareCtl::upgrade_data()
{
    QTest::addColumn<QString>("package"); // "" : the good one
    QTest::addColumn<int>("minimumVersion");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("outHas");
    QTest::addColumn<QString>("err");
    QTest::newRow("upgraded") << "" << 0 << 0
                              << QStringList{u"] 100% Upgrading Part_2.1"_s,
                                     u"\nPart_2.3.1.0 upgrading complete\n"_s,
                                     u"\nSystem reboot ok\nFirmware upgrade successfully!\n"_s}
                              << "";
    QTest::newRow("part refused") << "" << 2 << 1
                                  << QStringList{u"\nWrite to Part_2.3.1.0 failed\n"_s}
                                  << "Write Part_2.3.1.0 failed\nFirmware upgrade failed\n";
    QTest::newRow("file missing")
        << "none.fw" << 0 << 1 << QStringList()
        << "Firmware file: none.fw does not exist\nFirmware upgrade failed\n";
    QTest::newRow("damaged package")
        << "damaged.fw" << 0 << 1 << QStringList()
        << "Bad FW file!\nFirmware file: {dir}/damaged.fw: part 2 at byte 743: 3 bytes left, too "
           "few for a part's header\nFirmware upgrade failed\n";
}

void TestFirmwareCtl::upgrade()
{
    QFETCH(QString, package);
    QFETCH(int, minimumVersion);
    QFETCH(int, exitCode);
    QFETCH(QStringList, outHas);
    QFETCH(QString, err);
    if (package.isEmpty())
        package = file(u"p.fw"_s,
            packagePart(2, 1, 3, 0, testImage(600)) + packagePart(2, 3, 1, 0, testImage(9)));
    if (package == u"damaged.fw")
        package = file(package, packagePart(2, 1, 3, 0, testImage(600)) + "xyz");
    err.replace(u"{dir}"_s, m_dir->path());
    m_ctl->sim().firmware().setMinimumVersion(static_cast<quint16>(minimumVersion), 0);

    QCOMPARE(run({u"--tcp"_s, u"{tcp}"_s, u"firmware"_s, u"upgrade"_s, package}), exitCode);
    for (const QString &text : outHas)
        QVERIFY2(m_ctl->out().contains(text), qPrintable(m_ctl->out()));
    if (outHas.isEmpty()) // failures go to stderr only
        QCOMPARE(m_ctl->out(), QString());
    QCOMPARE(m_ctl->err(), testsupport::ctlErrorLines(err));
}

// A package that cannot be read says why, on stderr, and nothing goes to the switcher; one
// read through a pipe is refused, as the package is checked whole before it is sent.
void TestFirmwareCtl::unreadablePackages_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("pipe") << "fifo"
                          << "it is a pipe, not a file";
    QTest::newRow("no permission") << "mode000"
                                   << "Permission denied";
    QTest::newRow("folder") << "folder"
                            << "it is a folder";
}

void TestFirmwareCtl::unreadablePackages()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString path = m_dir->filePath(u"p.fw"_s);
    if (kind == u"fifo")
        QVERIFY(makeFifo(path));
    else if (kind == u"folder")
        QVERIFY(QDir().mkdir(path));
    else
        QVERIFY(QFile::setPermissions(file(u"p.fw"_s, packagePart(2, 1, 3, 0, testImage(9))), {}));
    const QString cannot = u"Firmware file: "_s + path + u" cannot be read: "_s + reason + u'\n';

    const WithoutFileOverride asOperator;
    QCOMPARE(run({u"firmware"_s, u"info"_s, path}), 1);
    QCOMPARE(m_ctl->out(), QString());
    QCOMPARE(m_ctl->err(), testsupport::ctlErrorLines(cannot));
    QCOMPARE(run({u"--tcp"_s, u"{tcp}"_s, u"firmware"_s, u"upgrade"_s, path}), 1);
    QCOMPARE(m_ctl->out(), QString());
    QCOMPARE(m_ctl->err(), testsupport::ctlErrorLines(cannot + u"Firmware upgrade failed\n"_s));
    QVERIFY(m_ctl->sim().firmware().parts().isEmpty());
}

QTEST_GUILESS_MAIN(TestFirmwareCtl)
#include "tst_firmwarectl.moc"
