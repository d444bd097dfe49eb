#include "SettingsFile.h"

#include "DeviceProtocol.h"
#include "FileAccess.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>

// SimpleIni comes from the distribution as a compiled library built against ICU; the header must
// see the same converter choice so that its declarations match. CSimpleIniA (below) keeps the
// file's bytes as they are: UTF-8 is decoded here, at the QString boundary.
#include <SimpleIni.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
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

constexpr char MultiLineTag[] = "END_OF_TEXT";

bool isIniBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isQuote(char c)
{
    return c == '"' || c == '\'';
}

QString decodeText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    // Not UTF-8: a file an ANSI Windows program wrote.
    QStringDecoder ansi("windows-1252");
    return ansi.isValid() ? QString(ansi.decode(bytes)) : QString::fromLatin1(bytes);
}

// A text that ends up with line breaks: "<<<TAG", its lines, "TAG". SimpleIni ends the value at
// the first line equal to TAG (case and trailing blanks ignored), so TAG must match none of them.
QByteArray multiLineForm(QByteArray text)
{
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    const QList<QByteArray> lines = text.split('\n');
    QByteArray tag = MultiLineTag;
    for (int i = 1;; ++i) {
        const bool clash = std::any_of(lines.cbegin(), lines.cend(), [&](QByteArray line) {
            while (!line.isEmpty() && isIniBlank(line.back()))
                line.chop(1);
            return qstricmp(line.constData(), tag.constData()) == 0;
        });
        if (!clash)
            break;
        tag = MultiLineTag + ('_' + QByteArray::number(i));
    }
    return "<<<" + tag + '\n' + text + '\n' + tag;
}

// How a text is stored: as it stands unless it needs one of the protections SettingsFile.h lists.
QByteArray storedForm(QByteArray text)
{
    text.removeIf([](char c) { return c == '\0'; });
    if (text.contains('\n') || text.contains('\r') || text.startsWith("<<<"))
        return multiLineForm(text);
    const bool blankEdge = !text.isEmpty() && (isIniBlank(text.front()) || isIniBlank(text.back()));
    const bool quoted = text.size() >= 2 && isQuote(text.front()) && text.front() == text.back();
    if (blankEdge || quoted)
        return '"' + text + '"';
    return text;
}

// The inverse of storedForm, also right for values written by hand.
QByteArray textOf(const QByteArray &stored)
{
    if (stored.startsWith("<<<")) {
        const qsizetype first = stored.indexOf('\n');
        const qsizetype last = stored.lastIndexOf('\n');
        if (first >= 0 && last > first)
            return stored.mid(first + 1, last - first - 1);
        return stored;
    }
    if (stored.size() >= 2 && isQuote(stored.front()) && stored.front() == stored.back())
        return stored.mid(1, stored.size() - 2);
    return stored;
}

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

// CSimpleIniA with the value rules above. Every value is held in its stored form, so that values
// of sections we do not know are written back byte for byte.
class IniDocument final
{
public:
    IniDocument()
    {
        m_ini.SetUnicode(true);
        m_ini.SetMultiKey(false);
        m_ini.SetMultiLine(true);
        m_ini.SetQuotes(false); // textOf strips quotes, so hand-written values keep theirs on save
        m_ini.SetSpaces(false); // "key=value", as Windows writes it
    }
    Q_DISABLE_COPY_MOVE(IniDocument)

    // Parses what fileText() made of a file's bytes; false when SimpleIni refuses them.
    bool parse(const QByteArray &bytes)
    {
        if (m_ini.LoadData(bytes.constData(), size_t(bytes.size())) < 0)
            return false;
        repairSections();
        // SimpleIni hands out multi-line values already joined; put them back into stored form
        // (we write with multi-line output off so that our end tags are used). Such a value may
        // also keep blanks at its ends, which a single line would lose: it gets quotes.
        for (const QByteArray &section : sections())
            for (const QByteArray &key : keys(section)) {
                const QByteArray text = m_ini.GetValue(section.constData(), key.constData(), "");
                const bool blankEdge
                    = !text.isEmpty() && (isIniBlank(text.front()) || isIniBlank(text.back()));
                if (text.contains('\n') || text.contains('\r') || text.startsWith("<<<"))
                    m_ini.SetValue(
                        section.constData(), key.constData(), multiLineForm(text).constData());
                else if (blankEdge)
                    m_ini.SetValue(
                        section.constData(), key.constData(), ('"' + text + '"').constData());
            }
        return true;
    }

    std::string serialize(bool *ok)
    {
        std::string out;
        m_ini.SetMultiLine(false);
        *ok = m_ini.Save(out, false) >= 0;
        m_ini.SetMultiLine(true);
        return out;
    }

