#pragma once

#include "GatewayState.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Home Assistant's MQTT discovery for one switcher: one retained config message per entity, all
// on one device. Every entity names the gateway's status topic for its availability; those that
// act on the switcher also its present topic, so that they show as unavailable while the
// gateway cannot reach it.
//
// The presets are a button each, not one select "Preset": applying a preset is an action, not a
// state the switcher keeps. A select would show the last preset chosen as if it were still in
// force after any route changed, and choosing the option it already shows sends nothing, so the
// same preset could not be applied twice in a row. A button sends its press every time and
// carries the preset's name.
class MqttDiscovery final
{
public:
    struct Message
    {
        QByteArray topic;
        QByteArray payload; // empty: removes the entity
    };

    struct Device
    {
        QString id; // the gateway's MQTT id, also the device's identifier
        QString baseTopic; // "<prefix>/<id>"
        QString discoveryPrefix; // "homeassistant"
        QString name; // shown as the device's name
        QString configurationUrl; // the web page; empty when HTTP is not served
    };

    // The configs of every entity for the state as it is.
    static QList<Message> configs(const Device &device, const GatewayState &state);
    // The same topics with empty payloads.
    static QList<Message> removals(const Device &device);
};
