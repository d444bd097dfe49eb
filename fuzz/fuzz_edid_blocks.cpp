// Runs an EDID block read or download against a far end that answers with fuzz-chosen frames
// and acknowledgements, and checks every request and frame the link sends against the
// transfer's rules, judged independently here: which word1 asks for the next block, a block
// again or a fresh start; which data frame comes next; and that the result matches what was
// good. Time-outs cost nothing: the far end answers at once or not at all, so the link's waits
// end without sleeping, and the link is set up once for the whole run.
#include "FuzzSupport.h"

#include "InProcessTransport.h"
#include "TKVCOMControl.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace {

constexpr int FrameSize = 270;
constexpr int MaxData = 256;
constexpr qsizetype MaxEdid = 256 * 128;
const QByteArray Lead = QByteArray::fromHex("a55b");

quint8 byteAt(const QByteArray &bytes, qsizetype i)
{
    return static_cast<quint8>(bytes[i]);
}

quint8 sumOf(const QByteArray &bytes)
{
    unsigned sum = 0;
    for (const char c : bytes)
        sum += static_cast<quint8>(c);
    return static_cast<quint8>(sum);
}

// A 13-byte header that answers `request`: lead bytes, echo, all 13 bytes summing to 0.
bool goodHeader(const QByteArray &frame, const QByteArray &request)
{
    return frame.size() >= 13 && byteAt(frame, 0) == 0xA5 && byteAt(frame, 1) == 0x5B
        && frame[2] == request[2] && frame[3] == request[3] && sumOf(frame.left(13)) == 0;
}

// The data of a read block the link must take, from the wire format alone.
std::optional<QByteArray> goodBlock(const QByteArray &frame, const QByteArray &request)
{
    if (frame.size() < FrameSize || !goodHeader(frame, request))
        return std::nullopt;
    const quint8 status = byteAt(frame, 4);
    const int n = byteAt(frame, 6) | (byteAt(frame, 7) << 8);
    if ((status != 0xAA && status != 0x56) || n > MaxData || (n == 0 && status == 0xAA))
        return std::nullopt;
    const QByteArray data = frame.mid(14, n);
    if (static_cast<quint8>(-sumOf(data)) != byteAt(frame, 13))
        return std::nullopt;
    return data;
}

// The link runs for the whole fuzz run, so an input may find it out of step after an earlier
// one ended in silence; then a barrier query (never an EDID transfer) goes before the request.
// The far end answers it as a switcher in order does, by echoing it, which brings the link back
// in step. Returns whether `bytes` was such a query.
bool answeredBarrier(const TKVCOMControl &link, InProcessTransport *wire, const QByteArray &bytes)
{
    if (link.inStep() || bytes.size() != CommandPacket::Size
        || CommandPacket::fromBytes(bytes).command() == 0x03)
        return false;
    wire->deliver(bytes);
    return true;
}

// Mostly a well-formed block with fuzz-chosen status, length and data; then perhaps one byte
// spoilt, cut short (a time-out) or followed by surplus bytes.
QByteArray blockFrame(FuzzedDataProvider &in)
{
    static constexpr quint8 statuses[] = {0xAA, 0x56, 0xFF, 0x00};
    const quint8 status = in.PickValueInArray(statuses);
    const int n = in.ConsumeIntegralInRange<int>(0, 300);
    const QByteArray data = QByteArray::fromStdString(
        in.ConsumeBytesAsString(static_cast<std::size_t>(std::min(n, MaxData))));
    QByteArray frame(FrameSize, '\0');
    const QByteArray header
        = CommandPacket::make(0x03, 0x05, status, static_cast<quint16>(n)).toByteArray();
    std::copy(header.begin(), header.end(), frame.begin());
    frame[13] = static_cast<char>(BlockChecksum(data));
    std::copy(data.begin(), data.end(), frame.begin() + 14);
    if (in.ConsumeBool()) {
        const auto at = in.ConsumeIntegralInRange<qsizetype>(0, FrameSize - 1);
        frame[at] = static_cast<char>(in.ConsumeIntegral<quint8>());
    }
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
        return frame.left(in.ConsumeIntegralInRange<qsizetype>(0, FrameSize - 1));
    case 1:
        return frame + QByteArray::fromStdString(in.ConsumeBytesAsString(8));
    default:
        return frame;
    }
}

void read(FuzzedDataProvider &in, TKVCOMControl &link, InProcessTransport *wire)
{
    const CommandPacket start = CommandPacket::make(0x03, 0x05, 0xF002);
    bool started = false;
    bool finished = false; // the link took a last block
    bool taken = false; // the link took a block
    quint16 expectedWord1 = 0x00AA;
    QByteArray expected;
    int sinceTaken = 0;
    const auto far
        = QObject::connect(wire, &InProcessTransport::written, wire, [&](const QByteArray &bytes) {
              if (!started && answeredBarrier(link, wire, bytes))
                  return;
              if (!started) {
                  fuzzCheck(bytes == start.toByteArray());
                  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
                  case 0:
                      return; // silence
                  case 1:
                      wire->deliver(CommandPacket::make(0x03, 0x05, 0xFF).toByteArray());
                      return;
                  default:
                      started = true;
                      wire->deliver(CommandPacket::make(0x03, 0x05).toByteArray());
                      return;
                  }
              }
              fuzzCheck(!finished);
              fuzzCheck(bytes == CommandPacket::make(0x03, 0x05, expectedWord1).toByteArray());
              fuzzCheck(++sinceTaken <= TKVCOMControl::Attempts);
              if (in.remaining_bytes() == 0 || in.ConsumeIntegralInRange<int>(0, 7) == 0)
                  return; // silence: the same request again
              const QByteArray frame = blockFrame(in);
              wire->deliver(frame);
              // The link takes a frame from its lead bytes on; a frame cut short, or whose lead
              // was spoilt, is a time-out too.
              const qsizetype start = frame.indexOf(Lead);
              if (start < 0 || frame.size() - start < FrameSize)
                  return;
              const auto data = goodBlock(frame.mid(start, FrameSize), bytes);
              if (data && expected.size() + data->size() <= MaxEdid) {
                  expected += *data;
                  finished = byteAt(frame, 4) == 0x56;
                  expectedWord1 = 0x0000;
                  sinceTaken = 0;
                  taken = true;
              } else {
                  expectedWord1 = taken ? 0x00FF : 0x00AA;
              }
          });

    CommandResult result;
    link.ReadEDIDBlocks(start, result);
    QObject::disconnect(far);
    fuzzCheck(result.Success == finished);
    if (started)
        fuzzCheck(link.EDIDReadStream() == expected);
}

