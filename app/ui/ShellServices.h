#pragma once

#include "PageServices.h"

class CommandRunner;
class ConnectionControl;
class StatusBar;

// The main window's services as its pages see them.
class ShellServices final : public PageServices
{
    Q_DISABLE_COPY_MOVE(ShellServices)
public:
    ShellServices(ShellState &state, LinkLease &lease, CommandRunner &runner, StatusBar &status,
        ConnectionControl &connection, QWidget *window);

    ShellState &state() override { return m_state; }
    LinkLease &lease() override { return m_lease; }
    Switcher &switcher() override;
    void ShowStatus(int panel, const QString &text, bool blink = false) override;
    void btnConnectClick() override;
    QWidget *dialogParent() override { return m_window; }

private:
    ShellState &m_state;
    LinkLease &m_lease;
    CommandRunner &m_runner;
    StatusBar &m_status;
    ConnectionControl &m_connection;
    QWidget *m_window;
};
