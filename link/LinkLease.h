#pragma once

#include <QtGlobal>

#include <memory>

class TKVCOMControl;

// Owns the device link and keeps it alive while code that may wait on it is on the stack.
// Waits pump events, so the window can be closed in the middle of an operation; the link is then
// released only once the last such caller has returned.
class LinkLease final
{
    Q_DISABLE_COPY_MOVE(LinkLease)
public:
    explicit LinkLease(std::unique_ptr<TKVCOMControl> link);
    ~LinkLease();

    // Null once released.
    TKVCOMControl *get() const { return m_link.get(); }
    // Releases the link now, or as soon as the last Use ends.
    void release();

    // Held across every call into the link that may wait.
    class Use final
    {
        Q_DISABLE_COPY_MOVE(Use)
    public:
        explicit Use(LinkLease &lease) : m_lease(lease) { ++m_lease.m_users; }
        ~Use();

    private:
        LinkLease &m_lease;
    };

private:
    std::unique_ptr<TKVCOMControl> m_link;
    int m_users = 0;
    bool m_releaseWanted = false;
};
