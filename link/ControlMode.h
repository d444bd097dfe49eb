#pragma once

// How the link reaches the switcher: over the network or a serial port. The numbers are
// those Settings.ini stores.
enum TControlMode { cmLAN = 0, cmCOM = 1 };
