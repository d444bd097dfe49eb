#include "FileAccess.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The file kind checks where the system tells a FIFO, a device and a socket apart.
namespace FileAccess {

namespace {

bool fail(QString *reason, const QString &why)
{
    if (reason)
        *reason = why;
    return false;
}

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

} // namespace

QString notRegularReason(const QString &path)
{
    struct stat st
    { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? QString() : qt_error_string(errno);
    return kindReason(st.st_mode);
}

QString notReplaceableReason(const QString &path)
{
    struct stat st
    { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? QString() : qt_error_string(errno);
    if (const QString why = kindReason(st.st_mode); !why.isEmpty())
        return why;
    // A replaced file is a new file: it would belong to us, not to its owner, and a hard link
    // would go on naming the old content.
    if (st.st_uid != ::geteuid())
        return QStringLiteral("it belongs to another user");
    if (st.st_nlink > 1)
        return QStringLiteral("it has more than one hard link");
    return {};
}

bool openForReading(QFile &file, const QString &path, QString *reason)
{
    if (const QString why = notRegularReason(path); !why.isEmpty())
        return fail(reason, why);
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
}

} // namespace FileAccess
