#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TfrmEnterYes;
}

// "Confirm to Reset": accepted only when the operator types "Yes" exactly; No, Esc or closing
// otherwise reject.
class TfrmEnterYes final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmEnterYes)
public:
    explicit TfrmEnterYes(QWidget *parent = nullptr);
    ~TfrmEnterYes() override;

public Q_SLOTS:
    void btnYesClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::TfrmEnterYes> ui;
};
