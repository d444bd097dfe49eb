// Feeds fuzz-chosen configuration answers into the receive handler and the answer parser, and
// checks which record is taken and what result its status gives.
#include "FuzzSupport.h"

#include "NetworkModuleControl.h"
#include "TKVCOMControl.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace {

// The first record whose status is not 0xFF, by a direct reading of the layout.
std::optional<QByteArray> firstAnswer(const QByteArray &datagram)
{
    if (datagram.isEmpty() || datagram.size() % 76 != 0)
        return std::nullopt;
    for (qsizetype at = 0; at < datagram.size(); at += 76) {
        if (static_cast<quint8>(datagram[at + 74]) != 0xFF)
            return datagram.mid(at, 76);
    }
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzSetUpApplication("fuzz_netmodule_config");
    QLoggingCategory::setFilterRules(QStringLiteral("matrix.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    TKVCOMControl link;
    NetworkModuleControl control(link, std::make_unique<SilentSocket>(ConfigPort));
    control.setUDPReceiving(true);
    const ConfigRecord before = control.configRecord();

    std::optional<QByteArray> taken;
    while (in.remaining_bytes() > 0) {
        const bool fromModule = in.ConsumeBool();
        const quint16 port = in.ConsumeBool() ? ConfigPort : in.ConsumeIntegral<quint16>();
        std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, 3) * ConfigRecord::Size;
        if (in.ConsumeBool())
            length = in.ConsumeIntegralInRange<std::size_t>(0, 240);
        QByteArray datagram = QByteArray::fromStdString(in.ConsumeBytesAsString(length));
        // Status bytes of 0xFF are common on the wire: make them common here too.
        for (qsizetype at = 74; at < datagram.size(); at += 76) {
            if (in.ConsumeBool())
                datagram[at] = char(0xFF);
        }

        const std::optional<ConfigRecord> parsed = findConfigAnswer(datagram);
        const std::optional<QByteArray> expected = firstAnswer(datagram);
        fuzzCheck(parsed.has_value() == expected.has_value());
        if (parsed) {
            fuzzCheck(parsed->toByteArray() == *expected);
            const ConfigResult result = configResultOf(parsed->status());
            fuzzCheck((result == ConfigResult::Accepted) == (parsed->status() == 0));
        }

        control.UDPDataReceived(
            datagram, fromModule ? QStringLiteral("10.9.8.7") : QStringLiteral("127.0.0.1"), port);
        // A configuration goes out once per target, so copies of the answer follow: the
        // first one taken is the result.
        if (fromModule && port == ConfigPort && expected && !taken)
            taken = expected;
    }

    fuzzCheck(control.UDPReplied() == taken.has_value());
    fuzzCheck(
        taken ? control.configRecord().toByteArray() == *taken : control.configRecord() == before);
    return 0;
}
