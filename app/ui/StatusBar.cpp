#include "StatusBar.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QStatusBar>
#include <QThread>

namespace {

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

// Panel 2: painted by hand so that its colours follow StatusAlert rather than the style.
class AlertPanel final : public QWidget
{
    Q_OBJECT
    // What the panel shows, for those who read the window's texts by name.
    Q_PROPERTY(QString text READ text)
public:
    using QWidget::QWidget;

    QString text() const { return m_text; }
    void setText(const QString &text) { m_text = text; }
    bool alert() const { return m_alert; }
    void setAlert(bool alert) { m_alert = alert; }

    QSize sizeHint() const override { return {width(), fontMetrics().height() + 2}; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_alert ? QColor(Qt::red) : palette().color(QPalette::Button));
        painter.setPen(m_alert ? Qt::white : Qt::black);
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, m_text);
    }

private:
    QString m_text;
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
    setWholeTextTip(m_alertPanel, text, m_alertPanel->width());
    if (!blink) {
        m_alertPanel->setText(text);
        m_alertPanel->repaint();
        return;
    }
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
