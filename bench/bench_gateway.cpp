// The gateway's feedback latency: a route requested by one router panel, from the request to
// the moment all N connected panels hold the update, against the link's own round trip to the
// same simulated switcher in the same run. Then the process's memory after many requests
// against its memory at the start. The switcher and the panels each run on a thread of their
// own, as separate devices and computers would.
//
//   bench_gateway [--clients N] [--rounds R] [--requests M] [--max-ratio X]
// With --max-ratio the exit status is 1 when the median ratio exceeds X or memory grows by
// more than 10 %.

#include "BenchMeasure.h"
#include "Gateway.h"
#include "SimulatorThread.h"
#include "TKVCOMControl.h"
#include "VideohubServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// N panels on their own thread. route() sends a route from panel 0 and reports, on the main
// thread, how long it took until every panel had received that route's update.
class PanelFarm final : public QObject
{
    Q_OBJECT
public:
    void open(quint16 port, int count)
    {
        for (int k = 0; k < count; ++k) {
            auto *socket = new QTcpSocket(this);
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            m_sockets.push_back(socket);
            m_buffers.emplace_back();
            connect(socket, &QTcpSocket::readyRead, this, [this, k] { onRead(k); });
            socket->connectToHost(QHostAddress::LocalHost, port);
        }
        m_expected = "END PRELUDE:\n\n";
        m_waiting = count;
    }
    bool allReady() const { return m_waiting == 0; }

    Q_INVOKABLE void route(int input)
    {
        m_expected = "VIDEO OUTPUT ROUTING:\n0 " + QByteArray::number(input) + "\n\n";
        m_waiting = int(m_sockets.size());
        for (QByteArray &buffer : m_buffers)
            buffer.clear();
        m_clock.start();
        m_sockets.front()->write("VIDEO OUTPUT ROUTING:\n0 " + QByteArray::number(input) + "\n\n");
    }

Q_SIGNALS:
    void delivered(double microseconds);
    void ready();

private:
    void onRead(int k)
    {
        QByteArray &buffer = m_buffers[std::size_t(k)];
        buffer += m_sockets[std::size_t(k)]->readAll();
        if (m_waiting == 0 || buffer.isEmpty())
            return;
        if (buffer.contains(m_expected)) {
            buffer.clear();
            if (--m_waiting == 0) {
                if (m_expected.startsWith("END PRELUDE"))
                    Q_EMIT ready();
                else
                    Q_EMIT delivered(double(m_clock.nsecsElapsed()) / 1000.0);
            }
        }
    }

    std::vector<QTcpSocket *> m_sockets;
    std::vector<QByteArray> m_buffers;
    QByteArray m_expected;
    int m_waiting = 0;
    QElapsedTimer m_clock;
};

