// The network module dialogs through the real main window: the search dialog and the device
// list, the configuration dialog, and the TCP module query and reset. Datagrams travel between
// this program (the PC on 10.200.0.1, in a network namespace of its own) and simulated
// modules in a peer namespace (NetTestNamespace.h); module frames over a pseudo terminal.
#include "DialogDriver.h"
#include "NetTestNamespace.h"

#include "AppSettings.h"
#include "ConnectionControl.h"
#include "DeviceEntry.h"
#include "LanDevicePanel.h"
#include "NetworkModuleControl.h"
#include "SettingsFile.h"
#include "SimNetwork.h"
#include "SimulatorServer.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TKVCOMControl.h"
#include "TKVPing.h"
#include "TfrmEditLAN.h"
#include "TfrmEnterYes.h"
#include "TfrmSearch.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <functional>
#include <map>
#include <memory>

using nettest::PeerAddress;

using testsupport::child;
using testsupport::click;
using testsupport::OnModal;

namespace {

const QString PingRange = QStringLiteral("/proc/sys/net/ipv4/ping_group_range");

QString entry(const QString &tag, const QString &mode, const QString &ip, const QString &mac,
    const QString &reach = SameSubnetText)
{
    return makeDeviceEntry(
        {tag, mode, ip, QStringLiteral("10.200.0.1"), QStringLiteral("255.255.255.0"), mac, reach});
}

QStringList strings(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list.append(QString::fromLatin1(item));
    return list;
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

} // namespace

class TestNetDialogs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void searchFoundThenYes();
    void typedAddress_data();
    void typedAddress();
    void stopCancels();
    void deleteEntry_data();
    void deleteEntry();
    void configure_data();
    void configure();
    void autoIPEntryGreysTheAddresses();
    void udpPorts_data();
    void udpPorts();
    void tagFitsTheWire_data();
    void tagFitsTheWire();
    void moduleQueryAndReset_data();
    void moduleQueryAndReset();
    void loopbackOnly();
    void configurationWait();
    void dialogsKeepTheirSize();

private:
    // A window whose Settings.ini holds devices (the selected one last); the sim module frames
    // come over a pty when withPty.
    void openForm(const QStringList &devices = {}, bool withPty = false, bool realTiming = false);
    void needLan();
    void startModules(int count);
    bool runSearch(const std::function<bool(TfrmSearch *)> &act);
    QComboBox *devices() const { return child<QComboBox>(m_form, QStringLiteral("cbLANDevice")); }
    QString panel(int n) const { return m_form->status().text(n); }

    nettest::PeerNamespace m_peer;
    bool m_lanUp = false;
    std::unique_ptr<testsupport::WindowFixture> m_w;
    SimulatorServer *m_server = nullptr; // m_w's, with a pty
    std::unique_ptr<SimNetwork> m_modules;
    TForm1 *m_form = nullptr; // m_w's
    QString m_pty;
};

void TestNetDialogs::initTestCase()
{
    if (!g_netSkip.isEmpty())
        return; // the pty tests still run
    const QString why = m_peer.create();
    QVERIFY2(why.isEmpty(), qPrintable(why));
    // The reachability check may use an ICMP datagram socket in this namespace.
    QVERIFY(writeFile(PingRange, "0 2147483647"));
    m_lanUp = true;
}

void TestNetDialogs::cleanup()
{
    m_w.reset();
    m_modules.reset();
}

void TestNetDialogs::needLan()
{
    if (!m_lanUp)
        QSKIP(qPrintable(g_netSkip));
}

void TestNetDialogs::openForm(const QStringList &devices, bool withPty, bool realTiming)
{
    testsupport::WindowFixture::Options options;
    options.tcp = false;
    options.pty = withPty;
    options.realTiming = realTiming;
    options.beforeShow = [](TForm1 &form) { form.lanDevicePanel().ping().setTimeout(300); };
    m_w = std::make_unique<testsupport::WindowFixture>(options);
    if (!devices.isEmpty()) {
        AppSettings s;
        s.lanDevices = devices;
        s.lanDevice = devices.last();
        QVERIFY(SettingsFile::save(m_w->settingsPath(), s));
    }
    QVERIFY2(m_w->start(), qPrintable(m_w->why()));
    m_form = &m_w->form();
    m_form->connection().waitForComPortList();
    if (withPty) {
        m_server = &m_w->sim();
        m_pty = m_w->pty();
    }
}

