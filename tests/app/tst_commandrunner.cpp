// The main window against the simulated switcher over a loopback TCP socket and a pseudo
// terminal: connecting, the command runner and its reports, closing and page changes while an
// operation runs.
#include "CommandPacket.h"
#include "CommandRunner.h"
#include "ConnectionControl.h"
#include "DialogDriver.h"
#include "FirmwarePage.h"
#include "LinkStatusText.h"
#include "RoutingPanel.h"
#include "SimulatorServer.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TKVCOMControl.h"
#include "Transport.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SimFaults)

namespace {

using testsupport::BoxAnswer;
using testsupport::OnceWhen;

// A listener whose accept queue is already full: a further connect hangs until it times out.
class FullListener final
{
public:
    FullListener()
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr *>(&addr), len) != 0
            || listen(m_listener, 0) != 0
            || getsockname(m_listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
            return;
        m_filler = socket(AF_INET, SOCK_STREAM, 0);
        if (m_filler >= 0 && ::connect(m_filler, reinterpret_cast<sockaddr *>(&addr), len) == 0)
            m_port = ntohs(addr.sin_port);
    }
    ~FullListener()
    {
        for (int fd : {m_filler, m_listener}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    Q_DISABLE_COPY_MOVE(FullListener)
    quint16 port() const { return m_port; }

private:
    int m_listener = -1;
    int m_filler = -1;
    quint16 m_port = 0;
};

const QString MissingPort = QStringLiteral("/nonexistent/ttyMX0");

} // namespace

class TestCommandRunner : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void connectAndRun_data();
    void connectAndRun();
    void outcomes_data();
    void outcomes();
    void namedOperations_data();
    void namedOperations();
    void secondCommandIgnored();
    void closeWithoutOperation();
    void connectAfterAFailure();
    void closeWhileConnecting();
    void inputDuringConnect_data();
    void inputDuringConnect();
    void inputAsConnectSettles_data();
    void inputAsConnectSettles();
    void closeDuringOperation_data();
    void closeDuringOperation();
    void closeQuestionHoldsNoWait_data();
    void closeQuestionHoldsNoWait();
    void inputDuringOperation_data();
    void inputDuringOperation();
    void pageChange_data();
    void pageChange();
    void modeSwitchClosesLink_data();
    void modeSwitchClosesLink();
    void vanishedPortIsClosed();
    void serialPortOption();

private:
    template<typename T>
    T *widget(const char *name) const
    {
        return m_w->find<T>(QLatin1String(name));
    }
    // Points the window at a wire without connecting: "tcp", "pty", "nothing listening" or
    // "missing port".
    void selectWire(const QString &wire);
    // Points the link at a listener that never accepts, so that a connect waits its whole
    // (shortened) time-out.
    void aimAtUnansweredConnect(const FullListener &listener);
    QString panel(int n) const { return m_form->status().text(n); }
    SwitcherOutcome route(int input, int output);

    std::unique_ptr<testsupport::WindowFixture> m_w;
    SimulatorServer *m_sim = nullptr; // m_w's
    TForm1 *m_form = nullptr; // m_w's
    QString m_pty;
};

void TestCommandRunner::init()
{
    testsupport::WindowFixture::Options options;
    options.pty = true;
    options.deviceIp.clear();
    m_w = std::make_unique<testsupport::WindowFixture>(options);
    QVERIFY2(m_w->start(), qPrintable(m_w->why()));
    m_sim = &m_w->sim();
    m_form = &m_w->form();
    m_pty = m_w->pty();
}

void TestCommandRunner::cleanup()
{
    m_w.reset();
}

void TestCommandRunner::selectWire(const QString &wire)
{
    const bool serial = wire == QLatin1String("pty") || wire == QLatin1String("missing port");
    widget<QRadioButton>(serial ? "rbCOMMode" : "rbLANMode")->click();
    if (wire == QLatin1String("missing port")) {
        m_form->connection().setPortSource([] { return QStringList{MissingPort}; });
        m_form->connection().RefreshComPortList();
        m_form->connection().waitForComPortList();
    }
    auto *ports = widget<QComboBox>("cbCOMList");
    ports->setCurrentIndex(ports->findText(wire == QLatin1String("pty") ? m_pty : MissingPort));
    m_form->link()->setDeviceIP(wire == QLatin1String("nothing listening")
            ? QStringLiteral("127.0.0.9")
            : QStringLiteral("127.0.0.1"));
}

