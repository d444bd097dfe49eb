#include "InProcessTransport.h"

bool InProcessTransport::open(QString *error, int)
{
    if (!m_openable) {
        if (error)
            *error = QStringLiteral("refused");
        return false;
    }
    m_open = true;
    Q_EMIT opened();
    return true;
}

void InProcessTransport::startOpen(int)
{
    QString error;
    const bool ok = open(&error);
    Q_EMIT openEnded(ok, error);
}

qint64 InProcessTransport::write(const QByteArray &bytes)
{
    if (!m_open)
        return -1;
    Q_EMIT written(bytes);
    return bytes.size();
}

void InProcessTransport::breakStream(const QString &reason)
{
    if (!m_open)
        return;
    m_open = false;
    Q_EMIT failed(reason);
}

void InProcessTransport::deliver(const QByteArray &bytes)
{
    if (m_open && !bytes.isEmpty())
        Q_EMIT received(bytes);
}
