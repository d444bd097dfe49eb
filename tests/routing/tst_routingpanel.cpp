// The Setting page's routing panel in the real main window, against the simulated switcher over
// a loopback TCP socket: clicks, steps, the right-click menu, failures and their reverts, routes
// read when the page is shown, the note line and the tag pop-up.
#include "DialogDriver.h"
#include "LanDevicePanel.h"
#include "RoutingPanel.h"
#include "SimulatorServer.h"
#include "StalledListener.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TKVCOMControl.h"
#include "TLCD99.h"
#include "TfrmShowInOutInfo.h"
#include "WindowFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <map>
#include <memory>

using Routes = QList<int>;
using namespace Qt::StringLiterals;

namespace {

using testsupport::BoxWatch;

void moveOver(QWidget *widget, const QPoint &at = QPoint(5, 5))
{
    QMouseEvent move(
        QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

} // namespace

class TestRoutingPanel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void stepWrapsAround_data();
    void stepWrapsAround();
    void menuRanges_data();
    void menuRanges();
    void menuBatchIgnoresClicks();
    void clickDuringOnDemandConnect_data();
    void clickDuringOnDemandConnect();
    void failedSwitchReverts_data();
    void failedSwitchReverts();
    void batchStopsAtFirstFailure_data();
    void batchStopsAtFirstFailure();
    void routesReadOnPageShow_data();
    void routesReadOnPageShow();
    void unknownRoute_data();
    void unknownRoute();
    void hoverNoteAndPopup_data();
    void hoverNoteAndPopup();
    void arrowsMoveFocusOnly_data();
    void arrowsMoveFocusOnly();
    void spaceWhileBusyIgnored();
    void popupClosesForMessages_data();
    void popupClosesForMessages();
    void popupClosesOnPageChange_data();
    void popupClosesOnPageChange();
    void popupStaysOnScreen_data();
    void popupStaysOnScreen();

private:
    RoutingPanel &panel() { return m_form->routingPanel(); }
    QAbstractButton *input(int output, int in) { return panel().FindInputButton(output, in); }
    QAbstractButton *step(int output, bool next) const;
    // The routes the switcher holds and the panel's displays are set to these.
    void startWith(const Routes &routes);
    Routes simRoutes() const;
    Routes displayed();
    // What the displays show: a number, or "-" for an unknown route.
    QStringList shown();
    // Input buttons pressed per output: 0 for none, -1 for more than one.
    Routes pressed();
    int routeRequests() const;
    // The link waits for replies as long as it does for the operator.
    void realTiming() { m_form->link()->setTiming(Timing()); }
    // Tags on output 2 and input 4, shown by the pop-up.
    void tagsShown();
    void showSettingPage();

    std::unique_ptr<testsupport::WindowFixture> m_w;
    SimulatorServer *m_sim = nullptr; // m_w's
    TForm1 *m_form = nullptr; // m_w's
};

void TestRoutingPanel::init()
{
    testsupport::WindowFixture::Options options;
    options.powerOn = true;
    m_w = std::make_unique<testsupport::WindowFixture>(options);
    QVERIFY2(m_w->start(), qPrintable(m_w->why()));
    m_sim = &m_w->sim();
    m_form = &m_w->form();
    m_w->widget<QRadioButton>(QStringLiteral("rbLANMode"))->click();
}

void TestRoutingPanel::cleanup()
{
    m_w.reset();
}

QAbstractButton *TestRoutingPanel::step(int output, bool next) const
{
    const int tag = next ? 2 * output : 2 * output - 1;
    const auto buttons = m_form->findChildren<QAbstractButton *>();
    for (QAbstractButton *b : buttons) {
        const QVariant group = b->property("groupIndex");
        if (group.isValid() && group.toInt() == 0 && b->property("tag").toInt() == tag)
            return b;
    }
    return nullptr;
}

void TestRoutingPanel::startWith(const Routes &routes)
{
    for (int o = 0; o < 6; ++o)
        m_sim->simulator().state().routes[size_t(o)] = routes[o];
    panel().ReadRoutes();
    QStringList texts;
    for (int route : routes)
        texts.append(route >= 1 && route <= 6 ? QString::number(route) : u"-"_s);
    QCOMPARE(shown(), texts);
    m_sim->clearReceived();
}

Routes TestRoutingPanel::simRoutes() const
{
    const auto &routes = m_sim->simulator().state().routes;
    return Routes(routes.begin(), routes.end());
}

Routes TestRoutingPanel::displayed()
{
    Routes values;
    for (int output = 1; output <= 6; ++output)
        values.append(panel().FindOutputDisplay(output)->Value().toInt());
    return values;
}

QStringList TestRoutingPanel::shown()
{
    QStringList values;
    for (int output = 1; output <= 6; ++output)
        values.append(panel().FindOutputDisplay(output)->Value());
    return values;
}

Routes TestRoutingPanel::pressed()
{
    Routes values;
    for (int output = 1; output <= 6; ++output) {
        int found = 0;
        for (int in = 1; in <= 8; ++in) {
            if (input(output, in)->isChecked())
                found = found ? -1 : in;
        }
        values.append(found);
    }
    return values;
}

int TestRoutingPanel::routeRequests() const
{
    int n = 0;
    for (const QByteArray &request : m_sim->received())
        n += request.at(2) == 0x02 && request.at(3) == 0x03;
    return n;
}

void TestRoutingPanel::stepWrapsAround_data()
{
    QTest::addColumn<int>("output");
    QTest::addColumn<int>("from");
    QTest::addColumn<bool>("next");
    QTest::addColumn<int>("to");

    QTest::newRow("previous from 1 wraps to 6") << 2 << 1 << false << 6;
    QTest::newRow("next from 6 wraps to 1") << 5 << 6 << true << 1;
    QTest::newRow("next from 3") << 1 << 3 << true << 4;
    QTest::newRow("previous from 3") << 6 << 3 << false << 2;
    // A route outside the switcher's inputs steps to the first or the last input.
    QTest::newRow("next from a stray 9") << 3 << 9 << true << 1;
    QTest::newRow("previous from a stray 9") << 3 << 9 << false << 6;
    QTest::newRow("previous from a stray 0") << 4 << 0 << false << 6;
}

void TestRoutingPanel::stepWrapsAround()
{
    QFETCH(int, output);
    QFETCH(int, from);
    QFETCH(bool, next);
    QFETCH(int, to);

    Routes routes{1, 2, 3, 4, 5, 6};
    routes[output - 1] = from;
    startWith(routes);
    QTest::mouseClick(step(output, next), Qt::LeftButton);

    routes[output - 1] = to;
    QCOMPARE(simRoutes(), routes);
    QCOMPARE(displayed(), routes);
    QCOMPARE(pressed(), routes);
    QCOMPARE(routeRequests(), 1);
}

void TestRoutingPanel::menuRanges_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("output");
    QTest::addColumn<int>("clicked");
    QTest::addColumn<Routes>("expected");

