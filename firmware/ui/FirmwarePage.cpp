#include "FirmwarePage.h"

#include "LinkLease.h"
#include "PageForm.h"
#include "PageServices.h"
#include "ShellState.h"
#include "TKVCOMControl.h"
#include "TKVGauge.h"
#include "ui_tsFWUpgrade.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTextBlock>

#include <algorithm>

namespace {

// The file dialogs' filters: od2 for packages, od3 for the images the merge tool reads.
const QString &packageFilter()
{
    static const QString filter = QStringLiteral("Firmware file(*.fw)");
    return filter;
}
const QString &imageFilter()
{
    static const QString filter = QStringLiteral("FW binary file(*.bin)");
    return filter;
}

} // namespace

FirmwarePage::FirmwarePage(
    QWidget &page, PageServices &services, FirmwarePageHooks hooks, QObject *parent)
    : QObject(parent),
      m_services(services),
      m_hooks(std::move(hooks)),
      ui(setUpPageForm<Ui::tsFWUpgrade>(&page)),
      m_merge{{
          {ui->edtMainMCUFW, ui->leMainFWVer1, ui->leMainFWVer2},
          {ui->edtSlaveMCU1FW, ui->leSlave1FWVer1, ui->leSlave1FWVer2},
          {ui->edtSlaveMCU2FW, ui->leSlave2FWVer1, ui->leSlave2FWVer2},
          {ui->edtSlaveMCU3FW, ui->leSlave3FWVer1, ui->leSlave3FWVer2},
      }}
{
    connect(ui->btnOpenFW, &QPushButton::clicked, this, &FirmwarePage::btnOpenFWClick);
    connect(ui->btnUpgrade, &QPushButton::clicked, this, &FirmwarePage::btnUpgradeClick);
    connect(ui->btnOpenMain, &QPushButton::clicked, this, &FirmwarePage::btnOpenMainClick);
    connect(ui->btnOpenSlave1, &QPushButton::clicked, this, &FirmwarePage::btnOpenSlave1Click);
    connect(ui->btnOpenSlave2, &QPushButton::clicked, this, &FirmwarePage::btnOpenSlave2Click);
    connect(ui->btnOpenSlave3, &QPushButton::clicked, this, &FirmwarePage::btnOpenSlave3Click);
    connect(ui->btnMerge, &QPushButton::clicked, this, &FirmwarePage::btnMergeClick);
    connect(ui->Button1, &QPushButton::clicked, this, &FirmwarePage::Button1Click);
    // The window is created with the merge tool out of reach.
    ui->gbMergeFW->setEnabled(false);
    ui->gbMergeFW->hide();

    // Version edits take digits only (and backspace, which a validator never refuses).
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    for (const MergeRow &row : m_merge) {
        for (QLineEdit *version : {row.version1, row.version2})
            version->setValidator(new QRegularExpressionValidator(digits, version));
    }
}

FirmwarePage::~FirmwarePage() = default;

void FirmwarePage::FormShow()
{
    // Show the end of a long path.
    for (QLineEdit *path : {ui->edtFWFile, ui->edtMainMCUFW, ui->edtSlaveMCU1FW})
        path->end(false);
}

void FirmwarePage::Button1Click()
{
    ui->mmoMessage->clear();
}

FirmwareFlags FirmwarePage::flags()
{
    ShellState &state = m_services.state();
    return {state.StopRequested, state.RunnerIdle, state.firmwareWriteFailed,
        state.lastFirmwarePercent};
}

bool FirmwarePage::applyNotice(const LinkNotice &notice)
{
    return applyFirmwareNotice(notice, *this, flags());
}

void FirmwarePage::ScrollEditToEnd(QLineEdit *edit)
{
    edit->end(false);
}

QString FirmwarePage::dialogFolder() const
{
    const QString folder = m_hooks.firmwareFolder ? m_hooks.firmwareFolder() : QString();
    return folder.isEmpty() ? m_hooks.programFolder : folder;
}

void FirmwarePage::btnOpenFWClick()
{
    if (!m_hooks.openFile)
        return;
    const QString path = m_hooks.openFile(packageFilter(), dialogFolder());
    if (path.isEmpty())
        return;
    ui->edtFWFile->setText(path);
    ScrollEditToEnd(ui->edtFWFile);
    if (m_hooks.setFirmwareFolder)
        m_hooks.setFirmwareFolder(QFileInfo(path).absolutePath());
}

