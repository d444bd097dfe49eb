#include "EdidCellDelegate.h"

#include "EdidGridModel.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QTableView>

#include <algorithm>

namespace {

// The widest text a cell shows: two of the widest hex digit.
qreal widestCellText(const QFont &font)
{
    const QFontMetricsF metrics(font);
    qreal digit = 0;
    for (const char c : "0123456789ABCDEF") {
        if (c != '\0')
            digit = std::max(digit, metrics.horizontalAdvance(QLatin1Char(c)));
    }
    return 2 * digit;
}

// Smallest stretch tried before the face is also made smaller; narrower gets hard to read.
constexpr int MinStretch = 70;
constexpr int MinPixelSize = 8;

} // namespace

EdidCellDelegate::EdidCellDelegate(QTableView *view) : QStyledItemDelegate(view), m_view(view) { }

QFont EdidCellDelegate::cellFont(const QFont &font, int width)
{
    const qreal room = width - 2 * Margin;
    if (widestCellText(font) <= room)
        return font;
    QFont narrow = font;
    for (int stretch = 95; stretch >= MinStretch; stretch -= 5) {
        narrow.setStretch(stretch);
        if (widestCellText(narrow) <= room)
            return narrow;
    }
    int size = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    while (size > MinPixelSize && widestCellText(narrow) > room)
        narrow.setPixelSize(--size);
    return narrow;
}

QFont EdidCellDelegate::fontFor(const QFont &viewFont, int width) const
{
    if (width != m_forWidth || viewFont != m_forFont) {
        m_forFont = viewFont;
        m_forWidth = width;
        m_font = cellFont(viewFont, width);
    }
    return m_font;
}

void EdidCellDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    const QString text = item.text;
    item.text.clear();
    const bool fixed = index.data(EdidGridModel::FixedRole).toBool();
    if (fixed)
        item.backgroundBrush = item.palette.button();
    const QWidget *widget = item.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // Background, selection and focus as the style draws them; the text is drawn below.
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    const QPalette::ColorGroup group = !(item.state & QStyle::State_Enabled) ? QPalette::Disabled
        : (item.state & QStyle::State_Active)                                ? QPalette::Active
                                                                             : QPalette::Inactive;
    const bool selected = (item.state & QStyle::State_Selected) && !fixed;
    painter->save();
    painter->setFont(fontFor(item.font, item.rect.width()));
    painter->setPen(
        item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(item.rect, Qt::AlignCenter | Qt::TextDontClip, text);
    painter->restore();
}

QSize EdidCellDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const int width = m_view->visualRect(index).width();
    const QFontMetricsF metrics(fontFor(option.font, width));
    const qreal text = metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
    return {qCeil(text) + 2 * Margin, qCeil(metrics.height())};
}