    QTest::newRow("3 Outputs on output 5 stops at output 6")
        << "N3Outputs1" << 5 << 2 << Routes{6, 6, 6, 6, 2, 2};
    QTest::newRow("2 Outputs on output 3") << "o21" << 3 << 1 << Routes{6, 6, 1, 1, 6, 6};
    QTest::newRow("All Outputs from output 4's input 2")
        << "mnuAllOutputs" << 4 << 2 << Routes{2, 2, 2, 2, 2, 2};
    QTest::newRow("Port to Port ignores the clicked input")
        << "PorttoPort1" << 3 << 5 << Routes{1, 2, 3, 4, 5, 6};
    QTest::newRow("1 Output") << "N1Output1" << 2 << 4 << Routes{6, 4, 6, 6, 6, 6};
}

void TestRoutingPanel::menuRanges()
{
    QFETCH(QString, item);
    QFETCH(int, output);
    QFETCH(int, clicked);
    QFETCH(Routes, expected);

    startWith({6, 6, 6, 6, 6, 6});
    // The menu opens on the button it was asked for.
    QAbstractButton *button = input(output, clicked);
    QContextMenuEvent request(
        QContextMenuEvent::Mouse, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(button, &request);
    QMenu *menu = panel().pm();
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(panel().hoveredButton(), button);
    menu->findChild<QAction *>(item)->trigger();
    menu->close();

    QCOMPARE(simRoutes(), expected);
    QCOMPARE(displayed(), expected);
    QCOMPARE(pressed(), expected);
    QVERIFY(!m_form->state().RouteFailed);
}

// A click made while "All Outputs" runs is turned away; the batch completes.
void TestRoutingPanel::menuBatchIgnoresClicks()
{
    startWith({6, 6, 6, 6, 6, 6});
    moveOver(input(4, 2));
    connect(
        m_sim, &SimulatorServer::requestHandled, this,
        [this] { QTest::mouseClick(input(1, 5), Qt::LeftButton); }, Qt::SingleShotConnection);
    m_form->state().RouteFailed = false;
    panel().mnuAllOutputsClick(panel().pm()->findChild<QAction *>(QStringLiteral("mnuAllOutputs")));

    const Routes all2{2, 2, 2, 2, 2, 2};
    QCOMPARE(simRoutes(), all2);
    QCOMPARE(displayed(), all2);
    QCOMPARE(pressed(), all2);
    QVERIFY(!m_form->state().RouteFailed);
    QCOMPARE(routeRequests(), 6);
}

void TestRoutingPanel::clickDuringOnDemandConnect_data()
{
    QTest::addColumn<bool>("settling"); // the second click lands after the socket is up
    QTest::addColumn<bool>("step"); // the second click: the next-input step, or input 4
    // A loopback connect is made at once, inside the socket's own call; a listener that never
    // completes the handshake keeps the connect under way, as a slow network does.
    QTest::newRow("input 4 while connecting") << false << false;
    QTest::newRow("input 4 as the connect settles") << true << false;
    QTest::newRow("next-input step as the connect settles") << true << true;
}

// Two quick clicks on Output1 while not connected: input 3 connects on demand and the second
// click lands in that connect's waits. It is turned away with a note, and the display shows
// what the switcher holds.
void TestRoutingPanel::clickDuringOnDemandConnect()
{
    QFETCH(bool, settling);
    QFETCH(bool, step);
    Timing timing = Timing::fast();
    timing.connectSettleMs = 100;
    m_form->link()->setTiming(timing);
    QVERIFY(!m_form->link()->Connected());
    m_form->state().RouteFailed = false;
    StalledListener stalled;
    if (!settling) {
        QVERIFY(stalled.ready());
        m_form->link()->setTcpPort(stalled.port());
    }

    bool clicked = false;
    QString note;
    QTimer second;
    second.setInterval(0);
    connect(&second, &QTimer::timeout, this, [&] {
        if (m_form->link()->Connected() != settling)
            return;
        second.stop();
        clicked = true;
        QTest::mouseClick(step ? this->step(1, true) : input(1, 4), Qt::LeftButton);
        note = m_form->status().text(3);
    });
    // The timer fires only in the waits inside the first click.
    second.start();
    QTest::mouseClick(input(1, 3), Qt::LeftButton);
    QVERIFY(clicked);
    QCOMPARE(note, u"In processing, command ignored"_s);
    if (!settling) {
        // The connect never completed: nothing reached the switcher, and neither click shows.
        QVERIFY(!m_form->link()->Connected());
        QCOMPARE(routeRequests(), 0);
        QVERIFY(displayed().at(0) != 3 && displayed().at(0) != 4);
        return;
    }

    QVERIFY(m_form->link()->Connected());
    const int held = simRoutes().at(0);
    QCOMPARE(displayed().at(0), held);
    QCOMPARE(pressed().at(0), held);
    QCOMPARE(held, 3);
    QCOMPARE(note, u"In processing, command ignored"_s);
    QVERIFY(!m_form->state().RouteFailed);
}

void TestRoutingPanel::failedSwitchReverts_data()
{
    QTest::addColumn<int>("refuse");
    QTest::addColumn<int>("drop");
    QTest::addColumn<bool>("power");
    QTest::addColumn<QString>("box");

    QTest::newRow("refused by the switcher") << 5 << 0 << true << QString();
    QTest::newRow("no reply") << 0 << 5 << true << QString();
    QTest::newRow("switcher off") << 0 << 0 << false
                                  << QStringLiteral(
                                         "System is power off, please turn it on first.");
}

void TestRoutingPanel::failedSwitchReverts()
{
    QFETCH(int, refuse);
    QFETCH(int, drop);
    QFETCH(bool, power);
    QFETCH(QString, box);

    const Routes before{1, 6, 3, 4, 5, 6};
    startWith(before);
    m_form->state().RouteFailed = false;
    m_sim->faults().refuseStatus = refuse;
    m_sim->faults().dropReplies = drop;
    if (drop > 0)
        m_form->link()->setTiming(Timing::fast()); // a test of the time-out
    m_form->state().PowerOn = power;

    // The new route shows before the switcher answers.
    QStringList shownWhileSent;
    connect(m_sim, &SimulatorServer::requestHandled, this,
        [&] { shownWhileSent.append(panel().FindOutputDisplay(2)->Value()); });
    // What display 2 showed while each message box was open.
    QStringList shownWhileAsked;
    BoxWatch boxes(QMessageBox::Ok, QMessageBox::Ok,
        [&](QMessageBox *) { shownWhileAsked.append(panel().FindOutputDisplay(2)->Value()); });
    QTest::mouseClick(input(2, 4), Qt::LeftButton);

    QCOMPARE(boxes.texts(), box.isEmpty() ? QStringList() : QStringList{box});
    for (const QString &shown : shownWhileSent + shownWhileAsked)
        QCOMPARE(shown, QStringLiteral("4"));
    // The panel goes back to what it knew, whatever the switcher did with a reply that was lost.
    QCOMPARE(displayed(), before);
    QCOMPARE(pressed(), before);
    QVERIFY(m_form->state().RouteFailed);
    if (!power)
        QCOMPARE(simRoutes(), before);
}

void TestRoutingPanel::batchStopsAtFirstFailure_data()
{
    QTest::addColumn<bool>("power");
    QTest::addColumn<Routes>("expected");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("boxes");

    // The switcher has outputs 1-3 only: output 4 is refused, 5 and 6 are not tried.
    QTest::newRow("output 4 refused") << true << Routes{2, 2, 2, 6, 6, 6} << 3 + 5 << 0;
    QTest::newRow("switcher off: one box") << false << Routes{6, 6, 6, 6, 6, 6} << 0 << 1;
}

void TestRoutingPanel::batchStopsAtFirstFailure()
{
    QFETCH(bool, power);
    QFETCH(Routes, expected);
    QFETCH(int, requests);
    QFETCH(int, boxes);

    startWith({6, 6, 6, 6, 6, 6});
    m_sim->simulator().state().outputs = 3;
    m_form->state().PowerOn = power;
    moveOver(input(1, 2));
    BoxWatch counter;
    panel().mnuAllOutputsClick(panel().pm()->findChild<QAction *>(QStringLiteral("mnuAllOutputs")));

    QCOMPARE(counter.texts().size(), boxes);
    QCOMPARE(routeRequests(), requests);
    QCOMPARE(displayed(), expected);
    QCOMPARE(pressed(), expected);
    QCOMPARE(simRoutes(), expected);
    QVERIFY(m_form->state().RouteFailed);
}

void TestRoutingPanel::routesReadOnPageShow_data()
{
    QTest::addColumn<bool>("power");
    QTest::addColumn<int>("outputs");
    QTest::addColumn<QStringList>("displays");
    QTest::addColumn<Routes>("pressedButtons");
    QTest::addColumn<int>("requests");

    // Output 3 reports input 9, which the switcher does not have: the route shows as unknown.
    QTest::newRow("all six read") << true << 6 << u"2 4 - 1 6 5"_s.split(u' ')
                                  << Routes{2, 4, 0, 1, 6, 5} << 6;
    // Output 5 is asked five times, output 6 never.
    QTest::newRow("stops at the first refused output")
        << true << 4 << u"2 4 - 1 6 6"_s.split(u' ') << Routes{2, 4, 0, 1, 6, 6} << 4 + 5;
    QTest::newRow("switcher off: nothing read")
        << false << 6 << u"6 6 6 6 6 6"_s.split(u' ') << Routes{6, 6, 6, 6, 6, 6} << 0;
}

void TestRoutingPanel::routesReadOnPageShow()
{
    QFETCH(bool, power);
    QFETCH(int, outputs);
    QFETCH(QStringList, displays);
    QFETCH(Routes, pressedButtons);
    QFETCH(int, requests);

    SwitcherState &device = m_sim->simulator().state();
    device.routes = {2, 4, 9, 1, 6, 5};
    device.outputs = outputs;
    m_form->state().PowerOn = power;
    QCOMPARE(displayed(), Routes({6, 6, 6, 6, 6, 6}));

    auto *pages = m_form->findChild<QTabWidget *>(QStringLiteral("pcContainer"));
    pages->setCurrentWidget(m_form->findChild<QWidget *>(QStringLiteral("tsSetting")));
    // The read runs once the page change is over.
    QCoreApplication::processEvents();
    QTRY_COMPARE(m_sim->received().size(), requests);
    QTRY_VERIFY(m_form->state().RunnerIdle);
    QCOMPARE(shown(), displays);
    QCOMPARE(pressed(), pressedButtons);
}

void TestRoutingPanel::unknownRoute_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<int>("reply"); // output 3's route as the switcher reports it

    // A one-digit display would show 12 as "2".
    for (int reply : {0, 7, 8, 9, 10, 12, 255})
        QTest::addRow("reply %d", reply) << "reply" << reply;
    QTest::newRow("another network switcher") << "device" << 3;
    QTest::newRow("another control mode") << "mode" << 3;
}

