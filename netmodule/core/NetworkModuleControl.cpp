#include "NetworkModuleControl.h"

#include "EventWait.h"
#include "NetLogging.h"
#include "TKVCOMControl.h"

#include <QNetworkInterface>

Q_LOGGING_CATEGORY(lcNetModule, "matrix.netmodule", QtInfoMsg)

namespace {

const QString SearchingText = QStringLiteral("Searching TCP control device ... ");
const QString SettingText = QStringLiteral("Setting TCP control configuration ... ");
constexpr char Spinner[] = {'/', '-', '\\', '|'};

bool isUsableIPv4(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv4Protocol;
}

QList<QHostAddress> interfaceIPv4Addresses()
{
    QList<QHostAddress> addresses;
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (isUsableIPv4(address))
            addresses.append(QHostAddress(address.toIPv4Address()));
    }
    return addresses;
}

} // namespace

NetworkModuleControl::NetworkModuleControl(
    TKVCOMControl &link, std::unique_ptr<DatagramSocket> socket, QObject *parent)
    : QObject(parent),
      m_link(link),
      m_socket(socket ? std::move(socket) : std::make_unique<UdpDatagramSocket>())
{
    connect(m_socket.get(), &DatagramSocket::datagramReceived, this,
        [this](const QByteArray &datagram, const QHostAddress &sender, quint16 port) {
            UDPDataReceived(datagram, sender.toString(), port);
        });
}

NetworkModuleControl::~NetworkModuleControl() = default;

int NetworkModuleControl::GetTCPDeviceCount() const
{
    return static_cast<int>(m_foundDevices.size() / DeviceItems);
}

QString NetworkModuleControl::defaultDeviceItem(int item)
{
    switch (item) {
    case 0:
        return QStringLiteral("00-00-00-00-00-00");
    case 1:
    case 2:
    case 3:
        return QStringLiteral("0.0.0.0");
    case 6:
        return QStringLiteral("TCP Module");
    case 7:
        return QStringLiteral("0");
    default:
        return {};
    }
}

QString NetworkModuleControl::GetTCPDeviceItem(int device, int item) const
{
    if (item < 0 || item >= DeviceItems)
        return {};
    if (device >= 1 && device <= GetTCPDeviceCount())
        return m_foundDevices.at((device - 1) * DeviceItems + item);
    return defaultDeviceItem(item);
}

QString NetworkModuleControl::GetLocalIP()
{
    // The interfaces only: a look-up of the PC's own host name may block for seconds and send
    // queries to a name server.
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            if (isUsableIPv4(entry.ip()))
                return QHostAddress(entry.ip().toIPv4Address()).toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}

QList<QHostAddress> NetworkModuleControl::searchTargets()
{
    QList<QHostAddress> targets{QHostAddress(BroadcastAddress)};
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || flags.testFlag(QNetworkInterface::IsLoopBack)
            || !flags.testFlag(QNetworkInterface::CanBroadcast))
            continue;
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            const int prefix = entry.prefixLength();
            if (!isUsableIPv4(entry.ip()) || prefix < 1 || prefix > 30)
                continue;
            // Computed rather than taken from the entry: an address added without "brd" has
            // none, yet the kernel routes the subnet's broadcast all the same.
            const quint32 hostBits = 0xFFFFFFFFu >> prefix;
            const QHostAddress directed(entry.ip().toIPv4Address() | hostBits);
            if (!targets.contains(directed))
                targets.append(directed);
        }
    }
    return targets;
}

void NetworkModuleControl::learnOwnAddresses()
{
    m_localIP = GetLocalIP();
    m_ownAddresses = {m_localIP};
    for (const QHostAddress &address : interfaceIPv4Addresses())
        m_ownAddresses.append(address.toString());
    m_ownAddressesKnown = true;
}

bool NetworkModuleControl::isOwnAddress(const QString &address) const
{
    return m_ownAddresses.contains(address);
}

QList<QHostAddress> NetworkModuleControl::unicastTarget() const
{
    // "0.0.0.0" means "no device": Linux would deliver a datagram sent there to this PC.
    const std::optional<IPv4Bytes> ip = ipBytes(m_link.DeviceIP());
    if (!ip || *ip == IPv4Bytes{})
        return {};
    return {QHostAddress(ipText(*ip))};
}

