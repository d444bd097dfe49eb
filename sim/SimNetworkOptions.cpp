#include "SimNetworkOptions.h"

#include "SimNetwork.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {

const QString Udp = QStringLiteral("udp");
const QString Modules = QStringLiteral("modules");
const QString ModuleIP = QStringLiteral("module-ip");
const QString ConfigStatus = QStringLiteral("config-status");
const QString InvalidFirst = QStringLiteral("config-invalid-first");

bool fail(const char *what, const QString &value)
{
    std::fprintf(stderr, "matrix-sim: %s, not \"%s\"\n", what, qPrintable(value));
    return false;
}

void printModule(const SimNetwork &network, int index)
{
    std::printf("MODULE %d %s\n", index + 1, qPrintable(network.modules().at(index).describe()));
    std::fflush(stdout);
}

} // namespace

void addSimNetworkOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {Udp,
            QStringLiteral("Serve the modules' search (30600) and configuration (30601) datagrams "
                           "on <address>; 0.0.0.0 hears every interface."),
            QStringLiteral("address")},
        {Modules, QStringLiteral("Simulated network modules (default 1)."), QStringLiteral("n")},
        {ModuleIP,
            QStringLiteral("Address of the first module (default: the --udp address, else "
                           "192.168.0.100); the others count up from it."),
            QStringLiteral("ip")},
        {ConfigStatus,
            QStringLiteral("Answer configurations with this status: 00 accepted (default), 20 "
                           "address conflict, 10 failed."),
            QStringLiteral("hex")},
        {InvalidFirst,
            QStringLiteral("Put a record with status FF ahead of each configuration answer.")},
    });
}

QString simNetworkHelp()
{
    return QStringLiteral(R"(

Network modules:
  - Module 1 is the switcher's own: it answers the 32-byte module frames (header 5C 1E ..
    B0 6F) on the TCP and pty links. 01 queries version 2.1, DHCP flag and address; FF
    resets to the frame's DHCP flag and address, gateway 192.168.0.1, mask 255.255.255.0
    and tag "TCP Module". A frame with a bad checksum gets no answer.
  - With --udp, all modules (--modules) answer the one-byte search request "#" on port
    30600 with one 55-byte record each, and a 76-byte configuration record for their MAC
    on port 30601 with the record of their new settings (static address, or Auto IP with
    the address x.y.z.(200 + n) in the /24 of module n's address). Answers go to the
    sender only; nothing is broadcast.)");
}

bool configureSimNetwork(const QCommandLineParser &parser, SimNetwork &network)
{
    int count = 1;
    if (parser.isSet(Modules)) {
        bool ok = false;
        count = parser.value(Modules).toInt(&ok);
        if (!ok || count < 0 || count > 250)
            return fail("--modules wants a number from 0 to 250", parser.value(Modules));
    }
    IPv4Bytes first{192, 168, 0, 100};
    const QString firstText = parser.isSet(ModuleIP) ? parser.value(ModuleIP)
        : parser.isSet(Udp)                          ? parser.value(Udp)
                                                     : QString();
    if (!firstText.isEmpty()) {
        const std::optional<IPv4Bytes> ip = ipBytes(firstText);
        if (!ip)
            return fail("--module-ip and --udp want a dotted IPv4 address", firstText);
        if (*ip != IPv4Bytes{} && (*ip)[0] != 127)
            first = *ip;
        else if (parser.isSet(ModuleIP))
            return fail("--module-ip wants an address a module can have", firstText);
    }
    network.setModuleCount(count, first);

    SimNetworkFaults &faults = network.faults();
    if (parser.isSet(ConfigStatus)) {
        bool ok = false;
        const uint status = parser.value(ConfigStatus).toUInt(&ok, 16);
        if (!ok || status > 0xFF)
            return fail("--config-status wants a hex byte", parser.value(ConfigStatus));
        faults.configStatus = static_cast<quint8>(status);
    }
    faults.invalidRecordFirst = parser.isSet(InvalidFirst);
    return true;
}

bool serveSimNetwork(const QCommandLineParser &parser, SimNetwork &network)
{
    if (!parser.isSet(Udp))
        return true;
    const QHostAddress address(parser.value(Udp));
    QString error;
    if (!network.bind(address, &error)) {
        std::fprintf(
            stderr, "matrix-sim: cannot serve module datagrams on %s\n", qPrintable(error));
        return false;
    }
    std::printf("UDP %s %u %u\n", qPrintable(address.toString()), unsigned(SearchPort),
        unsigned(ConfigPort));
    for (int i = 0; i < network.modules().size(); ++i)
        printModule(network, i);
    QObject::connect(&network, &SimNetwork::moduleChanged, &network,
        [&network](int index) { printModule(network, index); });
    return true;
}
