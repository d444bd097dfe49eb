#include "IniFile.h"

#include "FileAccess.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

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

// The edit applied to what the existing bytes hold: read-modify-write, so that what a file holds
// beyond the keys written is kept.
bool renderOnce(
    const QByteArray &existing, QByteArray *bytes, QString *error, const IniFile::Edit &edit)
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

    if (!doc.serialize(bytes))
        return fail(error, u"the settings cannot be formatted"_s);
    // A text whose first bytes happen to be those of a UTF-16 or UTF-32 byte order mark would be
    // read back as such text; a UTF-8 mark in front, which the reader skips, keeps it UTF-8.
    if (const std::optional<QStringConverter::Encoding> bom
        = QStringConverter::encodingForData(*bytes);
        bom && *bom != QStringConverter::Utf8)
        bytes->prepend("\xEF\xBB\xBF");
    return true;
}

} // namespace

IniFile::Read IniFile::parse(const QByteArray &bytes, IniDocument &doc)
{
    Read read;
    QString problem;
    const QByteArray text = fileText(bytes, &problem);
    if (!doc.parse(text) && problem.isEmpty())
        problem = u"it cannot be parsed"_s;
    if (!problem.isEmpty())
        read = {Status::Incomplete, problem};
    return read;
}

IniFile::Read IniFile::load(const QString &path, IniDocument &doc)
{
    if (!QFileInfo::exists(path))
        return {Status::Missing, u"it does not exist"_s};
    // Left alone: a FIFO, a device or a folder is no settings file to read or to move aside.
    if (const QString why = FileAccess::notRegularReason(path); !why.isEmpty())
        return {Status::NotAFile, why};
    const FileAccess::ReadResult file = FileAccess::readFile(path, MaxFileSize);
    if (!file.ok)
        return {Status::Incomplete, file.reason};
    return parse(file.bytes, doc);
}

// SimpleIni reads a few layouts differently once it has written them: a section's comment that
// ends up first in the file becomes the file's comment, with blank lines after it. The text is
// settled by a second pass, so that the file written is the one every later save writes again.
bool IniFile::render(
    const QByteArray &existing, QByteArray *bytes, QString *error, const Edit &edit)
{
    QByteArray first;
    return renderOnce(existing, &first, error, edit) && renderOnce(first, bytes, error, edit);
}

bool IniFile::rewrite(const QString &path, QString *error, const Edit &edit)
{
    QByteArray existing;
    if (QFileInfo::exists(path)) {
        const FileAccess::ReadResult file = FileAccess::readFile(path, MaxFileSize);
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

QList<IniValue> IniFile::readValues(const QString &path, Read *read)
{
    IniDocument doc;
    const Read result = load(path, doc);
    if (read)
        *read = result;
    QList<IniValue> values;
    for (const QByteArray &section : doc.sections())
        for (const QByteArray &key : doc.keys(section))
            values.append({IniDocument::decodeText(section), IniDocument::decodeText(key),
                doc.text(section, key, {})});
    return values;
}

bool IniFile::saveValues(const QString &path, const QList<IniValue> &values, QString *error)
{
    return rewrite(path, error, [&](IniDocument &doc) {
        for (const IniValue &value : values)
            doc.setText(value.section.toUtf8(), value.key.toUtf8(), value.text);
    });
}

QString IniFile::moveAside(const QString &path, const QDateTime &when, QString *error)
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
