// The upgrade procedure driving the real link against the simulated switcher over a pseudo
// terminal (and TCP), with a host that records what the FW page would show.
#include "FirmwareFixtures.h"
#include "FirmwareUpgrade.h"
#include "LinkStatusText.h"
#include "SimulatorServer.h"
#include "SwitcherSession.h"
#include "TKVCOMControl.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString Rebooting = QStringLiteral("System rebooting, please wait ...");

// The FW page as lists: memo lines (spinner lines cut to their text), status panel texts,
// gauge states, and what went to the runner.
class RecordingHost final : public FirmwareUpgradeHost
{
public:
    explicit RecordingHost(TKVCOMControl &link) : m_link(link) { }

    void appendMessage(const QString &line) override { memo.append(line); }
    void showRebootLine(const QString &text, bool replacesRebooting) override
    {
        const QString line = text.startsWith(Rebooting) ? Rebooting : text;
        if (replacesRebooting && !memo.isEmpty() && memo.last().contains(u"System rebooting"))
            memo.last() = line;
        else
            memo.append(line);
    }
    void showStatus(int panel, const QString &text, bool blink) override
    {
        if (panel == 2)
            panel2.append(blink ? QStringLiteral("!") + text : text);
        else if (panel == 3)
            panel3.append(text);
    }
    void setGauge(const QString &caption, int percent) override
    {
        gauge.append(caption + QLatin1Char(' ') + QString::number(percent));
    }
    void setUpgrading(bool upgrading) override { this->upgrading.append(upgrading); }
    void connectLink() override
    {
        ++connects;
        m_link.Connect();
    }
    SwitcherOutcome run(const SwitcherOperation &operation) override
    {
        commands.append(operation.progressText());
        SwitcherSession session(m_link);
        return session.run(operation);
    }

    QStringList memo;
    QStringList panel2; // blinking texts start with "!"
    QStringList panel3;
    QStringList gauge;
    QList<bool> upgrading;
    QStringList commands;
    int connects = 0;

private:
    TKVCOMControl &m_link;
};

} // namespace

class TestFirmwareUpgrade : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void wholePackage_data();
    void wholePackage();
    void refusedParts_data();
    void refusedParts();
    void badPackages_data();
    void badPackages();
    void rebootFails_data();
    void rebootFails();
    void guards_data();
    void guards();

private:
    bool useWire(const QString &wire);
    QString package(const QByteArray &bytes);
    bool upgrade(const QString &path);
    // The command words (bytes 2..5) of everything the switcher received.
    QList<QByteArray> requests() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    SimulatorServer *m_sim = nullptr;
    TKVCOMControl *m_link = nullptr;
    RecordingHost *m_host = nullptr;
    bool m_stop = false;
    bool m_idle = true;
    bool m_writeFailed = false;
    quint16 m_lastPercent = 0;
};

void TestFirmwareUpgrade::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_sim = new SimulatorServer;
    QVERIFY(m_sim->listenTcp());
    m_sim->firmware().setRebootMs(20);
    m_link = new TKVCOMControl;
    m_link->setTiming(Timing::fast());
    m_host = new RecordingHost(*m_link);
    m_stop = m_writeFailed = false;
    m_idle = true;
    m_lastPercent = 0;
    // As the window does with every notice.
    connect(m_link, &TKVCOMControl::notification, m_link, [this](const LinkNotice &notice) {
        if (applyFirmwareNotice(notice, *m_host, {m_stop, m_idle, m_writeFailed, m_lastPercent}))
            return;
        const QString text = linkStatusText(notice, *m_link);
        if (!text.isEmpty())
            m_host->showStatus(2, text, true);
    });
    QVERIFY(useWire(QStringLiteral("tcp")));
}

void TestFirmwareUpgrade::cleanup()
{
    delete m_host;
    delete m_link;
    delete m_sim;
}

bool TestFirmwareUpgrade::useWire(const QString &wire)
{
    m_link->Disconnect();
    if (wire == QLatin1String("pty")) {
        const QString path = m_sim->openPty();
        m_link->setControlMode(cmCOM);
        m_link->setComPort(path);
        return !path.isEmpty();
    }
    m_link->setControlMode(cmLAN);
    m_link->setDeviceIP(QStringLiteral("127.0.0.1"));
    m_link->setTcpPort(m_sim->tcpPort());
    return true;
}

