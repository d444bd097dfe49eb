#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <optional>

// The datagrams that find network modules and change their settings. Nothing is scrambled:
// every field travels as it stands.

constexpr quint16 SearchPort = 30600; // search request and its replies, both ends
constexpr quint16 ConfigPort = 30601; // configuration record and its answer, both ends
constexpr char SearchRequestByte = 0x23; // "#": the whole search request

using MacAddress = std::array<quint8, 6>;
using IPv4Bytes = std::array<quint8, 4>;

// "00-1A-2B-3C-4D-5E": two upper-case hex digits per byte, joined by "-".
QString macText(const MacAddress &mac);
// Dotted decimal, first byte first.
QString ipText(const IPv4Bytes &ip);
// The bytes of a dotted address; nullopt unless it is four decimal parts 0..255.
std::optional<IPv4Bytes> ipBytes(const QString &text);

// A device tag from the wire, as a text that is safe to show, to put into a bracketed device
// entry and to store in a settings file: the bytes up to the first zero, read as UTF-8 when
// they are valid UTF-8 and as Latin-1 otherwise; control characters become U+FFFD and square
// brackets become parentheses.
QString tagText(QByteArrayView field);
// A tag for the wire: UTF-8, cut to at most maxBytes without splitting a character.
QByteArray tagBytes(const QString &tag, int maxBytes = 32);

// One 55-byte record of a search reply: one module.
struct SearchRecord
{
    static constexpr int Size = 55;
    static constexpr int TagSize = 32;

    MacAddress mac{};
    IPv4Bytes ip{};
    IPv4Bytes gateway{};
    IPv4Bytes mask{};
    quint16 number1 = 0; // big-endian on the wire; meaning unknown, kept as text
    quint16 number2 = 0;
    QByteArray tag; // raw bytes, at most TagSize; cut at the first zero when read
    quint8 dhcp = 0; // 0 static, else automatic

    static SearchRecord fromBytes(QByteArrayView record); // exactly Size bytes
    QByteArray toBytes() const;
    // The eight texts a found module occupies in the found-device list.
    QStringList itemTexts() const;
};

// The records of a search reply; nullopt unless the size is a positive multiple of 55.
std::optional<QList<SearchRecord>> parseSearchReply(const QByteArray &datagram);

// The 76-byte configuration record, the same layout for the request and the answer.
struct ConfigRecord
{
    static constexpr int Size = 76;
    enum Offset : int {
        TargetMacAt = 0, // request: the module to configure; answer: echoed
        IPAt = 6,
        GatewayAt = 10,
        MaskAt = 14,
        DhcpAt = 18, // 1 Auto IP, 0 static
        ModuleMacAt = 19, // answer: the module's own MAC
        OperationAt = 25,
        TagAt = 42,
        StatusAt = 74,
        ChecksumAt = 75,
    };
    static constexpr int TagSize = 32;
    static constexpr quint8 OperationAutoIP = 0x14;
    static constexpr quint8 OperationStatic = 0x15;
    static constexpr quint8 StatusRequest = 0xFF; // also: "not an answer"
    static constexpr quint8 StatusAccepted = 0x00;
    static constexpr quint8 StatusConflictBit = 0x20;
    static constexpr quint8 StatusFailedBit = 0x10;

    std::array<quint8, Size> bytes{};

    MacAddress targetMac() const { return mac(TargetMacAt); }
    void setTargetMac(const MacAddress &mac) { setMac(TargetMacAt, mac); }
    MacAddress moduleMac() const { return mac(ModuleMacAt); }
    void setModuleMac(const MacAddress &mac) { setMac(ModuleMacAt, mac); }
    IPv4Bytes ip() const { return address(IPAt); }
    void setIP(const IPv4Bytes &ip) { setAddress(IPAt, ip); }
    IPv4Bytes gateway() const { return address(GatewayAt); }
    void setGateway(const IPv4Bytes &ip) { setAddress(GatewayAt, ip); }
    IPv4Bytes mask() const { return address(MaskAt); }
    void setMask(const IPv4Bytes &ip) { setAddress(MaskAt, ip); }
    quint8 dhcp() const { return bytes[DhcpAt]; }
    void setDhcp(quint8 flag) { bytes[DhcpAt] = flag; }
    quint8 operation() const { return bytes[OperationAt]; }
    void setOperation(quint8 op) { bytes[OperationAt] = op; }
    QByteArray tag() const; // raw, up to the first zero
    void setTag(const QByteArray &raw); // zero-padded, cut to TagSize
    quint8 status() const { return bytes[StatusAt]; }
    void setStatus(quint8 status) { bytes[StatusAt] = status; }
    quint8 checksum() const { return bytes[ChecksumAt]; }

    QByteArray toByteArray() const;
    static ConfigRecord fromBytes(QByteArrayView record); // exactly Size bytes

    friend bool operator==(const ConfigRecord &, const ConfigRecord &) = default;

private:
    MacAddress mac(int at) const;
    void setMac(int at, const MacAddress &mac);
    IPv4Bytes address(int at) const;
    void setAddress(int at, const IPv4Bytes &ip);
};

// Sum of bytes 0..74 (the status byte included) modulo 256.
quint8 ConfigChecksum(const ConfigRecord &record);
// Sets the status to "request" and writes the checksum: the record as it is sent.
void prepareConfigRequest(ConfigRecord &record);
// The first record of a configuration answer whose status is not 0xFF; nullopt when the size
// is not a positive multiple of 76 or every record is 0xFF.
std::optional<ConfigRecord> findConfigAnswer(const QByteArray &datagram);
// How a configuration ended.
enum class ConfigResult { Accepted = 0, Failed = 1, AddressConflict = 2 };
// An answer's status as a configuration result: the conflict bit is tested first; anything
// but "accepted" without it is a failure.
ConfigResult configResultOf(quint8 status);
