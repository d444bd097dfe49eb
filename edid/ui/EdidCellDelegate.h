#pragma once

#include <QFont>
#include <QStyledItemDelegate>

class QTableView;

// Paints the cells of the EDID hex view: two hex digits, or a header, centred in a 19-pixel
// cell. The style's own item painting keeps text margins meant for wider cells and elides
// what does not fit between them, which in these cells leaves nothing at all. Here the text is
// drawn whole with a one-pixel margin each side, in the view's face when every cell text fits
// that way, else in a narrower rendering of the same face. Fixed header cells take the button
// face colour.
class EdidCellDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EdidCellDelegate)
public:
    static constexpr int Margin = 1;

    explicit EdidCellDelegate(QTableView *view);

    // The face in which the widest cell text ("00" to "FF" and the headers) fits width pixels
    // with the margins: font itself when it does, else font narrowed, else also made smaller.
    static QFont cellFont(const QFont &font, int width);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
    // The text's width in the face it is drawn in, with the margins, and the line height.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QFont fontFor(const QFont &viewFont, int width) const;

    QTableView *m_view;
    // The last face chosen, for the font and width it was chosen for.
    mutable QFont m_forFont;
    mutable int m_forWidth = -1;
    mutable QFont m_font;
};