void TestCommandRunner::aimAtUnansweredConnect(const FullListener &listener)
{
    m_form->link()->setTcpPort(listener.port());
    Timing timing = m_form->link()->timing();
    timing.connectTimeoutMs = 300;
    m_form->link()->setTiming(timing);
}

SwitcherOutcome TestCommandRunner::route(int input, int output)
{
    return m_form->runner().run(SwitcherOperation::command(
        QStringLiteral("Setting..."), false, 0x02, 0x03, quint16(input), quint16(output)));
}

void TestCommandRunner::connectAndRun_data()
{
    QTest::addColumn<QString>("wire");
    QTest::newRow("tcp") << QStringLiteral("tcp");
    QTest::newRow("pty") << QStringLiteral("pty");
}

void TestCommandRunner::connectAndRun()
{
    QFETCH(QString, wire);
    selectWire(wire);
    auto *button = widget<QPushButton>("btnConnect");

    QTest::mouseClick(button, Qt::LeftButton);
    const QString where = wire == QLatin1String("pty") ? m_pty : QStringLiteral("127.0.0.1");
    QCOMPARE(panel(1), where + QStringLiteral(": Connected"));
    QCOMPARE(panel(2), QString());
    QCOMPARE(button->text(), QStringLiteral("&Disconnect"));
    QVERIFY(widget<QLabel>("imgOpen")->isVisible());
    QVERIFY(!widget<QLabel>("imgClose")->isVisible());
    QVERIFY(!widget<QComboBox>("cbCOMList")->isEnabled());

    const SwitcherOutcome result = route(3, 2);
    QVERIFY(result.ok());
    QCOMPARE(panel(2), QStringLiteral("Done"));
    QCOMPARE(panel(3), QString());
    QVERIFY(!m_form->status().alert());
    QCOMPARE(m_sim->simulator().state().routes[1], 3);
    QVERIFY(m_form->state().RunnerIdle);

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!m_form->link()->Connected());
    QCOMPARE(panel(1), QStringLiteral("Disconnect"));
    QCOMPARE(button->text(), QStringLiteral("&Connect"));
    QVERIFY(widget<QLabel>("imgClose")->isVisible());
    // The port list is usable again, where COM mode enables its group.
    QCOMPARE(widget<QComboBox>("cbCOMList")->isEnabled(), wire == QLatin1String("pty"));
}

void TestCommandRunner::outcomes_data()
{
    QTest::addColumn<QString>("wire");
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<int>("power"); // -1: plain command; 0/1: powered command, switcher off/on
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("panel2");
    QTest::addColumn<bool>("red");
    QTest::addColumn<QString>("panel3");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("requests");

    auto faults = [](auto set) {
        SimFaults f;
        set(f);
        return f;
    };
    const QString done = QStringLiteral("Done");
    const QString none;
    const QString note = QStringLiteral("note"); // panel 3 before the command
    // Not connected beforehand in every row: the runner connects on demand.
    QTest::newRow("tcp: done") << "tcp" << SimFaults() << -1 << true << done << false << none
                               << none << 1;
    QTest::newRow("pty: done") << "pty" << SimFaults() << -1 << true << done << false << none
                               << none << 1;
    QTest::newRow("tcp: switcher on, done")
        << "tcp" << SimFaults() << 1 << true << done << false << none << none << 1;
    QTest::newRow("tcp: time out") << "tcp" << faults([](SimFaults &f) { f.dropReplies = 5; }) << -1
                                   << false << "Time out!" << true << none << none << 5;
    QTest::newRow("pty: time out") << "pty" << faults([](SimFaults &f) { f.dropReplies = 5; }) << -1
                                   << false << "Time out!" << true << none << none << 5;
    QTest::newRow("tcp: refused") << "tcp" << faults([](SimFaults &f) { f.refuseStatus = 5; }) << -1
                                  << false << "Send data failed!" << true << none << none << 5;
    QTest::newRow("pty: refused") << "pty" << faults([](SimFaults &f) { f.refuseStatus = 5; }) << -1
                                  << false << "Send data failed!" << true << none << none << 5;
    QTest::newRow("tcp: hang-up") << "tcp"
                                  << faults([](SimFaults &f) { f.dropConnectionAfter = 1; }) << -1
                                  << false << "TCP control failed!" << true << none << none << 1;
    // A failed connect keeps the system's reason in panel 3.
    QTest::newRow("nothing listening")
        << "nothing listening" << SimFaults() << -1 << false << "Connect 127.0.0.9 failed" << true
        << "Connection refused" << none << 0;
    QTest::newRow("missing serial port") << "missing port" << SimFaults() << -1 << false
                                         << QStringLiteral("Open COM [%1] failed").arg(MissingPort)
                                         << true << "No such file or directory" << none << 0;
    QTest::newRow("switcher off") << "tcp" << SimFaults() << 0 << false << none << false << note
                                  << "System is power off, please turn it on first." << 0;
}

