#include "SettingsFile.h"

#include "DeviceProtocol.h"
#include "IniFile.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <functional>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Section and key names; SettingsFile.h has the table of what each holds.
constexpr char Connection[] = "Connection";
constexpr char ControlMode[] = "Control mode";
constexpr char ComPort[] = "COM port";
constexpr char DeviceList[] = "TCP control device list";
constexpr char DeviceListKey[] = "Device";
constexpr char SelectedDevice[] = "TCP control device";
constexpr char Value[] = "Value";
constexpr char Network[] = "TCP configuration";
constexpr char NetworkIP[] = "IP address";
constexpr char NetworkGateway[] = "Gateway";
constexpr char NetworkMask[] = "Subnet mask";
constexpr char MacId[] = "MAC ID";
constexpr char PresetNames[] = "Pre-Setting name";
constexpr char PresetNameKey[] = "Setting";
constexpr char PresetValues[] = "Pre-Setting value";
constexpr char PresetValueKey[] = "value";
constexpr char InputPool[] = "In device name";
constexpr char InputPoolKey[] = "Device";
constexpr char OutputPool[] = "Out display name";
constexpr char OutputPoolKey[] = "Display";
constexpr char DisplayTag[] = "Display tag";
constexpr char Edid[] = "EDID setting";
constexpr char EdidMode[] = "EDID mode";
constexpr char EdidSetModeInput[] = "In of EDID mode";
constexpr char EdidCopyOutput[] = "Out of Copy EDID";
constexpr char EdidCopyInput[] = "In of Copy EDID";
constexpr char EdidReadOutput[] = "Out of Read EDID";
constexpr char EdidDownloadInput[] = "In of Download EDID";
constexpr char Firmware[] = "FW upgrade";
constexpr char FirmwareFolder[] = "Last folder";

constexpr char TagSectionMarker[] = "Tag of";
constexpr char InputTagKey[] = "In";
constexpr char OutputTagKey[] = "Out";

// The switcher's MAC text becomes part of a section name; keep it from ending the name early or
// losing its trailing blanks.
QString encodeMacForSection(const QString &mac)
{
    qsizetype keptEnd = mac.size();
    while (keptEnd > 0 && (mac.at(keptEnd - 1) == u' ' || mac.at(keptEnd - 1) == u'\t'))
        --keptEnd;
    QString out;
    for (qsizetype i = 0; i < mac.size(); ++i) {
        const char16_t c = mac.at(i).unicode();
        if (c == u'%' || c == u']' || c < 0x20 || c == 0x7F || i >= keptEnd)
            out += u'%' + QString::number(c, 16).toUpper().rightJustified(2, u'0');
        else
            out += QChar(c);
    }
    return out;
}

QString decodeMacFromSection(const QString &text)
{
    const auto isHex = [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
    };
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'%' && i + 2 < text.size() && isHex(text.at(i + 1))
            && isHex(text.at(i + 2))) {
            out += QChar(char16_t(text.mid(i + 1, 2).toUShort(nullptr, 16)));
            i += 2;
        } else {
            out += text.at(i);
        }
    }
    return out;
}

QString tagSectionPrefix(TagSide side)
{
    return side == TagSide::Input ? u"Tag of Input - "_s : u"Tag of Output - "_s;
}

QByteArray tagKeyPrefix(TagSide side)
{
    return side == TagSide::Input ? InputTagKey : OutputTagKey;
}

void readTags(const IniDocument &doc, const QByteArray &section, TagSide side,
    std::array<QString, DeviceProtocol::PortCount> &tags)
{
    for (int n = 1; n <= DeviceProtocol::PortCount; ++n)
        tags[size_t(n - 1)] = doc.text(section, tagKeyPrefix(side) + QByteArray::number(n), {});
}

void writeTags(IniDocument &doc, TControlMode controlMode, const QString &mac, const PortTags &tags)
{
    if (controlMode != cmCOM && mac == noDeviceMac())
        return;
    for (const TagSide side : {TagSide::Input, TagSide::Output}) {
        const QByteArray section = SettingsFile::tagSectionName(side, controlMode, mac).toUtf8();
        for (int n = 1; n <= DeviceProtocol::PortCount; ++n)
            doc.setText(section, tagKeyPrefix(side) + QByteArray::number(n),
                tags.side(side)[size_t(n - 1)]);
    }
}

