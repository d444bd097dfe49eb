#include "EdidFile.h"

#include "FileAccess.h"

#include <QDir>
#include <QFile>

namespace EdidFile {

ReadResult Read(const QString &path)
{
    ReadResult result;
    QFile file;
    const QString shown = QDir::toNativeSeparators(path);
    QString reason;
    if (!FileAccess::openForReading(file, path, &reason)) {
        result.error = QStringLiteral("Cannot open EDID file %1: %2").arg(shown, reason);
        return result;
    }
    // A file on a network share may deliver its bytes in pieces.
    while (result.bytes.size() < ReadLimit) {
        const QByteArray piece = file.read(ReadLimit - result.bytes.size());
        if (piece.isEmpty()) {
            if (file.error() != QFileDevice::NoError) {
                result.error
                    = QStringLiteral("Cannot read EDID file %1: %2").arg(shown, file.errorString());
                result.bytes.clear();
                return result;
            }
            break;
        }
        result.bytes += piece;
    }
    result.ok = true;
    return result;
}

QString saveName(const QString &chosen)
{
    const QString name = QFileInfo(chosen).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    if (extension.toUpper() == QLatin1String(".BIN"))
        return chosen;
    return chosen + QStringLiteral(".bin");
}

bool save(const QString &path, const QByteArray &bytes, QString *error)
{
    QString reason;
    if (FileAccess::writeFile(path, bytes, &reason))
        return true;
    if (error) {
        *error = QStringLiteral("Cannot save EDID file %1: %2")
                     .arg(QDir::toNativeSeparators(path), reason);
    }
    return false;
}

} // namespace EdidFile
