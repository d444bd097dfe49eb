#pragma once

#include "NetDatagrams.h"
#include "SimModule.h"

#include <QByteArrayList>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QUdpSocket;

// Misbehaviour of the simulated network modules. Counters spoil that many of the upcoming
// answers and count down; the rest stays until changed.
struct SimNetworkFaults
{
    quint8 configStatus = ConfigRecord::StatusAccepted; // 0x20 conflict, 0x10 failed, ...:
                                                        // anything but 0x00 changes nothing
    bool invalidRecordFirst = false; // a 0xFF record ahead of the answer, in one datagram
    int dropSearchReplies = 0; // one per module and request
    int dropConfigAnswers = 0;
    int dropModuleReplies = 0; // module frames over the switcher's own link
    int corruptModuleChecksum = 0;
    int refuseModuleFrames = 0; // ReceiveOK 0xFF
};

// The network modules of one simulated switcher process: the first is the switcher's own
// and answers the 32-byte module frames on its serial and TCP links; all of them answer
// search requests (one 55-byte reply datagram each) and configuration records addressed to
// their MAC. Datagrams are served once bind() has been called, on the given address only,
// and every answer goes by unicast to the sender: nothing is ever broadcast.
class SimNetwork final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SimNetwork)
public:
    explicit SimNetwork(QObject *parent = nullptr);
    ~SimNetwork() override;

    QList<SimModuleState> &modules() { return m_modules; }
    const QList<SimModuleState> &modules() const { return m_modules; }
    // Adds or removes modules; module n (1-based) gets MAC 02-4D-58-00-00-n, the address
    // firstIP + n - 1 with gateway x.y.z.1 and the tag "TCP Module" (n = 1) or
    // "TCP Module n".
    void setModuleCount(int count, const IPv4Bytes &firstIP = {192, 168, 0, 100});
    SimNetworkFaults &faults() { return m_faults; }
    // A module inside a program that must never reach the network: a static address outside
    // 127.0.0.0/8 is refused as failed (0x10), changing nothing, and Auto IP keeps the
    // module's address.
    void setLoopbackOnly(bool on) { m_loopbackOnly = on; }

    // Serves the two ports on address. A specific address also hears the broadcasts that
    // reach it (255.255.255.255 and its subnet's), as a module on that network would;
    // 0.0.0.0 hears everything. Port 0 takes a free port. False with the reason in error when
    // a port cannot be had.
    bool bind(const QHostAddress &address, QString *error = nullptr,
        quint16 searchPort = SearchPort, quint16 configPort = ConfigPort);
    void close();
    bool isBound() const { return !m_sockets.isEmpty(); }
    // The ports served since the last bind (0 when not bound).
    quint16 searchPort() const { return m_boundSearchPort; }
    quint16 configPort() const { return m_boundConfigPort; }

    // The answers to one received datagram, in the order they are sent.
    QByteArrayList answerSearch(const QByteArray &datagram);
    QByteArrayList answerConfig(const QByteArray &datagram);
    // The switcher's own module answering a frame from its link (empty: silence).
    QByteArray answerModuleFrame(const QByteArray &frame);

    // What has come in, for tests.
    int searchRequests() const { return m_searchRequests; }
    int configRequests() const { return m_configRequests; }
    int moduleFrames() const { return m_moduleFrames; }

    // The address module index (0-based) takes when it is switched to Auto IP: x.y.z.(200 + n)
    // in the /24 of its current address, with gateway x.y.z.1.
    static IPv4Bytes leaseFor(const SimModuleState &module, int index);

Q_SIGNALS:
    // A module's settings changed (configuration or reset).
    void moduleChanged(int index);

private:
    void serve(QUdpSocket *from, QUdpSocket *replyVia, bool search);

    QList<SimModuleState> m_modules;
    SimNetworkFaults m_faults;
    bool m_loopbackOnly = false;
    quint16 m_boundSearchPort = 0;
    quint16 m_boundConfigPort = 0;
    QList<QUdpSocket *> m_sockets; // children
    int m_searchRequests = 0;
    int m_configRequests = 0;
    int m_moduleFrames = 0;
};
