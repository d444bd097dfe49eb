#pragma once

#include "GatewayState.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <utility>

// The Videohub Ethernet Protocol as text: blocks of a header line ending in ":", lines, and an
// empty line. Ports are 0-based on this wire and 1-based in what these functions take and give.
// No I/O here: the server and the fuzz target drive the same code.

// Splits a client's byte stream into blocks. Bounded: a line longer than maxLineBytes and the
// lines of a block beyond maxBlockLines are not kept, and such a block comes out marked
// overflowed (to be answered NAK). Lines end in LF; a CR before it is dropped.
class VideohubParser final
{
public:
    struct Limits
    {
        int maxLineBytes = 1024;
        int maxBlockLines = 64;
    };
    struct Block
    {
        QByteArray header; // the first line, as sent ("VIDEO OUTPUT ROUTING:")
        QList<QByteArray> lines;
        bool overflowed = false;
    };

    explicit VideohubParser(Limits limits) : m_limits(limits) { }
    VideohubParser() : VideohubParser(Limits{}) { }

    // Appends every block the bytes complete to *blocks.
    void feed(QByteArrayView bytes, QList<Block> *blocks);
    // A block has begun and not yet ended with its empty line.
    bool midBlock() const { return m_open; }
    // Drops a block begun and not ended (after a time-out).
    void reset();

private:
    void endLine(QList<Block> *blocks);

    Limits m_limits;
    Block m_block;
    bool m_open = false;
    QByteArray m_line;
    bool m_lineTooLong = false;
};

// The state blocks, by header.
enum class VideohubBlockKind {
    Preamble,
    Device,
    InputLabels,
    OutputLabels,
    Locks,
    Routing,
    Configuration,
};

// What a client block asks for. Anything that does not parse, or names a port out of range,
// is a Nak.
struct VideohubRequest
{
    // Configuration: the settings the gateway keeps as they are (Take Mode off).
    // FriendlyName: the device's name; empty asks for the default.
    enum Kind { Nak, Ping, Query, Routes, Labels, Locks, Configuration, FriendlyName };
    Kind kind = Nak;
    VideohubBlockKind block = VideohubBlockKind::Routing; // Query, Labels (side), Locks, Routes
    QList<GatewayRoute> routes; // Routes, in the order sent
    QList<std::pair<int, QString>> labels; // Labels: port, text
    QList<std::pair<int, char>> locks; // Locks: output, 'O', 'U' or 'F'
    QString friendlyName; // FriendlyName, cut to the label rule's length
    QString reason; // why a Nak, for the log
};

VideohubRequest decodeVideohubRequest(const VideohubParser::Block &block);

// Blocks the server sends. The client's address decides the lock letters: O for a lock that
// address holds, L for another's.
namespace Videohub {

// The version whose status dump carries the CONFIGURATION block.
inline constexpr char ProtocolVersion[] = "2.7";

QByteArray ack();
QByteArray nak();
QByteArray preamble();
// The block that ends the status dump.
QByteArray endPrelude();
// Device present: true with the device's facts, or the single line "Device present: false"
// (GatewayState::devicePresent).
QByteArray deviceBlock(const GatewayState &state, const QString &uniqueId);
// Take Mode is always off: a route takes effect when it is asked for.
QByteArray configurationBlock();
// The lines of the given ports (all six when empty). Line breaks in a label become spaces; a
// port without a label shows "Input n" or "Output n".
QByteArray labelsBlock(GatewaySide side, const GatewayState &state, const QList<int> &ports = {});
QByteArray locksBlock(
    const GatewayState &state, const QHostAddress &client, const QList<int> &outputs = {});
// Outputs whose route is unknown are left out.
QByteArray routingBlock(const GatewayState &state, const QList<int> &outputs = {});
QByteArray block(VideohubBlockKind kind, const GatewayState &state, const QHostAddress &client,
    const QString &uniqueId);
// What a client gets on connect: preamble, device, labels, locks, routing, configuration,
// END PRELUDE; only the preamble and the device block while the device is not present.
QByteArray statusDump(
    const GatewayState &state, const QHostAddress &client, const QString &uniqueId);
// 12 upper-case hex digits that stay the same for the same switcher link.
QString uniqueId(const QString &linkTarget);
// A label on one line.
QString singleLine(const QString &text);

} // namespace Videohub
