#pragma once

#include "TKVCOMControl.h"

#include <QObject>
#include <QStringList>

#include <functional>

namespace Ui {
class TForm1;
}
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

    ConnectionControl(Ui::TForm1 &ui, LinkLease &lease, StatusBar &status, PortSource ports,
        QObject *parent = nullptr);

    // The system's serial ports in name order, then those of extraPorts that exist, each once.
    static QStringList SystemSerialPorts(const QStringList &extraPorts);
    void setPortSource(PortSource ports) { m_ports = std::move(ports); }

    // Enables the controls of a mode; busy (a network configuration running) disables them all.
    void ApplyControlModeState(TControlMode mode, bool busy);

public Q_SLOTS:
    void RefreshComPortList();
    void btnConnectClick();
    void rbCOMModeClick();
    void rbLANModeClick();

Q_SIGNALS:
    // A mode change empties the tag fields before it and loads the new mode's tags after it.
    void clearPortTags();
    void loadPortTags();

private:
    void showConnectionState();

    Ui::TForm1 &m_ui;
    LinkLease &m_lease;
    StatusBar &m_status;
    PortSource m_ports;
};
