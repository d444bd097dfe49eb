#pragma once

#include "CommandPacket.h"
#include "DeviceProtocol.h"

#include <QString>
#include <QStringList>

#include <optional>

// The EDID page's lists and the device commands its choices stand for. Indexes are those of
// the page's drop-down lists: 0 is the "Select ..." entry, 1..6 the ports, then in the input
// lists 7 "All Inputs", and in the download list 8 "User1 Memory" and 9 "User2 Memory".
constexpr int EdidAllInputsIndex = 7;
constexpr int EdidUser1MemoryIndex = 8;
constexpr int EdidUser2MemoryIndex = 9;

// One command as the page hands it to the runner: progress text, command, subcommand and
// the two words it uses (words 3 and 4 are always 0).
struct EdidCommand
{
    QString progress;
    quint8 command = DeviceProtocol::Command::Edid;
    quint8 subcommand = 0;
    quint16 word1 = 0;
    quint16 word2 = 0;

    CommandPacket packet() const { return CommandPacket::make(command, subcommand, word1, word2); }
    friend bool operator==(const EdidCommand &, const EdidCommand &) = default;
};

// The mode list as laid out, 20 entries ending with "Auto EDID".
QStringList edidModeLayout();
// The list the operator sees: the layout without its last entry, 19 entries ending with
// "Default EDID".
QStringList edidModeList();
// The set-mode word of entry `index` of a mode list: a built-in mode at index m has 0xF000 + m,
// the j-th entry whose text contains "USER" (any case) 0xF000 + (j << 8). Nothing for entry 0,
// for the list's last entry (the default EDID, which has commands of its own) and for an
// index outside the list.
std::optional<quint16> edidModeCode(const QStringList &modes, int index);
bool isDefaultEdidEntry(const QStringList &modes, int index);

// The five port lists.
enum class EdidPortList {
    SetModeInput, // cbSetEDIDModeInput
    CopyOutput, // cbCopyEDIDOutput
    CopyInput, // cbCopyEDIDInput
    ReadOutput, // cbReadEDIDDataOutput
    DownloadInput, // cbDownloadEDIDInput
};
// "In3 - [DVD]" for a tagged port, "In3" otherwise; "Out" for outputs.
QString edidInputEntry(int input, const QString &tag);
QString edidOutputEntry(int output, const QString &tag);
// The items of a port list; tags[n - 1] is port n's tag (missing or empty = none).
QStringList edidPortListItems(
    EdidPortList list, const QStringList &inputTags, const QStringList &outputTags);
// The entry to select for a stored text: its index, or 0 when no entry has that text.
int edidEntryIndex(const QStringList &items, const QString &stored);

// Command words for the page's choices; nothing when a choice is missing ("Select list item
// first") or outside its list.
std::optional<EdidCommand> edidSetModeCommand(const QStringList &modes, int mode, int input);
std::optional<EdidCommand> edidCopyCommand(int output, int input);
std::optional<EdidCommand> edidReadCommand(int output);
std::optional<EdidCommand> edidDownloadCommand(int target);
// Sent before every set, copy and download, with that operation's progress text.
EdidCommand edidPrepareCommand(const QString &progress);

// The output connection query and what its result means.
EdidCommand outputConnectionQuery(int output);
constexpr quint8 OutputQueryFailed = 0xFF;
constexpr quint8 OutputConnected = 0x0F;
constexpr quint8 OutputNotConnected = 0xF0;
// 0xFF when the query failed, 0x0F when the reply's byte 6 (low byte of word2) is 0,
// 0xF0 otherwise.
quint8 outputConnectionState(const CommandResult &result);