void TestCommandRunner::outcomes()
{
    QFETCH(QString, wire);
    QFETCH(SimFaults, faults);
    QFETCH(int, power);
    QFETCH(bool, success);
    QFETCH(QString, panel2);
    QFETCH(bool, red);
    QFETCH(QString, panel3);
    QFETCH(QString, box);
    QFETCH(int, requests);

    selectWire(wire);
    m_sim->faults() = faults;
    if (faults.dropReplies > 0)
        m_form->link()->setTiming(Timing::fast()); // a test of the time-out
    m_form->state().PowerOn = power == 1;
    m_form->status().ShowStatus(3, QStringLiteral("note"));

    BoxAnswer answer(QMessageBox::Ok);
    const SwitcherOutcome result = m_form->runner().run(
        SwitcherOperation::command(QStringLiteral("Setting..."), power >= 0, 0x02, 0x03, 4, 1));

    QCOMPARE(result.ok(), success);
    QCOMPARE(panel(2), panel2);
    QCOMPARE(m_form->status().alert(), red);
    QCOMPARE(panel(3), panel3);
    QCOMPARE(answer.seen(), !box.isEmpty());
    if (!box.isEmpty()) {
        QCOMPARE(answer.text(), box);
        QCOMPARE(answer.icon(), QMessageBox::Information);
        QVERIFY(!m_form->link()->Connected());
    }
    QCOMPARE(m_sim->received().size(), requests);
    QVERIFY(m_form->state().RunnerIdle);
    // A connection the switcher dropped shows as closed.
    if (!m_form->link()->Connected()) {
        QCOMPARE(panel(1), QStringLiteral("Disconnect"));
        QCOMPARE(widget<QPushButton>("btnConnect")->text(), QStringLiteral("&Connect"));
    }
    if (red) {
        // The failure text stays on red with white letters.
        const QImage image
            = m_form->findChild<QWidget *>(QStringLiteral("sbPanel2"))->grab().toImage();
        QCOMPARE(image.pixelColor(image.width() - 2, image.height() - 2), QColor(Qt::red));
    }
}

void TestCommandRunner::namedOperations_data()
{
    QTest::addColumn<QString>("wire");
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<bool>("powerOn");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("panel2");
    QTest::addColumn<int>("requests");

    SimFaults silent;
    silent.dropReplies = 5;
    SimFaults refusing;
    refusing.refuseStatus = 5;
    const QString off = QStringLiteral("System is power off, please turn it on first.");
    QTest::newRow("done") << "tcp" << SimFaults() << true << false << "ok" << QString() << "Done"
                          << 1;
    QTest::newRow("time out") << "tcp" << silent << true << false << "timedOut"
                              << "Time out!"
                              << "Time out!" << 5;
    QTest::newRow("refused") << "tcp" << refusing << true << false << "refused"
                             << "Send data failed!"
                             << "Send data failed!" << 5;
    QTest::newRow("switcher off") << "tcp" << SimFaults() << false << false << "refused" << off
                                  << QString() << 0;
    QTest::newRow("busy") << "tcp" << SimFaults() << true << true << "refused"
                          << "In processing, command ignored" << QString() << 0;
    // The connect action has shown why.
    QTest::newRow("nothing listening") << "nothing listening" << SimFaults() << true << false
                                       << "lost" << QString() << "Connect 127.0.0.9 failed" << 0;
}