// An output whose route is not known shows a dash and no pressed button, names itself unknown
// in the note line, steps to input 1 and goes back to unknown when a switch fails.
void TestRoutingPanel::unknownRoute()
{
    QFETCH(QString, cause);
    QFETCH(int, reply);
    startWith({1, 2, 3, 4, 5, 6});
    m_sim->simulator().state().routes[2] = reply;
    if (cause == QLatin1String("reply")) {
        panel().ReadRoutes();
    } else if (cause == QLatin1String("device")) {
        Q_EMIT m_form->lanDevicePanel().deviceChanged(QStringLiteral("00-1A-2B-3C-4D-5E"));
    } else {
        // On the indicator, inside the part of a radio button that takes clicks.
        for (const char *name : {"rbCOMMode", "rbLANMode"})
            QTest::mouseClick(m_form->findChild<QRadioButton *>(QLatin1String(name)),
                Qt::LeftButton, {}, QPoint(6, 8));
    }
    const bool all = cause != QLatin1String("reply");
    // Nothing was read from the other switcher.
    const QStringList unknownThird{u"1"_s, u"2"_s, u"-"_s, u"4"_s, u"5"_s, u"6"_s};
    QCOMPARE(shown(), all ? QStringList(6, u"-"_s) : unknownThird);
    QCOMPARE(pressed(), all ? Routes(6, 0) : Routes({1, 2, 0, 4, 5, 6}));
    auto *lblNote = m_form->findChild<QLabel *>(QStringLiteral("lblNote"));
    moveOver(step(3, true));
    QCOMPARE(lblNote->text(), QStringLiteral("Output3: unknown"));

    // As if the status had been read: the switcher is on.
    m_form->state().PowerOn = true;
    m_sim->clearReceived();
    m_sim->faults().refuseStatus = 5;
    QTest::mouseClick(input(3, 4), Qt::LeftButton);
    QCOMPARE(routeRequests(), 5);
    QCOMPARE(shown().at(2), u"-"_s);
    QCOMPARE(pressed().at(2), 0);

    QTest::mouseClick(step(3, true), Qt::LeftButton);
    QCOMPARE(simRoutes().at(2), 1);
    QCOMPARE(shown().at(2), u"1"_s);
    QCOMPARE(pressed().at(2), 1);
}

