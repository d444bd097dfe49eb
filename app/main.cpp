#include "DemoSwitcher.h"
#include "ProgramEntry.h"
#include "ProgramIdentity.h"
#include "ProgramOutput.h"
#include "TForm1.h"
#include "WindowTour.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <cstdio>

namespace {

// MATRIX_EXIT_AFTER_FIRST_PAINT=1: print "first paint" and quit once the window has painted,
// so that a benchmark can time the start-up.
class FirstPaintExit final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            std::puts("first paint");
            std::fflush(stdout);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    checkStdoutAtExit("matrix-controller");
    ProgramCommandLine commandLine;
    if (const std::optional<int> answered = commandLine.answerWithoutDisplay(argc, argv))
        return *answered;

    QApplication app(argc, argv);
    setProgramIdentity();
    commandLine.process(app);

    ShellOptions options;
    options.serialPorts = commandLine.serialPorts();
    options.demo = commandLine.demo();
    TForm1 form(options);
    if (form.demo() && !form.demo()->isListening())
        qWarning().noquote() << "--demo: the simulated switcher has no loopback port:"
                             << form.demo()->error();
    FirstPaintExit firstPaint;
    if (qEnvironmentVariableIntValue("MATRIX_EXIT_AFTER_FIRST_PAINT") == 1)
        form.installEventFilter(&firstPaint);
    if (const QString folder = commandLine.screenshotsFolder(); !folder.isEmpty()) {
        QTimer::singleShot(0, &form,
            [&form, folder] { QCoreApplication::exit(saveWindowPictures(form, folder)); });
    }
    return runWindow(form);
}