void TestNetDialogs::startModules(int count)
{
    m_modules = std::make_unique<SimNetwork>();
    m_modules->setModuleCount(count, {10, 200, 0, 2});
    for (SimModuleState &m : m_modules->modules()) {
        m.gateway = {10, 200, 0, 1};
        m.tag = QByteArrayLiteral("Lobby"); // the same tag: still one entry each
    }
    bool bound = false;
    m_peer.inside([&] { bound = m_modules->bind(QHostAddress(QHostAddress::AnyIPv4)); });
    QVERIFY(bound);
}

bool TestNetDialogs::runSearch(const std::function<bool(TfrmSearch *)> &act)
{
    OnModal<TfrmSearch> driver(act);
    click(m_form, "btnSearchDevice");
    return driver.done();
}

void TestNetDialogs::searchFoundThenYes()
{
    needLan();
    startModules(2);
    openForm();
    QStringList shown;
    QString title;
    QVERIFY(runSearch([&](TfrmSearch *d) {
        if (d->searchStep() != 2)
            return false;
        auto *list = child<QComboBox>(d, QStringLiteral("cbMXDevice"));
        for (int i = 0; i < list->count(); ++i)
            shown.append(list->itemText(i));
        title = d->windowTitle();
        click(d, "btnYES");
        return true;
    }));

    const QString first = entry(
        QStringLiteral("Lobby"), StaticIPText, PeerAddress, QStringLiteral("02-4D-58-00-00-01"));
    const QString second = entry(QStringLiteral("Lobby"), StaticIPText,
        QStringLiteral("10.200.0.3"), QStringLiteral("02-4D-58-00-00-02"));
    QCOMPARE(title, QStringLiteral("Matrix found"));
    QCOMPARE(shown, (QStringList{first, second}));
    QCOMPARE(devices()->count(), 2);
    // The last one added is selected and becomes the target.
    QCOMPARE(devices()->currentText(), second);
    QCOMPARE(m_form->state().currentDeviceMAC, QStringLiteral("02-4D-58-00-00-02"));
    QCOMPARE(m_form->link()->DeviceIP(), QStringLiteral("10.200.0.3"));
    QCOMPARE(panel(2), QStringLiteral("Search TCP control device ok"));
    QCOMPARE(SettingsFile::load(m_form->settingsPath()).lanDevices, (QStringList{first, second}));
    QCOMPARE(SettingsFile::load(m_form->settingsPath()).lanDevice, second);

    // A second search finds nothing new: no duplicates, the selection stays.
    devices()->setCurrentIndex(0);
    QVERIFY(runSearch([&](TfrmSearch *d) {
        if (d->searchStep() != 2)
            return false;
        click(d, "btnYES");
        return true;
    }));
    QCOMPARE(devices()->count(), 2);
    QCOMPARE(devices()->currentText(), first);
    QCOMPARE(m_form->link()->DeviceIP(), PeerAddress);
}

void TestNetDialogs::typedAddress_data()
{
    QTest::addColumn<int>("dropped"); // search rounds the module does not answer
    QTest::addColumn<QString>("typed"); // keys typed into the four fields, "|" between
    QTest::addColumn<int>("endStep");
    QTest::addColumn<QStringList>("added");

    const QString typedEntry = entry(
        QStringLiteral("Lobby"), StaticIPText, PeerAddress, QStringLiteral("02-4D-58-00-00-01"));
    QTest::newRow("none by broadcast, the typed address answers")
        << 5 << "1x0|200|0|2" << 5 << QStringList{typedEntry};
    QTest::newRow("found, No, nobody at the typed address: Done keeps the first entries")
        << 0 << "10|200|0|77" << 5 << QStringList{typedEntry};
    QTest::newRow("none at all") << 5 << "10|200|0|77" << 6 << QStringList{};
}