void TestRoutingPanel::hoverNoteAndPopup_data()
{
    QTest::addColumn<bool>("onStep");
    QTest::addColumn<bool>("tags");
    QTest::addColumn<bool>("displayTags");
    QTest::addColumn<QString>("note");
    QTest::addColumn<bool>("popup");

    const QString tagged = QStringLiteral("Output2 - [Projector] from Input4 - [Camera]");
    QTest::newRow("input button, tags shown") << false << true << true << tagged << true;
    QTest::newRow("input button, tag option off") << false << true << false << tagged << false;
    QTest::newRow("step button never opens the pop-up") << true << true << true << tagged << false;
    QTest::newRow("no tags anywhere")
        << false << false << true << QStringLiteral("Output2 from Input4") << false;
}

void TestRoutingPanel::hoverNoteAndPopup()
{
    QFETCH(bool, onStep);
    QFETCH(bool, tags);
    QFETCH(bool, displayTags);
    QFETCH(QString, note);
    QFETCH(bool, popup);

    startWith({1, 4, 3, 4, 5, 6});
    if (tags) {
        m_form->findChild<QLineEdit *>(QStringLiteral("leOutput2Tag"))
            ->setText(QStringLiteral("Projector"));
        m_form->findChild<QLineEdit *>(QStringLiteral("leInput4Tag"))
            ->setText(QStringLiteral("Camera"));
    }
    m_form->findChild<QCheckBox *>(QStringLiteral("cbDisplayTag"))->setChecked(displayTags);
    auto *lblNote = m_form->findChild<QLabel *>(QStringLiteral("lblNote"));
    TfrmShowInOutInfo *info = panel().frmShowInOutInfo();

    // A step button names its output's current route, input 4.
    moveOver(onStep ? step(2, true) : input(2, 4));
    QCOMPARE(lblNote->text(), note);
    QCOMPARE(info->isVisible(), popup);
    if (popup) {
        const QStringList lines = info->lblInfo()->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 12);
        QCOMPARE(lines[1], QStringLiteral("Output2 - [Projector]"));
        QCOMPARE(lines[9], QStringLiteral("Input4 - [Camera]"));
        QCOMPARE(lines[0], QStringLiteral("Output1 - No tag"));
        QVERIFY(info->width() > info->lblInfo()->fontMetrics().horizontalAdvance(lines[1]));
    }

    // Leaving the buttons for their group resets the note and closes the pop-up.
    moveOver(m_form->findChild<QGroupBox *>(QStringLiteral("GroupBox2")));
    QCOMPARE(lblNote->text(), QStringLiteral("Output from Input"));
    QVERIFY(!info->isVisible());

    if (popup) {
        // A click on the pop-up closes it.
        moveOver(input(2, 4));
        QVERIFY(info->isVisible());
        QTest::mouseClick(info->lblInfo(), Qt::LeftButton);
        QVERIFY(!info->isVisible());
    }
}

