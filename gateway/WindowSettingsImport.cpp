#include "WindowSettingsImport.h"

#include "AppSettings.h"
#include "DeviceEntry.h"
#include "PresetCodec.h"
#include "SettingsFile.h"

#include <QHostAddress>

QString WindowImport::summary(const QString &windowFile) const
{
    if (nothing())
        return QStringLiteral("%1 has no port tags for %2 and no presets")
            .arg(windowFile, switcher);
    QStringList parts;
    if (labels)
        parts.append(QStringLiteral("the port tags of %1 as labels").arg(switcher));
    else
        parts.append(QStringLiteral("no labels (it has no port tags for %1)").arg(switcher));
    QStringList numbers;
    for (int n : presets)
        numbers.append(QString::number(n));
    parts.append(presets.isEmpty() ? QStringLiteral("no presets")
                                   : QStringLiteral("presets %1").arg(numbers.join(u", ")));
    return QStringLiteral("Imported from %1: %2").arg(windowFile, parts.join(u"; "));
}

bool importWindowSettings(const QString &windowFile, const QString &host,
    GatewaySettings::Values *values, WindowImport *found, QString *error)
{
    const SettingsRead read = SettingsFile::read(windowFile);
    if (read.status != SettingsRead::Ok) {
        if (error)
            *error = QStringLiteral("Cannot import %1: %2").arg(windowFile, read.reason);
        return false;
    }
    const AppSettings &s = read.settings;
    WindowImport what;
    PortTags tags;
    if (host.isEmpty()) {
        what.switcher = QStringLiteral("the COM-mode switcher");
        tags = s.comTags;
    } else {
        what.switcher = QStringLiteral("the network switcher at %1").arg(host);
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
    // Blank tags are no tags, as the window keeps them: they would only wipe the labels.
    what.labels = !tags.isBlank();
    if (what.labels) {
        for (int n = 1; n <= GatewayPorts; ++n) {
            values->inputLabels[GatewayState::index(n)] = tags.inputs[GatewayState::index(n)];
            values->outputLabels[GatewayState::index(n)] = tags.outputs[GatewayState::index(n)];
        }
    }
    for (int p = 1; p <= GatewayPresets; ++p) {
        if (!read.presetStored[std::size_t(p - 1)])
            continue;
        what.presets.append(p);
        const Preset &windowPreset = s.presets[std::size_t(p - 1)];
        GatewayPreset &preset = values->presets[GatewayState::index(p)];
        preset.name = windowPreset.name;
        const QStringList inputs = decodePresetValue(windowPreset.value);
        for (int output = 1; output <= GatewayPorts; ++output)
            preset.routes[GatewayState::index(output)] = presetInput(inputs, output).value_or(0);
    }
    if (found)
        *found = what;
    return true;
}