void TestNetDialogs::typedAddress()
{
    QFETCH(int, dropped);
    QFETCH(QString, typed);
    QFETCH(int, endStep);
    QFETCH(QStringList, added);
    needLan();
    startModules(1);
    // Each round asks on every search target.
    m_modules->faults().dropSearchReplies
        = dropped * int(NetworkModuleControl::searchTargets().size());
    openForm();

    QStringList defaults;
    bool typedTitle = false;
    int ended = 0;
    QStringList entered;
    QVERIFY(runSearch([&](TfrmSearch *d) {
        switch (d->searchStep()) {
        case 2:
            click(d, "btnNo");
            return false;
        case 3: {
            if (!defaults.isEmpty())
                return false;
            const QStringList parts = typed.split(u'|');
            for (int i = 1; i <= 4; ++i) {
                auto *field = child<QLineEdit>(d, QStringLiteral("edtIPField%1").arg(i));
                defaults.append(field->text());
                if (i == 4)
                    defaults.append(field->hasFocus() ? QStringLiteral("focus") : QString());
                field->clear();
                QTest::keyClicks(field, parts[i - 1]);
                entered.append(field->text());
            }
            connect(d, &QWidget::windowTitleChanged, this, [&](const QString &title) {
                typedTitle = typedTitle || title == QLatin1String("Get Matrix informations");
            });
            click(d, "btnGO");
            return false;
        }
        case 5:
        case 6:
            ended = d->searchStep();
            click(d, ended == 5 ? "btnDone" : "btnCloseOfEnd");
            return true;
        default:
            return false;
        }
    }));
    QCOMPARE(ended, endStep);
    // Whatever the typed search did, the selected entry is the target again.
    QCOMPARE(m_form->link()->DeviceIP(), GetEntryField(devices()->currentText(), EntryField::IP));
    QCOMPARE(defaults, strings({"192", "168", "0", "100", "focus"}));
    QVERIFY(typedTitle);
    // Letters are not taken.
    QCOMPARE(entered.join(u'|'), typed.remove(u'x'));
    QStringList listed;
    for (int i = 0; i < devices()->count(); ++i)
        listed.append(devices()->itemText(i));
    QCOMPARE(listed, added);
    QCOMPARE(panel(2),
        added.isEmpty() ? QStringLiteral("Search TCP control device cancelled")
                        : QStringLiteral("Search TCP control device ok"));
}

void TestNetDialogs::stopCancels()
{
    openForm({entry(QStringLiteral("Old"), StaticIPText, QStringLiteral("10.200.0.9"),
        QStringLiteral("02-00-00-00-00-09"))});
    QString progress;
    QString cancelledTitle;
    QVERIFY(runSearch([&](TfrmSearch *d) {
        auto *gauge = child<QProgressBar>(d, QStringLiteral("tsSearching"));
        if (d->searchStep() == 1 && progress.isEmpty()
            && gauge->format() != QLatin1String("Searching TCP control device ... |")) {
            progress = gauge->format();
            click(d, "btnStop");
            return false;
        }
        if (d->searchStep() != 4)
            return false;
        cancelledTitle = d->windowTitle();
        click(d, "btnStopThenClose");
        return true;
    }));
    QVERIFY2(progress.startsWith(QLatin1String("Searching TCP control device ... ")),
        qPrintable(progress));
    QCOMPARE(cancelledTitle, QStringLiteral("Searching cancelled"));
    QVERIFY(!m_form->link()->Searching());
    QCOMPARE(panel(2), QStringLiteral("Search TCP control device cancelled"));
    QCOMPARE(devices()->count(), 1);
}

void TestNetDialogs::deleteEntry_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<int>("selectedAfter"); // -1: none

    QTest::newRow("middle: the same position") << 3 << 1 << QMessageBox::Yes << 1;
    QTest::newRow("last: the new last") << 3 << 2 << QMessageBox::Yes << 1;
    QTest::newRow("only: none") << 1 << 0 << QMessageBox::Yes << -1;
    QTest::newRow("No keeps it") << 2 << 0 << QMessageBox::No << 0;
}

