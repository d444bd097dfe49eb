#include "TfrmEditLAN.h"

#include "DeviceEntry.h"
#include "IPFieldGuard.h"
#include "ui_TfrmEditLAN.h"

#include <QMessageBox>

#include <algorithm>

TfrmEditLAN::TfrmEditLAN(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TfrmEditLAN>())
{
    ui->setupUi(this);
    // Its layout fixes it at its laid-out size (the form's size constraint); no maximise.
    setWindowFlags(
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_ip = {ui->edtIPField1, ui->edtIPField2, ui->edtIPField3, ui->edtIPField4};
    m_gateway = {ui->edtGWField1, ui->edtGWField2, ui->edtGWField3, ui->edtGWField4};
    m_mask = {ui->edtSNMField1, ui->edtSNMField2, ui->edtSNMField3, ui->edtSNMField4};
    m_mac = {ui->edtMACField1, ui->edtMACField2, ui->edtMACField3, ui->edtMACField4,
        ui->edtMACField5, ui->edtMACField6};
    for (const auto *group : {&m_ip, &m_gateway, &m_mask})
        for (QLineEdit *field : *group)
            IPFieldGuard::guard(field);
    ui->rbStaticIP->setProperty("tag", 0);
    ui->rbDHCP->setProperty("tag", 1);

    // The wire holds 32 bytes of UTF-8: a tag is limited by its encoded length, so that what
    // the operator sees is what the module gets.
    connect(ui->leDeviceTag, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (text.toUtf8().size() <= ConfigRecord::TagSize)
            m_tag = text;
    });
    connect(ui->leDeviceTag, &QLineEdit::textEdited, this, &TfrmEditLAN::leDeviceTagEdited);
    connect(ui->btnOK, &QPushButton::clicked, this, &TfrmEditLAN::btnOKClick);
    connect(ui->btnReset, &QPushButton::clicked, this, &TfrmEditLAN::btnResetClick);
    connect(ui->rbStaticIP, &QRadioButton::clicked, this, &TfrmEditLAN::rbStaticIPClick);
    connect(ui->rbDHCP, &QRadioButton::clicked, this, &TfrmEditLAN::rbDHCPClick);
}

TfrmEditLAN::~TfrmEditLAN() = default;

