#include "TcpTransport.h"

#include "EventWait.h"

#include <QHostAddress>

TcpTransport::TcpTransport(QObject *parent) : Transport(parent)
{
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        const QByteArray bytes = m_socket.readAll();
        if (m_open && !bytes.isEmpty())
            Q_EMIT received(bytes);
    });
    connect(&m_socket, &QTcpSocket::disconnected, this, &TcpTransport::onLost);
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

bool TcpTransport::open(QString *error, int timeoutMs)
{
    // "0.0.0.0" stands for "no device selected"; the system would route it to this host.
    const QHostAddress literal(m_host);
    if (m_host.trimmed().isEmpty()
        || (literal == QHostAddress(QHostAddress::AnyIPv4)
            || literal == QHostAddress(QHostAddress::AnyIPv6))) {
        if (error)
            *error = QStringLiteral("no device selected");
        return false;
    }

    EventWait wait(stopRequest());
    wait.wakeOn(&m_socket, &QTcpSocket::stateChanged);
    m_socket.connectToHost(m_host, m_port);
    const EventWait::End end = wait.until(
        [this] {
            const auto state = m_socket.state();
            return state == QAbstractSocket::ConnectedState
                || state == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);

    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        if (error) {
            switch (end) {
            case EventWait::End::Deadline:
                *error = QStringLiteral("Connection timed out");
                break;
            case EventWait::End::Stopped:
                *error = QStringLiteral("Connection stopped");
                break;
            default:
                *error = m_socket.errorString();
                break;
            }
        }
        m_socket.abort();
        return false;
    }
    m_open = true;
    return true;
}

void TcpTransport::close()
{
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