// A named operation goes through the runner's rules and shows its own progress text.
void TestCommandRunner::namedOperations()
{
    QFETCH(QString, wire);
    QFETCH(SimFaults, faults);
    QFETCH(bool, powerOn);
    QFETCH(bool, busy);
    QFETCH(QString, status);
    QFETCH(QString, reason);
    QFETCH(QString, panel2);
    QFETCH(int, requests);

    selectWire(wire);
    m_sim->faults() = faults;
    if (faults.dropReplies > 0)
        m_form->link()->setTiming(Timing::fast());
    m_form->state().PowerOn = powerOn;
    m_form->state().RunnerIdle = !busy;
    QString progress;
    connect(
        m_sim, &SimulatorServer::requestHandled, this, [&] { progress = panel(2); },
        Qt::SingleShotConnection);

    BoxAnswer answer(QMessageBox::Ok);
    Switcher &switcher = m_form->runner();
    const SwitcherResult<int> route = switcher.route(3);

    QCOMPARE(switcherStatusName(route.outcome.status), status);
    QCOMPARE(route.outcome.reason, reason);
    QCOMPARE(panel(2), panel2);
    QCOMPARE(answer.seen(), !powerOn);
    QCOMPARE(m_sim->received().size(), requests);
    if (requests > 0)
        QCOMPARE(progress, QStringLiteral("Getting Output3 ..."));
    if (route.ok())
        QCOMPARE(route.value, 3);
    if (busy)
        QCOMPARE(panel(3), reason);
    QCOMPARE(m_form->state().RunnerIdle, !busy);
    m_form->state().RunnerIdle = true;
}

void TestCommandRunner::secondCommandIgnored()
{
    selectWire(QStringLiteral("tcp"));
    SwitcherOutcome second = SwitcherOutcome::done({});
    QString noteDuring;
    connect(
        m_sim, &SimulatorServer::requestHandled, this,
        [&] {
            second = m_form->runner().run(
                SwitcherOperation::command(QStringLiteral("Setting..."), false, 0x02, 0x03, 1, 1));
            noteDuring = panel(3);
        },
        Qt::SingleShotConnection);

    const SwitcherOutcome first = route(5, 6);

    QVERIFY(!second.ok());
    QCOMPARE(noteDuring, QStringLiteral("In processing, command ignored"));
    QVERIFY(first.ok());
    QCOMPARE(panel(2), QStringLiteral("Done"));
    QCOMPARE(m_sim->received().size(), 1);
    QCOMPARE(m_sim->simulator().state().routes[5], 5);
    QCOMPARE(m_sim->simulator().state().routes[0], 1);
}

void TestCommandRunner::closeWithoutOperation()
{
    selectWire(QStringLiteral("tcp"));
    QVERIFY(route(2, 2).ok());
    const QPointer<TKVCOMControl> link = m_form->link();

    BoxAnswer answer(QMessageBox::Yes);
    QVERIFY(m_form->close());
    QVERIFY(!answer.seen());
    QVERIFY(!m_form->isVisible());
    QVERIFY(m_form->state().StopRequested);
    QVERIFY(link.isNull());
}

// The reason a connect failed stays in panel 3 until a connect succeeds.
void TestCommandRunner::connectAfterAFailure()
{
    selectWire(QStringLiteral("nothing listening"));
    QTest::mouseClick(widget<QPushButton>("btnConnect"), Qt::LeftButton);
    QCOMPARE(panel(2), QStringLiteral("Connect 127.0.0.9 failed"));
    QCOMPARE(panel(3), QStringLiteral("Connection refused"));

    selectWire(QStringLiteral("tcp"));
    QTest::mouseClick(widget<QPushButton>("btnConnect"), Qt::LeftButton);
    QVERIFY(m_form->link()->Connected());
    QCOMPARE(panel(2), QString());
    QCOMPARE(panel(3), QString());
}

