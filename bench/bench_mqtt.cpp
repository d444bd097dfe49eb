// A route by MQTT: from the command's publish to a subscriber's receipt of the new output/<n>
// message, through matrix-gateway (the program) and a mosquitto of the bench's own on loopback.
// Such a route passes the broker twice (the command in, the state out) and the switcher once, so
// its floor, measured in the same run, is two plain publish-to-receipt hops through the same
// broker plus the link's own round trip to the same simulated switcher. Then the gateway's
// memory after many commands against its memory at the start.
//
//   bench_mqtt [--rounds R] [--commands M] [--max-ratio X]
// With --max-ratio the exit status is 1 when the median ratio exceeds X or memory grows by more
// than 10 %. Needs mosquitto (Debian's package); exits 77 without it.

#include "BenchMeasure.h"
#include "MqttBroker.h"
#include "SimulatorThread.h"
#include "TKVCOMControl.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// The programs the bench started, ended by fail() too.
QProcess *runningGateway = nullptr;
testsupport::Broker *runningBroker = nullptr;

[[noreturn]] void fail(const char *why)
{
    std::fprintf(stderr, "bench_mqtt: %s\n", why);
    if (runningGateway) {
        runningGateway->kill();
        runningGateway->waitForFinished();
    }
    if (runningBroker)
        runningBroker->kill();
    std::exit(1);
}

// Waits, on the main thread's loop, until a message with this topic and payload arrives on
// the link, and returns the microseconds since the clock started; fails after 20 s.
class Receipt final : public QObject
{
public:
    explicit Receipt(MqttLink &link)
    {
        connect(&link, &MqttLink::messageReceived, this,
            [this](const QByteArray &topic, const QByteArray &payload) {
                m_last.insert(topic, payload);
                if (topic == m_topic && payload == m_payload) {
                    m_elapsed = double(m_clock.nsecsElapsed()) / 1000.0;
                    m_loop.quit();
                }
            });
        m_deadline.setSingleShot(true);
        m_deadline.setInterval(20000);
        connect(&m_deadline, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    }
    void expect(const QByteArray &topic, const QByteArray &payload)
    {
        m_topic = topic;
        m_payload = payload;
        m_elapsed = -1;
        m_clock.start();
    }
    // Waits for a state the topic may already hold, e.g. a retained status.
    void until(const QByteArray &topic, const QByteArray &payload)
    {
        if (m_last.value(topic) == payload)
            return;
        expect(topic, payload);
        wait();
    }
    double wait()
    {
        if (m_elapsed < 0) {
            m_deadline.start();
            m_loop.exec();
            m_deadline.stop();
        }
        if (m_elapsed < 0)
            fail("a message did not arrive within 20 s");
        return m_elapsed;
    }

private:
    QByteArray m_topic;
    QByteArray m_payload;
    double m_elapsed = -1;
    QElapsedTimer m_clock;
    QEventLoop m_loop;
    QTimer m_deadline;
    QMap<QByteArray, QByteArray> m_last;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
        QStringLiteral("Timed routes and hops of each kind."), QStringLiteral("R"),
        QStringLiteral("300"));
    const QCommandLineOption commandsOption(QStringLiteral("commands"),
        QStringLiteral("Commands between the two memory readings."), QStringLiteral("M"),
        QStringLiteral("10000"));
    const QCommandLineOption maxRatioOption(QStringLiteral("max-ratio"),
        QStringLiteral("Fail above this median ratio."), QStringLiteral("X"));
    parser.addOptions({roundsOption, commandsOption, maxRatioOption});
    parser.process(app);
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    const int commands = std::max(1, parser.value(commandsOption).toInt());
    QLoggingCategory::setFilterRules(QStringLiteral("matrix.*=false"));

    if (const QString missing = testsupport::Broker::missing(); !missing.isEmpty()) {
        std::fprintf(stderr, "bench_mqtt: %s\n", qPrintable(missing));
        return 77;
    }
    testsupport::Broker broker;
    runningBroker = &broker;
    if (!broker.setUp() || !broker.start())
        fail("mosquitto did not start");

    SimulatorThread sim;
    const quint16 simPort = sim.port();
    if (!simPort)
        fail("the simulator did not start");

