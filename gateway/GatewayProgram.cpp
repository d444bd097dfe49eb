#include "GatewayProgram.h"

#include "FileAccess.h"
#include "Gateway.h"
#include "GatewayApi.h"
#include "GatewayCommandLine.h"
#include "GatewaySettings.h"
#include "HttpAccess.h"
#include "HttpServer.h"
#include "MatrixVersion.h"
#include "MqttBridge.h"
#include "ProgramOutput.h"
#include "SettingsLocation.h"
#include "SimulatorServer.h"
#include "VideohubProtocol.h"
#include "VideohubServer.h"
#include "WindowSettingsImport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHostInfo>
#include <QRandomGenerator>
#include <QTextStream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

namespace {

// Writes a new token into a file that did not exist, readable by its owner only, and says how
// to hand it to the service without making it readable to the service's own user.
int makeTokenFile(const QString &path, QTextStream &out, QTextStream &err)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(
        name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        const int error = errno;
        err << "matrix-gateway: cannot make the token file " << path << ": "
            << (error == EEXIST ? QStringLiteral("it exists; a new token would lock out the "
                                                 "clients that use it, so remove it first")
                                : QString::fromLocal8Bit(std::strerror(error)))
            << Qt::endl;
        return 2;
    }
    const QByteArray token = HttpAccess::makeToken() + '\n';
    bool written = ::write(fd, token.constData(), size_t(token.size())) == token.size();
    written = ::fsync(fd) == 0 && written;
    written = ::close(fd) == 0 && written;
    if (!written) {
        err << "matrix-gateway: cannot write the token file " << path << Qt::endl;
        ::unlink(name.constData());
        return 1;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    out << "A new token is in " << absolute << " (mode 0600).\n"
        << "For the service, keep it owned by root and add these lines with "
           "\"systemctl edit matrix-gateway\":\n\n"
        << "[Service]\n"
        << "LoadCredential=token:" << absolute << "\n"
        << "ExecStart=\n"
        << "ExecStart=/usr/bin/matrix-gateway --settings /var/lib/matrix-gateway/gateway.ini "
           "--token-file ${CREDENTIALS_DIRECTORY}/token $MATRIX_GATEWAY_OPTIONS\n"
        << Qt::flush;
    return 0;
}

// The broker link as the options give it. The id comes from --mqtt-id, or else from gateway.ini,
// where one is made and kept at the first start so that a restart keeps it and two gateways
// never share one by accident. *refusal says why the gateway cannot start.
std::optional<MqttBridgeConfig> mqttConfig(
    const GatewayOptions &options, const GatewaySettings &settings, QString *refusal)
{
    const GatewayOptions::Mqtt &m = options.mqtt;
    MqttBridgeConfig config;
    config.link.host = m.host;
    config.link.port = m.port;
    config.link.tls = m.tls;
    config.link.caFile = m.caFile;
    config.link.user = m.user;
    config.prefix = m.prefix;
    config.discovery = m.discovery;
    config.discoveryPrefix = m.discoveryPrefix;
    if (!m.passwordFile.isEmpty()) {
        const FileAccess::ReadResult file = FileAccess::readFile(m.passwordFile, 4096);
        if (!file.ok) {
            *refusal = QStringLiteral("cannot read the MQTT password file %1: %2")
                           .arg(m.passwordFile, file.reason);
            return std::nullopt;
        }
        const qsizetype end = file.bytes.indexOf('\n');
        config.link.password = (end < 0 ? file.bytes : file.bytes.left(end)).trimmed();
        if (config.link.password.isEmpty()) {
            *refusal = QStringLiteral("the MQTT password file %1 holds no password on its "
                                      "first line")
                           .arg(m.passwordFile);
            return std::nullopt;
        }
    }
    if (!m.caFile.isEmpty()) {
        const FileAccess::ReadResult file = FileAccess::readFile(m.caFile, 4 * 1024 * 1024);
        if (!file.ok) {
            *refusal
                = QStringLiteral("cannot read the MQTT CA file %1: %2").arg(m.caFile, file.reason);
            return std::nullopt;
        }
    }
    config.id = m.id;
    if (config.id.isEmpty()) {
        GatewaySettings::Values values = settings.load();
        if (!isMqttId(values.mqttId)) {
            values.mqttId = QStringLiteral("gateway-")
                + QString::number(QRandomGenerator::system()->generate64() & 0xffffffffffffULL, 16)
                      .rightJustified(12, QLatin1Char('0'));
            QString error;
            if (!settings.save(values, &error)) {
                *refusal = QStringLiteral("cannot keep the MQTT id: %1").arg(error);
                return std::nullopt;
            }
        }
        config.id = values.mqttId;
    }
    config.link.clientId = config.id;
    return config;
}

// The web page's address as another machine on the network would write it.
QString pageUrl(const QHostAddress &listen, quint16 port, bool tls)
{
    QString host = listen.toString();
    if (listen == QHostAddress::AnyIPv4 || listen == QHostAddress::AnyIPv6
        || listen == QHostAddress::Any)
        host = QHostInfo::localHostName();
    else if (listen.protocol() == QAbstractSocket::IPv6Protocol)
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return (tls ? QStringLiteral("https://") : QStringLiteral("http://")) + host + QLatin1Char(':')
        + QString::number(port) + QLatin1Char('/');
}

} // namespace