bool NetworkModuleControl::bindPort(quint16 port)
{
    m_portInUse = false;
    if (m_socket->bindLocalPort(port))
        return true;
    m_portInUse = m_socket->addressInUse();
    m_lastError = m_portInUse
        ? portInUseText(port)
        : QStringLiteral("cannot use UDP port %1: %2").arg(port).arg(m_socket->errorString());
    return false;
}

QString NetworkModuleControl::portInUseText(quint16 port)
{
    return QStringLiteral("UDP port %1 is in use by another program").arg(port);
}

QString NetworkModuleControl::portInUseText() const
{
    return m_portInUse ? m_lastError : QString();
}

bool NetworkModuleControl::sendTo(
    const QByteArray &datagram, const QList<QHostAddress> &targets, quint16 port)
{
    bool anySent = false;
    QStringList failures;
    for (const QHostAddress &target : targets) {
        if (m_socket->send(datagram, target, port) == datagram.size())
            anySent = true;
        else
            failures.append(target.toString() + QLatin1String(": ") + m_socket->errorString());
    }
    if (!failures.isEmpty())
        trace(QLatin1String("Send failed to ") + failures.join(QLatin1String(", ")));
    if (!anySent) {
        m_lastError = targets.isEmpty()
            ? QStringLiteral("no address to send to")
            : QLatin1String("cannot send: ") + failures.join(QLatin1String(", "));
    }
    return anySent;
}

void NetworkModuleControl::reportSendFailure(const QString &what)
{
    // Told once, through the notification: callers print or show lastError() themselves.
    if (!m_portInUse)
        m_lastError = what + QLatin1String(": ") + m_lastError;
    trace(what + QLatin1String(": ") + m_lastError);
    m_link.notify(LinkMessage::SendFailed);
}

void NetworkModuleControl::progress(const QString &text, int counter, quint32 kind)
{
    m_link.notify(LinkMessage::NetworkProgress, 0, kind, text + QLatin1Char(Spinner[counter % 4]));
}

void NetworkModuleControl::trace(const QString &text)
{
    qCDebug(lcNetModule).noquote() << text;
    m_link.notify(LinkMessage::Trace, 0, 0, text);
}

bool NetworkModuleControl::SearchTCPDevice()
{
    if (m_link.Searching())
        return false;
    m_link.setSearching(true);
    m_udpReceiving = true;
    m_lastError.clear();
    learnOwnAddresses();

    const QByteArray request(1, SearchRequestByte);
    bool sending = bindPort(SearchPort);
    QList<QHostAddress> targets;
    if (sending) {
        if (m_link.UDPMode() == umBROADCAST) {
            m_socket->setBroadcastAllowed(true);
            targets = searchTargets();
        } else {
            targets = unicastTarget();
        }
    }

    const int step = StepTicks * m_link.timing().tickMs;
    int counter = 0;
    bool found = false;
    for (int round = 0; sending && round < SearchRounds; ++round) {
        if (!m_link.StopRequested()) {
            m_udpReplied = false;
            if (!sendTo(request, targets, SearchPort)) {
                sending = false;
                break;
            }
            // Each round listens to its end, so that every module that answers is listed.
            for (int i = 0; i < StepsPerRound; ++i) {
                progress(SearchingText, counter, 0);
                pause(step);
                ++counter;
                if (m_link.StopRequested() || !m_link.Searching())
                    break;
            }
        }
        if (m_link.Searching() && !m_link.StopRequested())
            found = WaitUDPReply(ReplyWaitTicks);
        if (found || m_link.StopRequested() || !m_link.Searching())
            break;
    }
    if (!sending)
        reportSendFailure(QStringLiteral("Search request not sent"));
    // The port is held only while a search runs, so that other programs can search too.
    m_socket->release();
    // A stop leaves the flags as they are: the program is closing.
    if (!m_link.StopRequested()) {
        m_link.setSearching(false);
        m_udpReceiving = false;
    }
    return found;
}

