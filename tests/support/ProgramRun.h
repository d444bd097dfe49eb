#pragma once

// The programs as processes: one run to its end, or a long-running one (matrix-sim) whose
// announcement lines the test reads.
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace testsupport {

// What a run of a program left: exit code (-1 when it did not end normally), its two streams.
struct ProgramRun
{
    int code = -1;
    QString out;
    QString err;
};

// Runs program with arguments to its end; env, when given, is all of its environment.
inline ProgramRun runProgram(const QString &program, const QStringList &arguments,
    int timeoutMs = 30000, const QProcessEnvironment &env = {})
{
    QProcess p;
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    p.start(program, arguments);
    ProgramRun run;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    if (p.exitStatus() == QProcess::NormalExit)
        run.code = p.exitCode();
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    return run;
}

// A program that keeps running and tells what it opened or changed in lines such as
// "TCP host:port" and "PTY path"; ended when the object goes.
class ProgramProcess final
{
public:
    ProgramProcess() = default;
    ProgramProcess(const ProgramProcess &) = delete;
    ProgramProcess &operator=(const ProgramProcess &) = delete;
    ~ProgramProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    bool start(const QString &program, const QStringList &arguments)
    {
        m_process.start(program, arguments);
        return m_process.waitForStarted();
    }
    // The next line the program prints that starts with prefix, whole; the lines before it are
    // passed over. "" when none comes within timeoutMs.
    QString nextLine(const QString &prefix, int timeoutMs = 30000)
    {
        for (;;) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                if (line.startsWith(prefix))
                    return line;
            }
            if (!m_process.waitForReadyRead(timeoutMs))
                return {};
        }
    }
    // Asks the program to end; true when it ended within timeoutMs.
    bool stop(int timeoutMs = 5000)
    {
        m_process.terminate();
        return m_process.waitForFinished(timeoutMs);
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

} // namespace testsupport
