#include "TKVPing.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr quint8 EchoRequest = 8;
constexpr quint8 EchoReply = 0;
constexpr std::size_t HeaderSize = 8;
constexpr std::size_t PayloadSize = 16;

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) { }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool TKVPing::PingHost(const QString &address)
{
    m_lastMethod = Method::None;
    QHostAddress host;
    if (!host.setAddress(address) || host.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    const int bySocket = pingBySocket(host.toIPv4Address());
    if (bySocket >= 0) {
        m_lastMethod = Method::IcmpSocket;
        return bySocket == 1;
    }
    return pingByProgram(host.toString());
}

int TKVPing::pingBySocket(quint32 address)
{
    // The kernel fills in the identifier and the checksum of an ICMP datagram socket's echo
    // requests and passes it only the replies to them.
    const FileDescriptor fd(
        ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (fd.get() < 0)
        return -1;

    static quint16 sequence = 0;
    ++sequence;
    std::array<quint8, HeaderSize + PayloadSize> request{};
    request[0] = EchoRequest;
    request[6] = static_cast<quint8>(sequence >> 8);
    request[7] = static_cast<quint8>(sequence & 0xFF);
    std::memcpy(request.data() + HeaderSize, "matrix-ping-echo", PayloadSize);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    if (::sendto(fd.get(), request.data(), request.size(), 0, reinterpret_cast<sockaddr *>(&to),
            sizeof to)
        < 0)
        return 0; // no route, unreachable: no answer

    bool answered = false;
    QEventLoop loop;
    QSocketNotifier notifier(static_cast<qintptr>(fd.get()), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
        std::array<quint8, 1500> reply{};
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        for (;;) {
            const ssize_t n = ::recvfrom(fd.get(), reply.data(), reply.size(), 0,
                reinterpret_cast<sockaddr *>(&from), &fromSize);
            if (n < 0)
                break;
            if (static_cast<std::size_t>(n) >= HeaderSize && reply[0] == EchoReply
                && reply[6] == request[6] && reply[7] == request[7]
                && ntohl(from.sin_addr.s_addr) == address) {
                answered = true;
                loop.quit();
                return;
            }
        }
    });
    QTimer::singleShot(std::max(1, m_timeoutMs), &loop, &QEventLoop::quit);
    loop.exec();
    return answered ? 1 : 0;
}

bool TKVPing::pingByProgram(const QString &address)
{
    QProcess ping;
    const int seconds = std::max(1, (m_timeoutMs + 999) / 1000);
    QEventLoop loop;
    QObject::connect(&ping, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&ping, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    ping.start(m_program,
        {QStringLiteral("-n"), QStringLiteral("-q"), QStringLiteral("-c"), QStringLiteral("1"),
            QStringLiteral("-W"), QString::number(seconds), address});
    if (!ping.waitForStarted(m_timeoutMs + 1000))
        return false;
    m_lastMethod = Method::PingProgram;
    // The program has its own time-out; this one only guards against a hung program.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(seconds * 1000 + 2000);
    if (ping.state() != QProcess::NotRunning)
        loop.exec();
    if (ping.state() != QProcess::NotRunning) {
        ping.kill();
        ping.waitForFinished(1000);
        return false;
    }
    return ping.exitStatus() == QProcess::NormalExit && ping.exitCode() == 0;
}
