#include "NetDatagrams.h"

#include <QStringDecoder>

#include <algorithm>

namespace {

quint8 byteAt(QByteArrayView data, qsizetype i)
{
    return static_cast<quint8>(data[i]);
}

template<std::size_t N>
std::array<quint8, N> bytesAt(QByteArrayView data, qsizetype at)
{
    std::array<quint8, N> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = byteAt(data, at + static_cast<qsizetype>(i));
    return out;
}

// Control, format (bidirectional overrides among them) and line-breaking characters.
bool isUnshowable(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Surrogate:
        return true;
    default:
        return false;
    }
}

} // namespace

QString macText(const MacAddress &mac)
{
    QString text;
    text.reserve(17);
    for (std::size_t i = 0; i < mac.size(); ++i) {
        if (i)
            text += QLatin1Char('-');
        text += QStringLiteral("%1").arg(mac[i], 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

QString ipText(const IPv4Bytes &ip)
{
    return QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]);
}

std::optional<IPv4Bytes> ipBytes(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    IPv4Bytes ip{};
    for (int i = 0; i < 4; ++i) {
        const QString &part = parts[i];
        if (part.isEmpty() || part.size() > 3
            || !std::all_of(part.begin(), part.end(), [](QChar c) { return c.isDigit(); }))
            return std::nullopt;
        const int value = part.toInt();
        if (value > 255)
            return std::nullopt;
        ip[static_cast<std::size_t>(i)] = static_cast<quint8>(value);
    }
    return ip;
}

QString tagText(QByteArrayView field)
{
    const qsizetype zero = field.indexOf('\0');
    const QByteArrayView raw = zero < 0 ? field : field.first(zero);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(raw);
    if (utf8.hasError())
        text = QString::fromLatin1(raw);
    QString safe;
    safe.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (isUnshowable(c))
            safe += QChar(QChar::ReplacementCharacter);
        else if (c == U'[')
            safe += QLatin1Char('(');
        else if (c == U']')
            safe += QLatin1Char(')');
        else
            safe += QString::fromUcs4(&c, 1);
    }
    return safe;
}

QByteArray tagBytes(const QString &tag, int maxBytes)
{
    QByteArray bytes = tag.toUtf8();
    if (bytes.size() <= maxBytes)
        return bytes;
    qsizetype cut = maxBytes;
    // Step back over continuation bytes so that no character is split.
    while (cut > 0 && (static_cast<quint8>(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return bytes;
}

SearchRecord SearchRecord::fromBytes(QByteArrayView record)
{
    Q_ASSERT(record.size() == Size);
    SearchRecord r;
    r.mac = bytesAt<6>(record, 0);
    r.ip = bytesAt<4>(record, 6);
    r.gateway = bytesAt<4>(record, 10);
    r.mask = bytesAt<4>(record, 14);
    r.number1 = static_cast<quint16>(byteAt(record, 18) << 8 | byteAt(record, 19));
    r.number2 = static_cast<quint16>(byteAt(record, 20) << 8 | byteAt(record, 21));
    const QByteArrayView tag = record.sliced(22, TagSize);
    const qsizetype zero = tag.indexOf('\0');
    r.tag = (zero < 0 ? tag : tag.first(zero)).toByteArray();
    r.dhcp = byteAt(record, 54);
    return r;
}

QByteArray SearchRecord::toBytes() const
{
    QByteArray out(Size, '\0');
    auto put = [&out](int at, const auto &bytes) {
        std::copy(bytes.begin(), bytes.end(), out.begin() + at);
    };
    put(0, mac);
    put(6, ip);
    put(10, gateway);
    put(14, mask);
    out[18] = static_cast<char>(number1 >> 8);
    out[19] = static_cast<char>(number1 & 0xFF);
    out[20] = static_cast<char>(number2 >> 8);
    out[21] = static_cast<char>(number2 & 0xFF);
    const QByteArray t = tag.left(TagSize);
    std::copy(t.begin(), t.end(), out.begin() + 22);
    out[54] = static_cast<char>(dhcp);
    return out;
}

QStringList SearchRecord::itemTexts() const
{
    return {macText(mac), ipText(ip), ipText(gateway), ipText(mask), QString::number(number1),
        QString::number(number2), tagText(tag), QString::number(dhcp)};
}

std::optional<QList<SearchRecord>> parseSearchReply(const QByteArray &datagram)
{
    if (datagram.isEmpty() || datagram.size() % SearchRecord::Size != 0)
        return std::nullopt;
    QList<SearchRecord> records;
    for (qsizetype at = 0; at < datagram.size(); at += SearchRecord::Size)
        records.append(
            SearchRecord::fromBytes(QByteArrayView(datagram).sliced(at, SearchRecord::Size)));
    return records;
}

QByteArray ConfigRecord::tag() const
{
    const auto *begin = bytes.begin() + TagAt;
    const auto *end = std::find(begin, begin + TagSize, quint8(0));
    return QByteArray(reinterpret_cast<const char *>(begin), end - begin);
}

void ConfigRecord::setTag(const QByteArray &raw)
{
    std::fill_n(bytes.begin() + TagAt, TagSize, quint8(0));
    const QByteArray cut = raw.left(TagSize);
    std::copy(cut.begin(), cut.end(), bytes.begin() + TagAt);
}

QByteArray ConfigRecord::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), Size);
}

ConfigRecord ConfigRecord::fromBytes(QByteArrayView record)
{
    Q_ASSERT(record.size() == Size);
    ConfigRecord r;
    std::copy(record.begin(), record.end(), r.bytes.begin());
    return r;
}

MacAddress ConfigRecord::mac(int at) const
{
    MacAddress m{};
    std::copy_n(bytes.begin() + at, m.size(), m.begin());
    return m;
}

void ConfigRecord::setMac(int at, const MacAddress &mac)
{
    std::copy(mac.begin(), mac.end(), bytes.begin() + at);
}

IPv4Bytes ConfigRecord::address(int at) const
{
    IPv4Bytes a{};
    std::copy_n(bytes.begin() + at, a.size(), a.begin());
    return a;
}

void ConfigRecord::setAddress(int at, const IPv4Bytes &ip)
{
    std::copy(ip.begin(), ip.end(), bytes.begin() + at);
}

quint8 ConfigChecksum(const ConfigRecord &record)
{
    unsigned sum = 0;
    for (int i = 0; i < ConfigRecord::ChecksumAt; ++i)
        sum += record.bytes[static_cast<std::size_t>(i)];
    return static_cast<quint8>(sum & 0xFF);
}

void prepareConfigRequest(ConfigRecord &record)
{
    record.setStatus(ConfigRecord::StatusRequest);
    record.bytes[ConfigRecord::ChecksumAt] = ConfigChecksum(record);
}

std::optional<ConfigRecord> findConfigAnswer(const QByteArray &datagram)
{
    if (datagram.isEmpty() || datagram.size() % ConfigRecord::Size != 0)
        return std::nullopt;
    for (qsizetype at = 0; at < datagram.size(); at += ConfigRecord::Size) {
        if (static_cast<quint8>(datagram[at + ConfigRecord::StatusAt])
            != ConfigRecord::StatusRequest)
            return ConfigRecord::fromBytes(QByteArrayView(datagram).sliced(at, ConfigRecord::Size));
    }
    return std::nullopt;
}

ConfigResult configResultOf(quint8 status)
{
    if (status == ConfigRecord::StatusAccepted)
        return ConfigResult::Accepted;
    if (status & ConfigRecord::StatusConflictBit)
        return ConfigResult::AddressConflict;
    return ConfigResult::Failed;
}
