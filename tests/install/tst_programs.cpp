// The installed programs as a user, a script and help2man meet them: each answers --version with
// its name and the project's version, and --help without a display; a result it cannot write to
// stdout is a failure, and a bad option a usage error.
#include "ProgramRun.h"

#include <QProcess>
#include <QTest>

class TestPrograms : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void versionAndHelp_data();
    void versionAndHelp();
    void resultThatCannotBeWritten_data();
    void resultThatCannotBeWritten();
    void badOption_data();
    void badOption();
};

void TestPrograms::versionAndHelp_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("name");
    QTest::newRow("window") << QStringLiteral(MATRIX_CONTROLLER_PATH)
                            << QStringLiteral("matrix-controller");
    QTest::newRow("command line") << QStringLiteral(MATRIXCTL_PATH) << QStringLiteral("matrixctl");
    QTest::newRow("simulator") << QStringLiteral(MATRIX_SIM_PATH) << QStringLiteral("matrix-sim");
}

void TestPrograms::versionAndHelp()
{
    QFETCH(QString, program);
    QFETCH(QString, name);
    const auto run = [&program](const QString &option, QString *out) {
        // As over SSH: no display of any kind.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QLatin1String(name));
        const testsupport::ProgramRun run = testsupport::runProgram(program, {option}, 30000, env);
        *out = run.out;
        return run.code;
    };
    QString out;
    QCOMPARE(run(QStringLiteral("--version"), &out), 0);
    QCOMPARE(
        out, name + QLatin1Char(' ') + QStringLiteral(PROJECT_VERSION_TEXT) + QLatin1Char('\n'));
    QCOMPARE(run(QStringLiteral("--help"), &out), 0);
    QVERIFY2(out.contains(QLatin1String("Usage: ")) && out.contains(QLatin1String("--version")),
        qPrintable(out));
}

void TestPrograms::resultThatCannotBeWritten_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("option");
    const QList<std::pair<const char *, const char *>> programs{
        {MATRIX_CONTROLLER_PATH, "matrix-controller"}, {MATRIXCTL_PATH, "matrixctl"},
        {MATRIX_SIM_PATH, "matrix-sim"}, {MATRIX_GATEWAY_PATH, "matrix-gateway"}};
    for (const auto &[path, name] : programs) {
        for (const char *option : {"--version", "--help"}) {
            QTest::addRow("%s %s", name, option)
                << QString::fromUtf8(path) << QString::fromLatin1(name)
                << QString::fromLatin1(option);
        }
    }
}

// stdout on a full device: what was asked for is lost, and the exit status says so.
void TestPrograms::resultThatCannotBeWritten()
{
    QFETCH(QString, program);
    QFETCH(QString, name);
    QFETCH(QString, option);
    QProcess process;
    process.setStandardOutputFile(QStringLiteral("/dev/full"));
    process.start(program, {option});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()),
        name + QStringLiteral(": write error: No space left on device\n"));
    QCOMPARE(process.exitCode(), 1);
}

void TestPrograms::badOption_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("name");
    QTest::newRow("command line") << QStringLiteral(MATRIXCTL_PATH) << QStringLiteral("matrixctl");
    QTest::newRow("simulator") << QStringLiteral(MATRIX_SIM_PATH) << QStringLiteral("matrix-sim");
    QTest::newRow("gateway") << QStringLiteral(MATRIX_GATEWAY_PATH)
                             << QStringLiteral("matrix-gateway");
}

// A bad option is a usage error: exit status 2 and one line that names the program.
void TestPrograms::badOption()
{
    QFETCH(QString, program);
    QFETCH(QString, name);
    const testsupport::ProgramRun run
        = testsupport::runProgram(program, {QStringLiteral("--no-such-option")});
    QCOMPARE(run.code, 2);
    QCOMPARE(run.err,
        name + QStringLiteral(": Unknown option 'no-such-option'; see ") + name
            + QStringLiteral(" --help\n"));
    QVERIFY(run.out.isEmpty());
}

QTEST_GUILESS_MAIN(TestPrograms)
#include "tst_programs.moc"
