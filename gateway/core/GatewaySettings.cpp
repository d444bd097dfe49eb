#include "GatewaySettings.h"

#include "FileAccess.h"
#include "IniFile.h"

#include <QFileInfo>

namespace {

const QString InputSection = QStringLiteral("Input labels");
const QString OutputSection = QStringLiteral("Output labels");
const QString PresetSection = QStringLiteral("Presets");
const QString DeviceSection = QStringLiteral("Device");
const QString FriendlyNameKey = QStringLiteral("FriendlyName");
const QString MqttSection = QStringLiteral("MQTT");
const QString MqttIdKey = QStringLiteral("Id");

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
    IniFile::Read read;
    const QList<IniValue> stored = IniFile::readValues(m_path, &read);
    if (read.status != IniFile::Status::Ok && read.status != IniFile::Status::Missing && problem)
        *problem = QStringLiteral("%1 cannot be read completely: %2").arg(m_path, read.reason);
    for (const IniValue &v : stored) {
        if (same(v.section, DeviceSection) && same(v.key, FriendlyNameKey))
            values.friendlyName = v.text;
        if (same(v.section, MqttSection) && same(v.key, MqttIdKey))
            values.mqttId = v.text;
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
    QList<IniValue> stored;
    for (int n = 1; n <= GatewayPorts; ++n)
        stored.append({InputSection, inputKey(n), values.inputLabels[GatewayState::index(n)]});
    for (int n = 1; n <= GatewayPorts; ++n)
        stored.append({OutputSection, outputKey(n), values.outputLabels[GatewayState::index(n)]});
    for (int p = 1; p <= GatewayPresets; ++p) {
        const GatewayPreset &preset = values.presets[GatewayState::index(p)];
        stored.append({PresetSection, nameKey(p), preset.name});
        stored.append({PresetSection, routesKey(p), encodeRoutes(preset.routes)});
    }
    stored.append({DeviceSection, FriendlyNameKey, values.friendlyName});
    if (!values.mqttId.isEmpty())
        stored.append({MqttSection, MqttIdKey, values.mqttId});
    return IniFile::saveValues(m_path, stored, error);
}

GatewaySettings::Prepared GatewaySettings::prepare(const QDateTime &when) const
{
    Prepared result;
    if (m_path.isEmpty())
        return result;
    const QString folder = QFileInfo(m_path).absolutePath();
    if (const QString why = FileAccess::folderNotWritableReason(folder); !why.isEmpty()) {
        result.refusal
            = QStringLiteral("cannot keep labels and presets in %1: no file can be made in %2: %3")
                  .arg(m_path, folder, why);
        return result;
    }
    for (const QString &leftover : FileAccess::removeLeftoverSaves(m_path))
        result.notes.append(
            QStringLiteral("removed %1, left by a save that did not end").arg(leftover));
    // A folder, a FIFO or a device (a link to /dev/null) in its place would take no change.
    if (const QString why = FileAccess::notReplaceableReason(m_path); !why.isEmpty()) {
        result.refusal
            = QStringLiteral("cannot keep labels and presets in %1: %2").arg(m_path, why);
        return result;
    }
    QString problem;
    const Values values = load(&problem);
    if (problem.isEmpty())
        return result;
    QString error;
    const QString backup = IniFile::moveAside(m_path, when, &error);
    if (backup.isEmpty()) {
        result.refusal = QStringLiteral("%1; %2").arg(problem, error);
        return result;
    }
    result.notes.append(
        QStringLiteral("%1; it was moved aside as %2, and a new %3 keeps what could be read")
            .arg(problem, backup, QFileInfo(m_path).fileName()));
    if (!save(values, &error))
        result.refusal = error;
    return result;
}
