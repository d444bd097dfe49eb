#pragma once

#include "FirmwareUpgrade.h"

namespace Ui {
class TForm1;
}
class CommandRunner;
class ConnectionControl;
class StatusBar;

// The FW upgrade page as the upgrade procedure and the link's firmware notices see it: the
// message memo, the gauge, the status bar and the Upgrade button.
class FirmwarePage final : public FirmwareUpgradeHost
{
    Q_DISABLE_COPY_MOVE(FirmwarePage)
public:
    FirmwarePage(
        Ui::TForm1 &ui, StatusBar &status, ConnectionControl &connection, CommandRunner &runner);

    void appendMessage(const QString &line) override;
    void showRebootLine(const QString &text, bool replacesRebooting) override;
    void showStatus(int panel, const QString &text, bool blink = false) override;
    void setGauge(const QString &caption, int percent) override;
    void setUpgrading(bool upgrading) override;
    void connectLink() override;
    void runCommand(const QString &progress, quint8 command, quint8 subcommand, quint16 word1,
        quint16 word2, quint16 word3, quint16 word4, CommandResult &result) override;

private:
    Ui::TForm1 &m_ui;
    StatusBar &m_status;
    ConnectionControl &m_connection;
    CommandRunner &m_runner;
};