void FirmwarePage::btnUpgradeClick()
{
    UpgradeFirmware();
}

void FirmwarePage::UpgradeFirmware()
{
    // The window may close while the parts go out; the lease keeps the link until we return.
    const LinkLease::Use use(m_services.lease());
    TKVCOMControl *link = m_services.link();
    if (!link)
        return;
    FirmwareUpgrade(*link, *this, flags()).UpgradeFirmware(ui->edtFWFile->text());
}

void FirmwarePage::openImage(FirmwareMcu mcu)
{
    if (!m_hooks.openFile)
        return;
    const QString path = m_hooks.openFile(imageFilter(), dialogFolder());
    if (path.isEmpty())
        return;
    QLineEdit *edit = m_merge[static_cast<std::size_t>(mcu)].file;
    edit->setText(path);
    ScrollEditToEnd(edit);
}

void FirmwarePage::btnOpenMainClick()
{
    openImage(FirmwareMcu::Main);
}

void FirmwarePage::btnOpenSlave1Click()
{
    openImage(FirmwareMcu::Slave1);
}

void FirmwarePage::btnOpenSlave2Click()
{
    openImage(FirmwareMcu::Slave2);
}

void FirmwarePage::btnOpenSlave3Click()
{
    openImage(FirmwareMcu::Slave3);
}

void FirmwarePage::btnMergeClick()
{
    MergeFirmware();
}

void FirmwarePage::MergeFirmware()
{
    FirmwareMergeSources sources;
    for (std::size_t i = 0; i < m_merge.size(); ++i)
        sources[i]
            = {m_merge[i].file->text(), m_merge[i].version1->text(), m_merge[i].version2->text()};
    const QString known = m_hooks.firmwareFolder ? m_hooks.firmwareFolder() : QString();
    QString folder = known;
    ::MergeFirmware(sources, folder, *this);
    // The edits show the versions as they went into the package.
    for (std::size_t i = 0; i < m_merge.size(); ++i) {
        m_merge[i].version1->setText(sources[i].version1);
        m_merge[i].version2->setText(sources[i].version2);
    }
    if (folder != known && m_hooks.setFirmwareFolder)
        m_hooks.setFirmwareFolder(folder);
}

void FirmwarePage::appendMessage(const QString &line)
{
    ui->mmoMessage->appendPlainText(line);
}

void FirmwarePage::showRebootLine(const QString &text, bool replacesRebooting)
{
    const QTextDocument *doc = ui->mmoMessage->document();
    if (replacesRebooting) {
        ui->mmoMessage->setCursorWidth(0);
        const QTextBlock last = doc->lastBlock();
        if (!doc->isEmpty() && last.text().contains(QLatin1String("System rebooting"))) {
            QTextCursor cursor(last);
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            cursor.insertText(text);
            ui->mmoMessage->viewport()->repaint();
            return;
        }
    }
    ui->mmoMessage->appendPlainText(text);
    ui->mmoMessage->viewport()->repaint();
}

void FirmwarePage::showStatus(int panel, const QString &text, bool blink)
{
    m_services.ShowStatus(panel, text, blink);
}

void FirmwarePage::setGauge(const QString &caption, int percent)
{
    ui->tsgFWProgress->setShowPercent(percent >= 0);
    ui->tsgFWProgress->setCaption(caption);
    ui->tsgFWProgress->setProgress(std::max(percent, 0));
}

void FirmwarePage::setUpgrading(bool upgrading)
{
    ui->btnUpgrade->setEnabled(!upgrading);
    ui->mmoMessage->setCursorWidth(upgrading ? 0 : 1);
}

void FirmwarePage::connectLink()
{
    m_services.btnConnectClick();
}

SwitcherOutcome FirmwarePage::run(const SwitcherOperation &operation)
{
    return m_services.switcher().run(operation);
}

bool FirmwarePage::confirm(const QString &question)
{
    return QMessageBox::question(m_services.dialogParent(), productTitle(), question)
        == QMessageBox::Yes;
}