void TestCommandRunner::closeWhileConnecting()
{
    selectWire(QStringLiteral("tcp"));
    FullListener listener;
    QVERIFY(listener.port() != 0);
    aimAtUnansweredConnect(listener);

    BoxAnswer answer(QMessageBox::Ok);
    bool closed = true;
    const OnceWhen whenConnecting(
        [&] { return m_form->link()->connecting(); }, [&] { closed = m_form->close(); });
    widget<QPushButton>("btnConnect")->click();

    QVERIFY(whenConnecting.done());
    QVERIFY(answer.seen());
    QCOMPARE(answer.text(), QStringLiteral("Connection in process, please wait..."));
    QCOMPARE(answer.icon(), QMessageBox::Information);
    QVERIFY(!closed);
    QVERIFY(m_form->isVisible());
    QVERIFY(!m_form->state().StopRequested);
    QCOMPARE(panel(2), QStringLiteral("Connect 127.0.0.1 failed"));
    QCOMPARE(panel(3), QStringLiteral("Connection timed out"));
}

void TestCommandRunner::inputDuringConnect_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("note"); // panel 3 right after the input
    const QString ignored = QStringLiteral("In processing, command ignored");
    QTest::newRow("COM control mode clicked") << "rbCOMMode" << ignored;
    QTest::newRow("a command that connects on demand") << "command" << ignored;
    QTest::newRow("Device status clicked") << "btnGetDevStatus" << ignored;
    QTest::newRow("a routing click") << "route" << ignored;
    // The connect action itself, as the pages call it: it returns at once.
    QTest::newRow("Connect again") << "btnConnect" << QString();
}

// While a TCP connect waits, neither the control mode nor a second connect may touch the
// transport: one connect, one failure report naming the address that was tried.
void TestCommandRunner::inputDuringConnect()
{
    QFETCH(QString, input);
    QFETCH(QString, note);
    m_form->state().PowerOn = true;
    selectWire(QStringLiteral("tcp"));
    FullListener listener;
    QVERIFY(listener.port() != 0);
    aimAtUnansweredConnect(listener);
    QStringList failures;
    connect(m_form->link(), &TKVCOMControl::notification, this, [&](const LinkNotice &notice) {
        if (notice.code == LinkMessage::OpenCloseFailed)
            failures.append(linkStatusText(notice, *m_form->link()));
    });

    bool modeEnabledMeanwhile = true;
    QString noteAfterInput;
    SwitcherOutcome result;
    const OnceWhen whenConnecting([&] { return m_form->link()->connecting(); },
        [&] {
            modeEnabledMeanwhile = widget<QRadioButton>("rbCOMMode")->isEnabled();
            m_form->status().ShowStatus(3, QString());
            if (input == QLatin1String("command"))
                result = route(1, 1);
            else if (input == QLatin1String("btnConnect"))
                m_form->connection().btnConnectClick();
            else if (input == QLatin1String("route"))
                QTest::mouseClick(m_form->routingPanel().FindInputButton(1, 4), Qt::LeftButton);
            else // near the left edge, inside the part of a radio button that takes clicks
                QTest::mouseClick(
                    m_form->findChild<QWidget *>(input), Qt::LeftButton, {}, QPoint(6, 8));
            noteAfterInput = panel(3);
        });
    QTest::mouseClick(widget<QPushButton>("btnConnect"), Qt::LeftButton);

    QVERIFY(whenConnecting.done());
    QCOMPARE(noteAfterInput, note);
    QVERIFY(!modeEnabledMeanwhile);
    QVERIFY(!result.ok());
    QCOMPARE(int(m_form->link()->ControlMode()), int(cmLAN));
    QVERIFY(widget<QRadioButton>("rbLANMode")->isChecked());
    QCOMPARE(failures, QStringList{QStringLiteral("Connect 127.0.0.1 failed")});
    QCOMPARE(panel(2), failures.first());
    QVERIFY(!m_form->link()->transport(cmLAN)->isOpen());
    QCOMPARE(widget<QPushButton>("btnConnect")->text(), QStringLiteral("&Connect"));
    // Afterwards the mode controls work again.
    QVERIFY(widget<QRadioButton>("rbCOMMode")->isEnabled());
    QVERIFY(widget<QPushButton>("btnConnect")->isEnabled());
}

