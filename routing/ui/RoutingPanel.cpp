#include "RoutingPanel.h"

#include "DeviceProtocol.h"
#include "PageServices.h"
#include "ShellState.h"
#include "TLCD99.h"
#include "TfrmShowInOutInfo.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTreeWidget>

#include <cstdlib>

namespace {

constexpr char GroupIndex[] = "groupIndex";
constexpr char Tag[] = "tag";

QString idleNote()
{
    return QStringLiteral("Output from Input");
}

struct MenuItem
{
    const char *name;
    const char *caption;
    int count;
    bool visible;
};

} // namespace

RoutingPanel::RoutingPanel(const Widgets &widgets, PageServices &services)
    : m_w(widgets), m_services(services)
{
    QWidget *window = m_w.page->window();
    m_info = new TfrmShowInOutInfo(window);

    m_pm = new QMenu(window);
    m_pm->setObjectName(QStringLiteral("pm"));
    static constexpr MenuItem items[] = {
        {"mnuAllOutputs", "All Outputs", RouteRules::AllOutputsAsBuilt, true},
        {"N1", nullptr, 0, true},
        {"N1Output1", "1 Output", 1, true},
        {"o21", "2 Outputs", 2, true},
        {"N3Outputs1", "3 Outputs", 3, true},
        {"N4Outputs1", "4 Outputs", 4, true},
        {"N5Outputs1", "5 Outputs", 5, true},
        {"N6Outputs1", "6 Outputs", 6, false},
        {"N7Outputs1", "7 Outputs", 7, false},
        {"PorttoPort1", "Port to Port", RouteRules::PortToPort, true},
    };
    for (const MenuItem &item : items) {
        QAction *action
            = item.caption ? m_pm->addAction(QLatin1String(item.caption)) : m_pm->addSeparator();
        action->setObjectName(QLatin1String(item.name));
        action->setData(item.count);
        action->setVisible(item.visible);
        if (!m_allOutputs)
            m_allOutputs = action;
    }
    connect(m_pm, &QMenu::triggered, this, &RoutingPanel::mnuAllOutputsClick);
    connect(m_pm, &QMenu::aboutToShow, this, &RoutingPanel::pmPopup);

    const auto buttons = m_w.routes->findChildren<QAbstractButton *>();
    for (QAbstractButton *button : buttons) {
        if (!button->property(GroupIndex).isValid())
            continue;
        button->setMouseTracking(true);
        button->installEventFilter(this);
        if (number(button, GroupIndex) == 0) {
            connect(button, &QAbstractButton::clicked, this,
                [this, button] { sbPreviousClick(button); });
            continue;
        }
        connect(
            button, &QAbstractButton::clicked, this, [this, button] { sbSetInputClick(button); });
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QWidget::customContextMenuRequested, this,
            [this, button](const QPoint &position) {
                m_hovered = button;
                m_pm->popup(button->mapToGlobal(position));
            });
    }

    // Moving over anything around the buttons ends the note and the pop-up.
    QList<QWidget *> around{m_w.page, m_w.routes, m_w.note, m_w.presets};
    around.append(m_w.around);
    for (int output = 1; output <= 8; ++output) {
        if (TLCD99 *display = FindOutputDisplay(output))
            around.append(display->parentWidget());
    }
    around.append(m_w.presets->viewport());
    trackMoves(around);
    // A dialog or message box over the window, or another window taking over, must not sit
    // beneath the pop-up.
    window->installEventFilter(this);
    m_info->installEventFilter(this);
}

void RoutingPanel::trackMoves(const QList<QWidget *> &widgets)
{
    for (QWidget *w : widgets) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
}

RoutingPanel::~RoutingPanel() = default;

int RoutingPanel::number(const QObject *control, const char *name)
{
    bool ok = false;
    const int n = control->property(name).toInt(&ok);
    return ok ? n : -1;
}

QAbstractButton *RoutingPanel::FindInputButton(int output, int input) const
{
    const auto buttons = m_w.routes->findChildren<QAbstractButton *>();
    for (QAbstractButton *button : buttons) {
        if (button->property(GroupIndex).isValid() && number(button, GroupIndex) == output
            && output > 0 && number(button, Tag) == input)
            return button;
    }
    return nullptr;
}

TLCD99 *RoutingPanel::FindOutputDisplay(int output) const
{
    const auto displays = m_w.routes->findChildren<TLCD99 *>();
    for (TLCD99 *display : displays) {
        if (number(display, Tag) == output)
            return display;
    }
    return nullptr;
}

int RoutingPanel::currentInput(int output) const
{
    const TLCD99 *display = FindOutputDisplay(output);
    return display ? display->Value().toInt() : 0;
}

