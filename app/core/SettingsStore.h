#pragma once

#include "SettingsFile.h"

#include <QObject>
#include <QSet>
#include <QString>

// The window's Settings.ini: read at the first showing, written back on many events. It keeps
// the file from being lost or silently not written:
// - leftovers of a save killed between the naming of its temporary file and the rename are
//   removed when the file is read;
// - a file that could not be read completely is moved aside (SettingsFile::moveAside) just
//   before the first write, and the operator is told both names;
// - a failed save is told every time as a short status text and once per distinct reason as a
//   warning; the old file stays as it was.
class SettingsStore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsStore)
public:
    explicit SettingsStore(QObject *parent = nullptr);

    void setPath(const QString &path) { m_path = path; }
    QString path() const { return m_path; }

    AppSettings load();
    bool save(const AppSettings &settings);
    bool savePortTags(TControlMode controlMode, const QString &mac, const PortTags &tags);

Q_SIGNALS:
    // A text for a warning box.
    void warning(const QString &text);
    // A short text for a status panel, at every failed save.
    void saveFailed(const QString &text);

private:
    bool prepareWrite();
    void reportFailure(const QString &error);

    QString m_path;
    QString m_unreadReason; // why the file read last must be moved aside; empty: nothing to do
    QSet<QString> m_reported;
};
