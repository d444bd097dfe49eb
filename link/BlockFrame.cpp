#include "BlockFrame.h"

#include <algorithm>

namespace BlockFrame {

QByteArray build(const CommandPacket &header, const QByteArray &data, qsizetype paddedSize)
{
    QByteArray frame = header.toByteArray();
    frame.reserve(std::max<qsizetype>(paddedSize, HeaderSize + data.size()));
    frame.append(static_cast<char>(BlockChecksum(data)));
    frame.append(data);
    if (frame.size() < paddedSize)
        frame.append(paddedSize - frame.size(), '\0');
    return frame;
}

std::optional<QByteArray> data(const QByteArray &frame)
{
    if (frame.size() < HeaderSize)
        return std::nullopt;
    const int n = CommandPacket::fromBytes(frame).word(2);
    if (n > MaxData || HeaderSize + n > frame.size())
        return std::nullopt;
    QByteArray bytes = frame.mid(HeaderSize, n);
    if (BlockChecksum(bytes) != static_cast<quint8>(frame[CommandPacket::Size]))
        return std::nullopt;
    return bytes;
}

QString dump(const QByteArray &bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(bytes.size() * 7);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 16 == 0)
            text += QLatin1String("\r\n");
        if (i == 4 || i == 6 || i == 8 || i == 10 || i == 12)
            text += QLatin1Char('|');
        const auto byte = static_cast<quint8>(bytes[i]);
        const char entry[] = {'0', 'x', Digits[byte >> 4], Digits[byte & 0xF], ',', ' '};
        text += QLatin1String(entry, sizeof entry);
    }
    return text;
}

} // namespace BlockFrame
