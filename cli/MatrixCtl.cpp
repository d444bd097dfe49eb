#include "MatrixCtl.h"

#include "CtlCommand.h"
#include "MatrixVersion.h"
#include "SettingsLocation.h"
#include "TKVCOMControl.h"
#include "TcpTarget.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

namespace {

const CtlCommandTable &commands()
{
    static const CtlCommandTable table = [] {
        CtlCommandTable t;
        addDeviceCommands(t);
        addNetworkCommands(t);
        addEdidCommands(t);
        addFirmwareCommands(t);
        addPresetCommands(t);
        return t;
    }();
    return table;
}

// The commands that report state, which --json prints as one JSON document.
const QStringList JsonCommands{QStringLiteral("info"), QStringLiteral("power status"),
    QStringLiteral("route get"), QStringLiteral("preset list"), QStringLiteral("tags list"),
    QStringLiteral("discover"), QStringLiteral("edid check"), QStringLiteral("firmware info")};

bool reportsJson(const QString &name, const QStringList &words)
{
    return JsonCommands.contains(name)
        || (!words.isEmpty() && JsonCommands.contains(name + QLatin1Char(' ') + words.first()));
}

QString usageText()
{
    QString text = QStringLiteral(
        "Usage: matrixctl [--tcp HOST[:PORT] | --serial PATH] [--settings FILE] [--json] COMMAND "
        "[ARGS]\n"
        "       matrixctl --help | --version\n"
        "\nCommands:\n");
    for (const CtlCommand &command : commands()) {
        for (const QString &line : command.usage.split(QLatin1Char('\n')))
            text += QStringLiteral("  ") + line + QLatin1Char('\n');
    }
    text += QStringLiteral(
                "\nCommands that talk to the switcher need --tcp or --serial; without either,\n"
                "MATRIXCTL_TARGET (tcp:HOST[:PORT] or serial:PATH) in the environment says\n"
                "where it is. --json prints the facts as one JSON document, for: ")
        + JsonCommands.join(QStringLiteral(", "))
        + QStringLiteral(".\nExit status: 0 success, 1 the switcher or the link failed (reason "
                         "on stderr),\n2 bad arguments.\n");
    return text;
}

} // namespace

int runMatrixCtl(
    const QStringList &arguments, QTextStream &out, QTextStream &err, const Timing &timing)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const LinkTargetOptions linkOptions;
    const QCommandLineOption &tcp = linkOptions.tcp;
    const QCommandLineOption &serial = linkOptions.serial;
    const QCommandLineOption settings(QStringLiteral("settings"),
        QStringLiteral("Settings.ini to use instead of the window's own."), QStringLiteral("FILE"));
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(
        QStringLiteral("version"), QStringLiteral("Show the version."));
    const QCommandLineOption json(
        QStringLiteral("json"), QStringLiteral("Print the facts as one JSON document."));
    parser.addOptions({tcp, serial, settings, help, version, json});

    // One line, so that a script's log shows what was wrong and not the whole usage.
    auto usage = [&](const QString &why) {
        err << "matrixctl: " << why << "; see matrixctl --help\n";
        err.flush();
        return ExitUsage;
    };

    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        out << usageText();
        return ExitOk;
    }
    if (parser.isSet(version)) {
        out << "matrixctl " << MATRIX_VERSION << '\n';
        return ExitOk;
    }
    QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return usage(QStringLiteral("no command given"));
    const QString name = words.takeFirst();
    const auto command = std::find_if(commands().begin(), commands().end(),
        [&name](const CtlCommand &c) { return c.name == name; });
    if (command == commands().end())
        return usage(QStringLiteral("unknown command"));
    if (parser.isSet(tcp) && parser.isSet(serial))
        return usage(QStringLiteral("choose one of --tcp HOST[:PORT] and --serial PATH"));
    if (parser.isSet(json) && !reportsJson(name, words))
        return usage(
            QStringLiteral("--json works with ") + JsonCommands.join(QStringLiteral(", ")));

    // The options, else MATRIXCTL_TARGET: "tcp:HOST[:PORT]" or "serial:PATH".
    bool useTcp = parser.isSet(tcp);
    bool useSerial = parser.isSet(serial);
    QString tcpTarget = parser.value(tcp);
    QString serialTarget = parser.value(serial);
    const QString target = qEnvironmentVariable("MATRIXCTL_TARGET");
    if (!useTcp && !useSerial && !target.isEmpty()) {
        useTcp = target.startsWith(QLatin1String("tcp:")) && target.size() > 4;
        useSerial = target.startsWith(QLatin1String("serial:")) && target.size() > 7;
        if (!useTcp && !useSerial)
            return usage(
                QStringLiteral("MATRIXCTL_TARGET takes tcp:HOST[:PORT] or serial:PATH, not \"%1\"")
                    .arg(target));
        tcpTarget = useTcp ? target.mid(4) : QString();
        serialTarget = useSerial ? target.mid(7) : QString();
    }

    TKVCOMControl link;
    link.setTiming(timing);
    if (useTcp) {
        QString host;
        quint16 port = 0;
        if (!parseTcpTarget(tcpTarget, &host, &port))
            return usage(parser.isSet(tcp)
                    ? LinkTargetOptions::tcpValueError()
                    : QStringLiteral("MATRIXCTL_TARGET takes tcp:HOST or tcp:HOST:PORT"));
        link.setControlMode(cmLAN);
        link.setDeviceIP(host);
        link.setTcpPort(port);
    } else if (useSerial) {
        if (serialTarget.trimmed().isEmpty())
            return usage(LinkTargetOptions::serialValueError());
        link.setControlMode(cmCOM);
        link.setComPort(serialTarget);
    }

    const QString settingsPath = parser.isSet(settings)
        ? parser.value(settings)
        : QDir(SettingsLocation::forProgramFolder(QCoreApplication::applicationDirPath()).folder)
              .filePath(QStringLiteral("Settings.ini"));
    CtlSession device(link, useTcp || useSerial, err);
    CtlContext context{device, out, err, settingsPath, parser.isSet(settings), parser.isSet(json)};
    int code = ExitFailed;
    try {
        const CtlJob job = command->parse(words);
        code = job(context);
    } catch (const UsageError &error) {
        return usage(error.message);
    }
    out.flush();
    err.flush();
    link.Disconnect();
    return code;
}
