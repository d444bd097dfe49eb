// The main window on its own, offscreen: its pages and controls, start-up in a folder that
// cannot be written, the clock, the link's notifications, the port list and control modes.
#include "ConnectionControl.h"
#include "DialogDriver.h"
#include "LanDevicePanel.h"
#include "PresetPanel.h"
#include "ProgramEntry.h"
#include "SettingsFile.h"
#include "SettingsLocation.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TKVCOMControl.h"
#include "TKVGauge.h"
#include "TLCD99.h"
#include "WindowFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <future>
#include <memory>
#include <sys/stat.h>

namespace {

constexpr char ReadOnlyHelperOption[] = "--read-only-folder";

// Run in a private mount namespace where folder lies on a read-only mount: runs the window with
// its settings there as the program does, and prints every message box, whether the window
// showed and the program's exit status.
int runReadOnlyHelper(const QString &folder, bool installed)
{
    QStringList boxes;
    const testsupport::BoxWatch watch(QMessageBox::NoButton, 0, [&boxes](QMessageBox *box) {
        boxes.append(QString::number(box->icon()) + QLatin1Char(':') + box->text());
    });
    ShellOptions options;
    options.programFolder = folder;
    options.installed = installed;
    TForm1 form(options);
    bool shown = false;
    // A window that did start is closed again once it has shown.
    QTimer::singleShot(0, &form, [&form, &shown] {
        shown = form.isVisible();
        if (!form.startRefused())
            form.close();
    });
    const int status = runWindow(form);
    QTextStream out(stdout);
    for (const QString &box : std::as_const(boxes))
        out << "box " << box << '\n';
    out << "refused " << form.startRefused() << '\n'
        << "shown " << shown << '\n'
        << "status " << status << '\n';
    return 0;
}

// A folder below base whose path is at least length characters long.
QString deepFolder(const QString &base, int length)
{
    QString path = base;
    while (path.size() < length)
        path += QLatin1Char('/') + QString(std::min<qsizetype>(100, length - path.size()), u'd');
    return QDir().mkpath(path) ? path : QString();
}

QStringList memoLines(const QPlainTextEdit *memo)
{
    return memo->toPlainText().isEmpty() ? QStringList()
                                         : memo->toPlainText().split(QLatin1Char('\n'));
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void layout_data();
    void layout();
    void numbersCarried();
    void windowProperties();
    void probeFileName_data();
    void probeFileName();
    void writableFolder_data();
    void writableFolder();
    void readOnlyProgramFolder_data();
    void readOnlyProgramFolder();
    void clockText_data();
    void clockText();
    void notifications_data();
    void notifications();
    void rebootLinesAndClear();
    void gaugeProgress();
    void blinkWhileStopping();
    void controlModeState_data();
    void controlModeState();
    void modeChangeClearsTags();
    void comPortList_data();
    void comPortList();
    void comPortScanDuringScan();
    void comPortScansNeverOverlap();
    void settingsWrittenAtFirstShow();
    void pagesFollowFirstPaint();
    void settingsRestoredAndKept();
    void settingsNotReadCompletelyMovedAside();
    void failedSaveToldOnce();

private:
    template<typename T = QWidget>
    T *widget(const QString &name) const
    {
        return m_w->find<T>(name);
    }
    void notify(int code, quint32 wParam, quint32 lParam, const QString &text = {})
    {
        m_form->link()->notify(static_cast<LinkMessage>(code), wParam, lParam, text);
    }

    std::unique_ptr<testsupport::WindowFixture> m_w;
    TForm1 *m_form = nullptr; // m_w's window
};

void TestMainWindow::init()
{
    testsupport::WindowFixture::Options options;
    options.tcp = false;
    m_w = std::make_unique<testsupport::WindowFixture>(options);
    QVERIFY2(m_w->start(), qPrintable(m_w->why()));
    m_form = &m_w->form();
}

void TestMainWindow::cleanup()
{
    m_w.reset();
}

void TestMainWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("shown");

