#include "CtlCommand.h"

#include "DeviceProtocol.h"
#include "SwitcherJson.h"

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
            printJson(ctx, SwitcherJson::identity(id));
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
            if (ctx.json)
                printJson(ctx, {{SwitcherJson::Power, SwitcherJson::power(power.value)}});
            else
                ctx.out << "Power: " << (power.value ? "on" : "off") << '\n';
            return ExitOk;
        }
        const bool on = what == QLatin1String("on");
        if (!ctx.device.setPower(on).ok())
            return ExitFailed;
        if (ctx.json)
            printJson(ctx, {{SwitcherJson::Power, SwitcherJson::power(on)}});
        else
            ctx.out << "Power: " << what << '\n';
        return ExitOk;
    };
}

CtlJob route(const QStringList &args)
{
    const QString what = args.value(0);
    if (what == QLatin1String("get") && args.size() <= 2) {
        const int one = args.size() == 2 ? portArgument(args[1], "OUT") : 0; // 0: all six
        return [one](CtlContext &ctx) {
            std::array<int, PortCount> inputs{};
            for (int output = one ? one : 1; output <= (one ? one : PortCount); ++output) {
                const SwitcherResult<int> route = ctx.device.route(output);
                if (!route.ok())
                    return ExitFailed;
                inputs[std::size_t(output - 1)] = route.value;
                if (!ctx.json)
                    ctx.out << "Output" << output << ": Input" << route.value << '\n';
            }
            if (ctx.json && one)
                printJson(ctx, SwitcherJson::route(one, inputs[std::size_t(one - 1)]));
            else if (ctx.json)
                printJson(ctx, {{SwitcherJson::Routes, SwitcherJson::routes(inputs)}});
            return ExitOk;
        };
    }
    if (what == QLatin1String("set") && args.size() == 3) {
        const int input = portArgument(args[1], "IN");
        const int output = portArgument(args[2], "OUT");
        return [in = input, outPort = output](CtlContext &ctx) {
            if (!ctx.device.setRoute(in, outPort).ok())
                return ExitFailed;
            if (ctx.json)
                printJson(ctx, SwitcherJson::route(outPort, in));
            else
                ctx.out << "Output" << outPort << ": Input" << in << '\n';
            return ExitOk;
        };
    }
    // Several outputs, one after another; the first refusal ends the run and says where.
    const bool all = what == QLatin1String("all") && args.size() == 2;
    if (all || (what == QLatin1String("port-to-port") && args.size() == 1)) {
        int in = 0; // 0: output k gets input k
        if (all)
            in = portArgument(args[1], "IN");
        return [in](CtlContext &ctx) {
            std::array<int, PortCount> inputs{};
            for (int output = 1; output <= PortCount; ++output) {
                const int input = in ? in : output;
                if (!ctx.device.setRoute(input, output).ok()) {
                    ctx.err << "Output" << output << ": not switched to Input" << input << '\n';
                    return ExitFailed;
                }
                inputs[std::size_t(output - 1)] = input;
                if (!ctx.json)
                    ctx.out << "Output" << output << ": Input" << input << '\n';
            }
            if (ctx.json)
                printJson(ctx, {{SwitcherJson::Routes, SwitcherJson::routes(inputs)}});
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
        if (!ctx.json)
            ctx.out << hexBytes(result.reply) << '\n' << (ok ? "Success" : "Failed") << '\n';
        else if (ok)
            printJson(ctx, {{QStringLiteral("reply"), hexBytes(result.reply)}});
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
