// matrix-sim: a simulated 6x6 HDMI matrix switcher for trying the controller without hardware.

#include "BlockFrame.h"
#include "MatrixVersion.h"
#include "ProgramOutput.h"
#include "SimNetworkOptions.h"
#include "SimulatorServer.h"
#include "StopSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdio>

namespace {

const char *const Description = R"(Simulated 6x6 HDMI matrix switcher.

Serves the switcher's 13-byte command protocol over TCP and, with --pty, over a pseudo
terminal that the controller opens like a serial port. Once ready it prints on stdout:
  TCP <address>:<port>
  PTY <slave path>          (with --pty or --pty-link)
It stops cleanly on SIGINT or SIGTERM and removes the --pty-link symlink.

Device behaviour:
  - Replies are 13 bytes: A5 5B, the echoed command and subcommand, byte 4 the status
    (00 accepted, FF refused) or the first answer, byte 6 the answer, other bytes 00,
    a valid checksum. 01/01 answers the model number (2 = 6x6) for any word1.
  - A request with a bad checksum gets no reply; bytes before a lead A5 5B are skipped.
  - Unknown commands, bad parameters, ports outside 1..6 (7 and 8 included): status FF,
    and nothing changes.
  - Routing, EDID and panel switch commands (APM, beeper, keys, IR) are refused with FF
    while the switcher is off; identity queries, power, firmware and reboot still work.
  - Power commands 10/01 and 10/02 need word3 D22D and word4 2ED3, else FF.
  - EDID copy (03/03, 03/04) and read (03/05) need a display on the output, else FF.
  - EDID download (03/06, 03/07) answers AA (proceed); the read (03/05) is accepted.
  - EDID: each input has an EDID memory, and there are two user memories. Set mode and
    copy fill the input memories. A read sends the output's display EDID in 270-byte
    block frames (--edid-block-size data bytes each); a download takes 270-byte frames
    into the input(s) or user memory. Displays have built-in EDIDs unless --edid-dir gives
    a folder: output n then shows its n-th .bin file in name order (wrapping around).
  - Firmware: a part start (20/01 word1 1, 20/02 MCU 1-3) answers AA, or 44 when its
    version is below --fw-min-version; the main MCU's preparation steps (20/01 word1
    0080, 0010) answer 00. A data block answers 00 when its data checksum holds, else FF.
    After the main MCU's last block, and after 80/02 000F, the switcher is silent for
    --fw-reboot-ms (default 2000), then answers again.
  - --baud paces every connection like a serial line at that rate (10 bits a byte each
    way), so that a pty or TCP link takes as long as a real line.

Faults: the counters spoil that many of the next replies; --split, --extra-bytes and
--delay apply to every reply. --delay-next with --delay-count n delays the next n replies
(default 1): the replies after them wait their turn and then go at once. On a pty, --drop-connection-after loses the reply only.)";

