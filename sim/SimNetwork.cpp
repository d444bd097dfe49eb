#include "SimNetwork.h"

#include "SimFaults.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>

namespace {

IPv4Bytes plus(const IPv4Bytes &ip, int n)
{
    const quint32 v = (quint32(ip[0]) << 24 | quint32(ip[1]) << 16 | quint32(ip[2]) << 8 | ip[3])
        + static_cast<quint32>(n);
    return {quint8(v >> 24), quint8(v >> 16), quint8(v >> 8), quint8(v)};
}

// The broadcast addresses a module bound to address hears.
QList<QHostAddress> broadcastsReaching(const QHostAddress &address)
{
    QList<QHostAddress> out{QHostAddress(QHostAddress::Broadcast)};
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            const int prefix = entry.prefixLength();
            if (entry.ip() != address || prefix < 1 || prefix > 30)
                continue;
            const QHostAddress directed(address.toIPv4Address() | (0xFFFFFFFFu >> prefix));
            if (!out.contains(directed))
                out.append(directed);
        }
    }
    return out;
}

} // namespace

SimNetwork::SimNetwork(QObject *parent) : QObject(parent)
{
    setModuleCount(1);
}

SimNetwork::~SimNetwork() = default;

void SimNetwork::setModuleCount(int count, const IPv4Bytes &firstIP)
{
    m_modules.resize(std::max(0, count));
    for (int i = 0; i < m_modules.size(); ++i) {
        SimModuleState &m = m_modules[i];
        m.mac = {0x02, 0x4D, 0x58, 0x00, 0x00, static_cast<quint8>(i + 1)};
        m.ip = plus(firstIP, i);
        m.gateway = {m.ip[0], m.ip[1], m.ip[2], 1};
        m.tag = i == 0 ? QByteArrayLiteral("TCP Module")
                       : QByteArrayLiteral("TCP Module ") + QByteArray::number(i + 1);
    }
}

IPv4Bytes SimNetwork::leaseFor(const SimModuleState &module, int index)
{
    return {module.ip[0], module.ip[1], module.ip[2], static_cast<quint8>(201 + index)};
}

bool SimNetwork::bind(
    const QHostAddress &address, QString *error, quint16 searchPort, quint16 configPort)
{
    close();
    const bool specific = address != QHostAddress(QHostAddress::AnyIPv4) && !address.isLoopback();
    const QList<QHostAddress> listeners
        = specific ? broadcastsReaching(address) : QList<QHostAddress>{};
    for (const bool search : {true, false}) {
        const quint16 port = search ? searchPort : configPort;
        auto *unicast = new QUdpSocket(this);
        m_sockets.append(unicast);
        if (!unicast->bind(address, port)) {
            if (error)
                *error = QStringLiteral("%1:%2: %3")
                             .arg(address.toString())
                             .arg(port)
                             .arg(unicast->errorString());
            close();
            return false;
        }
        (search ? m_boundSearchPort : m_boundConfigPort) = unicast->localPort();
        connect(unicast, &QUdpSocket::readyRead, this,
            [this, unicast, search] { serve(unicast, unicast, search); });
        for (const QHostAddress &broadcast : listeners) {
            auto *listener = new QUdpSocket(this);
            m_sockets.append(listener);
            // A broadcast address the system will not bind is one this module cannot hear.
            if (!listener->bind(broadcast, unicast->localPort()))
                continue;
            connect(listener, &QUdpSocket::readyRead, this,
                [this, listener, unicast, search] { serve(listener, unicast, search); });
        }
    }
    return true;
}

void SimNetwork::close()
{
    qDeleteAll(m_sockets);
    m_sockets.clear();
    m_boundSearchPort = 0;
    m_boundConfigPort = 0;
}

void SimNetwork::serve(QUdpSocket *from, QUdpSocket *replyVia, bool search)
{
    while (from->hasPendingDatagrams()) {
        const QNetworkDatagram in = from->receiveDatagram();
        if (!in.isValid())
            break;
        const QByteArrayList answers = search ? answerSearch(in.data()) : answerConfig(in.data());
        for (const QByteArray &answer : answers)
            replyVia->writeDatagram(
                answer, in.senderAddress(), static_cast<quint16>(in.senderPort()));
    }
}

