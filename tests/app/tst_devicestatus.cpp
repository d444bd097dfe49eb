// Device status, power and the panel feature switches through the real main window against
// the simulated switcher over loopback TCP, and the window's demo mode.
#include "CommandPacket.h"
#include "DemoSwitcher.h"
#include "DialogDriver.h"
#include "LanDevicePanel.h"
#include "SettingsFile.h"
#include "SimulatorServer.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TKVCOMControl.h"
#include "TfrmSearch.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

Q_DECLARE_METATYPE(SimFaults)

namespace {

using testsupport::BoxAnswer;

// "cmd/sub" of each request, e.g. "10/01".
QStringList commands(const QByteArrayList &requests)
{
    QStringList out;
    for (const QByteArray &r : requests)
        out.append(QStringLiteral("%1/%2")
                       .arg(quint8(r[2]), 2, 16, QLatin1Char('0'))
                       .arg(quint8(r[3]), 2, 16, QLatin1Char('0'))
                       .toUpper());
    return out;
}

const QStringList StatusReads = {QStringLiteral("10/01"), QStringLiteral("01/01"),
    QStringLiteral("01/02"), QStringLiteral("01/03"), QStringLiteral("01/04"),
    QStringLiteral("01/04"), QStringLiteral("01/04"), QStringLiteral("01/04"),
    QStringLiteral("01/04"), QStringLiteral("01/04"), QStringLiteral("01/05"),
    QStringLiteral("01/05"), QStringLiteral("01/05"), QStringLiteral("01/05"),
    QStringLiteral("01/05"), QStringLiteral("01/05"), QStringLiteral("04/04"),
    QStringLiteral("01/0E"), QStringLiteral("01/0C"), QStringLiteral("01/0A")};
// Found on where it was not known to be: the routes are read too.
const QStringList RouteReads(6, QStringLiteral("02/01"));

} // namespace

class TestDeviceStatus : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void statusWhenOn_data();
    void statusWhenOn();
    void statusWhenNotOn_data();
    void statusWhenNotOn();
    void busySwitcherShowsTrueRoutes_data();
    void busySwitcherShowsTrueRoutes();
    void powerButton_data();
    void powerButton();
    void powerDoubleClick();
    void lostConnectionForgetsStatus();
    void panelSwitch_data();
    void panelSwitch();
    void panelSwitchNotApplied_data();
    void panelSwitchNotApplied();
    void otherSwitcherForgetsStatus_data();
    void otherSwitcherForgetsStatus();
    void demoMode();

private:
    template<typename T = QWidget>
    T *widget(const char *name) const
    {
        return m_w->widget<T>(QLatin1String(name));
    }
    QString text(const char *label) const { return widget<QLabel>(label)->text(); }
    // What the Setting page's six route displays show.
    QStringList displays() const
    {
        QStringList values;
        for (int n = 1; n <= 6; ++n)
            values.append(
                widget(qPrintable(QStringLiteral("LED%1").arg(n)))->property("Value").toString());
        return values;
    }
    // "on", "off" or "unknown": which of the three hidden glyph pictures the button shows.
    QString glyph() const;
    // Near the left edge: the middle of a radio button may lie beyond its caption, where it
    // takes no clicks, depending on the font.
    void click(const char *button)
    {
        QWidget *w = widget(button);
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
    }
    // Reads the status and forgets the requests that took.
    void readStatus();
    // Panel 2 at the moment each request reached the switcher.
    QStringList m_progress;

    std::unique_ptr<testsupport::WindowFixture> m_w;
    SimulatorServer *m_sim = nullptr; // m_w's
    TForm1 *m_form = nullptr; // m_w's
};

void TestDeviceStatus::init()
{
    // A power click right after another counts as its double click; the tests wait this long.
    QApplication::setDoubleClickInterval(100);
    testsupport::WindowFixture::Options options;
    m_w = std::make_unique<testsupport::WindowFixture>(options);
    QVERIFY2(m_w->start(), qPrintable(m_w->why()));
    m_sim = &m_w->sim();
    m_form = &m_w->form();
    m_progress.clear();
    connect(m_sim, &SimulatorServer::requestHandled, this,
        [this] { m_progress.append(m_form->status().text(2)); });
}

