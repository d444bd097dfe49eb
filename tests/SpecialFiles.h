#pragma once

// FIFOs, device nodes and unreadable files, made in a test's own temporary folder (never in
// /dev), for the tests of how files the operator names are opened and written.
#include <QFile>
#include <QString>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

inline bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0666) == 0;
}

// A character device node with the numbers of the null (1, 3) or zero (1, 5) device: creating
// one needs root, which the suite has inside its namespace.
inline bool makeDeviceNode(const QString &path, unsigned minor = 3)
{
    return ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, minor)) == 0;
}

// The type bits of what stands at path (S_IFIFO, S_IFCHR, S_IFREG, ...), 0 when nothing does.
inline mode_t fileType(const QString &path)
{
    struct stat st
    { };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// Root opens every file whatever its permission bits. While this lives, the calling thread
// works without the two capabilities that allow that, so that a file of mode 000 is refused
// with "Permission denied" as it is for an operator. Everything a test opens runs on that
// thread.
class WithoutFileOverride final
{
public:
    WithoutFileOverride()
    {
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_active = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutFileOverride()
    {
        if (m_active)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    WithoutFileOverride(const WithoutFileOverride &) = delete;
    WithoutFileOverride &operator=(const WithoutFileOverride &) = delete;

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_active = false;
};