    // Raw section names in file order.
    QList<QByteArray> sections() const
    {
        CSimpleIniA::TNamesDepend names;
        m_ini.GetAllSections(names);
        names.sort(CSimpleIniA::Entry::LoadOrder());
        QList<QByteArray> out;
        for (const auto &entry : names)
            out.append(entry.pItem);
        return out;
    }

    QList<QByteArray> keys(const QByteArray &section) const
    {
        CSimpleIniA::TNamesDepend names;
        m_ini.GetAllKeys(section.constData(), names);
        names.sort(CSimpleIniA::Entry::LoadOrder());
        QList<QByteArray> out;
        for (const auto &entry : names)
            out.append(entry.pItem);
        return out;
    }

    std::optional<QString> text(const QByteArray &section, const QByteArray &key) const
    {
        const char *stored = m_ini.GetValue(section.constData(), key.constData(), nullptr);
        if (!stored)
            return std::nullopt;
        return decodeText(textOf(stored));
    }

    QString text(const QByteArray &section, const QByteArray &key, const QString &fallback) const
    {
        return text(section, key).value_or(fallback);
    }

    int integer(const QByteArray &section, const QByteArray &key, int fallback) const
    {
        bool ok = false;
        const int value = text(section, key).value_or(QString()).trimmed().toInt(&ok);
        return ok ? value : fallback;
    }

    // A Windows reader takes any non-zero number as true; the usual words are accepted too.
    bool boolean(const QByteArray &section, const QByteArray &key, bool fallback) const
    {
        const QString value = text(section, key).value_or(QString()).trimmed().toLower();
        bool ok = false;
        const int number = value.toInt(&ok);
        if (ok)
            return number != 0;
        if (value == "true"_L1 || value == "yes"_L1 || value == "on"_L1)
            return true;
        if (value == "false"_L1 || value == "no"_L1 || value == "off"_L1)
            return false;
        return fallback;
    }

    // The values of prefix + k keys (k = 1, 2, …) in the order of k; gaps are skipped, and so
    // are empty values, which no list holds.
    QStringList list(const QByteArray &section, const QByteArray &prefix) const
    {
        QList<std::pair<qlonglong, QString>> items;
        for (const QByteArray &key : keys(section)) {
            if (!key.toLower().startsWith(prefix.toLower()))
                continue;
            const QByteArray suffix = key.mid(prefix.size());
            bool ok = !suffix.isEmpty() && std::all_of(suffix.cbegin(), suffix.cend(), [](char c) {
                return c >= '0' && c <= '9';
            });
            const qlonglong k = ok ? suffix.toLongLong(&ok) : 0;
            const QString value = text(section, key).value_or(QString());
            if (ok && !value.isEmpty())
                items.append({k, value});
        }
        std::stable_sort(items.begin(), items.end(),
            [](const auto &a, const auto &b) { return a.first < b.first; });
        QStringList out;
        for (const auto &item : std::as_const(items))
            out.append(item.second);
        return out;
    }

    void setText(const QByteArray &section, const QByteArray &key, const QString &value)
    {
        m_ini.SetValue(
            section.constData(), key.constData(), storedForm(value.toUtf8()).constData());
    }

    // The section is erased first, keeping its place and comment, then refilled.
    void setList(const QByteArray &section, const QByteArray &prefix, const QStringList &values)
    {
        for (const QByteArray &key : keys(section))
            m_ini.Delete(section.constData(), key.constData());
        int k = 0;
        for (const QString &value : values)
            if (!value.isEmpty())
                setText(section, prefix + QByteArray::number(++k), value);
    }

    void removeBlankTagSections()
    {
        for (const QByteArray &section : sections()) {
            if (!decodeText(section).contains(
                    QLatin1StringView(TagSectionMarker), Qt::CaseInsensitive))
                continue;
            const QList<QByteArray> names = keys(section);
            const bool blank = std::all_of(names.cbegin(), names.cend(), [&](const auto &key) {
                return text(section, key).value_or(QString()).trimmed().isEmpty();
            });
            if (blank)
                m_ini.Delete(section.constData(), nullptr);
        }
    }

private:
    // A section line without its closing "]" ends at the end of its line, as a Windows reader
    // takes it. SimpleIni instead runs the name on into the following lines (up to the first
    // key's "="), and a save would write that name back as two lines, one more at every save.
    void repairSections()
    {
        for (const QByteArray &broken : sections()) {
            const auto lineBreak = std::find_if(
                broken.cbegin(), broken.cend(), [](char c) { return c == '\n' || c == '\r'; });
            if (lineBreak == broken.cend())
                continue;
            const qsizetype cut = lineBreak - broken.cbegin();
            QByteArray name = broken.left(cut);
            while (!name.isEmpty() && isIniBlank(name.back()))
                name.chop(1);
            m_ini.SetValue(name.constData(), nullptr, nullptr);
            for (const QByteArray &key : keys(broken))
                m_ini.SetValue(name.constData(), key.constData(),
                    m_ini.GetValue(broken.constData(), key.constData(), ""));
            m_ini.Delete(broken.constData(), nullptr);
        }
        // "[]" names the section of keys before any section line; without keys it holds
        // nothing, and SimpleIni would write it as blank lines once and then lose it.
        if (keys(QByteArray("")).isEmpty())
            m_ini.Delete("", nullptr);
    }

