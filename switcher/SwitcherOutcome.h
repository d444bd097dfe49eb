#pragma once

#include "CommandPacket.h"

#include <QString>
#include <QtGlobal>

// How one device operation ended, with the reason the operator is told: the window's own
// status texts ("Time out!", "Send data failed!", "TCP control failed!", "Connect 10.0.0.5
// failed", "In processing, command ignored").
struct SwitcherOutcome
{
    enum class Status {
        Ok,
        Refused, // the switcher said no, or the window would not start it (busy, powered off)
        TimedOut, // nothing answered within the retries
        Lost, // the link failed, is closed, or the replies could not be understood
        Stopped, // the program is stopping: nothing is reported
    };

    Status status = Status::Stopped;
    QString reason;
    // The system's reason beside a failed open ("Connection refused"); usually empty.
    QString detail;
    // The last reply received (all zero when none); the typed operations decode it.
    CommandPacket reply;

    bool ok() const { return status == Status::Ok; }
    // The reason with its detail, as one line: "Connect 10.0.0.5 failed: Connection refused".
    QString message() const;

    static SwitcherOutcome done(const CommandPacket &reply) { return {Status::Ok, {}, {}, reply}; }
    static SwitcherOutcome failed(Status status, const QString &reason, const QString &detail = {})
    {
        return {status, reason, detail, {}};
    }
};

// The outcome's name as logs and scripts see it: "ok", "refused", "timedOut", "lost", "stopped".
QString switcherStatusName(SwitcherOutcome::Status status);

// An outcome with the answer decoded from its reply; value is meaningful only when ok().
template<typename T>
struct SwitcherResult
{
    SwitcherOutcome outcome;
    T value{};

    bool ok() const { return outcome.ok(); }
};

// The version the switcher reports, as "major.minor" with the minor in two digits: "1.05".
QString switcherVersionText(int major, int minor);

struct SwitcherSize
{
    int inputs = 0;
    int outputs = 0;

    // "6x6"
    QString text() const;
};

struct SwitcherVersion
{
    int major = 0;
    int minor = 0;

    QString text() const { return switcherVersionText(major, minor); }
};

// Model, size and firmware version, as Device status and `matrixctl info` show them.
struct SwitcherIdentity
{
    int modelNumber = 0;
    SwitcherSize size;
    SwitcherVersion version;

    // The model's name from the model list, or "Unknown model N".
    QString model() const;
};
