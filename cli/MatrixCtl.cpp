#include "MatrixCtl.h"

#include "DeviceModel.h"
#include "LinkStatusText.h"
#include "TKVCOMControl.h"

#include <QCommandLineParser>
#include <QTextStream>

#include <functional>
#include <map>
#include <optional>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

constexpr quint16 PowerKey1 = 0xD22D;
constexpr quint16 PowerKey2 = 0x2ED3;
constexpr quint16 Query = 0x00FE;
constexpr int Ports = 6;

const char UsageText[] = R"(Usage: matrixctl (--tcp HOST[:PORT] | --serial PATH) COMMAND [ARGS]

Commands:
  info                          model number, matrix size and firmware version
  power status|on|off           read or switch the power
  route get [OUT]               the input routed to one output, or to all six
  route set IN OUT              route input IN to output OUT
  send CMD SUB [W1 [W2 [W3 [W4]]]]
                                send one command and print the reply bytes;
                                CMD and SUB are hex bytes, words decimal or 0x-hex

Exit status: 0 success, 1 the switcher or the link failed (reason on stderr),
2 bad arguments.
)";

std::optional<quint16> parseWord(const QString &text, bool hex = false)
{
    QString digits = text.trimmed();
    int base = hex ? 16 : 10;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        digits = digits.mid(2);
        base = 16;
    }
    bool ok = false;
    const uint value = digits.toUInt(&ok, base);
    if (!ok || digits.isEmpty() || value > 0xFFFF)
        return std::nullopt;
    return static_cast<quint16>(value);
}

std::optional<quint8> parseByte(const QString &text)
{
    const auto value = parseWord(text, true);
    if (!value || *value > 0xFF)
        return std::nullopt;
    return static_cast<quint8>(*value);
}

std::optional<int> parsePort(const QString &text)
{
    const auto value = parseWord(text);
    if (!value || *value < 1 || *value > 0xFF)
        return std::nullopt;
    return *value;
}

QString hexBytes(const CommandPacket &packet)
{
    return QString::fromLatin1(packet.toByteArray().toHex(' ').toUpper());
}

struct UsageError
{
    QString message;
};

// One connected link and the failure texts it reports.
class Session
{
public:
    Session(TKVCOMControl &link, QTextStream &err) : m_link(link), m_err(err)
    {
        QObject::connect(
            &link, &TKVCOMControl::notification, &link, [this](const LinkNotice &notice) {
                const QString text = LinkStatusText(notice, m_link);
                if (!text.isEmpty())
                    m_failure = text;
            });
    }

    bool connect()
    {
        if (m_link.Connect())
            return true;
        report();
        return false;
    }

    // One transaction; on failure the link's reason goes to stderr.
    bool execute(quint8 command, quint8 subcommand, quint16 word1, quint16 word2 = 0,
        quint16 word3 = 0, quint16 word4 = 0, CommandResult *out = nullptr)
    {
        CommandResult result;
        m_failure.clear();
        m_link.ExecuteCommand(
            CommandPacket::make(command, subcommand, word1, word2, word3, word4), result);
        if (out)
            *out = result;
        if (!result.Success)
            report();
        return result.Success;
    }

private:
    void report()
    {
        m_err << (m_failure.isEmpty() ? QStringLiteral("Failed") : m_failure) << Qt::endl;
    }

    TKVCOMControl &m_link;
    QTextStream &m_err;
    QString m_failure;
};

// A command checks its arguments (throwing UsageError) and returns the work to run once the
// link is connected, so that nothing goes on the wire for a malformed command line.
using Job = std::function<int(Session &, QTextStream &out)>;
using Handler = std::function<Job(const QStringList &args)>;

Job info(const QStringList &args)
{
    if (!args.isEmpty())
        throw UsageError{QStringLiteral("info takes no arguments")};
    return [](Session &session, QTextStream &out) {
        CommandResult model, size, version;
        if (!session.execute(0x01, 0x01, Query, 0, 0, 0, &model)
            || !session.execute(0x01, 0x02, Query, 0, 0, 0, &size)
            || !session.execute(0x01, 0x03, Query, 0, 0, 0, &version))
            return ExitFailed;
        out << "Model: " << DeviceModelName(model.reply.status()) << " (" << model.reply.status()
            << ")\n"
            << "Size: " << size.reply.status() << 'x' << size.reply.answer() << '\n'
            << "Firmware: " << version.reply.status() << '.'
            << QString::number(version.reply.answer()).rightJustified(2, QLatin1Char('0')) << '\n';
        return ExitOk;
    };
}

Job power(const QStringList &args)
{
    const QString what = args.value(0);
    if (args.size() != 1
        || !QStringList{QStringLiteral("status"), QStringLiteral("on"), QStringLiteral("off")}
                .contains(what))
        throw UsageError{QStringLiteral("power takes status, on or off")};
    return [what](Session &session, QTextStream &out) {
        if (what == QLatin1String("status")) {
            CommandResult result;
            if (!session.execute(0x10, 0x01, Query, 0, PowerKey1, PowerKey2, &result))
                return ExitFailed;
            out << "Power: " << (result.reply.answer() == 0xFF ? "on" : "off") << '\n';
            return ExitOk;
        }
        const quint16 state = what == QLatin1String("on") ? 0x0F : 0xF0;
        if (!session.execute(0x10, 0x02, state, 0, PowerKey1, PowerKey2))
            return ExitFailed;
        out << "Power: " << what << '\n';
        return ExitOk;
    };
}

