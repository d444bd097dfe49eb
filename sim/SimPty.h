#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The switcher's serial line as a pseudo terminal: the controller opens the slave path like a
// serial port, the simulator reads and writes the master. The line is raw (no echo, no line
// editing). A slave descriptor stays open here for the pty's whole life, so the controller may
// close and reopen its end at will without the master reading end-of-file or EIO. On a system
// without pseudo terminals open() fails with the reason, and the simulator serves TCP alone.
class SimPty final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SimPty)
public:
    explicit SimPty(QObject *parent = nullptr);
    ~SimPty() override;

    // Creates the pty and, if symlinkPath is given, a symbolic link to its slave (replacing a
    // stale link left by an earlier run, never a regular file).
    bool open(const QString &symlinkPath, QString *error);
    QString slavePath() const { return m_slavePath; }
    QString symlinkPath() const { return m_symlinkPath; }

    // Bytes nobody reads pile up in the line's buffer; once it is full the rest is lost, as on
    // a serial line without a listener.
    void write(const QByteArray &bytes);

Q_SIGNALS:
    void received(const QByteArray &bytes);

private:
    void readMaster();
    void close();

    int m_master = -1;
    int m_slave = -1;
    QSocketNotifier *m_notifier = nullptr;
    QString m_slavePath;
    QString m_symlinkPath;
};
