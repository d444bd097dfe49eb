#include "IniDocument.h"

#include <QStringDecoder>

// SimpleIni comes from the distribution as a compiled library built against ICU; the header must
// see the same converter choice so that its declarations match. CSimpleIniA keeps the file's
// bytes as they are: UTF-8 is decoded here, at the QString boundary.
#include <SimpleIni.h>

#include <algorithm>
#include <string>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr char MultiLineTag[] = "END_OF_TEXT";

bool isIniBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isQuote(char c)
{
    return c == '"' || c == '\'';
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

// How a text is stored: as it stands unless it needs one of the protections IniDocument.h lists.
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

} // namespace

struct IniDocument::Parser
{
    CSimpleIniA ini;
};

IniDocument::IniDocument() : m_parser(std::make_unique<Parser>())
{
    CSimpleIniA &ini = m_parser->ini;
    ini.SetUnicode(true);
    ini.SetMultiKey(false);
    ini.SetMultiLine(true);
    ini.SetQuotes(false); // textOf strips quotes, so hand-written values keep theirs on save
    ini.SetSpaces(false); // "key=value", as Windows writes it
}

IniDocument::~IniDocument() = default;

QString IniDocument::decodeText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    // Not UTF-8: a file an ANSI Windows program wrote.
    QStringDecoder ansi("windows-1252");
    return ansi.isValid() ? QString(ansi.decode(bytes)) : QString::fromLatin1(bytes);
}

bool IniDocument::parse(const QByteArray &text)
{
    CSimpleIniA &ini = m_parser->ini;
    if (ini.LoadData(text.constData(), size_t(text.size())) < 0)
        return false;
    repairSections();
    // SimpleIni hands out multi-line values already joined; put them back into stored form
    // (we write with multi-line output off so that our end tags are used). Such a value may
    // also keep blanks at its ends, which a single line would lose: it gets quotes.
    for (const QByteArray &section : sections())
        for (const QByteArray &key : keys(section)) {
            const QByteArray value = ini.GetValue(section.constData(), key.constData(), "");
            const bool blankEdge
                = !value.isEmpty() && (isIniBlank(value.front()) || isIniBlank(value.back()));
            if (value.contains('\n') || value.contains('\r') || value.startsWith("<<<"))
                ini.SetValue(
                    section.constData(), key.constData(), multiLineForm(value).constData());
            else if (blankEdge)
                ini.SetValue(section.constData(), key.constData(), ('"' + value + '"').constData());
        }
    return true;
}

bool IniDocument::serialize(QByteArray *bytes)
{
    CSimpleIniA &ini = m_parser->ini;
    std::string out;
    ini.SetMultiLine(false);
    const bool ok = ini.Save(out, false) >= 0;
    ini.SetMultiLine(true);
    if (ok)
        *bytes = QByteArray(out.data(), qsizetype(out.size()));
    return ok;
}

QList<QByteArray> IniDocument::sections() const
{
    CSimpleIniA::TNamesDepend names;
    m_parser->ini.GetAllSections(names);
    names.sort(CSimpleIniA::Entry::LoadOrder());
    QList<QByteArray> out;
    for (const auto &entry : names)
        out.append(entry.pItem);
    return out;
}

QList<QByteArray> IniDocument::keys(const QByteArray &section) const
{
    CSimpleIniA::TNamesDepend names;
    m_parser->ini.GetAllKeys(section.constData(), names);
    names.sort(CSimpleIniA::Entry::LoadOrder());
    QList<QByteArray> out;
    for (const auto &entry : names)
        out.append(entry.pItem);
    return out;
}

std::optional<QString> IniDocument::text(const QByteArray &section, const QByteArray &key) const
{
    const char *stored = m_parser->ini.GetValue(section.constData(), key.constData(), nullptr);
    if (!stored)
        return std::nullopt;
    return decodeText(textOf(stored));
}

int IniDocument::integer(const QByteArray &section, const QByteArray &key, int fallback) const
{
    bool ok = false;
    const int value = text(section, key).value_or(QString()).trimmed().toInt(&ok);
    return ok ? value : fallback;
}

bool IniDocument::boolean(const QByteArray &section, const QByteArray &key, bool fallback) const
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

QStringList IniDocument::list(const QByteArray &section, const QByteArray &prefix) const
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
    std::stable_sort(
        items.begin(), items.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QStringList out;
    for (const auto &item : std::as_const(items))
        out.append(item.second);
    return out;
}

void IniDocument::setText(const QByteArray &section, const QByteArray &key, const QString &value)
{
    m_parser->ini.SetValue(
        section.constData(), key.constData(), storedForm(value.toUtf8()).constData());
}

void IniDocument::setList(
    const QByteArray &section, const QByteArray &prefix, const QStringList &values)
{
    for (const QByteArray &key : keys(section))
        m_parser->ini.Delete(section.constData(), key.constData());
    int k = 0;
    for (const QString &value : values)
        if (!value.isEmpty())
            setText(section, prefix + QByteArray::number(++k), value);
}

void IniDocument::removeSection(const QByteArray &section)
{
    m_parser->ini.Delete(section.constData(), nullptr);
}

// A section line without its closing "]" ends at the end of its line, as a Windows reader takes
// it. SimpleIni instead runs the name on into the following lines (up to the first key's "="),
// and a save would write that name back as two lines, one more at every save.
void IniDocument::repairSections()
{
    CSimpleIniA &ini = m_parser->ini;
    for (const QByteArray &broken : sections()) {
        const auto lineBreak = std::find_if(
            broken.cbegin(), broken.cend(), [](char c) { return c == '\n' || c == '\r'; });
        if (lineBreak == broken.cend())
            continue;
        const qsizetype cut = lineBreak - broken.cbegin();
        QByteArray name = broken.left(cut);
        while (!name.isEmpty() && isIniBlank(name.back()))
            name.chop(1);
        ini.SetValue(name.constData(), nullptr, nullptr);
        for (const QByteArray &key : keys(broken))
            ini.SetValue(name.constData(), key.constData(),
                ini.GetValue(broken.constData(), key.constData(), ""));
        ini.Delete(broken.constData(), nullptr);
    }
    // "[]" names the section of keys before any section line; without keys it holds nothing,
    // and SimpleIni would write it as blank lines once and then lose it.
    if (keys(QByteArray("")).isEmpty())
        ini.Delete("", nullptr);
}