void TestDeviceStatus::cleanup()
{
    m_w.reset();
}

QString TestDeviceStatus::glyph() const
{
    const QImage shown = widget<QToolButton>("bbPower")->icon().pixmap(48).toImage();
    for (const char *name : {"imgPowerOn", "imgPowerOff", "imgPowerInit"}) {
        if (QIcon(widget<QLabel>(name)->pixmap()).pixmap(48).toImage() == shown)
            return QString::fromLatin1(name + 8).toLower().replace(
                QLatin1String("init"), QLatin1String("unknown"));
    }
    return QStringLiteral("none");
}

void TestDeviceStatus::readStatus()
{
    click("btnGetDevStatus");
    QVERIFY(m_form->state().PowerOn);
    m_sim->clearReceived();
    m_progress.clear();
}

void TestDeviceStatus::otherSwitcherForgetsStatus_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("control mode") << "mode";
    QTest::newRow("network switcher") << "device";
}

// What was read belongs to that switcher: after choosing another, the power state is unknown
// again (so pages can be changed), the information labels are empty and no route is known. The
// next status that finds a switcher on reads its routes.
void TestDeviceStatus::otherSwitcherForgetsStatus()
{
    QFETCH(QString, change);
    m_sim->simulator().state().routes = {3, 3, 1, 2, 6, 4};
    readStatus();
    QVERIFY(text("lblDevice") != QStringLiteral("Device: "));
    QCOMPARE(glyph(), QStringLiteral("on"));
    QCOMPARE(displays(), QStringLiteral("3 3 1 2 6 4").split(QLatin1Char(' ')));
    m_sim->simulator().state().routes = {5, 1, 1, 1, 2, 6};

    if (change == QLatin1String("mode"))
        click("rbCOMMode");
    else
        Q_EMIT m_form->lanDevicePanel().deviceChanged(QStringLiteral("00-1A-2B-3C-4D-5E"));

    QVERIFY(!m_form->state().PowerOn);
    QCOMPARE(glyph(), QStringLiteral("unknown"));
    QCOMPARE(text("lblDevice"), QStringLiteral("Device: "));
    QCOMPARE(text("lblVersion"), QStringLiteral("Version: "));
    QCOMPARE(displays(), QStringList(6, QStringLiteral("-")));

    if (change == QLatin1String("mode"))
        click("rbLANMode");
    QCOMPARE(displays(), QStringList(6, QStringLiteral("-")));
    click("btnGetDevStatus");
    QVERIFY(m_form->state().PowerOn);
    QCOMPARE(commands(m_sim->received()), StatusReads + RouteReads);
    QCOMPARE(displays(), QStringLiteral("5 1 1 1 2 6").split(QLatin1Char(' ')));
}

void TestDeviceStatus::statusWhenOn_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("device");
    QTest::newRow("6x6") << 2 << "Device: HDMI Matrix 6x6";
    QTest::newRow("model not in the list") << 9 << "Device: Unknown model 9 (6x6)";
}

