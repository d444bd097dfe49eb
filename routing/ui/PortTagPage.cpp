#include "PortTagPage.h"

#include "DeviceProtocol.h"
#include "PageForm.h"
#include "TfrmPreSettingEdit.h"
#include "ui_tsPortTag.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace {

constexpr int OutputNumberBase = 40;

} // namespace

PortTagPage::PortTagPage(QWidget *page, QCheckBox *cbDisplayTag, TfrmPreSettingEdit &editor,
    Store store, QObject *parent)
    : QObject(parent),
      m_page(page),
      ui(setUpPageForm<Ui::tsPortTag>(page)),
      m_displayTag(cbDisplayTag),
      m_editor(editor),
      m_store(std::move(store))
{
    connect(ui->btnEditInputPortTag, &QPushButton::clicked, this,
        &PortTagPage::btnEditInputPortTagClick);
    connect(ui->btnEditOutputPortTag, &QPushButton::clicked, this,
        &PortTagPage::btnEditOutputPortTagClick);
    connect(m_displayTag, &QCheckBox::toggled, this, &PortTagPage::displayTagsChanged);
}

PortTagPage::~PortTagPage() = default;

QLineEdit *PortTagPage::FindTagEdit(int number) const
{
    for (QLineEdit *edit : m_page->findChildren<QLineEdit *>()) {
        if (edit->property("tag").toInt() == number)
            return edit;
    }
    return nullptr;
}

QString PortTagPage::inputTag(int n) const
{
    const QLineEdit *edit = FindTagEdit(n);
    return edit ? edit->text() : QString();
}

QString PortTagPage::outputTag(int n) const
{
    const QLineEdit *edit = FindTagEdit(OutputNumberBase + n);
    return edit ? edit->text() : QString();
}

PortTags PortTagPage::tags() const
{
    PortTags set;
    for (int n = 1; n <= DeviceProtocol::PortCount; ++n) {
        set.inputs[size_t(n - 1)] = inputTag(n);
        set.outputs[size_t(n - 1)] = outputTag(n);
    }
    return set;
}

QStringList PortTagPage::pool(TagSide side) const
{
    return m_editor.pool(side);
}

void PortTagPage::setPools(const QStringList &inputs, const QStringList &outputs)
{
    m_editor.setPool(TagSide::Input, inputs);
    m_editor.setPool(TagSide::Output, outputs);
}

bool PortTagPage::displayTag() const
{
    return m_displayTag->isChecked();
}

void PortTagPage::setDisplayTag(bool on)
{
    m_displayTag->setChecked(on);
}

void PortTagPage::btnEditInputPortTagClick()
{
    editTags(TagSide::Input);
}

void PortTagPage::btnEditOutputPortTagClick()
{
    editTags(TagSide::Output);
}

void PortTagPage::editTags(TagSide side)
{
    const bool inputs = side == TagSide::Input;
    m_editor.arrange(
        inputs ? TfrmPreSettingEdit::Use::InputTags : TfrmPreSettingEdit::Use::OutputTags);
    for (int n = 1; n <= DeviceProtocol::PortCount; ++n) {
        QComboBox *box = m_editor.tagBox(side, n);
        box->setCurrentIndex(-1);
        box->setEditText(inputs ? inputTag(n) : outputTag(n));
    }
    const QStringList before = pool(side);
    const bool accepted = m_editor.exec() == QDialog::Accepted;
    if (pool(side) != before)
        Q_EMIT poolsChanged(pool(TagSide::Input), pool(TagSide::Output));
    if (!accepted)
        return;
    for (int n = 1; n <= DeviceProtocol::PortCount; ++n) {
        const int number = inputs ? n : OutputNumberBase + n;
        if (QLineEdit *edit = FindTagEdit(number))
            edit->setText(m_editor.tagBox(side, n)->currentText());
    }
    announceTags();
    SavePortTags();
}

void PortTagPage::LoadPortTags()
{
    if (m_store.load)
        showTags(m_store.load());
    announceTags();
}

void PortTagPage::ClearPortTags()
{
    showTags({});
    announceTags();
}

void PortTagPage::SavePortTags()
{
    if (m_store.save)
        m_store.save(tags());
}

void PortTagPage::showTags(const PortTags &tags)
{
    for (int n = 1; n <= DeviceProtocol::PortCount; ++n) {
        if (QLineEdit *edit = FindTagEdit(n))
            edit->setText(tags.inputs[size_t(n - 1)]);
        if (QLineEdit *edit = FindTagEdit(OutputNumberBase + n))
            edit->setText(tags.outputs[size_t(n - 1)]);
    }
}

void PortTagPage::announceTags()
{
    const PortTags now = tags();
    Q_EMIT tagsChanged(QStringList(now.inputs.begin(), now.inputs.end()),
        QStringList(now.outputs.begin(), now.outputs.end()));
}
