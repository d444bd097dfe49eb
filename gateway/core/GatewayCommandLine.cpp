#include "GatewayCommandLine.h"

#include "TcpTarget.h"

#include <QCommandLineParser>
#include <QNetworkInterface>
#include <QUrl>

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

// A topic prefix: one or more levels, none empty, no wildcards.
bool isTopicPrefix(const QString &text)
{
    if (text.isEmpty() || text.size() > 128)
        return false;
    for (const QString &level : text.split(QLatin1Char('/'))) {
        if (level.isEmpty())
            return false;
    }
    for (const QChar c : text) {
        if (c == QLatin1Char('+') || c == QLatin1Char('#') || c.unicode() < 0x20)
            return false;
    }
    return true;
}

// mqtt://HOST[:PORT] or mqtts://HOST[:PORT], nothing else.
bool parseMqttUrl(const QString &text, GatewayOptions::Mqtt *mqtt)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))
        || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment()
        || (!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.port() == 0)
        return false;
    mqtt->tls = scheme == QLatin1String("mqtts");
    mqtt->host = url.host();
    mqtt->port = quint16(url.port(
        mqtt->tls ? GatewayOptions::Mqtt::DefaultTlsPort : GatewayOptions::Mqtt::DefaultPort));
    return true;
}

} // namespace

bool GatewayOptions::allowed(const QHostAddress &address) const
{
    ClientPolicy policy;
    policy.allow = allow;
    return policy.allowed(address);
}

