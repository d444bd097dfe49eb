#include "GatewayProgram.h"

#include "Gateway.h"
#include "GatewayApi.h"
#include "GatewayCommandLine.h"
#include "GatewaySettings.h"
#include "HttpAccess.h"
#include "HttpServer.h"
#include "MatrixVersion.h"
#include "SettingsLocation.h"
#include "SimulatorServer.h"
#include "VideohubProtocol.h"
#include "VideohubServer.h"
#include "WindowSettingsImport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTextStream>

#include <memory>

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
        err << "matrix-gateway: " << parsed.text << "; see matrix-gateway --help" << Qt::endl;
        return 2;
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
        access = HttpAccess(token);
    }

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
    VideohubServer videohub(gateway, options.allow, Videohub::uniqueId(target));
    if (!videohub.listen(options.listen, options.videohubPort)) {
        err << "matrix-gateway: the Videohub server cannot listen on "
            << endpointText(options.listen, options.videohubPort) << ": " << videohub.errorString()
            << Qt::endl;
        return 1;
    }
    HttpServer http;
    http.setAccess(access);
    GatewayApi api(gateway, http);
    if (!http.listen(options.listen, options.httpPort)) {
        err << "matrix-gateway: the HTTP server cannot listen on "
            << endpointText(options.listen, options.httpPort) << ": " << http.errorString()
            << Qt::endl;
        return 1;
    }
    gateway.start();
    out << readyLine(QStringLiteral("Videohub server"), videohub.address(), videohub.port())
        << Qt::endl;
    out << readyLine(QStringLiteral("HTTP server"), options.listen, http.serverPort()) << Qt::endl;

    return app.exec() == 0 ? 0 : 1;
}
