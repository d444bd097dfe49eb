#include "TLCD99.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <array>

TLCD99::TLCD99(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TLCD99::setValue(const QString &value)
{
    if (value == m_value)
        return;
    m_value = value;
    update();
}

void TLCD99::setDigitNum(int digits)
{
    m_digitNum = std::max(1, digits);
    update();
}

void TLCD99::setColor(const QColor &color)
{
    m_color = color;
    update();
}

void TLCD99::setOnColor(const QColor &color)
{
    m_onColor = color;
    update();
}

void TLCD99::setOffColor(const QColor &color)
{
    m_offColor = color;
    update();
}

void TLCD99::setGapX(int gap)
{
    m_gapX = std::max(0, gap);
    update();
}

void TLCD99::setGapY(int gap)
{
    m_gapY = std::max(0, gap);
    update();
}

void TLCD99::setSegmentSize(int size)
{
    m_segmentSize = std::max(1, size);
    update();
}

int TLCD99::segments(QChar c)
{
    // a b c d e f g
    static constexpr std::array<int, 10> digits{
        0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    if (c.isDigit() && c.unicode() < 0x80)
        return digits[static_cast<std::size_t>(c.unicode() - u'0')];
    if (c == QLatin1Char('-'))
        return 0x40;
    return 0;
}

void TLCD99::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), m_color);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);

    const qreal cellWidth = qreal(width() - 2 * m_gapX) / m_digitNum;
    const qreal h = height() - 2 * m_gapY;
    if (cellWidth <= 0 || h <= 0)
        return;
    // Each cell keeps a small space to its neighbour; the bars are t thick.
    const qreal space = m_digitNum > 1 ? cellWidth * 0.15 : 0;
    const qreal w = cellWidth - space;
    const qreal t = std::min<qreal>(m_segmentSize, std::min(w, h) / 3);
    const qreal half = t / 2;

    // A bar between two points with pointed ends.
    const auto bar = [half](QPointF a, QPointF b) {
        const bool horizontal = qFuzzyCompare(a.y(), b.y());
        QPolygonF poly;
        if (horizontal) {
            poly << a << QPointF(a.x() + half, a.y() - half) << QPointF(b.x() - half, b.y() - half)
                 << b << QPointF(b.x() - half, b.y() + half) << QPointF(a.x() + half, a.y() + half);
        } else {
            poly << a << QPointF(a.x() + half, a.y() + half) << QPointF(b.x() + half, b.y() - half)
                 << b << QPointF(b.x() - half, b.y() - half) << QPointF(a.x() - half, a.y() + half);
        }
        return poly;
    };

    // The text is right-aligned; what does not fit is cut off on the left.
    const QString text = m_value.right(m_digitNum);
    const int blanks = m_digitNum - int(text.size());
    for (int cell = 0; cell < m_digitNum; ++cell) {
        const int lit = cell < blanks ? 0 : segments(text.at(cell - blanks));
        const qreal x0 = m_gapX + cell * cellWidth + space / 2 + half;
        const qreal x1 = x0 + w - t;
        const qreal y0 = m_gapY + half;
        const qreal y2 = m_gapY + h - half;
        const qreal y1 = (y0 + y2) / 2;
        const std::array<QPolygonF, 7> segments{
            bar({x0, y0}, {x1, y0}), // a
            bar({x1, y0}, {x1, y1}), // b
            bar({x1, y1}, {x1, y2}), // c
            bar({x0, y2}, {x1, y2}), // d
            bar({x0, y1}, {x0, y2}), // e
            bar({x0, y0}, {x0, y1}), // f
            bar({x0, y1}, {x1, y1}), // g
        };
        for (int s = 0; s < 7; ++s) {
            p.setBrush((lit >> s) & 1 ? m_onColor : m_offColor);
            p.drawPolygon(segments[static_cast<std::size_t>(s)]);
        }
    }
}
