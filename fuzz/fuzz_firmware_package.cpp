// Walks a fuzz-chosen firmware package the way the upgrade does (header, image, next) and the
// way a listing does (header, skip), checking that nothing is read or handed on beyond the
// data and that every image handed on is exactly the bytes its header announced.
#include "FuzzSupport.h"

#include "FirmwarePackage.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using Status = FirmwarePackageReader::Status;
    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const auto total = static_cast<qint64>(size);

    QBuffer upgradeBuffer(&bytes);
    upgradeBuffer.open(QIODevice::ReadOnly);
    FirmwarePackageReader upgrade(&upgradeBuffer);
    fuzzCheck(upgrade.size() == total);
    QList<qint64> partEnds;
    for (;;) {
        FirmwareHeader header;
        QByteArray image;
        const qint64 before = upgrade.position();
        const Status status = upgrade.next(header, image);
        fuzzCheck(upgrade.position() <= total);
        if (status != Status::Ok) {
            fuzzCheck(image.isEmpty());
            fuzzCheck(status != Status::ReadError);
            fuzzCheck((status == Status::End) == (before == total));
            break;
        }
        fuzzCheck(header.checksumHolds() && header.isKnownPart());
        fuzzCheck(image.size() == static_cast<qsizetype>(header.imageLength()));
        fuzzCheck(upgrade.position() == before + FirmwareHeader::Size + image.size());
        fuzzCheck(header.toByteArray() == bytes.mid(before, FirmwareHeader::Size));
        QByteArray scrambled = image;
        Scramble(scrambled);
        fuzzCheck(scrambled == bytes.mid(before + FirmwareHeader::Size, image.size()));
        partEnds.append(upgrade.position());
    }

    // The listing steps over the same sound parts.
    QBuffer listBuffer(&bytes);
    listBuffer.open(QIODevice::ReadOnly);
    FirmwarePackageReader list(&listBuffer);
    for (const qint64 end : partEnds) {
        FirmwareHeader header;
        fuzzCheck(list.readHeader(header) == Status::Ok);
        fuzzCheck(list.skipImage(header) == Status::Ok);
        fuzzCheck(list.position() == end);
    }
    return 0;
}
