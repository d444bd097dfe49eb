#pragma once

// A stand-in for the main window, for tests that build one page alone on a plain widget: it
// records the operations the page hands the runner by their codes, answers each with a result
// the test chooses, and keeps the status panels' texts. It has no link.
#include "LinkLease.h"
#include "PageServices.h"
#include "ShellState.h"
#include "TKVCOMControl.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <map>

namespace testsupport {

class FakePageServices final : public PageServices
{
public:
    // Chooses the result of one command from its words; by default every command succeeds
    // with an all-zero reply.
    using Answer = std::function<CommandResult(quint8 command, quint8 subcommand)>;

    FakePageServices() : m_lease(nullptr) { }

    ShellState &state() override { return m_state; }
    LinkLease &lease() override { return m_lease; }
    Switcher &switcher() override { return m_switcher; }

    void ShowStatus(int panel, const QString &text, bool blink = false) override
    {
        Q_UNUSED(blink);
        m_panels[panel] = text;
    }
    void btnConnectClick() override { ++m_connectClicks; }
    QWidget *dialogParent() override { return &m_dialogParent; }

    void setAnswer(Answer answer) { m_answer = std::move(answer); }
    QStringList commands() const { return m_commands; }
    QString panel(int n) const
    {
        const auto it = m_panels.find(n);
        return it == m_panels.end() ? QString() : it->second;
    }
    int connectClicks() const { return m_connectClicks; }

private:
    // Records each operation by its request's codes and answers it with the chosen result.
    class FakeSwitcher final : public Switcher
    {
    public:
        explicit FakeSwitcher(FakePageServices &services) : m_services(services) { }
        SwitcherOutcome run(const SwitcherOperation &operation) override
        {
            const CommandPacket &request = operation.request();
            // The same notation as the simulator's request log: "CC/SS WORD1 WORD2".
            m_services.m_commands.append(QStringLiteral("%1/%2 %3 %4")
                                             .arg(request.command(), 2, 16, QLatin1Char('0'))
                                             .arg(request.subcommand(), 2, 16, QLatin1Char('0'))
                                             .arg(request.word(1), 4, 16, QLatin1Char('0'))
                                             .arg(request.word(2), 4, 16, QLatin1Char('0'))
                                             .toUpper());
            const CommandResult result = m_services.m_answer
                ? m_services.m_answer(request.command(), request.subcommand())
                : CommandResult{{}, true};
            if (result.Success)
                return SwitcherOutcome::done(result.reply);
            SwitcherOutcome refused = SwitcherOutcome::failed(SwitcherOutcome::Status::Refused, {});
            refused.reply = result.reply;
            return refused;
        }

    private:
        FakePageServices &m_services;
    };

    ShellState m_state;
    LinkLease m_lease;
    QWidget m_dialogParent;
    Answer m_answer;
    QStringList m_commands;
    std::map<int, QString> m_panels;
    int m_connectClicks = 0;
    FakeSwitcher m_switcher{*this};
};

} // namespace testsupport
