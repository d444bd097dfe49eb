#include "TfrmShowInOutInfo.h"

#include "ui_TfrmShowInOutInfo.h"

#include <QFontMetrics>
#include <QMouseEvent>

#include <algorithm>

namespace {
constexpr int Margin = 10;
constexpr int LabelOffset = 4;
} // namespace

TfrmShowInOutInfo::TfrmShowInOutInfo(QWidget *parent)
    : QWidget(parent,
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
            | Qt::WindowDoesNotAcceptFocus),
      ui(std::make_unique<Ui::TfrmShowInOutInfo>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_ShowWithoutActivating);
    QFont font(QStringLiteral("Times New Roman"));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(19);
    font.setBold(true);
    ui->lblInfo->setFont(font);
    ui->lblInfo->installEventFilter(this);
    ui->Panel1->installEventFilter(this);
}

TfrmShowInOutInfo::~TfrmShowInOutInfo() = default;

QLabel *TfrmShowInOutInfo::lblInfo() const
{
    return ui->lblInfo;
}

void TfrmShowInOutInfo::setLines(const QStringList &lines)
{
    // The window measures its lines in the label's font.
    setFont(ui->lblInfo->font());
    const QFontMetrics metrics(font());
    int width = 0;
    for (const QString &line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    const QString text = lines.join(QLatin1Char('\n'));
    // The lines' heights as the label lays them out; in some faces that is more than
    // lineSpacing() per line, and the last lines would be cut.
    const int height = lines.isEmpty() ? 0 : metrics.size(0, text).height();
    ui->lblInfo->setText(text);
    const QSize size(width + Margin, height + Margin);
    resize(size);
    ui->Panel1->setGeometry(QRect(QPoint(0, 0), size));
    ui->lblInfo->setGeometry(
        LabelOffset, LabelOffset, size.width() - LabelOffset, size.height() - LabelOffset);
    ui->lblInfo->repaint();
}

void TfrmShowInOutInfo::lblInfoClick()
{
    close();
}

void TfrmShowInOutInfo::Panel1Click()
{
    close();
}

void TfrmShowInOutInfo::FormClick()
{
    close();
}

bool TfrmShowInOutInfo::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == ui->lblInfo) {
            lblInfoClick();
            return true;
        }
        if (watched == ui->Panel1) {
            Panel1Click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmShowInOutInfo::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    FormClick();
}
