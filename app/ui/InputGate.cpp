#include "InputGate.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace {

// How often a refusal looks whether its operation has ended. Operations run in loops of their
// own, which keep this timer going.
constexpr int EndWatchMs = 50;

} // namespace

InputGate::InputGate(QWidget *window, QWidget *pageTabs, std::function<bool()> busy,
    std::function<void()> refused, std::function<void()> ended, QObject *parent)
    : QObject(parent),
      m_window(window),
      m_pageTabs(pageTabs),
      m_busy(std::move(busy)),
      m_refused(std::move(refused)),
      m_ended(std::move(ended))
{
    m_endWatch.setInterval(EndWatchMs);
    connect(&m_endWatch, &QTimer::timeout, this, &InputGate::checkEnded);
    qApp->installEventFilter(this);
}

InputGate::~InputGate()
{
    qApp->removeEventFilter(this);
}

bool InputGate::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::Shortcut:
        break;
    default:
        return false;
    }
    // Events reach the window system's windows first and then their widgets: judge them once,
    // at the widget.
    if (!watched->isWidgetType() || !m_busy || !m_busy())
        return false;
    auto *target = static_cast<QWidget *>(watched);
    if (passes(target, event))
        return false;
    // The second press of a double click comes as a double click of its own.
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick
        || event->type() == QEvent::KeyPress)
        refuse();
    return true;
}

void InputGate::refuse()
{
    if (m_refused)
        m_refused();
    m_endWatch.start();
}

void InputGate::checkEnded()
{
    if (m_busy && m_busy())
        return;
    m_endWatch.stop();
    if (m_ended)
        m_ended();
}

bool InputGate::passes(QWidget *target, QEvent *event) const
{
    // A modal dialog on top of the window belongs to the operation that runs or to the close
    // question: its buttons must answer.
    const QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal != m_window && (target == modal || modal->isAncestorOf(target)))
        return true;
    if (m_pageTabs && (target == m_pageTabs || m_pageTabs->isAncestorOf(target)))
        return true;
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool pageKey = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab
            || key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown;
        if (pageKey && (key->modifiers() & Qt::ControlModifier))
            return true;
    }
    return false;
}
