#pragma once

#include "PresetCodec.h"

#include <QList>
#include <QObject>

#include <functional>

class PageServices;
class PortTagPage;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TfrmPreSettingEdit;

// The "Pre-Settings" group: eight named routings in lvPreSetting, edited in
// TfrmPreSettingEdit and applied output by output through the routing panel.
class PresetPanel final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PresetPanel)
public:
    // The Setting page's controls of the group.
    struct Widgets
    {
        QTreeWidget *lvPreSetting = nullptr;
        QPushButton *btnPreEdit = nullptr;
        QPushButton *btnSet = nullptr;
    };

    PresetPanel(const Widgets &widgets, TfrmPreSettingEdit &editor, const PortTagPage &tags,
        PageServices &services, QObject *parent = nullptr);

    // The routing panel's set-route step: shows the route, sends it, reverts it on failure;
    // true when the switcher took it.
    using RouteSetter = std::function<bool(int output, int input)>;
    void setRouteSetter(RouteSetter setRoute) { m_setRoute = std::move(setRoute); }

    // Replaces the eight rows (missing rows get their defaults).
    void setPresets(const QList<PresetRow> &presets);
    QList<PresetRow> presets() const;

    // Fixes the column widths: "Name" 125 pixels, each output 90, all centred.
    void SetPresetColumns();
    // With rows but none selected, selects the first (the Setting page does this on show).
    void selectFirstIfNone();

public Q_SLOTS:
    void btnPreEditClick();
    void lvPreSettingDblClick();
    void btnSetClick();
    void lvPreSettingClick() { }

Q_SIGNALS:
    // A preset's name or values were changed in the editor.
    void presetsChanged();

private:
    QTreeWidgetItem *selectedRow() const;
    void showRow(QTreeWidgetItem *row, const PresetRow &preset);
    PresetRow rowPreset(const QTreeWidgetItem *row) const;
    void FillPresetEditor(const PresetRow &preset);

    QTreeWidget *m_list;
    TfrmPreSettingEdit &m_editor;
    const PortTagPage &m_tags;
    PageServices &m_services;
    RouteSetter m_setRoute;
};
