#include "ShellServices.h"

#include "CommandRunner.h"
#include "ConnectionControl.h"
#include "StatusBar.h"

ShellServices::ShellServices(ShellState &state, LinkLease &lease, CommandRunner &runner,
    StatusBar &status, ConnectionControl &connection, QWidget *window)
    : m_state(state),
      m_lease(lease),
      m_runner(runner),
      m_status(status),
      m_connection(connection),
      m_window(window)
{ }

Switcher &ShellServices::switcher()
{
    return m_runner;
}

void ShellServices::RunCommand(const QString &progress, quint8 command, quint8 subcommand,
    quint16 word1, quint16 word2, quint16 word3, quint16 word4, CommandResult &result)
{
    m_runner.RunCommand(progress, command, subcommand, word1, word2, word3, word4, result);
}

void ShellServices::RunPoweredCommand(const QString &progress, quint8 command, quint8 subcommand,
    quint16 word1, quint16 word2, quint16 word3, quint16 word4, CommandResult &result)
{
    m_runner.RunPoweredCommand(progress, command, subcommand, word1, word2, word3, word4, result);
}

void ShellServices::ShowStatus(int panel, const QString &text, bool blink)
{
    m_status.ShowStatus(panel, text, blink);
}

void ShellServices::btnConnectClick()
{
    m_connection.btnConnectClick();
}
