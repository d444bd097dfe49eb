#include "TForm1.h"

#include "AdvancedPage.h"
#include "CommandRunner.h"
#include "ConnectionControl.h"
#include "DemoSwitcher.h"
#include "DeviceEntry.h"
#include "DeviceStatusPanel.h"
#include "EdidPage.h"
#include "FirmwarePage.h"
#include "Glyphs.h"
#include "InputGate.h"
#include "LanDevicePanel.h"
#include "LinkLease.h"
#include "LinkStatusText.h"
#include "PortTagPage.h"
#include "PresetPanel.h"
#include "RoutingPanel.h"
#include "SettingPage.h"
#include "SettingsFile.h"
#include "SettingsStore.h"
#include "ShellServices.h"
#include "StatusBar.h"
#include "TCPModulePage.h"
#include "TKVCOMControl.h"
#include "TfrmPreSettingEdit.h"
#include "WindowFont.h"
#include "ui_TForm1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHostAddress>
#include <QMessageBox>
#include <QScreen>
#include <QSignalBlocker>
#include <QTabBar>

#include <algorithm>

namespace {

constexpr int OuterWidth = 1025;
constexpr int ClientHeight = 580;
// Pages are built after the first paint, or after this long should the window not be painted.
constexpr int PagesLatestMs = 250;
const QString IgnoredText = QStringLiteral("In processing, command ignored");

} // namespace

TForm1::TForm1(const ShellOptions &options, QWidget *parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::TForm1>()),
      m_location(options.programFolder.isEmpty()
              ? SettingsLocation::forProgramFolder(QCoreApplication::applicationDirPath())
              : SettingsLocation{options.programFolder, options.installed}),
      m_serialPorts(options.serialPorts),
      m_demo(options.demo ? std::make_unique<DemoSwitcher>() : nullptr)
{
    // Set before the controls exist, so that they take it as they are made.
    setFont(windowFont(16));
    ui->setupUi(this);
    FormCreate();
}

TForm1::~TForm1() = default;

PresetPanel &TForm1::presetPanel()
{
    return built(m_settingPage).presets();
}

RoutingPanel &TForm1::routingPanel()
{
    return built(m_settingPage).routing();
}

TKVCOMControl *TForm1::link() const
{
    return m_lease->get();
}

