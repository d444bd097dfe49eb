#include "DeviceEntry.h"

#include "NetworkModuleControl.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

QString safeField(const QString &field)
{
    // tagText does the work for any text: it keeps what can be shown.
    return tagText(field.toUtf8());
}

bool allOf(const QString &text, const QString &allowed)
{
    return std::all_of(
        text.begin(), text.end(), [&allowed](QChar c) { return allowed.contains(c); });
}

} // namespace

QString makeDeviceEntry(const QStringList &fields)
{
    QString entry;
    for (int k = 0; k < EntryField::Count; ++k) {
        if (k)
            entry += QLatin1String(" - ");
        entry += QLatin1Char('[') + safeField(fields.value(k)) + QLatin1Char(']');
    }
    return entry;
}

QString GetEntryField(const QString &entry, int k)
{
    if (entry.isEmpty()) {
        switch (k) {
        case EntryField::Mode:
            return StaticIPText;
        case EntryField::IP:
        case EntryField::Gateway:
        case EntryField::Mask:
            return QStringLiteral("0.0.0.0");
        case EntryField::MAC:
            return QStringLiteral("00-00-00-00-00-00");
        case EntryField::Reach:
            return SameSubnetText;
        default:
            return {};
        }
    }
    if (k < 0)
        return {};
    qsizetype open = -1;
    for (int i = 0; i <= k; ++i) {
        open = entry.indexOf(QLatin1Char('['), open + 1);
        if (open < 0)
            return {};
    }
    const qsizetype close = entry.indexOf(QLatin1Char(']'), open + 1);
    return close < 0 ? entry.mid(open + 1) : entry.mid(open + 1, close - open - 1);
}

QString foundDeviceEntry(
    const NetworkModuleControl &control, int device, bool answeredPing, const QString &ipOverride)
{
    const auto item = [&](int n) { return control.GetTCPDeviceItem(device, n); };
    return makeDeviceEntry({item(6), item(7) == QLatin1String("0") ? StaticIPText : AutoIPText,
        ipOverride.isEmpty() ? item(1) : ipOverride, item(2), item(3), item(0),
        answeredPing ? SameSubnetText : CrossSubnetText});
}

bool ParseIPText(const QString &text, std::array<QString, 4> *parts)
{
    *parts = {};
    if (!allOf(text, QStringLiteral("0123456789.")) || text.count(QLatin1Char('.')) != 3)
        return false;
    const QStringList pieces = text.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i) {
        const QString &piece = pieces[i];
        if (piece.isEmpty())
            return false;
        qsizetype first = 0;
        while (first < piece.size() - 1 && piece[first] == QLatin1Char('0'))
            ++first;
        // Any length of digits is a number; a long one is above 255.
        const bool large = piece.size() - first > 3 || piece.mid(first).toInt() > 255;
        (*parts)[static_cast<std::size_t>(i)] = large ? QStringLiteral("255") : piece;
    }
    return true;
}

bool ParseMACText(const QString &text, MacAddress *mac)
{
    *mac = {};
    const QString upper = text.trimmed().toUpper();
    if (!allOf(upper, QStringLiteral("0123456789ABCDEF-")))
        return false;
    const QStringList parts = upper.split(QLatin1Char('-'));
    for (int i = 0; i < std::min<qsizetype>(parts.size(), 6); ++i) {
        QString part = parts[i];
        if (part.isEmpty())
            part = QStringLiteral("00");
        else if (part.size() == 1)
            part.prepend(QLatin1Char('0'));
        (*mac)[static_cast<std::size_t>(i)] = static_cast<quint8>(part.left(2).toUInt(nullptr, 16));
    }
    return parts.size() == 6;
}

std::array<QString, 6> SplitMACText(const QString &text)
{
    MacAddress mac{};
    if (!ParseMACText(text, &mac))
        mac = {};
    std::array<QString, 6> out;
    const QStringList parts = macText(mac).split(QLatin1Char('-'));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = parts[static_cast<qsizetype>(i)];
    return out;
}

QString ClampIPField(const QString &text)
{
    if (text.isEmpty())
        return QStringLiteral("0");
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok) {
        // Digits beyond any integer are far above 254; anything else is no number at all.
        const bool digits = allOf(text, QStringLiteral("0123456789"));
        return digits ? QStringLiteral("255") : QStringLiteral("0");
    }
    if (value <= 0)
        return QStringLiteral("0");
    if (value > 254)
        return QStringLiteral("255");
    return text;
}

QString fitTagText(const QString &tag, int maxBytes)
{
    if (tag.toUtf8().size() <= maxBytes)
        return tag;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, tag);
    qsizetype fits = 0;
    for (qsizetype at = graphemes.toNextBoundary(); at > 0; at = graphemes.toNextBoundary()) {
        if (QStringView(tag).first(at).toUtf8().size() > maxBytes)
            break;
        fits = at;
    }
    return tag.first(fits);
}

ConfigRecord buildConfigRecord(const MacAddress &mac, const QString &tag, bool autoIP,
    const std::array<QString, 4> &ip, const std::array<QString, 4> &gateway,
    const std::array<QString, 4> &mask)
{
    ConfigRecord record;
    record.setTargetMac(mac);
    record.setTag(tagBytes(tag, ConfigRecord::TagSize));
    record.setOperation(ConfigRecord::OperationAutoIP);
    if (autoIP) {
        record.setDhcp(1);
        return record;
    }
    const auto bytes = [](const std::array<QString, 4> &fields) {
        IPv4Bytes out{};
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<quint8>(ClampIPField(fields[i]).toInt());
        return out;
    };
    record.setDhcp(0);
    record.setIP(bytes(ip));
    record.setGateway(bytes(gateway));
    record.setMask(bytes(mask));
    record.setOperation(ConfigRecord::OperationStatic);
    return record;
}

QString configuredEntry(const QString &formerEntry, const QString &tag, bool autoIP,
    const ConfigRecord &request, const ConfigRecord &answer)
{
    const ConfigRecord &source = autoIP ? answer : request;
    const MacAddress mac = autoIP ? answer.moduleMac() : request.targetMac();
    return makeDeviceEntry(
        {tag, autoIP ? AutoIPText : StaticIPText, ipText(source.ip()), ipText(source.gateway()),
            ipText(source.mask()), macText(mac), GetEntryField(formerEntry, EntryField::Reach)});
}
