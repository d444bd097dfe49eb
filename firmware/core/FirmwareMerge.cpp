#include "FirmwareMerge.h"

#include "FileAccess.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

int versionValue(const QString &text)
{
    const QString digits = text.left(3);
    if (digits.isEmpty())
        return 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    return std::min(digits.toInt(), 255);
}

FirmwareMergeResult MergeFirmware(
    FirmwareMergeSources &sources, QString &lastFolder, FirmwareMergeHost &host)
{
    QByteArray package;
    QString suffix;
    for (int i = 0; i < FirmwareMcuCount; ++i) {
        FirmwareMergeSource &source = sources[static_cast<std::size_t>(i)];
        const FirmwareMcuInfo &info = mcuInfo(static_cast<FirmwareMcu>(i));
        const QString label = QLatin1String(info.label);

        const QString path = source.file.trimmed();
        if (path.isEmpty())
            continue;
        const QFileInfo fileInfo(path);
        if (!fileInfo.exists()) {
            host.appendError(label + QLatin1String(" firmware file: ") + path
                + QLatin1String(" does not exist"));
            continue;
        }
        if (lastFolder.isEmpty())
            lastFolder = fileInfo.absolutePath();

        // Bounded, so that a wrong file chosen by mistake (a disk image, a video, a device) is
        // never loaded whole.
        FileAccess::ReadResult read = FileAccess::readFile(path, MaxFirmwareImageSize);
        if (!read.ok) {
            host.appendError(label + QLatin1String(" firmware file: ") + path
                + QLatin1String(" cannot be read: ") + read.reason);
            continue;
        }
        // A part without an image is refused by the upgrade: no package is built with one.
        if (read.bytes.isEmpty()) {
            host.appendError(
                label + QLatin1String(" firmware file: ") + path + QLatin1String(" is empty"));
            continue;
        }
        QByteArray image = std::move(read.bytes);
        host.appendMessage(label + QLatin1String(" firmware: ") + path + QLatin1String(" loaded"));

        const int v1 = versionValue(source.version1);
        const int v2 = versionValue(source.version2);
        source.version1 = QString::number(v1);
        source.version2 = QString::number(v2);

        const FirmwareHeader header = FirmwareHeader::make(info.subcommand, info.mcu,
            static_cast<quint16>(v1), static_cast<quint16>(v2), static_cast<quint32>(image.size()));
        Scramble(image);
        package += header.toByteArray();
        package += image;

        const QString version = QString::number(v1) + QLatin1Char('.') + QString::number(v2);
        host.appendMessage(label + QLatin1String(" firmware merged, ver") + version);
        suffix += QLatin1String(info.suffix) + version;
    }

    FirmwareMergeResult result;
    if (package.isEmpty())
        return result;

    result.path
        = QDir(lastFolder).filePath(QLatin1String("Zelkora8") + suffix + QLatin1String(".fw"));
    if (QFileInfo::exists(result.path)
        && !host.confirm(QLatin1String("Firmware file: ") + result.path
            + QLatin1String(" exists, overwrite it?"))) {
        host.appendMessage(QStringLiteral("Save canceled"));
        result.outcome = FirmwareMergeResult::Canceled;
        return result;
    }
    // Written aside and renamed, so that a failed save never leaves half a package.
    QString reason;
    if (!FileAccess::writeFile(result.path, package, &reason)) {
        host.appendError(QLatin1String("Firmware file: ") + result.path
            + QLatin1String(" could not be saved: ") + reason);
        result.outcome = FirmwareMergeResult::SaveFailed;
        return result;
    }
    host.appendMessage(QLatin1String("Firmware merged complete, save to file: ") + result.path);
    result.outcome = FirmwareMergeResult::Saved;
    return result;
}