    CSimpleIniA m_ini;
};

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
        const QString name = decodeText(section);
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

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

// The text SimpleIni is given for a file's bytes. UTF-16 and UTF-32 files (Windows Notepad's
// "Unicode") carry a byte order mark and are handed on as UTF-8; they are saved as UTF-8. An
// empty problem means the whole file can be read.
QByteArray fileText(const QByteArray &bytes, QString *problem)
{
    QByteArray text = bytes;
    const std::optional<QStringConverter::Encoding> bom = QStringConverter::encodingForData(bytes);
    if (bom && *bom != QStringConverter::Utf8) {
        QStringDecoder decoder(*bom);
        const QString decoded = decoder.decode(bytes);
        // The decoder neither flags a character cut off at the end nor a lone surrogate.
        const bool utf16 = *bom == QStringConverter::Utf16LE || *bom == QStringConverter::Utf16BE
            || *bom == QStringConverter::Utf16;
        if (decoder.hasError() || bytes.size() % (utf16 ? 2 : 4) != 0 || !decoded.isValidUtf16()) {
            *problem = u"it is not valid %1 text"_s.arg(QLatin1StringView(decoder.name()));
            return {};
        }
        text = decoded.toUtf8();
    }
    // SimpleIni reads up to the first NUL byte: everything after it would be lost.
    if (const qsizetype nul = text.indexOf('\0'); nul >= 0) {
        *problem = bom && *bom != QStringConverter::Utf8
            ? u"it holds a NUL character, and nothing after it can be read"_s
            : u"it holds a NUL byte at offset %1, and nothing after it can be read"_s.arg(nul);
    }
    return text;
}

using Edit = std::function<void(IniDocument &)>;

// Our keys written into what the existing bytes hold: read-modify-write, so that what a file
// holds beyond our keys is kept.
bool renderOnce(const QByteArray &existing, QByteArray *bytes, QString *error, const Edit &edit)
{
    IniDocument doc;
    QString problem;
    const QByteArray text = fileText(existing, &problem);
    if (problem.isEmpty() && !doc.parse(text))
        problem = u"it cannot be parsed"_s;
    // Never replace what could not be read completely: the part not understood would be lost.
    if (!problem.isEmpty())
        return fail(
            error, u"it cannot be read completely (%1); it was kept as it is"_s.arg(problem));

    edit(doc);
    doc.removeBlankTagSections();

    bool ok = false;
    const std::string out = doc.serialize(&ok);
    if (!ok)
        return fail(error, u"the settings cannot be formatted"_s);
    *bytes = QByteArray(out.data(), qsizetype(out.size()));
    // A text whose first bytes happen to be those of a UTF-16 or UTF-32 byte order mark would be
    // read back as such text; a UTF-8 mark in front, which the reader skips, keeps it UTF-8.
    if (const std::optional<QStringConverter::Encoding> bom
        = QStringConverter::encodingForData(*bytes);
        bom && *bom != QStringConverter::Utf8)
        bytes->prepend("\xEF\xBB\xBF");
    return true;
}

// SimpleIni reads a few layouts differently once it has written them: a section's comment that
// ends up first in the file becomes the file's comment, with blank lines after it. The text is
// settled by a second pass, so that the file written is the one every later save writes again.
bool render(const QByteArray &existing, QByteArray *bytes, QString *error, const Edit &edit)
{
    QByteArray first;
    return renderOnce(existing, &first, error, edit) && renderOnce(first, bytes, error, edit);
}

bool rewrite(const QString &path, QString *error, const Edit &edit)
{
    QByteArray existing;
    if (QFileInfo::exists(path)) {
        const FileAccess::ReadResult file = FileAccess::readFile(path, SettingsFile::MaxFileSize);
        if (!file.ok)
            return fail(
                error, u"Cannot save %1: %2; it was kept as it is"_s.arg(path, file.reason));
        existing = file.bytes;
    }
    QByteArray bytes;
    QString reason;
    if (!render(existing, &bytes, &reason, edit) || !FileAccess::writeFile(path, bytes, &reason))
        return fail(error, u"Cannot save %1: %2"_s.arg(path, reason));
    return true;
}

} // namespace

