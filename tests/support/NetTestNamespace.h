#pragma once

// Network namespaces for the datagram tests. Each test program moves itself into a network
// namespace of its own before any test runs (root only; otherwise the network tests skip),
// so nothing it sends can leave it, and suites running side by side never meet. A second,
// peer namespace joined by a veth pair plays the LAN with the switchers on it:
//
//   this program  mxpc 10.200.0.1/24, default route  <-veth->  mxsim 10.200.0.2 and .3/24  peer
//
// Sockets and programs are put into the peer namespace by creating them while the calling
// thread has joined it for a moment (PeerNamespace::inside). Nothing here has a global name:
// both namespaces end with this program.

#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

// Why the network tests skip; empty when the program is in its private namespace.
extern QString g_netSkip;

namespace nettest {

inline const QString PcAddress = QStringLiteral("10.200.0.1");
inline const QString PeerAddress = QStringLiteral("10.200.0.2");
inline const QString PeerAddress2 = QStringLiteral("10.200.0.3");
inline const QString NobodyAddress = QStringLiteral("10.200.0.77"); // on the LAN, unused
inline const QString UnreachableAddress = QStringLiteral("10.99.0.1"); // routed nowhere

// Runs a command and waits for it; false with its output in *why when it fails.
inline bool run(const QStringList &command, QString *why)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(command.first(), command.mid(1));
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *why = command.join(QLatin1Char(' ')) + QLatin1String(": ")
            + QString::fromLocal8Bit(p.readAll()).trimmed() + p.errorString();
        return false;
    }
    return true;
}

inline QString errnoText(const char *what)
{
    return QLatin1String(what) + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

// Moves this program into a network namespace of its own with loopback up. Call at the top
// of main(), before any thread exists: a namespace change holds for the calling thread and
// the threads it starts later. Returns "" when the program is now in a private namespace with
// nothing but loopback, else why the network tests must skip.
inline QString enterPrivateNetwork()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root to make a private network namespace");
    if (::unshare(CLONE_NEWNET) != 0)
        return errnoText("unshare(CLONE_NEWNET)");
    QString why;
    if (!run(QStringLiteral("ip link set lo up").split(QLatin1Char(' ')), &why))
        return why;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        if (!iface.flags().testFlag(QNetworkInterface::IsLoopBack))
            return QLatin1String("unexpected interface ") + iface.name()
                + QLatin1String(" in the private namespace");
    }
    return {};
}

// The peer namespace and the veth pair to it.
class PeerNamespace
{
public:
    PeerNamespace() = default;
    PeerNamespace(const PeerNamespace &) = delete;
    PeerNamespace &operator=(const PeerNamespace &) = delete;
    ~PeerNamespace()
    {
        for (int fd : {m_home, m_peer}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    // "" when the LAN is up, else why not.
    QString create()
    {
        m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (m_home < 0)
            return errnoText("open home namespace");
        if (::unshare(CLONE_NEWNET) != 0)
            return errnoText("unshare(CLONE_NEWNET)");
        m_peer = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (::setns(m_home, CLONE_NEWNET) != 0 || m_peer < 0)
            return errnoText("back to the home namespace");

        const QString peerPath = QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(m_peer);
        const QStringList home{
            QStringLiteral("ip link add mxpc type veth peer name mxsim netns ") + peerPath,
            QStringLiteral("ip addr add %1/24 brd + dev mxpc").arg(PcAddress),
            QStringLiteral("ip link set mxpc up"),
            QStringLiteral("ip route add default dev mxpc"),
            QStringLiteral("ip route add unreachable 10.99.0.0/16"),
        };
        const QStringList peer{
            QStringLiteral("ip link set lo up"),
            QStringLiteral("ip addr add %1/24 brd + dev mxsim").arg(PeerAddress),
            QStringLiteral("ip addr add %1/24 dev mxsim").arg(PeerAddress2),
            QStringLiteral("ip link set mxsim up"),
            QStringLiteral("ip route add default dev mxsim"),
        };
        QString why;
        for (const QString &command : home) {
            if (!run(command.split(QLatin1Char(' ')), &why))
                return why;
        }
        inside([&] {
            for (const QString &command : peer) {
                if (!run(command.split(QLatin1Char(' ')), &why))
                    return;
            }
        });
        return why;
    }

    // Runs f with this thread in the peer namespace: sockets it opens and programs it starts
    // live there.
    template<typename F>
    void inside(F f)
    {
        if (::setns(m_peer, CLONE_NEWNET) != 0)
            qFatal("cannot join the peer namespace: %s", std::strerror(errno));
        f();
        if (::setns(m_home, CLONE_NEWNET) != 0)
            qFatal("cannot return to the home namespace: %s", std::strerror(errno));
    }

private:
    int m_home = -1;
    int m_peer = -1;
};

// While it lives, the namespace has no default route: 255.255.255.255 cannot be sent then, while
// a subnet's broadcast still can. ok() says whether the route could be taken away.
class WithoutDefaultRoute final
{
public:
    WithoutDefaultRoute()
    {
        m_ok = run(QStringLiteral("ip route del default").split(u' '), &m_why);
    }
    ~WithoutDefaultRoute()
    {
        QString ignored;
        if (m_ok)
            run(QStringLiteral("ip route add default dev mxpc").split(u' '), &ignored);
    }
    WithoutDefaultRoute(const WithoutDefaultRoute &) = delete;
    WithoutDefaultRoute &operator=(const WithoutDefaultRoute &) = delete;
    bool ok() const { return m_ok; }
    QString why() const { return m_why; }

private:
    QString m_why;
    bool m_ok = false;
};

} // namespace nettest

// main() for a suite that needs the namespaces: the reason to skip is in g_netSkip.
#define NETTEST_MAIN(TestClass)                                                                    \
    QString g_netSkip;                                                                             \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QCoreApplication app(argc, argv);                                                          \
        g_netSkip = nettest::enterPrivateNetwork();                                                \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
