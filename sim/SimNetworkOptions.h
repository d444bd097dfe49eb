#pragma once

class QCommandLineParser;
class QString;
class SimNetwork;

// matrix-sim's options for the simulated network modules.
void addSimNetworkOptions(QCommandLineParser &parser);
QString simNetworkHelp();
// Sets the modules up from the options; false (reason on stderr) for a bad value.
bool configureSimNetwork(const QCommandLineParser &parser, SimNetwork &network);
// With --udp: binds the datagram ports and prints "UDP <address> <search port> <config port>",
// then one "MODULE <n> <settings>" line per module, and again whenever a module changes.
// False (reason on stderr) when the ports cannot be had.
bool serveSimNetwork(const QCommandLineParser &parser, SimNetwork &network);
