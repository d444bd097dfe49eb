#include "WindowSettingsImport.h"

#include "AppSettings.h"
#include "DeviceEntry.h"
#include "PresetCodec.h"
#include "SettingsFile.h"

#include <QHostAddress>

bool importWindowSettings(
    const QString &windowFile, const QString &host, GatewaySettings::Values *values, QString *error)
{
    const SettingsRead read = SettingsFile::read(windowFile);
    if (read.status != SettingsRead::Ok) {
        if (error)
            *error = QStringLiteral("Cannot import %1: %2").arg(windowFile, read.reason);
        return false;
    }
    const AppSettings &s = read.settings;
    PortTags tags;
    if (host.isEmpty()) {
        tags = s.comTags;
    } else {
        // The device entry names the switcher by its address; its tags are kept by its MAC.
        const QHostAddress wanted(host);
        for (const QString &entry : s.lanDevices) {
            const QString ip = GetEntryField(entry, EntryField::IP);
            if (ip == host || (!wanted.isNull() && QHostAddress(ip).isEqual(wanted))) {
                tags = s.tags(cmLAN, GetEntryField(entry, EntryField::MAC));
                break;
            }
        }
    }
    for (int n = 1; n <= GatewayPorts; ++n) {
        values->inputLabels[GatewayState::index(n)] = tags.inputs[GatewayState::index(n)];
        values->outputLabels[GatewayState::index(n)] = tags.outputs[GatewayState::index(n)];
    }
    for (int p = 1; p <= GatewayPresets; ++p) {
        const Preset &windowPreset = s.presets[std::size_t(p - 1)];
        GatewayPreset &preset = values->presets[GatewayState::index(p)];
        preset.name = windowPreset.name;
        const QStringList inputs = decodePresetValue(windowPreset.value);
        for (int output = 1; output <= GatewayPorts; ++output)
            preset.routes[GatewayState::index(output)] = presetInput(inputs, output).value_or(0);
    }
    return true;
}