    QTemporaryDir dir;
    QFile password(dir.filePath(QStringLiteral("password")));
    if (!password.open(QIODevice::WriteOnly)
        || password.write(testsupport::GatewayPassword.toUtf8() + '\n') <= 0)
        fail("cannot write the password file");
    password.close();
    // Only MQTT, and no poll: its reads would only add noise.
    QProcess gateway;
    gateway.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    gateway.start(QStringLiteral(MATRIX_GATEWAY_PATH),
        {QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(simPort),
            QStringLiteral("--poll"), QStringLiteral("0"), QStringLiteral("--no-videohub"),
            QStringLiteral("--no-http"), QStringLiteral("--settings"),
            dir.filePath(QStringLiteral("gateway.ini")), QStringLiteral("--mqtt"), broker.url(),
            QStringLiteral("--mqtt-user"), testsupport::GatewayUser,
            QStringLiteral("--mqtt-password-file"), password.fileName(),
            QStringLiteral("--mqtt-id"), QStringLiteral("bench"),
            QStringLiteral("--no-ha-discovery")});
    runningGateway = &gateway;
    if (!gateway.waitForStarted())
        fail("matrix-gateway did not start");

    MqttLinkConfig config
        = broker.linkConfig(testsupport::ObserverUser, testsupport::ObserverPassword);
    config.clientId = QStringLiteral("bench-client");
    MqttLink client(config);
    Receipt receipt(client);
    QString error;
    if (!client.start(&error))
        fail(qPrintable(error));
    // Subscribed on every connection; the gateway's status, retained, tells when it serves.
    QObject::connect(&client, &MqttLink::statusChanged, &client, [&](MqttLink::Status status) {
        if (status == MqttLink::Status::Connected) {
            client.subscribe("matrix/bench/status");
            client.subscribe("matrix/bench/present");
            client.subscribe("matrix/bench/output/1");
            client.subscribe("bench/hop");
        }
    });
    receipt.until("matrix/bench/status", "online");
    // The gateway is on the broker before it has found the switcher.
    receipt.until("matrix/bench/present", "true");

    // A route: the command by number, the receipt of output/1 with that input's option text.
    int input = 1;
    auto route = [&] {
        input = input % 6 + 1;
        receipt.expect("matrix/bench/output/1", "Input " + QByteArray::number(input));
        if (!client.publish("matrix/bench/output/1/set", QByteArray::number(input), false))
            fail("the command was not sent");
        return receipt.wait();
    };
    // A plain hop: this client's publish back to itself through the broker.
    int hopCount = 0;
    auto hop = [&] {
        const QByteArray payload = QByteArray::number(++hopCount);
        receipt.expect("bench/hop", payload);
        if (!client.publish("bench/hop", payload, false))
            fail("the hop was not sent");
        return receipt.wait();
    };
    // The link's own round trip: a second connection to the same switcher, routing output 2.
    TKVCOMControl link;
    link.setDeviceIP(QStringLiteral("127.0.0.1"));
    link.setTcpPort(simPort);
    if (!link.Connect())
        fail("the link did not connect");
    int linkInput = 0;
    auto roundTrip = [&] {
        const double micros = bench::linkRouteMicros(link, linkInput);
        if (micros < 0)
            fail("a route over the link failed");
        return micros;
    };

    for (int k = 0; k < 50; ++k) { // warm up every path
        route();
        hop();
        roundTrip();
    }
    QList<double> viaMqtt, hops, trips;
    for (int r = 0; r < rounds; ++r) {
        viaMqtt.append(route());
        hops.append(hop());
        trips.append(roundTrip());
    }
    const double floor = 2 * bench::median(hops) + bench::median(trips);
    const double ratio = bench::median(viaMqtt) / floor;
    std::printf("route by MQTT %8.1f us   plain hop %8.1f us   link round trip %8.1f us\n"
                "route / (2 hops + round trip) %.2f (medians of %d; goal <= 1.2)\n",
        bench::median(viaMqtt), bench::median(hops), bench::median(trips), ratio, rounds);

    const long before = bench::residentKiB(gateway.processId());
    for (int k = 0; k < commands; ++k)
        route();
    const long after = bench::residentKiB(gateway.processId());
    const double growth = before > 0 ? double(after) / double(before) : 0;
    std::printf("gateway memory after %d commands %ld KiB   at start %ld KiB   ratio %.3f "
                "(goal <= 1.1)\n",
        commands, after, before, growth);

    gateway.terminate();
    if (!gateway.waitForFinished(10000) || gateway.exitCode() != 0)
        fail("matrix-gateway did not stop cleanly");
    runningGateway = nullptr;
    client.stop();

    if (parser.isSet(maxRatioOption)) {
        const double max = parser.value(maxRatioOption).toDouble();
        if (ratio > max || growth > 1.1)
            return 1;
    }
    return 0;
}
