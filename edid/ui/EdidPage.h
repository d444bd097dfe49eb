#pragma once

#include "EdidChoices.h"
#include "EdidGridModel.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace Ui {
class tsEDIDCtrl;
}
struct EdidCommand;
class PageServices;
class QComboBox;
class QFont;
class QWidget;
struct SwitcherOutcome;

// The "EDID control" page: built-in modes and copies onto inputs, reading an output's EDID
// into the hex view, the .bin file, and downloading the view to inputs or user memories.
// It sets up its form on the page widget it is given, an empty tab of the window or a widget of
// a test, and lives as a child of that widget.
class EdidPage final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EdidPage)
public:
    enum class FileDialog { Open, Save };
    // Shows the open or save dialog with the given filter; the chosen path, or "" when
    // cancelled.
    using FileChooser = std::function<QString(FileDialog, const QString &filter)>;

    EdidPage(QWidget *page, PageServices &services);
    ~EdidPage() override;

    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    EdidGridModel &model() { return m_model; }

    // At the settings load: the lists with these tags, then the stored choices (a text that
    // matches no entry selects entry 0).
    void LoadSettings(
        const EdidChoices &choices, const QStringList &inputTags, const QStringList &outputTags);
    EdidChoices choices() const;
    // At the window's first showing: headers drawn, data cells empty.
    void FormShow();
    // The hex view's font, which the window sizes for its cells.
    void setContentFont(const QFont &font);

public Q_SLOTS:
    void btnSetEDIDModeClick();
    void btnCopyEDIDClick();
    void btnReadEDIDDataClick();
    void btnDownloadEDIDClick();
    void btnOpenEDIDClick();
    void btnSaveEDIDClick();
    void btnClearEDIDContentClick();
    // New port tags: the lists are refilled keeping their positions.
    void setPortTags(const QStringList &inputs, const QStringList &outputs);
    void FillEDIDPortLists();
    void RefreshEDIDPortLists();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QComboBox *portList(int list) const;
    bool SendEDIDPrepare(const QString &progress);
    SwitcherOutcome runPowered(const EdidCommand &c);
    void prepareAndRun(const EdidCommand &c);
    // The output's connection: 0xFF the query failed, 0x0F a display, 0xF0 none (the box
    // has then been shown).
    quint8 QueryOutputConnection(int output);
    void fillPortLists(bool keepPositions);
    void updateSummary();
    QString chooseFile(FileDialog kind);
    // A notice that a transfer shows part-way or at its end: opened without an event loop of
    // its own, so that the click that led to it returns and nothing waits on the answer.
    void showNotice(const QString &text);

    QWidget *m_page;
    PageServices &m_services;
    EdidGridModel m_model;
    FileChooser m_chooseFile;
    QStringList m_inputTags;
    QStringList m_outputTags;
    std::unique_ptr<Ui::tsEDIDCtrl> ui;
};
