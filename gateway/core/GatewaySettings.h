#pragma once

#include "GatewayState.h"

#include <QString>
#include <QStringList>

#include <array>

class QDateTime;

// gateway.ini: the labels, presets and friendly name the gateway keeps, in the window's settings
// form (plain INI, written atomically through the same INI engine, IniFile). Locks are never
// stored.
//
// clang-format off
//
// | Section         | Key            | Value                                           | Default     |
// |-----------------|----------------|-------------------------------------------------|-------------|
// | "Input labels"  | "In"n          | label of input n (1..6)                         | ""          |
// | "Output labels" | "Out"n         | label of output n (1..6)                        | ""          |
// | "Presets"       | "Name"p        | name of preset p (1..8)                         | "Setting"p  |
// | "Presets"       | "Routes"p      | six inputs by output, "," between, 0 = leave it | 1,2,3,4,5,6 |
// | "Device"        | "FriendlyName" | the switcher's name for clients; "" = the model | ""          |
// | "MQTT"          | "Id"           | the gateway's MQTT id, made at its first start  | ""          |
//
// clang-format on
//
// The file follows the window's rules for Settings.ini (IniFile, FileAccess): a file that cannot
// be read completely is moved aside as gateway.ini.bak-<date>-<time>, and anything but a regular
// file in its place is refused, as is a folder where no file can be made. The gateway checks all
// of that before it serves (prepare), so that a change it takes is never one it cannot keep.
class GatewaySettings final
{
public:
    struct Values
    {
        std::array<QString, GatewayPorts> inputLabels;
        std::array<QString, GatewayPorts> outputLabels;
        std::array<GatewayPreset, GatewayPresets> presets = GatewayState::defaultPresets();
        QString friendlyName;
        QString mqttId;

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

    // What start-up found of the file.
    struct Prepared
    {
        // Why the gateway cannot keep its labels and presets there, naming the file; empty when
        // it can.
        QString refusal;
        // What was done for that, naming both files: a file moved aside, leftovers removed.
        QStringList notes;
    };
    // Before the first load: checks that files can be made in the file's folder and that
    // nothing but a regular file we may replace stands in its place; removes what a save killed
    // before its rename left; moves a file that cannot be read completely aside (stamped `when`)
    // and writes what could be read into a new one. Nothing to do for an empty path.
    Prepared prepare(const QDateTime &when) const;

    static QString encodeRoutes(const std::array<int, GatewayPorts> &routes);
    // Up to six numbers; anything else (a word, a number outside 1..6) leaves that output.
    static std::array<int, GatewayPorts> decodeRoutes(const QString &text);

private:
    QString m_path;
};
