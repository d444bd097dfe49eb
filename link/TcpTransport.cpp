#include "TcpTransport.h"

#include <QHostAddress>

#include <algorithm>

TcpTransport::TcpTransport(QObject *parent) : Transport(parent)
{
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        const QByteArray bytes = m_socket.readAll();
        if (m_open && !bytes.isEmpty())
            Q_EMIT received(bytes);
    });
    connect(&m_socket, &QTcpSocket::stateChanged, this, &TcpTransport::onStateChanged);
    connect(&m_socket, &QTcpSocket::disconnected, this, &TcpTransport::onLost);
    m_openDeadline.setSingleShot(true);
    m_openDeadline.setTimerType(Qt::PreciseTimer);
    connect(&m_openDeadline, &QTimer::timeout, this,
        [this] { endOpen(false, QStringLiteral("Connection timed out")); });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            onLost();
    });
}

TcpTransport::~TcpTransport()
{
    m_socket.disconnect(this);
    m_socket.abort();
}

void TcpTransport::setTarget(const QString &address, quint16 port)
{
    m_host = address;
    m_port = port;
}

void TcpTransport::startOpen(int timeoutMs)
{
    // "0.0.0.0" stands for "no device selected"; the system would route it to this host.
    const QHostAddress literal(m_host);
    if (m_host.trimmed().isEmpty()
        || (literal == QHostAddress(QHostAddress::AnyIPv4)
            || literal == QHostAddress(QHostAddress::AnyIPv6))) {
        Q_EMIT openEnded(false, QStringLiteral("no device selected"));
        return;
    }
    m_opening = true;
    m_openDeadline.start(std::max(0, timeoutMs));
    m_socket.connectToHost(m_host, m_port);
}

void TcpTransport::abortOpen()
{
    if (!m_opening)
        return;
    m_opening = false;
    m_openDeadline.stop();
    m_socket.abort();
}

void TcpTransport::onStateChanged(QAbstractSocket::SocketState state)
{
    if (!m_opening)
        return;
    if (state == QAbstractSocket::ConnectedState)
        endOpen(true, {});
    else if (state == QAbstractSocket::UnconnectedState)
        endOpen(false, m_socket.errorString());
}

void TcpTransport::endOpen(bool opened, const QString &error)
{
    m_opening = false;
    m_openDeadline.stop();
    if (opened)
        m_open = true;
    else
        m_socket.abort();
    Q_EMIT openEnded(opened, error);
}

void TcpTransport::close()
{
    abortOpen();
    m_open = false;
    m_socket.abort();
}

bool TcpTransport::isOpen() const
{
    return m_open && m_socket.state() == QAbstractSocket::ConnectedState;
}

qint64 TcpTransport::write(const QByteArray &bytes)
{
    if (!isOpen())
        return -1;
    const qint64 written = m_socket.write(bytes);
    m_socket.flush();
    return written;
}

void TcpTransport::discardPending()
{
    if (isOpen())
        m_socket.readAll();
}

void TcpTransport::onLost()
{
    if (!m_open)
        return;
    m_open = false;
    const QString reason = m_socket.errorString();
    m_socket.abort();
    Q_EMIT failed(reason);
}
