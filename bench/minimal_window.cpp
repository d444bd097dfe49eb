// The floor of the start-up benchmark: the plainest Qt Widgets window of the same shape as the
// controller's (six tabs and a status bar). Prints "first paint" and quits after its first
// paint event.
#include <QApplication>
#include <QMainWindow>
#include <QStatusBar>
#include <QTabWidget>

#include <cstdio>

namespace {

class Window final : public QMainWindow
{
protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            std::puts("first paint");
            std::fflush(stdout);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
        }
        return QMainWindow::event(event);
    }

private:
    bool m_painted = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Window window;
    auto *tabs = new QTabWidget(&window);
    for (int i = 1; i <= 6; ++i)
        tabs->addTab(new QWidget, QStringLiteral("Page %1").arg(i));
    window.setCentralWidget(tabs);
    window.statusBar()->showMessage(QStringLiteral("Ready"));
    window.resize(1025, 580);
    window.show();
    return QApplication::exec();
}
