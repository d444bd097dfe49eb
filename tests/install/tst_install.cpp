// The install rules and the rule of where settings live, as a user meets them: `cmake --install`
// into a temporary prefix, then the programs run from there, and from a copy of one in a folder
// of its own.
#include "SettingsLocation.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(bytes) == bytes.size();
}

// Settings.ini whose first preset names where it lies.
QByteArray settingsNamed(const char *name)
{
    return QByteArray("[Pre-Setting name]\r\nSetting1=") + name + "\r\n";
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void rule_data();
    void rule();
    void matrixctlReadsTheWindowsSettings_data();
    void matrixctlReadsTheWindowsSettings();
    void buildTreeKeepsOneSettingsFile();
    void installedWindowKeepsSettingsInTheUsersFolder();
    void serviceFilesStayUnderThePrefix();
    void bashCompletion_data();
    void bashCompletion();

private:
    QString prefix() const { return m_root->filePath(QStringLiteral("usr")); }
    QString config() const { return m_root->filePath(QStringLiteral("config")); }
    QProcessEnvironment environment() const;

    std::unique_ptr<QTemporaryDir> m_root;
};

void TestInstall::initTestCase()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    // In-process look-ups and the programs started below see the same user folders.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config()));
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(CMAKE_COMMAND),
        {QStringLiteral("--install"), QStringLiteral(BUILD_DIR), QStringLiteral("--prefix"),
            prefix()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());
}

QProcessEnvironment TestInstall::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config());
    env.insert(QStringLiteral("HOME"), m_root->filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

void TestInstall::rule_data()
{
    // A layout below the temporary root: the program's folder and where a marker file lies
    // (empty: none); whether that makes the copy installed.
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<bool>("installed");
    QTest::newRow("cmake --install prefix") << QStringLiteral("usr/bin") << QString() << true;
    QTest::newRow("build tree") << QStringLiteral("build/bin") << QString() << false;
    QTest::newRow("package unpacked anywhere")
        << QStringLiteral("unpacked/usr/bin")
        << QStringLiteral("unpacked/usr/share/matrix-controller/installed") << true;
    QTest::newRow("marker beside the program, not one folder up")
        << QStringLiteral("solo") << QStringLiteral("solo/share/matrix-controller/installed")
        << false;
    QTest::newRow("another program's marker")
        << QStringLiteral("other/bin") << QStringLiteral("other/share/another-program/installed")
        << false;
}

void TestInstall::rule()
{
    QFETCH(QString, programFolder);
    QFETCH(QString, marker);
    QFETCH(bool, installed);
    const QString folder = m_root->filePath(programFolder);
    QVERIFY(QDir().mkpath(folder));
    if (!marker.isEmpty())
        QVERIFY(writeFile(m_root->filePath(marker), "installed\n"));

    const SettingsLocation location = SettingsLocation::forProgramFolder(folder);
    QCOMPARE(location.installed, installed);
    QCOMPARE(location.folder, installed ? config() + QStringLiteral("/matrix-controller") : folder);
    if (installed) {
        // The window's own configuration folder, which matrixctl shares.
        const QString name = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(QStringLiteral("matrix-controller"));
        const QString window = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
        QCoreApplication::setApplicationName(name);
        QCOMPARE(location.folder, window);
    }
}

void TestInstall::matrixctlReadsTheWindowsSettings_data()
{
    // Which matrixctl runs: the installed one, or a copy of it in a folder of its own; each
    // place holds a Settings.ini, so reading the wrong one shows.
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("firstPreset");
    QTest::newRow("installed: the user's folder")
        << QStringLiteral("usr/bin/matrixctl") << QStringLiteral("user's folder");
    QTest::newRow("portable copy: beside the program")
        << QStringLiteral("solo-ctl/matrixctl") << QStringLiteral("beside the program");
}

void TestInstall::matrixctlReadsTheWindowsSettings()
{
    QFETCH(QString, program);
    QFETCH(QString, firstPreset);
    const QString solo = m_root->filePath(QStringLiteral("solo-ctl"));
    if (!QFileInfo::exists(solo + QStringLiteral("/matrixctl"))) {
        QVERIFY(QDir().mkpath(solo));
        QVERIFY(QFile::copy(
            prefix() + QStringLiteral("/bin/matrixctl"), solo + QStringLiteral("/matrixctl")));
    }
    for (const QString &folder : {prefix() + QStringLiteral("/bin"), solo})
        QVERIFY(writeFile(
            folder + QStringLiteral("/Settings.ini"), settingsNamed("beside the program")));
    QVERIFY(writeFile(config() + QStringLiteral("/matrix-controller/Settings.ini"),
        settingsNamed("user's folder")));

    QProcess ctl;
    ctl.setProcessEnvironment(environment());
    ctl.start(m_root->filePath(program), {QStringLiteral("preset"), QStringLiteral("list")});
    QVERIFY(ctl.waitForFinished(30000));
    QCOMPARE(ctl.exitCode(), 0);
    const QString out = QString::fromUtf8(ctl.readAllStandardOutput());
    QVERIFY2(out.startsWith(QStringLiteral("1\t%1\t").arg(firstPreset)), qPrintable(out));
}

// The programs of the build tree live in one folder, a portable copy: matrixctl there reads the
// Settings.ini that the window there writes, and the gateway keeps gateway.ini beside it.
void TestInstall::buildTreeKeepsOneSettingsFile()
{
    const QStringList folders{QStringLiteral(MATRIX_CONTROLLER_DIR), QStringLiteral(MATRIXCTL_DIR),
        QStringLiteral(MATRIX_SIM_DIR), QStringLiteral(MATRIX_GATEWAY_DIR)};
    for (const QString &folder : folders)
        QCOMPARE(folder, folders.first());
    const SettingsLocation location = SettingsLocation::forProgramFolder(folders.first());
    QVERIFY(!location.installed);
    QCOMPARE(location.folder, folders.first());
}

void TestInstall::installedWindowKeepsSettingsInTheUsersFolder()
{
    // The user's configuration folder does not exist yet; the installed programs' folder is
    // left as it was.
    QDir(config()).removeRecursively();
    const QStringList programs = QDir(prefix() + QStringLiteral("/bin")).entryList(QDir::Files);
    QProcess window;
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("MATRIX_EXIT_AFTER_FIRST_PAINT"), QStringLiteral("1"));
    window.setProcessEnvironment(env);
    window.start(prefix() + QStringLiteral("/bin/matrix-controller"), {QStringLiteral("--demo")});
    QVERIFY(window.waitForFinished(60000));
    QCOMPARE(window.exitCode(), 0);
    QCOMPARE(window.readAllStandardOutput(), QByteArray("first paint\n"));
    QVERIFY(QFileInfo(config() + QStringLiteral("/matrix-controller/Settings-demo.ini")).isFile());
    QCOMPARE(QDir(prefix() + QStringLiteral("/bin")).entryList(QDir::Files), programs);
}

