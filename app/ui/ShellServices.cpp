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

void ShellServices::ShowStatus(int panel, const QString &text, bool blink)
{
    m_status.ShowStatus(panel, text, blink);
}

void ShellServices::btnConnectClick()
{
    m_connection.btnConnectClick();
}
