#include "SettingsStore.h"

#include "FileAccess.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

SettingsStore::SettingsStore(QObject *parent) : QObject(parent) { }

AppSettings SettingsStore::load()
{
    FileAccess::removeLeftoverSaves(m_path);
    const SettingsRead read = SettingsFile::read(m_path);
    m_unreadReason = read.status == SettingsRead::Incomplete ? read.reason : QString();
    return read.settings;
}

bool SettingsStore::save(const AppSettings &settings)
{
    if (!prepareWrite())
        return false;
    QString error;
    if (SettingsFile::save(m_path, settings, &error))
        return true;
    reportFailure(error);
    return false;
}

bool SettingsStore::savePortTags(TControlMode controlMode, const QString &mac, const PortTags &tags)
{
    if (!prepareWrite())
        return false;
    QString error;
    if (SettingsFile::savePortTags(m_path, controlMode, mac, tags, &error))
        return true;
    reportFailure(error);
    return false;
}

// False when the file that could not be read completely is still in the way.
bool SettingsStore::prepareWrite()
{
    if (m_unreadReason.isEmpty())
        return true;
    QString error;
    const QString backup = SettingsFile::moveAside(m_path, QDateTime::currentDateTime(), &error);
    if (backup.isEmpty()) {
        reportFailure(u"%1 could not be read completely (%2) and is kept as it is. %3"_s.arg(
            QDir::toNativeSeparators(m_path), m_unreadReason, error));
        return false;
    }
    const QString reason = m_unreadReason;
    m_unreadReason.clear();
    Q_EMIT warning(u"%1 could not be read completely: %2.\n\nIt was moved aside as %3, and a new "
                   u"%4 is written with the settings that could be read."_s.arg(
                       QDir::toNativeSeparators(m_path), reason, QDir::toNativeSeparators(backup),
                       QFileInfo(m_path).fileName()));
    return true;
}

void SettingsStore::reportFailure(const QString &error)
{
    Q_EMIT saveFailed(QFileInfo(m_path).fileName() + u" not saved"_s);
    if (m_reported.contains(error))
        return;
    m_reported.insert(error);
    Q_EMIT warning(error);
}
