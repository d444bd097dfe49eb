#include "FrameReceiver.h"

#include "CommandPacket.h"

#include <algorithm>

int FrameReceiver::frameLength(FrameKind kind)
{
    switch (kind) {
    case FrameKind::EdidBlock:
        return BufferSize;
    case FrameKind::ModuleFrame:
        return 32;
    default:
        return CommandPacket::Size;
    }
}

QByteArray FrameReceiver::frameLead(FrameKind kind)
{
    if (kind == FrameKind::ModuleFrame)
        return {};
    static const QByteArray lead("\xA5\x5B", 2);
    static_assert(CommandPacket::Lead1 == 0xA5 && CommandPacket::Lead2 == 0x5B);
    return lead;
}

void FrameReceiver::reset(FrameKind kind, const QByteArray &lead)
{
    m_kind = kind;
    m_lead = (lead.isEmpty() ? frameLead(kind) : lead).left(std::min(frameLength(kind), MaxLead));
    m_complete = false;
    m_buffer.fill(0);
    m_position = 0;
}

void FrameReceiver::store(
    const QByteArray &bytes, QByteArray *skipped, QByteArray *stored, QByteArray *rest)
{
    // A completed frame stays as it is until the next request resets the storage, so late
    // or surplus bytes can never overwrite a reply before it is read.
    if (m_complete || bytes.isEmpty()) {
        if (rest)
            rest->append(bytes);
        return;
    }
    const int length = frameLength(m_kind);
    const auto *in = reinterpret_cast<const quint8 *>(bytes.constData());
    qsizetype at = 0;

    // Looking for the frame start: the tail of an earlier reply or line garbage may come
    // first. Only the lead is searched for; once it is in, every byte belongs to the frame,
    // since block data may hold the lead bytes too.
    const auto *lead = reinterpret_cast<const quint8 *>(m_lead.constData());
    const int leadSize = static_cast<int>(m_lead.size());
    while (m_position < leadSize && at < bytes.size()) {
        const quint8 byte = in[at++];
        if (byte == lead[m_position]) {
            m_buffer[static_cast<std::size_t>(m_position++)] = byte;
            if (stored)
                stored->append(char(byte));
            continue;
        }
        // The candidate (lead bytes so far, then this byte) is no frame start; keep its longest
        // tail that could still begin one.
        std::array<quint8, MaxLead> candidate{};
        const int size = m_position + 1;
        std::copy_n(m_buffer.begin(), m_position, candidate.begin());
        candidate[static_cast<std::size_t>(m_position)] = byte;
        int keep = std::min(size - 1, leadSize - 1);
        while (keep > 0
            && !std::equal(candidate.begin() + (size - keep), candidate.begin() + size, lead))
            --keep;
        if (skipped)
            skipped->append(reinterpret_cast<const char *>(candidate.data()), size - keep);
        std::copy_n(candidate.begin() + (size - keep), keep, m_buffer.begin());
        m_position = keep;
    }

    const int count = static_cast<int>(std::min<qsizetype>(bytes.size() - at, length - m_position));
    std::copy_n(in + at, count, m_buffer.begin() + m_position);
    if (stored)
        stored->append(bytes.constData() + at, count);
    m_position += count;
    if (m_position >= length) {
        m_complete = true;
        m_position = 0;
        if (rest)
            rest->append(bytes.constData() + at + count, bytes.size() - at - count);
    }
}

QByteArray FrameReceiver::frame() const
{
    const int size = m_complete ? frameLength(m_kind) : m_position;
    return QByteArray(reinterpret_cast<const char *>(m_buffer.data()), size);
}
