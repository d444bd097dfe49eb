#include "SwitcherOutcome.h"

#include "SwitcherModel.h"

QString SwitcherOutcome::message() const
{
    return detail.isEmpty() ? reason : reason + QStringLiteral(": ") + detail;
}

QString switcherStatusName(SwitcherOutcome::Status status)
{
    switch (status) {
    case SwitcherOutcome::Status::Ok:
        return QStringLiteral("ok");
    case SwitcherOutcome::Status::Refused:
        return QStringLiteral("refused");
    case SwitcherOutcome::Status::TimedOut:
        return QStringLiteral("timedOut");
    case SwitcherOutcome::Status::Lost:
        return QStringLiteral("lost");
    case SwitcherOutcome::Status::Stopped:
        return QStringLiteral("stopped");
    }
    return {};
}

QString switcherVersionText(int major, int minor)
{
    return QStringLiteral("%1.%2").arg(major).arg(minor, 2, 10, QLatin1Char('0'));
}

QString SwitcherSize::text() const
{
    return QStringLiteral("%1x%2").arg(inputs).arg(outputs);
}

QString SwitcherIdentity::model() const
{
    return switcherModelName(modelNumber);
}
