#pragma once

// Drives the network module's dialogs as an operator does: finds their controls by name, clicks
// them and answers modal dialogs, also while a search is running.
#include <QApplication>
#include <QObject>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace nettest {

// Acts on the modal dialog of type T once act returns true for it; polls from the event loop,
// so it also runs inside the waits of a running search.
template<typename T>
class OnModal final : public QObject
{
public:
    explicit OnModal(std::function<bool(T *)> act) : m_act(std::move(act))
    {
        m_poll.setInterval(0);
        connect(&m_poll, &QTimer::timeout, this, [this] {
            if (auto *w = qobject_cast<T *>(QApplication::activeModalWidget()); w && m_act(w))
                m_poll.stop();
        });
        m_poll.start();
    }
    bool done() const { return !m_poll.isActive(); }

private:
    std::function<bool(T *)> m_act;
    QTimer m_poll;
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

} // namespace nettest