QString TestFirmwareUpgrade::package(const QByteArray &bytes)
{
    const QString path = m_dir->filePath(QStringLiteral("package.fw"));
    if (!writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

bool TestFirmwareUpgrade::upgrade(const QString &path)
{
    FirmwareUpgrade procedure(*m_link, *m_host, {m_stop, m_idle, m_writeFailed, m_lastPercent});
    return procedure.UpgradeFirmware(path);
}

QList<QByteArray> TestFirmwareUpgrade::requests() const
{
    QList<QByteArray> out;
    for (const QByteArray &r : m_sim->received())
        out.append(r.mid(2, 4).toHex(' '));
    return out;
}

void TestFirmwareUpgrade::wholePackage_data()
{
    QTest::addColumn<QString>("wire");
    QTest::newRow("pty") << QStringLiteral("pty");
    QTest::newRow("tcp") << QStringLiteral("tcp");
}

void TestFirmwareUpgrade::wholePackage()
{
    QFETCH(QString, wire);
    QVERIFY(useWire(wire));
    const QByteArray mainImage = testImage(600, 1);
    const QByteArray slaveImage = testImage(300, 2);
    const QByteArray panelImage = testImage(1, 3);
    const QString path = package(packagePart(1, 1, 2, 5, mainImage)
        + packagePart(2, 1, 3, 4, slaveImage) + packagePart(2, 3, 1, 0, panelImage));

    QVERIFY(!m_link->Connected()); // the upgrade connects on its own
    QVERIFY(upgrade(path));

    QCOMPARE(m_host->connects, 1);
    QCOMPARE(m_host->memo,
        (QStringList{u"Upgrading Part_1.1.2.5 ..."_s, Rebooting, u"System reboot ok"_s,
            u"Part_1.1.2.5 upgrading complete"_s, u"Upgrading Part_2.1.3.4 ..."_s,
            u"Part_2.1.3.4 upgrading complete"_s, u"Upgrading Part_2.3.1.0 ..."_s,
            u"Part_2.3.1.0 upgrading complete"_s, Rebooting, u"System reboot ok"_s,
            u"Firmware upgrade successfully!"_s}));
    QCOMPARE(m_host->panel2,
        (QStringList{u"Upgrading Part_1.1.2.5 ..."_s, u"Done"_s, u"Upgrading Part_2.1.3.4 ..."_s,
            u"Done"_s, u"Upgrading Part_2.3.1.0 ..."_s, u"Done"_s,
            u"Firmware upgrade successfully"_s}));
    QCOMPARE(m_host->gauge,
        (QStringList{u"Upgrade progress 0"_s, u"Upgrading Part_1.1 42"_s,
            u"Upgrading Part_1.1 85"_s, u"Upgrading Part_1.1 100"_s, u"Upgrade progress 0"_s,
            u"Upgrading Part_2.1 85"_s, u"Upgrading Part_2.1 100"_s, u"Upgrade progress 0"_s,
            u"Upgrading Part_2.3 100"_s}));
    QCOMPARE(m_host->upgrading, (QList<bool>{true, false}));
    QCOMPARE(m_host->commands, QStringList{u"Reboot system ..."_s});
    QCOMPARE(m_host->panel3.last(), QString());
    QVERIFY(m_idle);

    QCOMPARE(m_sim->firmware().part(1, 1)->image, mainImage);
    QCOMPARE(m_sim->firmware().part(2, 1)->image, slaveImage);
    QCOMPARE(m_sim->firmware().part(2, 3)->image, panelImage);
    QCOMPARE(m_sim->simulator().state().versionMajor, 2);
    QCOMPARE(m_sim->simulator().state().versionMinor, 5);
    QCOMPARE(m_sim->simulator().state().reboots, 2);
    const QList<QByteArray> sent = requests();
    QCOMPARE(sent.last(), QByteArray("01 01 00 00"));
    QVERIFY(sent.contains("80 02 0f 00"));
    QCOMPARE(m_link->sendStream().size(), 0); // the file data is let go
}

void TestFirmwareUpgrade::refusedParts_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("memo");
    QTest::addColumn<QStringList>("panel2");
    const QByteArray slave1 = packagePart(2, 1, 3, 4, testImage(300));
    const QByteArray panel = packagePart(2, 3, 1, 0, testImage(20));

    // The switcher takes versions from 2.0 on.
    QTest::newRow("last part refused")
        << slave1 + panel
        << QStringList{u"Upgrading Part_2.1.3.4 ..."_s, u"Part_2.1.3.4 upgrading complete"_s,
               u"Upgrading Part_2.3.1.0 ..."_s, u"Write to Part_2.3.1.0 failed"_s}
        << QStringList{u"Upgrading Part_2.1.3.4 ..."_s, u"Done"_s, u"Upgrading Part_2.3.1.0 ..."_s,
               u"!Write Part_2.3.1.0 failed"_s};
    // A refusal is not forgotten when a later part goes through.
    QTest::newRow("first part refused")
        << panel + slave1
        << QStringList{u"Upgrading Part_2.3.1.0 ..."_s, u"Write to Part_2.3.1.0 failed"_s,
               u"Upgrading Part_2.1.3.4 ..."_s, u"Part_2.1.3.4 upgrading complete"_s}
        << QStringList{u"Upgrading Part_2.3.1.0 ..."_s, u"!Write Part_2.3.1.0 failed"_s,
               u"Upgrading Part_2.1.3.4 ..."_s, u"Done"_s};
}

void TestFirmwareUpgrade::refusedParts()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, memo);
    QFETCH(QStringList, panel2);
    m_sim->firmware().setMinimumVersion(2, 0);

    QVERIFY(!upgrade(package(bytes)));
    QCOMPARE(m_host->memo, memo);
    QCOMPARE(m_host->panel2, panel2);
    QVERIFY(m_host->commands.isEmpty()); // no reboot
    QVERIFY(!requests().contains("80 02 0f 00"));
    QCOMPARE(m_sim->simulator().state().reboots, 0);
    QVERIFY(m_sim->firmware().part(2, 1)->complete);
    QVERIFY(!m_sim->firmware().part(2, 3));
    QVERIFY(m_idle);
    QCOMPARE(m_host->upgrading, (QList<bool>{true, false}));
}