void TForm1::FormCreate()
{
    // A portable copy needs its own folder writable; an installed one the user's folder.
    const QString refusal = m_location.installed
        ? m_location.refusalText(m_location.prepare())
        : (SettingsLocation::IsFolderWritable(m_location.folder)
                ? QString()
                : QStringLiteral(
                    "Please copy GUI application to writable disk then run it. Thank you."));
    if (!refusal.isEmpty()) {
        m_startRefused = true;
        QMessageBox::information(this, productTitle(), refusal);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    }

    m_lease = std::make_unique<LinkLease>(std::make_unique<TKVCOMControl>());
    m_settingsStore = std::make_unique<SettingsStore>();
    m_status = std::make_unique<StatusBar>(
        ui->sb, [this] { return m_state.StopRequested; },
        [this] {
            const TKVCOMControl *l = link();
            return l ? l->timing().blinkMs : Timing().blinkMs;
        });
    connect(m_settingsStore.get(), &SettingsStore::saveFailed, this,
        [this](const QString &text) { m_status->ShowStatus(3, text); });
    connect(m_settingsStore.get(), &SettingsStore::warning, this, &TForm1::showSettingsWarning);
    m_connection = std::make_unique<ConnectionControl>(*ui, *m_lease, *m_status,
        [ports = m_serialPorts] { return ConnectionControl::systemSerialPorts(ports); });
    m_runner = std::make_unique<CommandRunner>(*m_lease, m_state, *m_status, *m_connection, this);
    m_services = std::make_unique<ShellServices>(
        m_state, *m_lease, *m_runner, *m_status, *m_connection, this);
    if (m_demo)
        link()->setTcpPort(m_demo->tcpPort());

    connect(link(), &TKVCOMControl::notification, this, &TForm1::linkNotification,
        Qt::DirectConnection);
    m_lanDevicePanel = std::make_unique<LanDevicePanel>(
        LanDevicePanel::Widgets{ui->cbLANDevice, ui->btnDeleteDevice, ui->btnSearchDevice,
            ui->btnConfig, ui->rbLANMode},
        *m_services, [this](bool busy) {
            if (const TKVCOMControl *l = link())
                m_connection->ApplyControlModeState(l->ControlMode(), busy);
        });
    // Demo mode: searches, configurations and connections stay on loopback, answered by the
    // demo switcher.
    if (m_demo) {
        m_lanDevicePanel->useLoopbackNetwork(
            DemoSwitcher::moduleAddress(), m_demo->moduleSearchPort(), m_demo->moduleConfigPort());
        m_connection->setConnectGuard([](const TKVCOMControl &l) {
            const QHostAddress target(l.DeviceIP());
            const bool loopback
                = target.protocol() == QAbstractSocket::IPv4Protocol && target.isLoopback();
            return l.ControlMode() == cmLAN && !loopback
                ? QStringLiteral("Demo mode connects only to the demo switcher")
                : QString();
        });
    }
    connect(
        m_lanDevicePanel.get(), &LanDevicePanel::deviceListChanged, this, &TForm1::SaveSettings);
    connect(m_lanDevicePanel.get(), &LanDevicePanel::macIdChanged, this, [this](const QString &id) {
        m_settings.macId = id;
        SaveSettings();
    });
    // Another switcher: its own port tags.
    connect(m_lanDevicePanel.get(), &LanDevicePanel::deviceChanged, this, [this] {
        if (m_portTagPage) {
            m_portTagPage->ClearPortTags();
            m_portTagPage->LoadPortTags();
        }
    });
    ui->imgClose->setPixmap(Glyphs::connection(false));
    ui->imgOpen->setPixmap(Glyphs::connection(true));
    ui->imgPowerInit->setPixmap(Glyphs::Power(Glyphs::PowerGlyph::Unknown));
    ui->imgPowerOff->setPixmap(Glyphs::Power(Glyphs::PowerGlyph::Off));
    ui->imgPowerOn->setPixmap(Glyphs::Power(Glyphs::PowerGlyph::On));
    ui->bbPower->setIcon(QIcon(ui->imgPowerInit->pixmap()));
    tmr.setInterval(1000);
    connect(&tmr, &QTimer::timeout, this, &TForm1::tmrTimer);
    ui->pcContainer->tabBar()->installEventFilter(this);
    ui->pcContainer->installEventFilter(this);
    // The refusal is the operator's until the operation that made it ends: it is cleared then
    // unless something else has been said in its place.
    m_gate = std::make_unique<InputGate>(
        this, ui->pcContainer->tabBar(), [this] { return !m_closed && !idle(); },
        [this] { m_status->ShowStatus(3, IgnoredText); },
        [this] {
            if (m_status->text(3) == IgnoredText)
                m_status->ShowStatus(3, QString());
        });

    setWindowTitle(windowTitle() + versionText());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(OuterWidth, ClientHeight);
}

void TForm1::ensurePagesBuilt()
{
    if (!m_pagesBuilt)
        buildPages();
}

