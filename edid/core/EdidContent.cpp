#include "EdidContent.h"

#include <cmath>

namespace {

constexpr quint8 Header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr int BaseBlockSize = 128;
constexpr int DescriptorOffsets[4] = {54, 72, 90, 108};
constexpr int DescriptorSize = 18;
constexpr quint8 NameTag = 0xFC;

quint8 at(QByteArrayView bytes, qsizetype i)
{
    return static_cast<quint8>(bytes[i]);
}

bool hasHeader(QByteArrayView bytes)
{
    for (int i = 0; i < 8; ++i) {
        if (at(bytes, i) != Header[i])
            return false;
    }
    return true;
}

// Three letters of five bits each, 1 = 'A'; anything else shows as '?'.
QString manufacturer(QByteArrayView edid)
{
    const int id = (at(edid, 8) << 8) | at(edid, 9);
    QString letters;
    for (int shift : {10, 5, 0}) {
        const int v = (id >> shift) & 0x1F;
        letters += v >= 1 && v <= 26 ? QChar(u'A' + v - 1) : QChar(u'?');
    }
    return letters;
}

// The name descriptor's text ends at a line feed and is padded with spaces; anything that is
// not printable ASCII is shown as '?', so a hostile EDID cannot reach a terminal's controls.
QString descriptorText(QByteArrayView d)
{
    QString text;
    for (qsizetype i = 5; i < DescriptorSize; ++i) {
        const quint8 c = at(d, i);
        if (c == 0x0A)
            break;
        text += c >= 0x20 && c < 0x7F ? QChar(char16_t(c)) : QChar(u'?');
    }
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

QString detailedTiming(QByteArrayView d)
{
    const int clock10kHz = at(d, 0) | (at(d, 1) << 8);
    const int hActive = at(d, 2) | ((at(d, 4) & 0xF0) << 4);
    const int hBlank = at(d, 3) | ((at(d, 4) & 0x0F) << 8);
    const int vActive = at(d, 5) | ((at(d, 7) & 0xF0) << 4);
    const int vBlank = at(d, 6) | ((at(d, 7) & 0x0F) << 8);
    const bool interlaced = at(d, 17) & 0x80;
    // Interlaced timings give one field's lines; the picture has twice as many.
    QString text = QString::number(hActive) + QLatin1Char('x')
        + QString::number(interlaced ? 2 * vActive : vActive);
    if (interlaced)
        text += QLatin1Char('i');
    const double pixels = double(hActive + hBlank) * double(vActive + vBlank);
    if (pixels > 0) {
        const long hz = std::lround(clock10kHz * 10000.0 / pixels);
        text += QLatin1Char('@') + QString::number(hz);
    }
    return text;
}

} // namespace

EdidCheck checkEdidContent(QByteArrayView bytes)
{
    if (bytes.size() != EdidBlockSize && bytes.size() != EdidMaxContentSize)
        return EdidCheck::WrongSize;
    unsigned sum = 0;
    for (qsizetype i = 0; i < EdidBlockSize; ++i)
        sum += at(bytes, i);
    if (sum % 256 != 0)
        return EdidCheck::BadChecksum;
    if (!hasHeader(bytes))
        return EdidCheck::BadHeader;
    return EdidCheck::Ok;
}

QString edidCheckReason(EdidCheck check, qsizetype size)
{
    switch (check) {
    case EdidCheck::Ok:
        return QStringLiteral("accepted");
    case EdidCheck::WrongSize:
        return QStringLiteral("size %1, not 256 or 257 bytes").arg(size);
    case EdidCheck::BadChecksum:
        return QStringLiteral("bytes 0-255 do not sum to 0 modulo 256");
    case EdidCheck::BadHeader:
        return QStringLiteral("no EDID header 00 FF FF FF FF FF FF 00");
    }
    return {};
}

EdidSummary decodeEdidSummary(QByteArrayView bytes)
{
    EdidSummary summary;
    if (bytes.size() < BaseBlockSize || !hasHeader(bytes))
        return summary;
    summary.decoded = true;
    summary.manufacturer = manufacturer(bytes);
    summary.productCode = static_cast<quint16>(at(bytes, 10) | (at(bytes, 11) << 8));
    for (int offset : DescriptorOffsets) {
        const QByteArrayView d = bytes.sliced(offset, DescriptorSize);
        const bool timing = at(d, 0) != 0 || at(d, 1) != 0;
        // The first detailed timing is the preferred one.
        if (timing && summary.preferredTiming.isEmpty())
            summary.preferredTiming = detailedTiming(d);
        else if (!timing && at(d, 3) == NameTag && summary.monitorName.isEmpty())
            summary.monitorName = descriptorText(d);
    }
    return summary;
}

QString edidSummaryLine(const EdidSummary &summary)
{
    if (!summary.decoded)
        return QStringLiteral("no EDID base block");
    QString line = summary.manufacturer + QStringLiteral(" 0x")
        + QStringLiteral("%1").arg(summary.productCode, 4, 16, QLatin1Char('0')).toUpper();
    if (!summary.monitorName.isEmpty())
        line += QStringLiteral(" \"") + summary.monitorName + QLatin1Char('"');
    line += QLatin1Char(' ')
        + (summary.preferredTiming.isEmpty() ? QStringLiteral("no preferred timing")
                                             : summary.preferredTiming);
    return line;
}
