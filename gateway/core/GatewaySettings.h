#pragma once

#include "GatewayState.h"

#include <QString>

#include <array>

// gateway.ini: the labels and presets the gateway keeps, in the window's settings form (plain
// INI, written atomically through the same INI engine, IniFile). Locks are never stored.
//
// clang-format off
//
// | Section         | Key        | Value                                           | Default       |
// |-----------------|------------|-------------------------------------------------|---------------|
// | "Input labels"  | "In"n      | label of input n (1..6)                         | ""            |
// | "Output labels" | "Out"n     | label of output n (1..6)                        | ""            |
// | "Presets"       | "Name"p    | name of preset p (1..8)                         | "Setting"p    |
// | "Presets"       | "Routes"p  | six inputs by output, "," between, 0 = leave it | 1,2,3,4,5,6   |
//
// clang-format on
class GatewaySettings final
{
public:
    struct Values
    {
        std::array<QString, GatewayPorts> inputLabels;
        std::array<QString, GatewayPorts> outputLabels;
        std::array<GatewayPreset, GatewayPresets> presets = GatewayState::defaultPresets();

        bool operator==(const Values &) const = default;
    };

    // An empty path keeps everything in memory: load gives the defaults, save does nothing.
    explicit GatewaySettings(const QString &path) : m_path(path) { }

    QString path() const { return m_path; }

    // What the file holds; anything missing or unreadable has its default, and the reason a
    // file could not be read (other than its absence) is in *problem.
    Values load(QString *problem = nullptr) const;
    // Atomic: on failure the old file stays and *error names the file and the reason.
    bool save(const Values &values, QString *error = nullptr) const;

    static QString encodeRoutes(const std::array<int, GatewayPorts> &routes);
    // Up to six numbers; anything else (a word, a number outside 1..6) leaves that output.
    static std::array<int, GatewayPorts> decodeRoutes(const QString &text);

private:
    QString m_path;
};
