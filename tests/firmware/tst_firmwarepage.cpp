// The FW upgrade page of the real main window against the simulated switcher over a pseudo
// terminal: choosing a package, upgrading with it, a refused part, a damaged package, the
// message memo and the merge tool's wiring.
#include "ConnectionControl.h"
#include "DialogDriver.h"
#include "FirmwareFixtures.h"
#include "FirmwareMerge.h"
#include "FirmwarePage.h"
#include "RoutingPanel.h"
#include "SettingsFile.h"
#include "SimulatorServer.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TKVCOMControl.h"
#include "TKVGauge.h"
#include "WindowFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString Rebooting = QStringLiteral("System rebooting, please wait ...");

// Every text the gauge paints, each change once.
class GaugeRecorder final : public QObject
{
public:
    explicit GaugeRecorder(TKVGauge *gauge) : m_gauge(gauge) { gauge->installEventFilter(this); }
    QStringList shown;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_gauge && event->type() == QEvent::Paint) {
            const QString text = m_gauge->displayText();
            if (shown.isEmpty() || shown.last() != text)
                shown.append(text);
        }
        return false;
    }

private:
    TKVGauge *m_gauge;
};

// Merge host for building packages in the test.
class QuietMergeHost final : public FirmwareMergeHost
{
public:
    void appendMessage(const QString &) override { }
    bool confirm(const QString &) override { return true; }
};

} // namespace

class TestFirmwarePage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void upgradeTwoParts();
    void refusedPart();
    void rebootCommandUnanswered_data();
    void rebootCommandUnanswered();
    void nothingSent_data();
    void nothingSent();
    void clicksDuringUpgrade_data();
    void clicksDuringUpgrade();
    void mergeGroup();

private:
    template<typename T>
    T *widget(const char *name) const
    {
        return m_w->find<T>(QLatin1String(name));
    }
    // The memo's lines, the reboot spinner's line cut to its text.
    QStringList memo() const;
    QString writeImage(const QString &name, const QByteArray &image);

    std::unique_ptr<testsupport::WindowFixture> m_w;
    SimulatorServer *m_sim = nullptr; // m_w's
    TForm1 *m_form = nullptr; // m_w's
    // What the page's open-file dialog returns, and what it was asked with.
    QString m_choice;
    QStringList m_dialogs; // "filter @ folder"
};

void TestFirmwarePage::init()
{
    m_choice.clear();
    m_dialogs.clear();
    testsupport::WindowFixture::Options options;
    options.tcp = false;
    options.pty = true;
    options.beforeShow = [this](TForm1 &form) {
        form.firmwarePage().setOpenFile([this](const QString &filter, const QString &folder) {
            m_dialogs.append(filter + u" @ "_s + folder);
            return m_choice;
        });
    };
    m_w = std::make_unique<testsupport::WindowFixture>(options);
    QVERIFY2(m_w->start(), qPrintable(m_w->why()));
    m_sim = &m_w->sim();
    m_form = &m_w->form();
    m_sim->firmware().setRebootMs(20);
    const QString pty = m_w->pty();
    widget<QTabWidget>("pcContainer")->setCurrentWidget(widget<QWidget>("tsFWUpgrade"));

    widget<QRadioButton>("rbCOMMode")->click();
    auto *ports = widget<QComboBox>("cbCOMList");
    ports->setCurrentIndex(ports->findText(pty));
    QCOMPARE(ports->currentText(), pty);
}

void TestFirmwarePage::cleanup()
{
    m_w.reset();
}

QStringList TestFirmwarePage::memo() const
{
    const QString text = widget<QPlainTextEdit>("mmoMessage")->toPlainText();
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(u'\n');
    for (QString &line : lines) {
        if (line.startsWith(Rebooting))
            line = Rebooting;
    }
    return lines;
}

