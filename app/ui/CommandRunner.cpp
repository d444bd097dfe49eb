#include "CommandRunner.h"

#include "CommandPacket.h"
#include "ConnectionControl.h"
#include "LinkLease.h"
#include "ShellState.h"
#include "StatusBar.h"
#include "SwitcherSession.h"
#include "TKVCOMControl.h"

#include <QMessageBox>

namespace {

QString busyText()
{
    return QStringLiteral("In processing, command ignored");
}

QString powerOffText()
{
    return QStringLiteral("System is power off, please turn it on first.");
}

} // namespace

CommandRunner::CommandRunner(LinkLease &lease, ShellState &state, StatusBar &status,
    ConnectionControl &connection, QWidget *dialogParent)
    : m_lease(lease),
      m_state(state),
      m_status(status),
      m_connection(connection),
      m_dialogParent(dialogParent)
{ }

SwitcherOutcome CommandRunner::execute(const SwitcherOperation &operation)
{
    using Status = SwitcherOutcome::Status;
    TKVCOMControl *link = m_lease.get();
    if (m_state.StopRequested || !link)
        return SwitcherOutcome::failed(Status::Stopped, {});
    LinkLease::Use use(m_lease);

    // Busy before connecting on demand: a connect waits, and nothing else may start meanwhile.
    if (!m_state.RunnerIdle || link->connecting()) {
        m_status.ShowStatus(3, busyText());
        return SwitcherOutcome::failed(Status::Refused, busyText());
    }
    m_state.RunnerIdle = false;
    if (!link->Connected())
        m_connection.btnConnectClick();
    if (!link->Connected()) {
        // The connect action has shown why.
        m_state.RunnerIdle = true;
        return SwitcherOutcome::failed(Status::Lost, {});
    }

    m_status.ShowStatus(2, operation.progressText());
    SwitcherSession session(*link);
    const SwitcherOutcome outcome = session.run(operation);
    if (outcome.ok())
        m_status.ShowStatus(2, QStringLiteral("Done"));
    m_state.RunnerIdle = true;
    m_status.ShowStatus(3, QString());
    return outcome;
}

bool CommandRunner::poweredOn()
{
    if (m_state.PowerOn)
        return true;
    QMessageBox::information(m_dialogParent, productTitle(), powerOffText());
    return false;
}

SwitcherOutcome CommandRunner::run(const SwitcherOperation &operation)
{
    if (operation.needsPower() && !poweredOn())
        return SwitcherOutcome::failed(SwitcherOutcome::Status::Refused, powerOffText());
    return execute(operation);
}
