#include "EdidPage.h"

#include "EdidCellDelegate.h"
#include "EdidCommands.h"
#include "EdidContent.h"
#include "EdidFile.h"
#include "EdidTexts.h"
#include "LinkLease.h"
#include "PageForm.h"
#include "PageServices.h"
#include "ShellState.h"
#include "TKVCOMControl.h"
#include "ui_tsEDIDCtrl.h"

#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>

#include <array>

namespace {

constexpr std::array<EdidPortList, 5> PortLists
    = {EdidPortList::SetModeInput, EdidPortList::CopyOutput, EdidPortList::CopyInput,
        EdidPortList::ReadOutput, EdidPortList::DownloadInput};

const QString InProcessing = QStringLiteral("In processing, command ignored");

} // namespace

EdidPage::EdidPage(QWidget *page, PageServices &services)
    : QObject(page), m_page(page), m_services(services), ui(setUpPageForm<Ui::tsEDIDCtrl>(page))
{
    setObjectName(QStringLiteral("EdidPage"));
    m_chooseFile = [this](FileDialog kind, const QString &filter) {
        QWidget *parent = m_services.dialogParent();
        if (kind == FileDialog::Open)
            return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
        // The page asks about an existing file itself, after adding the extension.
        return QFileDialog::getSaveFileName(
            parent, QString(), QString(), filter, nullptr, QFileDialog::DontConfirmOverwrite);
    };

    // The layout's 20 entries end with "Auto EDID", which the switcher does not offer.
    ui->cbEDIDMode->clear();
    ui->cbEDIDMode->addItems(edidModeLayout());
    ui->cbEDIDMode->removeItem(ui->cbEDIDMode->count() - 1);
    FillEDIDPortLists();

    ui->sgEDIDContent->setModel(&m_model);
    ui->sgEDIDContent->setItemDelegate(new EdidCellDelegate(ui->sgEDIDContent));
    // The grid is button face throughout, around and between its cells too.
    QPalette palette = ui->sgEDIDContent->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    ui->sgEDIDContent->setPalette(palette);
    ui->sgEDIDContent->horizontalHeader()->hide();
    ui->sgEDIDContent->verticalHeader()->hide();
    ui->sgEDIDContent->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ui->sgEDIDContent->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    connect(&m_model, &QAbstractItemModel::dataChanged, this, &EdidPage::updateSummary);
    connect(&m_model, &QAbstractItemModel::modelReset, this, &EdidPage::updateSummary);
    updateSummary();

    connect(ui->btnSetEDIDMode, &QPushButton::clicked, this, &EdidPage::btnSetEDIDModeClick);
    connect(ui->btnCopyEDID, &QPushButton::clicked, this, &EdidPage::btnCopyEDIDClick);
    connect(ui->btnReadEDIDData, &QPushButton::clicked, this, &EdidPage::btnReadEDIDDataClick);
    connect(ui->btnDownloadEDID, &QPushButton::clicked, this, &EdidPage::btnDownloadEDIDClick);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &EdidPage::btnOpenEDIDClick);
    connect(ui->btnSaveEDID, &QPushButton::clicked, this, &EdidPage::btnSaveEDIDClick);
    connect(
        ui->btnClearEDIDContent, &QPushButton::clicked, this, &EdidPage::btnClearEDIDContentClick);

    // The page is shown: tags may have changed meanwhile.
    page->installEventFilter(this);
}

EdidPage::~EdidPage() = default;

bool EdidPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_page && event->type() == QEvent::Show)
        RefreshEDIDPortLists();
    return QObject::eventFilter(watched, event);
}

QComboBox *EdidPage::portList(int list) const
{
    switch (PortLists[static_cast<std::size_t>(list)]) {
    case EdidPortList::SetModeInput:
        return ui->cbSetEDIDModeInput;
    case EdidPortList::CopyOutput:
        return ui->cbCopyEDIDOutput;
    case EdidPortList::CopyInput:
        return ui->cbCopyEDIDInput;
    case EdidPortList::ReadOutput:
        return ui->cbReadEDIDDataOutput;
    case EdidPortList::DownloadInput:
        break;
    }
    return ui->cbDownloadEDIDInput;
}

void EdidPage::fillPortLists(bool keepPositions)
{
    for (int n = 0; n < int(PortLists.size()); ++n) {
        QComboBox *list = portList(n);
        const int index = keepPositions ? list->currentIndex() : 0;
        list->clear();
        list->addItems(
            edidPortListItems(PortLists[static_cast<std::size_t>(n)], m_inputTags, m_outputTags));
        list->setCurrentIndex(index < 0 ? 0 : index);
    }
}

void EdidPage::FillEDIDPortLists()
{
    fillPortLists(false);
}

void EdidPage::RefreshEDIDPortLists()
{
    fillPortLists(true);
}

void EdidPage::setPortTags(const QStringList &inputs, const QStringList &outputs)
{
    m_inputTags = inputs;
    m_outputTags = outputs;
    RefreshEDIDPortLists();
}

