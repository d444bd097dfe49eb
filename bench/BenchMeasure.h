#pragma once

#include "CommandPacket.h"
#include "TKVCOMControl.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>

#include <algorithm>

// What the gateway benchmarks measure alike: medians, resident memory, and the link's own
// round trip, the floor every route through the gateway is compared against.
namespace bench {

inline double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const auto n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Resident memory in KiB of a process, or of this one when pid is 0.
inline long residentKiB(qint64 pid = 0)
{
    QFile status(
        pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// Routes output 2 to the next input over the link; the time in microseconds, or -1 when the
// switcher did not take it.
inline double linkRouteMicros(TKVCOMControl &link, int &input)
{
    input = input % 6 + 1;
    QElapsedTimer clock;
    clock.start();
    CommandResult result;
    link.ExecuteCommand(CommandPacket::make(0x02, 0x03, quint16(input), 2), result);
    return result.Success ? double(clock.nsecsElapsed()) / 1000.0 : -1;
}

} // namespace bench
