#pragma once

#include "LinkMessage.h"

#include <QString>

class TKVCOMControl;

// The status text the operator sees for a failure notification, built from the link's state
// at the time it is handled. Empty for notifications that show nothing.
QString LinkStatusText(const LinkNotice &notice, const TKVCOMControl &link);
