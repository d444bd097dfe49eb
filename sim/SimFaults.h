#pragma once

// Misbehaviour to inject into the simulated switcher's replies. The counters name how many of
// the upcoming replies they spoil and count down as they do; the persistent settings stay
// until changed. A request the device does not answer (bad checksum) uses up no counter.
struct SimFaults
{
    int dropReplies = 0; // stay silent instead of replying
    int corruptChecksum = 0; // reply with a wrong checksum byte
    int wrongEcho = 0; // reply to a different subcommand (checksum still right)
    int refuseStatus = 0; // status byte 0xFF (checksum right)
    int refuse44 = 0; // status byte 0x44, as firmware refuses an upgrade part
    // Send the next replies delayNextMs late, and those after them at once, strictly in order:
    // a switcher that is busy once.
    int delayNext = 0;
    int delayNextMs = 0;
    // Close the connection instead of the n-th next reply (n >= 1); -1 off.
    int dropConnectionAfter = -1;

    // Persistent
    int splitInto = 1; // pieces per reply, sent a moment apart
    int extraBytes = 0; // garbage appended to each reply
    int delayMs = 0; // before each reply
};

// Consumes one unit of a countdown fault; true when it applies to this reply.
inline bool takeFault(int &counter)
{
    if (counter <= 0)
        return false;
    --counter;
    return true;
}
