#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class StopRequest;

// A byte stream to the switcher: a serial port, a TCP connection or an in-process pipe.
// Received bytes are delivered the moment they arrive.
class Transport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Where open() goes: a serial port name, or a host and port.
    virtual void setTarget(const QString &address, quint16 port) = 0;
    // Opens the stream; may run a local event loop while it waits, at most timeoutMs where
    // connecting takes time. On failure returns false and sets the reason.
    virtual bool open(QString *error, int timeoutMs) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Returns the number of bytes accepted, or -1 on failure. Accepted bytes may still wait
    // for the line (bytesToWrite).
    virtual qint64 write(const QByteArray &bytes) = 0;
    // Accepted bytes the system has not taken yet.
    virtual qint64 bytesToWrite() const { return 0; }
    // Drops whatever has been received but not yet delivered, and unsent output.
    virtual void discardPending() = 0;

    // A stop request ends a pending open at once (it then fails).
    void setStopRequest(const StopRequest *stop) { m_stop = stop; }

Q_SIGNALS:
    void received(const QByteArray &bytes);
    // Some of the accepted bytes went to the system.
    void bytesWritten();
    // The stream broke while open (peer gone, device unplugged). It is closed already.
    void failed(const QString &reason);

protected:
    const StopRequest *stopRequest() const { return m_stop; }

private:
    const StopRequest *m_stop = nullptr;
};