void TestCommandRunner::inputAsConnectSettles_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("Device status") << "btnGetDevStatus";
    QTest::newRow("Connect clicked again") << "btnConnect";
}

// A connect that succeeds still waits for the link to settle: a click that lands then is
// turned away with a note. Nothing reaches the switcher inside the connect, and it stays one
// connect, up.
void TestCommandRunner::inputAsConnectSettles()
{
    QFETCH(QString, input);
    m_form->state().PowerOn = true;
    selectWire(QStringLiteral("tcp"));
    Timing timing = m_form->link()->timing();
    timing.connectSettleMs = 100;
    m_form->link()->setTiming(timing);
    int failures = 0;
    connect(m_form->link(), &TKVCOMControl::notification, this,
        [&](const LinkNotice &notice) { failures += notice.code == LinkMessage::OpenCloseFailed; });

    QString note;
    const OnceWhen whenConnected([&] { return m_form->link()->Connected(); },
        [&] {
            m_form->status().ShowStatus(3, QString());
            QTest::mouseClick(widget<QPushButton>(qPrintable(input)), Qt::LeftButton);
            note = panel(3);
        });
    QTest::mouseClick(widget<QPushButton>("btnConnect"), Qt::LeftButton);

    QVERIFY(whenConnected.done());
    QCOMPARE(note, QStringLiteral("In processing, command ignored"));
    QCOMPARE(m_sim->received(), QByteArrayList());
    QCOMPARE(failures, 0);
    QVERIFY(m_form->link()->Connected());
    QCOMPARE(widget<QPushButton>("btnConnect")->text(), QStringLiteral("&Disconnect"));
}

void TestCommandRunner::closeDuringOperation_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes closes") << true;
    QTest::newRow("no keeps everything") << false;
}

void TestCommandRunner::closeDuringOperation()
{
    QFETCH(bool, yes);
    selectWire(QStringLiteral("tcp"));
    if (yes) {
        m_sim->faults().dropReplies = 5; // the operation would wait long for its reply
        m_form->link()->setTiming(Timing::fast());
    }
    const QPointer<TKVCOMControl> link = m_form->link();

    BoxAnswer answer(yes ? QMessageBox::Yes : QMessageBox::No);
    bool closedAtOnce = true;
    connect(
        m_sim, &SimulatorServer::requestHandled, this, [&] { closedAtOnce = m_form->close(); },
        Qt::SingleShotConnection);

    const SwitcherOutcome result = route(2, 3);

    QVERIFY(answer.seen());
    QCOMPARE(
        answer.text(), QStringLiteral("Processing not complete, continue to close controller?"));
    QCOMPARE(answer.icon(), QMessageBox::Question);
    // The question is answered later, from the operation's own wait.
    QVERIFY(!closedAtOnce);
    QCOMPARE(link.isNull(), yes);
    QCOMPARE(result.ok(), !yes);
    QCOMPARE(m_form->isVisible(), !yes);
    QVERIFY(m_form->state().RunnerIdle);
    if (yes) {
        QCOMPARE(m_sim->received().size(), 1);
        QVERIFY(panel(2) != QStringLiteral("Done"));
    } else {
        QCOMPARE(panel(2), QStringLiteral("Done"));
        QVERIFY(link->Connected());
        QVERIFY(route(4, 4).ok());
    }
}

void TestCommandRunner::inputDuringOperation_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("COM control mode") << "rbCOMMode";
    QTest::newRow("Disconnect") << "btnConnect";
    QTest::newRow("the firmware file's ...") << "btnOpenFW";
}

