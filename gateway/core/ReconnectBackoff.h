#pragma once

#include <algorithm>

// How long the gateway waits before it opens the link again after losing the switcher: short
// at first, then twice as long after each failure, up to a cap, so that a switcher back from a
// restart is found within seconds while an absent one is not asked for ever more often.
class ReconnectBackoff final
{
public:
    ReconnectBackoff(int firstMs, int capMs) : m_firstMs(std::max(1, firstMs)), m_capMs(capMs)
    {
        reset();
    }

    // The wait before the next attempt; the one after it is twice as long, up to the cap.
    int next()
    {
        const int wait = m_nextMs;
        m_nextMs = std::min(m_capMs, m_nextMs * 2);
        return wait;
    }
    // The switcher answered: after the next loss the first attempt comes soon again.
    void reset() { m_nextMs = std::min(m_firstMs, m_capMs); }

private:
    int m_firstMs;
    int m_capMs;
    int m_nextMs = 0;
};
