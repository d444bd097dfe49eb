#include "GatewayCommandLine.h"

#include "TcpTarget.h"

#include <QCommandLineParser>

namespace {

bool parsePort(const QString &text, quint16 *port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value > 0xFFFF)
        return false;
    *port = quint16(value);
    return true;
}

bool isLoopback(const QHostAddress &address)
{
    return address.isLoopback();
}

} // namespace

bool GatewayOptions::allowed(const QHostAddress &address) const
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    const QHostAddress plain = mapped ? QHostAddress(v4) : address;
    for (const auto &subnet : allow) {
        if (plain.isInSubnet(subnet))
            return true;
    }
    return false;
}

GatewayParse parseGatewayArguments(const QStringList &arguments, GatewayOptions *options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Owns the link to one switcher and serves router panels (Videohub Ethernet Protocol),\n"
        "an HTTP/WebSocket API and a web control page, with live feedback."));
    const LinkTargetOptions linkOptions;
    const QCommandLineOption &tcp = linkOptions.tcp;
    const QCommandLineOption &serial = linkOptions.serial;
    const QCommandLineOption demo(QStringLiteral("demo"),
        QStringLiteral("Serve a simulated switcher inside the program, on loopback only."));
    const QCommandLineOption poll(QStringLiteral("poll"),
        QStringLiteral("Read power and routes every SECONDS (default 2; 0: never)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption settings(QStringLiteral("settings"),
        QStringLiteral("gateway.ini to keep labels and presets in."), QStringLiteral("FILE"));
    const QCommandLineOption importSettings(QStringLiteral("import-settings"),
        QStringLiteral("Take labels and presets once from a window's Settings.ini (only read)."),
        QStringLiteral("FILE"));
    const QCommandLineOption listen(QStringLiteral("listen"),
        QStringLiteral("Address both servers listen on (default 127.0.0.1)."),
        QStringLiteral("ADDR"));
    const QCommandLineOption videohubPort(QStringLiteral("videohub-port"),
        QStringLiteral("Videohub protocol port (default 9990; 0: any free port)."),
        QStringLiteral("PORT"));
    const QCommandLineOption httpPort(QStringLiteral("http-port"),
        QStringLiteral("HTTP and WebSocket port (default 8080; 0: any free port)."),
        QStringLiteral("PORT"));
    const QCommandLineOption tokenFile(QStringLiteral("token-file"),
        QStringLiteral("File holding the token HTTP clients must send beyond loopback."),
        QStringLiteral("FILE"));
    const QCommandLineOption allow(QStringLiteral("allow"),
        QStringLiteral("Subnets whose addresses may use the Videohub port, e.g. 10.0.0.0/24 "
                       "(repeat or separate by commas; default loopback only)."),
        QStringLiteral("CIDR"));
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(
        QStringLiteral("version"), QStringLiteral("Show the version."));
    parser.addOptions({tcp, serial, demo, poll, settings, importSettings, listen, videohubPort,
        httpPort, tokenFile, allow, help, version});

    auto error = [](const QString &why) { return GatewayParse{GatewayParse::Error, why}; };
    if (!parser.parse(arguments))
        return error(parser.errorText());
    if (parser.isSet(help))
        return {GatewayParse::Help, parser.helpText()};
    if (parser.isSet(version))
        return {GatewayParse::Version, {}};
    if (!parser.positionalArguments().isEmpty())
        return error(QStringLiteral("unexpected argument \"%1\"")
                         .arg(parser.positionalArguments().constFirst()));

    GatewayOptions &o = *options;
    const int targets
        = int(parser.isSet(tcp)) + int(parser.isSet(serial)) + int(parser.isSet(demo));
    if (targets != 1)
        return error(QStringLiteral("choose one of --tcp HOST[:PORT], --serial PATH and --demo"));
    o.demo = parser.isSet(demo);
    if (parser.isSet(tcp)) {
        o.gateway.target = GatewayConfig::Target::Tcp;
        if (!parseTcpTarget(parser.value(tcp), &o.gateway.host, &o.gateway.tcpPort))
            return error(LinkTargetOptions::tcpValueError());
    } else if (parser.isSet(serial)) {
        o.gateway.target = GatewayConfig::Target::Serial;
        o.gateway.serialPath = parser.value(serial);
        if (o.gateway.serialPath.trimmed().isEmpty())
            return error(LinkTargetOptions::serialValueError());
    }

    o.gateway.pollMs = GatewayOptions::DefaultPollSeconds * 1000;
    if (parser.isSet(poll)) {
        bool ok = false;
        const double seconds = parser.value(poll).toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 3600)
            return error(QStringLiteral("--poll takes SECONDS from 0 to 3600"));
        o.gateway.pollMs = int(seconds * 1000);
        if (seconds > 0 && o.gateway.pollMs == 0)
            o.gateway.pollMs = 1;
    }
    o.settingsNamed = parser.isSet(settings);
    o.gateway.settingsPath = parser.value(settings);
    if (o.settingsNamed && o.gateway.settingsPath.trimmed().isEmpty())
        return error(QStringLiteral("--settings takes a FILE"));
    o.importSettings = parser.value(importSettings);

    if (parser.isSet(listen)) {
        o.listen = QHostAddress(parser.value(listen));
        if (o.listen.isNull())
            return error(QStringLiteral("--listen takes an IP address, e.g. 0.0.0.0"));
    }
    if (parser.isSet(videohubPort) && !parsePort(parser.value(videohubPort), &o.videohubPort))
        return error(QStringLiteral("--videohub-port takes a port from 0 to 65535"));
    if (parser.isSet(httpPort) && !parsePort(parser.value(httpPort), &o.httpPort))
        return error(QStringLiteral("--http-port takes a port from 0 to 65535"));
    o.tokenFile = parser.value(tokenFile);
    if (!isLoopback(o.listen) && o.tokenFile.isEmpty())
        return error(QStringLiteral("listening beyond loopback needs --token-file FILE"));
    if (o.demo && !isLoopback(o.listen))
        return error(QStringLiteral("--demo serves on loopback only"));

    o.allow.clear();
    for (const QString &value : parser.values(allow)) {
        for (const QString &item : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const auto subnet = QHostAddress::parseSubnet(item.trimmed());
            if (subnet.first.isNull())
                return error(
                    QStringLiteral("--allow takes subnets such as 192.0.2.0/24, not \"%1\"")
                        .arg(item));
            o.allow.append(subnet);
        }
    }
    if (o.allow.isEmpty())
        o.allow = {QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8")),
            QHostAddress::parseSubnet(QStringLiteral("::1/128"))};
    return {};
}

QString endpointText(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
        : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}

QString readyLine(const QString &server, const QHostAddress &address, quint16 port)
{
    return server + QStringLiteral(" listening on ") + endpointText(address, port);
}
