#pragma once

#include "Switcher.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class TKVCOMControl;
struct LinkNotice;

// The switcher spoken over the link, one operation at a time: each operation is one
// transaction of the link, and its outcome is judged here from the reply and from what the link
// reported meanwhile. Adds no byte of its own to the wire. The synchronous forms (open, run)
// wait in the link; the asynchronous ones (openAsync, runAsync) return at once, for a server.
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

    // The asynchronous forms: `done` gets the outcome once, later from the event loop and never
    // from inside the call, except that a stop ends a running request with Stopped as it is
    // set. Not called once the session is gone. One request at a time.
    using Done = std::function<void(const SwitcherOutcome &)>;
    void openAsync(Done done);
    void runAsync(const SwitcherOperation &operation, Done done);

    // A request by its codes (raw packets, the EDID commands), judged like any operation.
    SwitcherOutcome command(quint8 command, quint8 subcommand, quint16 word1 = 0, quint16 word2 = 0,
        quint16 word3 = 0, quint16 word4 = 0);

    // The text of a link that broke: "TCP control failed!" or "COM access failed!".
    QString lostText() const;

private:
    void noticed(const LinkNotice &notice);
    // The outcome of a request that cannot go out: Stopped while stopping, Lost when `open`
    // asks for an open link that is not.
    std::optional<SwitcherOutcome> notStarted(bool needsOpen) const;
    void listen();
    SwitcherOutcome opened(bool opened);
    SwitcherOutcome judge(const CommandPacket &request, const CommandResult &result);
    void deliver(const Done &done, const SwitcherOutcome &outcome);

    TKVCOMControl &m_link;
    // The failure the link reported during the running operation, in the window's words.
    bool m_listening = false;
    bool m_starting = false; // inside an asynchronous call
    int m_failureCode = 0;
    QString m_failureText;
    QString m_failureDetail;
};
