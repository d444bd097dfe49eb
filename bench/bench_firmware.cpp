// Firmware upgrade over an emulated 57600 baud line: a package with a 128 KiB main MCU image
// and a 32 KiB slave image goes through the link and the upgrade procedure to the simulated
// switcher on a pseudo terminal, the switcher pacing the line at 57600 baud. The fixed pauses
// (preparation steps, reboot wait) are left out. Prints the time of the block phase divided by
// the wire time of every byte sent and received in it (10 bits a byte): 1.00 is a link that
// never keeps the line idle.
//
//   bench_firmware [--rounds R] [--max-ratio X]
// With --max-ratio the exit status is 1 when the median ratio exceeds X.

#include "FirmwarePackage.h"
#include "FirmwareUpgrade.h"
#include "SimulatorServer.h"
#include "SwitcherSession.h"
#include "TKVCOMControl.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Baud = 57600;
constexpr qint64 MainImage = 128 * 1024;
constexpr qint64 SlaveImage = 32 * 1024;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const auto n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QByteArray part(quint8 subcommand, quint16 mcu, qint64 size)
{
    QByteArray image(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        image[i] = static_cast<char>((i * 131 + (i >> 9)) & 0xFF);
    Scramble(image);
    return FirmwareHeader::make(subcommand, mcu, 1, 0, static_cast<quint32>(size)).toByteArray()
        + image;
}

// The FW page without a page: nothing shown.
class QuietHost final : public FirmwareUpgradeHost
{
public:
    explicit QuietHost(TKVCOMControl &link) : m_link(link) { }
    void appendMessage(const QString &) override { }
    void showRebootLine(const QString &, bool) override { }
    void showStatus(int, const QString &, bool) override { }
    void setGauge(const QString &, int) override { }
    void setUpgrading(bool) override { }
    void connectLink() override { m_link.Connect(); }
    SwitcherOutcome run(const SwitcherOperation &operation) override
    {
        SwitcherSession session(m_link);
        return session.run(operation);
    }

private:
    TKVCOMControl &m_link;
};

// The block phase of each part: from its first data frame leaving to its "transfer done",
// with the bytes that crossed the line meanwhile.
struct BlockPhase
{
    qint64 ns = 0;
    qint64 bytes = 0;
    int frames = 0;
    bool inPart = false;
    qint64 partStart = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("Rounds."),
        QStringLiteral("R"), QStringLiteral("3"));
    const QCommandLineOption maxRatioOption(QStringLiteral("max-ratio"),
        QStringLiteral("Fail above this median ratio."), QStringLiteral("X"));
    parser.addOptions({roundsOption, maxRatioOption});
    parser.process(app);
    const int rounds = std::max(1, parser.value(roundsOption).toInt());

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.fw"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)
            || file.write(part(1, 1, MainImage) + part(2, 1, SlaveImage)) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }

    // The switcher on its own thread, as a separate device would be.
    QThread simThread;
    QObject anchor;
    anchor.moveToThread(&simThread);
    simThread.start();
    SimulatorServer *sim = nullptr;
    QString pty;
    QMetaObject::invokeMethod(
        &anchor,
        [&] {
            sim = new SimulatorServer;
            sim->setBaud(Baud);
            sim->firmware().setRebootMs(1);
            pty = sim->openPty();
        },
        Qt::BlockingQueuedConnection);
    if (pty.isEmpty()) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }

    Timing timing;
    timing.firmwareStepMs = 0;
    timing.rebootStepMs = 1;

    QList<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        TKVCOMControl link;
        link.setTiming(timing);
        link.setControlMode(cmCOM);
        link.setComPort(pty);

        QElapsedTimer clock;
        clock.start();
        BlockPhase phase;
        // The frames' dumps and byte counts time the parts; building them costs the transfer
        // a little, so these figures are on the safe side.
        link.setDiagnosticsWanted(true);
        QObject::connect(&link, &TKVCOMControl::notification, &link, [&](const LinkNotice &n) {
            switch (n.code) {
            case LinkMessage::ReceiveDump:
                if (!n.text.contains(QLatin1String("send data:")))
                    break;
                if (!phase.inPart) {
                    phase.inPart = true;
                    phase.partStart = clock.nsecsElapsed();
                }
                phase.bytes += n.text.count(QLatin1String("0x"));
                ++phase.frames;
                break;
            case LinkMessage::DataReceived:
                if (phase.inPart)
                    phase.bytes += n.wParam;
                break;
            case LinkMessage::TransferDone:
                phase.ns += clock.nsecsElapsed() - phase.partStart;
                phase.inPart = false;
                break;
            default:
                break;
            }
        });

        bool stop = false, idle = true, writeFailed = false;
        quint16 lastPercent = 0;
        QuietHost host(link);
        FirmwareUpgrade upgrade(link, host, {stop, idle, writeFailed, lastPercent});
        if (!upgrade.UpgradeFirmware(path)) {
            std::fprintf(stderr, "upgrade failed\n");
            return 1;
        }
        link.Disconnect();

        const double wire = static_cast<double>(phase.bytes) * 10.0 / Baud;
        const double seconds = static_cast<double>(phase.ns) / 1e9;
        ratios.append(seconds / wire);
        std::printf("round %d: block phase %.3f s, %d frames, %lld bytes on the line = %.3f s "
                    "at %d baud, ratio %.4f\n",
            round + 1, seconds, phase.frames, static_cast<long long>(phase.bytes), wire, Baud,
            seconds / wire);
        std::fflush(stdout);
    }

    QMetaObject::invokeMethod(
        &anchor, [&] { delete sim; }, Qt::BlockingQueuedConnection);
    simThread.quit();
    simThread.wait();

    const double result = median(ratios);
    std::printf(
        "firmware upgrade at %d baud: median ratio %.4f over %d rounds\n", Baud, result, rounds);
    if (parser.isSet(maxRatioOption) && result > parser.value(maxRatioOption).toDouble()) {
        std::printf("ratio above %s\n", qPrintable(parser.value(maxRatioOption)));
        return 1;
    }
    return 0;
}
