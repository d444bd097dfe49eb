#pragma once

#include "Transport.h"

// A transport whose far end is code in the same process: what the link writes comes out of
// written(), and deliver() hands bytes to the link as if they had arrived on a wire.
class InProcessTransport final : public Transport
{
    Q_OBJECT
public:
    using Transport::Transport;

    void setTarget(const QString &address, quint16) override { m_target = address; }
    QString target() const { return m_target; }
    // Opens at once, or refuses (setOpenable).
    bool open(QString *error = nullptr, int timeoutMs = 0);
    void startOpen(int) override;
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    qint64 write(const QByteArray &bytes) override;
    void discardPending() override { }

    // Test controls: refuse the next opens, or break the stream as a vanished device would.
    void setOpenable(bool openable) { m_openable = openable; }
    void breakStream(const QString &reason = QStringLiteral("peer gone"));

public Q_SLOTS:
    void deliver(const QByteArray &bytes);

Q_SIGNALS:
    void written(const QByteArray &bytes);
    void opened();

private:
    QString m_target;
    bool m_open = false;
    bool m_openable = true;
};
