#include "CtlCommand.h"

#include "DeviceEntry.h"
#include "ModuleExchange.h"
#include "NetworkModuleControl.h"
#include "TKVCOMControl.h"
#include "TKVPing.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonObject>
#include <QTextStream>

// Network modules: discovery and configuration by datagrams (no --tcp/--serial needed), and
// the module's information and reset over the switcher's link.
namespace {

constexpr int PingTimeoutMs = 500;

QString strictIP(const QString &text, const char *what)
{
    if (!ipBytes(text))
        throw UsageError{QLatin1String(what) + QLatin1String(" wants a dotted IPv4 address")};
    return text;
}

// Options of a network command: the arguments after the command name.
void parseOptions(QCommandLineParser &parser, const QString &command, const QStringList &args,
    const QList<QCommandLineOption> &options)
{
    parser.addOptions(options);
    if (!parser.parse(QStringList{command} + args))
        throw UsageError{command + QLatin1String(": ") + parser.errorText()};
}

void searchFor(NetworkModuleControl &control, const QString &address)
{
    TKVCOMControl &link = control.link();
    link.setUDPMode(address.isEmpty() ? umBROADCAST : umNORMAL);
    link.setDeviceIP(address.isEmpty() ? QStringLiteral("0.0.0.0") : address);
    control.FoundDevices().clear();
    control.SearchTCPDevice();
}

// A device entry's fields by name, in its order, as discover and netconfig print them.
QJsonObject entryJson(const QString &entry)
{
    static const char *const Fields[]
        = {"tag", "addressMode", "ip", "gateway", "mask", "mac", "reach"};
    QJsonObject device;
    for (int k = 0; k < int(std::size(Fields)); ++k)
        device.insert(QLatin1String(Fields[k]), GetEntryField(entry, k));
    return device;
}

CtlJob discover(const QStringList &args)
{
    const QCommandLineOption addressOption(
        QStringLiteral("address"), QStringLiteral("Ask this address only."), QStringLiteral("IP"));
    QCommandLineParser parser;
    parseOptions(parser, QStringLiteral("discover"), args, {addressOption});
    if (!parser.positionalArguments().isEmpty())
        throw UsageError{QStringLiteral("discover takes only --address IP")};
    const QString address = parser.isSet(addressOption)
        ? strictIP(parser.value(addressOption), "--address")
        : QString();
    return [address](CtlContext &ctx) {
        NetworkModuleControl control(ctx.device.link());
        searchFor(control, address);
        if (control.GetTCPDeviceCount() == 0) {
            ctx.device.setErrorCode(QStringLiteral("not_present"));
            ctx.err << (control.lastError().isEmpty() ? QStringLiteral("No Matrix found.")
                                                      : control.lastError())
                    << Qt::endl;
            return ExitFailed;
        }
        TKVPing ping(PingTimeoutMs);
        QJsonArray devices;
        for (int d = 1; d <= control.GetTCPDeviceCount(); ++d) {
            const QString ip = address.isEmpty() ? control.GetTCPDeviceItem(d, 1) : address;
            const QString entry = foundDeviceEntry(control, d, ping.PingHost(ip), address);
            if (!ctx.json) {
                ctx.out << entry << '\n';
                continue;
            }
            devices.append(entryJson(entry));
        }
        if (ctx.json)
            printJson(ctx, {{QStringLiteral("devices"), devices}});
        return ExitOk;
    };
}

CtlJob netconfig(const QStringList &args)
{
    const QCommandLineOption dhcp(QStringLiteral("dhcp"), QStringLiteral("Auto IP."));
    const QCommandLineOption staticIP(
        QStringLiteral("static"), QStringLiteral("Static address."), QStringLiteral("IP"));
    const QCommandLineOption gateway(
        QStringLiteral("gateway"), QStringLiteral("Gateway."), QStringLiteral("GW"));
    const QCommandLineOption mask(
        QStringLiteral("mask"), QStringLiteral("Subnet mask."), QStringLiteral("MASK"));
    const QCommandLineOption tag(
        QStringLiteral("tag"), QStringLiteral("Device tag."), QStringLiteral("TAG"));
    const QCommandLineOption address(QStringLiteral("address"),
        QStringLiteral("The module's current address."), QStringLiteral("IP"));
    QCommandLineParser parser;
    parseOptions(
        parser, QStringLiteral("netconfig"), args, {dhcp, staticIP, gateway, mask, tag, address});

    const QStringList words = parser.positionalArguments();
    MacAddress mac{};
    if (words.size() != 1 || !ParseMACText(words.first(), &mac))
        throw UsageError{QStringLiteral("netconfig wants one MAC address, 00-00-00-00-00-00")};
    const bool autoIP = parser.isSet(dhcp);
    const bool anyStatic = parser.isSet(staticIP) || parser.isSet(gateway) || parser.isSet(mask);
    const bool allStatic = parser.isSet(staticIP) && parser.isSet(gateway) && parser.isSet(mask);
    if (autoIP == anyStatic || (anyStatic && !allStatic))
        throw UsageError{
            QStringLiteral("netconfig wants --dhcp, or --static, --gateway and --mask")};
    std::array<QString, 4> ip, gw, sn;
    if (!autoIP) {
        ParseIPText(strictIP(parser.value(staticIP), "--static"), &ip);
        ParseIPText(strictIP(parser.value(gateway), "--gateway"), &gw);
        ParseIPText(strictIP(parser.value(mask), "--mask"), &sn);
    }
    const QString current
        = parser.isSet(address) ? strictIP(parser.value(address), "--address") : QString();
    const bool tagGiven = parser.isSet(tag);
    const QString tagText = parser.value(tag);

    return [=](CtlContext &ctx) {
        NetworkModuleControl control(ctx.device.link());
        QString newTag = tagText;
        if (!tagGiven) {
            // The record always carries a tag: keep the module's own.
            searchFor(control, current);
            int found = 0;
            for (int d = 1; d <= control.GetTCPDeviceCount() && !found; ++d) {
                if (control.GetTCPDeviceItem(d, 0) == macText(mac))
                    found = d;
            }
            if (!found) {
                ctx.device.setErrorCode(QStringLiteral("not_present"));
                ctx.err << "matrixctl: module " << macText(mac)
                        << " did not answer a search; give its --tag" << Qt::endl;
                return ExitFailed;
            }
            newTag = control.GetTCPDeviceItem(found, 6);
        }
        TKVCOMControl &link = ctx.device.link();
        link.setDeviceIP(current.isEmpty() ? QStringLiteral("0.0.0.0") : current);
        const ConfigRecord request = buildConfigRecord(mac, newTag, autoIP, ip, gw, sn);
        const ConfigResult result = control.SetTCPConfig(request);
        // A refusal, like any failure: exit 2 is kept for bad arguments.
        if (result == ConfigResult::AddressConflict) {
            ctx.device.setErrorCode(QStringLiteral("refused"));
            ctx.err << "Setting IP conflict:" << ipText(request.ip()) << Qt::endl;
            return ExitFailed;
        }
        if (result != ConfigResult::Accepted) {
            QString why = control.lastError();
            ctx.device.setErrorCode(
                control.UDPReplied() ? QStringLiteral("refused") : QStringLiteral("not_present"));
            if (why.isEmpty() && !control.UDPReplied())
                why = QLatin1String("no answer from MAC ") + macText(mac);
            else if (why.isEmpty())
                why = QStringLiteral("refused by the module (status 0x%1)")
                          .arg(control.configRecord().status(), 2, 16, QLatin1Char('0'));
            ctx.err << "Modify TCP configuration failed: " << why << Qt::endl;
            return ExitFailed;
        }
        const ConfigRecord &answer = control.configRecord();
        TKVPing ping(PingTimeoutMs);
        const bool reached = ping.PingHost(ipText(autoIP ? answer.ip() : request.ip()));
        const QString former = makeDeviceEntry({QString(), QString(), QString(), QString(),
            QString(), QString(), reached ? SameSubnetText : CrossSubnetText});
        const QString entry = configuredEntry(former, newTag, autoIP, request, answer);
        if (ctx.json)
            printJson(ctx, {{QStringLiteral("device"), entryJson(entry)}});
        else
            ctx.out << "Modify TCP configuration ok\n" << entry << '\n';
        return ExitOk;
    };
}

void printInfo(CtlContext &ctx, const TCPModuleInfo &info, bool reset)
{
    if (!ctx.json) {
        ctx.out << info.versionText() << '\n' << info.dhcpText() << '\n' << info.ipText() << '\n';
        return;
    }
    QJsonObject document{{QStringLiteral("version"),
                             QStringLiteral("%1.%2").arg(info.versionMajor).arg(info.versionMinor)},
        {QStringLiteral("addressMode"), info.autoIP ? AutoIPText : StaticIPText},
        {QStringLiteral("ip"), ipText(info.ip)}};
    if (reset)
        document.insert(QStringLiteral("reset"), true);
    printJson(ctx, document);
}

CtlJob module(const QStringList &args)
{
    const QString what = args.value(0);
    if (args.size() != 1 || (what != QLatin1String("info") && what != QLatin1String("reset")))
        throw UsageError{QStringLiteral("module takes info or reset")};
    return [what](CtlContext &ctx) {
        if (!ctx.device.connect())
            return ExitFailed;
        TKVCOMControl &link = ctx.device.link();
        ctx.device.clearFailure();
        if (what == QLatin1String("reset")) {
            if (!resetTCPModule(link)) {
                ctx.device.reportFailure();
                ctx.err << "Reset Default failed" << Qt::endl;
                return ExitFailed;
            }
            if (!ctx.json)
                ctx.out << "Reset Default ok\n";
        }
        const std::optional<TCPModuleInfo> info = queryTCPModule(link);
        if (!info) {
            ctx.device.reportFailure();
            ctx.err << "Query TCP Module failed" << Qt::endl;
            return ExitFailed;
        }
        printInfo(ctx, *info, what == QLatin1String("reset"));
        return ExitOk;
    };
}

} // namespace

void addNetworkCommands(CtlCommandTable &table)
{
    table.append({QStringLiteral("discover"),
        QStringLiteral(
            "discover [--address IP]       find network modules by broadcast (or at IP) and\n"
            "                              print one device entry each"),
        discover});
    table.append({QStringLiteral("netconfig"),
        QStringLiteral(
            "netconfig MAC (--dhcp | --static IP --gateway GW --mask MASK) [--tag TAG]\n"
            "          [--address CURRENT-IP]\n"
            "                              change a module's network settings; the tag\n"
            "                              stays unless given; exit 1 when it is refused,\n"
            "                              an address conflict included"),
        netconfig});
    table.append({QStringLiteral("module"),
        QStringLiteral("module info|reset             query the switcher's network module, or\n"
                       "                              reset it to 192.168.0.100 and query it"),
        module});
}
