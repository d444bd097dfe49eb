// The Videohub block parser and request decoder on fuzz-chosen client text, fed in fuzz-chosen
// pieces: every block stays within the bounds, every decoded port is one of the switcher's,
// every label taken keeps the label rule, the same text gives the same requests however it is
// cut, and the blocks the server would answer with are well formed.
#include "FuzzSupport.h"

#include "GatewayLabel.h"
#include "VideohubProtocol.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

namespace {

constexpr VideohubParser::Limits Bounds{64, 8};

struct Parsed
{
    QList<VideohubParser::Block> blocks;
    bool midBlock = false;
};

Parsed parseInPieces(const QByteArray &text, FuzzedDataProvider &cuts)
{
    VideohubParser parser(Bounds);
    Parsed parsed;
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype piece
            = cuts.ConsumeIntegralInRange<qsizetype>(1, std::max<qsizetype>(1, text.size() - at));
        parser.feed(
            QByteArrayView(text).sliced(at, std::min(piece, text.size() - at)), &parsed.blocks);
        at += piece;
    }
    parsed.midBlock = parser.midBlock();
    return parsed;
}

bool sameRequest(const VideohubRequest &a, const VideohubRequest &b)
{
    return a.kind == b.kind && (a.kind == VideohubRequest::Nak || a.block == b.block)
        && a.routes == b.routes && a.labels == b.labels && a.locks == b.locks
        && a.friendlyName == b.friendlyName;
}

// A block the server sends: a header line ending in ':', lines, one empty line at the end.
bool wellFormed(const QByteArray &block)
{
    if (!block.endsWith("\n\n") || block.count("\n\n") != 1)
        return false;
    const qsizetype firstEnd = block.indexOf('\n');
    return firstEnd > 0 && block[firstEnd - 1] == ':';
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzSetUpApplication("fuzz_videohub_block");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider provider(data, size);
    const std::string seed = provider.ConsumeRandomLengthString(4096);
    const QByteArray text(seed.data(), qsizetype(seed.size()));

    VideohubParser whole(Bounds);
    QList<VideohubParser::Block> blocks;
    whole.feed(text, &blocks);
    const Parsed pieces = parseInPieces(text, provider);
    fuzzCheck(pieces.blocks.size() == blocks.size() && pieces.midBlock == whole.midBlock());

    GatewayState state;
    state.present = true;
    state.power = true;
    state.routesKnown = true;
    for (qsizetype k = 0; k < blocks.size(); ++k) {
        const VideohubParser::Block &block = blocks[k];
        fuzzCheck(block.header.size() <= Bounds.maxLineBytes);
        fuzzCheck(block.lines.size() <= Bounds.maxBlockLines);
        for (const QByteArray &line : block.lines)
            fuzzCheck(line.size() <= Bounds.maxLineBytes && !line.contains('\n'));

        const VideohubRequest request = decodeVideohubRequest(block);
        fuzzCheck(sameRequest(request, decodeVideohubRequest(pieces.blocks[k])));
        for (const GatewayRoute &route : request.routes) {
            fuzzCheck(GatewayState::isPort(route.output) && GatewayState::isPort(route.input));
            state.routes[GatewayState::index(route.output)] = route.input;
        }
        for (const auto &[port, label] : request.labels) {
            fuzzCheck(GatewayState::isPort(port));
            // Taken labels keep the one label rule: whole characters, none a control.
            fuzzCheck(GatewayLabel::problem(label) == GatewayLabel::Problem::None);
            state.inputLabels[GatewayState::index(port)] = label;
        }
        for (const auto &[output, letter] : request.locks) {
            fuzzCheck(GatewayState::isPort(output));
            fuzzCheck(letter == 'O' || letter == 'U' || letter == 'F');
            state.locks[GatewayState::index(output)]
                = letter == 'O' ? QHostAddress(QHostAddress::LocalHost) : QHostAddress();
        }
        if (request.kind == VideohubRequest::FriendlyName) {
            fuzzCheck(GatewayLabel::problem(request.friendlyName) == GatewayLabel::Problem::None);
            state.friendlyName = request.friendlyName;
        }
    }
    // What the server answers with, from whatever the client set: labels stay on one line.
    state.present = true;
    state.power = true;
    state.routesKnown = true;
    for (const QByteArray &block :
        {Videohub::labelsBlock(GatewaySide::Input, state), Videohub::routingBlock(state),
            Videohub::locksBlock(state, QHostAddress(QHostAddress::LocalHost)),
            Videohub::deviceBlock(state, QStringLiteral("0123456789AB"))})
        fuzzCheck(wellFormed(block));
    return 0;
}