Job route(const QStringList &args)
{
    const QString what = args.value(0);
    if (what == QLatin1String("get") && args.size() <= 2) {
        QList<int> outputs;
        if (args.size() == 2) {
            const auto output = parsePort(args[1]);
            if (!output)
                throw UsageError{QStringLiteral("OUT must be a port number")};
            outputs = {*output};
        } else {
            for (int output = 1; output <= Ports; ++output)
                outputs.append(output);
        }
        return [outputs](Session &session, QTextStream &out) {
            for (int output : outputs) {
                CommandResult result;
                if (!session.execute(0x02, 0x01, static_cast<quint16>(output), 0, 0, 0, &result))
                    return ExitFailed;
                out << "Output" << output << ": Input" << result.reply.answer() << '\n';
            }
            return ExitOk;
        };
    }
    if (what == QLatin1String("set") && args.size() == 3) {
        const auto input = parsePort(args[1]);
        const auto output = parsePort(args[2]);
        if (!input || !output)
            throw UsageError{QStringLiteral("IN and OUT must be port numbers")};
        return [in = *input, outPort = *output](Session &session, QTextStream &out) {
            if (!session.execute(
                    0x02, 0x03, static_cast<quint16>(in), static_cast<quint16>(outPort)))
                return ExitFailed;
            out << "Output" << outPort << ": Input" << in << '\n';
            return ExitOk;
        };
    }
    throw UsageError{QStringLiteral("route takes get [OUT] or set IN OUT")};
}

Job send(const QStringList &args)
{
    if (args.size() < 2 || args.size() > 6)
        throw UsageError{QStringLiteral("send takes CMD SUB and up to four words")};
    const auto command = parseByte(args[0]);
    const auto subcommand = parseByte(args[1]);
    if (!command || !subcommand)
        throw UsageError{QStringLiteral("CMD and SUB must be hex bytes")};
    std::array<quint16, 4> words{};
    for (int i = 2; i < args.size(); ++i) {
        const auto word = parseWord(args[i]);
        if (!word)
            throw UsageError{QStringLiteral("words must be 0..65535 (decimal or 0x-hex)")};
        words[static_cast<std::size_t>(i - 2)] = *word;
    }
    return [cmd = *command, sub = *subcommand, words](Session &session, QTextStream &out) {
        CommandResult result;
        const bool ok = session.execute(cmd, sub, words[0], words[1], words[2], words[3], &result);
        out << hexBytes(result.reply) << '\n' << (ok ? "Success" : "Failed") << '\n';
        return ok ? ExitOk : ExitFailed;
    };
}

const std::map<QString, Handler> &commands()
{
    static const std::map<QString, Handler> table = {
        {QStringLiteral("info"), info},
        {QStringLiteral("power"), power},
        {QStringLiteral("route"), route},
        {QStringLiteral("send"), send},
    };
    return table;
}

// HOST, HOST:PORT or [IPv6]:PORT
bool parseTcpTarget(const QString &text, QString *host, quint16 *port)
{
    *port = TKVCOMControl::DefaultTcpPort;
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        *host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return false;
        portText = rest.mid(1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        *host = text.section(QLatin1Char(':'), 0, 0);
        portText = text.section(QLatin1Char(':'), 1);
    } else {
        *host = text;
    }
    if (!portText.isEmpty() || text.endsWith(QLatin1Char(':'))) {
        const auto value = parseWord(portText);
        if (!value || *value == 0)
            return false;
        *port = *value;
    }
    return !host->isEmpty();
}

} // namespace

int RunMatrixCtl(
    const QStringList &arguments, QTextStream &out, QTextStream &err, const Timing &timing)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption tcp(QStringLiteral("tcp"),
        QStringLiteral("Switcher's network module, port 8000 by default."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption serial(QStringLiteral("serial"),
        QStringLiteral("Serial port the switcher is attached to."), QStringLiteral("PATH"));
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    parser.addOptions({tcp, serial, help});

    auto usage = [&](const QString &why) {
        if (!why.isEmpty())
            err << "matrixctl: " << why << '\n';
        err << UsageText;
        err.flush();
        return ExitUsage;
    };

    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        out << UsageText;
        return ExitOk;
    }
    QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return usage(QStringLiteral("no command given"));
    const auto handler = commands().find(words.takeFirst());
    if (handler == commands().end())
        return usage(QStringLiteral("unknown command"));
    if (parser.isSet(tcp) == parser.isSet(serial))
        return usage(QStringLiteral("choose one of --tcp HOST[:PORT] and --serial PATH"));

    TKVCOMControl link;
    link.setTiming(timing);
    if (parser.isSet(tcp)) {
        QString host;
        quint16 port = 0;
        if (!parseTcpTarget(parser.value(tcp), &host, &port))
            return usage(QStringLiteral("--tcp takes HOST or HOST:PORT"));
        link.setControlMode(cmLAN);
        link.setDeviceIP(host);
        link.setTcpPort(port);
    } else {
        link.setControlMode(cmCOM);
        link.setComPort(parser.value(serial));
    }

    Job job;
    try {
        job = handler->second(words);
    } catch (const UsageError &error) {
        return usage(error.message);
    }
    Session session(link, err);
    const int code = session.connect() ? job(session, out) : ExitFailed;
    out.flush();
    err.flush();
    link.Disconnect();
    return code;
}
