#pragma once

// Walks a window's visible controls and measures every text they show against the room the
// control gives it, by the metrics of the font the control draws it in. A text that needs more
// room than it has is cut or elided on the screen: each such text is reported as one line
// "objectName 'text' needs WxH, has WxH".

#include "TKVGauge.h"

#include <QAbstractItemView>
#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QToolButton>

#include <algorithm>

namespace FitCheck {

inline QString describe(const QWidget *w, const QString &text, QSize need, QSize room)
{
    return QStringLiteral("%1 '%2' needs %3x%4, has %5x%6")
        .arg(w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                       : w->objectName(),
            text)
        .arg(need.width())
        .arg(need.height())
        .arg(room.width())
        .arg(room.height());
}

inline bool fits(QSize need, QSize room)
{
    return need.width() <= room.width() && need.height() <= room.height();
}

// The size a single- or multi-line text takes, '&' taken as a mnemonic where the control does.
inline QSize textSize(const QFont &font, const QString &text, int flags = Qt::TextShowMnemonic)
{
    return QFontMetrics(font).size(flags, text);
}

// A label's text in its contents rectangle, as QLabel lays it out (plain or rich, wrapped or not).
inline QSize labelNeed(const QLabel *label, const QRect &room)
{
    const bool rich = label->textFormat() == Qt::RichText
        || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
    if (rich) {
        QTextDocument doc;
        doc.setDefaultFont(label->font());
        doc.setDocumentMargin(0);
        doc.setHtml(label->text());
        if (label->wordWrap())
            doc.setTextWidth(room.width());
        return doc.documentLayout()->documentSize().toSize();
    }
    int flags = int(label->alignment()) | Qt::TextShowMnemonic;
    if (label->wordWrap())
        flags |= Qt::TextWordWrap;
    return QFontMetrics(label->font()).boundingRect(room, flags, label->text()).size();
}

inline void checkLabel(const QLabel *label, QStringList &misfits)
{
    if (label->text().isEmpty())
        return;
    const int inset = label->margin() + std::max(label->indent(), 0);
    const QRect room
        = label->contentsRect().adjusted(inset, label->margin(), -inset, -label->margin());
    const QSize need = labelNeed(label, room);
    if (fits(need, room.size()))
        return;
    // A fixed-width status panel shows a longer text whole in its tooltip.
    if (label->objectName().startsWith(QLatin1String("sbPanel"))
        && QTextDocumentFragment::fromHtml(label->toolTip()).toPlainText() == label->text()
        && need.height() <= room.height())
        return;
    misfits.append(describe(label, label->text(), need, room.size()));
}

inline void checkButton(QAbstractButton *button, QStringList &misfits)
{
    if (button->text().isEmpty())
        return;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    QStyle::SubElement contents = QStyle::SE_PushButtonContents;
    if (qobject_cast<QCheckBox *>(button))
        contents = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<QRadioButton *>(button))
        contents = QStyle::SE_RadioButtonContents;
    QRect room = button->style()->subElementRect(contents, &option, button);
    if (auto *tool = qobject_cast<QToolButton *>(button)) {
        if (tool->toolButtonStyle() == Qt::ToolButtonIconOnly && !tool->icon().isNull())
            return;
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
        room = button->rect().adjusted(margin / 2, margin / 2, -margin / 2, -margin / 2);
    }
    QSize need = textSize(button->font(), button->text());
    if (!button->icon().isNull() && contents == QStyle::SE_PushButtonContents)
        need.rwidth() += button->iconSize().width() + 4;
    if (!fits(need, room.size()))
        misfits.append(describe(button, button->text(), need, room.size()));
}

inline void checkGroupBox(const QGroupBox *box, QStringList &misfits)
{
    if (box->title().isEmpty())
        return;
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.lineWidth = 1;
    option.midLineWidth = 0;
    option.textAlignment = box->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (box->isCheckable())
        option.subControls |= QStyle::SC_GroupBoxCheckBox;
    const QRect label
        = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    const QSize need = textSize(box->font(), box->title());
    // The style sizes the label for its text; it is cut where the box ends before it.
    const QRect room = label.intersected(box->rect());
    if (!fits(need, room.size()))
        misfits.append(describe(box, box->title(), need, room.size()));
}

