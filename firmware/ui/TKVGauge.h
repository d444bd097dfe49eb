#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QImage;

// Horizontal progress gauge (the FW page's tsgFWProgress): a frame, a bar filled from the
// left, and a text that reads inverted where the bar covers it. Painted off-screen first so
// that a repaint at every block never flickers.
class TKVGauge final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TKVGauge)
    Q_PROPERTY(TKVOUTLINE OutLine READ OutLine WRITE setOutLine)
    Q_PROPERTY(bool Transparent READ Transparent WRITE setTransparent)
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
    Q_PROPERTY(TKVTXTALIGN TxtAlign READ TxtAlign WRITE setTxtAlign)
    Q_PROPERTY(bool ShowText READ ShowText WRITE setShowText)
    Q_PROPERTY(bool ShowPercent READ ShowPercent WRITE setShowPercent)
    Q_PROPERTY(int Progress READ Progress WRITE setProgress)
    Q_PROPERTY(int MinValue READ MinValue WRITE setMinValue)
    Q_PROPERTY(int MaxValue READ MaxValue WRITE setMaxValue)
    Q_PROPERTY(QColor FrontColor READ FrontColor WRITE setFrontColor)
    Q_PROPERTY(QColor BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(QColor BorderColor READ BorderColor WRITE setBorderColor)
    Q_PROPERTY(QColor Frame3DTopColor READ Frame3DTopColor WRITE setFrame3DTopColor)
    Q_PROPERTY(QColor Frame3DBottomColor READ Frame3DBottomColor WRITE setFrame3DBottomColor)
public:
    enum TKVOUTLINE { ol3D, olFLAT };
    Q_ENUM(TKVOUTLINE)
    enum TKVTXTALIGN { ttaLEFT, ttaCENTER, ttaRIGHT };
    Q_ENUM(TKVTXTALIGN)

    explicit TKVGauge(QWidget *parent = nullptr);

    TKVOUTLINE OutLine() const { return m_outLine; }
    void setOutLine(TKVOUTLINE outLine);
    bool Transparent() const { return m_transparent; }
    void setTransparent(bool transparent);
    QString Caption() const { return m_caption; }
    void setCaption(const QString &caption);
    TKVTXTALIGN TxtAlign() const { return m_txtAlign; }
    void setTxtAlign(TKVTXTALIGN align);
    bool ShowText() const { return m_showText; }
    void setShowText(bool show);
    bool ShowPercent() const { return m_showPercent; }
    void setShowPercent(bool show);

    // The three setters below check the value; a wrong one is reported in a message box
    // titled "Error" and the old value stays.
    int Progress() const { return m_progress; }
    void setProgress(int progress);
    int MinValue() const { return m_minValue; }
    void setMinValue(int value);
    int MaxValue() const { return m_maxValue; }
    void setMaxValue(int value);

    QColor FrontColor() const { return m_frontColor; }
    void setFrontColor(const QColor &color);
    QColor BackColor() const { return m_backColor; }
    void setBackColor(const QColor &color);
    QColor BorderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &color);
    QColor Frame3DTopColor() const { return m_frame3DTopColor; }
    void setFrame3DTopColor(const QColor &color);
    QColor Frame3DBottomColor() const { return m_frame3DBottomColor; }
    void setFrame3DBottomColor(const QColor &color);

    // Percent of the range covered, 0..100.
    int percent() const;
    // The text the gauge draws (whether or not ShowText is on).
    QString displayText() const;
    // The picture the gauge shows, at its current size.
    QImage renderImage() const;

    QSize sizeHint() const override { return {300, 24}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refuse(const QString &why);
    template<typename T>
    void change(T &member, const T &value);

    TKVOUTLINE m_outLine = olFLAT;
    bool m_transparent = false;
    QString m_caption = QStringLiteral("Korvane Component");
    TKVTXTALIGN m_txtAlign = ttaCENTER;
    bool m_showText = true;
    bool m_showPercent = true;
    int m_progress = 0;
    int m_minValue = 0;
    int m_maxValue = 100;
    QColor m_frontColor = Qt::black;
    QColor m_backColor = Qt::white;
    QColor m_borderColor = Qt::black;
    QColor m_frame3DTopColor;
    QColor m_frame3DBottomColor = Qt::white;
};