void TestRoutingPanel::tagsShown()
{
    m_form->findChild<QLineEdit *>(QStringLiteral("leOutput2Tag"))
        ->setText(QStringLiteral("Projector"));
    m_form->findChild<QLineEdit *>(QStringLiteral("leInput4Tag"))
        ->setText(QStringLiteral("Camera"));
    m_form->findChild<QCheckBox *>(QStringLiteral("cbDisplayTag"))->setChecked(true);
}

void TestRoutingPanel::showSettingPage()
{
    auto *pages = m_form->findChild<QTabWidget *>(QStringLiteral("pcContainer"));
    pages->setCurrentWidget(m_form->findChild<QWidget *>(QStringLiteral("tsSetting")));
    // The routes are read once the page change is over.
    QTRY_COMPARE(m_sim->received().size(), 6);
    QTRY_VERIFY(m_form->state().RunnerIdle);
}

void TestRoutingPanel::arrowsMoveFocusOnly_data()
{
    QTest::addColumn<int>("from"); // the input button of Output3 that has the focus
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("to"); // the input button that has it afterwards

    // Output3 is on input 3: Qt's exclusive buttons would switch it at the third press.
    QTest::newRow("right four times, then down") << 1 << "R R R R D" << 5;
    QTest::newRow("down and up between the rows") << 2 << "D U D" << 6;
    QTest::newRow("left across the rows") << 5 << "L L" << 3;
    QTest::newRow("the edges keep the focus") << 1 << "L U" << 1;
    QTest::newRow("past the last input") << 6 << "R D" << 6;
}

