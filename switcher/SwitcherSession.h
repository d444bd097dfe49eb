#pragma once

#include "Switcher.h"

#include <QObject>
#include <QString>

class TKVCOMControl;
struct LinkNotice;

// The switcher spoken over the link, one operation at a time, synchronously: each operation is
// one transaction of the link (ExecuteCommand), and its outcome is judged here from the reply
// and from what the link reported meanwhile. Adds no byte of its own to the wire.
class SwitcherSession final : public QObject, public Switcher
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SwitcherSession)
public:
    explicit SwitcherSession(TKVCOMControl &link, QObject *parent = nullptr);

    TKVCOMControl &link() { return m_link; }

    // Opens the link unless it is open. Lost with the link's text and the system's reason when
    // that fails, Stopped when the program is stopping.
    SwitcherOutcome open();

    // Lost without a word on the wire when the link is not open.
    SwitcherOutcome run(const SwitcherOperation &operation) override;

    // A request by its codes (raw packets, the EDID commands), judged like any operation.
    SwitcherOutcome command(quint8 command, quint8 subcommand, quint16 word1 = 0, quint16 word2 = 0,
        quint16 word3 = 0, quint16 word4 = 0);

    // The text of a link that broke: "TCP control failed!" or "COM access failed!".
    QString lostText() const;

private:
    void noticed(const LinkNotice &notice);
    SwitcherOutcome judge(const CommandPacket &request, const CommandResult &result) const;

    TKVCOMControl &m_link;
    // The failure the link reported during the running operation, in the window's words.
    bool m_listening = false;
    int m_failureCode = 0;
    QString m_failureText;
    QString m_failureDetail;
};
