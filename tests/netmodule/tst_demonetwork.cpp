// Demo mode never touches the network. This program is the PC on 10.200.0.1 with a LAN
// interface (NetTestNamespace.h) and a capture on it; a network module on that LAN would
// answer anything that reached it. The demo window is driven through search, a search to a
// typed address, configuration and connect, and nothing may leave through the LAN interface.
#include "DialogDriver.h"
#include "NetTestNamespace.h"

#include "AppSettings.h"
#include "DemoSwitcher.h"
#include "DeviceEntry.h"
#include "LanDevicePanel.h"
#include "SettingsFile.h"
#include "SimNetwork.h"
#include "SimulatorServer.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TKVCOMControl.h"
#include "TfrmEditLAN.h"
#include "TfrmSearch.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>

#include <functional>
#include <memory>

using nettest::PeerAddress;

using testsupport::child;
using testsupport::click;
using testsupport::OnModal;

namespace {

const QString OfficeMac = QStringLiteral("02-00-00-00-00-0A");
const QString DemoOnly = QStringLiteral("Demo mode connects only to the demo switcher");

// Every frame this program sends out of one interface, read from a raw packet socket.
class Capture
{
public:
    Capture() = default;
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;
    ~Capture()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    QString open(const char *interface)
    {
        m_fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
        if (m_fd < 0)
            return nettest::errnoText("packet socket");
        sockaddr_ll at{};
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_ALL);
        at.sll_ifindex = static_cast<int>(::if_nametoindex(interface));
        if (at.sll_ifindex == 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0)
            return nettest::errnoText("bind the packet socket");
        return {};
    }

    // The outgoing frames since the last call, as "ethertype: destination" texts. IPv6 is off on
    // the interface, so the program cannot use it; what IPv6 the system itself sent while the
    // interface came up is not the program's.
    QStringList take()
    {
        QStringList frames;
        unsigned char frame[2048];
        for (;;) {
            sockaddr_ll from{};
            socklen_t size = sizeof from;
            const ssize_t n = ::recvfrom(
                m_fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr *>(&from), &size);
            if (n < 0)
                return frames;
            if (from.sll_pkttype != PACKET_OUTGOING || n < 14)
                continue;
            const int type = frame[12] << 8 | frame[13];
            if (type == ETHERTYPE_IPV6)
                continue;
            QString text = QStringLiteral("0x%1").arg(type, 4, 16, QLatin1Char('0'));
            if (type == ETHERTYPE_IP && n >= 34)
                text += QStringLiteral(": %1.%2.%3.%4 proto %5")
                            .arg(int(frame[30]))
                            .arg(int(frame[31]))
                            .arg(int(frame[32]))
                            .arg(int(frame[33]))
                            .arg(int(frame[23]));
            frames.append(text);
        }
    }

private:
    int m_fd = -1;
};

QString lanEntry(const char *tag, const QString &ip, const QString &mac)
{
    return makeDeviceEntry({QString::fromLatin1(tag), StaticIPText, ip,
        QStringLiteral("10.200.0.1"), QStringLiteral("255.255.255.0"), mac, SameSubnetText});
}

QStringList items(const QComboBox *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->itemText(i));
    return texts;
}

} // namespace

class TestDemoNetwork : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void nothingLeavesLoopback();
    void twoDemosFindTheirOwnModule();
    void demoNotServedIsShown();

private:
    // Opens the window in demo mode, its demo settings holding lanDevices; false when it did not
    // come up.
    bool openDemo(const QStringList &lanDevices = {});
    QString panel(int n) const { return m_form->status().text(n); }
    QComboBox *devices() const { return child<QComboBox>(m_form, QStringLiteral("cbLANDevice")); }
    void select(const QString &entry);
    // Searches; at step 2 either takes the list (Yes) or goes on to a typed address.
    QStringList search(const QString &typed = {});
    // Static with ip "a.b.c.d", or Auto IP when ip is empty.
    void configure(const QString &tag, const QString &ip);

    nettest::PeerNamespace m_peer;
    Capture m_capture;
    SimNetwork m_lan; // a module on the LAN that answers whatever reaches it
    std::unique_ptr<testsupport::WindowFixture> m_w;
    TForm1 *m_form = nullptr; // m_w's
};