// Arrows move the focus among an output's inputs and route nothing; Space then routes the
// focused input as a click does.
void TestRoutingPanel::arrowsMoveFocusOnly()
{
    QFETCH(int, from);
    QFETCH(QString, keys);
    QFETCH(int, to);
    realTiming();
    const Routes before{1, 2, 3, 4, 5, 6};
    startWith(before);
    showSettingPage();
    m_sim->clearReceived();

    input(3, from)->setFocus(Qt::TabFocusReason);
    QCOMPARE(m_form->focusWidget(), input(3, from));
    const std::map<QString, Qt::Key> arrows{{u"L"_s, Qt::Key_Left}, {u"R"_s, Qt::Key_Right},
        {u"U"_s, Qt::Key_Up}, {u"D"_s, Qt::Key_Down}};
    for (const QString &key : keys.split(u' '))
        QTest::keyClick(m_form->focusWidget(), arrows.at(key));

    QCOMPARE(m_form->focusWidget(), input(3, to));
    QCOMPARE(routeRequests(), 0);
    QCOMPARE(simRoutes(), before);
    QCOMPARE(displayed(), before);
    QCOMPARE(pressed(), before);

    QTest::keyClick(m_form->focusWidget(), Qt::Key_Space);
    Routes after = before;
    after[2] = to;
    QCOMPARE(routeRequests(), 1);
    QCOMPARE(simRoutes(), after);
    QCOMPARE(displayed(), after);
    QCOMPARE(pressed(), after);
}