bool readInt(const QCommandLineParser &parser, const QString &name, int min, int max, int *value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int v = parser.value(name).toInt(&ok);
    if (!ok || v < min || v > max) {
        std::fprintf(stderr, "matrix-sim: --%s wants a number from %d to %d, not \"%s\"\n",
            qPrintable(name), min, max, qPrintable(parser.value(name)));
        return false;
    }
    *value = v;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    checkStdoutAtExit("matrix-sim");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("matrix-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MATRIX_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description) + simNetworkHelp());
    parser.addHelpOption();
    parser.addVersionOption();
    const auto option = [](const char *name, const char *text, const char *valueName = nullptr,
                            const char *defaultValue = nullptr) {
        QCommandLineOption o(QString::fromLatin1(name), QString::fromLatin1(text));
        if (valueName)
            o.setValueName(QString::fromLatin1(valueName));
        if (defaultValue)
            o.setDefaultValue(QString::fromLatin1(defaultValue));
        return o;
    };
    parser.addOptions({
        option("tcp-port", "TCP port to serve (default 8000); 0 picks a free one.", "port", "8000"),
        option("listen", "Address to listen on (default 127.0.0.1).", "address", "127.0.0.1"),
        option("pty", "Also serve a pseudo terminal."),
        option("pty-link", "Serve a pseudo terminal and make <path> a symlink to it.", "path"),
        option("edid-dir", "Folder of display EDID files for the outputs.", "dir"),
        option("drop", "Stay silent instead of sending the next <n> replies.", "n"),
        option("corrupt-checksum", "Spoil the checksum of the next <n> replies.", "n"),
        option("wrong-echo", "Echo a wrong subcommand in the next <n> replies.", "n"),
        option("refuse", "Answer status FF in the next <n> replies.", "n"),
        option("refuse-44", "Answer status 44 in the next <n> replies.", "n"),
        option("split", "Send every reply in <n> pieces.", "n"),
        option("extra-bytes", "Append <n> garbage bytes to every reply.", "n"),
        option("delay", "Wait <ms> before every reply.", "ms"),
        option(
            "delay-next", "Send the next reply <ms> late, and the rest at once, in order.", "ms"),
        option("delay-count", "How many replies --delay-next delays (default 1).", "n"),
        option("drop-connection-after", "Close the connection instead of the <n>-th reply.", "n"),
        option("edid-block-size", "Data bytes per EDID read block (1-256, default 256).", "n"),
        option("edid-bad-block-checksum", "Spoil the data checksum of <n> EDID blocks.", "n"),
        option("edid-bad-block-header", "Spoil the header lead bytes of <n> EDID blocks.", "n"),
        option("edid-refuse-block", "Refuse <n> EDID read blocks or download frames.", "n"),
        option("edid-oversize-block", "Claim 270 data bytes in <n> EDID read blocks.", "n"),
        option("edid-decline-download", "Answer 00, not AA, to <n> EDID download starts.", "n"),
        option("baud", "Pace the line like a serial port at <rate> baud (0: no pacing).", "rate"),
        option("fw-reboot-ms", "Stay silent this long while rebooting (default 2000).", "ms"),
        option("fw-min-version", "Refuse firmware parts older than <v1.v2> with 44.", "v1.v2"),
        option("verbose", "Trace requests and replies on stderr."),
    });
    addSimNetworkOptions(parser);
    // A bad option is a usage error (2), as for the other programs; process() would exit 1.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fputs(
            qPrintable(usageErrorLine(QStringLiteral("matrix-sim"), parser.errorText())), stderr);
        return 2;
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);

    SimulatorServer server;
    SimFaults &faults = server.faults();
    constexpr int Big = 1'000'000;
    int port = 8000;
    const bool numbersOk = readInt(parser, QStringLiteral("tcp-port"), 0, 65535, &port)
        && readInt(parser, QStringLiteral("drop"), 0, Big, &faults.dropReplies)
        && readInt(parser, QStringLiteral("corrupt-checksum"), 0, Big, &faults.corruptChecksum)
        && readInt(parser, QStringLiteral("wrong-echo"), 0, Big, &faults.wrongEcho)
        && readInt(parser, QStringLiteral("refuse"), 0, Big, &faults.refuseStatus)
        && readInt(parser, QStringLiteral("refuse-44"), 0, Big, &faults.refuse44)
        && readInt(parser, QStringLiteral("split"), 1, 13, &faults.splitInto)
        && readInt(parser, QStringLiteral("extra-bytes"), 0, 4096, &faults.extraBytes)
        && readInt(parser, QStringLiteral("delay"), 0, 60'000, &faults.delayMs)
        && readInt(parser, QStringLiteral("delay-next"), 0, 600'000, &faults.delayNextMs)
        && readInt(parser, QStringLiteral("delay-count"), 1, Big, &faults.delayNext)
        && readInt(
            parser, QStringLiteral("drop-connection-after"), 1, Big, &faults.dropConnectionAfter);
    SimEdid::Faults &edidFaults = server.edid().faults();
    int edidBlockSize = BlockFrame::MaxData;
    const bool edidNumbersOk
        = readInt(parser, QStringLiteral("edid-block-size"), 1, BlockFrame::MaxData, &edidBlockSize)
        && readInt(
            parser, QStringLiteral("edid-bad-block-checksum"), 0, Big, &edidFaults.badBlockChecksum)
        && readInt(
            parser, QStringLiteral("edid-bad-block-header"), 0, Big, &edidFaults.badBlockHeader)
        && readInt(parser, QStringLiteral("edid-refuse-block"), 0, Big, &edidFaults.refuseBlock)
        && readInt(parser, QStringLiteral("edid-oversize-block"), 0, Big, &edidFaults.oversizeBlock)
        && readInt(
            parser, QStringLiteral("edid-decline-download"), 0, Big, &edidFaults.declineDownload);
    if (!numbersOk || !edidNumbersOk)
        return 2;
    if (parser.isSet(QStringLiteral("delay-next")) && !parser.isSet(QStringLiteral("delay-count")))
        faults.delayNext = 1;
    server.edid().setBlockSize(edidBlockSize);

    int baud = 0;
    int rebootMs = SimFirmware::DefaultRebootMs;
    if (!readInt(parser, QStringLiteral("baud"), 0, 4'000'000, &baud)
        || !readInt(parser, QStringLiteral("fw-reboot-ms"), 0, 3'600'000, &rebootMs))
        return 2;
    server.setBaud(baud);
    server.firmware().setRebootMs(rebootMs);
    if (parser.isSet(QStringLiteral("fw-min-version"))) {
        const QStringList parts = parser.value(QStringLiteral("fw-min-version")).split(u'.');
        bool ok1 = false, ok2 = false;
        const uint v1 = parts.value(0).toUInt(&ok1);
        const uint v2 = parts.value(1).toUInt(&ok2);
        if (parts.size() != 2 || !ok1 || !ok2 || v1 > 0xFFFF || v2 > 0xFFFF) {
            std::fprintf(stderr, "matrix-sim: --fw-min-version wants v1.v2, not \"%s\"\n",
                qPrintable(parser.value(QStringLiteral("fw-min-version"))));
            return 2;
        }
        server.firmware().setMinimumVersion(static_cast<quint16>(v1), static_cast<quint16>(v2));
    }

    if (!configureSimNetwork(parser, server.network()))
        return 2;

    const QHostAddress address(parser.value(QStringLiteral("listen")));
    if (address.isNull()) {
        std::fprintf(stderr, "matrix-sim: --listen wants an IP address, not \"%s\"\n",
            qPrintable(parser.value(QStringLiteral("listen"))));
        return 2;
    }
    if (parser.isSet(QStringLiteral("edid-dir"))) {
        const QString dir = parser.value(QStringLiteral("edid-dir"));
        if (!QFileInfo(dir).isDir()) {
            std::fprintf(stderr, "matrix-sim: --edid-dir: no folder \"%s\"\n", qPrintable(dir));
            return 2;
        }
        server.simulator().setEdidDirectory(QDir(dir).absolutePath());
    }
    if (parser.isSet(QStringLiteral("verbose")))
        QLoggingCategory::setFilterRules(QStringLiteral("matrix.sim.debug=true"));

    // SIGINT/SIGTERM end the event loop, so that destructors remove the symlink.
    if (QString why; !quitOnStopSignals(app, &why)) {
        std::fprintf(stderr, "matrix-sim: %s\n", qPrintable(why));
        return 1;
    }

    if (!server.listenTcp(address, static_cast<quint16>(port))) {
        std::fprintf(stderr, "matrix-sim: cannot listen on %s:%d: %s\n",
            qPrintable(address.toString()), port, qPrintable(server.tcpError()));
        return 1;
    }
    std::printf("TCP %s:%u\n", qPrintable(address.toString()), unsigned(server.tcpPort()));
    // A script that cannot read the address cannot use the simulator: the exit check says why.
    if (!flushStdout().isEmpty())
        return 1;

    if (parser.isSet(QStringLiteral("pty")) || parser.isSet(QStringLiteral("pty-link"))) {
        const QString slave = server.openPty(parser.value(QStringLiteral("pty-link")));
        if (slave.isEmpty()) {
            std::fprintf(
                stderr, "matrix-sim: cannot open a pty: %s\n", qPrintable(server.ptyError()));
            return 1;
        }
        std::printf("PTY %s\n", qPrintable(slave));
        if (!flushStdout().isEmpty())
            return 1;
    }

    if (!serveSimNetwork(parser, server.network()))
        return 1;

    return QCoreApplication::exec();
}
