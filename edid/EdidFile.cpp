#include "EdidFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace EdidFile {

ReadResult Read(const QString &path)
{
    ReadResult result;
    QFile file(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (QFileInfo(path).isDir()) {
        result.error = QStringLiteral("Cannot open EDID file %1: it is a folder").arg(shown);
        return result;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        result.error
            = QStringLiteral("Cannot open EDID file %1: %2").arg(shown, file.errorString());
        return result;
    }
    // A pipe or a device may deliver its bytes in pieces.
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

QString SaveName(const QString &chosen)
{
    const QString name = QFileInfo(chosen).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    if (extension.toUpper() == QLatin1String(".BIN"))
        return chosen;
    return chosen + QStringLiteral(".bin");
}

bool Save(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    // The explicit flush matters: commit() does not see an error that only shows when the
    // buffered bytes reach the disk, and would put the short file in place of the old one.
    const bool saved = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()
        && file.flush() && file.commit();
    if (!saved) {
        if (error) {
            *error = QStringLiteral("Cannot save EDID file %1: %2")
                         .arg(QDir::toNativeSeparators(path), file.errorString());
        }
        file.cancelWriting();
    }
    return saved;
}

} // namespace EdidFile
