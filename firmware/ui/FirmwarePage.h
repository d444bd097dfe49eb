#pragma once

#include "FirmwareMerge.h"
#include "FirmwareUpgrade.h"

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <memory>

namespace Ui {
class tsFWUpgrade;
}
class PageServices;
class QLineEdit;
class QWidget;

// What the FW upgrade page needs from the window besides the shell's services: the open-file
// dialog and the last firmware folder, which the window keeps in its settings.
struct FirmwarePageHooks
{
    // Shows an open-file dialog with a filter ("Firmware file(*.fw)") starting in a folder;
    // the chosen path, or empty when the operator cancelled.
    std::function<QString(const QString &filter, const QString &folder)> openFile;
    // The last firmware folder; empty while none is known.
    std::function<QString()> firmwareFolder;
    // Remembers a new last firmware folder (and saves it).
    std::function<void(const QString &folder)> setFirmwareFolder;
    // Where the dialogs start while no firmware folder is known.
    QString programFolder;
};

// The FW upgrade page: choosing a package and upgrading the switcher with it, the merge tool
// that builds a package from the microcontrollers' images, and the page's share of the link's
// notices (refused and accepted blocks, reboot lines).
class FirmwarePage final : public QObject, public FirmwareUpgradeHost, public FirmwareMergeHost
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FirmwarePage)
public:
    // Sets up the page's form on page, an empty tab of the window or a widget of a test.
    FirmwarePage(
        QWidget &page, PageServices &services, FirmwarePageHooks hooks, QObject *parent = nullptr);
    ~FirmwarePage() override;

    // The window's handling of the link's notices 2034, 2035 and 2038; false for any other.
    bool applyNotice(const LinkNotice &notice);
    // At the window's first showing.
    void FormShow();
    // Puts the caret after the last character, so that the end of a long path shows.
    static void ScrollEditToEnd(QLineEdit *edit);
    // Replaces the open-file dialog (tests choose their files without one).
    void setOpenFile(std::function<QString(const QString &filter, const QString &folder)> open)
    {
        m_hooks.openFile = std::move(open);
    }

    // FirmwareUpgradeHost and FirmwareMergeHost.
    void appendMessage(const QString &line) override;
    void showRebootLine(const QString &text, bool replacesRebooting) override;
    void showStatus(int panel, const QString &text, bool blink = false) override;
    void setGauge(const QString &caption, int percent) override;
    void setUpgrading(bool upgrading) override;
    void connectLink() override;
    SwitcherOutcome run(const SwitcherOperation &operation) override;
    bool confirm(const QString &question) override;

public Q_SLOTS:
    void btnOpenFWClick();
    void btnUpgradeClick();
    void btnOpenMainClick();
    void btnOpenSlave1Click();
    void btnOpenSlave2Click();
    void btnOpenSlave3Click();
    void btnMergeClick();
    // Clears the messages.
    void Button1Click();

private:
    struct MergeRow
    {
        QLineEdit *file;
        QLineEdit *version1;
        QLineEdit *version2;
    };

    FirmwareFlags flags();
    QString dialogFolder() const;
    void openImage(FirmwareMcu mcu);
    void UpgradeFirmware();
    void MergeFirmware();

    PageServices &m_services;
    FirmwarePageHooks m_hooks;
    std::unique_ptr<Ui::tsFWUpgrade> ui;
    std::array<MergeRow, FirmwareMcuCount> m_merge;
};
