// Feeds fuzz-chosen datagrams from fuzz-chosen senders and ports into the search's receive
// handler, and checks the found-device list and the device entries built from it.
#include "FuzzSupport.h"

#include "DeviceEntry.h"
#include "NetworkModuleControl.h"
#include "TKVCOMControl.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QSet>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

bool safeText(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c == u'\u2028' || c == u'\u2029')
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzSetUpApplication("fuzz_netmodule_search");
    QLoggingCategory::setFilterRules(QStringLiteral("matrix.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    TKVCOMControl link;
    NetworkModuleControl control(link, std::make_unique<SilentSocket>(SearchPort));
    control.setUDPReceiving(true);

    bool expectReplied = false;
    while (in.remaining_bytes() > 0) {
        const QString sender = in.ConsumeBool() ? QStringLiteral("10.9.8.7")
                                                : QStringLiteral("127.0.0.1"); // the PC itself
        const quint16 port = in.ConsumeBool() ? SearchPort : in.ConsumeIntegral<quint16>();
        // Mostly whole records, so that the parser is reached often.
        std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, 4) * SearchRecord::Size;
        if (in.ConsumeBool())
            length = in.ConsumeIntegralInRange<std::size_t>(0, 240);
        const std::string bytes = in.ConsumeBytesAsString(length);
        const QByteArray datagram = QByteArray::fromStdString(bytes);
        control.UDPDataReceived(datagram, sender, port);
        if (sender != QLatin1String("127.0.0.1") && port == SearchPort && !datagram.isEmpty()
            && datagram.size() % SearchRecord::Size == 0)
            expectReplied = true;
    }

    fuzzCheck(control.UDPReplied() == expectReplied);
    const QStringList &found = control.FoundDevices();
    fuzzCheck(found.size() % NetworkModuleControl::DeviceItems == 0);
    QSet<QString> macs;
    for (int d = 1; d <= control.GetTCPDeviceCount(); ++d) {
        const QString mac = control.GetTCPDeviceItem(d, 0);
        fuzzCheck(mac.size() == 17 && !macs.contains(mac));
        macs.insert(mac);
        const QString tag = control.GetTCPDeviceItem(d, 6);
        fuzzCheck(tag.size() <= SearchRecord::TagSize && safeText(tag));
        // The entry keeps its seven fields whatever the tag holds.
        const QString entry = foundDeviceEntry(control, d, in.ConsumeBool());
        fuzzCheck(entry.count(u'[') == EntryField::Count && entry.count(u']') == EntryField::Count);
        fuzzCheck(safeText(entry));
        fuzzCheck(GetEntryField(entry, EntryField::Tag) == tag);
        fuzzCheck(GetEntryField(entry, EntryField::MAC) == mac);
        fuzzCheck(GetEntryField(entry, EntryField::IP) == control.GetTCPDeviceItem(d, 1));
    }
    return 0;
}
