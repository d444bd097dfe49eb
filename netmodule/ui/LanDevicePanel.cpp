#include "LanDevicePanel.h"

#include "DatagramSocket.h"
#include "DeviceEntry.h"
#include "NetworkModuleControl.h"
#include "PageServices.h"
#include "ShellState.h"
#include "TKVCOMControl.h"
#include "TKVPing.h"
#include "TfrmEditLAN.h"

#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr int PingTimeoutMs = 1000;
constexpr int SettleTicks = 2; // after a configuration

std::array<QString, 4> ipParts(const QString &text)
{
    std::array<QString, 4> parts;
    ParseIPText(text, &parts);
    return parts;
}

// A module may be configured to any address; in loopback mode only loopback ones are tried.
bool loopbackPing(const QString &address)
{
    return QHostAddress(address).isLoopback();
}

} // namespace

LanDevicePanel::LanDevicePanel(
    const Widgets &widgets, PageServices &services, BusyFunction busy, QObject *parent)
    : QObject(parent),
      m_w(widgets),
      m_services(services),
      m_busy(std::move(busy)),
      m_control(std::make_unique<NetworkModuleControl>(*services.link())),
      m_ping(std::make_unique<TKVPing>(PingTimeoutMs))
{
    m_ping->setStopRequest(&services.link()->stopRequest());
    connect(
        m_w.btnSearchDevice, &QPushButton::clicked, this, &LanDevicePanel::btnSearchDeviceClick);
    connect(
        m_w.btnDeleteDevice, &QPushButton::clicked, this, &LanDevicePanel::btnDeleteDeviceClick);
    connect(m_w.btnConfig, &QPushButton::clicked, this, &LanDevicePanel::btnConfigClick);
    // The operator's choice only: the window selects the saved entry itself when it loads.
    connect(m_w.cbLANDevice, &QComboBox::activated, this, &LanDevicePanel::cbLANDeviceChange);
}

LanDevicePanel::~LanDevicePanel() = default;

void LanDevicePanel::createDialogs()
{
    if (m_search)
        return;
    m_search = std::make_unique<TfrmSearch>(
        *m_control, [this](const QString &address) { return m_ping->PingHost(address); },
        m_services.dialogParent());
    if (m_loopbackOnly)
        m_search->setPing(loopbackPing);
    m_edit = std::make_unique<TfrmEditLAN>(m_services.dialogParent());
}

TfrmSearch &LanDevicePanel::searchDialog()
{
    createDialogs();
    return *m_search;
}

TfrmEditLAN &LanDevicePanel::configDialog()
{
    createDialogs();
    return *m_edit;
}

TKVCOMControl *LanDevicePanel::link()
{
    return m_services.link();
}