QString TestFirmwarePage::writeImage(const QString &name, const QByteArray &image)
{
    const QString path = m_w->path(name);
    if (!writeFile(path, image))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestFirmwarePage::upgradeTwoParts()
{
    QDir(m_w->folder()).mkdir(u"fw"_s);
    const QByteArray mainImage = testImage(600, 1);
    const QByteArray slaveImage = testImage(300, 2);
    FirmwareMergeSources sources;
    sources[0] = {writeImage(u"fw/main.bin"_s, mainImage), u"2"_s, u"5"_s};
    sources[1] = {writeImage(u"fw/slave1.bin"_s, slaveImage), u"3"_s, u"4"_s};
    QString folder;
    QuietMergeHost mergeHost;
    const FirmwareMergeResult merged = MergeFirmware(sources, folder, mergeHost);
    QCOMPARE(merged.outcome, FirmwareMergeResult::Saved);

    // The first dialog starts in the program folder; the package's folder is remembered and
    // saved, and the next dialog starts there. A cancelled dialog keeps the path.
    auto *path = widget<QLineEdit>("edtFWFile");
    m_choice = merged.path;
    QTest::mouseClick(widget<QPushButton>("btnOpenFW"), Qt::LeftButton);
    QCOMPARE(path->text(), merged.path);
    QCOMPARE(path->cursorPosition(), merged.path.size());
    const QString fwFolder = m_w->path(u"fw"_s);
    QCOMPARE(m_form->settings().firmwareFolder, fwFolder);
    QCOMPARE(SettingsFile::load(m_form->settingsPath()).firmwareFolder, fwFolder);
    m_choice.clear();
    QTest::mouseClick(widget<QPushButton>("btnOpenFW"), Qt::LeftButton);
    QCOMPARE(path->text(), merged.path);
    QCOMPARE(m_dialogs,
        (QStringList{
            u"Firmware file(*.fw) @ "_s + m_w->folder(), u"Firmware file(*.fw) @ "_s + fwFolder}));

    auto *gauge = widget<TKVGauge>("tsgFWProgress");
    GaugeRecorder recorder(gauge);
    auto *upgrade = widget<QPushButton>("btnUpgrade");
    QTest::mouseClick(upgrade, Qt::LeftButton);

    QCOMPARE(memo(),
        (QStringList{u"Upgrading Part_1.1.2.5 ..."_s, Rebooting, u"System reboot ok"_s,
            u"Part_1.1.2.5 upgrading complete"_s, u"Upgrading Part_2.1.3.4 ..."_s,
            u"Part_2.1.3.4 upgrading complete"_s, Rebooting, u"System reboot ok"_s,
            u"Firmware upgrade successfully!"_s}));
    QCOMPARE(recorder.shown,
        (QStringList{u"Upgrade progress 0%"_s, u"Upgrading Part_1.1 42%"_s,
            u"Upgrading Part_1.1 85%"_s, u"Upgrading Part_1.1 100%"_s, u"Upgrade progress 0%"_s,
            u"Upgrading Part_2.1 85%"_s, u"Upgrading Part_2.1 100%"_s}));
    QCOMPARE(m_form->status().text(2), u"Firmware upgrade successfully"_s);
    QVERIFY(!m_form->status().alert());
    QCOMPARE(m_form->status().text(3), QString());
    QVERIFY(upgrade->isEnabled());
    QCOMPARE(widget<QPlainTextEdit>("mmoMessage")->cursorWidth(), 1);
    QVERIFY(m_form->state().RunnerIdle);

    QCOMPARE(m_sim->firmware().part(1, 1)->image, mainImage);
    QCOMPARE(m_sim->firmware().part(2, 1)->image, slaveImage);
    QCOMPARE(m_sim->simulator().state().versionMajor, 2);
    QCOMPARE(m_sim->simulator().state().versionMinor, 5);
    QCOMPARE(m_sim->simulator().state().reboots, 2);
}

void TestFirmwarePage::refusedPart()
{
    // The switcher takes versions from 2.0 on: the slave part of version 1.0 is refused.
    m_sim->firmware().setMinimumVersion(2, 0);
    widget<QLineEdit>("edtFWFile")
        ->setText(writeImage(u"old.fw"_s, packagePart(2, 1, 1, 0, testImage(300))));
    QTest::mouseClick(widget<QPushButton>("btnUpgrade"), Qt::LeftButton);

    QCOMPARE(
        memo(), (QStringList{u"Upgrading Part_2.1.1.0 ..."_s, u"Write to Part_2.1.1.0 failed"_s}));
    QCOMPARE(m_form->status().text(2), u"Write Part_2.1.1.0 failed"_s);
    QVERIFY(m_form->status().alert());
    QVERIFY(widget<QPushButton>("btnUpgrade")->isEnabled());
    QVERIFY(m_form->state().RunnerIdle);
    QCOMPARE(m_sim->simulator().state().reboots, 0);
    for (const QByteArray &request : m_sim->received())
        QVERIFY2(request.mid(2, 4) != QByteArray::fromHex("80020f00"), "reboot command sent");
}

void TestFirmwarePage::rebootCommandUnanswered_data()
{
    // The switcher after the reboot command: "silent" restarts without answering, "refuses"
    // refuses to reboot, "gone" never answers again.
    QTest::addColumn<QString>("switcher");
    QTest::addColumn<QStringList>("lastLines");
    QTest::addColumn<QString>("gauge");
    QTest::newRow("restarts without answering")
        << "silent"
        << QStringList{u"Part_2.1.3.4 upgrading complete"_s, Rebooting, u"System reboot ok"_s,
               u"Firmware upgrade successfully!"_s}
        << "Upgrading Part_2.1 100%";
    // A switcher that refuses to reboot still runs its old firmware: there is nothing to wait
    // for.
    QTest::newRow("refuses to reboot")
        << "refuses"
        << QStringList{u"Upgrading Part_2.1.3.4 ..."_s, u"Part_2.1.3.4 upgrading complete"_s}
        << "Upgrading Part_2.1 100%";
    // The spinner's line and a full gauge do not stay as the last word.
    QTest::newRow("never comes back")
        << "gone"
        << QStringList{u"Part_2.1.3.4 upgrading complete"_s, Rebooting, u"System reboot failed"_s}
        << "System reboot failed";
}

// The reboot command's answer may never come from a switcher that restarts at once: the wait
// for the reboot runs and its probe decides.
void TestFirmwarePage::rebootCommandUnanswered()
{
    QFETCH(QString, switcher);
    QFETCH(QStringList, lastLines);
    QFETCH(QString, gauge);
    m_form->link()->setTiming(Timing::fast()); // the reboot command may go unanswered
    // A refusing switcher answers every attempt.
    if (switcher == u"refuses"_s)
        m_sim->firmware().setRebootMs(0);
    connect(m_sim, &SimulatorServer::requestHandled, this, [&](const QByteArray &request) {
        if (request.mid(2, 2) != QByteArray::fromHex("8002"))
            return;
        if (switcher == u"refuses"_s)
            m_sim->faults().refuseStatus = 1;
        else
            m_sim->faults().dropReplies = switcher == u"gone"_s ? 1000 : 1;
    });
    widget<QLineEdit>("edtFWFile")
        ->setText(writeImage(u"slave.fw"_s, packagePart(2, 1, 3, 4, testImage(300))));

    QTest::mouseClick(widget<QPushButton>("btnUpgrade"), Qt::LeftButton);

    QCOMPARE(memo().mid(memo().size() - lastLines.size()), lastLines);
    QCOMPARE(widget<TKVGauge>("tsgFWProgress")->displayText(), gauge);
    QCOMPARE(
        m_form->status().text(2) == u"Firmware upgrade successfully"_s, switcher == u"silent"_s);
    QVERIFY(m_sim->simulator().state().reboots > 0);
    QVERIFY(widget<QPushButton>("btnUpgrade")->isEnabled());
    QVERIFY(m_form->state().RunnerIdle);
}

void TestFirmwarePage::nothingSent_data()
{
    QTest::addColumn<QByteArray>("bytes"); // empty: no file
    QTest::addColumn<QStringList>("lines"); // %1: the file's path

    QByteArray corrupt
        = packagePart(1, 1, 2, 5, testImage(100)) + packagePart(2, 1, 3, 4, testImage(100));
    corrupt[70] = static_cast<char>(corrupt[70] ^ 0x01);
    QTest::newRow("corrupt first header")
        << corrupt
        << QStringList{u"Bad FW file!"_s,
               u"Firmware file: %1: part 1 at byte 0: the header's checksum does not hold"_s};
    QTest::newRow("missing file") << QByteArray()
                                  << QStringList{u"Firmware file: %1 does not exist"_s};
}

void TestFirmwarePage::nothingSent()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    const QString path = m_w->path(u"package.fw"_s);
    if (!bytes.isEmpty())
        QVERIFY(writeFile(path, bytes));
    widget<QLineEdit>("edtFWFile")->setText(path);
    auto *gauge = widget<TKVGauge>("tsgFWProgress");
    gauge->setCaption(u"before"_s);

    QTest::mouseClick(widget<QPushButton>("btnUpgrade"), Qt::LeftButton);
    for (QString &line : lines)
        line = line.arg(path);
    QCOMPARE(memo(), lines);
    QVERIFY(m_sim->received().isEmpty());
    QCOMPARE(m_sim->simulator().state().reboots, 0);
    QVERIFY(widget<QPushButton>("btnUpgrade")->isEnabled());
    QVERIFY(m_form->state().RunnerIdle);

    // "&Clear" empties the memo.
    QTest::mouseClick(widget<QPushButton>("Button1"), Qt::LeftButton);
    QCOMPARE(widget<QPlainTextEdit>("mmoMessage")->toPlainText(), QString());
}

