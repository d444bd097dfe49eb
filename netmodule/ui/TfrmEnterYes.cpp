#include "TfrmEnterYes.h"

#include "ui_TfrmEnterYes.h"

TfrmEnterYes::TfrmEnterYes(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmEnterYes>())
{
    ui->setupUi(this);
    // Its layout fixes it at its laid-out size (the form's size constraint); no maximise.
    setWindowFlags(
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    connect(ui->btnYes, &QPushButton::clicked, this, &TfrmEnterYes::btnYesClick);
    connect(ui->btnNo, &QPushButton::clicked, this, &QDialog::reject);
}

TfrmEnterYes::~TfrmEnterYes() = default;

void TfrmEnterYes::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    ui->edtYes->clear();
    ui->edtYes->setFocus();
}

void TfrmEnterYes::btnYesClick()
{
    if (ui->edtYes->text() == QLatin1String("Yes"))
        accept();
    else
        ui->edtYes->setFocus();
}
