#include "CommandRunner.h"

#include "CommandPacket.h"
#include "ConnectionControl.h"
#include "LinkLease.h"
#include "ShellState.h"
#include "StatusBar.h"
#include "TKVCOMControl.h"

#include <QMessageBox>

CommandRunner::CommandRunner(LinkLease &lease, ShellState &state, StatusBar &status,
    ConnectionControl &connection, QWidget *dialogParent)
    : m_lease(lease),
      m_state(state),
      m_status(status),
      m_connection(connection),
      m_dialogParent(dialogParent)
{ }

void CommandRunner::RunCommand(const QString &progress, quint8 command, quint8 subcommand,
    quint16 word1, quint16 word2, quint16 word3, quint16 word4, CommandResult &result)
{
    result.Success = false;
    TKVCOMControl *link = m_lease.get();
    if (m_state.StopRequested || !link)
        return;
    LinkLease::Use use(m_lease);

    // Busy before connecting on demand: a connect waits, and nothing else may start meanwhile.
    if (!m_state.RunnerIdle || link->connecting()) {
        m_status.ShowStatus(3, QStringLiteral("In processing, command ignored"));
        return;
    }
    m_state.RunnerIdle = false;
    if (!link->Connected())
        m_connection.btnConnectClick();
    if (!link->Connected()) {
        m_state.RunnerIdle = true;
        return;
    }

    m_status.ShowStatus(2, progress);
    link->ExecuteCommand(
        CommandPacket::make(command, subcommand, word1, word2, word3, word4), result);
    if (result.Success)
        m_status.ShowStatus(2, QStringLiteral("Done"));
    m_state.RunnerIdle = true;
    m_status.ShowStatus(3, QString());
}

void CommandRunner::RunPoweredCommand(const QString &progress, quint8 command, quint8 subcommand,
    quint16 word1, quint16 word2, quint16 word3, quint16 word4, CommandResult &result)
{
    if (!m_state.PowerOn) {
        QMessageBox::information(m_dialogParent, productTitle(),
            QStringLiteral("System is power off, please turn it on first."));
        result.Success = false;
        return;
    }
    RunCommand(progress, command, subcommand, word1, word2, word3, word4, result);
}
