#include "DemoSwitcher.h"
#include "ProgramIdentity.h"
#include "TForm1.h"
#include "WindowTour.h"

#include <QApplication>
#include <QCommandLineParser>
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
    QApplication app(argc, argv);
    setProgramIdentity();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Controller for a 6x6 HDMI matrix switcher."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption serialPort(QStringLiteral("serial-port"),
        QStringLiteral("Also offer PATH as a serial port (virtual ports and pseudo terminals are "
                       "not listed by the system). May be given more than once."),
        QStringLiteral("PATH"));
    const QCommandLineOption demo(QStringLiteral("demo"),
        QStringLiteral("Start a simulated switcher inside the program on a free loopback port "
                       "and select it, to try every page without hardware. Settings then go to "
                       "Settings-demo.ini, so the device list of Settings.ini stays as it is."));
    // For the documentation and for checking what the window shows: demo mode, walked page by
    // page and dialog by dialog, each saved as a picture; the program then ends.
    QCommandLineOption screenshots(QStringLiteral("screenshots"),
        QStringLiteral("Save every page and dialog of demo mode as PNG files in DIR, then quit."),
        QStringLiteral("DIR"));
    screenshots.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(serialPort);
    parser.addOption(demo);
    parser.addOption(screenshots);
    parser.process(app);

    ShellOptions options;
    options.serialPorts = parser.values(serialPort);
    options.demo = parser.isSet(demo) || parser.isSet(screenshots);
    TForm1 form(options);
    if (form.demo() && !form.demo()->isListening())
        qWarning().noquote() << "--demo: the simulated switcher has no loopback port:"
                             << form.demo()->error();
    FirstPaintExit firstPaint;
    if (qEnvironmentVariableIntValue("MATRIX_EXIT_AFTER_FIRST_PAINT") == 1)
        form.installEventFilter(&firstPaint);
    form.show();
    if (parser.isSet(screenshots)) {
        QTimer::singleShot(0, &form, [&form, folder = parser.value(screenshots)] {
            QCoreApplication::exit(saveWindowPictures(form, folder));
        });
    }
    return QApplication::exec();
}