inline void checkTabs(const QTabBar *tabs, QStringList &misfits)
{
    const int space = tabs->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, tabs);
    for (int i = 0; i < tabs->count(); ++i) {
        if (!tabs->isTabVisible(i))
            continue;
        QSize need = textSize(tabs->font(), tabs->tabText(i));
        need.rwidth() += space;
        const QSize room = tabs->tabRect(i).size();
        if (!fits(need, room))
            misfits.append(describe(tabs, tabs->tabText(i), need, room));
    }
}

inline void checkCombo(const QComboBox *combo, QStringList &misfits)
{
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    option.frame = combo->hasFrame();
    const QRect room = combo->style()->subControlRect(
        QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
    // Every entry, since any of them may be the one shown.
    for (int i = 0; i < combo->count(); ++i) {
        const QSize need = textSize(combo->font(), combo->itemText(i), 0);
        if (!fits(need, room.size()))
            misfits.append(describe(combo, combo->itemText(i), need, room.size()));
    }
}

inline void checkHeader(const QHeaderView *header, QStringList &misfits)
{
    if (!header->model())
        return;
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int section = 0; section < header->count(); ++section) {
        if (header->isSectionHidden(section))
            continue;
        const QString text = header->model()->headerData(section, header->orientation()).toString();
        if (text.isEmpty())
            continue;
        QSize need = textSize(header->font(), text, 0);
        need.rwidth() += 2 * margin;
        const QSize room = header->orientation() == Qt::Horizontal
            ? QSize(header->sectionSize(section), header->height())
            : QSize(header->width(), header->sectionSize(section));
        if (!fits(need, room))
            misfits.append(describe(header, text, need, room));
    }
}

// Every cell on show, by what its delegate needs to draw it whole.
inline void checkCells(QAbstractItemView *view, QStringList &misfits)
{
    const QAbstractItemModel *model = view->model();
    if (!model)
        return;
    const QRect viewport = view->viewport()->rect();
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column) {
            const QModelIndex index = model->index(row, column);
            const QRect rect = view->visualRect(index);
            const QString text = index.data().toString();
            if (text.isEmpty() || !rect.intersects(viewport))
                continue;
            QStyleOptionViewItem option;
            option.initFrom(view);
            option.font = view->font();
            option.rect = rect;
            option.features = QStyleOptionViewItem::HasDisplay;
            const QSize need = view->itemDelegateForIndex(index)->sizeHint(option, index);
            if (!fits(need, rect.size()))
                misfits.append(describe(view, text, need, rect.size()));
            else if (!viewport.contains(rect))
                misfits.append(describe(view, text, need, rect.intersected(viewport).size())
                    + QStringLiteral(" (cut by the view's edge)"));
        }
    }
}

inline void checkProgressBar(const QProgressBar *bar, QStringList &misfits)
{
    if (!bar->isTextVisible() || bar->text().isEmpty())
        return;
    QStyleOptionProgressBar option;
    option.initFrom(bar);
    option.text = bar->text();
    option.textVisible = true;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.progress = bar->value();
    const QRect room = bar->style()->subElementRect(QStyle::SE_ProgressBarLabel, &option, bar);
    const QSize need = textSize(bar->font(), bar->text(), 0);
    if (!fits(need, room.size()))
        misfits.append(describe(bar, bar->text(), need, room.size()));
}

inline void checkGauge(const TKVGauge *gauge, QStringList &misfits)
{
    if (!gauge->ShowText())
        return;
    // Inside its frame.
    const QSize room = gauge->rect().adjusted(2, 2, -2, -2).size();
    const QSize need = textSize(gauge->font(), gauge->displayText(), 0);
    if (!fits(need, room))
        misfits.append(describe(gauge, gauge->displayText(), need, room));
}

// The one text that may be cut: a wait that spins ends its text with "..." and a turning
// character. That character must show, whole, in a slot the control keeps for it at its
// right end ("spinnerRect"); the text before it may be cut at the slot when the control's
// tooltip holds that text whole.
inline bool checkSpinner(const QWidget *w, const QString &text, QStringList &misfits)
{
    static const QRegularExpression spinning(QStringLiteral("\\.\\.\\. ?([/\\-\\\\|])$"));
    const QRegularExpressionMatch match = spinning.match(text);
    if (!match.hasMatch())
        return false;
    const QString spinner = match.captured(1);
    const QString steady = text.left(match.capturedStart(1)).trimmed();
    const QRect slot = w->property("spinnerRect").toRect();
    const QSize spinnerNeed = textSize(w->font(), spinner, 0);
    if (!w->rect().contains(slot) || !fits(spinnerNeed, slot.size())) {
        misfits.append(
            describe(w, spinner, spinnerNeed, slot.size()) + QStringLiteral(" (spinner)"));
        return true;
    }
    const QSize need = textSize(w->font(), steady, 0);
    const QSize room(slot.left(), w->height());
    if (!fits(need, room)
        && !(QTextDocumentFragment::fromHtml(w->toolTip()).toPlainText() == steady
            && need.height() <= room.height()))
        misfits.append(describe(w, steady, need, room));
    return true;
}