void TestFirmwarePage::clicksDuringUpgrade_data()
{
    QTest::addColumn<QString>("click");
    // The second half of an impatient double click lands in the on-demand connect's wait.
    QTest::newRow("Upgrade again while connecting") << "upgrade";
    // With the power off, a route would ask for power in a message box; the upgrade waits below.
    QTest::newRow("a route on the Setting page, power off") << "route";
}

// A click made while an upgrade runs is turned away with a note: the package is written once,
// the switcher reboots once, and no message box holds the upgrade's waits.
void TestFirmwarePage::clicksDuringUpgrade()
{
    QFETCH(QString, click);
    m_form->state().PowerOn = false;
    const QByteArray image = testImage(300);
    widget<QLineEdit>("edtFWFile")
        ->setText(writeImage(u"slave.fw"_s, packagePart(2, 1, 3, 4, image)));
    auto *upgrade = widget<QPushButton>("btnUpgrade");

    testsupport::BoxWatch boxWatch;

    bool clicked = false;
    QString note;
    const auto secondClick = [&] {
        clicked = true;
        m_form->status().ShowStatus(3, QString());
        if (click == u"upgrade"_s) {
            QTest::mouseClick(upgrade, Qt::LeftButton);
        } else {
            widget<QTabWidget>("pcContainer")->setCurrentWidget(widget<QWidget>("tsSetting"));
            QTest::mouseClick(m_form->routingPanel().FindInputButton(1, 4), Qt::LeftButton);
        }
        note = m_form->status().text(3);
    };
    // Either timer fires only in a wait inside the first click: the connect's, or a block's.
    if (click == u"upgrade"_s)
        QTimer::singleShot(0, this, secondClick);
    else
        connect(
            m_sim, &SimulatorServer::requestHandled, this, secondClick, Qt::SingleShotConnection);
    QTest::mouseClick(upgrade, Qt::LeftButton);
    const bool clickedDuringUpgrade = clicked;
    boxWatch.stop();

    QVERIFY(clickedDuringUpgrade);
    QCOMPARE(boxWatch.texts(), QStringList());
    QCOMPARE(memo(),
        (QStringList{u"Upgrading Part_2.1.3.4 ..."_s, u"Part_2.1.3.4 upgrading complete"_s,
            Rebooting, u"System reboot ok"_s, u"Firmware upgrade successfully!"_s}));
    QCOMPARE(m_sim->simulator().state().reboots, 1);
    QCOMPARE(m_sim->firmware().part(2, 1)->image, image);
    QCOMPARE(m_sim->simulator().state().routes[0], 1);
    QCOMPARE(note, u"In processing, command ignored"_s);
    QVERIFY(upgrade->isEnabled());
    QVERIFY(m_form->state().RunnerIdle);
}