    struct Row
    {
        const char *name;
        const char *caption;
        bool shown;
    };
    const Row rows[] = {
        {"gbModeSelect", "Control mode select", true},
        {"rbCOMMode", "COM control mode", true},
        {"rbLANMode", "TCP control mode", true},
        {"gbCOMMode", "COM control mode", true},
        {"lblPort", "Port", true},
        {"gbLANMode", "TCP control mode", true},
        {"btnDeleteDevice", "\u00d7", true},
        {"btnSearchDevice", "Search ...", true},
        {"btnConfig", "Config ...", true},
        {"gbConnection", "Connection", true},
        {"btnConnect", "&Connect", true},
        {"imgClose", "", true},
        {"imgOpen", "", false},
        {"gbDeviceStatus", "Refresh device status", true},
        {"btnGetDevStatus", "D&evice status", true},
        {"gbTagSetting", "Display tags setting", true},
        {"cbDisplayTag", "Display Input, Output tags when focus setting buttons", true},
        {"gbDevInfo", "Device information", true},
        {"lblInput6", "Input6: ", true},
        {"lblInput7", "Input7: ", false},
        {"lblOutput8", "Output8: ", false},
        {"bbPower", "", true},
        {"imgPowerOn", "", false},
        {"imgPowerOff", "", false},
        {"imgPowerInit", "", false},
        {"lblGuide1", "NOTE - Steps after GUI Controller run:", true},
        {"lblGuide2", "1. Click \"Device status\" button to get Power status", true},
        {"lblGuide3", "2. Click Power button below to boot up Matrix if it's powered off", true},
        {"lblGuide4", "3. Use GUI Controller to control Matrix after unit boots up", true},
        {"GroupBox13", "Input port tags", true},
        {"GroupBox14", "Output port tags", true},
        {"leInput6Tag", "", true},
        {"leInput7Tag", "", false},
        {"leOutput8Tag", "", false},
        {"btnEditInputPortTag", "&Edit", true},
        {"btnEditOutputPortTag", "E&dit", true},
        {"lblNote", "Output from Input", true},
        {"gbOutput1", "Output1", true},
        {"GroupBox6", "Output6", true},
        {"GroupBox7", "Output7", false},
        {"GroupBox8", "Output8", false},
        {"SpeedButton6", "6", true},
        {"SpeedButton7", "7", false},
        {"SpeedButton48", "8", false},
        {"GroupBox12", "Pre-Settings", true},
        {"btnPreEdit", "&Edit", true},
        {"btnSet", "&Set", true},
        {"GroupBox15", "EDID mode control", true},
        {"GroupBox16", "EDID data control", true},
        {"GroupBox17", "EDID content", true},
        {"btnSetEDIDMode", "&Set", true},
        {"btnCopyEDID", "&Copy", true},
        {"btnReadEDIDData", "&Read", true},
        {"btnDownloadEDID", "&Download", true},
        {"btnClearEDIDContent", "C&lear", true},
        {"gbTCPModInfo", "TCP Module infomation", true},
        {"lblTCPVersion", "Version: ", true},
        {"lblTCPDHCP", "DHCP: ", true},
        {"lblTCPIPAddr", "IP Address: ", true},
        {"btnQueryTCPModInfo", "&Query", true},
        {"gbResetDefault", "Reset TCP Module", true},
        {"btnReset", "&Reset ...", true},
        {"GroupBox20", "IR control Disable(OFF)/Enable(ON)", true},
        {"GroupBox9", "Keys on panel Lock(OFF)/Unlock(ON)", true},
        {"GroupBox22", "Beeper Disable(OFF)/Enable(ON)", true},
        {"GroupBox1", "APM control OFF/ON setting", false},
        {"gbFWUpgrade", "FW upgrade", true},
        {"btnUpgrade", "&Upgrade", true},
        {"gbMergeFW", "Merge FW", false},
        {"GroupBox19", "Messages", true},
        {"Button1", "&Clear", true},
    };
    for (const Row &r : rows)
        QTest::newRow(r.name) << QString::fromLatin1(r.name) << QString::fromUtf8(r.caption)
                              << r.shown;
}

void TestMainWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(bool, shown);
    auto *w = widget(name);
    QVERIFY2(w, qPrintable(name));
    QString text;
    if (auto *box = qobject_cast<QGroupBox *>(w))
        text = box->title();
    else if (!qobject_cast<QToolButton *>(w) || !caption.isEmpty())
        text = w->property("text").toString();
    QCOMPARE(text, caption);
    // Visible on its own page, whichever page is current.
    QWidget *page = w;
    while (page->parentWidget() && !qobject_cast<QStackedWidget *>(page->parentWidget()))
        page = page->parentWidget();
    QCOMPARE(w->isVisibleTo(page), shown);
}

void TestMainWindow::numbersCarried()
{
    const QStringList pages{QStringLiteral("General"), QStringLiteral("Port Tag"),
        QStringLiteral("Setting"), QStringLiteral("EDID control"), QStringLiteral("Advanced"),
        QStringLiteral("FW upgrade")};
    auto *tabs = widget<QTabWidget>(QStringLiteral("pcContainer"));
    QCOMPARE(tabs->count(), pages.size());
    for (int i = 0; i < pages.size(); ++i)
        QCOMPARE(tabs->tabText(i), pages[i]);
    QCOMPARE(tabs->tabPosition(), QTabWidget::South);

    // Every output group holds one input button per input, found by the numbers it carries,
    // and one step button pair with tags 2k - 1 and 2k.
    const auto buttons = m_form->findChildren<QToolButton *>();
    for (int output = 1; output <= 8; ++output) {
        for (int input = 1; input <= 8; ++input) {
            const auto count = std::count_if(buttons.begin(), buttons.end(), [&](QToolButton *b) {
                return b->property("groupIndex").toInt() == output
                    && b->property("tag").toInt() == input;
            });
            QCOMPARE(count, 1);
        }
        for (int tag : {2 * output - 1, 2 * output}) {
            const auto count = std::count_if(buttons.begin(), buttons.end(), [&](QToolButton *b) {
                const QVariant group = b->property("groupIndex");
                return group.isValid() && group.toInt() == 0 && b->property("tag").toInt() == tag;
            });
            QCOMPARE(count, 1);
        }
        auto *led = widget<TLCD99>(QStringLiteral("LED%1").arg(output));
        QCOMPARE(led->property("tag").toInt(), output);
        QCOMPARE(led->Value(), output <= 6 ? QStringLiteral("6") : QStringLiteral("8"));
        QCOMPARE(
            widget<QLineEdit>(QStringLiteral("leInput%1Tag").arg(output))->property("tag").toInt(),
            output);
        QCOMPARE(
            widget<QLineEdit>(QStringLiteral("leOutput%1Tag").arg(output))->property("tag").toInt(),
            40 + output);
    }
    QVERIFY(widget<QToolButton>(QStringLiteral("sbSetInput"))->property("tag").toInt() == 1);
    QVERIFY(widget<QToolButton>(QStringLiteral("SpeedButton14"))->isChecked()); // output 2, input 6
}

