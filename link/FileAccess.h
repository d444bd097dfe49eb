#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

class QFile;

// Files the operator names (EDID files, firmware images and packages, Settings.ini) are read and
// written only through these helpers, so that every one of them follows the same two rules:
//
// - Only regular files are opened. A folder, a FIFO, a device node or a socket is refused with
//   a reason before it is opened: a FIFO without a writer would block the open, and a device such
//   as /dev/zero never ends. Every read is bounded by the largest file its format allows.
// - An existing path that is not a regular file is never written: it is refused and left exactly
//   as it is. Writing through was the other choice; it would block on a FIFO without a reader and
//   fill a device, and no save of ours has a use for either. Regular files and new names are
//   replaced atomically (QSaveFile): the old content stays until the new one is complete.
//   Symbolic links are followed, so the file a link names is the one checked and written.
//   Neither is a file replaced that belongs to another user or has more than one hard link:
//   the new file would belong to us, and the other names would keep the old content.
// - A path the system cannot even look at (a symbolic link loop, a folder on the way that may
//   not be searched) is refused with the system's reason; only "does not exist" is a new name.
//
// The kind checks are the system's (FileAccessPosix.cpp); where it cannot tell a FIFO or a
// device from a file (FileAccessPortable.cpp), only folders are refused before the open.
//
// Reasons are short sentences without the path ("it is a pipe, not a file", "Permission
// denied"); the caller names the file.
namespace FileAccess {

// Why the path cannot be opened as a regular file, or an empty text when it can be (or does
// not exist, which the open then reports).
QString notRegularReason(const QString &path);
// Why a save may not replace what the path names, or an empty text when it may (or the path
// is a new name).
QString notReplaceableReason(const QString &path);

// Opens a regular file for reading (unbuffered is not needed: reads are bounded by callers).
// False with *reason set for anything else, or when the system refuses the open.
bool openForReading(QFile &file, const QString &path, QString *reason);

struct ReadResult
{
    bool ok = false;
    QByteArray bytes; // the whole file when ok
    QString reason; // why not, when not ok
};

// Reads a whole regular file of at most maxSize bytes; a larger one is refused without being
// read to its end.
ReadResult readFile(const QString &path, qint64 maxSize);

// Writes the bytes as the file's whole content (rules above). False with *reason set when the
// path is refused or the write fails; an existing file is then as it was.
bool writeFile(const QString &path, QByteArrayView bytes, QString *reason);

// Why files cannot be made in the folder, or an empty text when they can: a probe file of a
// random name is created there and removed again. A missing folder is not made.
QString folderNotWritableReason(const QString &folder);

// A save killed after its temporary file got a name and before the rename leaves that file
// beside the target: the target's name, a dot and six letters (QSaveFile's pattern). Removes
// such regular files and returns their paths.
QStringList removeLeftoverSaves(const QString &path);

} // namespace FileAccess
