#pragma once

#include "TCPModulePage.h"
#include "TKVCOMControl.h"

#include <QFutureWatcher>
#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

namespace Ui {
class TForm1;
} // namespace Ui
class LinkLease;
class StatusBar;

// The "Control mode select", "COM control mode" and "Connection" groups: the serial port list,
// connecting and disconnecting (also on demand for the command runner), switching the control
// mode and the controls each mode enables.
class ConnectionControl final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConnectionControl)
public:
    using PortSource = std::function<QStringList()>;
    // Why the link must not open as it is set now (shown blinking in panel 2), or empty.
    using ConnectGuard = std::function<QString(const TKVCOMControl &link)>;

    ConnectionControl(Ui::TForm1 &ui, LinkLease &lease, StatusBar &status, PortSource ports,
        QObject *parent = nullptr);
    ~ConnectionControl() override;

    // The system's serial ports in name order, then those of extraPorts that exist, each once.
    static QStringList systemSerialPorts(const QStringList &extraPorts);
    void setPortSource(PortSource ports) { m_ports = std::move(ports); }
    // Checked before every connection attempt, the runner's on-demand ones included.
    void setConnectGuard(ConnectGuard guard) { m_guard = std::move(guard); }

    // The Advanced page, once built: its TCP module groups follow the control mode too.
    void setModulePage(const TCPModulePage::Widgets &page) { m_modulePage = page; }

    // Enables the controls of a mode; busy (a network configuration running) disables them all.
    void ApplyControlModeState(TControlMode mode, bool busy);

    // A connect or disconnect runs, its settling pause included: the window takes no other
    // operation meanwhile.
    bool busy() const { return m_busy; }

    // Shows the result of the scan RefreshComPortList started, waiting for it if it still runs.
    void waitForComPortList();

public Q_SLOTS:
    // Asking the system for its serial ports takes milliseconds, so the port source runs on a
    // worker thread and the list is updated when it answers. A request while a scan runs is
    // served by one more scan after it.
    void RefreshComPortList();
    void btnConnectClick();
    void rbCOMModeClick();
    void rbLANModeClick();

Q_SIGNALS:
    // A mode change empties the tag fields before it and loads the new mode's tags after it.
    void clearPortTags();
    void loadPortTags();
    // Another control mode: what was read from the switcher no longer applies.
    void controlModeChanged();

private:
    void showConnectionState();
    // Shows the ports of the finished scan and starts the one asked for meanwhile.
    void takeScannedPorts();
    void showComPorts(QStringList ports);

    Ui::TForm1 &m_ui;
    LinkLease &m_lease;
    StatusBar &m_status;
    PortSource m_ports;
    ConnectGuard m_guard;
    std::optional<TCPModulePage::Widgets> m_modulePage;
    // The system's port scan, on the thread pool: it may take a while on some systems.
    QFutureWatcher<QStringList> m_scan;
    bool m_rescan = false;
    bool m_busy = false;
};