void TestFirmwareUpgrade::badPackages_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("problem");
    const QByteArray slave1 = packagePart(2, 1, 3, 4, testImage(300)); // 443 bytes
    const QByteArray panel = packagePart(2, 3, 1, 0, testImage(20)); // 163 bytes
    QByteArray badHeader = panel;
    badHeader[135] = 1; // version 1 -> 257: the checksum no longer holds
    QByteArray foreign = panel;
    foreign[129] = 3; // subcommand 3: no such part
    foreign[142] = static_cast<char>(foreign[142] - 1);

    // Damage anywhere is found before the first byte goes out, so no part is ever written.
    QTest::newRow("first header corrupt")
        << badHeader + slave1 << "part 1 at byte 0: the header's checksum does not hold";
    QTest::newRow("second header corrupt")
        << slave1 + badHeader << "part 2 at byte 443: the header's checksum does not hold";
    QTest::newRow("image runs past the end") << slave1.chopped(
        1) << "part 1 at byte 0: the image of 300 bytes runs past the end of the file";
    QTest::newRow("second image runs past the end")
        << slave1 + panel.chopped(1)
        << "part 2 at byte 443: the image of 20 bytes runs past the end of the file";
    QTest::newRow("second header cut short") << slave1
            + panel.left(142) << "part 2 at byte 443: 142 bytes left, too few for a part's header";
    QTest::newRow("junk after the last part")
        << slave1 + panel + QByteArray(50, '\x5a')
        << "part 3 at byte 606: 50 bytes left, too few for a part's header";
    QTest::newRow("not a firmware part")
        << foreign << "part 1 at byte 0: not a firmware part (command 0x20, subcommand 3)";
    QTest::newRow("slave MCU 4")
        << slave1 + packagePart(2, 4, 1, 0, testImage(20))
        << "part 2 at byte 443: MCU number 4 is not one of the switcher's controllers";
    QTest::newRow("main MCU 2") << packagePart(1, 2, 1, 0, testImage(20)) + slave1
                                << "part 1 at byte 0: MCU number 2 is not one of the "
                                   "switcher's controllers";
    QTest::newRow("empty part") << slave1 + packagePart(2, 3, 1, 0, {})
                                << "part 2 at byte 443: the image is empty";
    QTest::newRow("empty file") << QByteArray() << "the package is empty";
}

