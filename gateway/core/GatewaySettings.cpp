#include "GatewaySettings.h"

#include "AppSettings.h"
#include "DeviceEntry.h"
#include "PresetCodec.h"
#include "SettingsFile.h"

#include <QHostAddress>

namespace {

const QString InputSection = QStringLiteral("Input labels");
const QString OutputSection = QStringLiteral("Output labels");
const QString PresetSection = QStringLiteral("Presets");

QString inputKey(int n)
{
    return QStringLiteral("In") + QString::number(n);
}
QString outputKey(int n)
{
    return QStringLiteral("Out") + QString::number(n);
}
QString nameKey(int n)
{
    return QStringLiteral("Name") + QString::number(n);
}
QString routesKey(int n)
{
    return QStringLiteral("Routes") + QString::number(n);
}

// Keys compare without regard to case, as a Windows reader takes them.
bool same(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

QString GatewaySettings::encodeRoutes(const std::array<int, GatewayPorts> &routes)
{
    QStringList parts;
    for (int input : routes)
        parts.append(QString::number(input));
    return parts.join(QLatin1Char(','));
}

std::array<int, GatewayPorts> GatewaySettings::decodeRoutes(const QString &text)
{
    std::array<int, GatewayPorts> routes{};
    const QStringList parts = text.split(QLatin1Char(','));
    for (int k = 0; k < GatewayPorts && k < parts.size(); ++k) {
        bool ok = false;
        const int input = parts[k].trimmed().toInt(&ok);
        routes[std::size_t(k)] = ok && GatewayState::isPort(input) ? input : 0;
    }
    return routes;
}

GatewaySettings::Values GatewaySettings::load(QString *problem) const
{
    Values values;
    if (problem)
        problem->clear();
    if (m_path.isEmpty())
        return values;
    SettingsRead::Status status = SettingsRead::Ok;
    QString reason;
    const QList<SettingsValue> stored = SettingsFile::readValues(m_path, &status, &reason);
    if (status != SettingsRead::Ok && status != SettingsRead::Missing && problem)
        *problem = QStringLiteral("%1 cannot be read completely: %2").arg(m_path, reason);
    for (const SettingsValue &v : stored) {
        for (int n = 1; n <= GatewayPorts; ++n) {
            if (same(v.section, InputSection) && same(v.key, inputKey(n)))
                values.inputLabels[GatewayState::index(n)] = v.text;
            if (same(v.section, OutputSection) && same(v.key, outputKey(n)))
                values.outputLabels[GatewayState::index(n)] = v.text;
        }
        for (int p = 1; p <= GatewayPresets; ++p) {
            GatewayPreset &preset = values.presets[GatewayState::index(p)];
            if (same(v.section, PresetSection) && same(v.key, nameKey(p)))
                preset.name = v.text;
            if (same(v.section, PresetSection) && same(v.key, routesKey(p)))
                preset.routes = decodeRoutes(v.text);
        }
    }
    return values;
}

bool GatewaySettings::save(const Values &values, QString *error) const
{
    if (m_path.isEmpty())
        return true;
    QList<SettingsValue> stored;
    for (int n = 1; n <= GatewayPorts; ++n)
        stored.append({InputSection, inputKey(n), values.inputLabels[GatewayState::index(n)]});
    for (int n = 1; n <= GatewayPorts; ++n)
        stored.append({OutputSection, outputKey(n), values.outputLabels[GatewayState::index(n)]});
    for (int p = 1; p <= GatewayPresets; ++p) {
        const GatewayPreset &preset = values.presets[GatewayState::index(p)];
        stored.append({PresetSection, nameKey(p), preset.name});
        stored.append({PresetSection, routesKey(p), encodeRoutes(preset.routes)});
    }
    return SettingsFile::saveValues(m_path, stored, error);
}

bool GatewaySettings::importWindowSettings(
    const QString &windowFile, const QString &host, Values *values, QString *error)
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
