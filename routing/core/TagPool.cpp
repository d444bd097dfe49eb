#include "TagPool.h"

#include <algorithm>

QStringList sortedPool(QStringList names)
{
    std::stable_sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

QStringList mergeIntoPool(const QStringList &pool, const QStringList &entered)
{
    QStringList merged = pool;
    for (const QString &name : entered) {
        if (!name.isEmpty() && !merged.contains(name, Qt::CaseInsensitive))
            merged.append(name);
    }
    return sortedPool(merged);
}

bool nameInUseElsewhere(const QStringList &texts, int index, const QString &name)
{
    for (int i = 0; i < texts.size(); ++i) {
        if (i != index && texts.at(i) == name)
            return true;
    }
    return false;
}

QString inputEntryText(int n, const QString &tag)
{
    const QString port = QStringLiteral("In") + QString::number(n);
    return tag.isEmpty() ? port : port + QStringLiteral(" - [") + tag + QLatin1Char(']');
}

QString outputFromText(int n, const QString &tag)
{
    const QString port = QStringLiteral("Out") + QString::number(n);
    return tag.isEmpty() ? port + QStringLiteral(" from")
                         : port + QStringLiteral(" - [") + tag + QStringLiteral("] from");
}
