#pragma once

#include "LinkMessage.h"

#include <QString>

class TKVCOMControl;

// The status text the operator sees for a failure notification, built from the link's state
// at the time it is handled. Empty for notifications that show nothing.
QString linkStatusText(const LinkNotice &notice, const TKVCOMControl &link);

// The system's reason for a failed open or close ("Connection refused", "Permission
// denied"), shown beside the status text; empty when there is none.
QString linkFailureReason(const LinkNotice &notice);