SettingsRead SettingsFile::fromBytes(const QByteArray &bytes)
{
    SettingsRead result;
    QString problem;
    const QByteArray text = fileText(bytes, &problem);
    IniDocument doc;
    if (!doc.parse(text) && problem.isEmpty())
        problem = u"it cannot be parsed"_s;
    readSettings(doc, result.settings);
    if (!problem.isEmpty()) {
        result.status = SettingsRead::Incomplete;
        result.reason = problem;
    }
    return result;
}

bool SettingsFile::toBytes(
    const QByteArray &existing, const AppSettings &settings, QByteArray *bytes, QString *error)
{
    return render(existing, bytes, error, [&](IniDocument &doc) { writeSettings(doc, settings); });
}

SettingsRead SettingsFile::read(const QString &path)
{
    SettingsRead result;
    if (!QFileInfo::exists(path)) {
        result.status = SettingsRead::Missing;
        result.reason = u"it does not exist"_s;
        return result;
    }
    // Left alone: a FIFO, a device or a folder is no settings file to read or to move aside.
    if (const QString why = FileAccess::notRegularReason(path); !why.isEmpty()) {
        result.status = SettingsRead::NotAFile;
        result.reason = why;
        return result;
    }
    const FileAccess::ReadResult file = FileAccess::readFile(path, MaxFileSize);
    if (!file.ok) {
        result.status = SettingsRead::Incomplete;
        result.reason = file.reason;
        return result;
    }
    return fromBytes(file.bytes);
}

AppSettings SettingsFile::load(const QString &path)
{
    return read(path).settings;
}

QString SettingsFile::moveAside(const QString &path, const QDateTime &when, QString *error)
{
    const QString stem = path + u".bak-"_s + when.toString(u"yyyy-MM-dd-HHmmss"_s);
    QString backup = stem;
    for (int n = 2; QFileInfo::exists(backup) || QFileInfo(backup).isSymLink(); ++n)
        backup = stem + u'-' + QString::number(n);
    // QFile::rename never replaces an existing file.
    QFile file(path);
    if (!file.rename(backup)) {
        fail(error, u"Cannot move %1 aside as %2: %3"_s.arg(path, backup, file.errorString()));
        return {};
    }
    return backup;
}

bool SettingsFile::save(const QString &path, const AppSettings &settings, QString *error)
{
    return rewrite(path, error, [&](IniDocument &doc) { writeSettings(doc, settings); });
}

bool SettingsFile::savePortTags(const QString &path, TControlMode controlMode, const QString &mac,
    const PortTags &tags, QString *error)
{
    return rewrite(path, error, [&](IniDocument &doc) { writeTags(doc, controlMode, mac, tags); });
}

QList<SettingsValue> SettingsFile::readValues(
    const QString &path, SettingsRead::Status *status, QString *reason)
{
    auto report = [&](SettingsRead::Status s, const QString &why) {
        if (status)
            *status = s;
        if (reason)
            *reason = why;
    };
    report(SettingsRead::Ok, {});
    if (!QFileInfo::exists(path)) {
        report(SettingsRead::Missing, u"it does not exist"_s);
        return {};
    }
    if (const QString why = FileAccess::notRegularReason(path); !why.isEmpty()) {
        report(SettingsRead::NotAFile, why);
        return {};
    }
    const FileAccess::ReadResult file = FileAccess::readFile(path, MaxFileSize);
    if (!file.ok) {
        report(SettingsRead::Incomplete, file.reason);
        return {};
    }
    QString problem;
    const QByteArray text = fileText(file.bytes, &problem);
    IniDocument doc;
    if (!doc.parse(text) && problem.isEmpty())
        problem = u"it cannot be parsed"_s;
    if (!problem.isEmpty())
        report(SettingsRead::Incomplete, problem);
    QList<SettingsValue> values;
    for (const QByteArray &section : doc.sections())
        for (const QByteArray &key : doc.keys(section))
            values.append({decodeText(section), decodeText(key), doc.text(section, key, {})});
    return values;
}

bool SettingsFile::saveValues(
    const QString &path, const QList<SettingsValue> &values, QString *error)
{
    return rewrite(path, error, [&](IniDocument &doc) {
        for (const SettingsValue &value : values)
            doc.setText(value.section.toUtf8(), value.key.toUtf8(), value.text);
    });
}

QString SettingsFile::tagSectionName(TagSide side, TControlMode controlMode, const QString &mac)
{
    if (controlMode == cmCOM)
        return tagSectionPrefix(side) + u"COM"_s;
    return tagSectionPrefix(side) + u"TCP:"_s + encodeMacForSection(mac);
}
