#pragma once

#include "Switcher.h"

#include <QString>

class ConnectionControl;
class LinkLease;
class QWidget;
class StatusBar;
struct ShellState;

// Runs one device operation at a time: refuses work while stopping or busy, connects on demand,
// shows the progress text and "Done". The link reports failures itself, through the window.
// As a Switcher it runs the switcher's named operations under these rules, refusing those that
// need power while the switcher is off.
class CommandRunner final : public Switcher
{
    Q_DISABLE_COPY_MOVE(CommandRunner)
public:
    CommandRunner(LinkLease &lease, ShellState &state, StatusBar &status,
        ConnectionControl &connection, QWidget *dialogParent);

    SwitcherOutcome run(const SwitcherOperation &operation) override;

private:
    // The runner's rules around one operation.
    SwitcherOutcome execute(const SwitcherOperation &operation);
    // False, after the message box, while the switcher is off.
    bool poweredOn();

    LinkLease &m_lease;
    ShellState &m_state;
    StatusBar &m_status;
    ConnectionControl &m_connection;
    QWidget *m_dialogParent;
};