void TestNetDialogs::deleteEntry()
{
    QFETCH(int, count);
    QFETCH(int, selected);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(int, selectedAfter);
    QStringList entries;
    for (int i = 1; i <= count; ++i)
        entries.append(entry(QStringLiteral("Sw%1").arg(i), StaticIPText,
            QStringLiteral("10.200.0.%1").arg(10 + i),
            QStringLiteral("02-00-00-00-00-0%1").arg(i)));
    openForm(entries);
    devices()->setCurrentIndex(selected);
    m_form->lanDevicePanel().cbLANDeviceChange(); // as the operator's pick
    const QString doomed = devices()->currentText();

    QString asked;
    OnModal<QMessageBox> box([&](QMessageBox *b) {
        asked = b->text();
        b->button(answer)->click();
        return true;
    });
    click(m_form, "btnDeleteDevice");
    QVERIFY(box.done());
    QCOMPARE(asked, QStringLiteral("Sure to delete device: ") + doomed + QStringLiteral(" ?"));
    QCOMPARE(devices()->count(), answer == QMessageBox::Yes ? count - 1 : count);
    QCOMPARE(devices()->currentIndex(), selectedAfter);
    const QString now = devices()->currentText();
    QCOMPARE(m_form->state().currentDeviceMAC, GetEntryField(now, EntryField::MAC));
    QCOMPARE(m_form->link()->DeviceIP(), GetEntryField(now, EntryField::IP));
    if (selectedAfter < 0) {
        QCOMPARE(m_form->state().currentDeviceMAC, QStringLiteral("00-00-00-00-00-00"));
        QCOMPARE(m_form->link()->DeviceIP(), QStringLiteral("0.0.0.0"));
    }
    QCOMPARE(SettingsFile::load(m_form->settingsPath()).lanDevices.size(), devices()->count());
}

void TestNetDialogs::configure_data()
{
    QTest::addColumn<QStringList>("ip"); // what the operator types; "" leaves a field empty
    QTest::addColumn<int>("status"); // the module's answer
    QTest::addColumn<QString>("panel2");
    QTest::addColumn<QString>("newIP"); // empty: the entry stays as it was

    const QStringList fresh = strings({"10", "200", "0", "50"});
    QTest::newRow("accepted") << fresh << 0x00 << "Modify TCP configuration ok"
                              << "10.200.0.50";
    QTest::newRow("failed") << fresh << 0x10 << "Modify TCP configuration failed"
                            << "";
    QTest::newRow("conflict") << fresh << 0x30 << "Setting IP conflict:10.200.0.50"
                              << "";
    QTest::newRow("the PC's own address, nothing sent")
        << strings({"10", "200", "0", "1"}) << 0x00 << "Setting IP conflict:10.200.0.1"
        << "";
}

void TestNetDialogs::configure()
{
    QFETCH(QStringList, ip);
    QFETCH(int, status);
    QFETCH(QString, panel2);
    QFETCH(QString, newIP);
    needLan();
    startModules(1);
    m_modules->faults().configStatus = quint8(status);
    const QString former = entry(
        QStringLiteral("Lobby"), StaticIPText, PeerAddress, QStringLiteral("02-4D-58-00-00-01"));
    openForm({former});

    bool greyed = false;
    QTimer watch;
    watch.setInterval(0);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (m_form->link()->Configuring())
            greyed = greyed
                || (!child<QWidget>(m_form, QStringLiteral("btnConnect"))->isEnabled()
                    && !devices()->isEnabled());
    });
    watch.start();
    OnModal<TfrmEditLAN> dialog([&](TfrmEditLAN *d) {
        child<QRadioButton>(d, QStringLiteral("rbStaticIP"))->click();
        for (int i = 1; i <= 4; ++i) {
            auto *field = child<QLineEdit>(d, QStringLiteral("edtIPField%1").arg(i));
            field->setText(ip[i - 1]);
        }
        // An empty gateway part goes out as 0, a mask part of 300 as 255.
        child<QLineEdit>(d, QStringLiteral("edtGWField4"))->clear();
        child<QLineEdit>(d, QStringLiteral("edtSNMField4"))->setText(QStringLiteral("300"));
        child<QLineEdit>(d, QStringLiteral("leDeviceTag"))->setText(QStringLiteral("Hall"));
        click(d, "btnOK");
        return true;
    });
    click(m_form, "btnConfig");
    QVERIFY(dialog.done());
    QCOMPARE(panel(2), panel2);

    const SimModuleState &module = m_modules->modules().first();
    if (newIP.isEmpty()) {
        QCOMPARE(devices()->currentText(), former);
        QVERIFY(m_form->status().alert());
        if (ip[3] == QLatin1String("1"))
            QCOMPARE(m_modules->configRequests(), 0);
    } else {
        QVERIFY(greyed);
        const QString now = devices()->currentText();
        QCOMPARE(devices()->count(), 1);
        QCOMPARE(GetEntryField(now, EntryField::Tag), QStringLiteral("Hall"));
        QCOMPARE(GetEntryField(now, EntryField::IP), newIP);
        QCOMPARE(GetEntryField(now, EntryField::Gateway), QStringLiteral("10.200.0.0"));
        QCOMPARE(GetEntryField(now, EntryField::Mask), QStringLiteral("255.255.255.255"));
        QCOMPARE(GetEntryField(now, EntryField::Reach), SameSubnetText);
        QCOMPARE(ipText(module.ip), newIP);
        QCOMPARE(m_form->link()->DeviceIP(), newIP);
        QCOMPARE(SettingsFile::load(m_form->settingsPath()).lanDevice, now);
        QCOMPARE(SettingsFile::load(m_form->settingsPath()).macId, QStringLiteral("02-4D-58"));
    }
    // The controls are back.
    QVERIFY(devices()->isEnabled());
    QVERIFY(child<QWidget>(m_form, QStringLiteral("btnConnect"))->isEnabled());
}

