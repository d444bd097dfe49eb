// Feeds arbitrary byte streams into the link's receive storage, both directly and through a
// transport, and checks the stored frame against a simple model of how frames fill up: a
// frame starts at the first occurrence of its lead bytes in the stream.
#include "FuzzSupport.h"

#include "LinkTestAccess.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

constexpr int FrameKindCount = 7;

FrameKind consumeKind(FuzzedDataProvider &in)
{
    return static_cast<FrameKind>(in.ConsumeIntegralInRange<int>(0, FrameKindCount - 1));
}

// A module frame's lead, as the network module passes it.
const QByteArray ModuleLead = QByteArray::fromHex("5c1e93a70bd462f83a85c14e972db06f");

// What the storage must hold after `fed` (all bytes accepted since the last reset): the frame
// from the first occurrence of the lead, up to one frame, and bytes after a complete frame
// ignored. Before a whole lead has come, the longest tail of the stream that could still
// begin one.
void checkStorage(const FrameReceiver &storage, const QByteArray &fed, const QByteArray &lead)
{
    const int length = FrameReceiver::frameLength(storage.kind());
    fuzzCheck(length > 0 && length <= FrameReceiver::BufferSize);
    const qsizetype start = lead.isEmpty() ? 0 : fed.indexOf(lead);
    const QByteArray frame = storage.frame();
    fuzzCheck(frame.size() <= FrameReceiver::BufferSize);
    fuzzCheck(storage.position() >= 0 && storage.position() < length);
    if (start < 0) {
        qsizetype held = std::min(fed.size(), lead.size() - 1);
        while (held > 0 && !lead.startsWith(fed.right(held)))
            --held;
        fuzzCheck(!storage.complete());
        fuzzCheck(storage.position() == held);
        fuzzCheck(frame == fed.right(held));
        return;
    }
    const QByteArray body = fed.mid(start);
    const bool complete = body.size() >= length;
    fuzzCheck(storage.complete() == complete);
    if (!complete)
        fuzzCheck(storage.position() == body.size());
    fuzzCheck(frame == body.left(length));
}

// The reply checks a transaction runs on a stored frame.
void checkReply(const QByteArray &frame, quint8 command, quint8 subcommand, int number)
{
    const CommandPacket reply = CommandPacket::fromBytes(frame);
    for (int i = 0; i < CommandPacket::Size; ++i) {
        const auto expected = i < frame.size() ? static_cast<quint8>(frame[i]) : quint8(0);
        fuzzCheck(reply.bytes[static_cast<std::size_t>(i)] == expected);
    }

    CommandPacket sealed = reply;
    sealed.bytes[12] = PacketChecksum(reply);
    unsigned sum = 0;
    for (quint8 byte : sealed.bytes)
        sum += byte;
    fuzzCheck(sum % 256 == 0);

    const CommandPacket request = CommandPacket::make(command, subcommand);
    const bool echoes = reply.bytes[0] == CommandPacket::Lead1
        && reply.bytes[1] == CommandPacket::Lead2 && reply.command() == command
        && reply.subcommand() == subcommand;
    fuzzCheck(IsMatchingReply(reply, request) == echoes);

    const QString label = QStringLiteral("rcv cmd PPP:   ");
    fuzzCheck(TracePacket(label, reply, number).startsWith(label));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzSetUpApplication("fuzz_receive");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);

    FuzzLink far;
    TKVCOMControl &link = far.link;
    InProcessTransport *wire = far.wire;
    fuzzCheck(link.Connect());
    FrameReceiver &storage = LinkTestAccess::receiver(link);
    // A listener makes the link build its receive dumps and trace lines as well.
    qsizetype noticeText = 0;
    QObject::connect(&link, &TKVCOMControl::notification,
        [&noticeText](const LinkNotice &notice) { noticeText += notice.text.size(); });

    // A fresh frame of a fuzz-chosen kind; a module frame is found by its lead or, when the
    // caller gives none, taken from the first byte.
    QByteArray lead;
    const auto reset = [&] {
        const FrameKind kind = consumeKind(in);
        const bool moduleLead = kind == FrameKind::ModuleFrame && in.ConsumeBool();
        storage.reset(kind, moduleLead ? ModuleLead : QByteArray());
        lead = moduleLead ? ModuleLead : FrameReceiver::frameLead(kind);
    };
    reset();
    QByteArray fed;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: {
            const auto chunk = QByteArray::fromStdString(
                in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 300)));
            storage.store(chunk);
            fed += chunk;
            break;
        }
        case 1: {
            const auto chunk = QByteArray::fromStdString(
                in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 300)));
            wire->deliver(chunk);
            // While stopping, bytes from the wire are dropped.
            if (!link.StopRequested())
                fed += chunk;
            break;
        }
        case 2:
            reset();
            fed.clear();
            break;
        case 3:
            link.setStopRequested(!link.StopRequested());
            break;
        default: {
            const auto command = in.ConsumeIntegral<quint8>();
            const auto subcommand = in.ConsumeIntegral<quint8>();
            checkReply(storage.frame(), command, subcommand, in.ConsumeIntegral<quint8>());
            break;
        }
        }
        checkStorage(storage, fed, lead);
    }
    return 0;
}
