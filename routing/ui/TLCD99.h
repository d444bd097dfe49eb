#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

// A seven-segment display of decimal digits: lit segments in OnColor, unlit ones in OffColor,
// on a Color background, GapX/GapY pixels from the edges. The text is right-aligned in
// DigitNum positions; characters other than digits show as blanks.
class TLCD99 final : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString Value READ Value WRITE setValue)
    Q_PROPERTY(int DigitNum READ DigitNum WRITE setDigitNum)
    Q_PROPERTY(QColor Color READ Color WRITE setColor)
    Q_PROPERTY(QColor OnColor READ OnColor WRITE setOnColor)
    Q_PROPERTY(QColor OffColor READ OffColor WRITE setOffColor)
    Q_PROPERTY(int GapX READ GapX WRITE setGapX)
    Q_PROPERTY(int GapY READ GapY WRITE setGapY)
    Q_PROPERTY(int SegmentSize READ SegmentSize WRITE setSegmentSize)
    Q_DISABLE_COPY_MOVE(TLCD99)
public:
    explicit TLCD99(QWidget *parent = nullptr);

    QString Value() const { return m_value; }
    void setValue(const QString &value);
    int DigitNum() const { return m_digitNum; }
    void setDigitNum(int digits);
    QColor Color() const { return m_color; }
    void setColor(const QColor &color);
    QColor OnColor() const { return m_onColor; }
    void setOnColor(const QColor &color);
    QColor OffColor() const { return m_offColor; }
    void setOffColor(const QColor &color);
    int GapX() const { return m_gapX; }
    void setGapX(int gap);
    int GapY() const { return m_gapY; }
    void setGapY(int gap);
    int SegmentSize() const { return m_segmentSize; }
    void setSegmentSize(int size);

    // Segments a..g (bit 0 = a, top; clockwise; g the middle bar) lit for a character.
    static int segments(QChar c);

    QSize sizeHint() const override { return {81, 89}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_value;
    int m_digitNum = 4;
    QColor m_color = Qt::black;
    QColor m_onColor = Qt::red;
    QColor m_offColor = Qt::black;
    int m_gapX = 3;
    int m_gapY = 3;
    int m_segmentSize = 10;
};
