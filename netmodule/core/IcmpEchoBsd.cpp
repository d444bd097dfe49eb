#include "IcmpEcho.h"

#include <algorithm>

// macOS and the BSDs: the ping program answers for the check. Their ICMP datagram sockets
// hand over replies with the IP header and without the kernel's filtering by identifier, so
// the Linux piece does not fit them.
namespace IcmpEcho {

Result ping(quint32, int, const StopRequest *)
{
    return Result::NoSocket;
}

QStringList programArguments(const QString &address, int timeoutMs)
{
    // -t is the program's whole time-out in seconds here (-W would be milliseconds).
    const int seconds = std::max(1, (timeoutMs + 999) / 1000);
    return {QStringLiteral("-n"), QStringLiteral("-q"), QStringLiteral("-c"), QStringLiteral("1"),
        QStringLiteral("-t"), QString::number(seconds), address};
}

} // namespace IcmpEcho
