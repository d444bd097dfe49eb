#pragma once

#include "NetDatagrams.h"
#include "TfrmSearch.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class NetworkModuleControl;
class PageServices;
class QComboBox;
class QPushButton;
class QRadioButton;
class TfrmEditLAN;
class TKVCOMControl;
class TKVPing;

// The General page's "TCP control mode" group: the operator's list of network switchers
// (cbLANDevice, sorted, no duplicates), the search dialog that fills it, deleting an entry,
// selecting one (the link's DeviceIP and the current device MAC), and the configuration
// dialog that changes a module's network settings. It owns the network module engine.
class LanDevicePanel final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LanDevicePanel)
public:
    struct Widgets
    {
        QComboBox *cbLANDevice = nullptr;
        QPushButton *btnDeleteDevice = nullptr;
        QPushButton *btnSearchDevice = nullptr;
        QPushButton *btnConfig = nullptr;
        QRadioButton *rbLANMode = nullptr;
    };
    // Greys the connection controls while a configuration runs (busy true) and restores them.
    using BusyFunction = std::function<void(bool busy)>;

    LanDevicePanel(const Widgets &widgets, PageServices &services, BusyFunction busy,
        QObject *parent = nullptr);
    ~LanDevicePanel() override;

    NetworkModuleControl &control() { return *m_control; }
    // The dialogs are made on first use, or when the window calls createDialogs.
    void createDialogs();
    TfrmSearch &searchDialog();
    TfrmEditLAN &configDialog();
    TKVPing &ping() { return *m_ping; }

    // Keeps every datagram on loopback: searches and configurations go to module (a 127.x
    // address where a simulator serves the module's search and configuration ports) and
    // nothing else, replies are heard on 127.0.0.1 only, and the reachability check answers
    // for loopback addresses only, without sending anything. False (nothing changed) when
    // module is not a loopback address or a search or configuration runs.
    bool useLoopbackNetwork(const QHostAddress &module, quint16 searchPort = SearchPort,
        quint16 configPort = ConfigPort);

public Q_SLOTS:
    void btnSearchDeviceClick();
    void btnDeleteDeviceClick();
    void cbLANDeviceChange();
    void btnConfigClick();

Q_SIGNALS:
    // A switcher was selected (or none: "00-00-00-00-00-00"); its port tags are to be shown.
    void deviceChanged(const QString &mac);
    // The list or its selection changed; the window stores them in Settings.ini.
    void deviceListChanged();
    // The first three MAC fields after an accepted configuration ("02-4D-58").
    void macIdChanged(const QString &macId);

private:
    // The link, or null once the window has closed.
    TKVCOMControl *link();
    void disconnectLink();
    // Selects text in the sorted list, adding it when new; true when it was added.
    bool addEntry(const QString &text);

    Widgets m_w;
    PageServices &m_services;
    BusyFunction m_busy;
    std::unique_ptr<NetworkModuleControl> m_control;
    std::unique_ptr<TKVPing> m_ping;
    std::unique_ptr<TfrmSearch> m_search;
    std::unique_ptr<TfrmEditLAN> m_edit;
    bool m_loopbackOnly = false;
};
