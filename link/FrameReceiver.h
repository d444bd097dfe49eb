#pragma once

#include "BlockFrame.h"

#include <QByteArray>
#include <QtGlobal>

#include <array>

// What the link expects next on the wire; it decides how many bytes make a frame.
enum class FrameKind : int {
    Reply = 0, // 13-byte reply
    EdidBlock = 1, // 270-byte EDID block frame
    SlaveAck = 3, // 13-byte firmware acknowledgement (slave MCU)
    MainAck = 4, // 13-byte firmware acknowledgement (main MCU)
    ModuleFrame = 6, // 32-byte network module frame
};

// Collects received bytes into the one frame the link expects. Until the frame's lead bytes
// are in, bytes that cannot start it are line noise and dropped; after them everything
// belongs to the frame. A complete frame stays as it is until the next reset.
class FrameReceiver final
{
public:
    static constexpr int BufferSize = BlockFrame::Size;
    static constexpr int MaxLead = 32; // longest lead a frame start is found by

    static int frameLength(FrameKind kind);
    // A5 5B for the command packet kinds; nothing for module frames, whose lead belongs to
    // the network module (callers pass it).
    static QByteArray frameLead(FrameKind kind);

    // Expects a frame of this kind that starts with `lead` (empty: the kind's own lead).
    void reset(FrameKind kind, const QByteArray &lead = {});
    // Takes bytes; `skipped` gets those dropped before the frame start, `stored` those taken,
    // `rest` those left over once the frame is complete.
    void store(const QByteArray &bytes, QByteArray *skipped = nullptr, QByteArray *stored = nullptr,
        QByteArray *rest = nullptr);

    FrameKind kind() const { return m_kind; }
    QByteArray lead() const { return m_lead; }
    bool complete() const { return m_complete; }
    int position() const { return m_position; }
    // The stored bytes of the current frame (the whole frame once complete).
    QByteArray frame() const;

private:
    FrameKind m_kind = FrameKind::Reply;
    QByteArray m_lead = frameLead(FrameKind::Reply);
    std::array<quint8, BufferSize> m_buffer{};
    int m_position = 0;
    bool m_complete = false;
};