// Space pressed while another route is on its way is turned away like a click, with the note.
void TestRoutingPanel::spaceWhileBusyIgnored()
{
    realTiming();
    const Routes before{1, 2, 3, 4, 5, 6};
    startWith(before);
    showSettingPage();
    m_sim->clearReceived();
    m_sim->faults().delayMs = 300;
    input(3, 5)->setFocus(Qt::TabFocusReason);

    QString note;
    testsupport::OnceWhen space([this] { return !m_form->state().RunnerIdle; },
        [&] {
            QTest::keyClick(input(3, 5), Qt::Key_Space);
            note = m_form->status().text(3);
        });
    QTest::mouseClick(input(1, 2), Qt::LeftButton);

    QVERIFY(space.done());
    QCOMPARE(note, u"In processing, command ignored"_s);
    const Routes after{2, 2, 3, 4, 5, 6};
    QCOMPARE(routeRequests(), 1);
    QCOMPARE(simRoutes(), after);
    QCOMPARE(displayed(), after);
    QCOMPARE(pressed(), after);
}

void TestRoutingPanel::popupClosesForMessages_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("box");

    const QString off = QStringLiteral("System is power off, please turn it on first.");
    QTest::newRow("input clicked, switcher off") << "input" << off;
    QTest::newRow("preset Set, switcher off") << "preset" << off;
    QTest::newRow("another window activated") << "window" << QString();
}

// A message box or another window never sits beneath the pop-up: the pop-up closes when it
// comes.
void TestRoutingPanel::popupClosesForMessages()
{
    QFETCH(QString, cause);
    QFETCH(QString, box);
    realTiming();
    startWith({1, 2, 3, 4, 5, 6});
    showSettingPage();
    tagsShown();
    QTRY_VERIFY(m_form->isActiveWindow());
    TfrmShowInOutInfo *info = panel().frmShowInOutInfo();
    moveOver(input(2, 4));
    // Some window systems activate the pop-up as it shows; that does not end it.
    QCoreApplication::processEvents();
    QVERIFY(info->isVisible());

    QList<bool> popupWhileAsked;
    BoxWatch boxes(QMessageBox::Ok, QMessageBox::Ok,
        [&](QMessageBox *) { popupWhileAsked.append(info->isVisible()); });
    QWidget other;
    if (cause == QLatin1String("window")) {
        other.show();
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);
    } else {
        m_form->state().PowerOn = false;
        if (cause == QLatin1String("preset")) {
            auto *presets = m_form->findChild<QTreeWidget *>(QStringLiteral("lvPreSetting"));
            presets->setCurrentItem(presets->topLevelItem(0));
        }
        // A click moves no pointer: the pop-up is still up when the box comes.
        QTest::mouseClick(cause == QLatin1String("input")
                ? static_cast<QWidget *>(input(2, 4))
                : m_form->findChild<QWidget *>(QStringLiteral("btnSet")),
            Qt::LeftButton);
    }

    QCOMPARE(boxes.texts(), box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(popupWhileAsked, QList<bool>(boxes.texts().size(), false));
    QVERIFY(!info->isVisible());
}

