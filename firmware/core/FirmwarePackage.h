#pragma once

#include "CommandPacket.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <array>
#include <memory>

class QIODevice;

// A firmware package (.fw) is a sequence of parts, each a 143-byte header followed by the
// scrambled image of one of the switcher's four microcontrollers.
//
// Header layout (little-endian):
//     0  64  "DON'T MODIFY THIS FILE MANNUALLY!", zero padded
//    64  64  "FIRMWARE FOR Zelkora8", zero padded
//   128   1  command 0x20
//   129   1  subcommand: 1 main MCU, 2 slave MCU
//   130   2  MCU number (1 main; 1, 2, 3 the slaves)
//   132   2  0
//   134   2  version part 1
//   136   2  version part 2
//   138   4  image length
//   142   1  checksum making bytes 0..142 sum to 0 mod 256
// Bytes 128..137 are the packet that starts the part's transfer.
struct FirmwareHeader
{
    static constexpr int Size = 143;
    static constexpr int PacketOffset = 128;

    std::array<quint8, Size> bytes{};

    quint8 command() const { return bytes[128]; }
    quint8 subcommand() const { return bytes[129]; }
    quint16 mcu() const { return word(130); }
    quint16 version1() const { return word(134); }
    quint16 version2() const { return word(136); }
    quint32 imageLength() const;
    bool checksumHolds() const;
    // A part this program knows how to send: command 0x20, subcommand 1 or 2.
    bool isKnownPart() const;
    // The MCU number names one of the package's four controllers (1 with subcommand 1; 1, 2 or
    // 3 with subcommand 2).
    bool hasKnownMcu() const;

    // "Part_" subcommand "." MCU "." version 1 "." version 2, as the operator sees it.
    QString partName() const;
    // The 13-byte packet that starts this part's transfer: A5 5B, bytes 128..137, checksum.
    CommandPacket startPacket() const;

    static FirmwareHeader make(
        quint8 subcommand, quint16 mcu, quint16 version1, quint16 version2, quint32 imageLength);
    static FirmwareHeader fromBytes(const QByteArray &data);
    QByteArray toByteArray() const;

private:
    quint16 word(std::size_t at) const { return MakeWord(bytes[at + 1], bytes[at]); }
};

// The key every image is scrambled with, one character per byte, repeating every 32 bytes.
inline constexpr char FirmwareKey[] = "3D7A0C5E91B24F68A0E7C3D95B1F2864";
inline constexpr int FirmwareKeyLength = 32;

// index is the byte's position within its image, from 0.
constexpr quint8 scrambleByte(quint8 b, qint64 index)
{
    const auto k = static_cast<quint8>(FirmwareKey[index % FirmwareKeyLength]);
    return static_cast<quint8>((b ^ k) + k);
}
constexpr quint8 unscrambleByte(quint8 b, qint64 index)
{
    const auto k = static_cast<quint8>(FirmwareKey[index % FirmwareKeyLength]);
    return static_cast<quint8>(static_cast<quint8>(b - k) ^ k);
}
// In place; offset is the image position of data[0].
void Scramble(QByteArray &data, qint64 offset = 0);
void Unscramble(QByteArray &data, qint64 offset = 0);

// The four microcontrollers in package order.
enum class FirmwareMcu { Main, Slave1, Slave2, Slave3 };
inline constexpr int FirmwareMcuCount = 4;

struct FirmwareMcuInfo
{
    quint8 subcommand;
    quint16 mcu;
    const char *label; // "Main MCU", "Slave MCU1", ...
    const char *suffix; // of the package name: "_MM", "_MS", "_ir", "_PNL"
};
const FirmwareMcuInfo &mcuInfo(FirmwareMcu mcu);

// Largest image accepted from a .bin file or a package part. The switcher's microcontrollers
// have at most a few hundred KiB of flash; 16 MiB leaves wide room and still keeps a stray
// multi-gigabyte file from being read into memory (it would also take hours at 57600 baud).
inline constexpr qint64 MaxFirmwareImageSize = 16 * 1024 * 1024;
// Largest package: four parts of the largest image.
inline constexpr qint64 MaxFirmwarePackageSize
    = FirmwareMcuCount * (FirmwareHeader::Size + MaxFirmwareImageSize);

// Walks a package part by part, holding one image at a time. Nothing is read past the end of
// the data and no image is allocated larger than what is left of it.
class FirmwarePackageReader final
{
    Q_DISABLE_COPY_MOVE(FirmwarePackageReader)
public:
    enum class Status {
        Ok,
        End, // no bytes left: the package is over
        ShortHeader, // fewer than 143 bytes left
        BadChecksum, // the header's checksum does not hold
        UnknownPart, // sound header, but not a part this program can send
        UnknownMcu, // a part for an MCU number the switcher does not have
        EmptyImage, // a part whose image length is 0
        ImagePastEnd, // the image length runs past the end of the data
        ReadError,
    };

    FirmwarePackageReader() = default;
    // Reads from a device that is open for reading (not owned).
    explicit FirmwarePackageReader(QIODevice *device);

    // Opens a package file. False when it is not a regular file (a package is walked and
    // checked before it is sent, which a pipe does not allow), cannot be opened or is larger
    // than MaxFirmwarePackageSize; error() says why.
    bool open(const QString &path);
    QString error() const { return m_error; }

    // Walks the whole package from the start: every header sound, for a known part and MCU,
    // every image non-empty and within the data, nothing after the last part. Returns an empty
    // text when all holds, else what is wrong and where ("part 2 at byte 743: ..."). Leaves
    // the reader at the start, ready to send.
    QString check();

    qint64 size() const { return m_size; }
    qint64 position() const { return m_position; }
    bool atEnd() const { return m_position >= m_size; }

    // Reads the next header. With Ok, UnknownPart, UnknownMcu or EmptyImage the image follows;
    // with BadChecksum the header is filled as read, for a listing.
    Status readHeader(FirmwareHeader &header);
    // Reads and unscrambles the image the header announces.
    Status readImage(const FirmwareHeader &header, QByteArray &image);
    // Steps over the image the header announces.
    Status skipImage(const FirmwareHeader &header);
    // Header and image of the next sendable part.
    Status next(FirmwareHeader &header, QByteArray &image);

private:
    Status checkImage(const FirmwareHeader &header) const;
    bool rewind();

    std::unique_ptr<QFile> m_file;
    QIODevice *m_device = nullptr;
    qint64 m_size = 0;
    qint64 m_position = 0;
    QString m_error;
};