void TestDeviceStatus::statusWhenOn()
{
    QFETCH(int, model);
    QFETCH(QString, device);
    SwitcherState &s = m_sim->simulator().state();
    s.modelNumber = model;
    s.versionMajor = 7;
    s.versionMinor = 5;
    s.inputConnected[4] = false;
    s.outputConnected[2] = false;
    s.beeper = false;
    s.keysUnlocked = false;
    s.apm = true;
    s.irEnabled = true;
    QCOMPARE(glyph(), QStringLiteral("unknown"));

    click("btnGetDevStatus");

    QVERIFY(m_form->state().PowerOn);
    QCOMPARE(glyph(), QStringLiteral("on"));
    QCOMPARE(text("lblDevice"), device);
    QCOMPARE(text("lblVersion"), QStringLiteral("Version: 7.05"));
    QCOMPARE(text("lblInput1"), QStringLiteral("Input1: Yes"));
    QCOMPARE(text("lblInput5"), QStringLiteral("Input5: No"));
    QCOMPARE(
        widget<QLabel>("lblInput5")->toolTip(), QStringLiteral("Source on input 5 not connected"));
    QCOMPARE(text("lblOutput3"), QStringLiteral("Output3: No"));
    QCOMPARE(text("lblOutput6"), QStringLiteral("Output6: Yes"));
    QCOMPARE(text("lblInput7"), QStringLiteral("Input7: "));
    QVERIFY(widget<QRadioButton>("rbIROn")->isChecked());
    QVERIFY(widget<QRadioButton>("rbKeysOff")->isChecked());
    QVERIFY(widget<QRadioButton>("rbBeeperOff")->isChecked());
    QVERIFY(widget<QRadioButton>("rbAPMOn")->isChecked());
    // Showing the states sent nothing back: only reads reached the switcher.
    QCOMPARE(commands(m_sim->received()), StatusReads + RouteReads);
    QCOMPARE(m_progress.first(), QStringLiteral("Getting Power status ..."));
    QCOMPARE(m_progress[1], QStringLiteral("Getting device info ..."));
    QCOMPARE(m_progress[4], QStringLiteral("Getting Input1 connection ..."));
    QCOMPARE(m_progress[15], QStringLiteral("Getting Output6 connection ..."));
    QCOMPARE(m_progress.mid(16, 4),
        QStringList({QStringLiteral("Getting IR status ..."),
            QStringLiteral("Getting Keys status ..."), QStringLiteral("Getting Beeper status ..."),
            QStringLiteral("Getting APM status ...")}));
    QCOMPARE(m_form->status().text(2), QStringLiteral("Done"));
}

void TestDeviceStatus::statusWhenNotOn_data()
{
    QTest::addColumn<bool>("switcherOn");
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<QString>("glyph");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("panel2");
    SimFaults silent;
    silent.dropReplies = 5;
    QTest::newRow("switcher off") << false << SimFaults() << "off" << 1 << "Done";
    QTest::newRow("no answer") << true << silent << "unknown" << 5 << "Time out!";
}

void TestDeviceStatus::statusWhenNotOn()
{
    QFETCH(bool, switcherOn);
    QFETCH(SimFaults, faults);
    QFETCH(QString, glyph);
    QFETCH(int, requests);
    QFETCH(QString, panel2);
    // What a read while the switcher was on showed must not outlive it.
    readStatus();
    m_sim->simulator().state().powerOn = switcherOn;
    m_sim->faults() = faults;
    if (faults.dropReplies > 0)
        m_form->link()->setTiming(Timing::fast()); // a test of the time-out

    click("btnGetDevStatus");

    QVERIFY(!m_form->state().PowerOn);
    QCOMPARE(this->glyph(), glyph);
    QCOMPARE(m_sim->received().size(), requests);
    QVERIFY(commands(m_sim->received()).filter(QStringLiteral("10/01")).size() == requests);
    QCOMPARE(m_form->status().text(2), panel2);
    QCOMPARE(text("lblDevice"), QStringLiteral("Device: "));
    QCOMPARE(text("lblVersion"), QStringLiteral("Version: "));
    QCOMPARE(text("lblOutput1"), QStringLiteral("Output1: "));
    for (const char *radio : {"rbIROn", "rbIROff", "rbKeysOn", "rbBeeperOn", "rbAPMOff"})
        QVERIFY2(!widget<QRadioButton>(radio)->isChecked(), radio);
}

void TestDeviceStatus::busySwitcherShowsTrueRoutes_data()
{
    QTest::addColumn<int>("delayed"); // route replies delayed, from the first route read on
    QTest::addColumn<int>("percent"); // of the reply wait
    QTest::newRow("two replies, 140% of the wait late") << 2 << 140;
    QTest::newRow("three replies, 108% of the wait late") << 3 << 108;
    QTest::newRow("two replies, 240% of the wait late") << 2 << 240;
}