bool LanDevicePanel::useLoopbackNetwork(
    const QHostAddress &module, quint16 searchPort, quint16 configPort)
{
    TKVCOMControl *l = link();
    if (!l || l->Searching() || l->Configuring() || !module.isLoopback()
        || module.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    m_control = std::make_unique<NetworkModuleControl>(
        *l, std::make_unique<UdpDatagramSocket>(LoopbackModule{module, searchPort, configPort}));
    m_loopbackOnly = true;
    if (m_search) {
        m_search->setControl(*m_control);
        m_search->setPing(loopbackPing);
    }
    return true;
}

void LanDevicePanel::disconnectLink()
{
    if (const TKVCOMControl *l = link(); l && l->Connected())
        m_services.btnConnectClick();
}

bool LanDevicePanel::addEntry(const QString &text)
{
    QComboBox *list = m_w.cbLANDevice;
    const bool added = list->findText(text) < 0;
    if (added) {
        list->addItem(text);
        list->model()->sort(0);
    }
    list->setCurrentIndex(list->findText(text));
    return added;
}

void LanDevicePanel::btnSearchDeviceClick()
{
    TKVCOMControl *l = link();
    if (!l || l->Searching())
        return;
    LinkLease::Use use(m_services.lease());
    disconnectLink();
    m_services.ShowStatus(2, QStringLiteral("Searching TCP control device ..."));
    m_services.ShowStatus(3, QString());

    l->setUDPMode(umBROADCAST);
    m_control->FoundDevices().clear();
    searchDialog().clearEntries();
    const int result = searchDialog().exec();
    if (m_services.state().StopRequested || !link())
        return;

    if (result == TfrmSearch::Ok) {
        QComboBox *list = m_w.cbLANDevice;
        const QString before = list->currentText();
        QString lastAdded;
        for (const QString &entry : searchDialog().entries()) {
            if (list->findText(entry) < 0) {
                list->addItem(entry);
                lastAdded = entry;
            }
        }
        list->model()->sort(0);
        list->setCurrentIndex(list->findText(lastAdded.isEmpty() ? before : lastAdded));
        cbLANDeviceChange();
        m_services.ShowStatus(2, QStringLiteral("Search TCP control device ok"));
    } else {
        m_services.ShowStatus(2, QStringLiteral("Search TCP control device cancelled"));
        // A search to a typed address set DeviceIP: the selected entry is the target again.
        l->setDeviceIP(GetEntryField(
            m_w.cbLANDevice->currentIndex() >= 0 ? m_w.cbLANDevice->currentText() : QString(),
            EntryField::IP));
    }
    m_services.ShowStatus(3, QString());
    if (!m_w.rbLANMode->isChecked())
        m_services.ShowStatus(2, QString());
    if (const QString inUse = m_control->portInUseText(); !inUse.isEmpty())
        m_services.ShowStatus(2, inUse, true);
}

void LanDevicePanel::cbLANDeviceChange()
{
    TKVCOMControl *l = link();
    if (!l)
        return;
    disconnectLink();
    const QString entry
        = m_w.cbLANDevice->currentIndex() >= 0 ? m_w.cbLANDevice->currentText() : QString();
    ShellState &state = m_services.state();
    // An empty entry reads as the defaults: no MAC, address 0.0.0.0.
    state.currentDeviceMAC = GetEntryField(entry, EntryField::MAC);
    l->setDeviceIP(GetEntryField(entry, EntryField::IP));
    Q_EMIT deviceChanged(state.currentDeviceMAC);
    Q_EMIT deviceListChanged();
}

void LanDevicePanel::btnDeleteDeviceClick()
{
    QComboBox *list = m_w.cbLANDevice;
    const int index = list->currentIndex();
    if (index < 0)
        return;
    if (QMessageBox::question(m_services.dialogParent(), QString(),
            QStringLiteral("Sure to delete device: ") + list->currentText() + QStringLiteral(" ?"),
            QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    list->removeItem(index);
    list->setCurrentIndex(std::min(index, list->count() - 1));
    cbLANDeviceChange();
}

void LanDevicePanel::btnConfigClick()
{
    QComboBox *list = m_w.cbLANDevice;
    const int index = list->currentIndex();
    if (index < 0) {
        QMessageBox::critical(
            m_services.dialogParent(), QString(), QStringLiteral("TCP control deivce not found."));
        return;
    }
    if (!link())
        return;
    disconnectLink();
    m_services.ShowStatus(2, QString());
    m_services.ShowStatus(3, QString());

    const QString former = list->itemText(index);
    ShellState &state = m_services.state();
    configDialog().setValues(GetEntryField(former, EntryField::Tag),
        GetEntryField(former, EntryField::Mode) == AutoIPText,
        ipParts(GetEntryField(former, EntryField::IP)),
        ipParts(GetEntryField(former, EntryField::Gateway)),
        ipParts(GetEntryField(former, EntryField::Mask)), SplitMACText(state.currentDeviceMAC));
    configDialog().setTagNoteVisible(false);
    configDialog().SetMACFieldsEditable(false);
    configDialog().EnableAddressFields(true);
    if (configDialog().exec() != QDialog::Accepted) {
        m_services.ShowStatus(2, QStringLiteral("Modify TCP configuration cancelled"));
        return;
    }

    LinkLease::Use use(m_services.lease());
    TKVCOMControl *l = link();
    if (!l || state.StopRequested)
        return;
    if (m_busy)
        m_busy(true);
    m_services.ShowStatus(2, QStringLiteral("Setting TCP control configuration ..."));

    MacAddress mac{};
    ParseMACText(state.currentDeviceMAC, &mac);
    const QString tag = configDialog().tag();
    const bool autoIP = configDialog().autoIP();
    const TfrmEditLAN::Quad ip = configDialog().ipFields();
    const ConfigRecord request = buildConfigRecord(
        mac, tag, autoIP, ip, configDialog().gatewayFields(), configDialog().maskFields());
    const ConfigResult result = m_control->SetTCPConfig(request);
    l->pause(SettleTicks * l->timing().tickMs);
    if (state.StopRequested)
        return;

    switch (result) {
    case ConfigResult::Accepted: {
        m_services.ShowStatus(2, QStringLiteral("Modify TCP configuration ok"));
        const QString entry
            = configuredEntry(former, tag, autoIP, request, m_control->configRecord());
        // The entry is rewritten in place; the sorted list may put it elsewhere.
        list->removeItem(list->findText(former));
        addEntry(entry);
        cbLANDeviceChange();
        const std::array<QString, 6> macFields = configDialog().macFields();
        Q_EMIT macIdChanged(
            QStringList{macFields[0], macFields[1], macFields[2]}.join(QLatin1Char('-')));
        break;
    }
    case ConfigResult::AddressConflict:
        m_services.ShowStatus(2,
            QStringLiteral("Setting IP conflict:") + QStringList(ip.begin(), ip.end()).join(u'.'),
            true);
        m_services.ShowStatus(3, QString());
        break;
    default: {
        const QString inUse = m_control->portInUseText();
        m_services.ShowStatus(
            2, inUse.isEmpty() ? QStringLiteral("Modify TCP configuration failed") : inUse, true);
        m_services.ShowStatus(3, QString());
        break;
    }
    }

    if (m_busy)
        m_busy(false);
    if (m_w.btnConfig->isEnabled() && m_w.btnConfig->isVisible())
        m_w.btnConfig->setFocus();
}
