#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <optional>

class TForm1;

// The window program's command line and its run, as main() uses them.
class ProgramCommandLine final
{
    Q_DISABLE_COPY_MOVE(ProgramCommandLine)
public:
    ProgramCommandLine();

    // --help (-h) and --version (-v) need no window system: when argv asks for one of them,
    // the answer is printed here, before the GUI application is made, and the exit status
    // returned. Otherwise nothing; the caller makes the application and calls process().
    std::optional<int> answerWithoutDisplay(int argc, char *argv[]);
    // Reads the application's arguments; ends the program on an unknown option.
    void process(const QCoreApplication &app) { m_parser.process(app); }

    QStringList serialPorts() const { return m_parser.values(m_serialPort); }
    bool demo() const { return m_parser.isSet(m_demo) || m_parser.isSet(m_screenshots); }
    // Where --screenshots saves its pictures; empty when not asked.
    QString screenshotsFolder() const { return m_parser.value(m_screenshots); }

private:
    QCommandLineParser m_parser;
    QCommandLineOption m_serialPort;
    QCommandLineOption m_demo;
    QCommandLineOption m_screenshots;
};

// The exit status of a window that refused to start (its settings folder cannot be written),
// after its box has been answered.
constexpr int StartRefusedStatus = 2;

// Shows the window and runs the application until the window closes; returns the program's
// exit status: the application's, or StartRefusedStatus when the window refused to start.
int runWindow(TForm1 &form);