// The switcher is busy as the routes are read, then answers at once and in order: each display
// shows its own output's route, never the late answer for the output before it.
void TestDeviceStatus::busySwitcherShowsTrueRoutes()
{
    QFETCH(int, delayed);
    QFETCH(int, percent);
    m_form->link()->setTiming(Timing::fast()); // a test of the time-out
    m_sim->simulator().state().routes = {6, 5, 4, 3, 2, 1};
    const int late = Timing::fast().replyTimeoutMs() * percent / 100;
    bool armed = false;
    connect(m_sim, &SimulatorServer::requestHandled, this, [&](const QByteArray &request) {
        if (armed || request.mid(2, 2) != QByteArray::fromHex("0201"))
            return;
        armed = true;
        m_sim->faults().delayNext = delayed;
        m_sim->faults().delayNextMs = late;
    });

    click("btnGetDevStatus");

    QVERIFY(armed);
    QVERIFY(m_form->state().PowerOn);
    QCOMPARE(displays(), QStringLiteral("6 5 4 3 2 1").split(QLatin1Char(' ')));
    QCOMPARE(m_form->status().text(2), QStringLiteral("Done"));
}

void TestDeviceStatus::powerButton_data()
{
    QTest::addColumn<bool>("switcherOn");
    QTest::addColumn<bool>("readFirst");
    QTest::addColumn<bool>("afterOn");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("progress");
    const QString query = QStringLiteral("10/01");
    const QString set = QStringLiteral("10/02");
    QTest::newRow("on: powers off") << true << true << false << QStringList{set} << "Power off ...";
    QTest::newRow("off: boots") << false << true << true << QStringList{set}
                                << "Matrix booting ...";
    QTest::newRow("unknown, off: boots")
        << false << false << true << QStringList{query, set} << "Matrix booting ...";
    // A click before any status never powers a running switcher down.
    QTest::newRow("unknown, on: stays on")
        << true << false << true << QStringList{query} << "Getting Power status ...";
}

void TestDeviceStatus::powerButton()
{
    QFETCH(bool, switcherOn);
    QFETCH(bool, readFirst);
    QFETCH(bool, afterOn);
    QFETCH(QStringList, sent);
    QFETCH(QString, progress);
    SwitcherState &s = m_sim->simulator().state();
    s.powerOn = switcherOn;
    if (readFirst) {
        click("btnGetDevStatus");
        m_sim->clearReceived();
        m_progress.clear();
    }

    click("bbPower");

    QCOMPARE(s.powerOn, afterOn);
    QCOMPARE(m_form->state().PowerOn, afterOn);
    QCOMPARE(glyph(), afterOn ? QStringLiteral("on") : QStringLiteral("off"));
    QCOMPARE(commands(m_sim->received()), sent);
    QCOMPARE(m_progress.last(), progress);
    const CommandPacket last = CommandPacket::fromBytes(m_sim->received().last());
    QCOMPARE(last.word(3), quint16(0xD22D));
    QCOMPARE(last.word(4), quint16(0x2ED3));
    if (last.subcommand() == 0x02)
        QCOMPARE(last.word(1), afterOn ? quint16(0x0F) : quint16(0xF0));
    QCOMPARE(m_form->status().text(2), QStringLiteral("Done"));

    // And back again, a moment later: not the second half of a double click.
    QTest::qWait(QApplication::doubleClickInterval() + 1);
    click("bbPower");
    QCOMPARE(s.powerOn, !afterOn);
    QCOMPARE(glyph(), !afterOn ? QStringLiteral("on") : QStringLiteral("off"));
}

