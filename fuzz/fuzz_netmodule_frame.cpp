// The 32-byte module frame both ways: the link's exchange against a far end that answers with
// fuzz-chosen bytes (whole, split, or not at all), and the simulated module's answer to a
// fuzz-chosen frame. Time-outs are one 1 ms tick.
#include "FuzzSupport.h"

#include "ModuleExchange.h"
#include "SimModule.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// A reply that answers the request, judged from the layout alone.
bool isGoodReply(const QByteArray &bytes, const QByteArray &request)
{
    if (bytes.size() < 32)
        return false;
    unsigned sum = 0;
    for (int i = 0; i < 31; ++i)
        sum += static_cast<quint8>(bytes[i]);
    return bytes.left(16) == request.left(16) && static_cast<quint8>(bytes[30]) != 0xFF
        && sum % 256 == static_cast<quint8>(bytes[31]);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzSetUpApplication("fuzz_netmodule_frame");
    QLoggingCategory::setFilterRules(QStringLiteral("matrix.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);

    // The simulated module: any frame gets silence or an answer that the link accepts,
    // unless it is a command the module does not know.
    {
        SimModuleState module;
        const QByteArray frame = QByteArray::fromStdString(
            in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 40)));
        const QByteArray answer = answerModuleFrame(module, frame);
        if (!answer.isEmpty()) {
            const ModuleFrame request = ModuleFrame::fromBytes(frame);
            fuzzCheck(answer.size() == ModuleFrame::Size);
            const bool known = request.command() == ModuleFrame::CommandQuery
                || request.command() == ModuleFrame::CommandReset;
            fuzzCheck(isAcceptedModuleReply(ModuleFrame::fromBytes(answer), request) == known);
        }
        fuzzCheck(TraceModuleFrame(QString(), ModuleFrame::fromBytes(frame)).count(u'\n') == 8);
    }

    FuzzLink far(fuzzTiming());
    TKVCOMControl &link = far.link;
    InProcessTransport *wire = far.wire;
    fuzzCheck(link.Connect());

    ModuleFrame request;
    for (quint8 &byte : request.bytes)
        byte = in.ConsumeIntegral<quint8>();
    // Whatever the caller's header, ReceiveOK and checksum, the link sends a sound request.
    ModuleFrame expected = request;
    std::copy(ModuleFrame::Header.begin(), ModuleFrame::Header.end(), expected.bytes.begin());
    expected.bytes[ModuleFrame::ReceiveOKAt] = 0xFF;
    sealModuleFrame(expected);
    const QByteArray expectedWire = expected.toByteArray();

    int writes = 0;
    std::optional<int> acceptedAt;
    QObject::connect(wire, &InProcessTransport::written, wire, [&](const QByteArray &bytes) {
        ++writes;
        fuzzCheck(bytes == expectedWire);
        if (in.ConsumeIntegralInRange<int>(0, 9) == 0) {
            link.setStopRequested(true);
            return;
        }
        QByteArray reply;
        if (in.ConsumeBool()) {
            ModuleFrame answer = expected;
            answer.bytes[ModuleFrame::ReceiveOKAt] = in.ConsumeIntegral<quint8>();
            sealModuleFrame(answer);
            if (in.ConsumeBool())
                answer.bytes[in.ConsumeIntegralInRange<std::size_t>(0, 31)]
                    = in.ConsumeIntegral<quint8>();
            reply = answer.toByteArray();
        } else {
            reply = QByteArray::fromStdString(
                in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 40)));
        }
        const auto now = in.ConsumeIntegralInRange<qsizetype>(0, reply.size());
        fuzzAnswer(wire, reply.left(now), {reply.mid(now)});
        if (!acceptedAt && isGoodReply(reply.left(now), expectedWire))
            acceptedAt = writes;
    });

    ModuleFrame reply;
    const bool accepted = TCPModuleCommand(link, request, reply);
    fuzzCheck(writes <= TKVCOMControl::Attempts);
    if (accepted)
        fuzzCheck(isGoodReply(reply.toByteArray(), expectedWire));
    if (acceptedAt) {
        fuzzCheck(accepted);
        fuzzCheck(writes == *acceptedAt);
    }
    QCoreApplication::sendPostedEvents();
    return 0;
}