ConfigResult NetworkModuleControl::SetTCPConfig(const ConfigRecord &record)
{
    learnOwnAddresses();
    if (isOwnAddress(ipText(record.ip())))
        return ConfigResult::AddressConflict;
    if (m_link.Configuring())
        return ConfigResult::Failed;
    m_link.setConfiguring(true);
    m_lastError.clear();

    bool sent = bindPort(ConfigPort);
    if (sent) {
        m_configRecord = record;
        prepareConfigRequest(m_configRecord);
        m_udpReplied = false;
        m_udpReceiving = true;
        const QByteArray wire = m_configRecord.toByteArray();
        m_socket->setBroadcastAllowed(true);
        // Every target a search uses, so that each module a search finds is reached; the
        // module answers each copy, and the first answer counts.
        sent = sendTo(wire, searchTargets(), ConfigPort);
        pause(UnicastPauseTicks * m_link.timing().tickMs);
        const QList<QHostAddress> unicast = unicastTarget();
        if (!unicast.isEmpty())
            sent = sendTo(wire, unicast, ConfigPort) || sent;
    }
    if (!sent) {
        reportSendFailure(QStringLiteral("Configuration not sent"));
        m_socket->release();
        m_udpReceiving = false;
        m_link.setConfiguring(false);
        return ConfigResult::Failed;
    }

    const int step = StepTicks * m_link.timing().tickMs;
    int counter = 0;
    for (int round = 0; round < ConfigRounds; ++round) {
        if (!m_link.StopRequested()) {
            for (int i = 0; i < StepsPerRound; ++i) {
                progress(SettingText, counter, 1);
                pause(step);
                ++counter;
                if (m_link.StopRequested() || !m_link.Configuring())
                    break;
            }
        }
        if (m_link.StopRequested() || !m_link.Configuring() || WaitUDPReply(ReplyWaitTicks))
            break;
    }

    m_socket->release();
    ConfigResult result = ConfigResult::Failed;
    if (!m_link.StopRequested() && m_link.Configuring()) {
        m_udpReceiving = false;
        m_link.setConfiguring(false);
        result = m_udpReplied ? configResultOf(m_configRecord.status()) : ConfigResult::Failed;
    }
    return result;
}

void NetworkModuleControl::UDPDataReceived(
    const QByteArray &datagram, const QString &sender, quint16 port)
{
    if (!m_ownAddressesKnown)
        learnOwnAddresses();
    const qsizetype size = datagram.size();
    if (!sender.isEmpty()) {
        trace(QLatin1String("Remote: [") + sender + QLatin1String("] : Port[")
            + QString::number(port) + QLatin1String("]\r\nLocal: [") + m_localIP
            + QLatin1String("]\r\nNumber of bytes: ") + QString::number(size));
    }
    if (!m_udpReceiving)
        return;
    // The PC's own broadcasts come back from one of its addresses.
    const bool own = isOwnAddress(sender);

    if (!own && port == SearchPort && size > 0) {
        const std::optional<QList<SearchRecord>> records = parseSearchReply(datagram);
        if (!records)
            return;
        for (const SearchRecord &record : *records) {
            const QString mac = macText(record.mac);
            bool known = false;
            for (qsizetype i = 0; i < m_foundDevices.size() && !known; i += DeviceItems)
                known = m_foundDevices.at(i) == mac;
            if (!known)
                m_foundDevices += record.itemTexts();
        }
        m_udpReplied = true;
        Q_EMIT replyArrived(QPrivateSignal());
        return;
    }
    // The request goes out once per target, so the module answers it several times: the
    // first answer is the result.
    if (!own && port == ConfigPort && size > 0 && !m_udpReplied) {
        if (const std::optional<ConfigRecord> answer = findConfigAnswer(datagram)) {
            m_configRecord = *answer;
            m_udpReplied = true;
            Q_EMIT replyArrived(QPrivateSignal());
        }
    }
}

void NetworkModuleControl::pause(int ms)
{
    EventWait(&m_link.stopRequest()).sleep(ms);
}

bool NetworkModuleControl::WaitUDPReply(int ticks)
{
    EventWait wait(&m_link.stopRequest());
    wait.wakeOn(this, &NetworkModuleControl::replyArrived);
    wait.until([this] { return m_udpReplied; }, ticks * m_link.timing().tickMs);
    return m_udpReplied;
}