void download(FuzzedDataProvider &in, TKVCOMControl &link, InProcessTransport *wire)
{
    const QByteArray data = QByteArray::fromStdString(
        in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 700)));
    const auto word3 = in.ConsumeIntegral<quint16>();
    const auto word4 = in.ConsumeIntegral<quint16>();
    const CommandPacket request = CommandPacket::make(0x03, 0x07, 0xF003, 0, word3, word4);
    link.setSendStream(data);

    bool started = false;
    qsizetype sent = 0;
    int writes = 0;
    int sinceTaken = 0;
    const auto far
        = QObject::connect(wire, &InProcessTransport::written, wire, [&](const QByteArray &bytes) {
              if (!started && answeredBarrier(link, wire, bytes))
                  return;
              ++writes;
              if (!started) {
                  fuzzCheck(bytes == request.toByteArray());
                  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
                  case 0:
                      return;
                  case 1: // not AA: the download does not start
                      wire->deliver(CommandPacket::make(0x03, 0x07, 0x00).toByteArray());
                      return;
                  default:
                      started = true;
                      wire->deliver(CommandPacket::make(0x03, 0x07, 0xAA).toByteArray());
                      return;
                  }
              }
              // The next data frame, whole: header, data checksum, the data, zeros.
              fuzzCheck(sent < data.size());
              fuzzCheck(++sinceTaken <= TKVCOMControl::Attempts);
              const qsizetype remaining = data.size() - sent;
              const auto n = static_cast<int>(std::min<qsizetype>(remaining, MaxData));
              const QByteArray slice = data.mid(sent, n);
              QByteArray frame(FrameSize, '\0');
              const QByteArray header = CommandPacket::make(0x03, 0x07,
                  remaining > MaxData ? 0xAA : 0x56, static_cast<quint16>(n), word3, word4)
                                            .toByteArray();
              std::copy(header.begin(), header.end(), frame.begin());
              frame[13] = static_cast<char>(BlockChecksum(slice));
              std::copy(slice.begin(), slice.end(), frame.begin() + 14);
              fuzzCheck(bytes == frame);

              if (in.remaining_bytes() == 0)
                  return;
              CommandPacket ack = CommandPacket::make(0x03, 0x07, in.ConsumeBool() ? 0x00 : 0xFF);
              if (in.ConsumeIntegralInRange<int>(0, 3) == 0)
                  ack.bytes[in.ConsumeIntegralInRange<std::size_t>(0, 12)]
                      = in.ConsumeIntegral<quint8>();
              switch (in.ConsumeIntegralInRange<int>(0, 7)) {
              case 0:
                  return; // lost
              case 1:
                  wire->deliver(ack.toByteArray().left(in.ConsumeIntegralInRange<int>(0, 12)));
                  return;
              default:
                  wire->deliver(ack.toByteArray());
                  break;
              }
              if (goodHeader(ack.toByteArray(), request.toByteArray()) && ack.status() == 0x00) {
                  sent += n;
                  sinceTaken = 0;
              }
          });

    CommandResult result;
    link.DownloadEDIDBlocks(request, result);
    QObject::disconnect(far);
    if (data.isEmpty())
        fuzzCheck(writes == 0 && !result.Success);
    fuzzCheck(result.Success == (started && sent == data.size() && !data.isEmpty()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzSetUpApplication("fuzz_edid_blocks");
    return 0;
}

// One link for the whole run: making one per input (with its serial port and TCP socket)
// cost more than the transfer itself.
struct Harness
{
    // A reply is in before the wait starts, as the far end answers inside the write; so a wait
    // of no time at all finds it, and a time-out costs nothing. No pauses either.
    static Timing timing()
    {
        Timing timing = Timing::fast();
        timing.tickMs = 0;
        timing.retryPauseMs = 0;
        timing.drainGraceMs = 0;
        return timing;
    }
    Harness() : far(timing()) { far.link.setDeviceIP(QStringLiteral("127.0.0.1")); }
    FuzzLink far;
    TKVCOMControl &link = far.link;
    InProcessTransport *wire = far.wire;
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static Harness harness;
    FuzzedDataProvider in(data, size);
    fuzzCheck(harness.link.Connect());

    if (in.ConsumeBool())
        download(in, harness.link, harness.wire);
    else
        read(in, harness.link, harness.wire);
    QCoreApplication::sendPostedEvents();
    return 0;
}
