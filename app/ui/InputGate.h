#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QWidget;

// One operation at a time, whatever the operator clicks. Device operations wait in event
// loops, so clicks and keys arrive while one runs; this application-wide filter turns away
// every press that could start another operation, change the link or open a dialog while the
// window is busy, and says so. It lets through what stays the operator's during an operation:
// the page tabs (governed by the page-change rule), the keys that change pages, and the modal
// dialog on top (the close question, a message the operation shows, a dialog whose own
// operation runs). Mouse moves, releases and the close box always pass. Once the operation
// that turned a press away has ended, the gate says so, so that the refusal does not outlive
// it.
class InputGate final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InputGate)
public:
    // busy: an operation runs now. refused: tell the operator a press was turned away.
    // ended: the operation that turned a press away has ended.
    InputGate(QWidget *window, QWidget *pageTabs, std::function<bool()> busy,
        std::function<void()> refused, std::function<void()> ended, QObject *parent = nullptr);
    ~InputGate() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool passes(QWidget *target, QEvent *event) const;
    void refuse();
    void checkEnded();

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_pageTabs;
    std::function<bool()> m_busy;
    std::function<void()> m_refused;
    std::function<void()> m_ended;
    // Runs while a refusal waits for its operation to end.
    QTimer m_endWatch;
};