void EdidPage::LoadSettings(
    const EdidChoices &choices, const QStringList &inputTags, const QStringList &outputTags)
{
    m_inputTags = inputTags;
    m_outputTags = outputTags;
    FillEDIDPortLists();
    const auto restore = [](QComboBox *list, const QString &stored) {
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items.append(list->itemText(i));
        list->setCurrentIndex(edidEntryIndex(items, stored));
    };
    restore(ui->cbEDIDMode, choices.edidMode);
    restore(ui->cbSetEDIDModeInput, choices.setModeInput);
    restore(ui->cbCopyEDIDOutput, choices.copyOutput);
    restore(ui->cbCopyEDIDInput, choices.copyInput);
    restore(ui->cbReadEDIDDataOutput, choices.readOutput);
    restore(ui->cbDownloadEDIDInput, choices.downloadInput);
}

EdidChoices EdidPage::choices() const
{
    // Entry 0 ("Select ...") is no choice: kept as an empty text.
    const auto text = [](const QComboBox *list) {
        return list->currentIndex() > 0 ? list->currentText() : QString();
    };
    return {text(ui->cbEDIDMode), text(ui->cbSetEDIDModeInput), text(ui->cbCopyEDIDOutput),
        text(ui->cbCopyEDIDInput), text(ui->cbReadEDIDDataOutput), text(ui->cbDownloadEDIDInput)};
}

void EdidPage::FormShow()
{
    m_model.ShowEDIDContent();
    m_model.ClearEDIDContent();
    ui->edtSaveEDID->end(false);
    ui->edtOpenEDID->end(false);
}

void EdidPage::setContentFont(const QFont &font)
{
    ui->sgEDIDContent->setFont(font);
}

void EdidPage::updateSummary()
{
    QByteArray bytes;
    ui->lblEDIDSummary->setText(
        m_model.EDIDContentToBuffer(bytes) ? edidSummaryLine(decodeEdidSummary(bytes)) : QString());
}

// One EDID command through the window's runner, which refuses it while the switcher is off.
SwitcherOutcome EdidPage::runPowered(const EdidCommand &c)
{
    return m_services.switcher().run(
        SwitcherOperation::command(c.progress, true, c.command, c.subcommand, c.word1, c.word2));
}

// A change of the switcher's EDID: the note is cleared, the prepare command goes first, and
// the change follows only when the switcher took it.
void EdidPage::prepareAndRun(const EdidCommand &c)
{
    m_services.ShowStatus(3, QString());
    if (SendEDIDPrepare(c.progress))
        runPowered(c);
}

bool EdidPage::SendEDIDPrepare(const QString &progress)
{
    return runPowered(edidPrepareCommand(progress)).ok();
}

quint8 EdidPage::QueryOutputConnection(int output)
{
    const SwitcherOutcome query = runPowered(outputConnectionQuery(output));
    const quint8 state = outputConnectionState(CommandResult{query.reply, query.ok()});
    if (state == OutputNotConnected)
        showNotice(EdidTexts::outputNotConnected(output));
    return state;
}

void EdidPage::btnSetEDIDModeClick()
{
    QStringList modes;
    for (int i = 0; i < ui->cbEDIDMode->count(); ++i)
        modes.append(ui->cbEDIDMode->itemText(i));
    const std::optional<EdidCommand> c = edidSetModeCommand(
        modes, ui->cbEDIDMode->currentIndex(), ui->cbSetEDIDModeInput->currentIndex());
    if (!c) {
        m_services.ShowStatus(3, EdidTexts::selectListItemFirst());
        return;
    }
    prepareAndRun(*c);
}

void EdidPage::btnCopyEDIDClick()
{
    const int output = ui->cbCopyEDIDOutput->currentIndex();
    const std::optional<EdidCommand> c
        = edidCopyCommand(output, ui->cbCopyEDIDInput->currentIndex());
    if (!c) {
        m_services.ShowStatus(3, EdidTexts::selectListItemFirst());
        return;
    }
    if (QueryOutputConnection(output) != OutputConnected)
        return;
    prepareAndRun(*c);
}

