#pragma once

#include <QtGlobal>

// Every duration the program waits for, in one place. The device protocol counts waits in
// ticks of 10 ms; the counts stay fixed and tests shrink the tick and the pauses so that
// failure paths run in milliseconds.
struct Timing
{
    int tickMs = 10; // one wait tick
    int replyTicks = 500; // ticks before a reply has timed out
    int commandAttempts = 5; // tries of one command before it has failed
    int retryPauseMs = 5; // pause after a bad reply before the next attempt
    int connectTimeoutMs = 3000; // TCP connect
    int blinkMs = 350; // status panel blink step
    int connectSettleMs = 100; // after a connect/disconnect click
    int firmwareStepMs = 300; // between the main MCU preparation steps
    int firmwareRetryMs = 50; // before a firmware block is sent again
    int rebootStepMs = 100; // one step of the reboot wait
    int writeTimeoutMs = 1000; // a serial write: this long, and per byte written
    int writeTimeoutPerByteMs = 100;
    // After a time-out the line is drained this long: a reply that comes after its request
    // was given up must not be taken for the answer to the next one.
    int drainGraceMs = 300;

    int replyTimeoutMs() const { return tickMs * replyTicks; }
    int writeTimeout(qsizetype bytes) const
    {
        return writeTimeoutMs + writeTimeoutPerByteMs * static_cast<int>(bytes);
    }

    // For tests of success paths: the real time-outs, so that a reply a busy machine delivers
    // late is still awaited, with the tick and the pauses of fast().
    static Timing realTimeOuts()
    {
        const Timing real;
        Timing t = fast();
        t.replyTicks = real.replyTimeoutMs() / t.tickMs;
        t.connectTimeoutMs = real.connectTimeoutMs;
        t.writeTimeoutMs = real.writeTimeoutMs;
        t.writeTimeoutPerByteMs = real.writeTimeoutPerByteMs;
        return t;
    }

    // For tests of time-outs: the same counts with 1 ms ticks and short pauses.
    static Timing fast()
    {
        Timing t;
        t.tickMs = 1;
        t.retryPauseMs = 1;
        t.connectTimeoutMs = 1000;
        t.blinkMs = 1;
        t.connectSettleMs = 1;
        t.firmwareStepMs = 1;
        t.firmwareRetryMs = 1;
        t.rebootStepMs = 1;
        t.writeTimeoutMs = 50;
        t.writeTimeoutPerByteMs = 1;
        // Long enough that a reply a little later than the time-out is still drained.
        t.drainGraceMs = 40;
        return t;
    }
};
