#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QTextStream>

// EDIDs the tests build themselves, so that a plain clone tests everything.
namespace EdidFixture {

// The classic 1920x1080@60 detailed timing (148.5 MHz), and 1920x1080i@60 (74.25 MHz).
inline QByteArray timing1080p()
{
    return QByteArray::fromHex("023a801871382d40582c4500c48e2100001e");
}
inline QByteArray timing1080i()
{
    return QByteArray::fromHex("011d8018711c1620582c2500c48e2100009e");
}

// Makes block `block` (0 or 1) sum to zero modulo 256 through its last byte.
inline void seal(QByteArray &edid, int block)
{
    int sum = 0;
    for (int i = block * 128; i < block * 128 + 127; ++i)
        sum += static_cast<quint8>(edid[i]);
    edid[block * 128 + 127] = static_cast<char>((256 - sum % 256) % 256);
}

// A 256-byte EDID: base block with the maker, product code, a name descriptor when `name` is
// given and the timing (empty = none) in the first descriptor; a CTA extension; both blocks
// sealed.
inline QByteArray make(const char *maker = "ABC", quint16 product = 0x1234,
    const QByteArray &name = "Test Monitor", const QByteArray &timing = timing1080p())
{
    QByteArray e(256, '\0');
    e.replace(0, 8, QByteArray::fromHex("00ffffffffffff00"));
    const int id = ((maker[0] - '@') << 10) | ((maker[1] - '@') << 5) | (maker[2] - '@');
    e[8] = static_cast<char>(id >> 8);
    e[9] = static_cast<char>(id & 0xFF);
    e[10] = static_cast<char>(product & 0xFF);
    e[11] = static_cast<char>(product >> 8);
    e[18] = 1;
    e[19] = 3;
    if (!timing.isEmpty())
        e.replace(54, 18, timing);
    else
        e[54 + 3] = 0x10; // a dummy descriptor in its place
    if (!name.isEmpty()) {
        QByteArray text = name.left(13);
        if (text.size() < 13)
            text += '\n';
        e[90 + 3] = static_cast<char>(0xFC);
        e.replace(95, 13, text.leftJustified(13, ' '));
    }
    e[126] = 1;
    e[128] = 0x02;
    e[129] = 0x03;
    e[130] = 0x04;
    seal(e, 0);
    seal(e, 1);
    return e;
}

// The real-EDID folder, or "" when this checkout has none beside it.
inline QString testDataFolder()
{
    const QString root = qEnvironmentVariable("MATRIX_TESTDATA");
    const QString folder = QDir(root).filePath(QStringLiteral("edid"));
    return !root.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

// The folder README's verdict for each file: true when a program that accepts 256 or 257
// bytes with the right sum and header accepts it.
inline QMap<QString, bool> testDataVerdicts(const QString &folder)
{
    QMap<QString, bool> verdicts;
    QFile readme(QDir(folder).filePath(QStringLiteral("README.md")));
    if (!readme.open(QIODevice::ReadOnly | QIODevice::Text))
        return verdicts;
    static const QRegularExpression fileLine(QStringLiteral("^(\\S+\\.bin)\\s*$"));
    static const QRegularExpression programLine(
        QStringLiteral("^\\s+program\\s*:\\s*(ACCEPT|REFUSE)"));
    QString current;
    QTextStream in(&readme);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (const auto m = fileLine.match(line); m.hasMatch())
            current = m.captured(1);
        else if (const auto p = programLine.match(line); p.hasMatch() && !current.isEmpty())
            verdicts.insert(current, p.captured(1) == QLatin1String("ACCEPT"));
    }
    return verdicts;
}

} // namespace EdidFixture
