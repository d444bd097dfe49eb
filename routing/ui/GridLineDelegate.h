#pragma once

#include <QStyledItemDelegate>

// Draws a report view's grid lines: each cell is closed by a line on its right and at its
// bottom, in the colour the style gives table grids.
class GridLineDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GridLineDelegate)
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
    // A cell's text with room for its lines.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
