#include "FileAccess.h"

#include <QFile>
#include <QFileInfo>

// The file kind checks with what Qt tells on every system: a folder, a regular file, or
// something else.
namespace FileAccess {

QString notRegularReason(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return {};
    return info.isDir() ? QStringLiteral("it is a folder")
                        : QStringLiteral("it is not a regular file");
}

QString notReplaceableReason(const QString &path)
{
    return notRegularReason(path);
}

bool openForReading(QFile &file, const QString &path, QString *reason)
{
    QString why = notRegularReason(path);
    if (why.isEmpty()) {
        file.setFileName(path);
        if (file.open(QIODevice::ReadOnly))
            return true;
        why = file.errorString();
    }
    if (reason)
        *reason = why;
    return false;
}

} // namespace FileAccess
