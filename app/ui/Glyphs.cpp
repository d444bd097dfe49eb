#include "Glyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace Glyphs {

namespace {

constexpr int Size = 64;

QPixmap canvas()
{
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

} // namespace

QPixmap connection(bool open)
{
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colour = open ? QColor(0x2e, 0x9d, 0x3a) : QColor(0xd3, 0x2f, 0x2f);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    // Half a plug apart from the centre when closed; the halves meet when open.
    const qreal gap = open ? 0 : 10;
    const qreal cy = Size / 2.0;
    // Cable, body and two pins of the left half.
    p.drawRect(QRectF(2, cy - 2.5, 14 - gap / 2, 5));
    p.drawRoundedRect(QRectF(16 - gap / 2, cy - 11, 12, 22), 3, 3);
    p.drawRect(QRectF(28 - gap / 2, cy - 7, 4, 4));
    p.drawRect(QRectF(28 - gap / 2, cy + 3, 4, 4));
    // Socket body and cable of the right half.
    p.drawRoundedRect(QRectF(32 + gap / 2, cy - 11, 14, 22), 3, 3);
    p.drawRect(QRectF(46 + gap / 2, cy - 2.5, 16 - gap / 2, 5));
    return pixmap;
}

QPixmap Power(PowerGlyph glyph)
{
    QColor fill;
    switch (glyph) {
    case PowerGlyph::Unknown:
        fill = QColor(0x8a, 0x8a, 0x8a);
        break;
    case PowerGlyph::Off:
        fill = QColor(0xd3, 0x2f, 0x2f);
        break;
    case PowerGlyph::On:
        fill = QColor(0x2e, 0x9d, 0x3a);
        break;
    }
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(fill.darker(130), 2));
    p.setBrush(fill);
    p.drawEllipse(QRectF(3, 3, Size - 6, Size - 6));

    // The power symbol: a ring open at the top and a bar through the opening.
    QPen symbol(Qt::white, 6, Qt::SolidLine, Qt::RoundCap);
    p.setPen(symbol);
    p.setBrush(Qt::NoBrush);
    const QRectF ring(17, 18, 30, 30);
    p.drawArc(ring, 130 * 16, 280 * 16);
    p.drawLine(QPointF(Size / 2.0, 12), QPointF(Size / 2.0, 32));
    return pixmap;
}

} // namespace Glyphs
