#include "SimModule.h"

#include <algorithm>

namespace {

const QByteArray &headerBytes()
{
    static const QByteArray header(
        reinterpret_cast<const char *>(ModuleFrame::Header.data()), ModuleFrame::HeaderSize);
    return header;
}

} // namespace

SearchRecord SimModuleState::searchRecord() const
{
    SearchRecord r;
    r.mac = mac;
    r.ip = ip;
    r.gateway = gateway;
    r.mask = mask;
    r.number1 = number1;
    r.number2 = number2;
    r.tag = tag.left(SearchRecord::TagSize);
    r.dhcp = dhcp ? 1 : 0;
    return r;
}

QString SimModuleState::describe() const
{
    return macText(mac) + QLatin1Char(' ')
        + (dhcp ? QStringLiteral("Auto IP") : QStringLiteral("Static IP")) + QLatin1Char(' ')
        + ipText(ip) + QLatin1Char(' ') + ipText(gateway) + QLatin1Char(' ') + ipText(mask)
        + QLatin1String(" [") + tagText(tag) + QLatin1Char(']');
}

QByteArray answerModuleFrame(SimModuleState &module, const QByteArray &frame)
{
    const ModuleFrame request = ModuleFrame::fromBytes(frame);
    if (frame.size() < ModuleFrame::Size || !request.hasHeader()
        || ModuleChecksum(request) != request.checksum())
        return {};

    ModuleFrame reply = request;
    std::fill(reply.bytes.begin() + ModuleFrame::CommandAt + 1, reply.bytes.end(), quint8(0));
    switch (request.command()) {
    case ModuleFrame::CommandReset:
        module.dhcp = request.dhcp() != 0;
        module.ip = request.ip();
        module.gateway = SimModuleState::FactoryGateway;
        module.mask = SimModuleState::FactoryMask;
        module.tag = QByteArrayLiteral("TCP Module");
        [[fallthrough]];
    case ModuleFrame::CommandQuery:
        reply.bytes[ModuleFrame::Param1At] = module.versionMajor;
        reply.bytes[ModuleFrame::Param2At] = module.versionMinor;
        reply.bytes[ModuleFrame::DhcpAt] = module.dhcp ? 1 : 0;
        reply.setIP(module.ip);
        reply.bytes[ModuleFrame::ReceiveOKAt] = 0x00;
        break;
    default:
        reply.bytes[ModuleFrame::ReceiveOKAt] = ModuleFrame::NotReceived;
        break;
    }
    sealModuleFrame(reply);
    return reply.toByteArray();
}

SimModuleStream::SimModuleStream(Answerer answer, QObject *parent)
    : QObject(parent), m_answer(std::move(answer))
{ }

void SimModuleStream::receive(const QByteArray &bytes)
{
    QByteArray input = m_pending + bytes;
    m_pending.clear();
    while (!input.isEmpty()) {
        const qsizetype start = input.indexOf(headerBytes());
        if (start < 0) {
            // A header cut short can only be held back where a frame may begin: at the start
            // of what came in. Anything else goes on at once, so that a switcher request is
            // never delayed.
            if (input.size() < ModuleFrame::HeaderSize && headerBytes().startsWith(input))
                m_pending = input;
            else
                Q_EMIT passOn(input);
            return;
        }
        if (start > 0) {
            Q_EMIT passOn(input.left(start));
            input.remove(0, start);
        }
        if (input.size() < ModuleFrame::Size) {
            m_pending = input;
            return;
        }
        const QByteArray answer = m_answer(input.left(ModuleFrame::Size));
        input.remove(0, ModuleFrame::Size);
        if (!answer.isEmpty())
            Q_EMIT send(answer);
    }
}
