#include "FirmwarePackage.h"

#include "DeviceProtocol.h"
#include "FileAccess.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

constexpr char Warning[] = "DON'T MODIFY THIS FILE MANNUALLY!";
constexpr char Title[] = "FIRMWARE FOR Zelkora8";
constexpr int TextField = 64;

constexpr FirmwareMcuInfo Mcus[FirmwareMcuCount] = {
    {DeviceProtocol::FirmwareSub::Main, 1, "Main MCU", "_MM"},
    {DeviceProtocol::FirmwareSub::Slave, 1, "Slave MCU1", "_MS"},
    {DeviceProtocol::FirmwareSub::Slave, 2, "Slave MCU2", "_ir"},
    {DeviceProtocol::FirmwareSub::Slave, 3, "Slave MCU3", "_PNL"},
};

void putWord(std::array<quint8, FirmwareHeader::Size> &bytes, std::size_t at, quint16 value)
{
    bytes[at] = loByte(value);
    bytes[at + 1] = hiByte(value);
}

} // namespace

quint32 FirmwareHeader::imageLength() const
{
    return static_cast<quint32>(bytes[138]) | static_cast<quint32>(bytes[139]) << 8
        | static_cast<quint32>(bytes[140]) << 16 | static_cast<quint32>(bytes[141]) << 24;
}

bool FirmwareHeader::checksumHolds() const
{
    return BlockChecksum(bytes.data(), Size - 1) == bytes[Size - 1];
}

bool FirmwareHeader::isKnownPart() const
{
    return command() == DeviceProtocol::Command::Firmware
        && (subcommand() == DeviceProtocol::FirmwareSub::Main
            || subcommand() == DeviceProtocol::FirmwareSub::Slave);
}

bool FirmwareHeader::hasKnownMcu() const
{
    return std::any_of(std::begin(Mcus), std::end(Mcus), [this](const FirmwareMcuInfo &info) {
        return info.subcommand == subcommand() && info.mcu == mcu();
    });
}

QString FirmwareHeader::partName() const
{
    return QStringLiteral("Part_%1.%2.%3.%4")
        .arg(subcommand())
        .arg(mcu())
        .arg(version1())
        .arg(version2());
}

CommandPacket FirmwareHeader::startPacket() const
{
    CommandPacket packet;
    InitPacket(packet);
    std::copy_n(bytes.begin() + PacketOffset, 10, packet.bytes.begin() + 2);
    packet.bytes[12] = PacketChecksum(packet);
    return packet;
}

FirmwareHeader FirmwareHeader::make(
    quint8 subcommand, quint16 mcu, quint16 version1, quint16 version2, quint32 imageLength)
{
    FirmwareHeader h;
    std::memcpy(h.bytes.data(), Warning, sizeof Warning - 1);
    std::memcpy(h.bytes.data() + TextField, Title, sizeof Title - 1);
    h.bytes[128] = DeviceProtocol::Command::Firmware;
    h.bytes[129] = subcommand;
    putWord(h.bytes, 130, mcu);
    putWord(h.bytes, 134, version1);
    putWord(h.bytes, 136, version2);
    for (std::size_t i = 0; i < 4; ++i)
        h.bytes[138 + i] = static_cast<quint8>(imageLength >> (8 * i));
    h.bytes[Size - 1] = BlockChecksum(h.bytes.data(), Size - 1);
    return h;
}

FirmwareHeader FirmwareHeader::fromBytes(const QByteArray &data)
{
    FirmwareHeader h;
    const auto n = static_cast<std::size_t>(std::clamp<qsizetype>(data.size(), 0, Size));
    std::copy_n(reinterpret_cast<const quint8 *>(data.constData()), n, h.bytes.begin());
    return h;
}

QByteArray FirmwareHeader::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), Size);
}

void Scramble(QByteArray &data, qint64 offset)
{
    auto *p = reinterpret_cast<quint8 *>(data.data());
    for (qsizetype i = 0; i < data.size(); ++i)
        p[i] = scrambleByte(p[i], offset + i);
}

void Unscramble(QByteArray &data, qint64 offset)
{
    auto *p = reinterpret_cast<quint8 *>(data.data());
    for (qsizetype i = 0; i < data.size(); ++i)
        p[i] = unscrambleByte(p[i], offset + i);
}

const FirmwareMcuInfo &mcuInfo(FirmwareMcu mcu)
{
    return Mcus[static_cast<int>(mcu)];
}

FirmwarePackageReader::FirmwarePackageReader(QIODevice *device) : m_device(device)
{
    if (m_device)
        m_size = std::max<qint64>(0, m_device->size() - m_device->pos());
}