void readSettings(const IniDocument &doc, AppSettings &s)
{
    const int mode = doc.integer(Connection, ControlMode, cmLAN);
    s.controlMode = mode == cmCOM ? cmCOM : cmLAN;
    s.comPort = doc.text(Connection, ComPort, {});
    s.lanDevices = doc.list(DeviceList, DeviceListKey);
    s.lanDevice = doc.text(SelectedDevice, Value, {});
    s.networkIP = doc.text(Network, NetworkIP, {});
    s.networkGateway = doc.text(Network, NetworkGateway, {});
    s.networkMask = doc.text(Network, NetworkMask, {});
    s.macId = doc.text(Network, MacId, {});

    for (int n = 1; n <= SettingsPresetCount; ++n) {
        Preset &preset = s.presets[size_t(n - 1)];
        const QByteArray number = QByteArray::number(n);
        preset.name = doc.text(PresetNames, PresetNameKey + number, preset.name);
        preset.value = doc.text(PresetValues, PresetValueKey + number, preset.value);
    }

    for (const QByteArray &section : doc.sections()) {
        const QString name = IniDocument::decodeText(section);
        for (const TagSide side : {TagSide::Input, TagSide::Output}) {
            const QString comName = SettingsFile::tagSectionName(side, cmCOM, {});
            const QString lanPrefix = tagSectionPrefix(side) + u"TCP:"_s;
            if (name.compare(comName, Qt::CaseInsensitive) == 0) {
                readTags(doc, section, side, s.comTags.side(side));
            } else if (name.startsWith(lanPrefix, Qt::CaseInsensitive)) {
                const QString mac = decodeMacFromSection(name.mid(lanPrefix.size()));
                PortTags tags = s.tags(cmLAN, mac);
                readTags(doc, section, side, tags.side(side));
                s.setTags(cmLAN, mac, tags);
            }
        }
    }

    // A tag section of blank values stands for no tags; a save removes it.
    for (auto it = s.lanTags.begin(); it != s.lanTags.end();)
        it = it.value().isBlank() ? s.lanTags.erase(it) : std::next(it);

    s.inputNamePool = doc.list(InputPool, InputPoolKey);
    s.outputNamePool = doc.list(OutputPool, OutputPoolKey);
    s.displayTag = doc.boolean(DisplayTag, Value, false);

    s.edid.edidMode = doc.text(Edid, EdidMode, {});
    s.edid.setModeInput = doc.text(Edid, EdidSetModeInput, {});
    s.edid.copyOutput = doc.text(Edid, EdidCopyOutput, {});
    s.edid.copyInput = doc.text(Edid, EdidCopyInput, {});
    s.edid.readOutput = doc.text(Edid, EdidReadOutput, {});
    s.edid.downloadInput = doc.text(Edid, EdidDownloadInput, {});

    s.firmwareFolder = doc.text(Firmware, FirmwareFolder, {});
}

void writeSettings(IniDocument &doc, const AppSettings &s)
{
    doc.setText(Connection, ControlMode, QString::number(int(s.controlMode)));
    doc.setText(Connection, ComPort, s.comPort);
    doc.setList(DeviceList, DeviceListKey, s.lanDevices);
    doc.setText(SelectedDevice, Value, s.lanDevice);
    doc.setText(Network, NetworkIP, s.networkIP);
    doc.setText(Network, NetworkGateway, s.networkGateway);
    doc.setText(Network, NetworkMask, s.networkMask);
    doc.setText(Network, MacId, s.macId);

    for (int n = 1; n <= SettingsPresetCount; ++n) {
        const Preset &preset = s.presets[size_t(n - 1)];
        const QByteArray number = QByteArray::number(n);
        doc.setText(PresetNames, PresetNameKey + number, preset.name);
        doc.setText(PresetValues, PresetValueKey + number, preset.value);
    }

    writeTags(doc, cmCOM, {}, s.comTags);
    for (auto it = s.lanTags.cbegin(); it != s.lanTags.cend(); ++it)
        writeTags(doc, cmLAN, it.key(), it.value());

    doc.setList(InputPool, InputPoolKey, s.inputNamePool);
    doc.setList(OutputPool, OutputPoolKey, s.outputNamePool);
    doc.setText(DisplayTag, Value, s.displayTag ? u"1"_s : u"0"_s);

    doc.setText(Edid, EdidMode, s.edid.edidMode);
    doc.setText(Edid, EdidSetModeInput, s.edid.setModeInput);
    doc.setText(Edid, EdidCopyOutput, s.edid.copyOutput);
    doc.setText(Edid, EdidCopyInput, s.edid.copyInput);
    doc.setText(Edid, EdidReadOutput, s.edid.readOutput);
    doc.setText(Edid, EdidDownloadInput, s.edid.downloadInput);

    doc.setText(Firmware, FirmwareFolder, s.firmwareFolder);
}

