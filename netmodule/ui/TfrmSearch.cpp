#include "TfrmSearch.h"

#include "DeviceEntry.h"
#include "IPFieldGuard.h"
#include "NetworkModuleControl.h"
#include "TKVCOMControl.h"
#include "ui_TfrmSearch.h"

#include <QPointer>
#include <QShowEvent>
#include <QTimer>

namespace {

constexpr int DialogWidth = 617;
constexpr int DialogHeight = 204;

const QString AutoSearchingText = QStringLiteral("Auto searching");
const QString TypedSearchText = QStringLiteral("Get Matrix informations");

} // namespace

TfrmSearch::TfrmSearch(NetworkModuleControl &control, PingFunction ping, QWidget *parent)
    : QDialog(parent),
      ui(std::make_unique<Ui::TfrmSearch>()),
      m_control(&control),
      m_ping(std::move(ping))
{
    ui->setupUi(this);
    // Fixed border, no border icons: the steps' buttons are the only ways out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(DialogWidth, DialogHeight);
    m_fields = {ui->edtIPField1, ui->edtIPField2, ui->edtIPField3, ui->edtIPField4};
    for (QLineEdit *field : m_fields)
        IPFieldGuard::guard(field);

    connect(ui->btnStop, &QPushButton::clicked, this, &TfrmSearch::btnStopClick);
    connect(ui->btnNo, &QPushButton::clicked, this, &TfrmSearch::btnNoClick);
    connect(ui->btnYES, &QPushButton::clicked, this, &TfrmSearch::btnYESClick);
    connect(ui->btnGO, &QPushButton::clicked, this, &TfrmSearch::btnGOClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmSearch::btnCloseClick);
    connect(ui->btnStopThenClose, &QPushButton::clicked, this, &TfrmSearch::btnStopThenCloseClick);
    connect(ui->btnDone, &QPushButton::clicked, this, &TfrmSearch::btnDoneClick);
    connect(ui->btnCloseOfEnd, &QPushButton::clicked, this, &TfrmSearch::btnCloseOfEndClick);
}

TfrmSearch::~TfrmSearch() = default;

void TfrmSearch::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    FormShow();
    // Activation may come before or after this, or not at all on some platforms; the search
    // starts once either way.
    QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TfrmSearch::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_autoSearch)
        QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TfrmSearch::FormShow()
{
    setFixedSize(DialogWidth, DialogHeight);
    m_autoSearch = true;
    SearchStep(1);
}

void TfrmSearch::SearchStep(int step, bool typedAddress)
{
    m_step = step;
    ui->pnlSteps->setCurrentIndex(step - 1);
    QString caption;
    QWidget *focus = nullptr;
    switch (step) {
    case 1:
        caption = typedAddress ? TypedSearchText : AutoSearchingText;
        ui->gbStep1->setTitle(caption);
        focus = ui->btnStop;
        break;
    case 2:
        caption = ui->gbStep2->title();
        focus = ui->btnYES;
        break;
    case 3:
        caption = ui->gbStep3->title();
        ui->edtIPField1->setText(QStringLiteral("192"));
        ui->edtIPField2->setText(QStringLiteral("168"));
        ui->edtIPField3->setText(QStringLiteral("0"));
        ui->edtIPField4->setText(QStringLiteral("100"));
        focus = ui->edtIPField4;
        break;
    case 4:
        caption = ui->gbStep4->title();
        focus = ui->btnStopThenClose;
        break;
    case 5:
        caption = ui->gbStep5->title();
        focus = ui->btnDone;
        break;
    default:
        caption = ui->gbStep6->title();
        focus = ui->btnCloseOfEnd;
        break;
    }
    setWindowTitle(caption);
    focus->setFocus();
}

void TfrmSearch::collectEntries(const QString &ipOverride)
{
    const NetworkModuleControl &control = *m_control;
    const int count = control.GetTCPDeviceCount();
    for (int d = 1; d <= count; ++d) {
        const QString address = ipOverride.isEmpty() ? control.GetTCPDeviceItem(d, 1) : ipOverride;
        const bool answered = m_ping && m_ping(address);
        const QString entry = foundDeviceEntry(control, d, answered, ipOverride);
        if (!m_entries.contains(entry))
            m_entries.append(entry);
    }
}

void TfrmSearch::showEntries(QComboBox *list)
{
    list->clear();
    list->addItems(m_entries);
    list->model()->sort(0);
    list->setCurrentIndex(list->count() > 0 ? 0 : -1);
}

void TfrmSearch::FormActivate()
{
    if (!m_autoSearch || !isVisible())
        return;
    m_autoSearch = false;
    m_stopped = false;
    ui->cbMXDevice->clear();
    m_entries.clear();

    const QPointer<TfrmSearch> alive(this);
    const bool found = m_control->SearchTCPDevice();
    if (!alive)
        return;
    if (found) {
        collectEntries({});
        showEntries(ui->cbMXDevice);
        SearchStep(2);
    } else if (m_stopped) {
        SearchStep(4);
    } else {
        SearchStep(3);
    }
}

void TfrmSearch::btnStopClick()
{
    m_control->link().setSearching(false);
    m_stopped = true;
}

void TfrmSearch::btnNoClick()
{
    SearchStep(3);
}

void TfrmSearch::btnGOClick()
{
    m_stopped = false;
    QStringList parts;
    for (QLineEdit *field : m_fields) {
        field->setText(ClampIPField(field->text()));
        parts.append(field->text());
    }
    TKVCOMControl &link = m_control->link();
    link.setDeviceIP(parts.join(QLatin1Char('.')));
    link.setUDPMode(umNORMAL);
    SearchStep(1, true);

    const QPointer<TfrmSearch> alive(this);
    const bool found = m_control->SearchTCPDevice();
    if (!alive)
        return;
    if (found) {
        collectEntries(link.DeviceIP());
        showEntries(ui->cbMXDevice1);
        SearchStep(5);
    } else if (m_stopped) {
        SearchStep(4);
    } else if (!m_entries.isEmpty()) {
        showEntries(ui->cbMXDevice1);
        SearchStep(5);
    } else {
        SearchStep(6);
    }
}

void TfrmSearch::btnYESClick()
{
    done(Ok);
}

void TfrmSearch::btnDoneClick()
{
    done(Ok);
}

void TfrmSearch::btnCloseClick()
{
    done(Cancel);
}

void TfrmSearch::btnStopThenCloseClick()
{
    done(Cancel);
}

void TfrmSearch::btnCloseOfEndClick()
{
    done(No);
}

void TfrmSearch::reject()
{
    // Esc during a search stops it as well.
    if (m_step == 1 && m_control->link().Searching())
        btnStopClick();
    QDialog::reject();
}

void TfrmSearch::searchProgress(const QString &text)
{
    if (m_step == 1 && isVisible())
        ui->tsSearching->setFormat(text);
}
