#include "ConnectionControl.h"

#include "LinkLease.h"
#include "StatusBar.h"
#include "ui_TForm1.h"

#include <QCollator>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSerialPortInfo>
#include <QtConcurrentRun>

#include <algorithm>
#include <utility>

namespace {

const QColor enabledCaption(Qt::black);
const QColor DisabledCaption(128, 128, 128);

void setCaptionColour(QGroupBox *group, bool enabled)
{
    QPalette palette = group->palette();
    palette.setColor(QPalette::WindowText, enabled ? enabledCaption : DisabledCaption);
    group->setPalette(palette);
}

} // namespace

ConnectionControl::ConnectionControl(
    Ui::TForm1 &ui, LinkLease &lease, StatusBar &status, PortSource ports, QObject *parent)
    : QObject(parent), m_ui(ui), m_lease(lease), m_status(status), m_ports(std::move(ports))
{
    connect(m_ui.btnConnect, &QPushButton::clicked, this, &ConnectionControl::btnConnectClick);
    connect(&m_scan, &QFutureWatcher<QStringList>::finished, this,
        &ConnectionControl::takeScannedPorts);
    // Like a radio button's click: only when it becomes checked.
    connect(m_ui.rbCOMMode, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            rbCOMModeClick();
    });
    connect(m_ui.rbLANMode, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            rbLANModeClick();
    });
    // A connection the peer broke (cable pulled, switcher gone) shows as closed at once.
    connect(m_lease.get(), &TKVCOMControl::connectedChanged, this, [this](bool connected) {
        if (!connected)
            showConnectionState();
    });
}

QStringList ConnectionControl::systemSerialPorts(const QStringList &extraPorts)
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names.append(info.portName());
    QCollator collator;
    collator.setNumericMode(true);
    std::sort(names.begin(), names.end(), collator);
    for (const QString &path : extraPorts) {
        if (QFileInfo::exists(path))
            names.append(path);
    }
    names.removeDuplicates();
    return names;
}

ConnectionControl::~ConnectionControl()
{
    // The scan reads nothing of ours, but its result must not outlive its watcher unseen.
    m_scan.waitForFinished();
}

void ConnectionControl::RefreshComPortList()
{
    // One scan at a time: a refresh asked for while one runs (the timer ticks every second)
    // becomes one more scan after it, so that the list ends as the system is now.
    if (m_scan.isRunning()) {
        m_rescan = true;
        return;
    }
    m_scan.setFuture(
        QtConcurrent::run([source = m_ports] { return source ? source() : QStringList(); }));
}

void ConnectionControl::waitForComPortList()
{
    while (m_scan.isRunning() || m_scan.future().resultCount() > 0) {
        m_scan.waitForFinished();
        takeScannedPorts();
    }
}

void ConnectionControl::takeScannedPorts()
{
    // Called by the finished signal and by a wait; whichever comes second finds nothing new.
    const QFuture<QStringList> scan = m_scan.future();
    if (!scan.isFinished() || scan.resultCount() == 0)
        return;
    const QStringList ports = scan.result();
    m_scan.setFuture(QFuture<QStringList>());
    showComPorts(ports);
    if (std::exchange(m_rescan, false))
        RefreshComPortList();
}

void ConnectionControl::showComPorts(QStringList ports)
{
    ports.removeDuplicates();

    QComboBox *list = m_ui.cbCOMList;
    bool changed = ports.size() != list->count();
    for (int i = 0; !changed && i < ports.size(); ++i)
        changed = list->findText(ports[i], Qt::MatchExactly | Qt::MatchCaseSensitive) < 0;
    if (!changed)
        return;

    list->clear();
    list->addItems(ports);
    TKVCOMControl *link = m_lease.get();
    const QString current = link ? link->ComPort() : QString();
    if (!ports.contains(current)) {
        if (link && link->Connected() && link->ControlMode() == cmCOM)
            btnConnectClick();
        if (!ports.isEmpty())
            list->setCurrentIndex(0);
    } else {
        list->setCurrentIndex(ports.indexOf(current));
    }
}

