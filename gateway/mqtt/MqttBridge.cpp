#include "MqttBridge.h"

#include "Gateway.h"
#include "GatewayApi.h"
#include "MqttCommand.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QPointer>

Q_DECLARE_LOGGING_CATEGORY(lcMqtt)

namespace {

const QByteArray Online = "online";
const QByteArray Offline = "offline";

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString brokerText(const MqttLinkConfig &link)
{
    const QString host = link.host.contains(QLatin1Char(':'))
        ? QLatin1Char('[') + link.host + QLatin1Char(']')
        : link.host;
    return (link.tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://")) + host
        + QLatin1Char(':') + QString::number(link.port);
}

MqttLinkConfig withWill(MqttLinkConfig link, const QByteArray &statusTopic)
{
    link.willTopic = statusTopic;
    link.willPayload = Offline;
    return link;
}

} // namespace

MqttBridge::MqttBridge(Gateway &gateway, const MqttBridgeConfig &config, QObject *parent)
    : QObject(parent),
      m_gateway(gateway),
      m_config(config),
      m_link(withWill(config.link,
          (config.prefix + QLatin1Char('/') + config.id + QStringLiteral("/status")).toUtf8()))
{
    m_stateTimer.setSingleShot(true);
    m_stateTimer.setInterval(StateIntervalMs);
    m_configTimer.setSingleShot(true);
    m_configTimer.setInterval(0);
    connect(&m_stateTimer, &QTimer::timeout, this, &MqttBridge::publishState);
    connect(&m_configTimer, &QTimer::timeout, this, &MqttBridge::publishConfigs);
    connect(&m_link, &MqttLink::statusChanged, this, &MqttBridge::onStatus);
    connect(&m_link, &MqttLink::messageReceived, this, &MqttBridge::onMessage);

    connect(&gateway, &Gateway::routeChanged, this, [this](int output) {
        publishOutput(output, MqttCommand::inputOptions(m_gateway.state().inputLabels));
        scheduleState();
    });
    connect(&gateway, &Gateway::labelChanged, this, [this](GatewaySide side, int, const QString &) {
        // Input labels are the outputs' option texts; output labels the selects' names.
        if (side == GatewaySide::Input)
            publishOutputs();
        scheduleConfigs();
        scheduleState();
    });
    connect(&gateway, &Gateway::powerChanged, this, [this](bool on) {
        publishRetained(topic(QStringLiteral("power")), on ? "ON" : "OFF");
        scheduleState();
    });
    connect(&gateway, &Gateway::presentChanged, this, [this] {
        publishPresence();
        scheduleState();
    });
    connect(&gateway, &Gateway::deviceChanged, this, [this] {
        scheduleConfigs();
        scheduleState();
    });
    connect(&gateway, &Gateway::presetChanged, this, [this] {
        scheduleConfigs();
        scheduleState();
    });
    connect(&gateway, &Gateway::lockChanged, this, &MqttBridge::scheduleState);
    connect(&gateway, &Gateway::routesKnownChanged, this, &MqttBridge::scheduleState);
}

MqttBridge::~MqttBridge()
{
    stop();
}

QByteArray MqttBridge::topic(const QString &rest) const
{
    return (m_config.prefix + QLatin1Char('/') + m_config.id + QLatin1Char('/') + rest).toUtf8();
}

MqttDiscovery::Device MqttBridge::device() const
{
    // The name panels know it by: the one given, else its model's.
    return {m_config.id, m_config.prefix + QLatin1Char('/') + m_config.id, m_config.discoveryPrefix,
        m_gateway.state().shownName(), m_config.configurationUrl};
}

bool MqttBridge::start(QString *error)
{
    m_retained.insert(topic(QStringLiteral("status")), Online);
    publishOutputs();
    publishPresence();
    if (const auto power = m_gateway.state().power)
        m_retained.insert(topic(QStringLiteral("power")), *power ? "ON" : "OFF");
    publishState();
    publishConfigs();
    return m_link.start(error);
}

void MqttBridge::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    // A state message still due goes out before the last word.
    if (m_stateTimer.isActive()) {
        m_stateTimer.stop();
        publishState();
    }
    m_link.stop(topic(QStringLiteral("status")), Offline);
}

QJsonObject MqttBridge::statusJson() const
{
    QJsonObject json{{QStringLiteral("status"), MqttLink::statusName(m_link.status())},
        {QStringLiteral("broker"), brokerText(m_config.link)}};
    if (!m_link.reason().isEmpty())
        json.insert(QStringLiteral("reason"), m_link.reason());
    return json;
}

void MqttBridge::onStatus(MqttLink::Status status, const QString &reason)
{
    if (status == MqttLink::Status::Connected) {
        m_loggedReason.clear();
        qCInfo(lcMqtt).noquote() << "Connected to the MQTT broker" << brokerText(m_config.link)
                                 << "as" << m_config.id;
        m_link.subscribe(topic(QStringLiteral("+/set")));
        m_link.subscribe(topic(QStringLiteral("output/+/set")));
        if (m_config.discovery)
            m_link.subscribe((m_config.discoveryPrefix + QStringLiteral("/status")).toUtf8());
        for (auto it = m_retained.cbegin(); it != m_retained.cend(); ++it)
            m_link.publish(it.key(), it.value(), true);
    } else if (!reason.isEmpty() && reason != m_loggedReason) {
        // Told once per reason: the retries that follow at the capped back-off say nothing new.
        m_loggedReason = reason;
        qCWarning(lcMqtt).noquote()
            << "MQTT broker" << brokerText(m_config.link) << "-" << reason << "- trying again";
    }
    Q_EMIT statusChanged();
}

