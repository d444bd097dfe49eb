#pragma once

#include "IniDocument.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class QDateTime;

// One value of an INI file: its section, key and text.
struct IniValue
{
    QString section;
    QString key;
    QString text;

    bool operator==(const IniValue &) const = default;
};

// Settings files on disk, in the form IniDocument keeps: the window's Settings.ini and the
// gateway's gateway.ini alike. Only a regular file is read (FileAccess), never more than
// MaxFileSize; a file with a UTF-16 or UTF-32 byte order mark is read as such (and saved as
// UTF-8). A file that cannot be read completely (a NUL byte, text that does not decode, too
// large, refused by the system) is Incomplete, and it is never rewritten: a save fails and the
// file stays as it is. Saves are read-modify-write, so that what a file holds beyond the keys
// written is kept, and atomic (FileAccess::writeFile).
class IniFile final
{
public:
    // Far beyond any real settings file; a larger one is not read into memory.
    static constexpr qint64 MaxFileSize = 4 * 1024 * 1024;

    enum class Status {
        Ok,
        Missing, // no file
        NotAFile, // a folder, FIFO or device stands in its place; it is left alone
        Incomplete, // it could not be read completely: the document holds only what could be
    };
    struct Read
    {
        Status status = Status::Ok;
        QString reason; // what was wrong, when not Ok ("it holds a NUL byte at offset 12, ...")
    };

    // Fills doc from the file, or from a file's bytes.
    static Read load(const QString &path, IniDocument &doc);
    static Read parse(const QByteArray &bytes, IniDocument &doc);

    using Edit = std::function<void(IniDocument &)>;
    // The bytes a save makes of existing ones; false (with *error) when the existing bytes
    // cannot be read completely.
    static bool render(
        const QByteArray &existing, QByteArray *bytes, QString *error, const Edit &edit);
    // Applies the edit to the file; on failure returns false, sets *error (naming the file and
    // the reason) and leaves the old file as it was.
    static bool rewrite(const QString &path, QString *error, const Edit &edit);

    // Every value in file order, and a save that writes the given values into the file.
    static QList<IniValue> readValues(const QString &path, Read *read = nullptr);
    static bool saveValues(
        const QString &path, const QList<IniValue> &values, QString *error = nullptr);

    // Renames the file to path + ".bak-" + the date and time (and "-2", "-3", ... should that
    // name be taken), so that a file that could not be read completely is kept before a new one
    // is written. Returns the new path, or an empty text with *error set.
    static QString moveAside(const QString &path, const QDateTime &when, QString *error = nullptr);
};
