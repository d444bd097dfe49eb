#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// Numbered notifications from the link to the main window. The numbers are those the
// switcher tools have always used for these events.
enum class LinkMessage : int {
    DataReceived = 2024, // wParam: byte count
    Trace = 2025, // text: one trace line
    TimeOut = 2026, // no valid reply within the retries
    ReceiveDump = 2028, // text: dump of received or sent bytes
    DataInvalid = 2029, // a reply arrived but does not report success
    TransferDone = 2030, // a block transfer has completed
    TransportError = 2031, // the transport failed during a transaction
    OpenCloseFailed = 2032, // wParam: Connected at the time of the failure; text: the reason
    PartRefused = 2034, // firmware block refused; wParam/lParam: part numbers
    PartProgress = 2035, // firmware block accepted; lParam: percent
    SendFailed = 2037, // no valid reply in five attempts
    Reboot = 2038, // text; lParam 1 replaces a "rebooting" line
    NetworkProgress = 2039, // text; lParam 0 search, 1 configuration
};

struct LinkNotice
{
    LinkMessage code = LinkMessage::Trace;
    quint32 wParam = 0;
    quint32 lParam = 0;
    QString text;
};

Q_DECLARE_METATYPE(LinkNotice)