void TestFirmwarePage::mergeGroup()
{
    auto *group = widget<QGroupBox>("gbMergeFW");
    QVERIFY(!group->isEnabled());
    QVERIFY(group->isHidden());

    // The tool's path as its buttons would run it: the image dialog, then the merge into the
    // image's folder, which becomes the last firmware folder.
    m_choice = writeImage(u"main.bin"_s, testImage(40));
    m_form->firmwarePage().btnOpenMainClick();
    QCOMPARE(widget<QLineEdit>("edtMainMCUFW")->text(), m_choice);
    QCOMPARE(m_dialogs, QStringList{u"FW binary file(*.bin) @ "_s + m_w->folder()});
    widget<QLineEdit>("leMainFWVer1")->setText(u"300"_s);
    widget<QLineEdit>("leMainFWVer2")->setText(u"x"_s);
    m_form->firmwarePage().btnMergeClick();

    const QString package = m_w->path(u"Zelkora8_MM255.0.fw"_s);
    QCOMPARE(memo(),
        (QStringList{u"Main MCU firmware: "_s + m_choice + u" loaded"_s,
            u"Main MCU firmware merged, ver255.0"_s,
            u"Firmware merged complete, save to file: "_s + package}));
    QCOMPARE(widget<QLineEdit>("leMainFWVer1")->text(), u"255"_s);
    QCOMPARE(widget<QLineEdit>("leMainFWVer2")->text(), u"0"_s);
    QCOMPARE(QFileInfo(package).size(), FirmwareHeader::Size + 40);
    QCOMPARE(m_form->settings().firmwareFolder, m_w->folder());

    // The same package again: the operator is asked and keeps the file.
    testsupport::BoxAnswer question(QMessageBox::No);
    m_form->firmwarePage().btnMergeClick();
    QCOMPARE(question.text(), u"Firmware file: "_s + package + u" exists, overwrite it?"_s);
    QCOMPARE(memo().last(), u"Save canceled"_s);
}

QTEST_MAIN(TestFirmwarePage)
#include "tst_firmwarepage.moc"