void TestMainWindow::windowProperties()
{
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Matrix Controller - ver6.50"));
    QCOMPARE(m_form->frameGeometry().width(), 1025);
    QCOMPARE(m_form->height(), 580);
    QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
    QVERIFY(!(m_form->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(m_form->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(m_form->font().pixelSize(), 16);

    for (int panel = 1; panel <= StatusBar::PanelCount; ++panel)
        QCOMPARE(widget(QStringLiteral("sbPanel%1").arg(panel))->width(),
            StatusBar::PanelWidths[size_t(panel - 1)]);
    QCOMPARE(m_form->status().text(1), QStringLiteral("Disconnect"));

    QVERIFY(!widget(QStringLiteral("gbMergeFW"))->isEnabled());
    auto *modes = widget<QComboBox>(QStringLiteral("cbEDIDMode"));
    QCOMPARE(modes->count(), 19);
    QCOMPARE(modes->itemText(18), QStringLiteral("Default EDID"));
}

void TestMainWindow::probeFileName_data()
{
    QTest::addColumn<int>("folderLength"); // with its trailing slash
    QTest::addColumn<int>("minLetters");
    QTest::addColumn<int>("letters");
    QTest::newRow("short folder") << 12 << 0 << 228;
    QTest::newRow("one letter left") << 239 << 0 << 1;
    QTest::newRow("240 characters") << 240 << 0 << 0;
    QTest::newRow("longer") << 300 << 0 << 0;
    QTest::newRow("longer, name taken") << 300 << 8 << 8;
}

void TestMainWindow::probeFileName()
{
    QFETCH(int, folderLength);
    QFETCH(int, minLetters);
    QFETCH(int, letters);
    const QString folder = QLatin1Char('/') + QString(folderLength - 2, u'f') + QLatin1Char('/');
    for (const QString &given : {folder, folder.chopped(1)}) {
        const QString name = SettingsLocation::probeFileName(given, minLetters);
        QVERIFY(name.startsWith(folder));
        QVERIFY(name.endsWith(QLatin1String(".tmp")));
        const QString middle = name.mid(folder.size()).chopped(4);
        QCOMPARE(middle.size(), letters);
        QVERIFY(QRegularExpression(QStringLiteral("^[A-Z]*$")).match(middle).hasMatch());
    }
}

void TestMainWindow::writableFolder_data()
{
    QTest::addColumn<int>("length"); // 0: the temporary folder itself
    QTest::addColumn<bool>("takenName"); // ".tmp" exists already
    QTest::addColumn<bool>("missing");
    QTest::addColumn<bool>("writable");
    QTest::newRow("plain folder") << 0 << false << false << true;
    QTest::newRow("path of 240 characters or more") << 260 << false << false << true;
    QTest::newRow("long path, .tmp taken") << 260 << true << false << true;
    QTest::newRow("missing folder") << 0 << false << true << false;
}

void TestMainWindow::writableFolder()
{
    QFETCH(int, length);
    QFETCH(bool, takenName);
    QFETCH(bool, missing);
    QFETCH(bool, writable);
    QTemporaryDir base;
    QString folder = length ? deepFolder(base.path(), length) : base.path();
    QVERIFY(!folder.isEmpty());
    if (missing)
        folder += QStringLiteral("/gone");
    if (takenName) {
        QFile taken(folder + QStringLiteral("/.tmp"));
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.write("keep");
    }
    const QStringList before = QDir(folder).entryList(QDir::Files | QDir::Hidden);

    QCOMPARE(SettingsLocation::IsFolderWritable(folder), writable);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), before);
    if (takenName) {
        QFile taken(folder + QStringLiteral("/.tmp"));
        QVERIFY(taken.open(QIODevice::ReadOnly));
        QCOMPARE(taken.readAll(), QByteArray("keep"));
    }
}

void TestMainWindow::readOnlyProgramFolder_data()
{
    // The settings folder below the read-only mount, whether the copy is installed, the box.
    QTest::addColumn<QString>("subfolder");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("box");
    QTest::newRow("portable copy beside its program")
        << QString() << false
        << QStringLiteral("Please copy GUI application to writable disk then run it. Thank you.");
    const QString installedText = QStringLiteral(
        "Matrix Controller keeps its settings in the folder \"FOLDER\", which cannot be written: "
        "Read-only file system.\nMake that folder writable for your user, or set XDG_CONFIG_HOME "
        "to a folder that is, then start it again.");
    QTest::newRow("installed copy, user's folder missing")
        << QStringLiteral("/matrix-controller") << true << installedText;
    QTest::newRow("installed copy, user's folder present") << QString() << true << installedText;
}

void TestMainWindow::readOnlyProgramFolder()
{
    QFETCH(QString, subfolder);
    QFETCH(bool, installed);
    QFETCH(QString, box);
    // Root writes into any folder whatever its mode bits, so the folder is mounted read-only
    // in a private mount namespace for the run of a helper.
    if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
        QSKIP("needs unshare(1)");
    QTemporaryDir dir;
    const QString folder = dir.path() + subfolder;
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    helper.setProcessEnvironment(env);
    helper.start(QStringLiteral("unshare"),
        {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" "
                           "|| exit 77; exec \"$2\" %1 \"$3\" \"$4\"")
                .arg(QLatin1String(ReadOnlyHelperOption)),
            QStringLiteral("sh"), dir.path(), QCoreApplication::applicationFilePath(), folder,
            installed ? QStringLiteral("1") : QStringLiteral("0")});
    if (!helper.waitForFinished(60000)) {
        helper.kill();
        helper.waitForFinished();
        QFAIL("the helper did not end");
    }
    if (helper.exitCode() == 77 || helper.readAllStandardError().contains("unshare:"))
        QSKIP("no private mount namespace here (needs root)");
    QCOMPARE(helper.exitCode(), 0);

    const QStringList report = QString::fromUtf8(helper.readAllStandardOutput())
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // The box's text may run over lines of the report.
    const QStringList expected = (QStringLiteral("box %1:").arg(int(QMessageBox::Information))
                                     + QString(box).replace(QLatin1String("FOLDER"), folder))
                                     .split(QLatin1Char('\n'))
        + QStringList{
            QStringLiteral("refused 1"), QStringLiteral("shown 0"), QStringLiteral("status 2")};
    QCOMPARE(report, expected);
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestMainWindow::clockText_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero-padded") << QDateTime(QDate(2024, 3, 5), QTime(9, 7, 59))
                                 << QStringLiteral("2024-03-05 09:07");
    QTest::newRow("two-digit fields")
        << QDateTime(QDate(1999, 12, 31), QTime(23, 59)) << QStringLiteral("1999-12-31 23:59");
    QTest::newRow("midnight") << QDateTime(QDate(2025, 1, 1), QTime(0, 0))
                              << QStringLiteral("2025-01-01 00:00");
}

