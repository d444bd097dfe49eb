#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// A byte stream to the switcher: a serial port, a TCP connection or an in-process pipe.
// Received bytes are delivered the moment they arrive.
class Transport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Where open() goes: a serial port name, or a host and port.
    virtual void setTarget(const QString &address, quint16 port) = 0;
    // Starts opening the stream; openEnded() tells how it went: at once where nothing needs
    // waiting for (a serial port, an in-process pipe), later where connecting takes time, at
    // most timeoutMs. Nothing waits in here.
    virtual void startOpen(int timeoutMs) = 0;
    // Gives up an open still under way; no openEnded() follows.
    virtual void abortOpen() { }
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Returns the number of bytes accepted, or -1 on failure. Accepted bytes may still wait
    // for the line (bytesToWrite).
    virtual qint64 write(const QByteArray &bytes) = 0;
    // Accepted bytes the system has not taken yet.
    virtual qint64 bytesToWrite() const { return 0; }
    // Drops whatever has been received but not yet delivered, and unsent output.
    virtual void discardPending() = 0;

Q_SIGNALS:
    void received(const QByteArray &bytes);
    // Some of the accepted bytes went to the system.
    void bytesWritten();
    // The stream broke while open (peer gone, device unplugged). It is closed already.
    void failed(const QString &reason);
    // The end of startOpen(): opened, or not with the reason.
    void openEnded(bool opened, const QString &error);
};
