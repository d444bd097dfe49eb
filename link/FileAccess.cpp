#include "FileAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>

namespace FileAccess {

namespace {

bool fail(QString *reason, const QString &why)
{
    if (reason)
        *reason = why;
    return false;
}

} // namespace

ReadResult readFile(const QString &path, qint64 maxSize)
{
    ReadResult result;
    QFile file;
    if (!openForReading(file, path, &result.reason))
        return result;
    // One byte past the limit tells a file that is too large without reading it to its end.
    while (result.bytes.size() <= maxSize) {
        const QByteArray piece = file.read(maxSize + 1 - result.bytes.size());
        if (piece.isEmpty()) {
            if (file.error() != QFileDevice::NoError) {
                result.reason = file.errorString();
                result.bytes.clear();
                return result;
            }
            break;
        }
        result.bytes += piece;
    }
    if (result.bytes.size() > maxSize) {
        result.reason = QStringLiteral("it is larger than %1 bytes").arg(maxSize);
        result.bytes.clear();
        return result;
    }
    result.ok = true;
    return result;
}

bool writeFile(const QString &path, QByteArrayView bytes, QString *reason)
{
    if (const QString why = notReplaceableReason(path); !why.isEmpty())
        return fail(reason, why + QStringLiteral("; it was left as it is"));
    // Unbuffered: a short write (disk full, file size limit) then shows in write()'s count.
    // Through the buffer it would only fail the flush inside commit(), which does not report it.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(reason, out.errorString());
    if (out.write(bytes.data(), bytes.size()) != bytes.size()) {
        const QString why = out.errorString();
        out.cancelWriting();
        return fail(reason, why);
    }
    if (!out.commit())
        return fail(reason, out.errorString());
    return true;
}

QString folderNotWritableReason(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return QFileInfo::exists(folder) ? QStringLiteral("it is not a folder")
                                         : QStringLiteral("it does not exist");
    QString name;
    do {
        name = QDir(folder).filePath(
            QStringLiteral("probe-%1.tmp")
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
    } while (QFileInfo::exists(name) || QFileInfo(name).isSymLink());
    QFile probe(name);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return probe.errorString();
    probe.close();
    probe.remove();
    return {};
}

QStringList removeLeftoverSaves(const QString &path)
{
    const QFileInfo target(path);
    const QString prefix = target.fileName() + QLatin1Char('.');
    const auto isLetter
        = [](QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    QStringList removed;
    const QFileInfoList entries = target.dir().entryInfoList(
        QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (name.size() != prefix.size() + 6 || !name.startsWith(prefix)
            || !std::all_of(name.cbegin() + prefix.size(), name.cend(), isLetter))
            continue;
        if (!notRegularReason(entry.filePath()).isEmpty())
            continue;
        if (QFile::remove(entry.filePath()))
            removed.append(entry.filePath());
    }
    return removed;
}

} // namespace FileAccess