void TestMainWindow::clockText()
{
    QFETCH(QDateTime, time);
    QFETCH(QString, text);
    QCOMPARE(TForm1::clockText(time), text);

    // The tick puts the local time into panel 4.
    const QDateTime before = QDateTime::currentDateTime();
    m_form->tmrTimer();
    const QString shown = m_form->status().text(4);
    QVERIFY2(shown == TForm1::clockText(before)
            || shown == TForm1::clockText(QDateTime::currentDateTime()),
        qPrintable(shown));
}

void TestMainWindow::notifications_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("code");
    QTest::addColumn<quint32>("wParam");
    QTest::addColumn<quint32>("lParam");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("panel2");
    QTest::addColumn<bool>("red");
    QTest::addColumn<QString>("panel3");
    QTest::addColumn<QStringList>("memo");

    // Panels 2 and 3 hold "before" and "note" when each notification arrives; the link is not
    // connected, its COM port is COM7 and its device 0.0.0.0.
    const QString before = QStringLiteral("before");
    const QString note = QStringLiteral("note");
    const QString none;
    const QStringList empty;
    const auto failure = [&](const char *name, int mode, int code, const char *shown) {
        QTest::newRow(name) << mode << code << 0u << 0u << none << QString::fromLatin1(shown)
                            << true << none << empty;
    };
    failure("2026 time out", cmCOM, 2026, "Time out!");
    failure("2029 data invalid", cmCOM, 2029, "Data invalid!");
    failure("2031 in COM mode", cmCOM, 2031, "COM access failed!");
    failure("2031 in TCP mode", cmLAN, 2031, "TCP control failed!");
    failure("2032 in COM mode", cmCOM, 2032, "Open COM [COM7] failed");
    failure("2032 in TCP mode", cmLAN, 2032, "Connect 0.0.0.0 failed");
    failure("2037 send failed", cmLAN, 2037, "Send data failed!");
    for (int code : {2024, 2025, 2027, 2028, 2030, 2033, 2036})
        QTest::addRow("%d does nothing", code)
            << int(cmCOM) << code << 13u << 0u << QStringLiteral("trace") << before << false << note
            << empty;
    QTest::newRow("2034 part refused")
        << int(cmCOM) << 2034 << 0x0201u << 0x0304u << none << before << false << note
        << QStringList{QStringLiteral("Write to Part_2.1.3.4 failed")};
    QTest::newRow("2038 plain line")
        << int(cmCOM) << 2038 << 0u << 0u << QStringLiteral("Upgrading Part_1.1.0.0 ...") << before
        << false << note << QStringList{QStringLiteral("Upgrading Part_1.1.0.0 ...")};
    QTest::newRow("2039 configuration progress")
        << int(cmLAN) << 2039 << 0u << 1u << QStringLiteral("Configuring ...")
        << QStringLiteral("Configuring ...") << false << note << empty;
}

