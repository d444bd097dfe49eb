// Round trip of one transaction through the link against the simulated switcher, compared
// with the plainest possible client doing the same 13-byte exchange with the same switcher:
// over loopback TCP, and over a pseudo terminal. Prints medians and their ratio.
//
//   bench_transaction [--rounds R] [--count N] [--max-ratio X]
// With --max-ratio the exit status is 1 when a median ratio exceeds X.

#include "SimulatorServer.h"
#include "TKVCOMControl.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const auto n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Microseconds per operation over count operations.
double measure(int count, const std::function<bool()> &operation)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        if (!operation()) {
            std::fprintf(stderr, "operation failed\n");
            std::exit(1);
        }
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1000.0 / count;
}

const QByteArray Request = CommandPacket::make(0x02, 0x01, 3).toByteArray();

bool rawExchange(QIODevice &device, const std::function<bool()> &waitForData)
{
    device.write(Request);
    qint64 got = 0;
    char reply[13];
    while (got < 13) {
        if (!device.bytesAvailable() && !waitForData())
            return false;
        got += device.read(reply + got, 13 - got);
    }
    return true;
}

struct Result
{
    QString transport;
    double floor;
    double link;
};

Result run(const QString &name, int rounds, int count, const std::function<double(int)> &floor,
    const std::function<double(int)> &link)
{
    QList<double> floors, links, ratios;
    floor(count / 10); // warm up
    link(count / 10);
    for (int r = 0; r < rounds; ++r) {
        const double f = floor(count);
        const double l = link(count);
        floors.append(f);
        links.append(l);
        ratios.append(l / f);
    }
    const Result result{name, median(floors), median(links)};
    std::printf("%-4s floor %8.1f us   link %8.1f us   ratio %.2f (median of %d rounds, "
                "%d round trips each)\n",
        qPrintable(name), result.floor, result.link, median(ratios), rounds, count);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("Rounds."),
        QStringLiteral("R"), QStringLiteral("7"));
    const QCommandLineOption countOption(QStringLiteral("count"),
        QStringLiteral("Round trips per round."), QStringLiteral("N"), QStringLiteral("2000"));
    const QCommandLineOption maxRatioOption(QStringLiteral("max-ratio"),
        QStringLiteral("Fail above this median ratio."), QStringLiteral("X"));
    parser.addOptions({roundsOption, countOption, maxRatioOption});
    parser.process(app);
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    const int count = std::max(10, parser.value(countOption).toInt());

    // The switcher runs on its own thread, as a separate device would.
    QThread simThread;
    QObject anchor;
    anchor.moveToThread(&simThread);
    simThread.start();
    SimulatorServer *sim = nullptr;
    quint16 port = 0;
    QString pty;
    QMetaObject::invokeMethod(
        &anchor,
        [&] {
            sim = new SimulatorServer;
            sim->listenTcp(QHostAddress::LocalHost, 0);
            port = sim->tcpPort();
            pty = sim->openPty();
        },
        Qt::BlockingQueuedConnection);
    if (!port || pty.isEmpty()) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }

    QList<Result> results;

    // TCP
    {
        QTcpSocket raw;
        raw.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        raw.connectToHost(QHostAddress::LocalHost, port);
        raw.waitForConnected(3000);
        TKVCOMControl link;
        // A receiver as the window has one, so that traces and dumps are built.
        QObject::connect(&link, &TKVCOMControl::notification, &link, [](const LinkNotice &) {});
        link.setDeviceIP(QStringLiteral("127.0.0.1"));
        link.setTcpPort(port);
        if (!link.Connect())
            return 1;
        results.append(run(
            QStringLiteral("TCP"), rounds, count,
            [&](int n) {
                return measure(n,
                    [&] { return rawExchange(raw, [&] { return raw.waitForReadyRead(3000); }); });
            },
            [&](int n) {
                return measure(n, [&] {
                    CommandResult result;
                    link.ExecuteCommand(CommandPacket::make(0x02, 0x01, 3), result);
                    return result.Success;
                });
            }));
    }

    // Pseudo terminal (only one opener at a time: the port takes a lock)
    {
        const auto rawOpen = [&](QSerialPort &port) {
            port.setPortName(pty);
            return port.open(QIODevice::ReadWrite);
        };
        TKVCOMControl link;
        QObject::connect(&link, &TKVCOMControl::notification, &link, [](const LinkNotice &) {});
        link.setControlMode(cmCOM);
        link.setComPort(pty);
        results.append(run(
            QStringLiteral("PTY"), rounds, count / 4,
            [&](int n) {
                link.Disconnect();
                QSerialPort raw;
                if (!rawOpen(raw))
                    return 1e9;
                return measure(n,
                    [&] { return rawExchange(raw, [&] { return raw.waitForReadyRead(3000); }); });
            },
            [&](int n) {
                if (!link.Connect())
                    return 1e9;
                return measure(n, [&] {
                    CommandResult result;
                    link.ExecuteCommand(CommandPacket::make(0x02, 0x01, 3), result);
                    return result.Success;
                });
            }));
    }

    QMetaObject::invokeMethod(
        &anchor, [&] { delete sim; }, Qt::BlockingQueuedConnection);
    simThread.quit();
    simThread.wait();

    if (parser.isSet(maxRatioOption)) {
        const double limit = parser.value(maxRatioOption).toDouble();
        for (const Result &r : std::as_const(results)) {
            if (r.link / r.floor > limit) {
                std::printf("%s ratio above %.2f\n", qPrintable(r.transport), limit);
                return 1;
            }
        }
    }
    return 0;
}
