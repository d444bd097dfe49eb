#include "TcpTransport.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QTimer>

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

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto done = connect(&m_socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    const auto failedToConnect
        = connect(&m_socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    m_socket.connectToHost(m_host, m_port);
    deadline.start(timeoutMs);
    if (m_socket.state() != QAbstractSocket::ConnectedState
        && m_socket.state() != QAbstractSocket::UnconnectedState)
        loop.exec();
    disconnect(done);
    disconnect(failedToConnect);

    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        if (error)
            *error = deadline.isActive() ? m_socket.errorString()
                                         : QStringLiteral("Connection timed out");
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