QByteArrayList SimNetwork::answerSearch(const QByteArray &datagram)
{
    if (datagram != QByteArray(1, SearchRequestByte))
        return {};
    ++m_searchRequests;
    QByteArrayList replies;
    for (const SimModuleState &module : std::as_const(m_modules)) {
        if (!takeFault(m_faults.dropSearchReplies))
            replies.append(module.searchRecord().toBytes());
    }
    return replies;
}

QByteArrayList SimNetwork::answerConfig(const QByteArray &datagram)
{
    if (datagram.size() != ConfigRecord::Size)
        return {};
    const ConfigRecord request = ConfigRecord::fromBytes(datagram);
    if (request.status() != ConfigRecord::StatusRequest
        || ConfigChecksum(request) != request.checksum())
        return {};
    ++m_configRequests;
    const auto found = std::find_if(m_modules.begin(), m_modules.end(),
        [&request](const SimModuleState &m) { return m.mac == request.targetMac(); });
    if (found == m_modules.end() || takeFault(m_faults.dropConfigAnswers))
        return {};
    const int index = static_cast<int>(found - m_modules.begin());
    SimModuleState &module = *found;

    const quint8 operation = request.operation();
    quint8 status = m_faults.configStatus;
    if (operation != ConfigRecord::OperationAutoIP && operation != ConfigRecord::OperationStatic)
        status = ConfigRecord::StatusFailedBit;
    if (m_loopbackOnly && operation == ConfigRecord::OperationStatic && request.ip()[0] != 127)
        status = ConfigRecord::StatusFailedBit;
    if (status == ConfigRecord::StatusAccepted) {
        const SimModuleState before = module;
        if (operation == ConfigRecord::OperationAutoIP) {
            module.dhcp = true;
            // Inside one program the module's address stays where the program serves it.
            if (!m_loopbackOnly)
                module.ip = leaseFor(module, index);
            module.gateway = {module.ip[0], module.ip[1], module.ip[2], 1};
            module.mask = {255, 255, 255, 0};
        } else {
            module.dhcp = false;
            module.ip = request.ip();
            module.gateway = request.gateway();
            module.mask = request.mask();
        }
        module.tag = request.tag();
        // The broadcast and its unicast copy both arrive; the second changes nothing.
        if (module != before)
            Q_EMIT moduleChanged(index);
    }

    ConfigRecord answer;
    answer.setTargetMac(request.targetMac());
    answer.setIP(module.ip);
    answer.setGateway(module.gateway);
    answer.setMask(module.mask);
    answer.setDhcp(module.dhcp ? 1 : 0);
    answer.setModuleMac(module.mac);
    answer.setOperation(operation);
    answer.setTag(module.tag);
    answer.setStatus(status);
    answer.bytes[ConfigRecord::ChecksumAt] = ConfigChecksum(answer);
    QByteArray out = answer.toByteArray();
    if (m_faults.invalidRecordFirst) {
        ConfigRecord notAnswer = answer;
        prepareConfigRequest(notAnswer);
        out.prepend(notAnswer.toByteArray());
    }
    return {out};
}

QByteArray SimNetwork::answerModuleFrame(const QByteArray &frame)
{
    ++m_moduleFrames;
    if (m_modules.isEmpty() || takeFault(m_faults.dropModuleReplies))
        return {};
    const ModuleFrame request = ModuleFrame::fromBytes(frame);
    QByteArray reply = ::answerModuleFrame(m_modules.first(), frame);
    if (reply.isEmpty())
        return {};
    if (request.command() == ModuleFrame::CommandReset)
        Q_EMIT moduleChanged(0);
    ModuleFrame spoilt = ModuleFrame::fromBytes(reply);
    if (takeFault(m_faults.refuseModuleFrames)) {
        spoilt.bytes[ModuleFrame::ReceiveOKAt] = ModuleFrame::NotReceived;
        sealModuleFrame(spoilt);
    }
    if (takeFault(m_faults.corruptModuleChecksum))
        spoilt.bytes[ModuleFrame::ChecksumAt] = static_cast<quint8>(spoilt.checksum() + 1);
    return spoilt.toByteArray();
}
