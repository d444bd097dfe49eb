#include "PresetPanel.h"

#include "DeviceProtocol.h"
#include "GridLineDelegate.h"
#include "PageServices.h"
#include "PortTagPage.h"
#include "ShellState.h"
#include "TfrmPreSettingEdit.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

namespace {

constexpr int NameColumnWidth = 125;
constexpr int OutputColumnWidth = 90;
// Above and below the header's text.
constexpr int HeaderAir = 2;
// The row's full value list, extra values included; the columns show the first six.
constexpr int ValuesRole = Qt::UserRole;

PresetRow defaultRow(int n)
{
    return {QStringLiteral("Setting") + QString::number(n), decodePresetValue(QString())};
}

} // namespace

PresetPanel::PresetPanel(const Widgets &widgets, TfrmPreSettingEdit &editor,
    const PortTagPage &tags, PageServices &services, QObject *parent)
    : QObject(parent),
      m_list(widgets.lvPreSetting),
      m_editor(editor),
      m_tags(tags),
      m_services(services)
{
    connect(widgets.btnPreEdit, &QPushButton::clicked, this, &PresetPanel::btnPreEditClick);
    connect(widgets.btnSet, &QPushButton::clicked, this, &PresetPanel::btnSetClick);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &PresetPanel::lvPreSettingDblClick);
    connect(m_list, &QTreeWidget::itemClicked, this, &PresetPanel::lvPreSettingClick);
    // A report view with grid lines, whose eight rows show whole without a scroll bar: the
    // header takes no more than its text needs.
    m_list->setItemDelegate(new GridLineDelegate(m_list));
    m_list->header()->setFixedHeight(QFontMetrics(m_list->header()->font()).height() + HeaderAir);
    QList<PresetRow> defaults;
    for (int n = 1; n <= PresetRows; ++n)
        defaults.append(defaultRow(n));
    setPresets(defaults);
}

void PresetPanel::setPresets(const QList<PresetRow> &presets)
{
    m_list->clear();
    for (int n = 1; n <= PresetRows; ++n) {
        auto *row = new QTreeWidgetItem(m_list);
        showRow(row, n <= presets.size() ? presets.at(n - 1) : defaultRow(n));
    }
}

QList<PresetRow> PresetPanel::presets() const
{
    QList<PresetRow> rows;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        rows.append(rowPreset(m_list->topLevelItem(i)));
    return rows;
}

void PresetPanel::showRow(QTreeWidgetItem *row, const PresetRow &preset)
{
    row->setText(0, preset.name);
    row->setData(0, ValuesRole, preset.values);
    for (int k = 1; k <= DeviceProtocol::PortCount; ++k) {
        row->setText(k, preset.values.value(k - 1));
        row->setTextAlignment(k, Qt::AlignCenter);
    }
    row->setTextAlignment(0, Qt::AlignCenter);
}

PresetRow PresetPanel::rowPreset(const QTreeWidgetItem *row) const
{
    return {row->text(0), row->data(0, ValuesRole).toStringList()};
}

void PresetPanel::SetPresetColumns()
{
    QHeaderView *header = m_list->header();
    header->setMinimumSectionSize(0);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignCenter);
    for (int c = 0; c <= DeviceProtocol::PortCount; ++c) {
        header->setSectionResizeMode(c, QHeaderView::Fixed);
        m_list->setColumnWidth(c, c == 0 ? NameColumnWidth : OutputColumnWidth);
    }
}

void PresetPanel::selectFirstIfNone()
{
    if (m_list->topLevelItemCount() > 0 && m_list->selectedItems().isEmpty())
        m_list->setCurrentItem(m_list->topLevelItem(0));
}

QTreeWidgetItem *PresetPanel::selectedRow() const
{
    const QList<QTreeWidgetItem *> selected = m_list->selectedItems();
    if (selected.isEmpty()) {
        QMessageBox::information(
            m_services.dialogParent(), productTitle(), QStringLiteral("Please select item."));
        return nullptr;
    }
    return selected.first();
}

void PresetPanel::FillPresetEditor(const PresetRow &preset)
{
    m_editor.settingName()->setText(preset.name);
    QStringList inputs;
    for (int n = 1; n <= DeviceProtocol::PortCount; ++n)
        inputs.append(inputEntryText(n, m_tags.inputTag(n)));
    for (int n = 1; n <= DeviceProtocol::PortCount; ++n) {
        QComboBox *box = m_editor.outputBox(n);
        box->clear();
        box->addItems(inputs);
        m_editor.outputLabel(n)->setText(outputFromText(n, m_tags.outputTag(n)));
    }
    QComboBox *all = m_editor.allOutputs();
    all->clear();
    all->addItem(QStringLiteral("Select Input"));
    all->addItems(inputs);
    all->addItem(QStringLiteral("Port to Port"));
    all->setCurrentIndex(0);
}

void PresetPanel::btnPreEditClick()
{
    QTreeWidgetItem *row = selectedRow();
    if (!row)
        return;
    m_editor.arrange(TfrmPreSettingEdit::Use::OutputSetting);
    PresetRow preset = rowPreset(row);
    FillPresetEditor(preset);
    for (int k = 1; k <= DeviceProtocol::PortCount; ++k)
        m_editor.outputBox(k)->setCurrentIndex(presetEditorIndex(preset.values, k));
    if (m_editor.exec() != QDialog::Accepted)
        return;
    preset.name = m_editor.settingName()->text();
    for (int k = 1; k <= DeviceProtocol::PortCount; ++k)
        preset.values[k - 1] = QString::number(m_editor.outputBox(k)->currentIndex() + 1);
    showRow(row, preset);
    Q_EMIT presetsChanged();
}

void PresetPanel::lvPreSettingDblClick()
{
    btnPreEditClick();
}

void PresetPanel::btnSetClick()
{
    const QTreeWidgetItem *row = selectedRow();
    if (!row)
        return;
    const QStringList values = rowPreset(row).values;
    ShellState &state = m_services.state();
    state.RouteFailed = false;
    for (int k = 1; k <= DeviceProtocol::PortCount; ++k) {
        const auto input = presetInput(values, k);
        if (!input) {
            // No button exists for it: the outputs before it stay switched.
            state.RouteFailed = true;
            m_services.ShowStatus(3, noInputSelectedText(k));
            return;
        }
        // Each output as a click on its input button: the displays show every route before
        // its command and revert the one the switcher does not take.
        if (!m_setRoute || !m_setRoute(k, *input)) {
            state.RouteFailed = true;
            return;
        }
    }
}
