// The installed programs as a user and help2man meet them: each answers --version with its name
// and the project's version, and --help without a display.
#include "ProgramRun.h"

#include <QTest>

class TestPrograms : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void versionAndHelp_data();
    void versionAndHelp();
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

QTEST_GUILESS_MAIN(TestPrograms)
#include "tst_programs.moc"
