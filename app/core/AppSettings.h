#pragma once

#include "ControlMode.h"
#include "EdidChoices.h"
#include "TagPool.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <array>

// Everything Settings.ini holds, as plain data in the subsystems' own types. A
// default-constructed AppSettings is what a missing file reads as. SettingsFile.h documents
// where each field is stored.

inline constexpr int SettingsPresetCount = 8;

// MAC text of "no network switcher selected"; tags are never stored under it.
inline QString noDeviceMac()
{
    return QStringLiteral("00-00-00-00-00-00");
}

struct Preset
{
    QString name;
    QString value; // sub-items joined by ",", as stored; splitting and padding is the list's job

    bool operator==(const Preset &) const = default;
};

struct AppSettings
{
    TControlMode controlMode = cmLAN;
    QString comPort; // last COM port
    QString networkIP, networkGateway, networkMask; // the configuration dialog's three texts
    QString macId; // MAC ID bytes of the current device, as text
    QString firmwareFolder; // last firmware folder; empty = none yet

    std::array<Preset, SettingsPresetCount> presets = defaultPresets();

    PortTags comTags; // tags of COM control mode
    QMap<QString, PortTags> lanTags; // tags per network switcher, by its MAC text

    QStringList inputNamePool; // "In device name", in stored order
    QStringList outputNamePool; // "Out display name", in stored order
    bool displayTag = false; // cbDisplayTag

    EdidChoices edid;

    QStringList lanDevices; // cbLANDevice entry texts, in stored order
    QString lanDevice; // the selected entry text; empty = none selected

    static std::array<Preset, SettingsPresetCount> defaultPresets()
    {
        std::array<Preset, SettingsPresetCount> presets;
        for (int n = 1; n <= SettingsPresetCount; ++n)
            presets[size_t(n - 1)]
                = {QStringLiteral("Setting") + QString::number(n), QStringLiteral("1,2,3,4,5,6")};
        return presets;
    }

    // Index of lanDevice in lanDevices, -1 when none is selected or it is not listed.
    int lanDeviceIndex() const { return lanDevice.isEmpty() ? -1 : lanDevices.indexOf(lanDevice); }

    // The tags stored for a control mode and switcher (MAC compared without regard to case,
    // as the file's section names are). Unknown switcher: all empty.
    PortTags tags(TControlMode mode, const QString &mac) const
    {
        if (mode == cmCOM)
            return comTags;
        const auto it = findLanTags(mac);
        return it == lanTags.cend() ? PortTags{} : *it;
    }

    // Stores tags for a control mode and switcher; in TCP mode without a selected switcher
    // nothing is stored.
    void setTags(TControlMode mode, const QString &mac, const PortTags &tags)
    {
        if (mode == cmCOM) {
            comTags = tags;
            return;
        }
        if (mac == noDeviceMac())
            return;
        const auto it = findLanTags(mac);
        if (it == lanTags.cend())
            lanTags.insert(mac, tags);
        else
            lanTags[it.key()] = tags;
    }

    bool operator==(const AppSettings &) const = default;

private:
    QMap<QString, PortTags>::const_iterator findLanTags(const QString &mac) const
    {
        for (auto it = lanTags.cbegin(); it != lanTags.cend(); ++it)
            if (it.key().compare(mac, Qt::CaseInsensitive) == 0)
                return it;
        return lanTags.cend();
    }
};