void MqttBridge::onMessage(const QByteArray &fullTopic, const QByteArray &payload)
{
    if (m_config.discovery
        && fullTopic == (m_config.discoveryPrefix + QStringLiteral("/status")).toUtf8()) {
        // Home Assistant came back and has forgotten what it was told.
        if (payload == Online) {
            publishConfigs();
            for (auto it = m_retained.cbegin(); it != m_retained.cend(); ++it)
                m_link.publish(it.key(), it.value(), true);
        }
        return;
    }
    const QByteArray base = topic({});
    if (!fullTopic.startsWith(base))
        return;
    const QString command = QString::fromUtf8(fullTopic.mid(base.size()));
    const GatewayState &state = m_gateway.state();
    const MqttCommand parsed = MqttCommand::parse(
        command, payload, MqttCommand::inputOptions(state.inputLabels), state.presets);
    if (parsed.kind == MqttCommand::Kind::Invalid) {
        publishError(command, GatewayApi::errorCode(GatewayError::BadInput), parsed.reason, 0);
        return;
    }
    const QPointer<MqttBridge> self(this);
    auto done = [self, command](const GatewayResult &result) {
        if (self && !result.ok())
            self->publishError(
                command, GatewayApi::errorCode(result.error), result.message, result.applied);
    };
    switch (parsed.kind) {
    case MqttCommand::Kind::Route:
    case MqttCommand::Kind::Salvo:
        m_gateway.setRoutes(parsed.routes, QHostAddress(), done);
        break;
    case MqttCommand::Kind::Power:
        m_gateway.setPower(parsed.on, done);
        break;
    case MqttCommand::Kind::Preset:
        m_gateway.applyPreset(parsed.preset, QHostAddress(), done);
        break;
    case MqttCommand::Kind::Invalid:
        break;
    }
}

void MqttBridge::publishError(
    const QString &command, const QString &code, const QString &message, int applied)
{
    qCInfo(lcMqtt).noquote() << "MQTT command" << command << "refused:" << message;
    m_link.publish(topic(QStringLiteral("error")),
        compact({{QStringLiteral("command"), command}, {QStringLiteral("error"), code},
            {QStringLiteral("message"), message}, {QStringLiteral("applied"), applied}}),
        false);
}

void MqttBridge::publishRetained(const QByteArray &topic, const QByteArray &payload)
{
    if (m_retained.value(topic) == payload && m_retained.contains(topic))
        return;
    m_retained.insert(topic, payload);
    m_link.publish(topic, payload, true);
}

void MqttBridge::publishOutputs()
{
    const auto options = MqttCommand::inputOptions(m_gateway.state().inputLabels);
    for (int output = 1; output <= GatewayPorts; ++output)
        publishOutput(output, options);
}

void MqttBridge::publishOutput(int output, const std::array<QString, GatewayPorts> &options)
{
    const int input = m_gateway.state().route(output);
    // An unknown route has no option: "None" is what Home Assistant shows for it.
    publishRetained(topic(QStringLiteral("output/%1").arg(output)),
        input ? options[GatewayState::index(input)].toUtf8() : QByteArray("None"));
}

void MqttBridge::publishPresence()
{
    publishRetained(topic(QStringLiteral("present")), m_gateway.state().present ? "true" : "false");
}

void MqttBridge::scheduleState()
{
    // Not restarted by later changes: a steady stream of them still gives a state message
    // every StateIntervalMs.
    if (!m_stateTimer.isActive())
        m_stateTimer.start();
}

void MqttBridge::scheduleConfigs()
{
    if (m_config.discovery)
        m_configTimer.start();
}

void MqttBridge::publishState()
{
    publishRetained(
        topic(QStringLiteral("state")), compact(GatewayApi::stateJson(m_gateway.state())));
}

void MqttBridge::publishConfigs()
{
    if (!m_config.discovery)
        return;
    for (const MqttDiscovery::Message &message :
        MqttDiscovery::configs(device(), m_gateway.state()))
        publishRetained(message.topic, message.payload);
}

bool MqttBridge::removeFromHomeAssistant(
    const MqttBridgeConfig &config, int timeoutMs, QString *error)
{
    MqttLink link(config.link);
    if (!link.start(error))
        return false;
    QEventLoop wait;
    QObject::connect(&link, &MqttLink::statusChanged, &wait, [&wait](MqttLink::Status status) {
        if (status == MqttLink::Status::Connected)
            wait.quit();
    });
    QTimer::singleShot(timeoutMs, &wait, &QEventLoop::quit);
    wait.exec();
    if (link.status() != MqttLink::Status::Connected) {
        *error = QStringLiteral("the MQTT broker %1 could not be reached: %2")
                     .arg(brokerText(config.link),
                         link.reason().isEmpty() ? QStringLiteral("no answer") : link.reason());
        return false;
    }
    const MqttDiscovery::Device device{
        config.id, config.prefix + QLatin1Char('/') + config.id, config.discoveryPrefix, {}, {}};
    for (const MqttDiscovery::Message &message : MqttDiscovery::removals(device))
        link.publish(message.topic, {}, true);
    const QString base = device.baseTopic + QLatin1Char('/');
    for (const QString &rest :
        {QStringLiteral("state"), QStringLiteral("power"), QStringLiteral("present")})
        link.publish((base + rest).toUtf8(), {}, true);
    for (int n = 1; n <= GatewayPorts; ++n)
        link.publish((base + QStringLiteral("output/%1").arg(n)).toUtf8(), {}, true);
    // The status topic goes last, with the disconnect.
    link.stop((base + QStringLiteral("status")).toUtf8(), {});
    return true;
}
