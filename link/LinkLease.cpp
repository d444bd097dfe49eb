#include "LinkLease.h"

#include "TKVCOMControl.h"

LinkLease::LinkLease(std::unique_ptr<TKVCOMControl> link) : m_link(std::move(link)) { }

LinkLease::~LinkLease() = default;

void LinkLease::release()
{
    m_releaseWanted = true;
    if (m_users == 0)
        m_link.reset();
}

LinkLease::Use::~Use()
{
    if (--m_lease.m_users == 0 && m_lease.m_releaseWanted)
        m_lease.m_link.reset();
}