void RoutingPanel::FormShow()
{
    for (int output = 1; output <= DeviceProtocol::PortCount; ++output) {
        if (TLCD99 *display = FindOutputDisplay(output))
            display->setDigitNum(1);
    }
    m_allOutputs->setData(DeviceProtocol::PortCount);
}

void RoutingPanel::showRoute(int output, int input)
{
    TLCD99 *display = FindOutputDisplay(output);
    if (!display)
        return;
    // A one-digit display would show only the last digit of 12; a number the switcher has no
    // input for is no route the operator can act on.
    const bool known = RouteRules::isPort(input);
    display->setValue(known ? QString::number(input) : RouteRules::unknownRouteValue());
    display->repaint();
    if (QAbstractButton *button = known ? FindInputButton(output, input) : nullptr) {
        button->setChecked(true);
        button->repaint();
        return;
    }
    for (int n = 1; n <= 8; ++n) {
        if (QAbstractButton *other = FindInputButton(output, n)) {
            const bool exclusive = other->autoExclusive();
            other->setAutoExclusive(false);
            other->setChecked(false);
            other->setAutoExclusive(exclusive);
        }
    }
}

void RoutingPanel::showUnknownRoutes()
{
    for (int output = 1; output <= DeviceProtocol::PortCount; ++output)
        showRoute(output, 0);
}

bool RoutingPanel::setRoute(int output, int input)
{
    QAbstractButton *button = RouteRules::isPort(input) ? FindInputButton(output, input) : nullptr;
    if (!button)
        return false;
    return switchRoute(button);
}

void RoutingPanel::sbSetInputClick(QAbstractButton *button)
{
    switchRoute(button);
}

bool RoutingPanel::switchRoute(QAbstractButton *button)
{
    const int output = number(button, GroupIndex);
    const int input = number(button, Tag);
    TLCD99 *display = FindOutputDisplay(output);
    if (!display || output < 1)
        return false;
    const int previous = currentInput(output);

    // The operator sees the new route at once and sees it revert if the switcher refuses.
    button->setChecked(true);
    button->repaint();
    display->setValue(QString::number(input));
    display->repaint();

    if (m_services.switcher().setRoute(input, output).ok())
        return true;
    showRoute(output, previous);
    m_services.state().RouteFailed = true;
    return false;
}

void RoutingPanel::sbPreviousClick(QAbstractButton *button)
{
    const int stepTag = number(button, Tag);
    const int output = RouteRules::stepOutput(stepTag);
    if (!RouteRules::isPort(output))
        return;
    const int input = RouteRules::stepInput(currentInput(output), RouteRules::stepIsNext(stepTag));
    if (QAbstractButton *target = FindInputButton(output, input))
        sbSetInputClick(target);
}

void RoutingPanel::mnuAllOutputsClick(QAction *item)
{
    ShellState &state = m_services.state();
    state.RouteFailed = false;
    QAbstractButton *hovered = m_hovered;
    if (!hovered || number(hovered, GroupIndex) < 1)
        return;
    const int count = item->data().toInt();
    const int clickedInput = number(hovered, Tag);
    const RouteRules::OutputRange range = RouteRules::menuRange(count, number(hovered, GroupIndex));
    for (int output = range.first; output <= range.last; ++output) {
        QAbstractButton *button
            = FindInputButton(output, RouteRules::menuInput(count, output, clickedInput));
        if (!button)
            break;
        button->setChecked(true);
        sbSetInputClick(button);
        if (state.RouteFailed)
            break;
    }
}

void RoutingPanel::tsSettingShow()
{
    ReadRoutes();
}

void RoutingPanel::ReadRoutes()
{
    if (!m_services.state().PowerOn)
        return;
    QTreeWidget *presets = m_w.presets;
    if (presets->topLevelItemCount() > 0 && presets->selectedItems().isEmpty())
        presets->setCurrentItem(presets->topLevelItem(0));
    m_w.page->repaint();
    for (int output = 1; output <= DeviceProtocol::PortCount; ++output) {
        const SwitcherResult<int> route = m_services.switcher().route(output);
        if (!route.ok())
            break;
        showRoute(output, route.value);
    }
    m_w.page->repaint();
}

QString RoutingPanel::tag(bool input, int port) const
{
    return m_tags ? m_tags(input, port) : QString();
}

bool RoutingPanel::BuildPortInfo()
{
    bool any = false;
    m_info->setLines(
        RouteRules::portInfoLines([this](bool input, int port) { return tag(input, port); }, &any));
    return any;
}