void TestMainWindow::notifications()
{
    QFETCH(int, mode);
    QFETCH(int, code);
    QFETCH(quint32, wParam);
    QFETCH(quint32, lParam);
    QFETCH(QString, text);
    QFETCH(QString, panel2);
    QFETCH(bool, red);
    QFETCH(QString, panel3);
    QFETCH(QStringList, memo);

    m_form->link()->setControlMode(TControlMode(mode));
    m_form->link()->setComPort(QStringLiteral("COM7"));
    m_form->status().ShowStatus(2, QStringLiteral("before"));
    m_form->status().ShowStatus(3, QStringLiteral("note"));

    notify(code, wParam, lParam, text);

    QCOMPARE(m_form->status().text(2), panel2);
    QCOMPARE(m_form->status().alert(), red);
    QCOMPARE(m_form->status().text(3), panel3);
    QCOMPARE(memoLines(widget<QPlainTextEdit>(QStringLiteral("mmoMessage"))), memo);
    QCOMPARE(m_form->state().firmwareWriteFailed, code == 2034);
}

void TestMainWindow::rebootLinesAndClear()
{
    auto *memo = widget<QPlainTextEdit>(QStringLiteral("mmoMessage"));
    const QString rebooting1 = QStringLiteral("System rebooting ... 1");
    const QString rebooting2 = QStringLiteral("System rebooting ... 2");
    const QString done = QStringLiteral("Firmware upgrade successfully!");

    notify(2038, 0, 1, rebooting1); // empty memo: appended
    QCOMPARE(memoLines(memo), QStringList{rebooting1});
    notify(2038, 0, 1, rebooting2); // replaces the rebooting line
    QCOMPARE(memoLines(memo), QStringList{rebooting2});
    notify(2038, 0, 1, done);
    QCOMPARE(memoLines(memo), QStringList{done});
    notify(2038, 0, 1, rebooting1); // the last line is no rebooting line: appended
    QCOMPARE(memoLines(memo), (QStringList{done, rebooting1}));
    notify(2038, 0, 0, rebooting2); // a plain line never replaces
    QCOMPARE(memoLines(memo), (QStringList{done, rebooting1, rebooting2}));

    QTest::mouseClick(widget<QAbstractButton>(QStringLiteral("Button1")), Qt::LeftButton);
    QCOMPARE(memo->toPlainText(), QString());
}

void TestMainWindow::gaugeProgress()
{
    auto *gauge = widget<TKVGauge>(QStringLiteral("tsgFWProgress"));
    QCOMPARE(gauge->displayText(), QStringLiteral("Upgrade progress 0%"));
    notify(2035, 0x0201, 50);
    QCOMPARE(gauge->displayText(), QStringLiteral("Upgrading Part_2.1 50%"));
    notify(2035, 0x0301, 50); // same percent: the gauge stays as it is
    QCOMPARE(gauge->displayText(), QStringLiteral("Upgrading Part_2.1 50%"));
    notify(2035, 0x0301, 60);
    QCOMPARE(gauge->displayText(), QStringLiteral("Upgrading Part_3.1 60%"));
    QCOMPARE(m_form->state().lastFirmwarePercent, 60);
}

void TestMainWindow::blinkWhileStopping()
{
    m_form->status().ShowStatus(2, QStringLiteral("before"));
    m_form->state().StopRequested = true;
    notify(2026, 0, 0);
    QCOMPARE(m_form->status().text(2), QStringLiteral("before"));
    QVERIFY(!m_form->status().alert());
    // Texts without blink still show.
    m_form->status().ShowStatus(2, QStringLiteral("after"));
    QCOMPARE(m_form->status().text(2), QStringLiteral("after"));
}

void TestMainWindow::controlModeState_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("busy");
    QTest::newRow("TCP mode") << int(cmLAN) << false;
    QTest::newRow("COM mode") << int(cmCOM) << false;
    QTest::newRow("TCP mode, busy") << int(cmLAN) << true;
    QTest::newRow("COM mode, busy") << int(cmCOM) << true;
}

