#pragma once

#include "SimEdid.h"
#include "SimFaults.h"
#include "SimFirmware.h"
#include "SimNetwork.h"
#include "SwitcherSimulator.h"

#include <QByteArrayList>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>

class InProcessTransport;
class QTcpSocket;
class SimLinePacer;
class SimSession;

// One simulated switcher reachable over TCP, pseudo terminals and in-process transports.
// All connections share the device state and the faults; each has its own byte stream.
class SimulatorServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SimulatorServer)
public:
    explicit SimulatorServer(QObject *parent = nullptr);
    ~SimulatorServer() override;

    SwitcherSimulator &simulator() { return m_simulator; }
    SimFaults &faults() { return m_faults; }
    SimEdid &edid() { return m_edid; }
    SimFirmware &firmware() { return m_firmware; }
    // The network modules: module frames on every link, datagrams once bound.
    SimNetwork &network() { return m_network; }

    // Paces every connection opened from now on like a serial line at this baud rate (0: as
    // fast as the transport goes).
    void setBaud(int baud) { m_baud = baud; }
    int baud() const { return m_baud; }

    // port 0 = any free port. Clients may come and go, one after another or side by side.
    bool listenTcp(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 tcpPort() const { return m_tcp.serverPort(); }
    QString tcpError() const { return m_tcp.errorString(); }

    // A new pseudo terminal served by the device; returns its slave path ("" on failure, the
    // reason in ptyError()). On a serial line a hang-up fault only loses that reply.
    QString openPty(const QString &symlinkPath = {});
    QString ptyError() const { return m_ptyError; }

    // Serves an in-process transport: what the link writes reaches the device at once, the
    // replies arrive later from the event loop, as from a wire. A hang-up breaks the stream.
    void attach(InProcessTransport *transport);

    // The newest well-formed requests seen on any connection, in order, as the bytes on the
    // wire: at most RequestHistory of them, so that a switcher serving for days (or the demo
    // window's) does not grow with every request.
    static constexpr qsizetype RequestHistory = 1024;
    QByteArrayList received() const { return m_received; }
    void clearReceived() { m_received.clear(); }

Q_SIGNALS:
    void requestHandled(const QByteArray &request13);

private:
    SimSession *newSession(QObject *owner);
    // A session behind the line's pacing; the transport talks to the pacer.
    SimLinePacer *newLine(QObject *owner);
    void serve(QTcpSocket *socket);

    // Declared first so that they outlive the sessions below that refer to them.
    SwitcherSimulator m_simulator;
    SimFirmware m_firmware{m_simulator.state()};
    SimEdid m_edid{m_simulator};
    SimFaults m_faults;
    SimNetwork m_network;
    QByteArrayList m_received;
    QString m_ptyError;
    int m_baud = 0;
    QTcpServer m_tcp;
};
