#include "Switcher.h"

#include "DeviceProtocol.h"

namespace {

using namespace DeviceProtocol;

// The outcome with a value decoded from its reply when it is ok.
template<typename T, typename Decode>
SwitcherResult<T> decoded(SwitcherOutcome outcome, Decode decode)
{
    SwitcherResult<T> result{std::move(outcome), T{}};
    if (result.ok())
        result.value = decode(result.outcome.reply);
    return result;
}

// Byte 6 of a switch or power query: 0xFF is on, anything else off.
bool answersYes(const CommandPacket &reply)
{
    return reply.answer() == AnswerYes;
}

// Byte 6 of a connection query: 0x00 is connected, anything else not.
bool answersConnected(const CommandPacket &reply)
{
    return reply.answer() == AnswerNo;
}

} // namespace

SwitcherResult<int> Switcher::modelOf(const SwitcherOutcome &outcome)
{
    return decoded<int>(outcome, [](const CommandPacket &r) { return int(r.status()); });
}

SwitcherResult<SwitcherVersion> Switcher::versionOf(const SwitcherOutcome &outcome)
{
    return decoded<SwitcherVersion>(outcome, [](const CommandPacket &r) {
        return SwitcherVersion{r.status(), r.answer()};
    });
}

SwitcherResult<bool> Switcher::powerOf(const SwitcherOutcome &outcome)
{
    return decoded<bool>(outcome, answersYes);
}

SwitcherResult<int> Switcher::routeOf(const SwitcherOutcome &outcome)
{
    return decoded<int>(outcome, [](const CommandPacket &r) { return int(r.answer()); });
}

SwitcherResult<int> Switcher::model()
{
    return modelOf(run(SwitcherOperation::model()));
}

SwitcherResult<SwitcherSize> Switcher::size()
{
    return decoded<SwitcherSize>(run(SwitcherOperation::size()), [](const CommandPacket &r) {
        return SwitcherSize{r.status(), r.answer()};
    });
}

SwitcherResult<SwitcherVersion> Switcher::version()
{
    return versionOf(run(SwitcherOperation::version()));
}

SwitcherResult<SwitcherIdentity> Switcher::identity()
{
    SwitcherResult<SwitcherIdentity> result;
    const SwitcherResult<int> number = model();
    result.outcome = number.outcome;
    if (!number.ok())
        return result;
    result.value.modelNumber = number.value;
    const SwitcherResult<SwitcherSize> matrix = size();
    result.outcome = matrix.outcome;
    if (!matrix.ok())
        return result;
    result.value.size = matrix.value;
    const SwitcherResult<SwitcherVersion> firmware = version();
    result.outcome = firmware.outcome;
    result.value.version = firmware.value;
    return result;
}

SwitcherResult<bool> Switcher::power()
{
    return powerOf(run(SwitcherOperation::power()));
}

SwitcherOutcome Switcher::setPower(bool on)
{
    return run(SwitcherOperation::setPower(on));
}

SwitcherResult<int> Switcher::route(int output)
{
    return routeOf(run(SwitcherOperation::route(output)));
}

SwitcherResult<QList<int>> Switcher::routes()
{
    SwitcherResult<QList<int>> result;
    result.outcome.status = SwitcherOutcome::Status::Ok;
    for (int output = 1; output <= PortCount; ++output) {
        const SwitcherResult<int> one = route(output);
        result.outcome = one.outcome;
        if (!one.ok())
            break;
        result.value.append(one.value);
    }
    return result;
}

SwitcherOutcome Switcher::setRoute(int input, int output)
{
    return run(SwitcherOperation::setRoute(input, output));
}

SwitcherResult<bool> Switcher::inputConnected(int input)
{
    return decoded<bool>(run(SwitcherOperation::inputConnection(input)), answersConnected);
}

SwitcherResult<bool> Switcher::outputConnected(int output)
{
    return decoded<bool>(run(SwitcherOperation::outputConnection(output)), answersConnected);
}

SwitcherResult<bool> Switcher::switchState(PanelSwitch which)
{
    return decoded<bool>(run(SwitcherOperation::switchState(which)), answersYes);
}

SwitcherOutcome Switcher::setSwitch(PanelSwitch which, bool on)
{
    return run(SwitcherOperation::setSwitch(which, on));
}
