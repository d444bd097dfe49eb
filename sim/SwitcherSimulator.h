#pragma once

#include "CommandPacket.h"
#include "DeviceProtocol.h"
#include "SimFrameHandler.h"
#include "SwitcherState.h"

#include <QList>

#include <QByteArray>
#include <QString>

// The switcher's command interpreter: takes one complete 13-byte request, updates the state
// and builds the reply. No I/O and no timing; SimSession puts it on a byte stream.
//
// Replies use the request layout: lead bytes, the echoed command and subcommand, byte 4 the
// status (or the first answer), byte 6 the answer, every other byte zero, a valid checksum.
class SwitcherSimulator final
{
public:
    SwitcherState &state() { return m_state; }
    const SwitcherState &state() const { return m_state; }

    // Returns the reply bytes for one request (empty = the device stays silent).
    QByteArray handle(const CommandPacket &request);

    // Parts that take over frames of their own (not owned). A part is asked before the
    // command interpreter, in the order added.
    void addFrameHandler(SimFrameHandler *handler) { m_handlers.append(handler); }
    // Length of the frame starting with this header: 13 unless a part says otherwise.
    qsizetype frameLength(const CommandPacket &header) const;
    // Answers one complete frame (a request, or a part's longer data frame).
    QByteArray handleFrame(const QByteArray &frame);

    // Folder of display EDID files for the outputs.
    void setEdidDirectory(const QString &path) { m_edidDirectory = path; }
    QString edidDirectory() const { return m_edidDirectory; }

    static CommandPacket makeReply(const CommandPacket &request, quint8 status, quint8 answer = 0);
    static bool isEdidModeWord(quint16 word);

private:
    struct Answer
    {
        quint8 status = DeviceProtocol::Status::Accepted;
        quint8 value = 0;
    };
    Answer answer(const CommandPacket &request);
    bool isInput(int n) const;
    bool isOutput(int n) const;
    bool isConnectedOutput(int n) const;

    SwitcherState m_state;
    QList<SimFrameHandler *> m_handlers;
    QString m_edidDirectory;
};
