// Feeds arbitrary byte streams into the link's receive storage, both directly and through a
// transport, and checks the stored frame against a simple model of how frames fill up.
#include "FuzzSupport.h"

#include "InProcessTransport.h"
#include "TKVCOMControl.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

constexpr int FrameKindCount = 7;

FrameKind consumeKind(FuzzedDataProvider &in)
{
    return static_cast<FrameKind>(in.ConsumeIntegralInRange<int>(0, FrameKindCount - 1));
}

// What the storage must hold after `fed` (all bytes accepted since the last reset): the first
// bytes of the stream up to one frame; bytes after a complete frame are ignored.
void checkStorage(const TKVCOMControl &link, const QByteArray &fed)
{
    const int length = TKVCOMControl::FrameLength(link.frameKind());
    fuzzCheck(length > 0 && length <= TKVCOMControl::ReceiveBufferSize);
    const bool complete = fed.size() >= length;
    fuzzCheck(link.FrameComplete() == complete);
    fuzzCheck(link.ReceivePosition() >= 0 && link.ReceivePosition() < length);
    if (!complete)
        fuzzCheck(link.ReceivePosition() == fed.size());
    const QByteArray frame = link.ReceivedFrame();
    fuzzCheck(frame.size() <= TKVCOMControl::ReceiveBufferSize);
    fuzzCheck(frame == fed.left(length));
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

    TKVCOMControl link;
    auto owned = std::make_unique<InProcessTransport>();
    InProcessTransport *wire = owned.get();
    link.setTransport(cmLAN, std::move(owned));
    fuzzCheck(link.Connect());
    // A listener makes the link build its receive dumps and trace lines as well.
    qsizetype noticeText = 0;
    QObject::connect(&link, &TKVCOMControl::notification,
        [&noticeText](const LinkNotice &notice) { noticeText += notice.text.size(); });

    link.ResetReceiveState(consumeKind(in));
    QByteArray fed;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: {
            const auto chunk = QByteArray::fromStdString(
                in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 300)));
            link.StoreReceived(chunk);
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
            link.ResetReceiveState(consumeKind(in));
            fed.clear();
            break;
        case 3:
            link.setStopRequested(!link.StopRequested());
            break;
        default: {
            const auto command = in.ConsumeIntegral<quint8>();
            const auto subcommand = in.ConsumeIntegral<quint8>();
            checkReply(link.ReceivedFrame(), command, subcommand, in.ConsumeIntegral<quint8>());
            break;
        }
        }
        checkStorage(link, fed);
    }
    return 0;
}