void TForm1::buildPages()
{
    m_pagesBuilt = true;
    // The pages set up their forms in the order of the tabs, which is also their tab order.
    m_preSettingEdit = std::make_unique<TfrmPreSettingEdit>(this);
    m_portTagPage
        = std::make_unique<PortTagPage>(ui->tsPortTag, ui->cbDisplayTag, *m_preSettingEdit,
            PortTagPage::Store{[this] { return m_settings.tags(tagMode(), tagMac()); },
                [this](const PortTags &set) { storePortTags(set); }});
    m_settingPage = std::make_unique<SettingPage>(
        ui->tsSetting, *m_preSettingEdit, *m_portTagPage, *m_services);
    m_edidPage = new EdidPage(ui->tsEDIDCtrl, *m_services);
    m_advancedPage = std::make_unique<AdvancedPage>(ui->tsIR, *m_services);
    m_firmwarePage = std::make_unique<FirmwarePage>(*ui->tsFWUpgrade, *m_services,
        FirmwarePageHooks{[this](const QString &filter, const QString &folder) {
                              return QFileDialog::getOpenFileName(this, QString(), folder, filter);
                          },
            [this] { return m_settings.firmwareFolder; },
            [this](const QString &folder) {
                m_settings.firmwareFolder = folder;
                SaveSettings();
            },
            // Firmware files are the user's, never beside installed programs.
            m_location.installed ? QDir::homePath() : m_location.folder});

    RoutingPanel &routing = m_settingPage->routing();
    // Moving over the window around the page ends the note too.
    routing.trackMoves({this, ui->centralwidget, ui->pcContainer});
    routing.setDisplayTagLookup([this] { return ui->cbDisplayTag->isChecked(); });
    m_lanDevicePanel->createDialogs();
    connect(this, &TForm1::searchProgress, &m_lanDevicePanel->searchDialog(),
        &TfrmSearch::searchProgress);
    connect(m_connection.get(), &ConnectionControl::clearPortTags, m_portTagPage.get(),
        &PortTagPage::ClearPortTags);
    connect(m_connection.get(), &ConnectionControl::loadPortTags, m_portTagPage.get(),
        &PortTagPage::LoadPortTags);
    connect(m_portTagPage.get(), &PortTagPage::poolsChanged, this,
        [this](const QStringList &inputs, const QStringList &outputs) {
            m_settings.inputNamePool = inputs;
            m_settings.outputNamePool = outputs;
        });
    connect(m_portTagPage.get(), &PortTagPage::displayTagsChanged, this,
        [this](bool on) { m_settings.displayTag = on; });
    connect(&m_settingPage->presets(), &PresetPanel::presetsChanged, this, [this] {
        const QList<PresetRow> rows = m_settingPage->presets().presets();
        for (qsizetype i = 0; i < rows.size() && i < SettingsPresetCount; ++i)
            m_settings.presets[size_t(i)] = {rows[i].name, encodePresetValue(rows[i].values)};
    });

    m_settingPage->setNoteFont(windowFont(19, true));
    m_edidPage->setContentFont(windowFont(14));
    connect(m_portTagPage.get(), &PortTagPage::tagsChanged, m_edidPage, &EdidPage::setPortTags);

    DeviceStatusPanel::Widgets status{ui->btnGetDevStatus, ui->lblDevice, ui->lblVersion,
        {ui->lblInput1, ui->lblInput2, ui->lblInput3, ui->lblInput4, ui->lblInput5, ui->lblInput6},
        {ui->lblOutput1, ui->lblOutput2, ui->lblOutput3, ui->lblOutput4, ui->lblOutput5,
            ui->lblOutput6},
        ui->bbPower, {ui->imgPowerInit, ui->imgPowerOff, ui->imgPowerOn}, {}};
    const auto switches = m_advancedPage->switches();
    for (size_t i = 0; i < switches.size(); ++i)
        status.switches[i] = {switches[i].off, switches[i].on};
    m_deviceStatus = std::make_unique<DeviceStatusPanel>(status, *m_services);
    // Power state, device information and routes belong to the switcher they were read from.
    connect(
        m_connection.get(), &ConnectionControl::controlModeChanged, this, &TForm1::forgetSwitcher);
    connect(m_lanDevicePanel.get(), &LanDevicePanel::deviceChanged, this, &TForm1::forgetSwitcher);
    // A lost connection leaves nothing known of the switcher either; once the operation that
    // noticed it has unwound, so that its own revert does not show a route again.
    if (TKVCOMControl *l = link())
        connect(
            l, &TKVCOMControl::connectionLost, this, &TForm1::forgetSwitcher, Qt::QueuedConnection);
    // The switcher found on after a change: its routes are read at once.
    connect(m_deviceStatus.get(), &DeviceStatusPanel::switcherFoundOn, &routing,
        &RoutingPanel::ReadRoutes);
    m_connection->setModulePage(m_advancedPage->modulePage().widgets());
    if (const TKVCOMControl *l = link())
        m_connection->ApplyControlModeState(l->ControlMode(), l->Configuring());
    if (m_shown)
        formShowPages();
}