// While a command waits for its reply, a click that would change the link or open a dialog is
// turned away with a note; the command completes.
void TestCommandRunner::inputDuringOperation()
{
    QFETCH(QString, target);
    selectWire(QStringLiteral("tcp"));
    bool dialogOpened = false;
    m_form->firmwarePage().setOpenFile([&](const QString &, const QString &) {
        dialogOpened = true;
        return QString();
    });
    QString noteAfterClick;
    connect(
        m_sim, &SimulatorServer::requestHandled, this,
        [&] {
            // Near the left edge, inside the part of a radio button that takes clicks.
            QTest::mouseClick(
                m_form->findChild<QWidget *>(target), Qt::LeftButton, {}, QPoint(6, 8));
            noteAfterClick = panel(3);
        },
        Qt::SingleShotConnection);

    const SwitcherOutcome result = route(2, 3);

    QCOMPARE(noteAfterClick, QStringLiteral("In processing, command ignored"));
    QVERIFY(result.ok());
    QCOMPARE(panel(2), QStringLiteral("Done"));
    QCOMPARE(int(m_form->link()->ControlMode()), int(cmLAN));
    QVERIFY(m_form->link()->Connected());
    QVERIFY(!dialogOpened);
    QCOMPARE(m_sim->received().size(), 1);
}

void TestCommandRunner::closeQuestionHoldsNoWait_data()
{
    QTest::addColumn<bool>("connecting"); // a connect waits, else a command's reply
    QTest::newRow("close question during a command") << false;
    QTest::newRow("connect notice during a connect") << true;
}

// The box that closing shows during a wait does not hold that wait: the operation ends on time
// with the box still open, and the answer counts afterwards.
void TestCommandRunner::closeQuestionHoldsNoWait()
{
    QFETCH(bool, connecting);
    selectWire(QStringLiteral("tcp"));
    m_form->link()->setTiming(Timing::fast()); // the operation ends by its time-out
    FullListener listener;
    QVERIFY(listener.port() != 0);
    if (connecting)
        aimAtUnansweredConnect(listener);
    else
        m_sim->faults().dropReplies = 5;
    QPointer<QMessageBox> box;
    bool closedAtOnce = true;
    const auto closeNow = [&] {
        closedAtOnce = m_form->close();
        box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    };
    std::optional<OnceWhen> whenConnecting;
    if (connecting)
        whenConnecting.emplace([&] { return m_form->link()->connecting(); }, closeNow);
    else
        connect(m_sim, &SimulatorServer::requestHandled, this, closeNow, Qt::SingleShotConnection);
    // Should the box hold the wait, it is answered after a while so that the test ends.
    QTimer late;
    late.setSingleShot(true);
    connect(&late, &QTimer::timeout, this, [] {
        if (auto *open = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            open->done(0);
    });
    late.start(3000);

    SwitcherOutcome result;
    if (connecting)
        QTest::mouseClick(widget<QPushButton>("btnConnect"), Qt::LeftButton);
    else
        result = route(2, 3);
    const bool openWhenDone = box && box->isVisible();
    late.stop();

    QVERIFY(!closedAtOnce);
    QVERIFY(openWhenDone);
    QVERIFY(!result.ok());
    QCOMPARE(panel(2),
        connecting ? QStringLiteral("Connect 127.0.0.1 failed") : QStringLiteral("Time out!"));
    QCOMPARE(box->text(),
        connecting ? QStringLiteral("Connection in process, please wait...")
                   : QStringLiteral("Processing not complete, continue to close controller?"));
    QTest::mouseClick(box->button(connecting ? QMessageBox::Ok : QMessageBox::No), Qt::LeftButton);
    QTRY_VERIFY(!box);
    QVERIFY(m_form->isVisible());
    m_form->link()->setTcpPort(m_sim->tcpPort());
    QVERIFY(route(4, 4).ok());
}

void TestCommandRunner::pageChange_data()
{
    QTest::addColumn<bool>("powerOn");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("changes");
    QTest::newRow("switcher off, idle") << false << false << true;
    QTest::newRow("switcher off, busy") << false << true << true;
    QTest::newRow("switcher on, idle") << true << false << true;
    QTest::newRow("switcher on, busy") << true << true << false;
}

void TestCommandRunner::pageChange()
{
    QFETCH(bool, powerOn);
    QFETCH(bool, busy);
    QFETCH(bool, changes);
    selectWire(QStringLiteral("tcp"));
    m_form->state().PowerOn = powerOn;
    auto *pages = widget<QTabWidget>("pcContainer");
    QTabBar *tabs = pages->tabBar();
    const int target = pages->indexOf(widget<QWidget>("tsSetting"));
    int pageAfterClick = -1;
    const auto clickTab = [&] {
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(target).center());
        pageAfterClick = pages->currentIndex();
    };

    if (busy) {
        connect(m_sim, &SimulatorServer::requestHandled, this, clickTab, Qt::SingleShotConnection);
        QVERIFY(route(1, 1).ok());
    } else {
        clickTab();
    }
    QCOMPARE(pageAfterClick, changes ? target : 0);
}