void TestNetDialogs::autoIPEntryGreysTheAddresses()
{
    openForm({entry(QStringLiteral("Lobby"), AutoIPText, QStringLiteral("10.200.0.2"),
        QStringLiteral("02-4D-58-00-00-01"))});
    const QString former = devices()->currentText();
    bool checked = false, greyed = false, macReadOnly = false;
    OnModal<TfrmEditLAN> dialog([&](TfrmEditLAN *d) {
        checked = child<QRadioButton>(d, QStringLiteral("rbDHCP"))->isChecked();
        greyed = !child<QLineEdit>(d, QStringLiteral("edtIPField1"))->isEnabled()
            && !child<QLineEdit>(d, QStringLiteral("edtSNMField4"))->isEnabled();
        macReadOnly = child<QLineEdit>(d, QStringLiteral("edtMACField6"))->isReadOnly()
            && child<QLineEdit>(d, QStringLiteral("edtMACField6"))->text() == QLatin1String("01");
        QTest::keyClick(d, Qt::Key_Escape);
        return true;
    });
    click(m_form, "btnConfig");
    QVERIFY(dialog.done());
    QVERIFY(checked);
    QVERIFY(greyed);
    QVERIFY(macReadOnly);
    QCOMPARE(panel(2), QStringLiteral("Modify TCP configuration cancelled"));
    QCOMPARE(devices()->currentText(), former);
}

void TestNetDialogs::udpPorts_data()
{
    QTest::addColumn<bool>("search"); // else a configuration
    QTest::addColumn<int>("heldPort"); // held by another program; 0 none
    QTest::addColumn<QString>("panel2");

    QTest::newRow("search, then the port is free") << true << 0 << "Search TCP control device ok";
    QTest::newRow("configuration, then the port is free")
        << false << 0 << "Modify TCP configuration ok";
    QTest::newRow("search port held")
        << true << 30600 << "UDP port 30600 is in use by another program";
    QTest::newRow("configuration port held")
        << false << 30601 << "UDP port 30601 is in use by another program";
}

void TestNetDialogs::udpPorts()
{
    QFETCH(bool, search);
    QFETCH(int, heldPort);
    QFETCH(QString, panel2);
    needLan();
    startModules(1);
    openForm({entry(
        QStringLiteral("Lobby"), StaticIPText, PeerAddress, QStringLiteral("02-4D-58-00-00-01"))});
    QUdpSocket holder;
    if (heldPort)
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, quint16(heldPort)));

    if (search) {
        QVERIFY(runSearch([&](TfrmSearch *d) {
            if (d->searchStep() == 2 || d->searchStep() == 3) {
                click(d, d->searchStep() == 2 ? "btnYES" : "btnClose");
                return true;
            }
            return false;
        }));
    } else {
        OnModal<TfrmEditLAN> dialog([&](TfrmEditLAN *d) {
            click(d, "btnOK");
            return true;
        });
        click(m_form, "btnConfig");
        QVERIFY(dialog.done());
    }
    QCOMPARE(panel(2), panel2);
    QCOMPARE(m_form->status().alert(), heldPort != 0);
    // Between operations the window holds neither port: matrixctl may search meanwhile.
    if (!heldPort) {
        QUdpSocket other;
        QVERIFY2(other.bind(QHostAddress::AnyIPv4, search ? SearchPort : ConfigPort),
            qPrintable(other.errorString()));
    }
}

