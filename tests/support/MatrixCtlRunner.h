#pragma once

// matrixctl in the test's own process, with the short time-outs of failure paths.
#include "MatrixCtl.h"
#include "ProgramRun.h"
#include "SimulatorServer.h"
#include "Timing.h"

#include <QMap>
#include <QTextStream>

namespace testsupport {

// What matrixctl writes on stderr for the given lines: each starts with the program's name.
inline QString ctlErrorLines(const QString &lines)
{
    QString named;
    for (const QString &line : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        named += (line.startsWith(QLatin1String("matrixctl: ")) ? QString()
                                                                : QStringLiteral("matrixctl: "))
            + line + QLatin1Char('\n');
    return named;
}

// Runs matrixctl's command line. Arguments may hold placeholders "{name}" that the runner
// fills in: "{tcp}" the simulated switcher's loopback address once useSimulator() named it,
// and whatever set() gave.
class MatrixCtlRunner final
{
public:
    void set(const QString &name, const QString &value)
    {
        m_values.insert(QLatin1Char('{') + name + QLatin1Char('}'), value);
    }
    void useSimulator(const SimulatorServer &sim)
    {
        set(QStringLiteral("tcp"), QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort()));
    }
    QString fill(QString text) const
    {
        for (auto it = m_values.cbegin(); it != m_values.cend(); ++it)
            text.replace(it.key(), it.value());
        return text;
    }
    // The arguments after the program name.
    ProgramRun run(const QStringList &arguments) const
    {
        QStringList words{QStringLiteral("matrixctl")};
        for (const QString &argument : arguments)
            words.append(fill(argument));
        ProgramRun result;
        QTextStream out(&result.out);
        QTextStream err(&result.err);
        result.code = runMatrixCtl(words, out, err, Timing::fast());
        return result;
    }
    // The arguments as one text, split at each space.
    ProgramRun run(const QString &arguments) const
    {
        return run(arguments.split(QLatin1Char(' ')));
    }

private:
    QMap<QString, QString> m_values;
};

// matrixctl against the simulated switcher, listening on loopback TCP ("{tcp}"); keeps what the
// last run printed.
class MatrixCtlFixture final
{
public:
    MatrixCtlFixture()
    {
        m_listening = m_sim.listenTcp();
        m_runner.useSimulator(m_sim);
    }
    MatrixCtlFixture(const MatrixCtlFixture &) = delete;
    MatrixCtlFixture &operator=(const MatrixCtlFixture &) = delete;

    bool listening() const { return m_listening; }
    template<typename Arguments>
    int run(const Arguments &arguments)
    {
        m_last = m_runner.run(arguments);
        return m_last.code;
    }
    const QString &out() const { return m_last.out; }
    const QString &err() const { return m_last.err; }
    SimulatorServer &sim() { return m_sim; }
    MatrixCtlRunner &runner() { return m_runner; }

private:
    SimulatorServer m_sim;
    MatrixCtlRunner m_runner;
    ProgramRun m_last;
    bool m_listening = false;
};

} // namespace testsupport
