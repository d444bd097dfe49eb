#include "GatewayApi.h"

#include "Gateway.h"
#include "GatewayLabel.h"
#include "SwitcherJson.h"
#include "WebResources.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QWebSocket>

#include <optional>

namespace {

using Reply = HttpServer::Reply;

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

HttpResponse badInput(const QString &message)
{
    return HttpResponse::error(400, QStringLiteral("bad_input"), message);
}

// Says which part of the label rule the text breaks.
HttpResponse labelRefused(GatewayLabel::Problem problem, const QString &what)
{
    return badInput(GatewayLabel::problemText(problem, what) + QLatin1Char('.'));
}

HttpResponse notFound()
{
    return HttpResponse::error(
        404, QStringLiteral("not_found"), QStringLiteral("There is nothing at this path."));
}

HttpResponse methodNotAllowed(const QByteArray &allowed)
{
    HttpResponse response = HttpResponse::error(405, QStringLiteral("method_not_allowed"),
        QStringLiteral("This path takes %1.").arg(QString::fromLatin1(allowed)));
    response.headers.append(qMakePair(QByteArray("Allow"), allowed));
    return response;
}

QString errorCode(GatewayError error)
{
    switch (error) {
    case GatewayError::None:
        return {};
    case GatewayError::BadInput:
        return QStringLiteral("bad_input");
    case GatewayError::Locked:
        return QStringLiteral("locked");
    case GatewayError::NotPresent:
        return QStringLiteral("not_present");
    case GatewayError::QueueFull:
        return QStringLiteral("queue_full");
    case GatewayError::Refused:
        return QStringLiteral("refused");
    case GatewayError::NotSaved:
        return QStringLiteral("not_saved");
    }
    return QStringLiteral("internal");
}

QString sideName(GatewaySide side)
{
    return side == GatewaySide::Input ? QStringLiteral("input") : QStringLiteral("output");
}

// The path's segments after /api/v1, e.g. {"routes", "3"}.
QStringList apiSegments(const QString &path)
{
    const QString prefix = QStringLiteral("/api/v1");
    QString rest = path.mid(prefix.size());
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    return rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

// The body of a request that changes something: a JSON object sent as application/json. A
// browser sends other types from any site without asking the gateway first, so they are refused.
std::optional<QJsonObject> jsonBody(const HttpRequest &request, const Reply &reply)
{
    const QByteArray type = request.header("content-type").split(';').first().trimmed().toLower();
    if (type != "application/json") {
        reply(HttpResponse::error(415, QStringLiteral("unsupported_media_type"),
            QStringLiteral("Send the body as application/json.")));
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    if (error.error == QJsonParseError::IllegalUTF8String) {
        reply(badInput(QStringLiteral("The body is not valid UTF-8 text.")));
        return std::nullopt;
    }
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        reply(badInput(QStringLiteral("The body is not a JSON object.")));
        return std::nullopt;
    }
    return document.object();
}

std::optional<int> portSegment(const QString &segment, int high)
{
    bool ok = false;
    const int n = segment.toInt(&ok);
    if (!ok || n < 1 || n > high || segment != QString::number(n))
        return std::nullopt;
    return n;
}

} // namespace

GatewayApi::GatewayApi(Gateway &gateway, HttpServer &server, QObject *parent)
    : QObject(parent), m_gateway(gateway), m_server(server)
{
    server.setHandler(
        [this](const HttpRequest &request, const Reply &reply) { handle(request, reply); });
    connect(&server, &HttpServer::eventClientConnected, this, [this](QWebSocket *client) {
        const QJsonObject event{{QStringLiteral("type"), QStringLiteral("state")},
            {QStringLiteral("state"), stateJson(m_gateway.state())}};
        m_server.sendEvent(client, compact(event));
    });
    connect(&gateway, &Gateway::routeChanged, this, [this](int output, int input) {
        QJsonObject event = SwitcherJson::route(output, input);
        event.insert(QStringLiteral("type"), QStringLiteral("route"));
        broadcast(event);
    });
    connect(&gateway, &Gateway::labelChanged, this,
        [this](GatewaySide side, int port, const QString &text) {
            broadcast({{QStringLiteral("type"), QStringLiteral("label")},
                {QStringLiteral("side"), sideName(side)}, {QStringLiteral("port"), port},
                {QStringLiteral("label"), text}});
        });
    connect(&gateway, &Gateway::powerChanged, this, [this](bool on) {
        // The event keeps the key of the request that switches the power.
        broadcast({{QStringLiteral("type"), QStringLiteral("power")},
            {QStringLiteral("on"), SwitcherJson::power(on)}});
    });
    // Whether the switcher is reachable and whether its routes are known, in one event.
    const auto presence = [this] {
        const GatewayState &state = m_gateway.state();
        broadcast({{QStringLiteral("type"), QStringLiteral("present")},
            {QStringLiteral("present"), state.present},
            {QStringLiteral("routesKnown"), state.routesKnown},
            {QStringLiteral("link"), state.linkText}});
    };
    connect(&gateway, &Gateway::presentChanged, this, presence);
    connect(&gateway, &Gateway::routesKnownChanged, this, presence);
    connect(&gateway, &Gateway::deviceChanged, this, [this] {
        broadcast({{QStringLiteral("type"), QStringLiteral("device")},
            {SwitcherJson::Model, m_gateway.state().model},
            {SwitcherJson::Version, m_gateway.state().version},
            {QStringLiteral("friendlyName"), m_gateway.state().shownName()}});
    });
    connect(&gateway, &Gateway::presetChanged, this, [this](int n) {
        broadcast({{QStringLiteral("type"), QStringLiteral("preset")},
            {QStringLiteral("preset"), presetJson(n, m_gateway.state().preset(n))}});
    });
    // Who holds a lock is not told: only whether the output is locked.
    connect(&gateway, &Gateway::lockChanged, this, [this](int output, bool locked) {
        broadcast({{QStringLiteral("type"), QStringLiteral("lock")},
            {QStringLiteral("output"), output}, {QStringLiteral("locked"), locked}});
    });
}

void GatewayApi::broadcast(const QJsonObject &event)
{
    m_server.broadcastEvent(compact(event));
}

int GatewayApi::statusFor(GatewayError error)
{
    switch (error) {
    case GatewayError::None:
        return 200;
    case GatewayError::BadInput:
        return 400;
    case GatewayError::Locked:
        return 409;
    case GatewayError::NotPresent:
        return 503;
    case GatewayError::QueueFull:
        return 429;
    case GatewayError::Refused:
        // The switcher itself said no: the gateway's upstream failed the request.
        return 502;
    case GatewayError::NotSaved:
        // gateway.ini could not be written: the change was not made.
        return 507;
    }
    return 500;
}

QJsonObject GatewayApi::lockJson(int output, const QHostAddress &client) const
{
    return {{QStringLiteral("output"), output},
        {QStringLiteral("locked"), m_gateway.state().locked(output)},
        {QStringLiteral("own"), m_gateway.holdsLock(output, client)}};
}

QString GatewayApi::errorCode(GatewayError error)
{
    return ::errorCode(error);
}

QJsonObject GatewayApi::presetJson(int n, const GatewayPreset &preset)
{
    return SwitcherJson::preset(n, preset.name, preset.routes);
}

QJsonObject GatewayApi::stateJson(const GatewayState &state)
{
    QJsonArray inputLabels;
    QJsonArray outputLabels;
    QJsonArray locked;
    for (int port = 1; port <= GatewayPorts; ++port) {
        inputLabels.append(state.label(GatewaySide::Input, port));
        outputLabels.append(state.label(GatewaySide::Output, port));
        locked.append(state.locked(port));
    }
    QJsonArray presets;
    for (int n = 1; n <= GatewayPresets; ++n)
        presets.append(presetJson(n, state.preset(n)));
    return {
        {QStringLiteral("present"), state.present},
        {QStringLiteral("routesKnown"), state.routesKnown},
        {QStringLiteral("link"), state.linkText},
        {SwitcherJson::Power, SwitcherJson::power(state.power)},
        {SwitcherJson::Model, state.model},
        {SwitcherJson::Version, state.version},
        {QStringLiteral("friendlyName"), state.shownName()},
        {QStringLiteral("inputs"), GatewayPorts},
        {QStringLiteral("outputs"), GatewayPorts},
        {SwitcherJson::Routes, SwitcherJson::routes(state.routes)},
        {QStringLiteral("inputLabels"), inputLabels},
        {QStringLiteral("outputLabels"), outputLabels},
        {QStringLiteral("locked"), locked},
        {SwitcherJson::Presets, presets},
    };
}

void GatewayApi::handle(const HttpRequest &request, const Reply &reply)
{
    if (request.path == QLatin1String("/api/v1")
        || request.path.startsWith(QLatin1String("/api/v1/"))) {
        if (!m_server.access().hostAccepted(request)) {
            reply(HttpResponse::error(403, QStringLiteral("forbidden"),
                QStringLiteral("Without a token the API answers only requests that name this "
                               "machine by address or as localhost.")));
            return;
        }
        if (!m_server.access().accepts(request)) {
            HttpResponse response = HttpResponse::error(401, QStringLiteral("unauthorized"),
                QStringLiteral("A valid token is required: send Authorization: Bearer TOKEN."));
            response.headers.append(
                qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Bearer")));
            reply(response);
            return;
        }
        if (request.method != "GET" && !HttpAccess::sameOrigin(request)) {
            reply(HttpResponse::error(403, QStringLiteral("forbidden"),
                QStringLiteral("Changes are taken only from this "
                               "gateway's own page.")));
            return;
        }
        handleApi(request, reply);
        return;
    }
    if (auto page = WebResources::serve(request)) {
        reply(*page);
        return;
    }
    reply(notFound());
}

void GatewayApi::handleApi(const HttpRequest &request, const Reply &reply)
{
    const QStringList segments = apiSegments(request.path);
    const QByteArray &method = request.method;
    const QString what = segments.value(0);
    const QPointer<GatewayApi> self(this);

    // Answers with the state after a core request, or with the core's error as JSON.
    auto done = [self, reply](const GatewayResult &result) {
        if (!self)
            return;
        if (result.ok()) {
            QJsonObject body = stateJson(self->m_gateway.state());
            body.insert(QStringLiteral("applied"), result.applied);
            reply(HttpResponse::json(200, compact(body)));
            return;
        }
        HttpResponse response
            = HttpResponse::error(statusFor(result.error), errorCode(result.error), result.message);
        QJsonObject body = QJsonDocument::fromJson(response.body).object();
        body.insert(QStringLiteral("applied"), result.applied);
        // The outputs left as they were because another address holds their lock.
        if (!result.locked.isEmpty()) {
            QJsonArray locked;
            for (int output : result.locked)
                locked.append(output);
            body.insert(QStringLiteral("lockedOutputs"), locked);
        }
        response.body = compact(body);
        reply(response);
    };
    const GatewayState &state = m_gateway.state();

    if (segments.isEmpty() || (what == QLatin1String("state") && segments.size() == 1)) {
        if (method != "GET")
            return reply(methodNotAllowed("GET"));
        QJsonObject body = stateJson(state);
        body.insert(QStringLiteral("mqtt"), m_mqttStatus);
        return reply(HttpResponse::json(200, compact(body)));
    }

    // The event socket's handshake is taken by the server before it comes here.
    if (what == QLatin1String("events") && segments.size() == 1) {
        if (method != "GET")
            return reply(methodNotAllowed("GET"));
        return reply(HttpResponse::error(400, QStringLiteral("bad_request"),
            QStringLiteral("Events are served over WebSocket: send a WebSocket handshake.")));
    }

    if (what == QLatin1String("routes") && segments.size() == 1) {
        if (method == "GET") {
            return reply(HttpResponse::json(
                200, compact({{SwitcherJson::Routes, SwitcherJson::routes(state.routes)}})));
        }
        if (method != "POST")
            return reply(methodNotAllowed("GET, POST"));
        const auto body = jsonBody(request, reply);
        if (!body)
            return;
        const QJsonValue list = body->value(QStringLiteral("routes"));
        if (!list.isArray() || list.toArray().isEmpty() || list.toArray().size() > 64) {
            return reply(badInput(
                QStringLiteral("Send {\"routes\": [{\"output\": 1..6, \"input\": 1..6}, ...]}.")));
        }
        QList<GatewayRoute> salvo;
        for (const QJsonValue &item : list.toArray()) {
            const auto output = SwitcherJson::integerIn(
                item.toObject().value(QStringLiteral("output")), 1, GatewayPorts);
            const auto input = SwitcherJson::integerIn(
                item.toObject().value(QStringLiteral("input")), 1, GatewayPorts);
            if (!item.isObject() || !output || !input) {
                return reply(badInput(
                    QStringLiteral("Each route needs an output and an input, each 1 to %1.")
                        .arg(GatewayPorts)));
            }
            salvo.append(GatewayRoute{*output, *input});
        }
        m_gateway.setRoutes(salvo, request.remoteAddress, done);
        return;
    }

    if (what == QLatin1String("routes") && segments.size() == 2) {
        const auto output = portSegment(segments.at(1), GatewayPorts);
        if (!output)
            return reply(notFound());
        if (method == "GET") {
            return reply(HttpResponse::json(
                200, compact(SwitcherJson::route(*output, state.route(*output)))));
        }
        if (method != "PUT")
            return reply(methodNotAllowed("GET, PUT"));
        const auto body = jsonBody(request, reply);
        if (!body)
            return;
        const auto input
            = SwitcherJson::integerIn(body->value(QStringLiteral("input")), 1, GatewayPorts);
        if (!input) {
            return reply(badInput(QStringLiteral("Send {\"input\": 1..%1}.").arg(GatewayPorts)));
        }
        m_gateway.setRoute(*output, *input, request.remoteAddress, done);
        return;
    }

    if (what == QLatin1String("locks")) {
        const QHostAddress &client = request.remoteAddress;
        if (segments.size() == 1) {
            if (method != "GET")
                return reply(methodNotAllowed("GET"));
            QJsonArray locks;
            for (int output = 1; output <= GatewayPorts; ++output)
                locks.append(lockJson(output, client));
            return reply(HttpResponse::json(200, compact({{QStringLiteral("locks"), locks}})));
        }
        const auto output
            = segments.size() == 2 ? portSegment(segments.at(1), GatewayPorts) : std::nullopt;
        if (!output)
            return reply(notFound());
        if (method == "GET")
            return reply(HttpResponse::json(200, compact(lockJson(*output, client))));
        if (method != "PUT")
            return reply(methodNotAllowed("GET, PUT"));
        const auto body = jsonBody(request, reply);
        if (!body)
            return;
        const QJsonValue locked = body->value(QStringLiteral("locked"));
        const QJsonValue force = body->value(QStringLiteral("force"));
        // Forcing opens another's lock; there is no taking one over.
        if (!locked.isBool() || !(force.isUndefined() || force.isBool())
            || (locked.toBool() && force.toBool())) {
            return reply(badInput(QStringLiteral("Send {\"locked\": true} or {\"locked\": "
                                                 "false}, with \"force\": true to open another "
                                                 "client's lock.")));
        }
        const GatewayResult result = locked.toBool() ? m_gateway.lock(*output, client)
            : force.toBool()                         ? m_gateway.forceUnlock(*output)
                                                     : m_gateway.unlock(*output, client);
        if (!result.ok())
            return reply(HttpResponse::error(
                statusFor(result.error), errorCode(result.error), result.message));
        return reply(HttpResponse::json(200, compact(lockJson(*output, client))));
    }

    if (what == QLatin1String("power") && segments.size() == 1) {
        if (method == "GET") {
            return reply(HttpResponse::json(
                200, compact({{SwitcherJson::Power, SwitcherJson::power(state.power)}})));
        }
        if (method != "PUT")
            return reply(methodNotAllowed("GET, PUT"));
        const auto body = jsonBody(request, reply);
        if (!body)
            return;
        const QJsonValue on = body->value(QStringLiteral("on"));
        if (!on.isBool())
            return reply(badInput(QStringLiteral("Send {\"on\": true} or {\"on\": false}.")));
        m_gateway.setPower(on.toBool(), done);
        return;
    }

    if (what == QLatin1String("labels")) {
        if (segments.size() == 1) {
            if (method != "GET")
                return reply(methodNotAllowed("GET"));
            const QJsonObject all = stateJson(state);
            return reply(HttpResponse::json(200,
                compact({{QStringLiteral("inputs"), all.value(QStringLiteral("inputLabels"))},
                    {QStringLiteral("outputs"), all.value(QStringLiteral("outputLabels"))}})));
        }
        const QString sideText = segments.at(1);
        std::optional<GatewaySide> side;
        if (sideText == QLatin1String("inputs"))
            side = GatewaySide::Input;
        else if (sideText == QLatin1String("outputs"))
            side = GatewaySide::Output;
        const auto port
            = segments.size() == 3 ? portSegment(segments.at(2), GatewayPorts) : std::nullopt;
        if (!side || !port)
            return reply(notFound());
        if (method == "GET") {
            return reply(HttpResponse::json(
                200, compact({{QStringLiteral("label"), state.label(*side, *port)}})));
        }
        if (method != "PUT")
            return reply(methodNotAllowed("GET, PUT"));
        const auto body = jsonBody(request, reply);
        if (!body)
            return;
        const QJsonValue label = body->value(QStringLiteral("label"));
        if (!label.isString()) {
            return reply(
                badInput(QStringLiteral("Send {\"label\": \"text\"}, at most %1 characters.")
                             .arg(GatewayMaxLabelLength)));
        }
        if (const auto problem = GatewayLabel::problem(label.toString());
            problem != GatewayLabel::Problem::None)
            return reply(labelRefused(problem, QStringLiteral("A label")));
        m_gateway.setLabel(*side, *port, label.toString(), done);
        return;
    }

    if (what == QLatin1String("presets")) {
        if (segments.size() == 1) {
            if (method != "GET")
                return reply(methodNotAllowed("GET"));
            return reply(HttpResponse::json(200,
                compact({{SwitcherJson::Presets, stateJson(state).value(SwitcherJson::Presets)}})));
        }
        const auto n = portSegment(segments.at(1), GatewayPresets);
        if (!n)
            return reply(notFound());
        if (segments.size() == 3 && segments.at(2) == QLatin1String("apply")) {
            if (method != "POST")
                return reply(methodNotAllowed("POST"));
            m_gateway.applyPreset(*n, request.remoteAddress, done);
            return;
        }
        if (segments.size() != 2)
            return reply(notFound());
        if (method == "GET")
            return reply(HttpResponse::json(200, compact(presetJson(*n, state.preset(*n)))));
        if (method != "PUT")
            return reply(methodNotAllowed("GET, PUT"));
        const auto body = jsonBody(request, reply);
        if (!body)
            return;
        const QJsonValue name = body->value(QStringLiteral("name"));
        const QJsonValue routes = body->value(QStringLiteral("routes"));
        GatewayPreset preset;
        if (const auto problem = GatewayLabel::problem(name.toString());
            name.isString() && problem != GatewayLabel::Problem::None)
            return reply(labelRefused(problem, QStringLiteral("A preset name")));
        bool valid = name.isString() && routes.isArray() && routes.toArray().size() == GatewayPorts;
        for (int i = 0; valid && i < GatewayPorts; ++i) {
            const QJsonValue route = routes.toArray().at(i);
            // null: the preset leaves that output as it is.
            const auto input = route.isNull() ? std::optional<int>(0)
                                              : SwitcherJson::integerIn(route, 1, GatewayPorts);
            valid = input.has_value();
            if (valid)
                preset.routes[std::size_t(i)] = *input;
        }
        if (!valid) {
            return reply(badInput(QStringLiteral(
                "Send {\"name\": \"text\", \"routes\": [six inputs 1..6 or null]}.")));
        }
        preset.name = name.toString();
        m_gateway.setPreset(*n, preset, done);
        return;
    }

    reply(notFound());
}