void TestRoutingPanel::popupClosesOnPageChange_data()
{
    QTest::addColumn<bool>("key"); // Ctrl+Tab, else a click on the tab
    QTest::newRow("Ctrl+Tab") << true;
    QTest::newRow("tab clicked") << false;
}

void TestRoutingPanel::popupClosesOnPageChange()
{
    QFETCH(bool, key);
    realTiming();
    startWith({1, 2, 3, 4, 5, 6});
    showSettingPage();
    tagsShown();
    TfrmShowInOutInfo *info = panel().frmShowInOutInfo();
    input(2, 4)->setFocus(Qt::TabFocusReason);
    moveOver(input(2, 4));
    QVERIFY(info->isVisible());

    auto *pages = m_form->findChild<QTabWidget *>(QStringLiteral("pcContainer"));
    QWidget *edid = m_form->findChild<QWidget *>(QStringLiteral("tsEDIDCtrl"));
    if (key) {
        QTest::keyClick(m_form->focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    } else {
        QTabBar *tabs = pages->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(pages->indexOf(edid)).center());
    }
    QCOMPARE(pages->currentWidget(), edid);
    QVERIFY(!info->isVisible());
}

void TestRoutingPanel::popupStaysOnScreen_data()
{
    QTest::addColumn<QPoint>("fromCorner"); // the pointer, from the nearest screen corner
    QTest::addColumn<bool>("right"); // measured from the right edge
    QTest::addColumn<bool>("bottom"); // measured from the bottom edge

    QTest::newRow("room below and to the right") << QPoint(100, 80) << false << false;
    QTest::newRow("at the right edge: left of the pointer") << QPoint(30, 80) << true << false;
    QTest::newRow("at the bottom edge: above the pointer") << QPoint(100, 30) << false << true;
    QTest::newRow("in the bottom-right corner") << QPoint(30, 30) << true << true;
}

// The pop-up opens below and right of the pointer, and on the other side where the screen
// ends; never off the screen, never under the pointer.
void TestRoutingPanel::popupStaysOnScreen()
{
    QFETCH(QPoint, fromCorner);
    QFETCH(bool, right);
    QFETCH(bool, bottom);
    realTiming();
    startWith({1, 2, 3, 4, 5, 6});
    showSettingPage();
    tagsShown();
    const QRect area = m_form->screen()->availableGeometry();
    const QPoint target(right ? area.right() - fromCorner.x() : area.left() + fromCorner.x(),
        bottom ? area.bottom() - fromCorner.y() : area.top() + fromCorner.y());

    // The window is moved so that Output5's input 6 lies under the pointer (to a pixel or two:
    // the window system places the frame).
    QAbstractButton *button = input(5, 6);
    const QPoint at(10, 12);
    m_form->move(m_form->pos() + target - button->mapToGlobal(at));
    QTRY_VERIFY((button->mapToGlobal(at) - target).manhattanLength() <= 6);
    const QPoint pointer = button->mapToGlobal(at);
    moveOver(button, at);

    TfrmShowInOutInfo *info = panel().frmShowInOutInfo();
    QVERIFY(info->isVisible());
    const QRect popup = info->frameGeometry();
    QVERIFY2(area.contains(popup),
        qPrintable(u"pop-up %1,%2 %3x%4"_s.arg(popup.x())
                       .arg(popup.y())
                       .arg(popup.width())
                       .arg(popup.height())));
    QVERIFY(!popup.contains(pointer));
    if (right)
        QVERIFY(popup.right() < pointer.x());
    else
        QCOMPARE(popup.left(), pointer.x());
    if (bottom)
        QVERIFY(popup.bottom() < pointer.y());
    else
        QCOMPARE(popup.top(), pointer.y() + 28);
}

QTEST_MAIN(TestRoutingPanel)
#include "tst_routingpanel.moc"
