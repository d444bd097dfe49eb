#pragma once

#include "DeviceProtocol.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

// What the gateway knows about its switcher, as plain data. Port, preset and output numbers are
// 1-based everywhere in the gateway; only the Videohub codec counts from 0 on its wire.

inline constexpr int GatewayPorts = DeviceProtocol::PortCount;
inline constexpr int GatewayPresets = 8;
// Longest label and preset name taken from a client, in Unicode characters (GatewayLabel).
inline constexpr int GatewayMaxLabelLength = 255;
// What the switcher calls itself until its model has been read.
inline constexpr char GatewayDefaultModel[] = "HDMI Matrix 6x6";

enum class GatewaySide { Input, Output };

// One route of a salvo: output gets input (both 1..6).
struct GatewayRoute
{
    int output = 0;
    int input = 0;

    bool operator==(const GatewayRoute &) const = default;
};

// A stored routing: a name and, per output, the input it routes (0: the preset leaves that
// output as it is).
struct GatewayPreset
{
    QString name;
    std::array<int, GatewayPorts> routes{};

    bool operator==(const GatewayPreset &) const = default;
};

struct GatewayState
{
    // Reachable: the link is open and the switcher has answered the power query, which it
    // answers in standby too, so that a client can switch it on. linkText says where the link
    // goes when present, and why the switcher cannot be reached when not.
    bool present = false;
    QString linkText;
    std::optional<bool> power; // unknown until read
    QString model; // "HDMI Matrix 6x6"; empty until read
    QString version; // firmware "6.50"; empty until read
    // The name a client gave the switcher (kept in gateway.ini); empty while none was given.
    QString friendlyName;
    // Every output's route has been read since the switcher was last found or switched on.
    // Until then no route is known: routes read before are stale, and are 0 here.
    bool routesKnown = false;
    std::array<int, GatewayPorts> routes{}; // routes[output - 1] = input; 0 = unknown
    std::array<QString, GatewayPorts> inputLabels;
    std::array<QString, GatewayPorts> outputLabels;
    std::array<GatewayPreset, GatewayPresets> presets = defaultPresets();
    // locks[output - 1]: the address that holds the output's lock (an IPv4 address mapped into
    // IPv6 as the IPv4 address it is); null: unlocked. A lock belongs to the client's address,
    // not to its connection: every connection from that address holds it, and it outlives them.
    std::array<QHostAddress, GatewayPorts> locks{};

    // What router panels call "Device present": reachable, on, and its routes known.
    bool devicePresent() const { return present && power.value_or(false) && routesKnown; }
    int route(int output) const { return isPort(output) ? routes[index(output)] : 0; }
    QString label(GatewaySide side, int port) const
    {
        if (!isPort(port))
            return {};
        return side == GatewaySide::Input ? inputLabels[index(port)] : outputLabels[index(port)];
    }
    // The switcher's name as clients are shown it: the one given, else its model's name, as a
    // router fresh from its maker calls itself.
    QString shownName() const
    {
        if (!friendlyName.isEmpty())
            return friendlyName;
        return model.isEmpty() ? QString::fromLatin1(GatewayDefaultModel) : model;
    }
    QHostAddress lockOwner(int output) const
    {
        return isPort(output) ? locks[index(output)] : QHostAddress();
    }
    bool locked(int output) const { return !lockOwner(output).isNull(); }
    const GatewayPreset &preset(int n) const { return presets[std::size_t(n - 1)]; }

    static bool isPort(int n) { return n >= 1 && n <= GatewayPorts; }
    static bool isPreset(int n) { return n >= 1 && n <= GatewayPresets; }
    static std::size_t index(int n) { return std::size_t(n - 1); }

    // "Setting1" .. "Setting8", each routing input k to output k: what the window starts with.
    static std::array<GatewayPreset, GatewayPresets> defaultPresets()
    {
        std::array<GatewayPreset, GatewayPresets> presets;
        for (int n = 1; n <= GatewayPresets; ++n) {
            GatewayPreset &p = presets[index(n)];
            p.name = QStringLiteral("Setting") + QString::number(n);
            for (int output = 1; output <= GatewayPorts; ++output)
                p.routes[index(output)] = output;
        }
        return presets;
    }

    bool operator==(const GatewayState &) const = default;
};

// How a request ended. The HTTP API maps BadInput to 400, Locked to 409, NotPresent to 503,
// QueueFull to 429, NotSaved to 507; Refused means the switcher itself said no, NotSaved that
// gateway.ini could not be written (and nothing changed).
enum class GatewayError { None, BadInput, Locked, NotPresent, QueueFull, Refused, NotSaved };

struct GatewayResult
{
    GatewayError error = GatewayError::None;
    QString message; // for the client; empty on success
    // Routes of a salvo or preset carried out (all of them on success).
    int applied = 0;
    // Outputs of a salvo or preset left as they are because another address holds their lock.
    QList<int> locked = {};

    bool ok() const { return error == GatewayError::None; }
};