// A tag section of blank values stands for no tags: a save leaves none behind.
void removeBlankTagSections(IniDocument &doc)
{
    for (const QByteArray &section : doc.sections()) {
        if (!IniDocument::decodeText(section).contains(
                QLatin1StringView(TagSectionMarker), Qt::CaseInsensitive))
            continue;
        const QList<QByteArray> names = doc.keys(section);
        const bool blank = std::all_of(names.cbegin(), names.cend(), [&](const auto &key) {
            return doc.text(section, key).value_or(QString()).trimmed().isEmpty();
        });
        if (blank)
            doc.removeSection(section);
    }
}

// Every save of Settings.ini: our keys, then the blank tag sections gone.
IniFile::Edit settingsEdit(std::function<void(IniDocument &)> write)
{
    return [write = std::move(write)](IniDocument &doc) {
        write(doc);
        removeBlankTagSections(doc);
    };
}

SettingsRead fromIni(const IniFile::Read &read, const IniDocument &doc)
{
    SettingsRead result;
    readSettings(doc, result.settings);
    for (int n = 1; n <= SettingsPresetCount; ++n) {
        const QByteArray number = QByteArray::number(n);
        result.presetStored[size_t(n - 1)] = doc.text(PresetNames, PresetNameKey + number)
            || doc.text(PresetValues, PresetValueKey + number);
    }
    switch (read.status) {
    case IniFile::Status::Ok:
        result.status = SettingsRead::Ok;
        break;
    case IniFile::Status::Missing:
        result.status = SettingsRead::Missing;
        break;
    case IniFile::Status::NotAFile:
        result.status = SettingsRead::NotAFile;
        break;
    case IniFile::Status::Incomplete:
        result.status = SettingsRead::Incomplete;
        break;
    }
    result.reason = read.reason;
    return result;
}

} // namespace

SettingsRead SettingsFile::fromBytes(const QByteArray &bytes)
{
    IniDocument doc;
    const IniFile::Read read = IniFile::parse(bytes, doc);
    return fromIni(read, doc);
}

bool SettingsFile::toBytes(
    const QByteArray &existing, const AppSettings &settings, QByteArray *bytes, QString *error)
{
    return IniFile::render(existing, bytes, error,
        settingsEdit([&](IniDocument &doc) { writeSettings(doc, settings); }));
}

SettingsRead SettingsFile::read(const QString &path)
{
    IniDocument doc;
    const IniFile::Read read = IniFile::load(path, doc);
    // Only what was read counts: a file in the way of one gives the defaults.
    if (read.status == IniFile::Status::Missing || read.status == IniFile::Status::NotAFile) {
        IniDocument none;
        return fromIni(read, none);
    }
    return fromIni(read, doc);
}

AppSettings SettingsFile::load(const QString &path)
{
    return read(path).settings;
}

QString SettingsFile::moveAside(const QString &path, const QDateTime &when, QString *error)
{
    return IniFile::moveAside(path, when, error);
}

bool SettingsFile::save(const QString &path, const AppSettings &settings, QString *error)
{
    return IniFile::rewrite(
        path, error, settingsEdit([&](IniDocument &doc) { writeSettings(doc, settings); }));
}

bool SettingsFile::savePortTags(const QString &path, TControlMode controlMode, const QString &mac,
    const PortTags &tags, QString *error)
{
    return IniFile::rewrite(path, error,
        settingsEdit([&](IniDocument &doc) { writeTags(doc, controlMode, mac, tags); }));
}

QString SettingsFile::tagSectionName(TagSide side, TControlMode controlMode, const QString &mac)
{
    if (controlMode == cmCOM)
        return tagSectionPrefix(side) + u"COM"_s;
    return tagSectionPrefix(side) + u"TCP:"_s + encodeMacForSection(mac);
}
