#pragma once

#include "AppSettings.h"
#include "LinkMessage.h"
#include "SettingsLocation.h"
#include "ShellState.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace Ui {
class TForm1;
} // namespace Ui
class AdvancedPage;
class CommandRunner;
class ConnectionControl;
class DemoSwitcher;
class DeviceStatusPanel;
class EdidPage;
class FirmwarePage;
class InputGate;
class LanDevicePanel;
class LinkLease;
class PageServices;
class PortTagPage;
class PresetPanel;
class RoutingPanel;
class SettingPage;
class TfrmPreSettingEdit;
class SettingsStore;
class ShellServices;
class QDateTime;
class StatusBar;
class TKVCOMControl;

struct ShellOptions
{
    // Where Settings.ini lives; empty: decided by SettingsLocation from the executable's folder.
    QString programFolder;
    // Serial port paths the system does not list (virtual ports, pseudo terminals).
    QStringList serialPorts;
    // Start a simulated switcher in-process and select it; settings go to a file of its own.
    bool demo = false;
    // programFolder is an installed copy's configuration folder: made when missing, and refused
    // with a text of its own when it cannot be written.
    bool installed = false;
};

// The main window: creation, first showing, closing, the clock timer, the status bar, the
// command runner and the link's notifications. Pages get their behaviour from their own classes.
class TForm1 final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TForm1)
public:
    explicit TForm1(const ShellOptions &options = {}, QWidget *parent = nullptr);
    ~TForm1() override;

    // Status panel 4: "2024-03-05 09:07".
    static QString clockText(const QDateTime &time);

    // The settings folder was not writable: the window never shows and the program ends.
    bool startRefused() const { return m_startRefused; }
    // The folder of Settings.ini: beside the program, or the user's for an installed copy.
    QString programFolder() const { return m_location.folder; }
    bool installed() const { return m_location.installed; }
    QString settingsPath() const;
    // What Settings.ini held at the first showing, with this window's changes; written back
    // whole, so that what other pages keep there survives.
    const AppSettings &settings() const { return m_settings; }
    // Null once the window has closed and its last operation has returned.
    TKVCOMControl *link() const;
    ShellState &state() { return m_state; }
    StatusBar &status() { return *m_status; }
    CommandRunner &runner() { return *m_runner; }
    ConnectionControl &connection() { return *m_connection; }
    // The General page's network switcher list.
    LanDevicePanel &lanDevicePanel() { return *m_lanDevicePanel; }
    // The in-process switcher of demo mode; null otherwise.
    DemoSwitcher *demo() const { return m_demo.get(); }

    // Only the General page is built before the window first paints; the other pages follow
    // at once after that paint. The accessors below build them first if that has not happened.
    bool pagesBuilt() const { return m_pagesBuilt; }
    void ensurePagesBuilt();
    PresetPanel &presetPanel();
    PortTagPage &portTagPage() { return built(m_portTagPage); }
    RoutingPanel &routingPanel();
    FirmwarePage &firmwarePage() { return built(m_firmwarePage); }

    void setVisible(bool visible) override;

public Q_SLOTS:
    void tmrTimer();

Q_SIGNALS:
    // Progress of a network search, for the search dialog.
    void searchProgress(const QString &text, quint32 wParam);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void FormShow();
    // The steps of the first showing that concern the pages built after the first paint.
    void formShowPages();
    // In demo mode: why the simulated switcher or its network module is not served, if so.
    void showDemoFailure();
    void buildPages();
    // Another control mode or switcher: what was read from the last one no longer holds.
    void forgetSwitcher();
    // A part of a page built after the first paint, built now if need be.
    template<typename T>
    T &built(const std::unique_ptr<T> &part)
    {
        ensurePagesBuilt();
        return *part;
    }
    bool FormCloseQuery();
    // While an operation runs the close question is answered later; a Yes closes then.
    void askToClose(bool connecting);
    void FormClose();
    bool pcContainerChanging() const;
    bool idle() const;
    void requestStop();
    void LoadSettings();
    // The pages' share of the settings: presets, tag pools and tags, EDID choices.
    void loadPageSettings();
    void SaveSettings();
    // A warning about Settings.ini (moved aside, not saved): on stderr and in a box that does
    // not hold up the event that saved.
    void showSettingsWarning(const QString &text);
    void linkNotification(const LinkNotice &notice);
    // Control mode and switcher whose tags the Port Tag page shows.
    TControlMode tagMode() const;
    QString tagMac() const;
    void storePortTags(const PortTags &tags);

    std::unique_ptr<Ui::TForm1> ui;
    SettingsLocation m_location;
    QStringList m_serialPorts;
    // Outlives the link, whose connection it serves.
    std::unique_ptr<DemoSwitcher> m_demo;
    bool m_startRefused = false;
    bool m_shown = false;
    bool m_pagesBuilt = false;
    bool m_closed = false;
    bool m_settingsRead = false;
    ShellState m_state;
    AppSettings m_settings;
    std::unique_ptr<SettingsStore> m_settingsStore;
    std::unique_ptr<LinkLease> m_lease;
    std::unique_ptr<StatusBar> m_status;
    std::unique_ptr<ConnectionControl> m_connection;
    std::unique_ptr<CommandRunner> m_runner;
    std::unique_ptr<ShellServices> m_services;
    std::unique_ptr<LanDevicePanel> m_lanDevicePanel;
    std::unique_ptr<TfrmPreSettingEdit> m_preSettingEdit;
    std::unique_ptr<PortTagPage> m_portTagPage;
    std::unique_ptr<SettingPage> m_settingPage;
    EdidPage *m_edidPage = nullptr; // a child of its page
    std::unique_ptr<AdvancedPage> m_advancedPage;
    std::unique_ptr<FirmwarePage> m_firmwarePage;
    std::unique_ptr<DeviceStatusPanel> m_deviceStatus;
    QTimer tmr;
    // Last, so that it goes first: it asks the state above whether an operation runs.
    std::unique_ptr<InputGate> m_gate;
    // The close question or the connect notice, shown without a loop of its own.
    QPointer<QMessageBox> m_closeBox;
    bool m_closeConfirmed = false;
};
