#include "SettingPage.h"

#include "PageForm.h"
#include "PortTagPage.h"
#include "PresetPanel.h"
#include "RoutingPanel.h"
#include "ui_tsSetting.h"

SettingPage::SettingPage(QWidget *page, TfrmPreSettingEdit &editor, const PortTagPage &tags,
    PageServices &services, QObject *parent)
    : QObject(parent), ui(setUpPageForm<Ui::tsSetting>(page))
{
    m_routing = std::make_unique<RoutingPanel>(RoutingPanel::Widgets{page, ui->pnlRouting,
                                                   ui->lblNote, ui->lvPreSetting, {ui->GroupBox12}},
        services);
    // The pop-up and the note name ports by the tags of the Port Tag page.
    m_routing->setTagLookup([&tags](bool input, int port) {
        return input ? tags.inputTag(port) : tags.outputTag(port);
    });
    m_presets = std::make_unique<PresetPanel>(
        PresetPanel::Widgets{ui->lvPreSetting, ui->btnPreEdit, ui->btnSet}, editor, tags, services);
    m_presets->setRouteSetter(
        [this](int output, int input) { return m_routing->setRoute(output, input); });
}

SettingPage::~SettingPage() = default;

void SettingPage::setNoteFont(const QFont &font)
{
    ui->lblNote->setFont(font);
}
