#pragma once

// Firmware images and packages built by the tests themselves.
#include "FirmwarePackage.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// An image whose every byte depends on its position and on the seed, so that a block sent
// twice, lost or out of order shows.
inline QByteArray testImage(qsizetype size, int seed = 1)
{
    QByteArray image(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        image[i] = static_cast<char>((i * 7 + (i >> 8) * 13 + seed * 31) & 0xFF);
    return image;
}

// One package part: header and scrambled image.
inline QByteArray packagePart(
    quint8 subcommand, quint16 mcu, quint16 v1, quint16 v2, const QByteArray &image)
{
    QByteArray scrambled = image;
    Scramble(scrambled);
    return FirmwareHeader::make(subcommand, mcu, v1, v2, static_cast<quint32>(image.size()))
               .toByteArray()
        + scrambled;
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}