void TfrmEditLAN::leDeviceTagEdited(const QString &text)
{
    if (text.toUtf8().size() <= ConfigRecord::TagSize)
        return;
    // Keep what was there and as much of the typed or pasted part as fits.
    const QString &before = m_tag;
    qsizetype prefix = 0;
    while (prefix < before.size() && prefix < text.size() && before[prefix] == text[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < before.size() - prefix && suffix < text.size() - prefix
        && before[before.size() - 1 - suffix] == text[text.size() - 1 - suffix])
        ++suffix;
    const QString head = text.first(prefix);
    const QString tail = text.last(suffix);
    const int room = ConfigRecord::TagSize - int((head + tail).toUtf8().size());
    const QString inserted
        = fitTagText(text.mid(prefix, text.size() - prefix - suffix), std::max(room, 0));
    const QString fitted = fitTagText(head + inserted + tail);
    ui->leDeviceTag->setText(fitted);
    ui->leDeviceTag->setCursorPosition(int(std::min(prefix + inserted.size(), fitted.size())));
}

void TfrmEditLAN::setQuad(const std::array<QLineEdit *, 4> &fields, const Quad &values)
{
    for (size_t i = 0; i < fields.size(); ++i)
        fields[i]->setText(values[i]);
}

TfrmEditLAN::Quad TfrmEditLAN::quad(const std::array<QLineEdit *, 4> &fields) const
{
    Quad values;
    for (size_t i = 0; i < fields.size(); ++i)
        values[i] = fields[i]->text();
    return values;
}

void TfrmEditLAN::setValues(const QString &tag, bool autoIP, const Quad &ip, const Quad &gateway,
    const Quad &mask, const std::array<QString, 6> &mac)
{
    ui->leDeviceTag->setText(fitTagText(tag));
    m_autoIP = autoIP;
    (autoIP ? ui->rbDHCP : ui->rbStaticIP)->setChecked(true);
    setQuad(m_ip, ip);
    setQuad(m_gateway, gateway);
    setQuad(m_mask, mask);
    for (size_t i = 0; i < m_mac.size(); ++i)
        m_mac[i]->setText(mac[i]);
}

QString TfrmEditLAN::tag() const
{
    return ui->leDeviceTag->text();
}

bool TfrmEditLAN::autoIP() const
{
    return ui->rbDHCP->isChecked();
}

TfrmEditLAN::Quad TfrmEditLAN::ipFields() const
{
    return quad(m_ip);
}

TfrmEditLAN::Quad TfrmEditLAN::gatewayFields() const
{
    return quad(m_gateway);
}

TfrmEditLAN::Quad TfrmEditLAN::maskFields() const
{
    return quad(m_mask);
}

std::array<QString, 6> TfrmEditLAN::macFields() const
{
    std::array<QString, 6> values;
    for (size_t i = 0; i < m_mac.size(); ++i)
        values[i] = m_mac[i]->text();
    return values;
}

void TfrmEditLAN::setAddressesEnabled(bool on)
{
    for (QWidget *label : std::initializer_list<QWidget *>{ui->lblIPAddress, ui->lblGateway,
             ui->lblSubnetMask, ui->lblIPDot1, ui->lblIPDot2, ui->lblIPDot3, ui->lblGWDot1,
             ui->lblGWDot2, ui->lblGWDot3, ui->lblSNMDot1, ui->lblSNMDot2, ui->lblSNMDot3})
        label->setEnabled(on);
    for (const auto *group : {&m_ip, &m_gateway, &m_mask})
        for (QLineEdit *field : *group)
            field->setEnabled(on);
}

void TfrmEditLAN::EnableAddressFields(bool on)
{
    ui->rbStaticIP->setEnabled(on);
    ui->rbDHCP->setEnabled(on);
    setAddressesEnabled(on);
}

void TfrmEditLAN::SetMACFieldsEditable(bool on)
{
    for (QLineEdit *field : m_mac) {
        field->setReadOnly(!on);
        QPalette p = field->palette();
        p.setColor(QPalette::Base, on ? QColor(Qt::white) : p.color(QPalette::Button));
        field->setPalette(p);
    }
}

void TfrmEditLAN::setTagNoteVisible(bool visible)
{
    ui->lblDevTagLen->setVisible(visible);
}

void TfrmEditLAN::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    QRadioButton *mode = m_autoIP ? ui->rbDHCP : ui->rbStaticIP;
    mode->setChecked(true);
    mode->setFocus();
    if (m_autoIP)
        rbDHCPClick();
    else
        rbStaticIPClick();
}

void TfrmEditLAN::rbStaticIPClick()
{
    setAddressesEnabled(true);
}

void TfrmEditLAN::rbDHCPClick()
{
    setAddressesEnabled(false);
}

void TfrmEditLAN::btnOKClick()
{
    for (const auto *group : {&m_ip, &m_gateway, &m_mask})
        for (QLineEdit *field : *group)
            field->setText(ClampIPField(field->text()));
    accept();
}

void TfrmEditLAN::btnResetClick()
{
    if (QMessageBox::question(this, windowTitle(),
            QStringLiteral("Sure to reset TCP configurations?"), QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    ui->leDeviceTag->setText(QStringLiteral("TCP Module"));
    ui->rbStaticIP->setChecked(true);
    rbStaticIPClick();
    setQuad(m_ip,
        {QStringLiteral("192"), QStringLiteral("168"), QStringLiteral("0"), QStringLiteral("100")});
    setQuad(m_gateway,
        {QStringLiteral("192"), QStringLiteral("168"), QStringLiteral("0"), QStringLiteral("1")});
    setQuad(m_mask,
        {QStringLiteral("255"), QStringLiteral("255"), QStringLiteral("255"), QStringLiteral("0")});
}
