#pragma once

#include "NetDatagrams.h"

#include <QString>
#include <QStringList>

#include <array>

class NetworkModuleControl;

// A known network switcher as the operator's device list shows it: seven bracketed fields
// joined by " - ", "[tag] - [Static IP] - [ip] - [gateway] - [mask] - [MAC] - [Same Subnet]".
namespace EntryField {
enum : int { Tag = 0, Mode = 1, IP = 2, Gateway = 3, Mask = 4, MAC = 5, Reach = 6, Count = 7 };
}

inline const QString StaticIPText = QStringLiteral("Static IP");
inline const QString AutoIPText = QStringLiteral("Auto IP");
inline const QString SameSubnetText = QStringLiteral("Same Subnet");
inline const QString CrossSubnetText = QStringLiteral("Cross Subnet");

// The entry text of seven fields (missing ones are empty). A field can never break the
// bracket structure: control characters become U+FFFD, "[" and "]" become "(" and ")".
QString makeDeviceEntry(const QStringList &fields);
// The characters after the (k + 1)-th "[" up to the next "]" (to the end when there is none;
// empty when the entry has fewer fields). For an empty entry the field's default: tag empty,
// "Static IP", "0.0.0.0", "00-00-00-00-00-00", "Same Subnet".
QString GetEntryField(const QString &entry, int k);

// The entry of found device d (1-based): tag, "Static IP" when the DHCP item is "0" else
// "Auto IP", the address (or ipOverride when given, as after a search to a typed address),
// gateway, mask, MAC, and "Same Subnet" when the address answered a ping else "Cross Subnet".
QString foundDeviceEntry(const NetworkModuleControl &control, int device, bool answeredPing,
    const QString &ipOverride = {});

// "a.b.c.d" into four part texts: only digits and dots, exactly three dots, every part a
// number; parts above 255 become "255". False otherwise.
bool ParseIPText(const QString &text, std::array<QString, 4> *parts);
// "00-1a-2B-3-4c-" into six bytes: trimmed and upper-cased, only hex digits and "-", exactly
// five dashes; an empty part is 00, a one-digit part gets a leading 0, a longer part gives
// its first two digits. False otherwise (the bytes parsed so far are kept, the rest 0).
bool ParseMACText(const QString &text, MacAddress *mac);
// Six two-digit upper-case hex texts ("00" each when the text is no MAC address).
std::array<QString, 6> SplitMACText(const QString &text);
// The longest start of tag whose UTF-8 form fits maxBytes (the wire's tag field), cut only
// between two characters as the reader sees them, so that no letter loses its accent.
QString fitTagText(const QString &tag, int maxBytes = ConfigRecord::TagSize);
// An address field on leaving it: empty or not above 0 gives "0", above 254 "255", else the
// text as it is.
QString ClampIPField(const QString &text);

// The request of the configuration dialog: target MAC, tag, and either Auto IP (operation
// 0x14, DHCP 1, addresses 0) or a static address from the twelve field texts (operation 0x15,
// each field through ClampIPField). Status and checksum are set when it is sent.
ConfigRecord buildConfigRecord(const MacAddress &mac, const QString &tag, bool autoIP,
    const std::array<QString, 4> &ip = {}, const std::array<QString, 4> &gateway = {},
    const std::array<QString, 4> &mask = {});

// The entry after an accepted configuration: the tag and mode, then with Auto IP the
// address, gateway, mask and MAC of the module's answer, with a static address those of the
// request; the reach field of the former entry stays.
QString configuredEntry(const QString &formerEntry, const QString &tag, bool autoIP,
    const ConfigRecord &request, const ConfigRecord &answer);