void EdidPage::btnReadEDIDDataClick()
{
    const int output = ui->cbReadEDIDDataOutput->currentIndex();
    const std::optional<EdidCommand> c = edidReadCommand(output);
    if (!c) {
        m_services.ShowStatus(3, EdidTexts::selectListItemFirst());
        return;
    }
    m_model.ClearEDIDContent();
    if (QueryOutputConnection(output) != OutputConnected)
        return;

    // The read makes the runner's checks itself: it is a block transfer, not one command.
    ShellState &state = m_services.state();
    if (state.StopRequested || !m_services.link())
        return;
    // Busy before connecting on demand: nothing else may start while the connect waits.
    if (!state.RunnerIdle || m_services.link()->connecting()) {
        m_services.ShowStatus(3, InProcessing);
        return;
    }
    state.RunnerIdle = false;
    if (!m_services.link()->Connected())
        m_services.btnConnectClick();
    TKVCOMControl *link = m_services.link();
    if (!link || !link->Connected()) {
        state.RunnerIdle = true;
        return;
    }
    m_services.ShowStatus(3, QString());
    m_services.ShowStatus(2, c->progress);
    CommandResult r;
    qsizetype refusedSize = -1;
    {
        const LinkLease::Use use(m_services.lease());
        link->ReadEDIDBlocks(c->packet(), r);
        if (r.Success) {
            m_services.ShowStatus(2, QStringLiteral("Done"));
            // Content that fails the sum or header checks leaves the view empty, without a
            // message; an EDID of another size is a real display's, and the operator is told
            // why it is not shown.
            const QByteArray &read = link->EDIDReadStream();
            if (checkEdidContent(read) == EdidCheck::WrongSize)
                refusedSize = read.size();
            else
                m_model.ShowEDIDContent(read);
        }
    }
    state.RunnerIdle = true;
    m_services.ShowStatus(3, QString());
    if (refusedSize >= 0) {
        m_services.ShowStatus(3, EdidTexts::readSizeNote(refusedSize));
        showNotice(EdidTexts::readSizeRefused(output, refusedSize));
    }
}

void EdidPage::btnDownloadEDIDClick()
{
    const std::optional<EdidCommand> c
        = edidDownloadCommand(ui->cbDownloadEDIDInput->currentIndex());
    if (!c) {
        m_services.ShowStatus(3, EdidTexts::selectListItemFirst());
        return;
    }
    ShellState &state = m_services.state();
    if (!state.PowerOn) {
        QMessageBox::information(m_services.dialogParent(), productTitle(), EdidTexts::powerOff());
        return;
    }
    QByteArray bytes;
    if (!m_model.EDIDContentToBuffer(bytes)) {
        m_services.ShowStatus(3, EdidTexts::contentEmptyOpenFirst());
        return;
    }
    m_services.ShowStatus(3, QString());
    if (!SendEDIDPrepare(c->progress))
        return;
    TKVCOMControl *link = m_services.link();
    if (!link)
        return;

    state.RunnerIdle = false;
    m_services.ShowStatus(2, c->progress);
    CommandResult r;
    {
        const LinkLease::Use use(m_services.lease());
        link->setSendStream(bytes);
        link->DownloadEDIDBlocks(c->packet(), r);
    }
    if (r.Success)
        m_services.ShowStatus(2, QStringLiteral("Done"));
    state.RunnerIdle = true;
    m_services.ShowStatus(3, QString());
}

void EdidPage::showNotice(const QString &text)
{
    auto *box = new QMessageBox(
        QMessageBox::Information, productTitle(), text, QMessageBox::Ok, m_services.dialogParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString EdidPage::chooseFile(FileDialog kind)
{
    return m_chooseFile ? m_chooseFile(kind, EdidTexts::fileFilter()) : QString();
}

void EdidPage::btnOpenEDIDClick()
{
    // A download in progress is sending the download buffer that an open would replace.
    if (!m_services.state().RunnerIdle) {
        m_services.ShowStatus(3, InProcessing);
        return;
    }
    const QString path = chooseFile(FileDialog::Open);
    if (path.isEmpty())
        return;
    ui->edtOpenEDID->setText(path);
    ui->edtOpenEDID->end(false);

    const EdidFile::ReadResult file = EdidFile::Read(path);
    if (!file.ok) {
        QMessageBox::critical(m_services.dialogParent(), productTitle(), file.error);
        return;
    }
    // The file's bytes are what a download sends until the next download replaces them.
    if (TKVCOMControl *link = m_services.link()) {
        link->setSendStream(file.bytes);
    }
    if (!m_model.ShowEDIDContent(file.bytes)) {
        if (TKVCOMControl *link = m_services.link())
            link->setSendStream(QByteArray());
        QMessageBox::critical(m_services.dialogParent(), productTitle(), EdidTexts::contentError());
    }
}

void EdidPage::btnSaveEDIDClick()
{
    QByteArray bytes;
    if (!m_model.EDIDContentToBuffer(bytes)) {
        m_services.ShowStatus(3, EdidTexts::contentEmpty());
        return;
    }
    const QString chosen = chooseFile(FileDialog::Save);
    if (chosen.isEmpty())
        return;
    const QString name = EdidFile::saveName(chosen);
    ui->edtSaveEDID->setText(name);
    ui->edtSaveEDID->end(false);
    if (QFileInfo::exists(name)
        && QMessageBox::question(m_services.dialogParent(), productTitle(),
               EdidTexts::overwriteQuestion(name), QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
        return;
    QString error;
    if (!EdidFile::save(name, bytes, &error)) {
        m_services.ShowStatus(3, QStringLiteral("EDID file not saved"));
        QMessageBox::critical(m_services.dialogParent(), productTitle(), error);
    }
}

void EdidPage::btnClearEDIDContentClick()
{
    m_model.ClearEDIDContent();
}
