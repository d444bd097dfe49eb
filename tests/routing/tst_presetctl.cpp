// matrixctl's preset and tags commands: the Settings.ini the GUI writes, applied to the
// simulated switcher over loopback TCP.
#include "../SpecialFiles.h"
#include "MatrixCtlRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using Routes = std::array<int, 6>;

class TestPresetCtl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void commands_data();
    void commands();
    void applyStopsAtFailedOutput();
    void namedSettingsMustBeRead_data();
    void namedSettingsMustBeRead();
    void defaultSettingsMayBeAbsent();

private:
    // On the simulator, with the settings file m_settings.
    int run(const QString &args)
    {
        return m_ctl->run(
            QStringList{u"--tcp"_s, u"{tcp}"_s, u"--settings"_s, m_settings} + args.split(u' '));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_settings; // given with --settings
    std::unique_ptr<testsupport::MatrixCtlFixture> m_ctl;
};

void TestPresetCtl::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QFile ini(m_dir->filePath(u"Settings.ini"_s));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Pre-Setting name]\nSetting1=Hall\nSetting3=\n"
              "[Pre-Setting value]\nvalue1=3,1\nvalue2=2,2,0,4\nvalue3=1,2,3,4,5,6,7\nvalue4=x\n"
              "[Tag of Input - COM]\nIn2=Blu-ray\n"
              "[Tag of Output - TCP:00-1A-2B-3C-4D-5E]\nOut6=Wall\n");
    ini.close();
    m_settings = ini.fileName();
    m_ctl = std::make_unique<testsupport::MatrixCtlFixture>();
    QVERIFY(m_ctl->listening());
    m_ctl->sim().simulator().state().routes = {6, 6, 6, 6, 6, 6};
}

void TestPresetCtl::cleanup()
{
    m_ctl.reset();
    m_dir.reset();
}

void TestPresetCtl::commands_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // the start of stdout
    QTest::addColumn<QString>("err");
    QTest::addColumn<Routes>("routes"); // from 6,6,6,6,6,6

    const Routes untouched{6, 6, 6, 6, 6, 6};
    QTest::newRow("list") << "preset list" << 0
                          << "1\tHall\t3,1,1,2,3,4\n2\tSetting2\t2,2,0,4,1,2\n3\t\t1,2,3,4,5,6,7\n"
                             "4\tSetting4\tx,1,2,3,4,5\n5\tSetting5\t1,2,3,4,5,6\n"
                          << "" << untouched;
    QTest::newRow("apply filled up")
        << "preset apply 1" << 0
        << "Output1: Input3\nOutput2: Input1\nOutput3: Input1\nOutput4: Input2\nOutput5: "
           "Input3\nOutput6: Input4\n"
        << "" << Routes{3, 1, 1, 2, 3, 4};
    QTest::newRow("apply stops at 0")
        << "preset apply 2" << 1 << "Output1: Input2\nOutput2: Input2\n"
        << "Output3: no input selected\n"
        << Routes{2, 2, 6, 6, 6, 6};
    QTest::newRow("seventh value not applied") << "preset apply 3" << 0 << "Output1: Input1\n"
                                               << "" << Routes{1, 2, 3, 4, 5, 6};
    QTest::newRow("not a number") << "preset apply 4" << 1 << ""
                                  << "Output1: no input selected\n"
                                  << untouched;
    QTest::newRow("no preset 9") << "preset apply 9" << 2 << ""
                                 << "" << untouched;
    QTest::newRow("tags")
        << "tags list" << 0
        << "COM\n  Input1: \n  Input2: Blu-ray\n  Input3: \n  Input4: \n  Input5: "
           "\n  Input6: \n  Output1: \n  Output2: \n  Output3: \n  Output4: \n  "
           "Output5: \n  Output6: \nTCP 00-1A-2B-3C-4D-5E\n  Input1: \n"
        << "" << untouched;
}

