#pragma once

#include "Switcher.h"

#include <QString>
#include <QtGlobal>

class ConnectionControl;
class LinkLease;
class QWidget;
class StatusBar;
struct CommandResult;
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

    // Synchronous; result is filled on return (only its success flag when refused).
    void RunCommand(const QString &progress, quint8 command, quint8 subcommand, quint16 word1,
        quint16 word2, quint16 word3, quint16 word4, CommandResult &result);
    // The same, refused with a message box while the switcher is off.
    void RunPoweredCommand(const QString &progress, quint8 command, quint8 subcommand,
        quint16 word1, quint16 word2, quint16 word3, quint16 word4, CommandResult &result);

private:
    // The runner's rules around one operation; sent tells whether it reached the link.
    SwitcherOutcome execute(const SwitcherOperation &operation, bool *sent = nullptr);
    // False, after the message box, while the switcher is off.
    bool poweredOn();
    void fill(CommandResult &result, const SwitcherOutcome &outcome, bool sent);

    LinkLease &m_lease;
    ShellState &m_state;
    StatusBar &m_status;
    ConnectionControl &m_connection;
    QWidget *m_dialogParent;
};
