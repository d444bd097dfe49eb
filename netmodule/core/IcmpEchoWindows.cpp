#include "IcmpEcho.h"

#include <algorithm>

// Windows has no ICMP datagram socket; its ping program answers for the check.
namespace IcmpEcho {

Result ping(quint32, int, const StopRequest *)
{
    return Result::NoSocket;
}

QStringList programArguments(const QString &address, int timeoutMs)
{
    // -n is the echo count here, -w the reply time-out in milliseconds.
    return {QStringLiteral("-n"), QStringLiteral("1"), QStringLiteral("-w"),
        QString::number(std::max(1, timeoutMs)), address};
}

} // namespace IcmpEcho