void TestMainWindow::controlModeState()
{
    QFETCH(int, mode);
    QFETCH(bool, busy);
    // Start from the opposite state so that every control has to change.
    m_form->connection().ApplyControlModeState(mode == cmLAN ? cmCOM : cmLAN, !busy);
    m_form->connection().ApplyControlModeState(TControlMode(mode), busy);

    const bool lan = mode == cmLAN && !busy;
    const bool com = mode == cmCOM && !busy;
    const auto check = [this](const QStringList &names, bool enabled) {
        for (const QString &name : names) {
            QVERIFY2(widget(name)->isEnabled() == enabled, qPrintable(name));
            if (auto *group = qobject_cast<QGroupBox *>(widget(name)))
                QCOMPARE(group->palette().color(QPalette::WindowText),
                    enabled ? QColor(Qt::black) : QColor(128, 128, 128));
        }
    };
    check({QStringLiteral("gbLANMode"), QStringLiteral("cbLANDevice"),
              QStringLiteral("btnSearchDevice"), QStringLiteral("btnConfig"),
              QStringLiteral("btnDeleteDevice")},
        lan);
    check({QStringLiteral("gbCOMMode"), QStringLiteral("lblPort"), QStringLiteral("cbCOMList"),
              QStringLiteral("gbTCPModInfo"), QStringLiteral("lblTCPVersion"),
              QStringLiteral("lblTCPDHCP"), QStringLiteral("lblTCPIPAddr"),
              QStringLiteral("btnQueryTCPModInfo"), QStringLiteral("gbResetDefault"),
              QStringLiteral("btnReset")},
        com);
    check({QStringLiteral("gbModeSelect"), QStringLiteral("rbCOMMode"), QStringLiteral("rbLANMode"),
              QStringLiteral("btnConnect"), QStringLiteral("btnGetDevStatus")},
        !busy);
}

void TestMainWindow::modeChangeClearsTags()
{
    const QStringList names{QStringLiteral("leInput1Tag"), QStringLiteral("leInput6Tag"),
        QStringLiteral("leOutput1Tag"), QStringLiteral("leOutput6Tag")};
    for (const QString &name : names)
        widget<QLineEdit>(name)->setText(QStringLiteral("DVD"));
    QTest::mouseClick(
        widget<QRadioButton>(QStringLiteral("rbCOMMode")), Qt::LeftButton, {}, QPoint(6, 8));
    QCOMPARE(m_form->link()->ControlMode(), cmCOM);
    for (const QString &name : names)
        QCOMPARE(widget<QLineEdit>(name)->text(), QString());
}

void TestMainWindow::comPortList_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("comPort"); // the link's port
    QTest::addColumn<QString>("picked"); // the operator's choice before the tick
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("selected");

    const QStringList ab{QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")};
    const QStringList acb{
        QStringLiteral("ttyS0"), QStringLiteral("ttyACM0"), QStringLiteral("ttyUSB0")};
    QTest::newRow("no ports at all") << QStringList() << "COM1"
                                     << "" << QStringList() << QStringList() << "";
    QTest::newRow("names once, in order")
        << QStringList() << "COM1"
        << ""
        << QStringList{QStringLiteral("ttyS1"), QStringLiteral("ttyUSB0"), QStringLiteral("ttyS1")}
        << QStringList{QStringLiteral("ttyS1"), QStringLiteral("ttyUSB0")} << "ttyS1";
    QTest::newRow("unchanged list keeps the choice") << ab << "COM1"
                                                     << "ttyUSB0" << ab << ab << "ttyUSB0";
    QTest::newRow("port added, link's port stays selected") << ab << "ttyUSB0"
                                                            << "ttyS0" << acb << acb << "ttyUSB0";
    QTest::newRow("port added, link's port unknown") << ab << "COM1"
                                                     << "ttyUSB0" << acb << acb << "ttyS0";
    QTest::newRow("all ports gone") << ab << "ttyUSB0"
                                    << "" << QStringList() << QStringList() << "";
}

// The system's port scan runs on a worker thread. A refresh asked for while one runs must not be
// lost: the list ends as the later scan saw it, never as the stale one.
void TestMainWindow::comPortScanDuringScan()
{
    auto *list = widget<QComboBox>(QStringLiteral("cbCOMList"));
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    m_form->connection().setPortSource([released] {
        released.wait();
        return QStringList{QStringLiteral("ttyStale0")};
    });
    m_form->connection().RefreshComPortList();
    m_form->connection().setPortSource([] { return QStringList{QStringLiteral("ttyNew0")}; });
    m_form->connection().RefreshComPortList(); // returns while the first scan still waits
    release->set_value();

    QTRY_COMPARE(list->count(), 1);
    QTRY_COMPARE(list->itemText(0), QStringLiteral("ttyNew0"));
    m_form->connection().waitForComPortList();
    QCOMPARE(list->itemText(0), QStringLiteral("ttyNew0"));
}

