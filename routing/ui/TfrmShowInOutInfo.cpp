#include "TfrmShowInOutInfo.h"

#include "ui_TfrmShowInOutInfo.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QScreen>

#include <algorithm>

namespace {
constexpr int Margin = 10;
constexpr int LabelOffset = 4;
// Below the pointer the pop-up clears the pointer's image; above it only the pointer's tip.
constexpr int BelowPointer = 28;
constexpr int AbovePointer = 4;
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

QPoint TfrmShowInOutInfo::placement(const QPoint &pointer, const QSize &size, const QRect &area)
{
    int x = pointer.x();
    if (x + size.width() > area.right() + 1)
        x = pointer.x() - size.width();
    int y = pointer.y() + BelowPointer;
    if (y + size.height() > area.bottom() + 1)
        y = pointer.y() - AbovePointer - size.height();
    // Where neither side has room, the pop-up keeps its top-left corner on the screen.
    x = std::max(area.left(), std::min(x, area.right() + 1 - size.width()));
    y = std::max(area.top(), std::min(y, area.bottom() + 1 - size.height()));
    return {x, y};
}

void TfrmShowInOutInfo::showNear(const QPoint &pointer)
{
    const QWidget *owner = parentWidget() ? parentWidget()->window() : this;
    const QScreen *screen = owner->screen();
    move(screen ? placement(pointer, size(), screen->availableGeometry())
                : pointer + QPoint(0, BelowPointer));
    show();
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