void RoutingPanel::sbSetInputMouseMove(QAbstractButton *button, const QPoint &position)
{
    m_hovered = button;
    const int group = number(button, GroupIndex);
    const bool step = group == 0;
    const int output = step ? RouteRules::stepOutput(number(button, Tag)) : group;
    const int input = step ? currentInput(output) : number(button, Tag);
    m_w.note->setText(step && !RouteRules::isPort(input)
            ? RouteRules::unknownNoteText(output)
            : RouteRules::noteText(
                output, input, [this](bool in, int port) { return tag(in, port); }));
    const bool anyTag = BuildPortInfo();
    if (anyTag && m_displayTags && m_displayTags() && !step)
        m_info->showNear(button->mapToGlobal(position));
}

void RoutingPanel::gbOutput1MouseMove()
{
    m_w.note->setText(idleNote());
    closeInfo();
}

void RoutingPanel::pmPopup()
{
    closeInfo();
}

void RoutingPanel::closeInfo()
{
    if (m_info->isVisible())
        m_info->close();
}

QAbstractButton *RoutingPanel::neighbour(QAbstractButton *from, int key) const
{
    const int output = number(from, GroupIndex);
    const int input = number(from, Tag);
    const auto usable = [from](const QAbstractButton *b) {
        return b && b != from && !b->isHidden() && b->isEnabled();
    };
    // Left and right go through the inputs in their order, from one row to the next.
    if (key == Qt::Key_Left || key == Qt::Key_Right) {
        const int step = key == Qt::Key_Right ? 1 : -1;
        for (int n = input + step; n >= 1 && n <= 8; n += step) {
            if (QAbstractButton *b = FindInputButton(output, n); usable(b))
                return b;
        }
        return nullptr;
    }
    // Up and down go to the nearest button of the row above or below.
    const bool down = key == Qt::Key_Down;
    const QRect here = from->geometry();
    QAbstractButton *best = nullptr;
    int bestRows = 0;
    int bestColumns = 0;
    for (int n = 1; n <= 8; ++n) {
        QAbstractButton *b = FindInputButton(output, n);
        if (!usable(b))
            continue;
        const QRect there = b->geometry();
        if (down ? there.top() <= here.bottom() : there.bottom() >= here.top())
            continue;
        const int rows = std::abs(there.center().y() - here.center().y());
        const int columns = std::abs(there.center().x() - here.center().x());
        if (!best || rows < bestRows || (rows == bestRows && columns < bestColumns)) {
            best = b;
            bestRows = rows;
            bestColumns = columns;
        }
    }
    return best;
}

bool RoutingPanel::eventFilter(QObject *watched, QEvent *event)
{
    // A window coming back from the taskbar shows its pages again; that is no page change.
    if (event->type() == QEvent::Show && !event->spontaneous() && watched == m_w.page) {
        // Reading waits for replies; it runs once the page change has finished.
        QMetaObject::invokeMethod(this, &RoutingPanel::tsSettingShow, Qt::QueuedConnection);
    } else if (watched == m_w.page && event->type() == QEvent::Hide) {
        // Another page: the pop-up would cover its controls.
        closeInfo();
    } else if (watched == m_info->parentWidget() && event->type() == QEvent::WindowBlocked) {
        // A modal box blocks the pointer moves that would close the pop-up, and a stay-on-top
        // pop-up would hide it.
        closeInfo();
    } else if ((watched == m_info->parentWidget() || watched == m_info)
        && event->type() == QEvent::WindowDeactivate) {
        // Some window systems activate the pop-up as it shows; only a window other than these
        // two taking over ends it.
        const QWidget *active = QApplication::activeWindow();
        if (active != m_info->parentWidget() && active != m_info)
            closeInfo();
    } else if (event->type() == QEvent::KeyPress) {
        // The input buttons of an output are exclusive, and Qt checks the neighbour an arrow
        // moves to: a live route. Arrows only move the focus; Space routes as a click does.
        auto *button = qobject_cast<QAbstractButton *>(watched);
        const int key = static_cast<QKeyEvent *>(event)->key();
        const bool arrow = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up
            || key == Qt::Key_Down;
        if (arrow && button && number(button, GroupIndex) > 0) {
            if (QAbstractButton *next = neighbour(button, key))
                next->setFocus(key == Qt::Key_Left || key == Qt::Key_Up ? Qt::BacktabFocusReason
                                                                        : Qt::TabFocusReason);
            return true;
        }
    } else if (event->type() == QEvent::MouseMove) {
        auto *button = qobject_cast<QAbstractButton *>(watched);
        if (button && button->property(GroupIndex).isValid()) {
            const auto *move = static_cast<QMouseEvent *>(event);
            sbSetInputMouseMove(button, move->position().toPoint());
            // A move without a pressed button would otherwise reach the group below and end
            // the note at once.
            return move->buttons() == Qt::NoButton;
        }
        gbOutput1MouseMove();
    }
    return QObject::eventFilter(watched, event);
}
