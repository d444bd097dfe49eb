#include "SimPty.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(
        QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

SimPty::SimPty(QObject *parent) : QObject(parent) { }

SimPty::~SimPty()
{
    close();
}

bool SimPty::open(const QString &symlinkPath, QString *error)
{
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        close();
        return false;
    };

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail(systemError("posix_openpt"));
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail(systemError("unlockpt"));
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail(systemError("ptsname_r"));
    m_slavePath = QString::fromLocal8Bit(name);

    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail(systemError("open slave"));
    termios tio{};
    if (::tcgetattr(m_slave, &tio) != 0)
        return fail(systemError("tcgetattr"));
    // Raw: an echo would send our replies straight back to us as requests.
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B57600);
    ::cfsetospeed(&tio, B57600);
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0)
        return fail(systemError("tcsetattr"));

    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0
        || ::fcntl(m_master, F_SETFD, FD_CLOEXEC) != 0)
        return fail(systemError("fcntl"));

    if (!symlinkPath.isEmpty()) {
        const QFileInfo existing(symlinkPath);
        if (existing.isSymLink())
            QFile::remove(symlinkPath);
        if (!QFile::link(m_slavePath, symlinkPath))
            return fail(QStringLiteral("cannot create link %1").arg(symlinkPath));
        m_symlinkPath = symlinkPath;
    }

    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SimPty::readMaster);
    return true;
}

void SimPty::readMaster()
{
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // Cannot happen while our slave descriptor is open; stop rather than spin.
            qWarning("matrix-sim: pty %s: %s", qPrintable(m_slavePath), std::strerror(errno));
            m_notifier->setEnabled(false);
        }
        break;
    }
    if (!bytes.isEmpty())
        Q_EMIT received(bytes);
}

void SimPty::write(const QByteArray &bytes)
{
    if (m_master < 0)
        return;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(
            m_master, bytes.constData() + at, static_cast<std::size_t>(bytes.size() - at));
        if (n > 0)
            at += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return;
    }
}

void SimPty::close()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (!m_symlinkPath.isEmpty()) {
        // Only our own link: someone may have replaced it meanwhile.
        if (QFileInfo(m_symlinkPath).symLinkTarget() == m_slavePath)
            QFile::remove(m_symlinkPath);
        m_symlinkPath.clear();
    }
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
}