void TestFirmwareUpgrade::badPackages()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, problem);

    const QString path = package(bytes);
    QVERIFY(!upgrade(path));
    QCOMPARE(m_host->memo,
        (QStringList{u"Bad FW file!"_s, u"Firmware file: "_s + path + u": "_s + problem}));
    QVERIFY(m_sim->firmware().parts().isEmpty());
    QVERIFY(m_sim->received().isEmpty());
    QCOMPARE(m_host->connects, 0);
    QVERIFY(m_host->commands.isEmpty());
    QVERIFY(m_idle);
    QVERIFY(m_host->upgrading.isEmpty());
}

void TestFirmwareUpgrade::rebootFails_data()
{
    QTest::addColumn<bool>("rebootRefused");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("probes");
    QTest::newRow("switcher never back") << false << "!Time out!" << 5;
    QTest::newRow("reboot command refused") << true << "!Send data failed!" << 0;
}

void TestFirmwareUpgrade::rebootFails()
{
    QFETCH(bool, rebootRefused);
    QFETCH(QString, failure);
    QFETCH(int, probes);
    // A switcher that refuses the command does not reboot either.
    m_sim->firmware().setRebootMs(rebootRefused ? 0 : 3'600'000);
    connect(
        m_sim, &SimulatorServer::requestHandled, m_sim, [this, rebootRefused](const QByteArray &r) {
            if (rebootRefused && r.mid(2, 2) == QByteArray("\x80\x02", 2))
                m_sim->faults().refuseStatus = 5;
        });

    QVERIFY(!upgrade(package(packagePart(2, 2, 1, 1, testImage(10)))));
    QCOMPARE(m_host->commands, QStringList{u"Reboot system ..."_s});
    QCOMPARE(m_host->panel2.last(), failure);
    QVERIFY(!m_host->memo.contains(QStringLiteral("Firmware upgrade successfully!")));
    QCOMPARE(requests().count("01 01 00 00"), probes);
    QVERIFY(m_idle);
}

void TestFirmwareUpgrade::guards_data()
{
    QTest::addColumn<QString>("file"); // "package": a good one
    QTest::addColumn<bool>("idle");
    QTest::addColumn<bool>("stop");
    QTest::addColumn<bool>("connectable");
    QTest::addColumn<QStringList>("memo");
    QTest::addColumn<QStringList>("panel3");
    QTest::newRow("no file chosen")
        << "" << true << false << true << QStringList() << QStringList();
    QTest::newRow("file missing") << "missing.fw" << true << false << true
                                  << QStringList{u"Firmware file: missing.fw does not exist"_s}
                                  << QStringList();
    QTest::newRow("stopping") << "package" << true << true << true << QStringList()
                              << QStringList();
    QTest::newRow("cannot connect")
        << "package" << true << false << false << QStringList() << QStringList();
    QTest::newRow("busy") << "package" << false << false << true << QStringList()
                          << QStringList{u"In processing, command ignored"_s};
}

void TestFirmwareUpgrade::guards()
{
    QFETCH(QString, file);
    QFETCH(bool, idle);
    QFETCH(bool, stop);
    QFETCH(bool, connectable);
    QFETCH(QStringList, memo);
    QFETCH(QStringList, panel3);
    if (file == QLatin1String("package"))
        file = package(packagePart(2, 1, 1, 1, testImage(10)));
    m_idle = idle;
    m_stop = stop;
    if (!connectable)
        m_link->setTcpPort(1); // nothing listens there

    QVERIFY(!upgrade(file));
    QCOMPARE(m_host->memo, memo);
    QCOMPARE(m_host->panel3, panel3);
    // The button is held while a connect on demand waits, and given back when it fails.
    QCOMPARE(m_host->upgrading, (connectable ? QList<bool>() : QList<bool>({true, false})));
    QVERIFY(m_sim->received().isEmpty());
    QCOMPARE(m_idle, idle);
}

QTEST_GUILESS_MAIN(TestFirmwareUpgrade)
#include "tst_firmwareupgrade.moc"
