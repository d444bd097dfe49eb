#pragma once

#include "TagPool.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TfrmPreSettingEdit;
}
class QComboBox;
class QLabel;
class QLineEdit;

// The editor of one preset ("Output setting") and of the six input or output tags. It is
// created once and reused; the tag boxes keep their name pools between uses.
class TfrmPreSettingEdit final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmPreSettingEdit)
public:
    enum class Use { OutputSetting, InputTags, OutputTags };

    explicit TfrmPreSettingEdit(QWidget *parent = nullptr);
    ~TfrmPreSettingEdit() override;

    // Size, visible group and caption for one use.
    void arrange(Use use);
    Use use() const { return m_use; }

    QLineEdit *settingName() const;
    QComboBox *allOutputs() const;
    // cbFromDeviceOfOutput1 … 6
    QComboBox *outputBox(int n) const;
    // lblOutput1 … 8, the captions beside the output boxes
    QLabel *outputLabel(int n) const;
    // cbDevNameOfInput1 … 6 (numbers 1–6) or cbDispNameOfOutput1 … 6 (numbers 41–46)
    QComboBox *tagBox(TagSide side, int n) const;

    // The pool is the item list of the group's first box.
    QStringList pool(TagSide side) const;
    // Gives every box of the group these items, sorted; their texts stay.
    void setPool(TagSide side, const QStringList &names);

public Q_SLOTS:
    void btnOKClick();
    void btnCancelClick();
    void cbFromDeviceOfAllOutputChange(int index);
    void btnDeleteInput1TagClick();
    void btnDeleteOutput1TagClick();

private:
    void deleteName(TagSide side);

    std::unique_ptr<Ui::TfrmPreSettingEdit> ui;
    Use m_use = Use::OutputSetting;
};
