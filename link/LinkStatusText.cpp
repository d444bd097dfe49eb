#include "LinkStatusText.h"

#include "TKVCOMControl.h"

QString linkStatusText(const LinkNotice &notice, const TKVCOMControl &link)
{
    switch (notice.code) {
    case LinkMessage::TimeOut:
        return QStringLiteral("Time out!");
    case LinkMessage::DataInvalid:
        return QStringLiteral("Data invalid!");
    case LinkMessage::SendFailed:
        return QStringLiteral("Send data failed!");
    case LinkMessage::TransportError:
        return link.ControlMode() == cmCOM ? QStringLiteral("COM access failed!")
                                           : QStringLiteral("TCP control failed!");
    case LinkMessage::OpenCloseFailed:
        if (link.ControlMode() == cmCOM)
            return (link.Connected() ? QStringLiteral("Close") : QStringLiteral("Open"))
                + QStringLiteral(" COM [") + link.ComPort() + QStringLiteral("] failed");
        return (link.Connected() ? QStringLiteral("Disconnect") : QStringLiteral("Connect"))
            + QLatin1Char(' ') + link.DeviceIP() + QStringLiteral(" failed");
    default:
        return {};
    }
}

QString linkFailureReason(const LinkNotice &notice)
{
    return notice.code == LinkMessage::OpenCloseFailed ? notice.text : QString();
}
