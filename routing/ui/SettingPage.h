#pragma once

#include <QObject>

#include <memory>

namespace Ui {
class tsSetting;
}
class PageServices;
class PortTagPage;
class PresetPanel;
class QFont;
class QWidget;
class RoutingPanel;
class TfrmPreSettingEdit;

// The "Setting" page: the routing panel above and the presets below, which apply their routes
// through it. It sets up the page's form on page, an empty tab of the window or a widget of a
// test.
class SettingPage final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingPage)
public:
    SettingPage(QWidget *page, TfrmPreSettingEdit &editor, const PortTagPage &tags,
        PageServices &services, QObject *parent = nullptr);
    ~SettingPage() override;

    RoutingPanel &routing() { return *m_routing; }
    PresetPanel &presets() { return *m_presets; }
    // The note line's font, which the window sizes.
    void setNoteFont(const QFont &font);

private:
    std::unique_ptr<Ui::tsSetting> ui;
    std::unique_ptr<RoutingPanel> m_routing;
    std::unique_ptr<PresetPanel> m_presets;
};
