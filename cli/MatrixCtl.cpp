#include "MatrixCtl.h"

#include "CtlCommand.h"
#include "MatrixVersion.h"
#include "ProgramOutput.h"
#include "SettingsLocation.h"
#include "TKVCOMControl.h"
#include "TcpTarget.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
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

// stderr as a script's log shows it: every line starts with "matrixctl: ", whoever wrote it (the
// link's texts, the procedures' reports). Whole lines go through at once; a last line without
// its break goes when the device is destroyed.
class ErrorLines final : public QIODevice
{
public:
    explicit ErrorLines(QTextStream &target) : m_target(target)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    // The first line written, without the program's name: what went wrong first.
    QString firstLine() const { return m_first; }
    ~ErrorLines() override
    {
        if (!m_pending.isEmpty())
            emitLine(m_pending + '\n');
        m_target.flush();
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        m_pending.append(data, size);
        for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
            emitLine(m_pending.left(end + 1));
            m_pending.remove(0, end + 1);
        }
        m_target.flush();
        return size;
    }

private:
    void emitLine(const QByteArray &line)
    {
        const bool named = line.startsWith(Prefix);
        if (!named)
            m_target << Prefix;
        m_target << QString::fromUtf8(line);
        if (m_first.isEmpty())
            m_first
                = QString::fromUtf8(line.mid(named ? qsizetype(sizeof Prefix - 1) : 0)).trimmed();
    }

    static constexpr char Prefix[] = "matrixctl: ";
    QTextStream &m_target;
    QByteArray m_pending;
    QString m_first;
};

// The options of matrixctl itself may follow the command ("route get --json"): they are moved
// before it. The commands' own options (discover --address, -o) stay where they are.
QStringList optionsFirst(const QStringList &arguments, qsizetype commandIndex)
{
    static const QStringList Flags{QStringLiteral("--json"), QStringLiteral("--help"),
        QStringLiteral("-h"), QStringLiteral("--version")};
    static const QStringList Valued{
        QStringLiteral("--tcp"), QStringLiteral("--serial"), QStringLiteral("--settings")};
    QStringList options;
    QStringList rest;
    for (qsizetype i = commandIndex; i < arguments.size(); ++i) {
        const QString &word = arguments[i];
        if (word == QLatin1String("--")) {
            rest += arguments.mid(i);
            break;
        }
        const QString name = word.section(QLatin1Char('='), 0, 0);
        if (Flags.contains(word) || (Valued.contains(name) && word.contains(QLatin1Char('=')))) {
            options.append(word);
        } else if (Valued.contains(word) && i + 1 < arguments.size()) {
            options += {word, arguments[i + 1]};
            ++i;
        } else {
            rest.append(word);
        }
    }
    return arguments.mid(0, commandIndex) + options + rest;
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
        "where it is. With --json a command prints its facts as one JSON document on\n"
        "one line, and a failure {\"error\": CODE, \"message\": TEXT} beside the text on\n"
        "stderr. Options may also follow the command.\n"
        "Exit status: 0 success, 1 the switcher or the link failed, or the result could\n"
        "not be written (reason on stderr), 2 bad arguments.\n");
    return text;
}

} // namespace

int runMatrixCtl(const QStringList &givenArguments, QTextStream &out, QTextStream &errTarget,
    const Timing &timing)
{
    ErrorLines errorLines(errTarget);
    QTextStream err(&errorLines);

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
    auto usage = [&](const QString &parserText) {
        const QString why = usageReason(parserText);
        err << usageErrorLine(QStringLiteral("matrixctl"), why);
        err.flush();
        if (parser.isSet(json) || givenArguments.contains(QStringLiteral("--json"))) {
            out << QJsonDocument(errorJson(QStringLiteral("bad_input"), why))
                       .toJson(QJsonDocument::Compact)
                << '\n';
            out.flush();
        }
        return ExitUsage;
    };

    if (!parser.parse(givenArguments))
        return usage(parser.errorText());
    // Again with the options that followed the command moved before it.
    const QStringList arguments
        = optionsFirst(givenArguments, givenArguments.size() - parser.positionalArguments().size());
    if (arguments != givenArguments && !parser.parse(arguments))
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
        link.setComPort(serialTargetPath(serialTarget));
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
    if (context.json && code != ExitOk && !context.printed) {
        err.flush();
        // Without a failure of the switcher or the link, a file or an argument was wrong.
        const QString error = device.errorCode();
        printJson(context,
            errorJson(
                error.isEmpty() ? QStringLiteral("bad_input") : error, errorLines.firstLine()));
    }
    out.flush();
    err.flush();
    link.Disconnect();
    return code;
}
