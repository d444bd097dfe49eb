#pragma once

#include "TKVCOMControl.h"

// For tests and fuzz targets only: the link's frame storage, which they fill and inspect the
// way the link's exchanges do. Product code reaches it only through exchanges.
class LinkTestAccess final
{
public:
    static FrameReceiver &receiver(TKVCOMControl &link) { return link.m_receiver; }
};
