#pragma once

#include <QtGlobal>

// The switcher's device protocol as bytes: the port count, the command and subcommand codes,
// the fixed words some commands carry, the status byte of replies and the block frames of the
// EDID and firmware transfers. The controller, the command line and the simulated switcher
// all speak it from here; what each side does with a command is its own business.
namespace DeviceProtocol {

// The switcher is operated as six inputs by six outputs.
inline constexpr int PortCount = 6;

// Command codes (byte 2) and their subcommands (byte 3).
namespace Command {
inline constexpr quint8 Device = 0x01; // identity, connections and the panel switches
inline constexpr quint8 Route = 0x02;
inline constexpr quint8 Edid = 0x03;
inline constexpr quint8 Ir = 0x04;
inline constexpr quint8 Power = 0x10;
inline constexpr quint8 Firmware = 0x20;
inline constexpr quint8 System = 0x80;
} // namespace Command

namespace DeviceSub {
inline constexpr quint8 Model = 0x01;
inline constexpr quint8 Size = 0x02;
inline constexpr quint8 Version = 0x03;
inline constexpr quint8 InputConnection = 0x04;
inline constexpr quint8 OutputConnection = 0x05;
inline constexpr quint8 ApmQuery = 0x0A;
inline constexpr quint8 ApmSet = 0x0B;
inline constexpr quint8 BeeperQuery = 0x0C;
inline constexpr quint8 BeeperSet = 0x0D;
inline constexpr quint8 KeysQuery = 0x0E;
inline constexpr quint8 KeysSet = 0x0F;
} // namespace DeviceSub

namespace RouteSub {
inline constexpr quint8 Get = 0x01;
inline constexpr quint8 Set = 0x03;
} // namespace RouteSub

namespace EdidSub {
inline constexpr quint8 SetModeAll = 0x01;
inline constexpr quint8 SetMode = 0x02;
inline constexpr quint8 CopyAll = 0x03;
inline constexpr quint8 Copy = 0x04;
inline constexpr quint8 Read = 0x05;
inline constexpr quint8 DownloadAll = 0x06;
inline constexpr quint8 Download = 0x07;
inline constexpr quint8 Prepare = 0x08;
inline constexpr quint8 AutoAll = 0x09;
inline constexpr quint8 Auto = 0x0A;
} // namespace EdidSub

namespace IrSub {
inline constexpr quint8 Set = 0x03;
inline constexpr quint8 Query = 0x04;
} // namespace IrSub

namespace PowerSub {
inline constexpr quint8 Query = 0x01;
inline constexpr quint8 Set = 0x02;
} // namespace PowerSub

namespace FirmwareSub {
inline constexpr quint8 Main = 0x01;
inline constexpr quint8 Slave = 0x02;
} // namespace FirmwareSub

namespace SystemSub {
inline constexpr quint8 Reboot = 0x02;
} // namespace SystemSub

// Word 1 of the queries that take no port.
inline constexpr quint16 QueryWord = 0x00FE;
// Word 1 of the switches and of power: on, enable, unlock or off, disable, lock.
inline constexpr quint16 OnWord = 0x000F;
inline constexpr quint16 OffWord = 0x00F0;
constexpr quint16 switchWord(bool on)
{
    return on ? OnWord : OffWord;
}
// Words 3 and 4 of both power commands: without them the switcher refuses.
inline constexpr quint16 PowerKey3 = 0xD22D;
inline constexpr quint16 PowerKey4 = 0x2ED3;

// Byte 6 of the switch and power queries: on, enabled, unlocked. For a connection query it
// means "not connected", and the connected answer is AnswerNo.
inline constexpr quint8 AnswerYes = 0xFF;
inline constexpr quint8 AnswerNo = 0x00;

// EDID words: a port, a built-in mode (+ its list index) or a user memory (+ 0x100 times its
// number) as the read, download and set-mode commands name them, the download to all inputs,
// and the prepare step sent before every EDID change.
inline constexpr quint16 EdidWordBase = 0xF000;
inline constexpr quint16 EdidUser1 = 0xF100;
inline constexpr quint16 EdidUser2 = 0xF200;
inline constexpr quint16 EdidAllInputs = 0xF0FE;
inline constexpr quint16 EdidPrepare = 0x00F0;
constexpr quint16 edidPortWord(int port)
{
    return static_cast<quint16>(EdidWordBase + port);
}

// Word 1 of the firmware commands: the main MCU's part start and its two preparation steps,
// and the reboot command's word.
inline constexpr quint16 MainMcu = 0x0001;
inline constexpr quint16 PrepareStep1 = 0x0080;
inline constexpr quint16 PrepareStep2 = 0x0010;
inline constexpr quint16 RebootWord = 0x000F;

// The status byte of a reply (byte 4).
namespace Status {
inline constexpr quint8 Accepted = 0x00;
inline constexpr quint8 Failed = 0xFF; // refused, or a bad frame; never a success
inline constexpr quint8 Proceed = 0xAA; // a block transfer may start
inline constexpr quint8 Declined = 0x44; // the switcher will not take this firmware part
} // namespace Status

// Word 1 of block frames: in data frames whether more follow; in a read's block requests
// start (over), next or repeat.
namespace Block {
inline constexpr quint16 More = 0x00AA;
inline constexpr quint16 Last = 0x0056;
inline constexpr quint16 Next = 0x0000;
inline constexpr quint16 Repeat = 0x00FF;
} // namespace Block

} // namespace DeviceProtocol