GatewayParse parseGatewayArguments(const QStringList &arguments, GatewayOptions *options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Owns the link to one switcher and serves router panels (Videohub Ethernet Protocol),\n"
        "an HTTP/WebSocket API and a web control page, with live feedback; with --mqtt also an\n"
        "MQTT broker, where Home Assistant finds it."));
    const LinkTargetOptions linkOptions;
    const QCommandLineOption &tcp = linkOptions.tcp;
    const QCommandLineOption &serial = linkOptions.serial;
    const QCommandLineOption demo(QStringLiteral("demo"),
        QStringLiteral("Serve a simulated switcher inside the program, on loopback only."));
    const QCommandLineOption poll(QStringLiteral("poll"),
        QStringLiteral("Read power and routes every SECONDS (default 2; 0: never)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption replyTimeout(QStringLiteral("reply-timeout"),
        QStringLiteral("Wait MS for each reply of the switcher, twice per request, before it "
                       "counts as gone (default %1; 10 to 60000).")
            .arg(GatewayConfig::DefaultReplyTimeoutMs),
        QStringLiteral("MS"));
    const QCommandLineOption settings(QStringLiteral("settings"),
        QStringLiteral("gateway.ini to keep labels and presets in."), QStringLiteral("FILE"));
    const QCommandLineOption importSettings(QStringLiteral("import-settings"),
        QStringLiteral("Take this switcher's labels and presets once from a window's Settings.ini "
                       "(only read)."),
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
    const QCommandLineOption noVideohub(QStringLiteral("no-videohub"),
        QStringLiteral("Serve no router panels: the Videohub server stays off."));
    const QCommandLineOption noHttp(QStringLiteral("no-http"),
        QStringLiteral("Serve no HTTP API, events or web page: the HTTP server stays off."));
    const QCommandLineOption tokenFile(QStringLiteral("token-file"),
        QStringLiteral("File holding the token HTTP clients must send beyond loopback."),
        QStringLiteral("FILE"));
    const QCommandLineOption allow(QStringLiteral("allow"),
        QStringLiteral("Subnets whose addresses may use the gateway, e.g. 10.0.0.0/24 (repeat or "
                       "separate by commas; default loopback and the subnet of --listen ADDR)."),
        QStringLiteral("CIDR"));
    const QCommandLineOption maxPerAddress(QStringLiteral("max-per-address"),
        QStringLiteral("Connections one client address may hold on each server (default 8; "
                       "0: no bound; loopback is not bound)."),
        QStringLiteral("N"));
    const QCommandLineOption tlsCert(QStringLiteral("tls-cert"),
        QStringLiteral("PEM certificate to serve HTTPS and WSS with (needs --tls-key)."),
        QStringLiteral("FILE"));
    const QCommandLineOption tlsKey(QStringLiteral("tls-key"),
        QStringLiteral("PEM private key of the --tls-cert certificate."), QStringLiteral("FILE"));
    const QCommandLineOption insecureHttp(QStringLiteral("insecure-http"),
        QStringLiteral("Take the token over plain HTTP beyond loopback, where anyone on the "
                       "network can read it."));
    const QCommandLineOption makeToken(QStringLiteral("make-token"),
        QStringLiteral("Write a new random token to FILE (mode 0600), show how to give it to "
                       "the service, and stop."),
        QStringLiteral("FILE"));
    const QCommandLineOption mqtt(QStringLiteral("mqtt"),
        QStringLiteral("Publish the switcher on an MQTT broker and take commands from it: "
                       "mqtt://HOST[:PORT] (default port 1883) or mqtts://HOST[:PORT] (8883)."),
        QStringLiteral("URL"));
    const QCommandLineOption mqttUser(QStringLiteral("mqtt-user"),
        QStringLiteral("User name to log in to the broker with."), QStringLiteral("NAME"));
    const QCommandLineOption mqttPasswordFile(QStringLiteral("mqtt-password-file"),
        QStringLiteral("File whose first line is the broker password."), QStringLiteral("FILE"));
    const QCommandLineOption mqttCaFile(QStringLiteral("mqtt-cafile"),
        QStringLiteral("PEM certificates to check an mqtts broker with (default: the system's)."),
        QStringLiteral("FILE"));
    const QCommandLineOption mqttId(QStringLiteral("mqtt-id"),
        QStringLiteral("This gateway's id in topics and as MQTT client (default: a random id "
                       "made at the first start and kept in gateway.ini)."),
        QStringLiteral("ID"));
    const QCommandLineOption mqttPrefix(QStringLiteral("mqtt-prefix"),
        QStringLiteral("First topic level(s) (default matrix): topics are PREFIX/ID/..."),
        QStringLiteral("PREFIX"));
    const QCommandLineOption haPrefix(QStringLiteral("ha-discovery-prefix"),
        QStringLiteral("Home Assistant's discovery prefix (default homeassistant)."),
        QStringLiteral("PREFIX"));
    const QCommandLineOption noHaDiscovery(QStringLiteral("no-ha-discovery"),
        QStringLiteral("Publish no Home Assistant discovery configs."));
    const QCommandLineOption haRemove(QStringLiteral("ha-remove"),
        QStringLiteral("Remove this gateway's device from Home Assistant (empty retained configs) "
                       "and stop."));
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(
        QStringLiteral("version"), QStringLiteral("Show the version."));
    parser.addOptions({tcp, serial, demo, poll, replyTimeout, settings, importSettings, listen,
        videohubPort, httpPort, noVideohub, noHttp, tokenFile, allow, maxPerAddress, tlsCert,
        tlsKey, insecureHttp, makeToken, mqtt, mqttUser, mqttPasswordFile, mqttCaFile, mqttId,
        mqttPrefix, haPrefix, noHaDiscovery, haRemove, help, version});

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
    if (parser.isSet(makeToken)) {
        o.makeToken = parser.value(makeToken);
        if (o.makeToken.trimmed().isEmpty())
            return error(QStringLiteral("--make-token takes a FILE"));
        return {GatewayParse::MakeToken, {}};
    }
    const int targets
        = int(parser.isSet(tcp)) + int(parser.isSet(serial)) + int(parser.isSet(demo));
    // Removing the device from Home Assistant needs no switcher.
    if (targets != 1 && !(parser.isSet(haRemove) && targets == 0))
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
    if (parser.isSet(replyTimeout)) {
        bool ok = false;
        const int ms = parser.value(replyTimeout).toInt(&ok);
        if (!ok || ms < GatewayOptions::MinReplyTimeoutMs || ms > GatewayOptions::MaxReplyTimeoutMs)
            return error(QStringLiteral("--reply-timeout takes MS from %1 to %2")
                             .arg(GatewayOptions::MinReplyTimeoutMs)
                             .arg(GatewayOptions::MaxReplyTimeoutMs));
        o.gateway.timing = gatewayTiming(ms);
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
    o.videohub = !parser.isSet(noVideohub);
    o.http = !parser.isSet(noHttp);
    if (!o.videohub && parser.isSet(videohubPort))
        return error(QStringLiteral("--videohub-port and --no-videohub contradict each other"));
    if (!o.http) {
        // The token and TLS guard the HTTP server only.
        for (const QCommandLineOption *needsHttp :
            {&httpPort, &tokenFile, &tlsCert, &tlsKey, &insecureHttp}) {
            if (parser.isSet(*needsHttp))
                return error(QStringLiteral("--%1 is for the HTTP server, which --no-http turns "
                                            "off")
                                 .arg(needsHttp->names().first()));
        }
    }
    o.tokenFile = parser.value(tokenFile);
    if (o.http && !isLoopback(o.listen) && o.tokenFile.isEmpty())
        return error(QStringLiteral("listening beyond loopback needs --token-file FILE"));
    if (o.demo && !isLoopback(o.listen))
        return error(QStringLiteral("--demo serves on loopback only"));
    o.tlsCertificate = parser.value(tlsCert);
    o.tlsKey = parser.value(tlsKey);
    if (o.tlsCertificate.isEmpty() != o.tlsKey.isEmpty())
        return error(QStringLiteral("--tls-cert FILE and --tls-key FILE go together"));
    o.insecureHttp = parser.isSet(insecureHttp);
    if (o.http && !isLoopback(o.listen) && !o.tokenFile.isEmpty() && o.tlsCertificate.isEmpty()
        && !o.insecureHttp) {
        return error(QStringLiteral(
            "beyond loopback the token would cross the network in clear text over HTTP: give "
            "--tls-cert FILE and --tls-key FILE, or --insecure-http to accept that"));
    }
    if (parser.isSet(maxPerAddress)) {
        bool ok = false;
        o.maxPerAddress = parser.value(maxPerAddress).toInt(&ok);
        if (!ok || o.maxPerAddress < 0 || o.maxPerAddress > 100000)
            return error(QStringLiteral("--max-per-address takes a number from 0 to 100000"));
    }

    o.allow.clear();
    o.allowNamed = parser.isSet(allow);
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
        o.allow = ClientPolicy::loopback();

    GatewayOptions::Mqtt &m = o.mqtt;
    m.enabled = parser.isSet(mqtt);
    if (m.enabled && !parseMqttUrl(parser.value(mqtt), &m))
        return error(QStringLiteral("--mqtt takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT]"));
    for (const QCommandLineOption *needsBroker : {&mqttUser, &mqttPasswordFile, &mqttCaFile,
             &mqttId, &mqttPrefix, &haPrefix, &noHaDiscovery, &haRemove}) {
        if (!m.enabled && parser.isSet(*needsBroker))
            return error(QStringLiteral("--%1 needs --mqtt URL").arg(needsBroker->names().first()));
    }
    m.user = parser.value(mqttUser);
    m.passwordFile = parser.value(mqttPasswordFile);
    if (parser.isSet(mqttPasswordFile) && m.user.isEmpty())
        return error(QStringLiteral("--mqtt-password-file needs --mqtt-user NAME"));
    m.caFile = parser.value(mqttCaFile);
    if (parser.isSet(mqttCaFile) && !m.tls)
        return error(QStringLiteral("--mqtt-cafile is for an mqtts:// broker"));
    m.id = parser.value(mqttId);
    if (parser.isSet(mqttId) && !isMqttId(m.id))
        return error(QStringLiteral("--mqtt-id takes 1 to 64 letters, digits, '-' and '_'"));
    if (parser.isSet(mqttPrefix))
        m.prefix = parser.value(mqttPrefix);
    if (parser.isSet(haPrefix))
        m.discoveryPrefix = parser.value(haPrefix);
    if (!isTopicPrefix(m.prefix) || !isTopicPrefix(m.discoveryPrefix))
        return error(QStringLiteral("--mqtt-prefix and --ha-discovery-prefix take topic levels "
                                    "without '+', '#' or empty levels, e.g. matrix"));
    m.discovery = !parser.isSet(noHaDiscovery);
    m.haRemove = parser.isSet(haRemove);
    if (m.haRemove && !m.discovery)
        return error(QStringLiteral("--ha-remove and --no-ha-discovery contradict each other"));
    // A gateway nobody can reach is a mistake, not a service.
    if (!o.videohub && !o.http && !m.enabled)
        return error(QStringLiteral("--no-videohub and --no-http leave no way to reach the "
                                    "switcher: give --mqtt URL or keep a server"));
    return {};
}

ClientPolicy clientPolicy(const GatewayOptions &options, QString *says)
{
    ClientPolicy policy;
    policy.maxPerAddress = options.maxPerAddress;
    policy.allow = options.allow;
    const QHostAddress listen = ClientPolicy::plain(options.listen);
    if (!options.allowNamed && !listen.isLoopback()) {
        if (listen == QHostAddress::AnyIPv4 || listen == QHostAddress::AnyIPv6
            || listen == QHostAddress::Any) {
            *says = QStringLiteral("Listening on every address, but only loopback may connect "
                                   "until --allow names networks");
            return policy;
        }
        bool found = false;
        for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
            for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
                if (entry.ip() != listen || entry.prefixLength() < 0)
                    continue;
                const Subnet own = QHostAddress::parseSubnet(
                    listen.toString() + QLatin1Char('/') + QString::number(entry.prefixLength()));
                if (!own.first.isNull() && !policy.allow.contains(own))
                    policy.allow.append(own);
                found = true;
            }
        }
        // An address no interface holds cannot be listened on; the server says so.
        if (!found)
            policy.allow.append(
                {listen, listen.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128});
    }
    *says = QStringLiteral("Clients allowed from %1").arg(ClientPolicy::subnetsText(policy.allow));
    return policy;
}

bool isMqttId(const QString &text)
{
    if (text.isEmpty() || text.size() > 64)
        return false;
    for (const QChar c : text) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('-')
            && c != QLatin1Char('_'))
            return false;
    }
    return true;
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
