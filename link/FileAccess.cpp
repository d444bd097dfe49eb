#include "FileAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>

namespace FileAccess {

namespace {

bool fail(QString *reason, const QString &why)
{
    if (reason)
        *reason = why;
    return false;
}

#ifdef Q_OS_UNIX
QString kindReason(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    if (S_ISDIR(mode))
        return QStringLiteral("it is a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("it is a pipe, not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("it is a device, not a file");
    if (S_ISSOCK(mode))
        return QStringLiteral("it is a socket, not a file");
    return QStringLiteral("it is not a regular file");
}
#endif

} // namespace

QString notRegularReason(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st
    { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return kindReason(st.st_mode);
#else
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return {};
    return info.isDir() ? QStringLiteral("it is a folder")
                        : QStringLiteral("it is not a regular file");
#endif
}

bool openForReading(QFile &file, const QString &path, QString *reason)
{
    if (const QString why = notRegularReason(path); !why.isEmpty())
        return fail(reason, why);
#ifdef Q_OS_UNIX
    // Without O_NONBLOCK, a FIFO put in the file's place after the check above would block the
    // open until a writer comes; with it the open returns and the check below refuses it.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(reason, qt_error_string(errno));
    struct stat st
    { };
    QString why;
    if (::fstat(fd, &st) != 0)
        why = qt_error_string(errno);
    else
        why = kindReason(st.st_mode);
    if (why.isEmpty()) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0)
            why = qt_error_string(errno);
    }
    if (why.isEmpty() && !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        why = file.errorString();
    if (!why.isEmpty()) {
        ::close(fd);
        return fail(reason, why);
    }
    return true;
#else
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(reason, file.errorString());
    return true;
#endif
}

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
    if (const QString why = notRegularReason(path); !why.isEmpty())
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
