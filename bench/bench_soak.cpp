// Soak: matrix-sim, a process of its own, serves parallel clients over loopback TCP for a
// fixed count of commands. Each client is a link of its own on a thread of its own and opens
// a fresh connection every few commands, as scripts calling matrixctl do. Reports the failed
// commands and the simulator's resident memory after a warm-up and at the end.
//
//   bench_soak [--clients N] [--count N] [--per-connection N] [--max-growth X]
// Exit status 1 when a command failed or the memory at the end exceeds the warm-up figure
// times X (default 1.1).

#include "TKVCOMControl.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Resident memory of a process in KiB (0 when it cannot be read).
qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

struct Tally
{
    std::atomic<int> done{0};
    std::atomic<int> failed{0};
};

// One client's share: connections of `perConnection` commands each. The commands are
// read-only, so that every answer is known although the clients run side by side: the
// switcher's size, output n's route (input n, as nobody switches), and now and then output 1's
// EDID, which
// must come back the same each time. (All read output 1: a block request does not name its
// output, so the switcher sends the blocks of the output last asked for, by any client.)
void runClient(quint16 port, int index, int count, int perConnection, Tally &tally)
{
    TKVCOMControl link;
    link.setDeviceIP(QStringLiteral("127.0.0.1"));
    link.setTcpPort(port);
    const quint16 output = static_cast<quint16>(index % 6 + 1);
    QByteArray edid;
    int left = count;
    while (left > 0) {
        if (!link.Connect()) {
            std::fprintf(stderr, "client %d: connect failed\n", index);
            tally.failed += left;
            return;
        }
        for (int i = 0; i < perConnection && left > 0; ++i, --left) {
            CommandResult result;
            bool good = false;
            switch ((count - left) % 10) {
            case 0:
            case 5:
                link.ExecuteCommand(CommandPacket::make(0x01, 0x02, 0x00FE), result);
                good = result.Success && result.reply.answer() == 6;
                break;
            case 9:
                link.ReadEDIDBlocks(CommandPacket::make(0x03, 0x05, 0xF001), result);
                if (edid.isEmpty() && result.Success)
                    edid = link.EDIDReadStream();
                good = result.Success && link.EDIDReadStream() == edid;
                break;
            default:
                link.ExecuteCommand(CommandPacket::make(0x02, 0x01, output), result);
                good = result.Success && result.reply.answer() == output;
                break;
            }
            ++tally.done;
            // The first few failures are shown with the reply that was taken.
            if (!good && ++tally.failed <= 10)
                std::fprintf(stderr, "client %d: %s reply %s\n", index,
                    result.Success ? "wrong" : "no good",
                    result.reply.toByteArray().toHex(' ').constData());
        }
        link.Disconnect();
    }
}

// Runs the clients side by side until each has done its share.
void runClients(quint16 port, int clients, int count, int perConnection, Tally &tally)
{
    std::vector<std::unique_ptr<QThread>> threads;
    for (int c = 0; c < clients; ++c) {
        const int share = count / clients + (c < count % clients ? 1 : 0);
        threads.emplace_back(
            QThread::create([=, &tally] { runClient(port, c, share, perConnection, tally); }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        thread->wait();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({
        {QStringLiteral("clients"), QStringLiteral("Parallel clients (10)."), QStringLiteral("n"),
            QStringLiteral("10")},
        {QStringLiteral("count"), QStringLiteral("Commands in all (100000)."), QStringLiteral("n"),
            QStringLiteral("100000")},
        {QStringLiteral("per-connection"), QStringLiteral("Commands per connection (20)."),
            QStringLiteral("n"), QStringLiteral("20")},
        {QStringLiteral("max-growth"),
            QStringLiteral("Largest end/warm-up memory ratio accepted (1.1)."), QStringLiteral("x"),
            QStringLiteral("1.1")},
    });
    parser.process(app);
    const int clients = std::max(1, parser.value(QStringLiteral("clients")).toInt());
    const int count = std::max(clients, parser.value(QStringLiteral("count")).toInt());
    const int perConnection = std::max(1, parser.value(QStringLiteral("per-connection")).toInt());
    const double maxGrowth = parser.value(QStringLiteral("max-growth")).toDouble();

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(MATRIX_SIM_PATH), {QStringLiteral("--tcp-port"), QStringLiteral("0")});
    quint16 port = 0;
    QElapsedTimer clock;
    clock.start();
    while (port == 0 && sim.waitForReadyRead(10000) && clock.elapsed() < 10000) {
        while (sim.canReadLine()) {
            const QByteArray line = sim.readLine().trimmed();
            if (line.startsWith("TCP "))
                port = static_cast<quint16>(line.mid(line.lastIndexOf(':') + 1).toUInt());
        }
    }
    if (port == 0) {
        std::fprintf(stderr, "bench_soak: matrix-sim did not start\n");
        return 1;
    }

    // A warm-up that every client takes part in: buffers, allocator arenas and the request
    // history reach their working size, so what follows shows only growth.
    Tally warmUp;
    runClients(port, clients, std::max(count / 10, clients * perConnection), perConnection, warmUp);
    const qint64 start = residentKiB(sim.processId());

    Tally tally;
    clock.restart();
    runClients(port, clients, count, perConnection, tally);
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    const qint64 end = residentKiB(sim.processId());

    sim.terminate();
    sim.waitForFinished(5000);

    const double growth = start > 0 ? static_cast<double>(end) / static_cast<double>(start) : 0;
    std::printf("soak: %d clients, %d commands, %d per connection, %.1f s\n", clients,
        tally.done.load(), perConnection, seconds);
    std::printf("failures: %d (warm-up %d)\n", tally.failed.load(), warmUp.failed.load());
    std::printf("matrix-sim memory: %lld KiB after warm-up, %lld KiB at the end, ratio %.3f "
                "(at most %.2f)\n",
        static_cast<long long>(start), static_cast<long long>(end), growth, maxGrowth);
    const bool ok = tally.failed == 0 && warmUp.failed == 0 && start > 0 && growth <= maxGrowth;
    return ok ? 0 : 1;
}
