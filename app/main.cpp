#include "TForm1.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("matrix-controller"));
    QApplication::setApplicationDisplayName(ProductTitle());
    QApplication::setApplicationVersion(QStringLiteral("6.50"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Controller for a 6x6 HDMI matrix switcher."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption serialPort(QStringLiteral("serial-port"),
        QStringLiteral("Also offer PATH as a serial port (virtual ports and pseudo terminals are "
                       "not listed by the system). May be given more than once."),
        QStringLiteral("PATH"));
    const QCommandLineOption demo(QStringLiteral("demo"),
        QStringLiteral("Start a simulated switcher on this computer and select it (not yet "
                       "available: accepted and ignored)."));
    parser.addOption(serialPort);
    parser.addOption(demo);
    parser.process(app);
    if (parser.isSet(demo))
        qWarning("--demo is not available yet; starting without a simulated switcher.");

    ShellOptions options;
    options.serialPorts = parser.values(serialPort);
    TForm1 form(options);
    form.show();
    return QApplication::exec();
}
