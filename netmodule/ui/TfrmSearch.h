#pragma once

#include <QDialog>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

namespace Ui {
class TfrmSearch;
}
class NetworkModuleControl;
class QComboBox;
class QLineEdit;

// The device search dialog: an automatic search by broadcast when shown, then, when nothing
// answered, a search to a typed address. Six steps, one visible at a time. The entries of
// every module found are in entries() when it closes with Ok.
class TfrmSearch final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmSearch)
public:
    // Dialog results: Yes and Done give Ok; Close (address entry, cancelled) and Esc give
    // Cancel; Close after "No Matrix found." gives No.
    enum Result { Cancel = QDialog::Rejected, Ok = QDialog::Accepted, No = 2 };
    // Reachability of an address; "Same Subnet" when it answers.
    using PingFunction = std::function<bool(const QString &address)>;

    TfrmSearch(NetworkModuleControl &control, PingFunction ping, QWidget *parent = nullptr);
    ~TfrmSearch() override;

    void setControl(NetworkModuleControl &control) { m_control = &control; }
    void setPing(PingFunction ping) { m_ping = std::move(ping); }

    const QStringList &entries() const { return m_entries; }
    void clearEntries() { m_entries.clear(); }
    int searchStep() const { return m_step; }

public Q_SLOTS:
    void btnStopClick();
    void btnGOClick();
    void btnNoClick();
    void btnYESClick();
    void btnDoneClick();
    void btnCloseClick();
    void btnStopThenCloseClick();
    void btnCloseOfEndClick();
    // A progress text of a search (notice 2039 with parameter 0).
    void searchProgress(const QString &text);
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void FormShow();
    void FormActivate();
    void SearchStep(int step, bool typedAddress = false);
    // Adds the entries of the devices found; field 2 and the ping use ipOverride when given.
    void collectEntries(const QString &ipOverride);
    void showEntries(QComboBox *list);

    std::unique_ptr<Ui::TfrmSearch> ui;
    NetworkModuleControl *m_control;
    PingFunction m_ping;
    QStringList m_entries;
    std::array<QLineEdit *, 4> m_fields{};
    bool m_autoSearch = false;
    bool m_stopped = false;
    int m_step = 0;
};
