#pragma once

#include "ModuleExchange.h"

#include <QObject>

#include <memory>

class PageServices;
class QGroupBox;
class QLabel;
class QPushButton;
class TfrmEnterYes;

// The Advanced page's "TCP Module infomation" and "Reset TCP Module" groups: the module
// query and the factory reset over the switcher's own link, with the "Yes" confirmation.
class TCPModulePage final : public QObject, private TCPModulePanel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TCPModulePage)
public:
    struct Widgets
    {
        QGroupBox *gbTCPModInfo = nullptr;
        QGroupBox *gbResetDefault = nullptr;
        QPushButton *btnQueryTCPModInfo = nullptr;
        QPushButton *btnReset = nullptr;
        QLabel *lblTCPVersion = nullptr;
        QLabel *lblTCPDHCP = nullptr;
        QLabel *lblTCPIPAddr = nullptr;
    };

    TCPModulePage(const Widgets &widgets, PageServices &services, QObject *parent = nullptr);
    ~TCPModulePage() override;

    const Widgets &widgets() const { return m_w; }

public Q_SLOTS:
    void btnQueryTCPModInfoClick();
    void btnResetClick();

private:
    bool stopRequested() const override;
    bool ensureConnected() override;
    bool runnerIdle() const override;
    void setRunnerIdle(bool idle) override;
    void showStatus(int panel, const QString &text, bool blink) override;
    void setQueryEnabled(bool enabled) override;
    void setModuleLabels(const QString &version, const QString &dhcp, const QString &ip) override;
    bool confirmReset() override;

    Widgets m_w;
    PageServices &m_services;
    std::unique_ptr<TfrmEnterYes> m_confirm;
};
