#pragma once

#include <QString>

// A known network switcher as the device list shows it: seven bracketed fields joined by " - ",
// "[tag] - [Static IP] - [IP] - [gateway] - [mask] - [MAC] - [Same Subnet]".
enum class DeviceField { Tag = 0, Dhcp, IP, Gateway, Mask, MAC, Subnet };

// The text of field k: after the (k + 1)-th "[" up to the next "]" (to the end without one),
// empty when the entry has fewer fields. An empty entry gives each field's default.
QString GetEntryField(const QString &entry, DeviceField field);
