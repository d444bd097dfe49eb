#include "ModuleFrame.h"

#include <algorithm>

namespace {

QString hex(quint8 byte)
{
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

IPv4Bytes ModuleFrame::ip() const
{
    IPv4Bytes a{};
    std::copy_n(bytes.begin() + IPAt, a.size(), a.begin());
    return a;
}

void ModuleFrame::setIP(const IPv4Bytes &ip)
{
    std::copy(ip.begin(), ip.end(), bytes.begin() + IPAt);
}

bool ModuleFrame::hasHeader() const
{
    return std::equal(Header.begin(), Header.end(), bytes.begin());
}

ModuleFrame ModuleFrame::request(quint8 command, quint8 dhcp, const IPv4Bytes &ip)
{
    ModuleFrame f;
    std::copy(Header.begin(), Header.end(), f.bytes.begin());
    f.bytes[CommandAt] = command;
    f.bytes[DhcpAt] = dhcp;
    f.setIP(ip);
    f.bytes[ReceiveOKAt] = NotReceived;
    sealModuleFrame(f);
    return f;
}

ModuleFrame ModuleFrame::fromBytes(const QByteArray &data)
{
    ModuleFrame f;
    std::copy_n(data.begin(), std::min<qsizetype>(data.size(), Size), f.bytes.begin());
    return f;
}

QByteArray ModuleFrame::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), Size);
}

quint8 ModuleChecksum(const ModuleFrame &frame)
{
    unsigned sum = 0;
    for (int i = 0; i < ModuleFrame::ChecksumAt; ++i)
        sum += frame.bytes[static_cast<std::size_t>(i)];
    return static_cast<quint8>(sum & 0xFF);
}

void sealModuleFrame(ModuleFrame &frame)
{
    frame.bytes[ModuleFrame::ChecksumAt] = ModuleChecksum(frame);
}

bool isAcceptedModuleReply(const ModuleFrame &reply, const ModuleFrame &request)
{
    return reply.receiveOK() != ModuleFrame::NotReceived
        && ModuleChecksum(reply) == reply.checksum()
        && std::equal(request.bytes.begin(), request.bytes.begin() + ModuleFrame::HeaderSize,
            reply.bytes.begin());
}

QString TraceModuleFrame(const QString &prefix, const ModuleFrame &frame)
{
    const QLatin1String crlf("\r\n");
    QString text = prefix + crlf + QLatin1String("header:");
    for (int i = 0; i < ModuleFrame::HeaderSize; ++i)
        text += hex(frame.bytes[static_cast<std::size_t>(i)]) + QLatin1Char(' ');
    const IPv4Bytes ip = frame.ip();
    text += crlf + QLatin1String("command:") + hex(frame.command()) + crlf
        + QLatin1String("param1:") + hex(frame.param1()) + QLatin1String("; param2:")
        + hex(frame.param2()) + crlf + QLatin1String("DHCP:") + hex(frame.dhcp()) + crlf
        + QLatin1String("IPAddr:") + hex(ip[0]) + QLatin1Char(' ') + hex(ip[1]) + QLatin1Char(' ')
        + hex(ip[2]) + QLatin1Char(' ') + hex(ip[3]) + crlf + QLatin1String("ReveiveOK:")
        + hex(frame.receiveOK()) + crlf + QLatin1String("CheckSum:") + hex(frame.checksum()) + crlf
        + QString(39, QLatin1Char('/'));
    return text;
}
