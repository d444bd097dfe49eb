#include "TfrmPreSettingEdit.h"

#include "DeviceProtocol.h"
#include "ui_TfrmPreSettingEdit.h"

#include <QMessageBox>

#include <array>

namespace {

constexpr int TagNumberBase[] = {0, 40}; // input boxes carry 1–6, output boxes 41–46

int sideIndex(TagSide side)
{
    return side == TagSide::Input ? 0 : 1;
}

} // namespace

TfrmPreSettingEdit::TfrmPreSettingEdit(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmPreSettingEdit>())
{
    ui->setupUi(this);
    setWindowFlags(
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    connect(ui->btnOK, &QPushButton::clicked, this, &TfrmPreSettingEdit::btnOKClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &TfrmPreSettingEdit::btnCancelClick);
    // Every choice counts, the one already shown too: after changing one output by hand the
    // operator picks the same entry again to apply it to all.
    connect(ui->cbFromDeviceOfAllOutput, &QComboBox::activated, this,
        &TfrmPreSettingEdit::cbFromDeviceOfAllOutputChange);
    for (QToolButton *button :
        {ui->btnDeleteInput1Tag, ui->btnDeleteInput2Tag, ui->btnDeleteInput3Tag,
            ui->btnDeleteInput4Tag, ui->btnDeleteInput5Tag, ui->btnDeleteInput6Tag})
        connect(button, &QToolButton::clicked, this, &TfrmPreSettingEdit::btnDeleteInput1TagClick);
    for (QToolButton *button :
        {ui->btnDeleteOutput1Tag, ui->btnDeleteOutput2Tag, ui->btnDeleteOutput3Tag,
            ui->btnDeleteOutput4Tag, ui->btnDeleteOutput5Tag, ui->btnDeleteOutput6Tag})
        connect(button, &QToolButton::clicked, this, &TfrmPreSettingEdit::btnDeleteOutput1TagClick);
}

TfrmPreSettingEdit::~TfrmPreSettingEdit() = default;

void TfrmPreSettingEdit::arrange(Use use)
{
    m_use = use;
    const bool preset = use == Use::OutputSetting;
    ui->gbOutputSetting->setVisible(preset);
    ui->gbInputPortTag->setVisible(use == Use::InputTags);
    ui->gbOutputPortTag->setVisible(use == Use::OutputTags);
    if (preset) {
        setFixedSize(567, 357);
        ui->btnOK->move(296, 296);
        ui->btnCancel->move(424, 296);
        setWindowTitle(QStringLiteral("Edit Output setting"));
    } else {
        setFixedSize(635, 302);
        ui->btnOK->move(320, 240);
        ui->btnCancel->move(448, 240);
        setWindowTitle(use == Use::InputTags ? QStringLiteral("Edit Input port tags")
                                             : QStringLiteral("Edit Output port tags"));
    }
    if (QWidget *owner = parentWidget())
        move(owner->geometry().center() - rect().center());
}

QLineEdit *TfrmPreSettingEdit::settingName() const
{
    return ui->leSettingName;
}

QComboBox *TfrmPreSettingEdit::allOutputs() const
{
    return ui->cbFromDeviceOfAllOutput;
}

QComboBox *TfrmPreSettingEdit::outputBox(int n) const
{
    const std::array<QComboBox *, 8> boxes{ui->cbFromDeviceOfOutput1, ui->cbFromDeviceOfOutput2,
        ui->cbFromDeviceOfOutput3, ui->cbFromDeviceOfOutput4, ui->cbFromDeviceOfOutput5,
        ui->cbFromDeviceOfOutput6, ui->cbFromDeviceOfOutput7, ui->cbFromDeviceOfOutput8};
    return n >= 1 && n <= int(boxes.size()) ? boxes[size_t(n - 1)] : nullptr;
}

QLabel *TfrmPreSettingEdit::outputLabel(int n) const
{
    const std::array<QLabel *, 8> labels{ui->lblOutput1, ui->lblOutput2, ui->lblOutput3,
        ui->lblOutput4, ui->lblOutput5, ui->lblOutput6, ui->lblOutput7, ui->lblOutput8};
    return n >= 1 && n <= int(labels.size()) ? labels[size_t(n - 1)] : nullptr;
}

QComboBox *TfrmPreSettingEdit::tagBox(TagSide side, int n) const
{
    const QWidget *group = side == TagSide::Input ? ui->gbInputPortTag : ui->gbOutputPortTag;
    const int number = TagNumberBase[sideIndex(side)] + n;
    for (QComboBox *box : group->findChildren<QComboBox *>()) {
        if (box->property("tag").toInt() == number)
            return box;
    }
    return nullptr;
}

QStringList TfrmPreSettingEdit::pool(TagSide side) const
{
    QStringList names;
    const QComboBox *first = tagBox(side, 1);
    for (int i = 0; i < first->count(); ++i)
        names.append(first->itemText(i));
    return names;
}

void TfrmPreSettingEdit::setPool(TagSide side, const QStringList &names)
{
    const QStringList sorted = sortedPool(names);
    for (int n = 1; n <= DeviceProtocol::PortCount; ++n) {
        QComboBox *box = tagBox(side, n);
        const QString text = box->currentText();
        box->clear();
        box->addItems(sorted);
        box->setCurrentIndex(-1);
        box->setEditText(text);
    }
}

void TfrmPreSettingEdit::btnOKClick()
{
    if (m_use != Use::OutputSetting) {
        const TagSide side = m_use == Use::InputTags ? TagSide::Input : TagSide::Output;
        QStringList entered;
        for (int n = 1; n <= DeviceProtocol::PortCount; ++n)
            entered.append(tagBox(side, n)->currentText());
        setPool(side, mergeIntoPool(pool(side), entered));
    }
    accept();
}

void TfrmPreSettingEdit::btnCancelClick()
{
    reject();
}

void TfrmPreSettingEdit::cbFromDeviceOfAllOutputChange(int index)
{
    const int last = ui->cbFromDeviceOfAllOutput->count() - 1;
    if (index <= 0)
        return; // "Select Input"
    for (int k = 1; k <= DeviceProtocol::PortCount; ++k)
        outputBox(k)->setCurrentIndex(index == last ? k - 1 : index - 1);
}

void TfrmPreSettingEdit::btnDeleteInput1TagClick()
{
    deleteName(TagSide::Input);
}

void TfrmPreSettingEdit::btnDeleteOutput1TagClick()
{
    deleteName(TagSide::Output);
}

void TfrmPreSettingEdit::deleteName(TagSide side)
{
    const QObject *button = sender();
    if (!button)
        return;
    const int n = button->property("tag").toInt() - TagNumberBase[sideIndex(side)];
    QComboBox *box = tagBox(side, n);
    if (!box)
        return;
    const QString name = box->currentText();
    if (name.isEmpty())
        return;
    QStringList texts;
    for (int k = 1; k <= DeviceProtocol::PortCount; ++k)
        texts.append(tagBox(side, k)->currentText());
    const QString what
        = side == TagSide::Input ? QStringLiteral("Input") : QStringLiteral("Output");
    if (nameInUseElsewhere(texts, n - 1, name)) {
        QMessageBox::information(
            this, windowTitle(), what + QStringLiteral(" port tag in use, can't be deleted."));
        return;
    }
    if (QMessageBox::question(this, windowTitle(),
            QStringLiteral("Sure to delete ") + what + QStringLiteral(" port tag: [") + name
                + QStringLiteral("] ?"))
        != QMessageBox::Yes)
        return;
    for (int k = 1; k <= DeviceProtocol::PortCount; ++k) {
        QComboBox *other = tagBox(side, k);
        const QString text = other->currentText();
        const int at = other->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (at >= 0)
            other->removeItem(at);
        other->setCurrentIndex(-1);
        other->setEditText(k == n ? QString() : text);
    }
}
