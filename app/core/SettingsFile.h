#pragma once

#include "AppSettings.h"
#include "IniFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

class QDateTime;

// What reading Settings.ini found.
struct SettingsRead
{
    enum Status {
        Ok,
        Missing, // no file: every setting has its default
        NotAFile, // a folder, FIFO or device stands in its place; it is left alone
        Incomplete, // it could not be read completely: settings holds only what could be
    };
    AppSettings settings;
    Status status = Ok;
    QString reason; // what was wrong, when not Ok ("it holds a NUL byte at offset 12, ...")
    // Presets whose name or value the file holds (the others have their defaults).
    std::array<bool, SettingsPresetCount> presetStored{};
};

// Settings.ini: plain Windows-style INI, UTF-8, read and written with SimpleIni.
//
// Every key the file holds (n = 1 … 6 ports, p = 1 … 8 presets, k = 1, 2, … in list order;
// MAC is the switcher's MAC text):
// clang-format off
//
// | Section                   | Key                   | Value                      | Default     |
// |---------------------------|-----------------------|----------------------------|-------------|
// | "Connection"              | "Control mode"        | 0 = TCP, 1 = COM           | 0           |
// | "Connection"              | "COM port"            | last serial port name      | ""          |
// | "TCP control device list" | "Device"k             | device entry text          | none        |
// | "TCP control device"      | "Value"               | selected device entry text | ""          |
// | "TCP configuration"       | "IP address"          | network text: IP address   | ""          |
// | "TCP configuration"       | "Gateway"             | network text: gateway      | ""          |
// | "TCP configuration"       | "Subnet mask"         | network text: subnet mask  | ""          |
// | "TCP configuration"       | "MAC ID"              | MAC ID bytes, as text      | ""          |
// | "Pre-Setting name"        | "Setting"p            | preset name                | "Setting"p  |
// | "Pre-Setting value"       | "value"p              | preset value text          | 1,2,3,4,5,6 |
// | "Tag of Input - COM"      | "In"n                 | input tag, COM mode        | ""          |
// | "Tag of Output - COM"     | "Out"n                | output tag, COM mode       | ""          |
// | "Tag of Input - TCP:"MAC  | "In"n                 | input tag of switcher      | ""          |
// | "Tag of Output - TCP:"MAC | "Out"n                | output tag of switcher     | ""          |
// | "In device name"          | "Device"k             | input tag name pool        | none        |
// | "Out display name"        | "Display"k            | output tag name pool       | none        |
// | "Display tag"             | "Value"               | 1/0: show the tag pop-up   | 0           |
// | "EDID setting"            | "EDID mode"           | cbEDIDMode entry           | ""          |
// | "EDID setting"            | "In of EDID mode"     | cbSetEDIDModeInput entry   | ""          |
// | "EDID setting"            | "Out of Copy EDID"    | cbCopyEDIDOutput entry     | ""          |
// | "EDID setting"            | "In of Copy EDID"     | cbCopyEDIDInput entry      | ""          |
// | "EDID setting"            | "Out of Read EDID"    | cbReadEDIDDataOutput entry | ""          |
// | "EDID setting"            | "In of Download EDID" | cbDownloadEDIDInput entry  | ""          |
// | "FW upgrade"              | "Last folder"         | last firmware folder       | ""          |
//
// clang-format on
//
// Values keep the INI engine's rules (IniDocument), so the file stays readable by plain
// Windows INI readers.
// The switcher's MAC text inside a tag section name comes from the network, so "%", "]", control
// characters and a trailing blank in it are written as %XX.
//
// Reading: a missing file, section or key gives the default; what else a file may hold or lack,
// and how it is saved, is the INI engine's (IniFile).
// Saving rewrites our keys into the existing file and keeps every other section, key and comment,
// then removes each section whose name contains "Tag of" and whose values are all blank. A file
// that cannot be read completely is never rewritten: the save fails and the file stays as it is.
class SettingsFile final
{
public:
    // Far beyond any real settings file; a larger one is not read into memory.
    static constexpr qint64 MaxFileSize = IniFile::MaxFileSize;

    // Only a regular file is opened (FileAccess): a FIFO or a device never blocks or floods it.
    static SettingsRead read(const QString &path);
    // read(path).settings: whatever cannot be read keeps its default.
    static AppSettings load(const QString &path);

    // The same on a file's bytes, and the bytes a save makes of existing ones; false (with
    // *error) when the existing bytes cannot be read completely.
    static SettingsRead fromBytes(const QByteArray &bytes);
    static bool toBytes(const QByteArray &existing, const AppSettings &settings, QByteArray *bytes,
        QString *error = nullptr);

    // Renames the file to path + ".bak-" + the date and time (and "-2", "-3", ... should that
    // name be taken), so that a file that could not be read completely is kept before a new one
    // is written. Returns the new path, or an empty text with *error set.
    static QString moveAside(const QString &path, const QDateTime &when, QString *error = nullptr);

    // Atomic (FileAccess::writeFile): on failure returns false, sets *error (naming the file and
    // the reason) and leaves the old file as it was.
    static bool save(const QString &path, const AppSettings &settings, QString *error = nullptr);

    // Writes only the twelve tags of one control mode and switcher (nothing in TCP mode without
    // a selected switcher), removes blank tag sections and flushes the file.
    static bool savePortTags(const QString &path, TControlMode controlMode, const QString &mac,
        const PortTags &tags, QString *error = nullptr);

    // Section name of one side's tags, e.g. "Tag of Input - TCP:00-1A-2B-3C-4D-5E".
    static QString tagSectionName(TagSide side, TControlMode controlMode, const QString &mac);
};