// A control of our own that shows a text by hand says so with a "text" property.
inline void checkTextProperty(const QWidget *w, QStringList &misfits)
{
    const QString text = w->property("text").toString();
    if (text.isEmpty() || checkSpinner(w, text, misfits))
        return;
    const QSize need = textSize(w->font(), text, 0);
    if (fits(need, w->size()))
        return;
    if (QTextDocumentFragment::fromHtml(w->toolTip()).toPlainText() == text
        && need.height() <= w->height())
        return;
    misfits.append(describe(w, text, need, w->size()));
}

// The ancestor that cuts part of w away, or null when w shows whole inside its window.
inline const QWidget *clippingAncestor(const QWidget *w)
{
    QRect rect = w->rect();
    for (const QWidget *child = w; !child->isWindow(); child = child->parentWidget()) {
        rect.translate(child->pos());
        const QWidget *parent = child->parentWidget();
        if (!parent->rect().contains(rect))
            return parent;
    }
    return nullptr;
}

inline bool showsText(const QWidget *w)
{
    if (const auto *label = qobject_cast<const QLabel *>(w))
        return !label->text().isEmpty();
    if (const auto *button = qobject_cast<const QAbstractButton *>(w))
        return !button->text().isEmpty();
    if (const auto *box = qobject_cast<const QGroupBox *>(w))
        return !box->title().isEmpty();
    if (qobject_cast<const QLineEdit *>(w))
        return false;
    return qobject_cast<const QComboBox *>(w) || qobject_cast<const QTabBar *>(w)
        || qobject_cast<const QAbstractItemView *>(w) || qobject_cast<const QProgressBar *>(w)
        || qobject_cast<const TKVGauge *>(w) || !w->property("text").toString().isEmpty();
}

// Every text on show in window that does not fit its control.
inline QStringList misfits(QWidget *window)
{
    QStringList misfits;
    QList<QWidget *> widgets = window->findChildren<QWidget *>();
    widgets.prepend(window);
    for (QWidget *w : std::as_const(widgets)) {
        if (!w->isVisible() || w->window() != window)
            continue;
        if (auto *label = qobject_cast<QLabel *>(w))
            checkLabel(label, misfits);
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            checkButton(button, misfits);
        else if (auto *box = qobject_cast<QGroupBox *>(w))
            checkGroupBox(box, misfits);
        else if (auto *tabs = qobject_cast<QTabBar *>(w))
            checkTabs(tabs, misfits);
        else if (auto *combo = qobject_cast<QComboBox *>(w))
            checkCombo(combo, misfits);
        else if (auto *header = qobject_cast<QHeaderView *>(w))
            checkHeader(header, misfits);
        else if (auto *view = qobject_cast<QAbstractItemView *>(w))
            checkCells(view, misfits);
        else if (auto *bar = qobject_cast<QProgressBar *>(w))
            checkProgressBar(bar, misfits);
        else if (auto *gauge = qobject_cast<TKVGauge *>(w))
            checkGauge(gauge, misfits);
        else if (qobject_cast<QLineEdit *>(w))
            continue; // an entry field scrolls its text; it is not a caption
        else if (w->metaObject()->indexOfProperty("text") >= 0)
            checkTextProperty(w, misfits);
        // A control that fits its text is still cut where its parent ends.
        if (showsText(w)) {
            if (const QWidget *parent = clippingAncestor(w)) {
                const QRect shown = QRect(w->mapTo(parent, QPoint(0, 0)), w->size());
                misfits.append(QStringLiteral("%1 is cut by %2: %3,%4 %5x%6 outside %7x%8")
                                   .arg(w->objectName(), parent->objectName())
                                   .arg(shown.x())
                                   .arg(shown.y())
                                   .arg(shown.width())
                                   .arg(shown.height())
                                   .arg(parent->width())
                                   .arg(parent->height()));
            }
        }
    }
    return misfits;
}

} // namespace FitCheck
