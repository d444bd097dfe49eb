#pragma once

#include <QString>
#include <QtGlobal>

class ConnectionControl;
class LinkLease;
class QWidget;
class StatusBar;
struct CommandResult;
struct ShellState;

// Runs one device command at a time: refuses work while stopping or busy, connects on demand,
// shows the progress text and "Done". The link reports failures itself, through the window.
class CommandRunner final
{
    Q_DISABLE_COPY_MOVE(CommandRunner)
public:
    CommandRunner(LinkLease &lease, ShellState &state, StatusBar &status,
        ConnectionControl &connection, QWidget *dialogParent);

    // Synchronous; result is filled on return (only its success flag when refused).
    void RunCommand(const QString &progress, quint8 command, quint8 subcommand, quint16 word1,
        quint16 word2, quint16 word3, quint16 word4, CommandResult &result);
    // The same, refused with a message box while the switcher is off.
    void RunPoweredCommand(const QString &progress, quint8 command, quint8 subcommand,
        quint16 word1, quint16 word2, quint16 word3, quint16 word4, CommandResult &result);

private:
    LinkLease &m_lease;
    ShellState &m_state;
    StatusBar &m_status;
    ConnectionControl &m_connection;
    QWidget *m_dialogParent;
};
