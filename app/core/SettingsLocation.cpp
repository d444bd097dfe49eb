#include "SettingsLocation.h"

#include "FileAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

constexpr int ProbeNameLength = 240;

} // namespace

SettingsLocation SettingsLocation::forProgramFolder(const QString &programFolder)
{
    if (QFileInfo::exists(QDir(programFolder).filePath(QLatin1String(InstalledMarker))))
        return {userConfigFolder(), true};
    return {programFolder, false};
}

QString SettingsLocation::userConfigFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QLatin1String(ConfigFolderName));
}

QString SettingsLocation::prepare() const
{
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
    if (error)
        return QString::fromLocal8Bit(error.message());
    // A probe file of a random name shows that files can be made there.
    return FileAccess::folderNotWritableReason(folder);
}

QString SettingsLocation::refusalText(const QString &reason) const
{
    if (reason.isEmpty())
        return {};
    return QStringLiteral("Matrix Controller keeps its settings in the folder \"%1\", which cannot "
                          "be written: %2.\nMake that folder writable for your user, or set "
                          "XDG_CONFIG_HOME to a folder that is, then start it again.")
        .arg(QDir::toNativeSeparators(folder), reason);
}

QString SettingsLocation::probeFileName(const QString &folder, int minLetters)
{
    QString name = folder;
    if (!name.endsWith(QLatin1Char('/')))
        name += QLatin1Char('/');
    const qsizetype letters = std::max<qsizetype>(minLetters, ProbeNameLength - name.size());
    for (qsizetype i = 0; i < letters; ++i)
        name += QChar(u'A' + QRandomGenerator::global()->bounded(26));
    return name + QStringLiteral(".tmp");
}

bool SettingsLocation::IsFolderWritable(const QString &folder)
{
    // A long folder leaves no room for random letters; should that one name exist, add some.
    QString name = probeFileName(folder);
    while (QFileInfo::exists(name))
        name = probeFileName(folder, 8);
    QFile probe(name);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    probe.close();
    probe.remove();
    return true;
}