void ConnectionControl::btnConnectClick()
{
    TKVCOMControl *link = m_lease.get();
    if (!link)
        return;
    LinkLease::Use use(m_lease);

    // A connect in progress waits in an event loop: a second one (a click, or a command that
    // connects on demand) must not start another connect on the same transport.
    if (link->connecting())
        return;
    // Until the link has settled, up or down, a click must not start an operation on it. An
    // on-demand connect from inside an operation keeps that operation's own busy state.
    const bool wasBusy = std::exchange(m_busy, true);
    const auto settled = qScopeGuard([this, wasBusy] { m_busy = wasBusy; });
    m_status.ShowStatus(2, QString());
    const QString refused = !link->Connected() && m_guard ? m_guard(*link) : QString();
    if (link->Connected()) {
        link->Disconnect();
    } else if (!refused.isEmpty()) {
        m_status.ShowStatus(2, refused, true);
        m_status.ShowStatus(3, QString());
    } else {
        if (link->ControlMode() == cmCOM) {
            link->setComPort(m_ui.cbCOMList->currentText());
            m_status.ShowStatus(
                2, QStringLiteral("Opening [") + link->ComPort() + QStringLiteral("] ..."));
        } else {
            m_status.ShowStatus(
                2, QStringLiteral("Connecting [") + link->DeviceIP() + QStringLiteral("] ..."));
        }
        // The control mode decides which transport is opening: it cannot change meanwhile.
        ApplyControlModeState(link->ControlMode(), true);
        link->Connect();
        ApplyControlModeState(link->ControlMode(), link->Configuring());
        if (m_ui.pcContainer->currentWidget() == m_ui.tsGeneral)
            m_ui.btnConnect->setFocus();
    }
    showConnectionState();
    if (link->Connected()) {
        m_status.ShowStatus(2, QString());
        // The reason an earlier connect failed for no longer applies.
        m_status.ShowStatus(3, QString());
    }
    link->pause(link->timing().connectSettleMs);
}

void ConnectionControl::showConnectionState()
{
    const TKVCOMControl *link = m_lease.get();
    const bool connected = link && link->Connected();
    m_ui.cbCOMList->setEnabled(!connected);
    m_ui.imgOpen->setVisible(connected);
    m_ui.imgClose->setVisible(!connected);
    m_ui.btnConnect->setText(
        connected ? QStringLiteral("&Disconnect") : QStringLiteral("&Connect"));
    if (connected) {
        const QString where = link->ControlMode() == cmCOM ? link->ComPort() : link->DeviceIP();
        m_status.ShowStatus(1, where + QStringLiteral(": Connected"));
    } else {
        m_status.ShowStatus(1, QStringLiteral("Disconnect"));
    }
}

void ConnectionControl::rbCOMModeClick()
{
    TKVCOMControl *link = m_lease.get();
    if (!link)
        return;
    m_status.ShowStatus(2, QString());
    if (link->Connected())
        btnConnectClick();
    Q_EMIT clearPortTags();
    link->setControlMode(cmCOM);
    ApplyControlModeState(cmCOM, false);
    Q_EMIT loadPortTags();
    Q_EMIT controlModeChanged();
}

void ConnectionControl::rbLANModeClick()
{
    TKVCOMControl *link = m_lease.get();
    if (!link || link->Searching())
        return;
    if (link->Connected())
        btnConnectClick();
    Q_EMIT clearPortTags();
    link->setControlMode(cmLAN);
    Q_EMIT loadPortTags();
    m_status.ShowStatus(3, QString());
    ApplyControlModeState(cmLAN, false);
    if (!m_ui.rbLANMode->isChecked())
        m_status.ShowStatus(2, QString());
    Q_EMIT controlModeChanged();
}

void ConnectionControl::ApplyControlModeState(TControlMode mode, bool busy)
{
    const bool lan = mode == cmLAN && !busy;
    const bool com = mode == cmCOM && !busy;
    for (QWidget *w : std::initializer_list<QWidget *>{m_ui.gbLANMode, m_ui.cbLANDevice,
             m_ui.btnSearchDevice, m_ui.btnConfig, m_ui.btnDeleteDevice})
        w->setEnabled(lan);
    setCaptionColour(m_ui.gbLANMode, lan);

    for (QWidget *w :
        std::initializer_list<QWidget *>{m_ui.gbCOMMode, m_ui.lblPort, m_ui.cbCOMList})
        w->setEnabled(com);
    setCaptionColour(m_ui.gbCOMMode, com);
    // The TCP module is queried and reset over the serial port, so its groups on the Advanced
    // page follow COM mode.
    if (const std::optional<TCPModulePage::Widgets> &module = m_modulePage) {
        for (QWidget *w : std::initializer_list<QWidget *>{module->gbTCPModInfo,
                 module->lblTCPVersion, module->lblTCPDHCP, module->lblTCPIPAddr,
                 module->btnQueryTCPModInfo, module->gbResetDefault, module->btnReset})
            w->setEnabled(com);
        for (QGroupBox *g : {module->gbTCPModInfo, module->gbResetDefault})
            setCaptionColour(g, com);
    }

    for (QWidget *w : std::initializer_list<QWidget *>{m_ui.gbModeSelect, m_ui.rbCOMMode,
             m_ui.rbLANMode, m_ui.btnConnect, m_ui.btnGetDevStatus})
        w->setEnabled(!busy);
    setCaptionColour(m_ui.gbModeSelect, !busy);
}
