#include "ProgramEntry.h"

#include "ProgramIdentity.h"
#include "TForm1.h"

#include <QApplication>

#include <cstring>

ProgramCommandLine::ProgramCommandLine()
    : m_serialPort(QStringLiteral("serial-port"),
        QStringLiteral("Also offer PATH as a serial port (virtual ports and pseudo terminals are "
                       "not listed by the system). May be given more than once."),
        QStringLiteral("PATH")),
      m_demo(QStringLiteral("demo"),
          QStringLiteral("Start a simulated switcher inside the program on a free loopback port "
                         "and select it, to try every page without hardware. Settings then go to "
                         "Settings-demo.ini, so the device list of Settings.ini stays as it is.")),
      // For the documentation and for checking what the window shows: demo mode, walked page
      // by page and dialog by dialog, each saved as a picture; the program then ends.
      m_screenshots(QStringLiteral("screenshots"),
          QStringLiteral("Save every page and dialog of demo mode as PNG files in DIR, then quit."),
          QStringLiteral("DIR"))
{
    m_parser.setApplicationDescription(
        QStringLiteral("Controller for a 6x6 HDMI matrix switcher."));
    m_parser.addHelpOption();
    m_parser.addVersionOption();
    m_screenshots.setFlags(QCommandLineOption::HiddenFromHelp);
    m_parser.addOption(m_serialPort);
    m_parser.addOption(m_demo);
    m_parser.addOption(m_screenshots);
}

std::optional<int> ProgramCommandLine::answerWithoutDisplay(int argc, char *argv[])
{
    // As QCommandLineParser reads them; "--" ends the options. --help-all stays with the GUI
    // application, whose own options it lists.
    bool asked = false;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        for (const char *option : {"-h", "--help", "-v", "--version"})
            asked = asked || std::strcmp(argv[i], option) == 0;
    }
    if (!asked)
        return std::nullopt;
    // A core application knows the program's name and arguments and needs no display.
    QCoreApplication app(argc, argv);
    setProgramIdentity();
    // Options that only the window system takes (-platform, -display) may stand beside: they
    // change nothing of the answer.
    m_parser.parse(QCoreApplication::arguments());
    if (m_parser.isSet(QStringLiteral("version")))
        m_parser.showVersion();
    m_parser.showHelp(0);
}

int runWindow(TForm1 &form)
{
    form.show();
    const int status = QApplication::exec();
    return form.startRefused() ? StartRefusedStatus : status;
}