void TestCommandRunner::modeSwitchClosesLink_data()
{
    QTest::addColumn<QString>("wire");
    QTest::addColumn<QString>("radio");
    QTest::addColumn<int>("mode");
    QTest::newRow("tcp, then COM mode") << "tcp"
                                        << "rbCOMMode" << int(cmCOM);
    QTest::newRow("pty, then TCP mode") << "pty"
                                        << "rbLANMode" << int(cmLAN);
}

void TestCommandRunner::modeSwitchClosesLink()
{
    QFETCH(QString, wire);
    QFETCH(QString, radio);
    QFETCH(int, mode);
    selectWire(wire);
    QTest::mouseClick(widget<QPushButton>("btnConnect"), Qt::LeftButton);
    QVERIFY(m_form->link()->Connected());

    // On the indicator, inside the part of a radio button that takes clicks.
    QTest::mouseClick(m_form->findChild<QRadioButton *>(radio), Qt::LeftButton, {}, QPoint(6, 8));

    QVERIFY(!m_form->link()->Connected());
    QCOMPARE(int(m_form->link()->ControlMode()), mode);
    QCOMPARE(widget<QPushButton>("btnConnect")->text(), QStringLiteral("&Connect"));
    QVERIFY(widget<QLabel>("imgClose")->isVisible());
    QCOMPARE(panel(1), QStringLiteral("Disconnect"));
    QCOMPARE(widget<QWidget>("gbCOMMode")->isEnabled(), mode == cmCOM);
    QCOMPARE(widget<QWidget>("gbLANMode")->isEnabled(), mode == cmLAN);
}

void TestCommandRunner::vanishedPortIsClosed()
{
    selectWire(QStringLiteral("pty"));
    QTest::mouseClick(widget<QPushButton>("btnConnect"), Qt::LeftButton);
    QVERIFY(m_form->link()->Connected());

    const QString other = QStringLiteral("ttyOther0");
    m_form->connection().setPortSource([other] { return QStringList{other}; });
    m_form->tmrTimer();
    m_form->connection().waitForComPortList();

    QVERIFY(!m_form->link()->Connected());
    auto *ports = widget<QComboBox>("cbCOMList");
    QCOMPARE(ports->count(), 1);
    QCOMPARE(ports->currentText(), other);
    QCOMPARE(panel(1), QStringLiteral("Disconnect"));
    QCOMPARE(widget<QPushButton>("btnConnect")->text(), QStringLiteral("&Connect"));
}

void TestCommandRunner::serialPortOption()
{
    QTemporaryDir dir;
    TForm1 form({dir.path(), {m_pty, MissingPort, m_pty}});
    form.show();
    QTRY_VERIFY(form.pagesBuilt());
    form.connection().waitForComPortList();
    const QStringList ports = [&] {
        QStringList items;
        const auto *list = form.findChild<QComboBox *>(QStringLiteral("cbCOMList"));
        for (int i = 0; i < list->count(); ++i)
            items.append(list->itemText(i));
        return items;
    }();
    QCOMPARE(ports.count(m_pty), 1);
    QVERIFY(!ports.contains(MissingPort));
    QCOMPARE(ports.last(), m_pty);
}

QTEST_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
