#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class StopRequest;

// The system's side of the reachability check, one file per platform: an ICMP echo over an
// unprivileged datagram socket where the system offers one, and the command line of the
// system's ping program, which answers where it does not.
namespace IcmpEcho {

enum class Result {
    NoSocket, // the system gives no ICMP datagram socket: ask the ping program
    NoAnswer,
    Answered,
};

// One echo request to the IPv4 address (host order); the wait for its reply runs a local
// event loop for at most timeoutMs, and a stop request (when given) ends it at once.
Result ping(quint32 address, int timeoutMs, const StopRequest *stop);

// The ping program's arguments for one quiet, numeric echo to the address that waits at most
// timeoutMs (rounded up to whole seconds where the program counts in seconds).
QStringList programArguments(const QString &address, int timeoutMs);

} // namespace IcmpEcho