bool FirmwarePackageReader::open(const QString &path)
{
    m_device = nullptr;
    m_size = m_position = 0;
    m_file = std::make_unique<QFile>();
    if (!FileAccess::openForReading(*m_file, path, &m_error))
        return false;
    if (m_file->size() > MaxFirmwarePackageSize) {
        m_error = QStringLiteral("larger than %1 bytes").arg(MaxFirmwarePackageSize);
        m_file->close();
        return false;
    }
    m_device = m_file.get();
    m_size = m_file->size();
    return true;
}

FirmwarePackageReader::Status FirmwarePackageReader::readHeader(FirmwareHeader &header)
{
    if (!m_device)
        return Status::ReadError;
    if (atEnd())
        return Status::End;
    if (m_size - m_position < FirmwareHeader::Size)
        return Status::ShortHeader;
    const QByteArray bytes = m_device->read(FirmwareHeader::Size);
    if (bytes.size() != FirmwareHeader::Size)
        return Status::ReadError;
    m_position += FirmwareHeader::Size;
    header = FirmwareHeader::fromBytes(bytes);
    if (!header.checksumHolds())
        return Status::BadChecksum;
    if (!header.isKnownPart())
        return Status::UnknownPart;
    if (!header.hasKnownMcu())
        return Status::UnknownMcu;
    return header.imageLength() == 0 ? Status::EmptyImage : Status::Ok;
}

bool FirmwarePackageReader::rewind()
{
    if (!m_device || m_device->isSequential())
        return false;
    if (!m_device->seek(m_device->pos() - m_position))
        return false;
    m_position = 0;
    return true;
}

QString FirmwarePackageReader::check()
{
    if (!rewind())
        return QStringLiteral("the package cannot be read from its start");
    if (m_size == 0)
        return QStringLiteral("the package is empty");
    QString problem;
    for (int n = 1; problem.isEmpty() && !atEnd(); ++n) {
        const QString where = QStringLiteral("part %1 at byte %2: ").arg(n).arg(m_position);
        FirmwareHeader header;
        Status status = readHeader(header);
        if (status == Status::Ok)
            status = skipImage(header);
        switch (status) {
        case Status::Ok:
        case Status::End:
            break;
        case Status::ShortHeader:
            problem = where
                + QStringLiteral("%1 bytes left, too few for a part's header")
                      .arg(m_size - m_position);
            break;
        case Status::BadChecksum:
            problem = where + QStringLiteral("the header's checksum does not hold");
            break;
        case Status::UnknownPart:
            problem = where
                + QStringLiteral("not a firmware part (command 0x%1, subcommand %2)")
                      .arg(header.command(), 2, 16, QLatin1Char('0'))
                      .arg(header.subcommand());
            break;
        case Status::UnknownMcu:
            problem = where
                + QStringLiteral("MCU number %1 is not one of the switcher's controllers")
                      .arg(header.mcu());
            break;
        case Status::EmptyImage:
            problem = where + QStringLiteral("the image is empty");
            break;
        case Status::ImagePastEnd:
            problem = where
                + QStringLiteral("the image of %1 bytes runs past the end of the file")
                      .arg(header.imageLength());
            break;
        case Status::ReadError:
            problem = where + QStringLiteral("read error");
            break;
        }
    }
    if (!rewind() && problem.isEmpty())
        problem = QStringLiteral("the package cannot be read from its start");
    return problem;
}

FirmwarePackageReader::Status FirmwarePackageReader::checkImage(const FirmwareHeader &header) const
{
    if (!m_device)
        return Status::ReadError;
    // The length field is 32-bit: compare in 64 bits, against what the data still holds.
    return static_cast<qint64>(header.imageLength()) > m_size - m_position ? Status::ImagePastEnd
                                                                           : Status::Ok;
}

FirmwarePackageReader::Status FirmwarePackageReader::readImage(
    const FirmwareHeader &header, QByteArray &image)
{
    image.clear();
    if (const Status s = checkImage(header); s != Status::Ok)
        return s;
    const qint64 length = header.imageLength();
    image = m_device->read(length);
    if (image.size() != length) {
        image.clear();
        return Status::ReadError;
    }
    m_position += length;
    Unscramble(image);
    return Status::Ok;
}

FirmwarePackageReader::Status FirmwarePackageReader::skipImage(const FirmwareHeader &header)
{
    if (const Status s = checkImage(header); s != Status::Ok)
        return s;
    const qint64 length = header.imageLength();
    if (m_device->isSequential() ? m_device->skip(length) != length
                                 : !m_device->seek(m_device->pos() + length))
        return Status::ReadError;
    m_position += length;
    return Status::Ok;
}

FirmwarePackageReader::Status FirmwarePackageReader::next(FirmwareHeader &header, QByteArray &image)
{
    image.clear();
    if (const Status s = readHeader(header); s != Status::Ok)
        return s;
    return readImage(header, image);
}
