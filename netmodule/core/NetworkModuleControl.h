#pragma once

#include "DatagramSocket.h"
#include "NetDatagrams.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class TKVCOMControl;

// Finds network modules and changes their settings with datagrams: the search (port 30600)
// and the configuration (port 30601), the found-device list and the last configuration
// record. It works beside the device link and uses the link's busy flags (Searching,
// Configuring), UDPMode, DeviceIP, StopRequested, timing and notifications: progress texts
// as 2039 (parameter 0 for a search, 1 for a configuration) and one trace (2025) per datagram.
//
// Everything runs on the GUI thread. The waits run local event loops: received datagrams
// are handled inside them, a wait for a reply ends the moment one arrives, and every wait ends
// at once when the link's stop is requested.
class NetworkModuleControl final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NetworkModuleControl)
public:
    static constexpr int DeviceItems = 8; // texts per found module
    static constexpr int SearchRounds = 5;
    static constexpr int ConfigRounds = 20;
    static constexpr int StepsPerRound = 30;
    static constexpr int StepTicks = 10; // one spinner step: 100 ms
    static constexpr int ReplyWaitTicks = 10; // the reply wait that ends a round
    static constexpr int UnicastPauseTicks = 5; // between the broadcast and the unicast copy
    static inline const QString BroadcastAddress = QStringLiteral("255.255.255.255");

    // socket: null for a real UDP socket.
    explicit NetworkModuleControl(TKVCOMControl &link,
        std::unique_ptr<DatagramSocket> socket = nullptr, QObject *parent = nullptr);
    ~NetworkModuleControl() override;

    TKVCOMControl &link() { return m_link; }
    DatagramSocket &socket() { return *m_socket; }

    // Sends the search request (to 255.255.255.255 and the directed broadcast address of each
    // interface in umBROADCAST mode, to DeviceIP in umNORMAL mode) and collects the replies
    // into FoundDevices, in up to five rounds of about three seconds. True when a reply
    // arrived; false at once when a search runs already, and false when the request could not
    // be sent at all (reported as 2037, the reason in lastError()). The caller clears
    // FoundDevices first when it wants a fresh list.
    bool SearchTCPDevice();

    // Sends the record (status and checksum are set here) to the search's broadcast targets and
    // to DeviceIP, and waits for the module's answer (the first, when several copies are
    // answered). Failed: no answer, a "failed" answer, a stop, a configuration already
    // running, or nothing could be sent. AddressConflict also at once, with nothing sent, when
    // the new address is one of the PC's own.
    ConfigResult SetTCPConfig(const ConfigRecord &record);

    QStringList &FoundDevices() { return m_foundDevices; }
    const QStringList &FoundDevices() const { return m_foundDevices; }
    int GetTCPDeviceCount() const;
    // Item 0..7 of device 1..count; the item's default for any other device number.
    QString GetTCPDeviceItem(int device, int item) const;
    static QString defaultDeviceItem(int item);

    // The last configuration request, replaced by the accepted answer.
    const ConfigRecord &configRecord() const { return m_configRecord; }

    // The PC's IPv4 address: the first one of an interface that is up and not loopback, else
    // 127.0.0.1. Nothing is looked up by name, so nothing blocks.
    static QString GetLocalIP();
    // 255.255.255.255, then the directed broadcast address of each up, non-loopback IPv4
    // interface.
    static QList<QHostAddress> searchTargets();

    // The socket's receive handler; public so that tests and fuzzers can feed it.
    void UDPDataReceived(const QByteArray &datagram, const QString &sender, quint16 port);
    // Waits up to ticks ticks for a reply; returns UDPReplied.
    bool WaitUDPReply(int ticks);

    bool UDPReceiving() const { return m_udpReceiving; }
    void setUDPReceiving(bool on) { m_udpReceiving = on; }
    bool UDPReplied() const { return m_udpReplied; }

    // Why the last search or configuration could not send; empty when it could.
    QString lastError() const { return m_lastError; }
    // "UDP port 30600 is in use by another program" when that is why the last search or
    // configuration could not run, else empty. The ports are held only while one runs.
    QString portInUseText() const;
    static QString portInUseText(quint16 port);

Q_SIGNALS:
    // A search or configuration reply was taken: wakes the wait for it.
    void replyArrived(QPrivateSignal);

private:
    // Looks the PC's own addresses up, once per search or configuration.
    void learnOwnAddresses();
    bool bindPort(quint16 port);
    // Sends to each target; true when at least one copy left. Failures are traced.
    bool sendTo(const QByteArray &datagram, const QList<QHostAddress> &targets, quint16 port);
    void reportSendFailure(const QString &what);
    bool isOwnAddress(const QString &address) const;
    void progress(const QString &text, int counter, quint32 kind);
    void trace(const QString &text);
    // A delay that only the link's stop request ends early.
    void pause(int ms);
    QList<QHostAddress> unicastTarget() const;

    TKVCOMControl &m_link;
    std::unique_ptr<DatagramSocket> m_socket;
    QStringList m_foundDevices;
    ConfigRecord m_configRecord;
    bool m_udpReceiving = false;
    bool m_udpReplied = false;
    bool m_ownAddressesKnown = false;
    QStringList m_ownAddresses;
    QString m_localIP;
    QString m_lastError;
    bool m_portInUse = false;
};