void TForm1::forgetSwitcher()
{
    m_deviceStatus->ResetDeviceInfo();
    // The control mode restored at the first showing is no change: the displays keep their
    // first state until then.
    if (m_settingsRead)
        m_settingPage->routing().showUnknownRoutes();
}

QString TForm1::clockText(const QDateTime &time)
{
    return QString::number(time.date().year()) + time.toString(QStringLiteral("-MM-dd HH:mm"));
}

void TForm1::setVisible(bool visible)
{
    QMainWindow::setVisible(visible && !m_startRefused);
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // The outer width counts the frame, where the window system adds one.
    const int frame = frameGeometry().width() - width();
    if (frame > 0)
        setFixedWidth(OuterWidth - frame);
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - frameGeometry().center() + pos());
    FormShow();
}

void TForm1::FormShow()
{
    LoadSettings();
    const TKVCOMControl *l = link();
    m_status->ShowStatus(
        1, l && l->Connected() ? QStringLiteral("Connected") : QStringLiteral("Disconnect"));
    tmr.start();
    showDemoFailure();
    if (m_pagesBuilt)
        formShowPages();
    else
        QTimer::singleShot(PagesLatestMs, this, &TForm1::ensurePagesBuilt);
}

void TForm1::showDemoFailure()
{
    if (!m_demo)
        return;
    // A demo switcher that cannot be served would otherwise only show as searches that find
    // nothing and connections that fail.
    if (!m_demo->isListening()) {
        m_status->ShowStatus(2, QStringLiteral("Demo switcher not served"), true);
        m_status->ShowStatus(3, m_demo->error());
    } else if (!m_demo->moduleServed()) {
        m_status->ShowStatus(2, QStringLiteral("Demo network module not served"), true);
        m_status->ShowStatus(3, m_demo->moduleError());
    }
}

void TForm1::formShowPages()
{
    // The system's port scan takes a while on its own thread; started once the window has been
    // painted, it does not hold up that paint. The list fills when it answers, with the saved
    // port selected.
    m_connection->RefreshComPortList();
    m_settingPage->routing().FormShow();
    m_settingPage->presets().SetPresetColumns();
    loadPageSettings();
    m_edidPage->FormShow();
    m_deviceStatus->ResetDeviceInfo();
    m_firmwarePage->FormShow();
    // Completes a missing or partial file with the defaults at once.
    SaveSettings();
}

void TForm1::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    // The operator sees the General page first; the other pages are built right after it has
    // been painted, before any input is handled.
    if (!m_pagesBuilt)
        QMetaObject::invokeMethod(this, &TForm1::ensurePagesBuilt, Qt::QueuedConnection);
}

QString TForm1::settingsPath() const
{
    return QDir(m_location.folder)
        .filePath(m_demo ? DemoSwitcher::settingsFileName() : QStringLiteral("Settings.ini"));
}

