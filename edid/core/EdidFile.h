#pragma once

#include <QByteArray>
#include <QString>

// The .bin EDID file: as written, exactly the 256 bytes of the block; as accepted when
// opened, 256 or 257 bytes that pass the content checks (EdidContent.h).
namespace EdidFile {

// One byte more than the largest acceptable file: enough to know a file is too large
// without reading it whole.
constexpr qint64 ReadLimit = 258;

struct ReadResult
{
    bool ok = false; // the file could be opened and read
    QByteArray bytes; // its first ReadLimit bytes at most
    QString error; // names the file and the reason when not ok
};

// Reads an EDID file for checking. A file that cannot be opened or read, and anything that is
// not a regular file (a folder, a FIFO, a device), is an error naming the file and the reason;
// a larger file gives only its first ReadLimit bytes, so the size check refuses it.
ReadResult Read(const QString &path);

// The name a chosen save name becomes: ".bin" is appended unless the name already ends in
// ".bin" in any letter case ("x" -> "x.bin", "x.BIN" stays, "x.bin.bak" -> "x.bin.bak.bin").
QString saveName(const QString &chosen);

// Writes the bytes as the file's whole content (FileAccess::writeFile). The file is replaced
// only once everything is written, so a failed save leaves an existing file as it was; a path
// that is a device, a FIFO or a folder is refused and left as it is. On failure the reason,
// naming the file, goes to *error.
bool save(const QString &path, const QByteArray &bytes, QString *error);

} // namespace EdidFile