void TestPresetCtl::commands()
{
    QFETCH(QString, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(Routes, routes);
    QCOMPARE(run(args), exitCode);
    QCOMPARE(m_ctl->out().left(out.size()), out);
    if (exitCode != 2)
        QCOMPARE(m_ctl->err(), testsupport::ctlErrorLines(err));
    QCOMPARE(m_ctl->sim().simulator().state().routes, routes);
}

void TestPresetCtl::applyStopsAtFailedOutput()
{
    connect(
        &m_ctl->sim(), &SimulatorServer::requestHandled, this, [this](const QByteArray &request) {
            if (quint8(request.at(6)) == 3)
                m_ctl->sim().faults().refuseStatus = 1;
        });
    QCOMPARE(run(u"preset apply 1"_s), 1);
    QCOMPARE(m_ctl->out(), u"Output1: Input3\nOutput2: Input1\n"_s);
    QVERIFY2(m_ctl->err().endsWith(u"Output3: failed\n"_s), qPrintable(m_ctl->err()));
    for (const QByteArray &request : m_ctl->sim().received())
        QVERIFY(quint8(request.at(6)) <= 3);
}

// A mistyped or damaged --settings file must not route the switcher by default presets.
void TestPresetCtl::namedSettingsMustBeRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing"
                             << "it does not exist";
    QTest::newRow("FIFO without a writer") << "fifo"
                                           << "it is a pipe, not a file";
    QTest::newRow("endless device") << "zero"
                                    << "it is a device, not a file";
    QTest::newRow("folder") << "folder"
                            << "it is a folder";
    QTest::newRow("NUL byte") << "nul"
                              << "it holds a NUL byte at offset 1";
    QTest::newRow("unreadable") << "mode000"
                                << "Permission denied";
}

void TestPresetCtl::namedSettingsMustBeRead()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    m_settings = m_dir->filePath(u"named.ini"_s);
    if (kind == u"fifo")
        QVERIFY(makeFifo(m_settings));
    else if (kind == u"zero")
        QVERIFY(makeDeviceNode(m_settings, 5));
    else if (kind == u"folder")
        QVERIFY(QDir().mkdir(m_settings));
    else if (kind != u"missing") {
        QFile ini(m_settings);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QByteArray("[\0Pre-Setting value]\nvalue1=2,2,2,2,2,2\n", 40));
        ini.close();
        if (kind == u"mode000")
            QVERIFY(QFile::setPermissions(m_settings, {}));
    }
    const QString expected = u"matrixctl: settings file "_s + m_settings + u": "_s + reason;
    const WithoutFileOverride asOperator;
    for (const QString &command : {u"preset apply 1"_s, u"preset list"_s, u"tags list"_s}) {
        QCOMPARE(run(command), 1);
        QVERIFY2(m_ctl->err().startsWith(expected) && m_ctl->err().count(u'\n') == 1,
            qPrintable(m_ctl->err()));
        QCOMPARE(m_ctl->out(), QString());
    }
    // Not routed by the default preset 1,2,3,4,5,6.
    QCOMPARE(m_ctl->sim().simulator().state().routes, (Routes{6, 6, 6, 6, 6, 6}));
}

// The file beside the programs is optional: its absence is said, and the defaults are used.
void TestPresetCtl::defaultSettingsMayBeAbsent()
{
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(u"Settings.ini"_s);
    if (QFileInfo::exists(beside))
        QSKIP("a Settings.ini lies beside the test program");
    QCOMPARE(m_ctl->run(u"preset list"_s), 0);
    QCOMPARE(m_ctl->err(),
        u"matrixctl: no settings file "_s + beside
            + u"; the presets and tags are the defaults\n"_s);
    QVERIFY(m_ctl->out().startsWith(u"1\tSetting1\t1,2,3,4,5,6\n"_s));
}

QTEST_GUILESS_MAIN(TestPresetCtl)
#include "tst_presetctl.moc"