// A double click on the power button is one click: one power command, not off and on again.
void TestDeviceStatus::powerDoubleClick()
{
    readStatus();
    // Through the window, as the window system delivers it: press, release, press (a double
    // click), release.
    QWidget *power = widget("bbPower");
    QTest::mouseDClick(
        m_form->windowHandle(), Qt::LeftButton, {}, power->mapTo(m_form, power->rect().center()));
    QTRY_VERIFY(m_form->state().RunnerIdle);
    QCOMPARE(commands(m_sim->received()), QStringList{QStringLiteral("10/02")});
    QVERIFY(!m_sim->simulator().state().powerOn);
    QCOMPARE(glyph(), QStringLiteral("off"));
}

// A connection the switcher broke leaves nothing known of it: power, information and routes
// show unknown, not the last "on".
void TestDeviceStatus::lostConnectionForgetsStatus()
{
    readStatus();
    QCOMPARE(glyph(), QStringLiteral("on"));
    m_sim->faults().dropConnectionAfter = 1;
    click("rbBeeperOff");
    QTRY_COMPARE(glyph(), QStringLiteral("unknown"));
    QVERIFY(!m_form->state().PowerOn);
    QVERIFY(!m_form->link()->Connected());
    QCOMPARE(text("lblDevice"), QStringLiteral("Device: "));
    QCOMPARE(text("lblOutput1"), QStringLiteral("Output1: "));
    QCOMPARE(displays(), QStringList(6, QStringLiteral("-")));
}

void TestDeviceStatus::panelSwitch_data()
{
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("word1");
    QTest::addColumn<QString>("progress");
    QTest::addColumn<int>("field"); // 0 IR, 1 keys, 2 beeper, 3 APM
    QTest::addColumn<bool>("on");
    // The simulator starts with IR, keys and beeper on and APM off.
    QTest::newRow("IR off") << "rbIROff"
                            << "04/03" << 0xF0 << "Disable IR control ..." << 0 << false;
    QTest::newRow("keys lock") << "rbKeysOff"
                               << "01/0F" << 0xF0 << "Lock Keys on panel ..." << 1 << false;
    QTest::newRow("beeper off") << "rbBeeperOff"
                                << "01/0D" << 0xF0 << "Disable Beeper control ..." << 2 << false;
    QTest::newRow("APM on") << "rbAPMOn"
                            << "01/0B" << 0x0F << "Set APM ON ..." << 3 << true;
}

void TestDeviceStatus::panelSwitch()
{
    QFETCH(QString, radio);
    QFETCH(QString, command);
    QFETCH(int, word1);
    QFETCH(QString, progress);
    QFETCH(int, field);
    QFETCH(bool, on);
    // The APM group is hidden in the layout; its radios still work.
    widget("GroupBox1")->show();
    readStatus();
    SwitcherState &s = m_sim->simulator().state();
    bool *const fields[] = {&s.irEnabled, &s.keysUnlocked, &s.beeper, &s.apm};
    QVERIFY(*fields[field] != on);

    auto *button = m_form->findChild<QRadioButton *>(radio);
    QVERIFY(button);
    click(qPrintable(radio));

    QCOMPARE(*fields[field], on);
    QVERIFY(button->isChecked());
    QCOMPARE(commands(m_sim->received()), QStringList{command});
    QCOMPARE(CommandPacket::fromBytes(m_sim->received().first()).word(1), quint16(word1));
    QCOMPARE(m_progress, QStringList{progress});
    QCOMPARE(m_form->status().text(2), QStringLiteral("Done"));

    // A fresh read shows what the switcher now holds.
    click("btnGetDevStatus");
    QVERIFY(button->isChecked());
}

void TestDeviceStatus::panelSwitchNotApplied_data()
{
    QTest::addColumn<bool>("readFirst");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("requests");
    // Without a status read the switcher counts as off: nothing is sent.
    QTest::newRow("power not known")
        << false << "System is power off, please turn it on first." << 0;
    QTest::newRow("switcher refuses") << true << "" << 5;
}

