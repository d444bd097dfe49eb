#include "TCPModulePage.h"

#include "PageServices.h"
#include "ShellState.h"
#include "TKVCOMControl.h"
#include "TfrmEnterYes.h"

#include <QLabel>
#include <QPushButton>

TCPModulePage::TCPModulePage(const Widgets &widgets, PageServices &services, QObject *parent)
    : QObject(parent),
      m_w(widgets),
      m_services(services),
      m_confirm(std::make_unique<TfrmEnterYes>(services.dialogParent()))
{
    connect(m_w.btnQueryTCPModInfo, &QPushButton::clicked, this,
        &TCPModulePage::btnQueryTCPModInfoClick);
    connect(m_w.btnReset, &QPushButton::clicked, this, &TCPModulePage::btnResetClick);
}

TCPModulePage::~TCPModulePage() = default;

void TCPModulePage::btnQueryTCPModInfoClick()
{
    TKVCOMControl *link = m_services.link();
    if (!link)
        return;
    LinkLease::Use use(m_services.lease());
    runTCPModuleQuery(*link, *this);
}

void TCPModulePage::btnResetClick()
{
    TKVCOMControl *link = m_services.link();
    if (!link)
        return;
    LinkLease::Use use(m_services.lease());
    runTCPModuleReset(*link, *this);
}

bool TCPModulePage::stopRequested() const
{
    return m_services.state().StopRequested;
}

bool TCPModulePage::ensureConnected()
{
    TKVCOMControl *link = m_services.link();
    if (link && !link->Connected())
        m_services.btnConnectClick();
    link = m_services.link();
    return link && link->Connected();
}

bool TCPModulePage::runnerIdle() const
{
    return m_services.state().RunnerIdle;
}

void TCPModulePage::setRunnerIdle(bool idle)
{
    m_services.state().RunnerIdle = idle;
}

void TCPModulePage::showStatus(int panel, const QString &text, bool blink)
{
    m_services.ShowStatus(panel, text, blink);
}

void TCPModulePage::setQueryEnabled(bool enabled)
{
    m_w.btnQueryTCPModInfo->setEnabled(enabled);
}

void TCPModulePage::setModuleLabels(const QString &version, const QString &dhcp, const QString &ip)
{
    m_w.lblTCPVersion->setText(version);
    m_w.lblTCPDHCP->setText(dhcp);
    m_w.lblTCPIPAddr->setText(ip);
}

bool TCPModulePage::confirmReset()
{
    return m_confirm->exec() == QDialog::Accepted;
}
