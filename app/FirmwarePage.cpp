#include "FirmwarePage.h"

#include "CommandRunner.h"
#include "ConnectionControl.h"
#include "StatusBar.h"
#include "ui_TForm1.h"

#include <QTextBlock>

FirmwarePage::FirmwarePage(
    Ui::TForm1 &ui, StatusBar &status, ConnectionControl &connection, CommandRunner &runner)
    : m_ui(ui), m_status(status), m_connection(connection), m_runner(runner)
{ }

void FirmwarePage::appendMessage(const QString &line)
{
    m_ui.mmoMessage->appendPlainText(line);
}

void FirmwarePage::showRebootLine(const QString &text, bool replacesRebooting)
{
    QPlainTextEdit *memo = m_ui.mmoMessage;
    const QTextDocument *doc = memo->document();
    const QTextBlock last = doc->lastBlock();
    if (replacesRebooting) {
        memo->setCursorWidth(0);
        if (!doc->isEmpty() && last.text().contains(QLatin1String("System rebooting"))) {
            QTextCursor cursor(last);
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            cursor.insertText(text);
            memo->viewport()->repaint();
            return;
        }
    }
    memo->appendPlainText(text);
    memo->viewport()->repaint();
}

void FirmwarePage::showStatus(int panel, const QString &text, bool blink)
{
    m_status.ShowStatus(panel, text, blink);
}

void FirmwarePage::setGauge(const QString &caption, int percent)
{
    m_ui.tsgFWProgress->setCaption(caption);
    m_ui.tsgFWProgress->setProgress(percent);
}

void FirmwarePage::setUpgrading(bool upgrading)
{
    m_ui.btnUpgrade->setEnabled(!upgrading);
    m_ui.mmoMessage->setCursorWidth(upgrading ? 0 : 1);
}

void FirmwarePage::connectLink()
{
    m_connection.btnConnectClick();
}

void FirmwarePage::runCommand(const QString &progress, quint8 command, quint8 subcommand,
    quint16 word1, quint16 word2, quint16 word3, quint16 word4, CommandResult &result)
{
    m_runner.RunCommand(progress, command, subcommand, word1, word2, word3, word4, result);
}