void TestDeviceStatus::panelSwitchNotApplied()
{
    QFETCH(bool, readFirst);
    QFETCH(QString, box);
    QFETCH(int, requests);
    if (readFirst) {
        readStatus();
        // Switched off at its own panel since: it refuses the switch with status 0xFF.
        m_sim->simulator().state().powerOn = false;
    }
    auto *on = widget<QRadioButton>("rbBeeperOn");
    auto *off = widget<QRadioButton>("rbBeeperOff");
    const bool wasOn = on->isChecked();

    BoxAnswer answer;
    QTest::mouseClick(off, Qt::LeftButton);

    QCOMPARE(answer.text(), box);
    QCOMPARE(m_sim->received().size(), requests);
    if (readFirst)
        QCOMPARE(m_form->status().text(2), QStringLiteral("Send data failed!"));
    QVERIFY(m_sim->simulator().state().beeper);
    // The pair shows what the switcher had before.
    QVERIFY(!off->isChecked());
    QCOMPARE(on->isChecked(), wasOn);
    QCOMPARE(wasOn, readFirst);
}

void TestDeviceStatus::demoMode()
{
    // The operator's own settings must come out of a demo untouched.
    testsupport::WindowFixture::Options options;
    options.demo = true;
    m_form = nullptr;
    m_sim = nullptr;
    m_w = std::make_unique<testsupport::WindowFixture>(options);
    const QString settings = m_w->settingsPath();
    AppSettings own;
    own.controlMode = cmCOM;
    own.lanDevices = {QStringLiteral("[Office] - [Static IP] - [10.1.2.3] - [10.1.2.1] - "
                                     "[255.255.255.0] - [00-11-22-33-44-55] - [Same Subnet]")};
    own.lanDevice = own.lanDevices.first();
    QVERIFY(SettingsFile::save(settings, own));
    const QByteArray before = [&] {
        QFile file(settings);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    QVERIFY2(m_w->start(), qPrintable(m_w->why()));
    m_form = &m_w->form();
    QVERIFY(m_form->demo());
    QVERIFY2(m_form->demo()->isListening(), qPrintable(m_form->demo()->error()));

    // One click from Connect: TCP mode, the simulator's entry selected, not yet connected.
    QVERIFY(widget<QRadioButton>("rbLANMode")->isChecked());
    QCOMPARE(m_form->link()->ControlMode(), cmLAN);
    QCOMPARE(widget<QComboBox>("cbLANDevice")->currentText(), m_form->demo()->deviceEntry());
    QCOMPARE(m_form->link()->DeviceIP(), QStringLiteral("127.0.0.2"));
    QVERIFY(!m_form->link()->Connected());
    QVERIFY(widget<QPushButton>("btnConnect")->isEnabled());

    // A search stays on loopback and finds the demo switcher under the same entry.
    QVERIFY2(m_form->demo()->moduleServed(), qPrintable(m_form->demo()->moduleError()));
    QTimer answer;
    int polls = 0;
    connect(&answer, &QTimer::timeout, this, [&] {
        auto *search = qobject_cast<TfrmSearch *>(QApplication::activeModalWidget());
        if (!search)
            return;
        if (search->searchStep() == 2)
            search->btnYESClick();
        else if (++polls > 2000)
            search->reject();
    });
    answer.start(5);
    click("btnSearchDevice");
    answer.stop();
    QCOMPARE(m_form->demo()->server().network().searchRequests(), 1);
    QCOMPARE(widget<QComboBox>("cbLANDevice")->count(), 1);
    QCOMPARE(widget<QComboBox>("cbLANDevice")->currentText(), m_form->demo()->deviceEntry());

    click("btnConnect");
    QVERIFY(m_form->link()->Connected());
    click("btnGetDevStatus");
    QVERIFY(m_form->state().PowerOn);
    QCOMPARE(text("lblDevice"), QStringLiteral("Device: HDMI Matrix 6x6"));
    QCOMPARE(glyph(), QStringLiteral("on"));

    m_form->close();
    QFile file(settings);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    QVERIFY(QFile::exists(m_w->path(DemoSwitcher::settingsFileName())));
}

QTEST_MAIN(TestDeviceStatus)
#include "tst_devicestatus.moc"