void TestNetDialogs::tagFitsTheWire_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("paste"); // else typed key by key
    QTest::addColumn<QString>("shown"); // 32 bytes of UTF-8 at most, whole characters

    const QString accented = QStringLiteral("e\u0301");
    QTest::newRow("typed ASCII") << "" << 0 << QString(40, u'a') << false << QString(32, u'a');
    QTest::newRow("typed two-byte letters")
        << "" << 0 << QString(20, u'\u00e9') << false << QString(16, u'\u00e9');
    QTest::newRow("typed into the middle of a full tag")
        << QString(30, u'A') << 10 << QString(3, u'\u00e9') << false
        << QString(10, u'A') + u'\u00e9' + QString(20, u'A');
    QTest::newRow("pasted three-byte signs")
        << "" << 0 << QStringLiteral("abc") + QString(15, u'\u20ac') << true
        << QStringLiteral("abc") + QString(9, u'\u20ac');
    QTest::newRow("pasted accents stay with their letters")
        << "" << 0 << accented.repeated(12) << true << accented.repeated(10);
}

void TestNetDialogs::tagFitsTheWire()
{
    QFETCH(QString, start);
    QFETCH(int, cursor);
    QFETCH(QString, input);
    QFETCH(bool, paste);
    QFETCH(QString, shown);
    openForm({entry(QStringLiteral("Lobby"), StaticIPText, QStringLiteral("10.200.0.2"),
        QStringLiteral("02-4D-58-00-00-01"))});
    QString text;
    OnModal<TfrmEditLAN> dialog([&](TfrmEditLAN *d) {
        auto *tag = child<QLineEdit>(d, QStringLiteral("leDeviceTag"));
        tag->setText(start);
        tag->setCursorPosition(cursor);
        if (paste) {
            QGuiApplication::clipboard()->setText(input);
            QTest::keyClick(tag, Qt::Key_V, Qt::ControlModifier);
        } else {
            // Key by key, each with its text, as a keyboard layout with these letters types.
            for (const QChar c : std::as_const(input))
                QTest::sendKeyEvent(QTest::Click, tag, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
        text = d->tag();
        QTest::keyClick(d, Qt::Key_Escape);
        return true;
    });
    click(m_form, "btnConfig");
    QVERIFY(dialog.done());
    QCOMPARE(text, shown);
}

void TestNetDialogs::moduleQueryAndReset_data()
{
    QTest::addColumn<QStringList>("typed"); // tried in turn; the last one decides
    QTest::addColumn<bool>("reset");

    QTest::newRow("Yes") << strings({"Yes"}) << true;
    QTest::newRow("yes, Yes. then Yes") << strings({"yes", "Yes.", "Yes"}) << true;
    QTest::newRow("YES, then No") << strings({"YES", ""}) << false;
}

void TestNetDialogs::moduleQueryAndReset()
{
    QFETCH(QStringList, typed);
    QFETCH(bool, reset);
    openForm({}, true);
    SimModuleState &module = m_server->network().modules().first();
    module.ip = {10, 1, 2, 3};
    module.dhcp = true;
    child<QRadioButton>(m_form, QStringLiteral("rbCOMMode"))->click();
    auto *ports = child<QComboBox>(m_form, QStringLiteral("cbCOMList"));
    ports->setCurrentIndex(ports->findText(m_pty));
    QVERIFY(ports->currentIndex() >= 0);

    click(m_form, "btnQueryTCPModInfo");
    QCOMPARE(panel(2), QStringLiteral("Query TCP Module ok"));
    QCOMPARE(child<QLabel>(m_form, QStringLiteral("lblTCPVersion"))->text(),
        QStringLiteral("Version: Ver2.1"));
    QCOMPARE(child<QLabel>(m_form, QStringLiteral("lblTCPDHCP"))->text(),
        QStringLiteral("DHCP: Auto IP"));
    QCOMPARE(child<QLabel>(m_form, QStringLiteral("lblTCPIPAddr"))->text(),
        QStringLiteral("IP Address: 10.1.2.3"));
    QVERIFY(m_form->state().RunnerIdle);

    int tries = 0;
    bool stayedOpen = true;
    OnModal<TfrmEnterYes> confirm([&](TfrmEnterYes *d) {
        auto *edit = child<QLineEdit>(d, QStringLiteral("edtYes"));
        if (tries > 0)
            stayedOpen = stayedOpen && edit->hasFocus();
        const QString text = typed.at(tries++);
        if (text.isEmpty()) {
            click(d, "btnNo");
            return true;
        }
        edit->setText(text);
        click(d, "btnYes");
        return tries == typed.size();
    });
    click(m_form, "btnReset");
    QVERIFY(confirm.done());
    QVERIFY(stayedOpen);
    QCOMPARE(tries, typed.size());
    if (reset) {
        // A reset is followed by a query that shows the factory settings.
        QCOMPARE(panel(2), QStringLiteral("Query TCP Module ok"));
        QCOMPARE(child<QLabel>(m_form, QStringLiteral("lblTCPDHCP"))->text(),
            QStringLiteral("DHCP: Static IP"));
        QCOMPARE(child<QLabel>(m_form, QStringLiteral("lblTCPIPAddr"))->text(),
            QStringLiteral("IP Address: 192.168.0.100"));
        QCOMPARE(ipText(module.ip), QStringLiteral("192.168.0.100"));
    } else {
        QCOMPARE(panel(2), QStringLiteral("Reset Default cancelled"));
        QCOMPARE(ipText(module.ip), QStringLiteral("10.1.2.3"));
    }
    QVERIFY(m_form->state().RunnerIdle);
}

void TestNetDialogs::loopbackOnly()
{
    needLan();
    // A listener on the LAN would hear any broadcast or stray unicast.
    startModules(1);
    SimNetwork local;
    local.setModuleCount(1, {127, 0, 0, 2});
    QVERIFY(local.bind(QHostAddress(QStringLiteral("127.0.0.2"))));
    openForm();
    LanDevicePanel &lan = m_form->lanDevicePanel();
    QVERIFY(!lan.useLoopbackNetwork(QHostAddress(PeerAddress)));
    QVERIFY(lan.useLoopbackNetwork(QHostAddress(QStringLiteral("127.0.0.2"))));

    QVERIFY(runSearch([&](TfrmSearch *d) {
        if (d->searchStep() != 2)
            return false;
        click(d, "btnYES");
        return true;
    }));
    QCOMPARE(devices()->currentText(),
        makeDeviceEntry({QStringLiteral("TCP Module"), StaticIPText, QStringLiteral("127.0.0.2"),
            QStringLiteral("127.0.0.1"), QStringLiteral("255.255.255.0"),
            QStringLiteral("02-4D-58-00-00-01"), SameSubnetText}));

    OnModal<TfrmEditLAN> dialog([&](TfrmEditLAN *d) {
        child<QLineEdit>(d, QStringLiteral("leDeviceTag"))->setText(QStringLiteral("Demo"));
        click(d, "btnOK");
        return true;
    });
    click(m_form, "btnConfig");
    QVERIFY(dialog.done());
    QCOMPARE(panel(2), QStringLiteral("Modify TCP configuration ok"));
    QCOMPARE(local.modules().first().tag, QByteArrayLiteral("Demo"));
    QCOMPARE(m_modules->searchRequests(), 0);
    QCOMPARE(m_modules->configRequests(), 0);
}

// The configuration's wait as the operator sees it: the spinner turns at the right end of
// panel 2 however long the text before it, and a press turned away during the wait is told
// (the second press of a double click too) and forgotten when the wait ends.
void TestNetDialogs::configurationWait()
{
    needLan();
    SimNetwork local;
    local.setModuleCount(1, {127, 0, 0, 2});
    QVERIFY(local.bind(QHostAddress(QStringLiteral("127.0.0.2"))));
    // The spinner turns at its real pace, every 100 ms for at least three seconds.
    openForm({entry(QStringLiteral("TCP Module"), StaticIPText, QStringLiteral("127.0.0.2"),
                 QStringLiteral("02-4D-58-00-00-01"))},
        false, true);
    QVERIFY(m_form->lanDevicePanel().useLoopbackNetwork(QHostAddress(QStringLiteral("127.0.0.2"))));

    // The right end of panel 2, as drawn for each turning character seen.
    constexpr int SpinnerStrip = 10;
    auto *panel2 = child<QWidget>(m_form, QStringLiteral("sbPanel2"));
    auto *displayTags = child<QCheckBox>(m_form, QStringLiteral("cbDisplayTag"));
    const bool tagsBefore = displayTags->isChecked();
    std::map<QChar, QImage> turns;
    QStringList notes;
    QTimer watch;
    watch.setInterval(0);
    connect(&watch, &QTimer::timeout, this, [&] {
        const QString text = panel(2);
        if (!m_form->link()->Configuring()
            || !text.startsWith(QLatin1String("Setting TCP control configuration ... ")))
            return;
        const QImage image = panel2->grab().toImage();
        turns.emplace(
            text.back(), image.copy(image.width() - SpinnerStrip, 0, SpinnerStrip, image.height()));
        if (!notes.isEmpty())
            return;
        // The second press of a double click, as the window system sends it, then a click.
        m_form->status().ShowStatus(3, QString());
        const QPoint at = displayTags->rect().center();
        QMouseEvent second(QEvent::MouseButtonDblClick, at, displayTags->mapToGlobal(at),
            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(displayTags, &second);
        notes.append(panel(3));
        m_form->status().ShowStatus(3, QString());
        QTest::mouseClick(displayTags, Qt::LeftButton);
        notes.append(panel(3));
    });
    watch.start();
    OnModal<TfrmEditLAN> dialog([&](TfrmEditLAN *d) {
        click(d, "btnOK");
        return true;
    });
    click(m_form, "btnConfig");
    watch.stop();
    QVERIFY(dialog.done());
    QCOMPARE(panel(2), QStringLiteral("Modify TCP configuration ok"));

    const QString ignored = QStringLiteral("In processing, command ignored");
    QCOMPARE(notes, QStringList({ignored, ignored}));
    QCOMPARE(displayTags->isChecked(), tagsBefore);
    // Gone with the wait it belonged to.
    QTRY_COMPARE(panel(3), QString());

    QVERIFY2(turns.size() >= 2, qPrintable(QString::number(turns.size())));
    for (auto a = turns.begin(); a != turns.end(); ++a) {
        for (auto b = std::next(a); b != turns.end(); ++b)
            QVERIFY2(a->second != b->second,
                qPrintable(QStringLiteral("'%1' and '%2' look alike").arg(a->first, b->first)));
    }
}

// The two dialogs laid out by their forms keep that size: nothing to resize or maximise.
void TestNetDialogs::dialogsKeepTheirSize()
{
    openForm({entry(
        QStringLiteral("Lobby"), StaticIPText, PeerAddress, QStringLiteral("02-4D-58-00-00-01"))});
    // The sizes a dialog takes and allows, against the size its layout asks for. (The window
    // system, not the dialog, decides whether a maximised window outgrows its maximum: the
    // offscreen one does.)
    const auto sizes = [](const QDialog *d) {
        return QStringLiteral("%1x%2 min %3x%4 max %5x%6 maximise %7")
            .arg(d->width())
            .arg(d->height())
            .arg(d->minimumWidth())
            .arg(d->minimumHeight())
            .arg(d->maximumWidth())
            .arg(d->maximumHeight())
            .arg(bool(d->windowFlags() & Qt::WindowMaximizeButtonHint));
    };
    const auto fixed = [](const QDialog *d) {
        const QSize s = d->sizeHint();
        return QStringLiteral("%1x%2 min %1x%2 max %1x%2 maximise 0")
            .arg(s.width())
            .arg(s.height());
    };
    QString seen;
    QString expected;
    OnModal<TfrmEditLAN> dialog([&](TfrmEditLAN *d) {
        expected = fixed(d);
        seen = sizes(d);
        d->reject();
        return true;
    });
    click(m_form, "btnConfig");
    QVERIFY(dialog.done());
    QCOMPARE(seen, expected);

    auto *confirm = m_form->findChild<TfrmEnterYes *>();
    QVERIFY(confirm);
    confirm->open();
    QVERIFY(QTest::qWaitForWindowExposed(confirm));
    expected = fixed(confirm);
    seen = sizes(confirm);
    confirm->reject();
    QCOMPARE(seen, expected);
}

QString g_netSkip;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    g_netSkip = nettest::enterPrivateNetwork();
    TestNetDialogs test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_netdialogs.moc"
