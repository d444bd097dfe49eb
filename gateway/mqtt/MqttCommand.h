#pragma once

#include "GatewayState.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

// One command taken from the broker, read from its topic and payload and nothing else: no I/O,
// so that the fuzz target drives it as the bridge does.
//
// Topics are the part after "<prefix>/<id>/":
//   output/<n>/set   an input's option text (inputOptions), or a plain number 1..6 when no
//                    option matches
//   power/set        ON or OFF
//   preset/set       a preset's name, or a plain number 1..8 when no name matches
//   salvo/set        {"routes": [{"output": 1..6, "input": 1..6}, ...]}, 1 to 64 routes
// Anything else, a payload over MaxPayload bytes or one that is not UTF-8 text is Invalid, with
// the reason in `reason`.
struct MqttCommand
{
    static constexpr qsizetype MaxPayload = 4096;
    static constexpr int MaxSalvo = 64;

    enum class Kind { Invalid, Route, Power, Preset, Salvo };
    Kind kind = Kind::Invalid;
    QString reason; // Invalid: why, for the error message
    QList<GatewayRoute> routes; // Route (one) and Salvo
    bool on = false; // Power
    int preset = 0; // Preset

    static MqttCommand parse(const QString &topic, const QByteArray &payload,
        const std::array<QString, GatewayPorts> &inputOptions,
        const std::array<GatewayPreset, GatewayPresets> &presets);

    // The texts Home Assistant offers for the inputs: unique and never empty. An empty label
    // is "Input n"; a label that more than one input carries gets " (n)" after it.
    static std::array<QString, GatewayPorts> inputOptions(
        const std::array<QString, GatewayPorts> &labels);
    // The same rule for the presets' names ("Preset n" for an empty one).
    static std::array<QString, GatewayPresets> presetOptions(
        const std::array<GatewayPreset, GatewayPresets> &presets);
};