// The timer asks for a scan every second; a scan that takes longer is never joined by a
// second one, and the ticks during it come to one more scan after it.
void TestMainWindow::comPortScansNeverOverlap()
{
    struct Counts
    {
        std::atomic<int> running{0};
        std::atomic<int> most{0};
        std::atomic<int> calls{0};
    };
    auto counts = std::make_shared<Counts>();
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    m_form->connection().setPortSource([counts, released] {
        const int now = ++counts->running;
        counts->most = std::max(counts->most.load(), now);
        ++counts->calls;
        released.wait();
        --counts->running;
        return QStringList{QStringLiteral("ttyS0")};
    });
    m_form->connection().RefreshComPortList();
    QTRY_COMPARE(counts->calls.load(), 1);
    for (int tick = 0; tick < 3; ++tick)
        m_form->tmrTimer();
    release->set_value();
    m_form->connection().waitForComPortList();

    QCOMPARE(counts->most.load(), 1);
    QCOMPARE(counts->calls.load(), 2);
    QCOMPARE(widget<QComboBox>(QStringLiteral("cbCOMList"))->itemText(0), QStringLiteral("ttyS0"));
}

void TestMainWindow::comPortList()
{
    QFETCH(QStringList, before);
    QFETCH(QString, comPort);
    QFETCH(QString, picked);
    QFETCH(QStringList, after);
    QFETCH(QStringList, items);
    QFETCH(QString, selected);

    auto *list = widget<QComboBox>(QStringLiteral("cbCOMList"));
    m_form->link()->setComPort(comPort);
    m_form->connection().setPortSource([before] { return before; });
    m_form->connection().RefreshComPortList();
    m_form->connection().waitForComPortList();
    if (!picked.isEmpty())
        list->setCurrentText(picked);

    m_form->connection().setPortSource([after] { return after; });
    m_form->tmrTimer();
    m_form->connection().waitForComPortList();

    QStringList shown;
    for (int i = 0; i < list->count(); ++i)
        shown.append(list->itemText(i));
    QCOMPARE(shown, items);
    QCOMPARE(list->currentText(), selected);
    QCOMPARE(list->currentIndex() < 0, selected.isEmpty());
}

void TestMainWindow::settingsWrittenAtFirstShow()
{
    QCOMPARE(QFileInfo(m_form->settingsPath()).dir(), QDir(m_w->folder()));
    QVERIFY(QFile::exists(m_form->settingsPath()));
    QCOMPARE(SettingsFile::load(m_form->settingsPath()).presets, AppSettings::defaultPresets());
}

// Only the General page exists before the first paint; the others, with their share of the
// settings, follow it without the operator doing anything.
void TestMainWindow::pagesFollowFirstPaint()
{
    QTemporaryDir dir;
    AppSettings stored;
    stored.presets[0] = {QStringLiteral("Lobby"), QStringLiteral("2,2,2,2,2,2,2")};
    stored.displayTag = true;
    QVERIFY(SettingsFile::save(QDir(dir.path()).filePath(QStringLiteral("Settings.ini")), stored));

    TForm1 form({dir.path(), {}});
    QVERIFY(!form.pagesBuilt());
    QVERIFY(form.findChild<QWidget *>(QStringLiteral("btnGetDevStatus")));
    QVERIFY(!form.findChild<QWidget *>(QStringLiteral("lvPreSetting")));
    form.show();
    QVERIFY(form.findChild<QCheckBox *>(QStringLiteral("cbDisplayTag"))->isChecked());
    QTRY_VERIFY(form.pagesBuilt());

    for (const char *control :
        {"leInput1Tag", "lvPreSetting", "sgEDIDContent", "btnReset", "btnUpgrade", "rbIROn"})
        QVERIFY2(form.findChild<QWidget *>(QLatin1String(control)), control);
    QCOMPARE(form.presetPanel().presets().first().name, QStringLiteral("Lobby"));
    QVERIFY(form.findChild<QCheckBox *>(QStringLiteral("cbDisplayTag"))->isChecked());
}