// The plainest server that does the same fan-out: whatever block a client sends goes to every
// client at once. Panels routed through it show what reaching N sockets costs by itself.
class RawHub final : public QObject
{
public:
    bool listen()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                m_sockets.push_back(socket);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    m_pending += socket->readAll();
                    if (!m_pending.endsWith("\n\n"))
                        return;
                    for (QTcpSocket *client : m_sockets) {
                        client->write(m_pending);
                        client->flush();
                    }
                    m_pending.clear();
                });
                socket->write("END PRELUDE:\n\n");
            }
        });
        return m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
    std::vector<QTcpSocket *> m_sockets;
    QByteArray m_pending;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption clientsOption(QStringLiteral("clients"),
        QStringLiteral("Connected panels."), QStringLiteral("N"), QStringLiteral("50"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
        QStringLiteral("Timed routes of each kind."), QStringLiteral("R"), QStringLiteral("300"));
    const QCommandLineOption requestsOption(QStringLiteral("requests"),
        QStringLiteral("Requests between the two memory readings."), QStringLiteral("M"),
        QStringLiteral("10000"));
    const QCommandLineOption maxRatioOption(QStringLiteral("max-ratio"),
        QStringLiteral("Fail above this median ratio."), QStringLiteral("X"));
    parser.addOptions({clientsOption, roundsOption, requestsOption, maxRatioOption});
    parser.process(app);
    const int clients = std::max(1, parser.value(clientsOption).toInt());
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    const int requests = std::max(1, parser.value(requestsOption).toInt());
    QLoggingCategory::setFilterRules(QStringLiteral("matrix.*=false"));

    SimulatorThread sim;
    const quint16 simPort = sim.port();
    if (!simPort) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }

    GatewayConfig config;
    config.target = GatewayConfig::Target::Tcp;
    config.host = QStringLiteral("127.0.0.1");
    config.tcpPort = simPort;
    config.pollMs = 0; // the poll's reads would only add noise to both sides
    Gateway gateway(config);
    VideohubServer::Limits limits;
    limits.maxClients = clients + 1;
    VideohubServer server(gateway, ClientPolicy{}, QStringLiteral("000000000000"), limits);
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    gateway.start();
    QEventLoop wait;
    QTimer::singleShot(10000, &wait, &QEventLoop::quit);
    QObject::connect(&gateway, &Gateway::presentChanged, &wait, &QEventLoop::quit);
    if (!gateway.state().present)
        wait.exec();
    if (!gateway.state().present) {
        std::fprintf(stderr, "gateway did not reach the switcher\n");
        return 1;
    }

    QThread panelThread;
    auto *farm = new PanelFarm;
    farm->moveToThread(&panelThread);
    panelThread.start();
    double lastDelivery = 0;
    QEventLoop delivered;
    QObject::connect(farm, &PanelFarm::delivered, &delivered, [&](double us) {
        lastDelivery = us;
        delivered.quit();
    });
    QObject::connect(farm, &PanelFarm::ready, &delivered, &QEventLoop::quit);
    QMetaObject::invokeMethod(farm, [&] { farm->open(server.port(), clients); });
    delivered.exec();

    RawHub hub;
    if (!hub.listen())
        return 1;
    auto *rawFarm = new PanelFarm;
    rawFarm->moveToThread(&panelThread);
    QObject::connect(rawFarm, &PanelFarm::delivered, &delivered, [&](double us) {
        lastDelivery = us;
        delivered.quit();
    });
    QObject::connect(rawFarm, &PanelFarm::ready, &delivered, &QEventLoop::quit);
    QMetaObject::invokeMethod(rawFarm, [&] { rawFarm->open(hub.port(), clients); });
    delivered.exec();

    // The link's own round trip: a second connection to the same switcher.
    TKVCOMControl link;
    link.setDeviceIP(QStringLiteral("127.0.0.1"));
    link.setTcpPort(simPort);
    if (!link.Connect())
        return 1;

    // The panels route output 1 and the link output 2, so that every route through the
    // gateway is a change it tells (the gateway does not poll here).
    int panelInput = 0;
    int linkInput = 0;
    auto routeThroughGateway = [&] {
        panelInput = (panelInput + 1) % 6;
        QMetaObject::invokeMethod(farm, "route", Q_ARG(int, panelInput));
        delivered.exec();
        return lastDelivery;
    };
    int rawInput = 0;
    auto routeThroughHub = [&] {
        rawInput = (rawInput + 1) % 6;
        QMetaObject::invokeMethod(rawFarm, "route", Q_ARG(int, rawInput));
        delivered.exec();
        return lastDelivery;
    };
    auto routeThroughLink = [&] {
        const double micros = bench::linkRouteMicros(link, linkInput);
        if (micros < 0) {
            std::fprintf(stderr, "link route failed\n");
            std::exit(1);
        }
        return micros;
    };

    for (int k = 0; k < 50; ++k) { // warm up both paths
        routeThroughGateway();
        routeThroughLink();
        routeThroughHub();
    }
    QList<double> viaGateway, viaLink, viaHub;
    for (int r = 0; r < rounds; ++r) {
        viaGateway.append(routeThroughGateway());
        viaLink.append(routeThroughLink());
        viaHub.append(routeThroughHub());
    }
    const double ratio = bench::median(viaGateway) / bench::median(viaLink);
    std::printf("feedback to %d panels %8.1f us   link round trip %8.1f us   ratio %.2f "
                "(medians of %d routes; goal <= 2.0)\n",
        clients, bench::median(viaGateway), bench::median(viaLink), ratio, rounds);
    // What the fan-out alone costs: the gateway against the link's round trip plus a plain
    // server passing the same block to the same number of sockets.
    std::printf("plain fan-out to %d panels %8.1f us   gateway / (link + plain fan-out) %.2f\n",
        clients, bench::median(viaHub),
        bench::median(viaGateway) / (bench::median(viaLink) + bench::median(viaHub)));

    const long before = bench::residentKiB();
    for (int k = 0; k < requests; ++k)
        routeThroughGateway();
    const long after = bench::residentKiB();
    const double growth = before > 0 ? double(after) / double(before) : 0;
    std::printf("memory after %d requests %ld KiB   at start %ld KiB   ratio %.3f (goal <= 1.1)\n",
        requests, after, before, growth);

    QMetaObject::invokeMethod(
        farm,
        [farm, rawFarm] {
            delete farm;
            delete rawFarm;
        },
        Qt::BlockingQueuedConnection);
    panelThread.quit();
    panelThread.wait();

    if (parser.isSet(maxRatioOption)) {
        const double max = parser.value(maxRatioOption).toDouble();
        if (ratio > max || growth > 1.1)
            return 1;
    }
    return 0;
}

#include "bench_gateway.moc"
