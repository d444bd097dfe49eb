#include "CtlCommand.h"

#include "DeviceProtocol.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTextStream>

#include <array>

// Identity, power, routing and raw commands.
namespace {

using DeviceProtocol::PortCount;

CtlJob info(const QStringList &args)
{
    if (!args.isEmpty())
        throw UsageError{QStringLiteral("info takes no arguments")};
    return [](CtlContext &ctx) {
        const SwitcherResult<SwitcherIdentity> identity = ctx.device.identity();
        if (!identity.ok())
            return ExitFailed;
        const SwitcherIdentity &id = identity.value;
        if (ctx.json) {
            printJson(ctx,
                {{QStringLiteral("model"), id.model()},
                    {QStringLiteral("modelNumber"), id.modelNumber},
                    {QStringLiteral("size"), id.size.text()},
                    {QStringLiteral("firmware"), id.version.text()}});
            return ExitOk;
        }
        ctx.out << "Model: " << id.model() << " (" << id.modelNumber << ")\n"
                << "Size: " << id.size.text() << '\n'
                << "Firmware: " << id.version.text() << '\n';
        return ExitOk;
    };
}

CtlJob power(const QStringList &args)
{
    const QString what = args.value(0);
    if (args.size() != 1
        || !QStringList{QStringLiteral("status"), QStringLiteral("on"), QStringLiteral("off")}
                .contains(what))
        throw UsageError{QStringLiteral("power takes status, on or off")};
    return [what](CtlContext &ctx) {
        if (what == QLatin1String("status")) {
            const SwitcherResult<bool> power = ctx.device.power();
            if (!power.ok())
                return ExitFailed;
            const QString state = power.value ? QStringLiteral("on") : QStringLiteral("off");
            if (ctx.json)
                printJson(ctx, {{QStringLiteral("power"), state}});
            else
                ctx.out << "Power: " << state << '\n';
            return ExitOk;
        }
        if (!ctx.device.setPower(what == QLatin1String("on")).ok())
            return ExitFailed;
        ctx.out << "Power: " << what << '\n';
        return ExitOk;
    };
}

CtlJob route(const QStringList &args)
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
            for (int output = 1; output <= PortCount; ++output)
                outputs.append(output);
        }
        return [outputs](CtlContext &ctx) {
            QJsonArray routes;
            for (int output : outputs) {
                const SwitcherResult<int> route = ctx.device.route(output);
                if (!route.ok())
                    return ExitFailed;
                if (ctx.json)
                    routes.append(QJsonObject{{QStringLiteral("output"), output},
                        {QStringLiteral("input"), route.value}});
                else
                    ctx.out << "Output" << output << ": Input" << route.value << '\n';
            }
            if (ctx.json)
                printJson(ctx, {{QStringLiteral("routes"), routes}});
            return ExitOk;
        };
    }
    if (what == QLatin1String("set") && args.size() == 3) {
        const auto input = parsePort(args[1]);
        const auto output = parsePort(args[2]);
        if (!input || !output)
            throw UsageError{QStringLiteral("IN and OUT must be port numbers")};
        return [in = *input, outPort = *output](CtlContext &ctx) {
            if (!ctx.device.setRoute(in, outPort).ok())
                return ExitFailed;
            ctx.out << "Output" << outPort << ": Input" << in << '\n';
            return ExitOk;
        };
    }
    // Several outputs, one after another; the first refusal ends the run and says where.
    const bool all = what == QLatin1String("all") && args.size() == 2;
    if (all || (what == QLatin1String("port-to-port") && args.size() == 1)) {
        int in = 0; // 0: output k gets input k
        if (all) {
            const auto input = parsePort(args[1]);
            if (!input)
                throw UsageError{QStringLiteral("IN must be a port number")};
            in = *input;
        }
        return [in](CtlContext &ctx) {
            for (int output = 1; output <= PortCount; ++output) {
                const int input = in ? in : output;
                if (!ctx.device.setRoute(input, output).ok()) {
                    ctx.err << "Output" << output << ": not switched to Input" << input << '\n';
                    return ExitFailed;
                }
                ctx.out << "Output" << output << ": Input" << input << '\n';
            }
            return ExitOk;
        };
    }
    throw UsageError{QStringLiteral("route takes get [OUT], set IN OUT, all IN or port-to-port")};
}

CtlJob send(const QStringList &args)
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
    return [cmd = *command, sub = *subcommand, words](CtlContext &ctx) {
        CommandResult result;
        const bool ok
            = ctx.device.execute(cmd, sub, words[0], words[1], words[2], words[3], &result);
        ctx.out << hexBytes(result.reply) << '\n' << (ok ? "Success" : "Failed") << '\n';
        return ok ? ExitOk : ExitFailed;
    };
}

} // namespace

void addDeviceCommands(CtlCommandTable &table)
{
    table.append({QStringLiteral("info"),
        QStringLiteral("info                          model, matrix size and firmware version"),
        info});
    table.append({QStringLiteral("power"),
        QStringLiteral("power status|on|off           read or switch the power"), power});
    table.append({QStringLiteral("route"),
        QStringLiteral(
            "route get [OUT]               the input routed to one output, or to all six\n"
            "route set IN OUT              route input IN to output OUT\n"
            "route all IN                  route input IN to all six outputs\n"
            "route port-to-port            route input n to output n for n = 1..6"),
        route});
    table.append({QStringLiteral("send"),
        QStringLiteral(
            "send CMD SUB [W1 [W2 [W3 [W4]]]]\n"
            "                              send one command and print the reply bytes;\n"
            "                              CMD and SUB are hex bytes, words decimal or 0x-hex"),
        send});
}