void TForm1::LoadSettings()
{
    m_settingsStore->setPath(settingsPath());
    m_settings = m_settingsStore->load();
    if (m_demo)
        m_demo->selectIn(m_settings);
    {
        const QSignalBlocker blocker(ui->cbDisplayTag);
        ui->cbDisplayTag->setChecked(m_settings.displayTag);
    }
    TKVCOMControl *l = link();

    QComboBox *devices = ui->cbLANDevice;
    devices->clear();
    devices->addItems(m_settings.lanDevices);
    devices->model()->sort(0);
    devices->setCurrentIndex(devices->findText(m_settings.lanDevice));
    const QString device = devices->currentText();
    m_state.currentDeviceMAC = GetEntryField(device, EntryField::MAC);
    l->setDeviceIP(GetEntryField(device, EntryField::IP));

    m_state.networkIP = m_settings.networkIP;
    m_state.networkGateway = m_settings.networkGateway;
    m_state.networkMask = m_settings.networkMask;

    if (!m_settings.comPort.isEmpty()) {
        l->setComPort(m_settings.comPort);
        const int port = ui->cbCOMList->findText(m_settings.comPort);
        if (port >= 0)
            ui->cbCOMList->setCurrentIndex(port);
    }

    const bool com = m_settings.controlMode == cmCOM;
    QRadioButton *mode = com ? ui->rbCOMMode : ui->rbLANMode;
    {
        const QSignalBlocker blocker(mode);
        mode->setChecked(true);
    }
    if (com)
        m_connection->rbCOMModeClick();
    else
        m_connection->rbLANModeClick();
    m_settingsRead = true;
}

void TForm1::loadPageSettings()
{
    QList<PresetRow> presets;
    for (const Preset &preset : m_settings.presets)
        presets.append({preset.name, decodePresetValue(preset.value)});
    m_settingPage->presets().setPresets(presets);
    m_portTagPage->setPools(m_settings.inputNamePool, m_settings.outputNamePool);
    // The tags of the control mode and switcher chosen above.
    m_portTagPage->LoadPortTags();

    const PortTags tags = m_settings.tags(tagMode(), m_state.currentDeviceMAC);
    m_edidPage->LoadSettings(m_settings.edid, {tags.inputs.begin(), tags.inputs.end()},
        {tags.outputs.begin(), tags.outputs.end()});
}

void TForm1::SaveSettings()
{
    // Nothing was read before the first showing; writing then would overwrite the file.
    if (m_startRefused || !m_shown)
        return;
    if (const TKVCOMControl *l = link())
        m_settings.controlMode = l->ControlMode();
    if (!ui->cbCOMList->currentText().isEmpty())
        m_settings.comPort = ui->cbCOMList->currentText();
    m_settings.lanDevices.clear();
    for (int i = 0; i < ui->cbLANDevice->count(); ++i)
        m_settings.lanDevices.append(ui->cbLANDevice->itemText(i));
    m_settings.lanDevice = ui->cbLANDevice->currentText();
    m_settings.networkIP = m_state.networkIP;
    m_settings.networkGateway = m_state.networkGateway;
    m_settings.networkMask = m_state.networkMask;

    // Before the EDID page is built its choices are those read.
    if (m_edidPage)
        m_settings.edid = m_edidPage->choices();

    m_settingsStore->save(m_settings);
}

