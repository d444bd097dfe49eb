#include "StatusBar.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QStatusBar>
#include <QThread>

#include <algorithm>

namespace {

// A wait that spins ends its text with "..." and a turning character: "... /", "... -", ...
qsizetype spinnerAt(const QString &text)
{
    static const QRegularExpression spinning(QStringLiteral("\\.\\.\\. ?([/\\-\\\\|])$"));
    const QRegularExpressionMatch match = spinning.match(text);
    return match.hasMatch() ? match.capturedStart(1) : -1;
}

// A text longer than its panel is cut at the panel's edge; the panel's tooltip then shows it
// whole, as plain text like the panel itself.
void setWholeTextTip(QWidget *panel, const QString &text, int room)
{
    QString tip;
    if (QFontMetricsF(panel->font()).horizontalAdvance(text) > room)
        tip = Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text) : text;
    panel->setToolTip(tip);
}

} // namespace

// Panel 2: painted by hand so that its colours follow StatusAlert rather than the style. While
// a wait spins, its turning character has a slot of its own at the panel's right end, so that
// it shows however long the text before it is; that text is cut at the slot.
class AlertPanel final : public QWidget
{
    Q_OBJECT
    // What the panel shows, for those who read the window's texts by name.
    Q_PROPERTY(QString text READ text)
    // Where the turning character of a spinning wait is drawn; empty when the text spins not.
    Q_PROPERTY(QRect spinnerRect READ spinnerRect)
public:
    using QWidget::QWidget;

    QString text() const { return m_text; }
    void setText(const QString &text)
    {
        m_text = text;
        m_spinner = spinnerAt(text);
    }
    bool alert() const { return m_alert; }
    void setAlert(bool alert) { m_alert = alert; }
    bool spins() const { return m_spinner >= 0; }
    // The text without its turning character.
    QString steadyText() const { return spins() ? m_text.left(m_spinner).trimmed() : m_text; }
    QRect spinnerRect() const
    {
        if (!spins())
            return {};
        // Wide enough for each of the four characters, with a little air on either side.
        const QFontMetrics metrics = fontMetrics();
        int widest = 0;
        for (const QChar c : {u'/', u'-', u'\\', u'|'})
            widest = std::max(widest, metrics.horizontalAdvance(c));
        const int slot = widest + 2 * SpinnerAir;
        return {width() - slot, 0, slot, height()};
    }
    // The room of the text: the panel, less the spinner's slot while it spins.
    int textRoom() const { return spins() ? spinnerRect().left() : width(); }

    QSize sizeHint() const override { return {width(), fontMetrics().height() + 2}; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_alert ? QColor(Qt::red) : palette().color(QPalette::Button));
        painter.setPen(m_alert ? Qt::white : Qt::black);
        if (!spins()) {
            painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, m_text);
            return;
        }
        const QRect slot = spinnerRect();
        painter.drawText(slot, Qt::AlignHCenter | Qt::AlignTop, m_text.mid(m_spinner, 1));
        painter.setClipRect(0, 0, slot.left(), height());
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, m_text.left(m_spinner));
    }

private:
    static constexpr int SpinnerAir = 3;

    QString m_text;
    qsizetype m_spinner = -1;
    bool m_alert = false;
};

StatusBar::StatusBar(
    QStatusBar *bar, std::function<bool()> stopRequested, std::function<int()> blinkMs)
    : m_stopRequested(std::move(stopRequested)), m_blinkMs(std::move(blinkMs))
{
    for (int i = 0; i < PanelCount; ++i) {
        QWidget *panel = nullptr;
        if (i == 1) {
            m_alertPanel = new AlertPanel(bar);
            panel = m_alertPanel;
        } else {
            auto *label = new QLabel(bar);
            label->setFrameShape(QFrame::Panel);
            label->setFrameShadow(QFrame::Sunken);
            label->setTextFormat(Qt::PlainText);
            if (i == 3)
                label->setAlignment(Qt::AlignCenter);
            m_labels[size_t(i)] = label;
            panel = label;
        }
        panel->setObjectName(QStringLiteral("sbPanel") + QString::number(i + 1));
        panel->setFixedWidth(PanelWidths[size_t(i)]);
        bar->addWidget(panel);
    }
}

QLabel *StatusBar::label(int panel) const
{
    return panel >= 1 && panel <= PanelCount ? m_labels[size_t(panel - 1)] : nullptr;
}

QString StatusBar::text(int panel) const
{
    if (panel == 2)
        return m_alertPanel->text();
    const QLabel *l = label(panel);
    return l ? l->text() : QString();
}

bool StatusBar::alert() const
{
    return m_alertPanel->alert();
}

bool StatusBar::spinning() const
{
    return m_alertPanel->spins();
}

void StatusBar::ShowStatus(int panel, const QString &text, bool blink)
{
    if (panel != 2) {
        QLabel *l = label(panel);
        if (l && l->text() != text) {
            l->setText(text);
            setWholeTextTip(l, text, l->contentsRect().width() - 2 * l->margin());
        }
        return;
    }

    m_alertPanel->setAlert(false);
    if (!blink) {
        m_alertPanel->setText(text);
        // A spinning wait's tip is its text without the turning character, which the panel
        // always shows.
        setWholeTextTip(m_alertPanel, m_alertPanel->steadyText(), m_alertPanel->textRoom());
        m_alertPanel->repaint();
        return;
    }
    setWholeTextTip(m_alertPanel, text, m_alertPanel->width());
    if (m_stopRequested())
        return;
    // The blink holds the window on purpose: nothing else may be handled while it runs.
    const auto step = [this, &text] {
        m_alertPanel->setText(text);
        m_alertPanel->repaint();
        QThread::msleep(static_cast<unsigned long>(m_blinkMs()));
    };
    step();
    for (int i = 0; i < 5; ++i) {
        m_alertPanel->setAlert(!m_alertPanel->alert());
        step();
    }
}

#include "StatusBar.moc"
