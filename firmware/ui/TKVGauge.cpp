#include "TKVGauge.h"

#include <QImage>
#include <QMessageBox>
#include <QPainter>

#include <algorithm>

TKVGauge::TKVGauge(QWidget *parent) : QWidget(parent)
{
    m_frame3DTopColor = palette().color(QPalette::Shadow);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(300, 24);
}

template<typename T>
void TKVGauge::change(T &member, const T &value)
{
    if (member == value)
        return;
    member = value;
    update();
}

void TKVGauge::setOutLine(TKVOUTLINE outLine)
{
    m_outLine = outLine;
    update();
}

void TKVGauge::setTransparent(bool transparent)
{
    m_transparent = transparent;
    // What lies behind shows through the frame; the parent must paint it first.
    setAttribute(Qt::WA_OpaquePaintEvent, !transparent);
    update();
}

void TKVGauge::setCaption(const QString &caption)
{
    change(m_caption, caption);
}

void TKVGauge::setTxtAlign(TKVTXTALIGN align)
{
    change(m_txtAlign, align);
}

void TKVGauge::setShowText(bool show)
{
    change(m_showText, show);
}

void TKVGauge::setShowPercent(bool show)
{
    change(m_showPercent, show);
}

void TKVGauge::setFrontColor(const QColor &color)
{
    change(m_frontColor, color);
}

void TKVGauge::setBackColor(const QColor &color)
{
    change(m_backColor, color);
}

void TKVGauge::setBorderColor(const QColor &color)
{
    change(m_borderColor, color);
}

void TKVGauge::setFrame3DTopColor(const QColor &color)
{
    change(m_frame3DTopColor, color);
}

void TKVGauge::setFrame3DBottomColor(const QColor &color)
{
    change(m_frame3DBottomColor, color);
}

void TKVGauge::refuse(const QString &why)
{
    QMessageBox::critical(this, QStringLiteral("Error"), why);
}

void TKVGauge::setProgress(int progress)
{
    if (progress < 0)
        return refuse(QStringLiteral("Value must be greater than 0."));
    if (progress < m_minValue)
        return refuse(QStringLiteral("Value is less than MinValue."));
    if (progress > m_maxValue)
        return refuse(QStringLiteral("Value is greater than MaxValue."));
    m_progress = progress;
    // At once: the upgrade moves the gauge between blocks, without returning to the loop.
    repaint();
}

void TKVGauge::setMinValue(int value)
{
    if (value < 0)
        return refuse(QStringLiteral("Value must be greater than 0."));
    if (value >= m_maxValue)
        return refuse(QStringLiteral("Value is greater than or equal to MaxValue."));
    change(m_minValue, value);
}

void TKVGauge::setMaxValue(int value)
{
    if (value < 0)
        return refuse(QStringLiteral("Value must be greater than 0."));
    if (value <= m_minValue)
        return refuse(QStringLiteral("Value is less than or equal to MinValue."));
    change(m_maxValue, value);
}

int TKVGauge::percent() const
{
    // Measured from MinValue, so that a range that does not start at 0 still reads 0..100.
    // The setters keep MinValue <= Progress <= MaxValue and MinValue < MaxValue.
    const qint64 span = m_maxValue - m_minValue;
    return static_cast<int>((static_cast<qint64>(m_progress) - m_minValue) * 100 / span);
}

QString TKVGauge::displayText() const
{
    if (!m_showPercent)
        return m_caption;
    const QString percentText = QString::number(percent()) + QLatin1Char('%');
    return m_caption.isEmpty() ? percentText : m_caption + QLatin1Char(' ') + percentText;
}

QImage TKVGauge::renderImage() const
{
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    // A transparent gauge leaves untouched what its frame does not cover.
    image.fill(m_transparent ? QColor(Qt::transparent) : m_backColor);
    if (image.isNull())
        return image;

    QPainter p(&image);
    p.setFont(font());
    QRect r = image.rect();
    if (m_outLine == ol3D) {
        // One-pixel 3-D frame: top and left in the top colour, bottom and right in the bottom
        // colour; the inside is filled.
        p.setPen(m_frame3DTopColor);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(m_frame3DBottomColor);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        r.adjust(1, 1, -1, -1);
        if (!m_transparent)
            p.fillRect(r, m_backColor);
    } else {
        p.setPen(m_borderColor);
        p.setBrush(m_transparent ? QBrush(Qt::NoBrush) : QBrush(m_backColor));
        p.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    }

    const qint64 span = m_maxValue - m_minValue;
    const int barWidth = static_cast<int>(std::clamp<qint64>(
        r.width() * (static_cast<qint64>(m_progress) - m_minValue) / span, 0, r.width()));
    const QRect bar(r.left(), r.top(), barWidth, r.height());
    p.fillRect(bar, m_frontColor);

    if (m_showText) {
        static constexpr Qt::Alignment Horizontal[]
            = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
        const int flags = Horizontal[m_txtAlign] | Qt::AlignVCenter | Qt::TextSingleLine;
        const QString text = displayText();
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r, flags, text);
        // The part of the text over the bar, in the background colour, so it stays legible.
        p.setClipRect(bar);
        p.setPen(m_backColor);
        p.drawText(r, flags, text);
    }
    return image;
}

void TKVGauge::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawImage(0, 0, renderImage());
}
