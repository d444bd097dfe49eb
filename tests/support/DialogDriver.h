#pragma once

// Drives dialogs as an operator does: finds controls by name, clicks them and answers modal
// windows. The answerers poll from the event loop, so they also act inside the loop a modal
// window runs and inside the waits of a running operation.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace testsupport {

// Runs act once, from the event loop, as soon as condition holds: input that must land while
// the window waits inside a connect or a transfer.
class OnceWhen final : public QObject
{
public:
    OnceWhen(std::function<bool()> condition, std::function<void()> act)
        : m_condition(std::move(condition)), m_act(std::move(act))
    {
        m_poll.setInterval(0);
        connect(&m_poll, &QTimer::timeout, this, [this] {
            if (!m_condition())
                return;
            m_poll.stop();
            m_done = true;
            m_act();
        });
        m_poll.start();
    }
    bool done() const { return m_done; }

private:
    std::function<bool()> m_condition;
    std::function<void()> m_act;
    QTimer m_poll;
    bool m_done = false;
};

// Acts on the showing modal window of type T until act returns true for it.
template<typename T>
class OnModal final : public QObject
{
public:
    explicit OnModal(std::function<bool(T *)> act) : m_act(std::move(act))
    {
        m_poll.setInterval(0);
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *modal = qobject_cast<T *>(QApplication::activeModalWidget());
            if (modal && modal->isVisible() && m_act(modal))
                m_poll.stop();
        });
        m_poll.start();
    }
    bool done() const { return !m_poll.isActive(); }

private:
    std::function<bool(T *)> m_act;
    QTimer m_poll;
};

// Runs handler once, on the next modal window of type T.
template<typename T>
class ModalAnswer final
{
public:
    explicit ModalAnswer(std::function<void(T *)> handler)
        : m_answer([handler = std::move(handler)](T *modal) {
              handler(modal);
              return true;
          })
    { }
    bool seen() const { return m_answer.done(); }

private:
    OnModal<T> m_answer;
};

// Answers the next message box with a button (closes it with 0 when it has no such button) and
// remembers what it said.
class BoxAnswer final
{
public:
    explicit BoxAnswer(QMessageBox::StandardButton button = QMessageBox::Ok)
        : m_answer([this, button](QMessageBox *box) {
              m_text = box->text();
              m_icon = box->icon();
              if (QAbstractButton *b = box->button(button))
                  b->click();
              else
                  box->done(0);
          })
    { }
    bool seen() const { return m_answer.seen(); }
    QString text() const { return m_text; }
    QMessageBox::Icon icon() const { return m_icon; }

private:
    QString m_text;
    QMessageBox::Icon m_icon = QMessageBox::NoIcon;
    ModalAnswer<QMessageBox> m_answer;
};

// Answers every message box that shows while it lives: clicks button when the box has it, else
// closes it with otherwise. Keeps the texts; look sees each box before it is answered (and may
// note what else the window shows at that moment).
class BoxWatch final : public QObject
{
public:
    explicit BoxWatch(QMessageBox::StandardButton button = QMessageBox::Ok,
        int otherwise = QMessageBox::Ok, std::function<void(QMessageBox *)> look = {})
        : m_look(std::move(look))
    {
        m_poll.setInterval(0);
        connect(&m_poll, &QTimer::timeout, this, [this, button, otherwise] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            m_texts.append(box->text());
            if (m_look)
                m_look(box);
            if (QAbstractButton *b = box->button(button))
                b->click();
            else
                box->done(otherwise);
        });
        m_poll.start();
    }
    QStringList texts() const { return m_texts; }
    void stop() { m_poll.stop(); }

private:
    std::function<void(QMessageBox *)> m_look;
    QTimer m_poll;
    QStringList m_texts;
};

template<typename T>
T *child(QObject *parent, const QString &name)
{
    return parent->findChild<T *>(name);
}

inline void click(QObject *parent, const char *name)
{
    auto *button = child<QPushButton>(parent, QLatin1String(name));
    QVERIFY2(button, name);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace testsupport
