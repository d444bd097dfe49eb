#include "MqttDiscovery.h"

#include "MqttCommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QByteArray configTopic(
    const MqttDiscovery::Device &device, const char *component, const QString &object)
{
    return (device.discoveryPrefix + QLatin1Char('/') + QLatin1String(component) + QLatin1Char('/')
        + device.id + QLatin1Char('/') + object + QStringLiteral("/config"))
        .toUtf8();
}

QString topic(const MqttDiscovery::Device &device, const QString &rest)
{
    return device.baseTopic + QLatin1Char('/') + rest;
}

QJsonObject deviceJson(const MqttDiscovery::Device &device, const GatewayState &state)
{
    QJsonObject json{{QStringLiteral("identifiers"), QJsonArray{device.id}},
        {QStringLiteral("name"), device.name}};
    if (!state.model.isEmpty())
        json.insert(QStringLiteral("model"), state.model);
    if (!state.version.isEmpty())
        json.insert(QStringLiteral("sw_version"), state.version);
    if (!device.configurationUrl.isEmpty())
        json.insert(QStringLiteral("configuration_url"), device.configurationUrl);
    return json;
}

QJsonArray availability(const MqttDiscovery::Device &device, bool switcherToo)
{
    QJsonArray list{QJsonObject{{QStringLiteral("topic"), topic(device, QStringLiteral("status"))},
        {QStringLiteral("payload_available"), QStringLiteral("online")},
        {QStringLiteral("payload_not_available"), QStringLiteral("offline")}}};
    if (switcherToo) {
        list.append(QJsonObject{{QStringLiteral("topic"), topic(device, QStringLiteral("present"))},
            {QStringLiteral("payload_available"), QStringLiteral("true")},
            {QStringLiteral("payload_not_available"), QStringLiteral("false")}});
    }
    return list;
}

QJsonObject entity(const MqttDiscovery::Device &device, const GatewayState &state,
    const QString &name, const QString &object, bool switcherToo)
{
    return {{QStringLiteral("name"), name},
        {QStringLiteral("unique_id"), device.id + QLatin1Char('_') + object},
        {QStringLiteral("availability"), availability(device, switcherToo)},
        {QStringLiteral("availability_mode"), QStringLiteral("all")},
        {QStringLiteral("device"), deviceJson(device, state)}};
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString outputObject(int n)
{
    return QStringLiteral("output_%1").arg(n);
}
QString presetObject(int n)
{
    return QStringLiteral("preset_%1").arg(n);
}

} // namespace

QList<MqttDiscovery::Message> MqttDiscovery::configs(
    const Device &device, const GatewayState &state)
{
    QList<Message> messages;
    const auto inputs = MqttCommand::inputOptions(state.inputLabels);
    QJsonArray options;
    for (const QString &text : inputs)
        options.append(text);
    for (int n = 1; n <= GatewayPorts; ++n) {
        const QString label = state.label(GatewaySide::Output, n);
        QJsonObject config = entity(device, state,
            label.isEmpty() ? QStringLiteral("Output %1").arg(n) : label, outputObject(n), true);
        config.insert(
            QStringLiteral("command_topic"), topic(device, QStringLiteral("output/%1/set").arg(n)));
        config.insert(
            QStringLiteral("state_topic"), topic(device, QStringLiteral("output/%1").arg(n)));
        config.insert(QStringLiteral("options"), options);
        config.insert(QStringLiteral("icon"), QStringLiteral("mdi:video-input-hdmi"));
        messages.append({configTopic(device, "select", outputObject(n)), compact(config)});
    }

    QJsonObject power
        = entity(device, state, QStringLiteral("Power"), QStringLiteral("power"), true);
    power.insert(QStringLiteral("command_topic"), topic(device, QStringLiteral("power/set")));
    power.insert(QStringLiteral("state_topic"), topic(device, QStringLiteral("power")));
    power.insert(QStringLiteral("payload_on"), QStringLiteral("ON"));
    power.insert(QStringLiteral("payload_off"), QStringLiteral("OFF"));
    messages.append({configTopic(device, "switch", QStringLiteral("power")), compact(power)});

    const auto presets = MqttCommand::presetOptions(state.presets);
    for (int n = 1; n <= GatewayPresets; ++n) {
        QJsonObject button
            = entity(device, state, presets[GatewayState::index(n)], presetObject(n), true);
        button.insert(QStringLiteral("command_topic"), topic(device, QStringLiteral("preset/set")));
        button.insert(QStringLiteral("payload_press"), QString::number(n));
        button.insert(QStringLiteral("icon"), QStringLiteral("mdi:playlist-play"));
        messages.append({configTopic(device, "button", presetObject(n)), compact(button)});
    }

    QJsonObject reachable = entity(
        device, state, QStringLiteral("Switcher reachable"), QStringLiteral("reachable"), false);
    reachable.insert(QStringLiteral("state_topic"), topic(device, QStringLiteral("present")));
    reachable.insert(QStringLiteral("payload_on"), QStringLiteral("true"));
    reachable.insert(QStringLiteral("payload_off"), QStringLiteral("false"));
    reachable.insert(QStringLiteral("device_class"), QStringLiteral("connectivity"));
    reachable.insert(QStringLiteral("entity_category"), QStringLiteral("diagnostic"));
    messages.append(
        {configTopic(device, "binary_sensor", QStringLiteral("reachable")), compact(reachable)});
    return messages;
}

QList<MqttDiscovery::Message> MqttDiscovery::removals(const Device &device)
{
    QList<Message> messages;
    for (int n = 1; n <= GatewayPorts; ++n)
        messages.append({configTopic(device, "select", outputObject(n)), {}});
    messages.append({configTopic(device, "switch", QStringLiteral("power")), {}});
    for (int n = 1; n <= GatewayPresets; ++n)
        messages.append({configTopic(device, "button", presetObject(n)), {}});
    messages.append({configTopic(device, "binary_sensor", QStringLiteral("reachable")), {}});
    return messages;
}
