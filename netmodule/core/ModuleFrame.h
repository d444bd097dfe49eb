#pragma once

#include "NetDatagrams.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>

// The 32-byte frame ("LDCD") that queries or resets the switcher's network module over the
// switcher's own serial or TCP link. Requests and replies share the layout.
struct ModuleFrame
{
    static constexpr int Size = 32;
    static constexpr int HeaderSize = 16;
    // The fixed header the module expects; a reply must carry it unchanged.
    static constexpr std::array<quint8, HeaderSize> Header{0x5C, 0x1E, 0x93, 0xA7, 0x0B, 0xD4, 0x62,
        0xF8, 0x3A, 0x85, 0xC1, 0x4E, 0x97, 0x2D, 0xB0, 0x6F};
    enum Offset : int {
        CommandAt = 16,
        Param1At = 17, // reply: version major
        Param2At = 18, // reply: version minor
        DhcpAt = 19, // 0 static, else Auto IP
        IPAt = 20,
        ReceiveOKAt = 30, // 0xFF in a request; a reply that accepted it has another value
        ChecksumAt = 31,
    };
    static constexpr quint8 CommandQuery = 0x01;
    static constexpr quint8 CommandReset = 0xFF;
    static constexpr quint8 NotReceived = 0xFF;

    std::array<quint8, Size> bytes{};

    quint8 command() const { return bytes[CommandAt]; }
    quint8 param1() const { return bytes[Param1At]; }
    quint8 param2() const { return bytes[Param2At]; }
    quint8 dhcp() const { return bytes[DhcpAt]; }
    IPv4Bytes ip() const;
    void setIP(const IPv4Bytes &ip);
    quint8 receiveOK() const { return bytes[ReceiveOKAt]; }
    quint8 checksum() const { return bytes[ChecksumAt]; }
    bool hasHeader() const;

    // A complete request: header, command, DHCP flag and address, ReceiveOK 0xFF, checksum.
    static ModuleFrame request(quint8 command, quint8 dhcp = 0, const IPv4Bytes &ip = {});
    // The first Size bytes (zero-filled when shorter).
    static ModuleFrame fromBytes(const QByteArray &data);
    QByteArray toByteArray() const;

    friend bool operator==(const ModuleFrame &, const ModuleFrame &) = default;
};

// Sum of bytes 0..30 modulo 256.
quint8 ModuleChecksum(const ModuleFrame &frame);
// Writes the checksum byte.
void sealModuleFrame(ModuleFrame &frame);
// A reply that answers the request: ReceiveOK not 0xFF, checksum right, header as sent.
bool isAcceptedModuleReply(const ModuleFrame &reply, const ModuleFrame &request);

// The diagnostic text of a frame: prefix, then the header, command, parameters, DHCP flag,
// address, ReceiveOK and checksum in hex on lines of their own, closed by 39 "/".
QString TraceModuleFrame(const QString &prefix, const ModuleFrame &frame);
