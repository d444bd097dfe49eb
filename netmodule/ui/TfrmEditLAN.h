#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <memory>

namespace Ui {
class TfrmEditLAN;
}
class QLineEdit;

// "TCP configuration": the tag, Auto IP or a static address with gateway and mask, and the
// module's MAC address of one device entry. It only edits; the caller sends the result.
class TfrmEditLAN final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmEditLAN)
public:
    using Quad = std::array<QString, 4>;

    explicit TfrmEditLAN(QWidget *parent = nullptr);
    ~TfrmEditLAN() override;

    // Fills the fields; the mode is selected (and its click rule run) when the dialog shows.
    void setValues(const QString &tag, bool autoIP, const Quad &ip, const Quad &gateway,
        const Quad &mask, const std::array<QString, 6> &mac);

    QString tag() const;
    bool autoIP() const;
    Quad ipFields() const;
    Quad gatewayFields() const;
    Quad maskFields() const;
    std::array<QString, 6> macFields() const;

    // Both radio buttons and every address label and field.
    void EnableAddressFields(bool on);
    // Read-only MAC fields show the button-face colour, editable ones white.
    void SetMACFieldsEditable(bool on);
    void setTagNoteVisible(bool visible);

public Q_SLOTS:
    void btnOKClick();
    void btnResetClick();
    void rbStaticIPClick();
    void rbDHCPClick();
    // Limits the tag to what the wire holds: 32 bytes of UTF-8, cut between characters.
    void leDeviceTagEdited(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;

private:
    Quad quad(const std::array<QLineEdit *, 4> &fields) const;
    static void setQuad(const std::array<QLineEdit *, 4> &fields, const Quad &values);
    // The address labels and fields only (the click rule of the two modes).
    void setAddressesEnabled(bool on);

    std::unique_ptr<Ui::TfrmEditLAN> ui;
    std::array<QLineEdit *, 4> m_ip{}, m_gateway{}, m_mask{};
    std::array<QLineEdit *, 6> m_mac{};
    bool m_autoIP = true;
    QString m_tag; // the last tag text that fitted the wire
};
