#include "IcmpEcho.h"

#include "EventWait.h"

#include <QSocketNotifier>

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

namespace IcmpEcho {

Result ping(quint32 address, int timeoutMs, const StopRequest *stop)
{
    // The kernel fills in the identifier and the checksum of an ICMP datagram socket's echo
    // requests and passes it only the replies to them.
    const FileDescriptor fd(
        ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (fd.get() < 0)
        return Result::NoSocket;

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
        return Result::NoAnswer; // no route, unreachable

    bool answered = false;
    EventWait wait(stop);
    QSocketNotifier notifier(static_cast<qintptr>(fd.get()), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &notifier, [&] {
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
                wait.wake();
                return;
            }
        }
    });
    wait.until([&answered] { return answered; }, std::max(1, timeoutMs));
    return answered ? Result::Answered : Result::NoAnswer;
}

QStringList programArguments(const QString &address, int timeoutMs)
{
    // iputils: -W is the reply time-out in whole seconds.
    const int seconds = std::max(1, (timeoutMs + 999) / 1000);
    return {QStringLiteral("-n"), QStringLiteral("-q"), QStringLiteral("-c"), QStringLiteral("1"),
        QStringLiteral("-W"), QString::number(seconds), address};
}

} // namespace IcmpEcho
