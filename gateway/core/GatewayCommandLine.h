#pragma once

#include "ClientAddresses.h"
#include "Gateway.h"

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Everything matrix-gateway is told on its command line.
struct GatewayOptions
{
    static constexpr quint16 DefaultVideohubPort = 9990;
    static constexpr quint16 DefaultHttpPort = 8080;
    static constexpr int DefaultPollSeconds = 2;
    // --reply-timeout: the link's 10 ms tick at least, a minute at most.
    static constexpr int MinReplyTimeoutMs = 10;
    static constexpr int MaxReplyTimeoutMs = 60000;

    GatewayConfig gateway; // link target, poll, reply time-out, gateway.ini (empty: the default)
    bool demo = false; // the simulated switcher inside the process, on loopback
    QString importSettings; // a window's Settings.ini to take labels and presets from
    bool settingsNamed = false; // --settings given
    QHostAddress listen = QHostAddress(QHostAddress::LocalHost);
    quint16 videohubPort = DefaultVideohubPort; // 0: any free port
    quint16 httpPort = DefaultHttpPort; // 0: any free port
    bool videohub = true; // --no-videohub turns the Videohub server off
    bool http = true; // --no-http turns the HTTP server (API, events, page) off
    QString tokenFile; // required when listening beyond loopback
    // Addresses every server accepts, as --allow names them; loopback when it is not given
    // (clientPolicy() adds the --listen address's own subnet then).
    QList<Subnet> allow;
    bool allowNamed = false; // --allow given
    int maxPerAddress = ClientPolicy::DefaultMaxPerAddress;
    QString tlsCertificate; // --tls-cert: HTTPS and WSS with --tls-key
    QString tlsKey;
    bool insecureHttp = false; // a token over plain HTTP beyond loopback, knowingly
    QString makeToken; // --make-token FILE: write a new token and stop

    // --mqtt URL: the gateway on a broker as well.
    struct Mqtt
    {
        static constexpr quint16 DefaultPort = 1883;
        static constexpr quint16 DefaultTlsPort = 8883;
        bool enabled = false;
        bool tls = false; // mqtts://
        QString host;
        quint16 port = DefaultPort;
        QString user;
        QString passwordFile;
        QString caFile;
        QString id; // empty: the one kept in gateway.ini, made at the first start
        QString prefix = QStringLiteral("matrix");
        QString discoveryPrefix = QStringLiteral("homeassistant");
        bool discovery = true;
        bool haRemove = false; // remove the device from Home Assistant and stop
    };
    Mqtt mqtt;

    // Whether a client's address is in the allowed subnets (an IPv4 address mapped into IPv6
    // counts as the IPv4 address).
    bool allowed(const QHostAddress &address) const;
};

struct GatewayParse
{
    enum Kind { Run, Help, Version, MakeToken, Error };
    Kind kind = Run;
    QString text; // the help text, or one line saying what is wrong
};

// Parses the arguments (the program name first). The gateway.ini path is left empty when not
// named; the program puts the default location in.
GatewayParse parseGatewayArguments(const QStringList &arguments, GatewayOptions *options);

// Whether the text can be the gateway's MQTT id: 1 to 64 letters, digits, '-' and '_' (it is a
// topic level and a Home Assistant node id).
bool isMqttId(const QString &text);

// "a.b.c.d:port" or "[v6]:port".
QString endpointText(const QHostAddress &address, quint16 port);
// The line a server prints on stdout once it listens, e.g.
// "Videohub server listening on 127.0.0.1:9990"; tests and scripts wait for it.
QString readyLine(const QString &server, const QHostAddress &address, quint16 port);

// The addresses the servers take, from the options and this machine's interfaces: --allow as
// given; without it loopback, and when --listen names one address of an interface, that
// interface's subnet too. *says is the line that tells the operator at start.
ClientPolicy clientPolicy(const GatewayOptions &options, QString *says);
