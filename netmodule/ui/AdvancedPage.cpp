#include "AdvancedPage.h"

#include "PageForm.h"
#include "ui_tsIR.h"

AdvancedPage::AdvancedPage(QWidget *page, PageServices &services, QObject *parent)
    : QObject(parent),
      ui(setUpPageForm<Ui::tsIR>(page)),
      m_module(std::make_unique<TCPModulePage>(
          TCPModulePage::Widgets{ui->gbTCPModInfo, ui->gbResetDefault, ui->btnQueryTCPModInfo,
              ui->btnReset, ui->lblTCPVersion, ui->lblTCPDHCP, ui->lblTCPIPAddr},
          services))
{ }

AdvancedPage::~AdvancedPage() = default;

std::array<AdvancedPage::SwitchRadios, AdvancedPage::FeatureCount> AdvancedPage::switches() const
{
    return {{{ui->rbIROff, ui->rbIROn}, {ui->rbKeysOff, ui->rbKeysOn},
        {ui->rbBeeperOff, ui->rbBeeperOn}, {ui->rbAPMOff, ui->rbAPMOn}}};
}