void TestInstall::serviceFilesStayUnderThePrefix()
{
    // The package puts the service's options in /etc; an install into a folder keeps them there.
    QFile options(prefix() + QStringLiteral("/etc/default/matrix-gateway"));
    QVERIFY2(options.open(QIODevice::ReadOnly), qPrintable(options.fileName()));
    QVERIFY(options.readAll().contains("#MATRIX_GATEWAY_OPTIONS=\"--tcp "));
    QVERIFY(QFileInfo(prefix() + QStringLiteral("/lib/systemd/system/matrix-gateway.service"))
                .isFile());
    // The credentials drop-in is an example to copy, never active where it is installed.
    QFile dropIn(prefix()
        + QStringLiteral("/share/doc/matrix-controller/examples/matrix-gateway-credentials.conf"));
    QVERIFY2(dropIn.open(QIODevice::ReadOnly), qPrintable(dropIn.fileName()));
    QVERIFY(dropIn.readAll().contains("LoadCredential=token:/etc/matrix-gateway/token\n"));
}

void TestInstall::bashCompletion_data()
{
    // The words typed so far, the last one being completed; what bash offers.
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("offered");
    QTest::newRow("command") << "matrixctl "
                             << "send power route info edid firmware discover "
                                "netconfig module preset tags";
    QTest::newRow("option") << "matrixctl --j"
                            << "--json";
    QTest::newRow("command after a target") << "matrixctl --tcp 127.0.0.1 ro"
                                            << "route";
    QTest::newRow("subcommand") << "matrixctl --json route "
                                << "get set all port-to-port";
    QTest::newRow("subcommand of edid") << "matrixctl edid c"
                                        << "copy check";
    QTest::newRow("merge options") << "matrixctl firmware merge --main a.bin --m"
                                   << "--main --main-version";
    QTest::newRow("a target's value is not a command") << "matrixctl --tcp p"
                                                       << "";
}

void TestInstall::bashCompletion()
{
    QFETCH(QString, line);
    QFETCH(QString, offered);
    const QString framework = QStringLiteral("/usr/share/bash-completion/bash_completion");
    if (!QFileInfo::exists(framework))
        QSKIP("needs the bash-completion package");
    // The installed completion, called as bash calls it for the line's last word.
    const QString script = QStringLiteral(R"(
        source "$1" && source "$2" || exit 9
        read -r -a COMP_WORDS <<< "$3"
        [[ $3 == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$3 COMP_POINT=${#3}
        _matrixctl matrixctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        echo "${COMPREPLY[*]}")");
    QProcess bash;
    bash.start(QStringLiteral("bash"),
        {QStringLiteral("-c"), script, QStringLiteral("bash"), framework,
            prefix() + QStringLiteral("/share/bash-completion/completions/matrixctl"), line});
    QVERIFY(bash.waitForFinished(30000));
    QCOMPARE(bash.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(bash.readAllStandardOutput()).simplified(), offered);
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