void TestMainWindow::settingsRestoredAndKept()
{
    QTemporaryDir dir;
    const QString port = dir.filePath(QStringLiteral("ttyFake0")); // listed with --serial-port
    QVERIFY(QFile(port).open(QIODevice::WriteOnly));
    const QString first = QStringLiteral("[Lobby] - [Static IP] - [10.200.0.5] - [10.200.0.1] - "
                                         "[255.255.255.0] - [00-1A-2B-3C-4D-01] - [Same Subnet]");
    const QString chosen = QStringLiteral("[Stage] - [Auto IP] - [10.200.0.7] - [10.200.0.1] - "
                                          "[255.255.255.0] - [00-1A-2B-3C-4D-5E] - [Same Subnet]");
    AppSettings stored;
    stored.controlMode = cmCOM;
    stored.comPort = port;
    stored.lanDevices = {chosen, first};
    stored.lanDevice = chosen;
    stored.networkIP = QStringLiteral("10.200.0.9");
    stored.macId = QStringLiteral("00,1A,2B,3C,4D,5E");
    stored.firmwareFolder = QStringLiteral("/srv/firmware/");
    stored.presets[2] = {QStringLiteral("Stage"), QStringLiteral("3,1,1,2,3,4,5")};
    stored.comTags.inputs[0] = QStringLiteral("Blu-ray");
    stored.lanTags[QStringLiteral("00-1A-2B-3C-4D-5E")].outputs[5] = QStringLiteral("Projector");
    stored.inputNamePool = {QStringLiteral("Blu-ray"), QStringLiteral("PC")};
    stored.displayTag = true;
    stored.edid.edidMode = QStringLiteral("User2");
    const QString path = QDir(dir.path()).filePath(QStringLiteral("Settings.ini"));
    QVERIFY(SettingsFile::save(path, stored));

    TForm1 form({dir.path(), {port}});
    form.show();
    QTRY_VERIFY(form.pagesBuilt());
    QVERIFY(form.findChild<QRadioButton *>(QStringLiteral("rbCOMMode"))->isChecked());
    QCOMPARE(form.link()->ControlMode(), cmCOM);
    QVERIFY(form.findChild<QWidget *>(QStringLiteral("gbCOMMode"))->isEnabled());
    QVERIFY(!form.findChild<QWidget *>(QStringLiteral("gbLANMode"))->isEnabled());
    QCOMPARE(form.link()->ComPort(), port);
    // The list fills when the system's port scan answers, with the saved port selected.
    QTRY_COMPARE(form.findChild<QComboBox *>(QStringLiteral("cbCOMList"))->currentText(), port);
    auto *devices = form.findChild<QComboBox *>(QStringLiteral("cbLANDevice"));
    QCOMPARE(devices->count(), 2);
    QCOMPARE(devices->itemText(0), first); // the list is sorted
    QCOMPARE(devices->currentText(), chosen);
    QCOMPARE(form.link()->DeviceIP(), QStringLiteral("10.200.0.7"));
    QCOMPARE(form.state().currentDeviceMAC, QStringLiteral("00-1A-2B-3C-4D-5E"));
    QCOMPARE(form.state().networkIP, QStringLiteral("10.200.0.9"));

    // The mode change is what closing writes; everything else comes back as it was stored.
    QTest::mouseClick(form.findChild<QRadioButton *>(QStringLiteral("rbLANMode")), Qt::LeftButton,
        {}, QPoint(6, 8));
    QVERIFY(form.close());
    AppSettings expected = stored;
    expected.controlMode = cmLAN;
    expected.lanDevices = {first, chosen};
    QVERIFY(SettingsFile::load(path) == expected);
}

// A Settings.ini with a NUL byte used to lose everything after it at the first showing. It is
// now kept under another name, and the operator is told both names.
void TestMainWindow::settingsNotReadCompletelyMovedAside()
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("Settings.ini"));
    const char raw[] = "[Pre-Setting name]\nSetting1=Lobby\n\0[Display tag]\nValue=1\n";
    const QByteArray held(raw, sizeof raw - 1);
    // What a save killed between naming its temporary file and the rename leaves behind.
    const QString leftover = path + QStringLiteral(".KsQbWz");
    for (const auto &[name, bytes] :
        {std::pair{path, held}, std::pair{leftover, QByteArray("x")}}) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

    TForm1 form({dir.path(), {}});
    form.show();
    QTRY_VERIFY(form.pagesBuilt());
    QVERIFY(!QFile::exists(leftover));
    const QStringList backups
        = QDir(dir.path()).entryList({QStringLiteral("Settings.ini.bak-*")}, QDir::Files);
    QCOMPARE(backups.size(), 1);
    const QString backup = QDir(dir.path()).filePath(backups.first());
    QFile kept(backup);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), held);
    // The first showing still writes the file, with what could be read.
    const SettingsRead now = SettingsFile::read(path);
    QCOMPARE(now.status, SettingsRead::Ok);
    QCOMPARE(now.settings.presets[0].name, QStringLiteral("Lobby"));

    const QList<QMessageBox *> boxes = form.findChildren<QMessageBox *>();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->icon(), QMessageBox::Warning);
    QVERIFY(boxes.first()->isVisible());
    const QString text = boxes.first()->text();
    QVERIFY2(text.contains(path) && text.contains(backup) && text.contains(u"NUL byte"),
        qPrintable(text));
}

// Saves happen on many events; one that fails is told in status panel 3 each time and in a
// warning box once per distinct reason. The window starts even with a FIFO in the file's place.
void TestMainWindow::failedSaveToldOnce()
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("Settings.ini"));
    QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0666) == 0);

    TForm1 form({dir.path(), {}});
    form.show();
    QTRY_VERIFY(form.pagesBuilt());
    QCOMPARE(form.status().text(3), QStringLiteral("Settings.ini not saved"));
    form.status().ShowStatus(3, QString());
    Q_EMIT form.lanDevicePanel().deviceListChanged(); // as a changed device list saves
    QCOMPARE(form.status().text(3), QStringLiteral("Settings.ini not saved"));
    QVERIFY(form.close());

    const QList<QMessageBox *> boxes = form.findChildren<QMessageBox *>();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->icon(), QMessageBox::Warning);
    QCOMPARE(boxes.first()->text(),
        QStringLiteral("Cannot save %1: it is a pipe, not a file; it was kept as it is").arg(path));
    struct stat st
    { };
    QVERIFY(::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], ReadOnlyHelperOption) == 0)
        return runReadOnlyHelper(QString::fromLocal8Bit(argv[2]), qstrcmp(argv[3], "1") == 0);
    TestMainWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
