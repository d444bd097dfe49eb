#include "GridLineDelegate.h"

#include <QApplication>
#include <QPainter>

void GridLineDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    const QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    const QColor line = QColor::fromRgba(
        QRgb(style->styleHint(QStyle::SH_Table_GridLineColor, &option, option.widget)));
    painter->save();
    painter->setPen(line);
    const QRect &r = option.rect;
    painter->drawLine(r.topRight(), r.bottomRight());
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->restore();
}

QSize GridLineDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return QStyledItemDelegate::sizeHint(option, index) + QSize(1, 1);
}