void TestDemoNetwork::initTestCase()
{
    if (!g_netSkip.isEmpty()) {
        // CI runs as root: there the capture must run.
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            QFAIL(qPrintable(g_netSkip));
        QSKIP(qPrintable(g_netSkip));
    }
    const QString why = m_peer.create();
    QVERIFY2(why.isEmpty(), qPrintable(why));
    // Nothing of the program can go out over IPv6 unseen.
    QFile ipv6(QStringLiteral("/proc/sys/net/ipv6/conf/mxpc/disable_ipv6"));
    QVERIFY(ipv6.open(QIODevice::WriteOnly) && ipv6.write("1") == 1);
    ipv6.close();
    const QString capture = m_capture.open("mxpc");
    QVERIFY2(capture.isEmpty(), qPrintable(capture));

    // The capture sees what goes out: one datagram of this program's own.
    QUdpSocket probe;
    QCOMPARE(probe.writeDatagram("probe", QHostAddress(PeerAddress), 9), qint64(5));
    QStringList seen;
    QTRY_VERIFY((seen += m_capture.take()).contains(QStringLiteral("0x0800: 10.200.0.2 proto 17")));
    // Both ends forget each other, so that no later check of that neighbour sends ARP.
    QString failed;
    QVERIFY2(nettest::run(QStringLiteral("ip neigh flush dev mxpc").split(u' '), &failed),
        qPrintable(failed));
    m_peer.inside(
        [&] { nettest::run(QStringLiteral("ip neigh flush dev mxsim").split(u' '), &failed); });
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    m_capture.take();

    m_lan.setModuleCount(1, {10, 200, 0, 2});
    m_lan.modules()[0].mac = {0x02, 0, 0, 0, 0, 0x0A};
    m_lan.modules()[0].tag = QByteArrayLiteral("Office");
    bool bound = false;
    m_peer.inside([&] { bound = m_lan.bind(QHostAddress(QHostAddress::AnyIPv4)); });
    QVERIFY(bound);
}

void TestDemoNetwork::cleanup()
{
    m_w.reset();
    m_form = nullptr;
}

bool TestDemoNetwork::openDemo(const QStringList &lanDevices)
{
    testsupport::WindowFixture::Options options;
    options.demo = true;
    m_w = std::make_unique<testsupport::WindowFixture>(options);
    if (!lanDevices.isEmpty()) {
        AppSettings s;
        s.lanDevices = lanDevices;
        SettingsFile::save(m_w->path(DemoSwitcher::settingsFileName()), s);
    }
    if (!m_w->start())
        return false;
    m_form = &m_w->form();
    return true;
}

void TestDemoNetwork::select(const QString &entry)
{
    devices()->setCurrentIndex(devices()->findText(entry));
    QVERIFY(devices()->currentIndex() >= 0);
    m_form->lanDevicePanel().cbLANDeviceChange(); // as the operator's pick
}

QStringList TestDemoNetwork::search(const QString &typed)
{
    QStringList listed;
    bool typedDone = false;
    OnModal<TfrmSearch> driver([&](TfrmSearch *d) {
        switch (d->searchStep()) {
        case 2:
            if (typed.isEmpty()) {
                listed = items(child<QComboBox>(d, QStringLiteral("cbMXDevice")));
                click(d, "btnYES");
                return true;
            }
            click(d, "btnNo");
            return false;
        case 3: {
            if (typedDone)
                return false;
            typedDone = true;
            const QStringList parts = typed.split(u'.');
            for (int i = 1; i <= 4; ++i)
                child<QLineEdit>(d, QStringLiteral("edtIPField%1").arg(i))->setText(parts[i - 1]);
            click(d, "btnGO");
            return false;
        }
        case 5:
            listed = items(child<QComboBox>(d, QStringLiteral("cbMXDevice1")));
            click(d, "btnDone");
            return true;
        case 6:
            click(d, "btnCloseOfEnd");
            return true;
        default:
            return false;
        }
    });
    click(m_form, "btnSearchDevice");
    if (!driver.done())
        return {QStringLiteral("the search dialog is still open")};
    return listed;
}

void TestDemoNetwork::configure(const QString &tag, const QString &ip)
{
    OnModal<TfrmEditLAN> dialog([&](TfrmEditLAN *d) {
        child<QLineEdit>(d, QStringLiteral("leDeviceTag"))->setText(tag);
        if (ip.isEmpty()) {
            child<QRadioButton>(d, QStringLiteral("rbDHCP"))->click();
        } else {
            child<QRadioButton>(d, QStringLiteral("rbStaticIP"))->click();
            const QStringList parts = ip.split(u'.');
            for (int i = 1; i <= 4; ++i)
                child<QLineEdit>(d, QStringLiteral("edtIPField%1").arg(i))->setText(parts[i - 1]);
        }
        click(d, "btnOK");
        return true;
    });
    click(m_form, "btnConfig");
    QVERIFY(dialog.done());
}