int runGateway(QCoreApplication &app)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    GatewayOptions options;
    const GatewayParse parsed = parseGatewayArguments(QCoreApplication::arguments(), &options);
    switch (parsed.kind) {
    case GatewayParse::Help:
        out << parsed.text;
        return 0;
    case GatewayParse::Version:
        out << "matrix-gateway " << MATRIX_VERSION << Qt::endl;
        return 0;
    case GatewayParse::Error:
        err << usageErrorLine(QStringLiteral("matrix-gateway"), parsed.text);
        err.flush();
        return 2;
    case GatewayParse::MakeToken:
        return makeTokenFile(options.makeToken, out, err);
    case GatewayParse::Run:
        break;
    }

    // gateway.ini lives where the window's Settings.ini would; the demo keeps its own file so
    // that it never touches the labels of a real switcher.
    if (!options.settingsNamed) {
        const SettingsLocation location
            = SettingsLocation::forProgramFolder(QCoreApplication::applicationDirPath());
        if (location.installed) {
            if (const QString why = location.prepare(); !why.isEmpty()) {
                err << "matrix-gateway: " << location.refusalText(why) << Qt::endl;
                return 2;
            }
        }
        options.gateway.settingsPath
            = QDir(location.folder)
                  .filePath(options.demo ? QStringLiteral("gateway-demo.ini")
                                         : QStringLiteral("gateway.ini"));
    }
    // A change the gateway takes must be one it keeps: a file it cannot read or write ends it
    // here, before anyone is served.
    const GatewaySettings settings(options.gateway.settingsPath);
    const GatewaySettings::Prepared prepared = settings.prepare(QDateTime::currentDateTime());
    for (const QString &note : prepared.notes)
        err << "matrix-gateway: " << note << Qt::endl;
    if (!prepared.refusal.isEmpty()) {
        err << "matrix-gateway: " << prepared.refusal << Qt::endl;
        return 2;
    }

    std::optional<MqttBridgeConfig> mqtt;
    if (options.mqtt.enabled) {
        QString refusal;
        mqtt = mqttConfig(options, settings, &refusal);
        if (!mqtt) {
            err << "matrix-gateway: " << refusal << Qt::endl;
            return 2;
        }
    }
    if (options.mqtt.haRemove) {
        QString error;
        if (!MqttBridge::removeFromHomeAssistant(*mqtt, 15000, &error)) {
            err << "matrix-gateway: " << error << Qt::endl;
            return 1;
        }
        out << "Removed the device " << mqtt->id << " from Home Assistant (under "
            << mqtt->discoveryPrefix << ") and its retained topics under " << mqtt->prefix << '/'
            << mqtt->id << Qt::endl;
        return 0;
    }

    std::unique_ptr<SimulatorServer> simulator;
    if (options.demo) {
        simulator = std::make_unique<SimulatorServer>();
        if (!simulator->listenTcp(QHostAddress(QHostAddress::LocalHost), 0)) {
            err << "matrix-gateway: the demo switcher cannot listen on loopback: "
                << simulator->tcpError() << Qt::endl;
            return 1;
        }
        options.gateway.target = GatewayConfig::Target::Tcp;
        options.gateway.host = QStringLiteral("127.0.0.1");
        options.gateway.tcpPort = simulator->tcpPort();
    }

    HttpAccess access;
    if (!options.tokenFile.isEmpty()) {
        QString error;
        const QByteArray token = HttpAccess::readTokenFile(options.tokenFile, &error);
        if (token.isEmpty()) {
            err << "matrix-gateway: " << error << Qt::endl;
            return 2;
        }
        if (token.size() < HttpAccess::MinTokenLength) {
            err << "matrix-gateway: the token in " << options.tokenFile << " has " << token.size()
                << " characters; a token needs at least " << HttpAccess::MinTokenLength
                << " to resist guessing (matrix-gateway --make-token FILE makes one)" << Qt::endl;
            return 2;
        }
        access = HttpAccess(token);
    }
    std::optional<QSslConfiguration> tls;
    if (!options.tlsCertificate.isEmpty()) {
        QString error;
        tls = HttpServer::loadTls(options.tlsCertificate, options.tlsKey, &error);
        if (!tls) {
            err << "matrix-gateway: " << error << Qt::endl;
            return 2;
        }
    }
    QString allowedText;
    const ClientPolicy clients = clientPolicy(options, &allowedText);

    if (!options.importSettings.isEmpty()) {
        const QString host = options.gateway.target == GatewayConfig::Target::Tcp
            ? options.gateway.host
            : QString();
        GatewaySettings::Values values = settings.load();
        WindowImport found;
        QString error;
        if (!importWindowSettings(options.importSettings, host, &values, &found, &error)) {
            err << "matrix-gateway: " << error << Qt::endl;
            return 2;
        }
        // A file with nothing for this switcher is a mistake to tell, not labels to wipe.
        if (found.nothing()) {
            err << "matrix-gateway: " << found.summary(options.importSettings) << "; "
                << settings.path() << " was left as it is" << Qt::endl;
            return 2;
        }
        if (!settings.save(values, &error)) {
            err << "matrix-gateway: " << error << Qt::endl;
            return 2;
        }
        out << found.summary(options.importSettings) << Qt::endl;
    }

    Gateway gateway(options.gateway);
    // The device's id on the Videohub wire stays the same for the same switcher.
    const QString target = options.demo ? QStringLiteral("demo")
        : options.gateway.target == GatewayConfig::Target::Serial
        ? options.gateway.serialPath
        : options.gateway.host + QLatin1Char(':') + QString::number(options.gateway.tcpPort);
    std::unique_ptr<VideohubServer> videohub;
    if (options.videohub) {
        videohub = std::make_unique<VideohubServer>(gateway, clients, Videohub::uniqueId(target));
        if (!videohub->listen(options.listen, options.videohubPort)) {
            err << "matrix-gateway: the Videohub server cannot listen on "
                << endpointText(options.listen, options.videohubPort) << ": "
                << videohub->errorString() << Qt::endl;
            return 1;
        }
    }
    std::unique_ptr<HttpServer> http;
    std::unique_ptr<GatewayApi> api;
    if (options.http) {
        http = std::make_unique<HttpServer>();
        http->setAccess(access);
        http->setClientPolicy(clients);
        if (tls)
            http->setTlsConfiguration(*tls);
        api = std::make_unique<GatewayApi>(gateway, *http);
        if (!http->listen(options.listen, options.httpPort)) {
            err << "matrix-gateway: the HTTP server cannot listen on "
                << endpointText(options.listen, options.httpPort) << ": " << http->errorString()
                << Qt::endl;
            return 1;
        }
    }
    gateway.start();
    std::unique_ptr<MqttBridge> bridge;
    if (mqtt) {
        // Without the HTTP server there is no page for Home Assistant to link to.
        if (http)
            mqtt->configurationUrl = pageUrl(options.listen, http->serverPort(), tls.has_value());
        bridge = std::make_unique<MqttBridge>(gateway, *mqtt);
        if (api) {
            QObject::connect(bridge.get(), &MqttBridge::statusChanged, api.get(),
                [a = api.get(), b = bridge.get()] { a->setMqttStatus(b->statusJson()); });
            api->setMqttStatus(bridge->statusJson());
        }
        QString error;
        if (!bridge->start(&error)) {
            err << "matrix-gateway: " << error << Qt::endl;
            return 2;
        }
    }
    if (videohub || http)
        out << allowedText << Qt::endl;
    if (videohub) {
        out << readyLine(QStringLiteral("Videohub server"), videohub->address(), videohub->port())
            << Qt::endl;
    }
    if (http) {
        out << readyLine(tls ? QStringLiteral("HTTPS server") : QStringLiteral("HTTP server"),
            options.listen, http->serverPort())
            << Qt::endl;
    }
    if (bridge) {
        out << "MQTT topics under " << mqtt->prefix << '/' << mqtt->id << " on "
            << bridge->statusJson().value(QStringLiteral("broker")).toString() << Qt::endl;
    }

    const int code = app.exec() == 0 ? 0 : 1;
    // offline is published before the servers close.
    if (bridge)
        bridge->stop();
    return code;
}
