#include "WindowFont.h"

#include <QFontMetricsF>

namespace {

// Mixed letters, digits and capitals, so that the comparison holds for texts of any kind.
const QString &Sample()
{
    static const QString sample = QStringLiteral(
        "The quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    return sample;
}

// Times New Roman's advance of Sample() per pixel of font size, regular and bold.
constexpr qreal TimesRegular = 656.56 / 16;
constexpr qreal TimesBold = 688.95 / 16;
// Up to this much wider counts as the same widths (hinting rounds each glyph).
constexpr qreal Tolerance = 1.005;
// Narrower than this gets hard to read; a face that needs more stays at it.
constexpr int MinStretch = 70;

qreal advance(const QFont &font)
{
    return QFontMetricsF(font).horizontalAdvance(Sample());
}

} // namespace

QFont windowFont(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("Times New Roman"));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    const qreal times = (bold ? TimesBold : TimesRegular) * pixelSize;
    if (advance(font) <= times * Tolerance)
        return font;
    // The widest stretch at which the face is no wider than Times New Roman.
    int fits = MinStretch;
    int wide = 100;
    while (wide - fits > 1) {
        const int middle = (fits + wide) / 2;
        font.setStretch(middle);
        if (advance(font) <= times)
            fits = middle;
        else
            wide = middle;
    }
    font.setStretch(fits);
    return font;
}
