#include "SerialTransport.h"

#include <QFileInfo>

namespace {
// A serial port the operator may not open belongs to a group that may (on Debian 'dialout').
// The system only says "Permission denied", so name the group that grants access, unless the
// port is one the operator could write anyway (then the refusal came from the port's lock).
QString accessHint(const QSerialPort &port)
{
    const QString name = port.portName();
    const QFileInfo device(QFileInfo(name).isAbsolute() ? name : QStringLiteral("/dev/") + name);
    const QString group = device.group();
    if (!device.exists() || device.isWritable() || group.isEmpty() || group == u"root")
        return {};
    return QStringLiteral(": add your user to the '%1' group").arg(group);
}
} // namespace

SerialTransport::SerialTransport(QObject *parent) : Transport(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        const QByteArray bytes = m_port.readAll();
        if (!bytes.isEmpty())
            Q_EMIT received(bytes);
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialTransport::onError);
    connect(&m_port, &QSerialPort::bytesWritten, this, &Transport::bytesWritten);
}

SerialTransport::~SerialTransport()
{
    m_port.disconnect(this);
    m_port.close();
}

void SerialTransport::setTarget(const QString &address, quint16)
{
    if (!m_port.isOpen())
        m_port.setPortName(address);
}

void SerialTransport::startOpen(int)
{
    // A serial port opens at once or not at all.
    QString error;
    const bool ok = open(&error);
    Q_EMIT openEnded(ok, error);
}

bool SerialTransport::open(QString *error)
{
    if (m_port.portName().isEmpty()) {
        if (error)
            *error = QStringLiteral("no serial port selected");
        return false;
    }
    m_port.setBaudRate(QSerialPort::Baud57600);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        if (error) {
            *error = m_port.errorString();
            if (m_port.error() == QSerialPort::PermissionError)
                *error += accessHint(m_port);
        }
        m_port.clearError();
        return false;
    }
    return true;
}

void SerialTransport::close()
{
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

qint64 SerialTransport::write(const QByteArray &bytes)
{
    // The bytes go out as the line takes them (the port signals bytesWritten). Forcing them
    // out at once would turn a line that is merely stopped into a "resource" error that closes
    // the port; the link's write time-out decides instead.
    return m_port.write(bytes);
}

void SerialTransport::discardPending()
{
    if (!m_port.isOpen())
        return;
    m_port.clear(QSerialPort::AllDirections);
    m_port.readAll();
}

void SerialTransport::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
        return;
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError: {
        // A vanished device (pty peer gone, adapter unplugged) keeps raising read errors
        // until the port is closed.
        const QString reason = m_port.errorString();
        const bool wasOpen = m_port.isOpen();
        close();
        if (wasOpen)
            Q_EMIT failed(reason);
        return;
    }
    case QSerialPort::UnsupportedOperationError:
        // Line settings a pseudo terminal does not support (DTR/RTS) are harmless.
        m_port.clearError();
        return;
    default:
        return;
    }
}