void TestDemoNetwork::nothingLeavesLoopback()
{
    const QString office = lanEntry("Office", PeerAddress, OfficeMac);
    const QString nobody
        = lanEntry("Nobody", nettest::NobodyAddress, QStringLiteral("02-00-00-00-00-0B"));
    QVERIFY(openDemo({office, nobody}));
    QVERIFY2(m_form->demo()->isListening(), qPrintable(m_form->demo()->error()));
    QVERIFY2(m_form->demo()->moduleServed(), qPrintable(m_form->demo()->moduleError()));
    const QString demo = m_form->demo()->deviceEntry();
    QCOMPARE(GetEntryField(demo, EntryField::IP), QStringLiteral("127.0.0.2"));
    m_capture.take();

    // A search finds the demo switcher, and only it.
    QCOMPARE(search(), QStringList{demo});
    // A typed address that is not the demo switcher's finds nothing new.
    QCOMPARE(search(PeerAddress), QStringList{demo});
    QCOMPARE(items(devices()), (QStringList{demo, nobody, office}));

    // The demo module takes no address outside loopback: the entry stays as it was.
    select(demo);
    configure(QStringLiteral("Demo switcher"), QStringLiteral("10.200.0.50"));
    QCOMPARE(panel(2), QStringLiteral("Modify TCP configuration failed"));
    QCOMPARE(items(devices()), (QStringList{demo, nobody, office}));
    // Its own address, as the entry shows it, is no conflict: the tag changes.
    configure(QStringLiteral("Stage"), QStringLiteral("127.0.0.2"));
    QCOMPARE(panel(2), QStringLiteral("Modify TCP configuration ok"));
    const QString stage = devices()->currentText();
    QCOMPARE(GetEntryField(stage, EntryField::Tag), QStringLiteral("Stage"));
    QCOMPARE(GetEntryField(stage, EntryField::IP), QStringLiteral("127.0.0.2"));
    // A LAN entry's module is not reached.
    select(office);
    configure(QStringLiteral("Office"), {});
    QCOMPARE(panel(2), QStringLiteral("Modify TCP configuration failed"));

    // Connect: only the demo switcher, without an attempt anywhere else.
    for (const QString &entry : {office, nobody}) {
        select(entry);
        click(m_form, "btnConnect");
        QVERIFY(!m_form->link()->Connected());
        QCOMPARE(panel(2), DemoOnly);
        QVERIFY(m_form->status().alert());
    }
    select(stage);
    click(m_form, "btnConnect");
    QVERIFY(m_form->link()->Connected());
    QCOMPARE(panel(1), QStringLiteral("127.0.0.2: Connected"));

    const QStringList out = m_capture.take();
    QVERIFY2(out.isEmpty(), qPrintable(out.join(QLatin1String(", "))));
    QCOMPARE(m_lan.searchRequests(), 0);
    QCOMPARE(m_lan.configRequests(), 0);
}

void TestDemoNetwork::twoDemosFindTheirOwnModule()
{
    QVERIFY(openDemo());
    QTemporaryDir otherDir;
    ShellOptions options;
    options.programFolder = otherDir.path();
    options.demo = true;
    TForm1 other(options);
    // The second demo's module is served as well as the first one's.
    QVERIFY2(other.demo()->moduleServed(), qPrintable(other.demo()->moduleError()));
    QVERIFY2(other.demo()->isListening(), qPrintable(other.demo()->error()));

    QCOMPARE(search(), QStringList{m_form->demo()->deviceEntry()});
    QCOMPARE(m_form->demo()->server().network().searchRequests(), 1);
    QCOMPARE(other.demo()->server().network().searchRequests(), 0);
}

void TestDemoNetwork::demoNotServedIsShown()
{
    // Loopback keeps 127.0.0.1 alone: the demo switcher's 127.0.0.2 cannot be had.
    QString why;
    QVERIFY2(nettest::run(QStringLiteral("ip addr del 127.0.0.1/8 dev lo").split(u' '), &why),
        qPrintable(why));
    const auto restore = qScopeGuard([] {
        QString ignored;
        nettest::run(QStringLiteral("ip addr add 127.0.0.1/8 dev lo").split(u' '), &ignored);
    });
    QVERIFY2(nettest::run(QStringLiteral("ip addr add 127.0.0.1/32 dev lo").split(u' '), &why),
        qPrintable(why));
    const auto restoreHost = qScopeGuard([] {
        QString ignored;
        nettest::run(QStringLiteral("ip addr del 127.0.0.1/32 dev lo").split(u' '), &ignored);
    });
    QVERIFY(openDemo());
    QCOMPARE(panel(2), QStringLiteral("Demo switcher not served"));
    QVERIFY(m_form->status().alert());
    QVERIFY(!panel(3).isEmpty()); // the system's reason
}

QString g_netSkip;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    g_netSkip = nettest::enterPrivateNetwork();
    TestDemoNetwork test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_demonetwork.moc"