void TForm1::showSettingsWarning(const QString &text)
{
    qWarning().noquote() << text;
    // Saves happen inside clicks and operations; a box of its own event loop there would run
    // them again. This one is window modal and answered later.
    auto *box = new QMessageBox(QMessageBox::Warning, productTitle(), text, QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

TControlMode TForm1::tagMode() const
{
    const TKVCOMControl *l = link();
    return l ? l->ControlMode() : cmLAN;
}

QString TForm1::tagMac() const
{
    return m_state.currentDeviceMAC;
}

void TForm1::storePortTags(const PortTags &tags)
{
    m_settings.setTags(tagMode(), tagMac(), tags);
    if (m_shown && !m_startRefused)
        m_settingsStore->savePortTags(tagMode(), tagMac(), tags);
}

void TForm1::tmrTimer()
{
    m_connection->RefreshComPortList();
    m_status->ShowStatus(4, clockText(QDateTime::currentDateTime()));
}

bool TForm1::idle() const
{
    const TKVCOMControl *l = link();
    return m_state.RunnerIdle && !(m_connection && m_connection->busy())
        && (!l || (!l->Searching() && !l->connecting() && !l->Configuring()));
}

bool TForm1::pcContainerChanging() const
{
    return !m_state.PowerOn || idle();
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    // A tab widget cannot veto a page change, so the operator's ways to change pages are
    // caught before they reach it.
    QTabBar *tabs = ui->pcContainer->tabBar();
    if (watched == tabs) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            const int index = tabs->tabAt(static_cast<QMouseEvent *>(event)->position().toPoint());
            if (index >= 0 && index != tabs->currentIndex() && !pcContainerChanging())
                return true;
            break;
        }
        case QEvent::KeyPress:
        case QEvent::Wheel:
            if (!pcContainerChanging())
                return true;
            break;
        default:
            break;
        }
    } else if (watched == ui->pcContainer && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool pageKey = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab
            || key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown;
        if (pageKey && (key->modifiers() & Qt::ControlModifier) && !pcContainerChanging())
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::requestStop()
{
    m_state.StopRequested = true;
    if (TKVCOMControl *l = link())
        l->setStopRequested(true);
}

bool TForm1::FormCloseQuery()
{
    if (idle() || m_closeConfirmed) {
        requestStop();
        return true;
    }
    const TKVCOMControl *l = link();
    askToClose(l && l->connecting());
    return false;
}

void TForm1::askToClose(bool connecting)
{
    // The operation's wait runs below: a box with a loop of its own would hold that wait until
    // it is answered, so the box is shown and answered from the loop that already runs.
    if (m_closeBox)
        return;
    if (connecting) {
        m_closeBox = new QMessageBox(QMessageBox::Information, productTitle(),
            QStringLiteral("Connection in process, please wait..."), QMessageBox::Ok, this);
    } else {
        m_closeBox = new QMessageBox(QMessageBox::Question, productTitle(),
            QStringLiteral("Processing not complete, continue to close controller?"),
            QMessageBox::Yes | QMessageBox::No, this);
    }
    m_closeBox->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_closeBox, &QMessageBox::finished, this, [this, connecting](int answer) {
        if (connecting || answer != QMessageBox::Yes)
            return;
        m_closeConfirmed = true;
        // Closing now stops the operation; it keeps the link until it has unwound.
        QTimer::singleShot(0, this, [this] { close(); });
    });
    m_closeBox->open();
}

void TForm1::FormClose()
{
    tmr.stop();
    SaveSettings();
    // An operation still on the stack keeps the link until it has returned.
    m_lease->release();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (!m_closed) {
        if (!FormCloseQuery()) {
            event->ignore();
            return;
        }
        m_closed = true;
        FormClose();
    }
    event->accept();
}

void TForm1::linkNotification(const LinkNotice &notice)
{
    if (m_firmwarePage && m_firmwarePage->applyNotice(notice))
        return;
    switch (notice.code) {
    case LinkMessage::TimeOut:
    case LinkMessage::DataInvalid:
    case LinkMessage::TransportError:
    case LinkMessage::OpenCloseFailed:
    case LinkMessage::SendFailed:
        if (const TKVCOMControl *l = link()) {
            // The system's reason for a failed connect stays in panel 3, shown while panel 2
            // blinks; other failures clear it.
            const QString reason = linkFailureReason(notice);
            if (!reason.isEmpty())
                m_status->ShowStatus(3, reason);
            m_status->ShowStatus(2, linkStatusText(notice, *l), true);
            if (reason.isEmpty())
                m_status->ShowStatus(3, QString());
        }
        break;
    case LinkMessage::NetworkProgress:
        if (notice.lParam == 0)
            Q_EMIT searchProgress(notice.text, notice.wParam);
        else
            m_status->ShowStatus(2, notice.text);
        break;
    default:
        break;
    }
}
