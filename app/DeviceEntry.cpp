#include "DeviceEntry.h"

QString GetEntryField(const QString &entry, DeviceField field)
{
    const int k = static_cast<int>(field);
    if (entry.isEmpty()) {
        switch (field) {
        case DeviceField::Tag:
            return {};
        case DeviceField::Dhcp:
            return QStringLiteral("Static IP");
        case DeviceField::MAC:
            return QStringLiteral("00-00-00-00-00-00");
        case DeviceField::Subnet:
            return QStringLiteral("Same Subnet");
        default:
            return QStringLiteral("0.0.0.0");
        }
    }
    qsizetype open = -1;
    for (int i = 0; i <= k; ++i) {
        open = entry.indexOf(QLatin1Char('['), open + 1);
        if (open < 0)
            return {};
    }
    const qsizetype close = entry.indexOf(QLatin1Char(']'), open + 1);
    return entry.mid(open + 1, close < 0 ? -1 : close - open - 1);
}
