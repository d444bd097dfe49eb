// Runs one request/reply transaction against a far end that answers each request with
// fuzz-chosen bytes (whole, split, late, or not at all), breaks the stream or asks the link
// to stop. Time-outs are one 1 ms tick, so an input costs at most a few milliseconds.
#include "FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace {

// A reply the link must accept, judged from the wire format alone: lead bytes, the request's
// command and subcommand echoed, a status other than 0xFF, and all 13 bytes summing to zero.
bool isGoodReply(const QByteArray &bytes, const QByteArray &request)
{
    if (bytes.size() < CommandPacket::Size)
        return false;
    unsigned sum = 0;
    for (int i = 0; i < CommandPacket::Size; ++i)
        sum += static_cast<quint8>(bytes[i]);
    return bytes.left(4) == request.left(4) && static_cast<quint8>(bytes[4]) != 0xFF
        && sum % 256 == 0;
}

// A well-formed echo of the request with fuzz-chosen answer fields, so that accepted replies
// are common; the fuzzer may still spoil any byte of it.
QByteArray echoReply(FuzzedDataProvider &in, const CommandPacket &request)
{
    CommandPacket reply = CommandPacket::make(request.command(), request.subcommand(),
        in.ConsumeIntegral<quint16>(), in.ConsumeIntegral<quint16>(), in.ConsumeIntegral<quint16>(),
        in.ConsumeIntegral<quint16>());
    if (in.ConsumeBool()) {
        const auto at = in.ConsumeIntegralInRange<std::size_t>(0, CommandPacket::Size - 1);
        reply.bytes[at] = in.ConsumeIntegral<quint8>();
    }
    return reply.toByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzSetUpApplication("fuzz_transaction");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);

    FuzzLink far(fuzzTiming());
    TKVCOMControl &link = far.link;
    InProcessTransport *wire = far.wire;
    fuzzCheck(link.Connect());
    qsizetype noticeText = 0;
    QObject::connect(&link, &TKVCOMControl::notification,
        [&noticeText](const LinkNotice &notice) { noticeText += notice.text.size(); });

    // The caller's lead bytes and checksum are arbitrary: the link must send its own.
    CommandPacket request;
    for (quint8 &byte : request.bytes)
        byte = in.ConsumeIntegral<quint8>();
    const CommandPacket expected = CommandPacket::make(request.command(), request.subcommand(),
        request.word(1), request.word(2), request.word(3), request.word(4));
    const QByteArray expectedWire = expected.toByteArray();

    int writes = 0;
    // The first attempt whose reply was complete and good before the link began to wait.
    std::optional<int> acceptedAt;
    QObject::connect(wire, &InProcessTransport::written, wire, [&](const QByteArray &bytes) {
        ++writes;
        fuzzCheck(bytes == expectedWire);
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            wire->breakStream();
            return;
        case 1:
            link.setStopRequested(true);
            return;
        default:
            break;
        }
        const QByteArray reply = in.ConsumeBool()
            ? echoReply(in, expected)
            : QByteArray::fromStdString(
                in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 40)));
        // Part of the reply arrives at once, the rest in up to two later pieces.
        const auto now = std::min<qsizetype>(
            reply.size(), in.ConsumeIntegralInRange<qsizetype>(0, CommandPacket::Size + 2));
        const auto later = reply.size() - now;
        const auto split = in.ConsumeIntegralInRange<qsizetype>(0, later);
        fuzzAnswer(wire, reply.left(now), {reply.mid(now, split), reply.mid(now + split)});
        if (!acceptedAt && isGoodReply(reply.left(now), expectedWire))
            acceptedAt = writes;
    });

    CommandResult result;
    link.ExecuteCommand(request, result);

    fuzzCheck(writes <= TKVCOMControl::Attempts);
    if (result.Success) {
        const QByteArray reply = result.reply.toByteArray();
        fuzzCheck(isGoodReply(reply, expectedWire));
    }
    if (acceptedAt) {
        fuzzCheck(result.Success);
        fuzzCheck(writes == *acceptedAt);
    }
    // Late pieces still queued must not outlive this input.
    QCoreApplication::sendPostedEvents();
    return 0;
}
