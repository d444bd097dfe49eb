#include "../SpecialFiles.h"
#include "SettingsFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

const QString MacA = u"00-1A-2B-3C-4D-5E"_s;
const QString MacB = u"00-AA-BB-CC-DD-EE"_s;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

PortTags tagsFrom(const QString &prefix)
{
    PortTags tags;
    for (int n = 0; n < DeviceProtocol::PortCount; ++n) {
        tags.inputs[size_t(n)] = prefix + u" in"_s + QString::number(n + 1);
        tags.outputs[size_t(n)] = prefix + u" out"_s + QString::number(n + 1);
    }
    return tags;
}

// Every field away from its default.
AppSettings everything()
{
    AppSettings s;
    s.controlMode = cmCOM;
    s.comPort = u"/dev/ttyUSB1"_s;
    s.networkIP = u"192.168.0.100"_s;
    s.networkGateway = u"192.168.0.1"_s;
    s.networkMask = u"255.255.255.0"_s;
    s.macId = u"00-1A-2B"_s;
    s.firmwareFolder = u"/srv/firmware/"_s;
    for (int n = 0; n < SettingsPresetCount; ++n)
        s.presets[size_t(n)] = {u"Preset "_s + QString::number(n), u"6,5,4,3,2,1,7"_s};
    s.presets[3].name.clear();
    s.comTags = tagsFrom(u"com"_s);
    s.lanTags.insert(MacA, tagsFrom(u"lan A"_s));
    PortTags onlyOutputs;
    onlyOutputs.outputs[5] = u"Projector"_s;
    s.lanTags.insert(MacB, onlyOutputs);
    s.inputNamePool = {u"Blu-ray"_s, u"PC"_s, u"Set-top box"_s};
    s.outputNamePool = {u"Beamer"_s, u"TV"_s};
    s.displayTag = true;
    s.edid = {u"1080p, Dolby/DTS 5.1"_s, u"In2 - [PC]"_s, u"Out6 - [Projector]"_s, u"All Inputs"_s,
        u"Out1"_s, u"User2 Memory"_s};
    s.lanDevices = {u"[Hall] - [Static IP] - [10.0.0.7] - [10.0.0.1] - [255.0.0.0] - "
                    "[00-1A-2B-3C-4D-5E] - [Same Subnet]"_s,
        u"[Lab] - [Auto IP] - [10.0.0.9] - [10.0.0.1] - [255.0.0.0] - "
        "[00-AA-BB-CC-DD-EE] - [Cross Subnet]"_s};
    s.lanDevice = s.lanDevices.at(1);
    return s;
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // A fresh folder for every test and data row.
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void missingFileGivesDefaults()
    {
        for (const QString &path : {m_dir->filePath(u"absent.ini"_s), m_dir->path()}) {
            const AppSettings s = SettingsFile::load(path);
            QCOMPARE(s, AppSettings{});
            QCOMPARE(s.controlMode, cmLAN);
            QCOMPARE(s.presets[0].name, u"Setting1"_s);
            QCOMPARE(s.presets[7].name, u"Setting8"_s);
            QCOMPARE(s.presets[7].value, u"1,2,3,4,5,6"_s);
            QVERIFY(!s.displayTag);
            QVERIFY(s.lanTags.isEmpty());
            QCOMPARE(s.lanDeviceIndex(), -1);
        }
    }

    void roundTripsEverything()
    {
        const QString path = m_dir->filePath(u"Settings.ini"_s);
        const AppSettings s = everything();
        QString error;
        QVERIFY2(SettingsFile::save(path, s, &error), qPrintable(error));
        QCOMPARE(SettingsFile::load(path), s);
        QCOMPARE(SettingsFile::load(path).lanDeviceIndex(), 1);

        // The names other programs and older files rely on, spelled exactly.
        const QByteArray file = readAll(path);
        for (const char *line : {"[Pre-Setting name]\n", "Setting1=Preset 0\n", "Setting4=\n",
                 "[Pre-Setting value]\n", "value8=6,5,4,3,2,1,7\n", "[Tag of Input - COM]\n",
                 "In6=com in6\n", "[Tag of Output - COM]\n", "Out1=com out1\n",
                 "[Tag of Input - TCP:00-1A-2B-3C-4D-5E]\n",
                 "[Tag of Output - TCP:00-AA-BB-CC-DD-EE]\n", "Out6=Projector\n",
                 "[In device name]\nDevice1=Blu-ray\nDevice2=PC\n",
                 "[Out display name]\nDisplay1=Beamer\n", "[Display tag]\nValue=1\n",
                 "[EDID setting]\nEDID mode=1080p, Dolby/DTS 5.1\nIn of EDID mode=In2 - [PC]\n"
                 "Out of Copy EDID=Out6 - [Projector]\nIn of Copy EDID=All Inputs\n"
                 "Out of Read EDID=Out1\nIn of Download EDID=User2 Memory\n",
                 "[TCP control device list]\nDevice1=[Hall]", "[TCP control device]\nValue=[Lab]"})
            QVERIFY2(file.contains(line), line);
        // A switcher without any input tag has no input section.
        QVERIFY(!file.contains("[Tag of Input - TCP:00-AA-BB-CC-DD-EE]"));
    }

    void hostileTextsRoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QString &text, const QString &expected) {
            QTest::newRow(name) << text << expected;
        };
        const auto same = [&](const char *name, const QString &text) { row(name, text, text); };
        same("closing bracket", u"]"_s);
        same("section look-alike", u"[x]"_s);
        same("semicolon", u";"_s);
        same("comment look-alike", u"; not a comment"_s);
        same("equals", u"="_s);
        same("key look-alike", u"a=b=c"_s);
        same("hash", u"#"_s);
        same("windows path", u"C:\\fw\\"_s);
        same("non-ASCII", u"Écran 4K – 会议室"_s);
        same("leading and trailing spaces", u"  padded  "_s);
        same("only blanks", u" \t "_s);
        same("double-quoted", u"\"quoted\""_s);
        same("single-quoted", u"'quoted'"_s);
        same("lone quote", u"\""_s);
        same("line break", u"first\nsecond"_s);
        same("trailing line break", u"line\n"_s);
        same("only line breaks", u"\n\n"_s);
        same("indented lines", u"  a \n\tb\t"_s);
        same("multi-line marker", u"<<<END_OF_TEXT"_s);
        same("end tag line", u"a\nEND_OF_TEXT\nend_of_text  \nEND_OF_TEXT_1\nb"_s);
        same("percent", u"100%25"_s);
        same("empty", QString());
        row("CR LF", u"a\r\nb\rc"_s, u"a\nb\nc"_s);
        row("NUL", u"a"_s + QChar(0) + u"b"_s, u"ab"_s);
    }

    // Each text in every kind of place, next to a normal value that must survive too.
    void hostileTextsRoundTrip()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const QString path = m_dir->filePath(u"Settings.ini"_s);

        const auto fill = [](AppSettings &s, const QString &t, const QString &mac) {
            s.comPort = t;
            s.networkIP = t;
            s.macId = t;
            s.firmwareFolder = t;
            s.presets[0] = {t, t};
            s.comTags.inputs[0] = t;
            s.comTags.outputs[5] = t;
            s.lanTags.insert(mac, tagsFrom(t + u"!"_s));
            s.inputNamePool = {t + u"!"_s, u"normal"_s};
            s.outputNamePool = {u"normal"_s, t + u"!"_s};
            s.edid.downloadInput = t;
            s.lanDevices = {t + u"!"_s, u"[normal]"_s};
            s.lanDevice = t + u"!"_s;
        };
        AppSettings original = everything();
        fill(original, text, text); // the text is also a switcher's MAC, so part of a section name
        AppSettings want = everything();
        fill(want, expected, text);

        QString error;
        QVERIFY2(SettingsFile::save(path, original, &error), qPrintable(error));
        const AppSettings loaded = SettingsFile::load(path);
        QCOMPARE(loaded.comPort, expected);
        QCOMPARE(loaded.presets[0].name, expected);
        QCOMPARE(loaded.tags(cmLAN, text), want.tags(cmLAN, text));
        QCOMPARE(loaded, want);

        // Saving what was read changes nothing: the stored forms read back as themselves.
        const QByteArray firstFile = readAll(path);
        QVERIFY(SettingsFile::save(path, loaded, &error));
        QCOMPARE(readAll(path), firstFile);
        QCOMPARE(SettingsFile::load(path), want);
    }

    void handWrittenWindowsFileReadsAsWritten()
    {
        const QString path = m_dir->filePath(u"Settings.ini"_s);
        const QByteArray handWritten
            = "; written by hand\r\n"
              "[Pre-Setting name]\r\n"
              "Setting1=Lobby ; main hall = #1\r\n"
              "setting2 = Stage \r\n"
              "Setting3=\r\n"
              "Setting4=\"  Padded  \"\r\n"
              "[pre-setting VALUE]\r\n"
              "value1=3,1\r\n"
              "value2=\r\n"
              "[Tag of Input - TCP:00-1A-2B-3C-4D-5E]\r\n"
              "In1=C:\\media\\player\\\r\n"
              "In3=Caf\xe9\r\n"
              "[Tag of Output - COM]\r\n"
              "Out2=Ecran 4K \xe2\x80\x93 \xe4\xbc\x9a\xe8\xae\xae\xe5\xae\xa4\r\n"
              "[Display tag]\r\n"
              "Value=1\r\n"
              "[TCP control device list]\r\n"
              "Device3=[C]\r\n"
              "Device1=[A]\r\n"
              "Device10=[D]\r\n"
              "[Connection]\r\n"
              "Control mode=1\r\n"
              "COM port=COM3\r\n";
        writeAll(path, handWritten);

        const AppSettings s = SettingsFile::load(path);
        QCOMPARE(s.presets[0].name, u"Lobby ; main hall = #1"_s);
        QCOMPARE(s.presets[1].name, u"Stage"_s);
        QCOMPARE(s.presets[2].name, QString()); // present but empty is not the default
        QCOMPARE(s.presets[3].name, u"  Padded  "_s);
        QCOMPARE(s.presets[4].name, u"Setting5"_s);
        QCOMPARE(s.presets[0].value, u"3,1"_s);
        QCOMPARE(s.presets[1].value, QString());
        QCOMPARE(s.presets[2].value, u"1,2,3,4,5,6"_s);
        const PortTags lan = s.tags(cmLAN, MacA.toLower());
        QCOMPARE(lan.inputs[0], u"C:\\media\\player\\"_s);
        QCOMPARE(lan.inputs[1], QString());
        QCOMPARE(lan.inputs[2], u"Café"_s); // an ANSI byte, not UTF-8
        QCOMPARE(s.comTags.outputs[1], u"Ecran 4K – 会议室"_s);
        QVERIFY(s.displayTag);
        QCOMPARE(s.lanDevices, (QStringList{u"[A]"_s, u"[C]"_s, u"[D]"_s}));
        QCOMPARE(s.controlMode, cmCOM);
        QCOMPARE(s.comPort, u"COM3"_s);

        // Written back, the values stay in the plain form the hand-written file used.
        QString error;
        QVERIFY2(SettingsFile::save(path, s, &error), qPrintable(error));
        const QByteArray saved = readAll(path);
        for (const char *line :
            {"; written by hand\n", "value1=3,1\n", "setting2=Stage\n", "In1=C:\\media\\player\\\n",
                "Setting4=\"  Padded  \"\n", "[Tag of Input - TCP:00-1A-2B-3C-4D-5E]\n"})
            QVERIFY2(saved.contains(line), line);
        QCOMPARE(SettingsFile::load(path), s);
    }

    void partialFileIsCompletedWithDefaults()
    {
        const QString path = m_dir->filePath(u"Settings.ini"_s);
        writeAll(path,
            "[Pre-Setting name]\nSetting3=Lobby\n[Display tag]\nValue=yes\n"
            "[Connection]\nControl mode=7\n");
        AppSettings expected;
        expected.presets[2].name = u"Lobby"_s;
        expected.displayTag = true;
        const AppSettings s = SettingsFile::load(path);
        QCOMPARE(s, expected); // an unknown control mode falls back to TCP

        QVERIFY(SettingsFile::save(path, s));
        const QByteArray saved = readAll(path);
        for (const char *line : {"Setting1=Setting1\n", "Setting3=Lobby\n", "value8=1,2,3,4,5,6\n",
                 "Control mode=0\n", "Value=1\n", "[EDID setting]\n", "In of Download EDID=\n"})
            QVERIFY2(saved.contains(line), line);
    }

    void unknownContentSurvivesSave()
    {
        const QString path = m_dir->filePath(u"Settings.ini"_s);
        const QByteArray foreign = "top=level\n"
                                   "\n"
                                   "; about the vendor section\n"
                                   "[Vendor]\n"
                                   "Path=C:\\Program Files\\x\\\n"
                                   "Quoted=\"kept as written\"\n"
                                   "Latin=caf\xe9\n"
                                   "Notes=<<<EOT\n"
                                   "line one\n"
                                   "END_OF_TEXT\n"
                                   "EOT\n";
        writeAll(path, foreign + "[Pre-Setting name]\nSetting1=Old\nSetting9=Extra\n");

        AppSettings s = everything();
        QVERIFY(SettingsFile::save(path, s));
        const QByteArray saved = readAll(path);
        QVERIFY2(saved.startsWith("top=level\n\n\n; about the vendor section\n[Vendor]\n"
                                  "Path=C:\\Program Files\\x\\\nQuoted=\"kept as written\"\n"
                                  "Latin=caf\xe9\nNotes=<<<"),
            saved.constData());
        QVERIFY(saved.contains("\nline one\nEND_OF_TEXT\n"));
        QVERIFY(saved.contains("Setting1=Preset 0\n"));
        QVERIFY(saved.contains("Setting9=Extra\n"));
        QCOMPARE(SettingsFile::load(path), s);

        // Saving again keeps the foreign multi-line value whole.
        QVERIFY(SettingsFile::save(path, s));
        QCOMPARE(readAll(path), saved);
    }

    void blankTagSectionsAreRemoved()
    {
        const QString path = m_dir->filePath(u"Settings.ini"_s);
        writeAll(path,
            "[Tag of Input - TCP:00-00-00-00-00-01]\nIn1= \nIn2=\"  \"\n"
            "[Tag of Something]\n"
            "[Tag of Output - COM]\nOut1=Beamer\n"
            "[Other]\nx=\n");

        AppSettings s = everything();
        s.setTags(cmLAN, MacA, PortTags{}); // all tags of a switcher cleared
        QVERIFY(SettingsFile::save(path, s));
        QByteArray saved = readAll(path);
        QVERIFY(!saved.contains("Tag of Input - TCP:00-00-00-00-00-01"));
        QVERIFY(!saved.contains("Tag of Something"));
        QVERIFY(!saved.contains("TCP:00-1A-2B-3C-4D-5E"));
        QVERIFY(saved.contains("[Tag of Output - TCP:00-AA-BB-CC-DD-EE]"));
        QVERIFY(saved.contains("[Other]\nx=\n"));

        // Tags written alone: only that switcher's sections change.
        QVERIFY(SettingsFile::savePortTags(path, cmLAN, MacA, tagsFrom(u"A"_s)));
        QCOMPARE(SettingsFile::load(path).tags(cmLAN, MacA), tagsFrom(u"A"_s));
        QVERIFY(SettingsFile::savePortTags(path, cmCOM, {}, PortTags{}));
        saved = readAll(path);
        QVERIFY(!saved.contains("Tag of Input - COM"));
        QVERIFY(!saved.contains("Tag of Output - COM"));
        QVERIFY(saved.contains("[Tag of Input - TCP:00-1A-2B-3C-4D-5E]\nIn1=A in1\n"));
        QVERIFY(saved.contains("[Pre-Setting name]\nSetting1=Preset 0\n"));

        // TCP mode without a selected switcher stores nothing.
        QVERIFY(SettingsFile::savePortTags(path, cmLAN, noDeviceMac(), tagsFrom(u"x"_s)));
        QCOMPARE(readAll(path), saved);
    }

    void tagsPerModeAndSwitcher()
    {
        AppSettings s;
        s.setTags(cmLAN, MacA, tagsFrom(u"A"_s));
        s.setTags(cmLAN, MacA.toLower(), tagsFrom(u"a"_s)); // same switcher
        s.setTags(cmLAN, noDeviceMac(), tagsFrom(u"none"_s));
        s.setTags(cmCOM, MacB, tagsFrom(u"com"_s));
        QCOMPARE(s.lanTags.keys(), QStringList{MacA});
        QCOMPARE(s.tags(cmLAN, MacA), tagsFrom(u"a"_s));
        QCOMPARE(s.tags(cmLAN, noDeviceMac()), PortTags{});
        QCOMPARE(s.tags(cmLAN, MacB), PortTags{});
        QCOMPARE(s.tags(cmCOM, MacA), tagsFrom(u"com"_s));
    }

    void failedSaveKeepsOldFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("target is a folder") << u"folder"_s;
        QTest::newRow("parent is a file") << u"parent"_s;
        QTest::newRow("write fails midway") << u"full"_s;
    }

    void failedSaveKeepsOldFile()
    {
        QFETCH(QString, kind);
        QString path = m_dir->filePath(u"Settings.ini"_s);
        const QByteArray old = "[Pre-Setting name]\nSetting1=Old\n";
        writeAll(path, old);
        if (kind == u"folder"_s) {
            QVERIFY(QFile::remove(path));
            QVERIFY(QDir(m_dir->path()).mkdir(u"Settings.ini"_s));
        } else if (kind == u"parent"_s) {
            path = path + u"/Settings.ini"_s;
        }

        // A file-size limit below the new file's size makes the write itself fail, as a full
        // disk would; root ignores permission bits, so those cannot be used here.
        rlimit saved{};
        if (kind == u"full"_s) {
            std::signal(SIGXFSZ, SIG_IGN);
            QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
            rlimit small = saved;
            small.rlim_cur = 256;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        QString error;
        const bool ok = SettingsFile::save(path, everything(), &error);
        if (kind == u"full"_s)
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);

        QVERIFY(!ok);
        QVERIFY(!error.isEmpty());
        if (kind == u"folder"_s)
            QVERIFY(QFileInfo(path).isDir());
        else
            QCOMPARE(readAll(m_dir->filePath(u"Settings.ini"_s)), old);
        // No temporary file is left behind.
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList{u"Settings.ini"_s});
    }

    // A file that cannot be read completely is told as such, and a save never replaces it: the
    // part that was not understood would be lost.
    void incompleteFileIsToldAndKept_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("NUL byte") << u"nul"_s << u"it holds a NUL byte at offset 48"_s;
        QTest::newRow("UTF-16 cut inside a character") << u"cut"_s << u"it is not valid UTF-16"_s;
        QTest::newRow("UTF-16 with a lone surrogate")
            << u"surrogate"_s << u"it is not valid UTF-16"_s;
        QTest::newRow("larger than a settings file") << u"large"_s << u"it is larger than"_s;
        QTest::newRow("unreadable") << u"mode000"_s << u"Permission denied"_s;
    }

    void incompleteFileIsToldAndKept()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString path = m_dir->filePath(u"Settings.ini"_s);
        QByteArray bytes = "[Pre-Setting name]\nSetting1=Lobby\n";
        if (kind == u"nul"_s) {
            bytes += QByteArray("Setting2=Stage\0\n[Display tag]\nValue=1\n", 38);
        } else if (kind == u"cut"_s || kind == u"surrogate"_s) {
            QStringEncoder encoder(QStringConverter::Utf16LE, QStringEncoder::Flag::WriteBom);
            bytes = encoder.encode(QString::fromUtf8(bytes));
            // A high surrogate with no low one after it, or the first byte of a character.
            bytes += kind == u"cut"_s ? QByteArray("x") : QByteArray("\x00\xd8x\0\n\0", 6);
        }
        writeAll(path, bytes);
        if (kind == u"large"_s)
            QVERIFY(QFile::resize(path, SettingsFile::MaxFileSize + 1)); // sparse: quick
        if (kind == u"mode000"_s)
            QVERIFY(QFile::setPermissions(path, {}));
        const QByteArray before = readAll(path);

        {
            const WithoutFileOverride asOperator;
            const SettingsRead read = SettingsFile::read(path);
            QCOMPARE(read.status, SettingsRead::Incomplete);
            QVERIFY2(read.reason.startsWith(reason), qPrintable(read.reason));
            if (kind == u"nul"_s) { // what comes before the NUL byte is read
                QCOMPARE(read.settings.presets[0].name, u"Lobby"_s);
                QCOMPARE(read.settings.presets[1].name, u"Stage"_s);
            }

            QString error;
            QVERIFY(!SettingsFile::save(path, everything(), &error));
            QVERIFY2(error.contains(path) && error.contains(reason), qPrintable(error));
            QVERIFY(!SettingsFile::savePortTags(path, cmCOM, {}, tagsFrom(u"x"_s)));
        }
        QCOMPARE(readAll(path), before);
    }

    // Windows Notepad's "Unicode" and "UTF-8" files carry a byte order mark.
    void unicodeFilesAreRead_data()
    {
        QTest::addColumn<int>("encoding");
        QTest::newRow("UTF-16 LE") << int(QStringConverter::Utf16LE);
        QTest::newRow("UTF-16 BE") << int(QStringConverter::Utf16BE);
        QTest::newRow("UTF-8 with BOM") << int(QStringConverter::Utf8);
    }

    void unicodeFilesAreRead()
    {
        QFETCH(int, encoding);
        const QString text
            = u"[Pre-Setting name]\r\nSetting1=Foyer \u00e9t\u00e9\r\n"
              u"[Tag of Input - COM]\r\nIn2=\u5149\u789f\r\n[Display tag]\r\nValue=1\r\n"_s;
        QStringEncoder encoder(
            QStringConverter::Encoding(encoding), QStringEncoder::Flag::WriteBom);
        const QString path = m_dir->filePath(u"Settings.ini"_s);
        writeAll(path, encoder.encode(text));

        const SettingsRead read = SettingsFile::read(path);
        QCOMPARE(read.status, SettingsRead::Ok);
        QCOMPARE(read.settings.presets[0].name, u"Foyer \u00e9t\u00e9"_s);
        QCOMPARE(read.settings.comTags.inputs[1], u"\u5149\u789f"_s);
        QVERIFY(read.settings.displayTag);
        // Saved back as UTF-8, with everything it held.
        QVERIFY(SettingsFile::save(path, read.settings));
        QCOMPARE(SettingsFile::read(path).settings, read.settings);
        QVERIFY(readAll(path).contains(u"Setting1=Foyer \u00e9t\u00e9\n"_s.toUtf8()));
    }

    void notAFileIsLeftAlone_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FIFO without a writer") << u"fifo"_s << u"it is a pipe, not a file"_s;
        QTest::newRow("endless device") << u"zero"_s << u"it is a device, not a file"_s;
    }

    void notAFileIsLeftAlone()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString path = m_dir->filePath(u"Settings.ini"_s);
        QVERIFY(kind == u"fifo"_s ? makeFifo(path) : makeDeviceNode(path, 5));
        const mode_t type = fileType(path);

        const SettingsRead read = SettingsFile::read(path);
        QCOMPARE(read.status, SettingsRead::NotAFile);
        QCOMPARE(read.reason, reason);
        QCOMPARE(read.settings, AppSettings{});
        QString error;
        QVERIFY(!SettingsFile::save(path, everything(), &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(fileType(path), type);
    }

    // A section line without its "]" ends at its line's end; saving such a file again and
    // again gives the same file.
    void unterminatedSectionSavesIdempotently()
    {
        const QString path = m_dir->filePath(u"Settings.ini"_s);
        writeAll(path,
            "[Pre-Setting name\r\nSetting1=Lobby\r\nSetting2=Stage\r\n[Display "
            "tag]\r\nValue=1\r\n");
        const SettingsRead read = SettingsFile::read(path);
        QCOMPARE(read.status, SettingsRead::Ok);
        QCOMPARE(read.settings.presets[0].name, u"Lobby"_s);
        QCOMPARE(read.settings.presets[1].name, u"Stage"_s);
        QVERIFY(read.settings.displayTag);

        QVERIFY(SettingsFile::save(path, read.settings));
        const QByteArray first = readAll(path);
        QVERIFY(first.contains("[Pre-Setting name]\nSetting1=Lobby\nSetting2=Stage\n"));
        for (int i = 0; i < 3; ++i)
            QVERIFY(SettingsFile::save(path, SettingsFile::load(path)));
        QCOMPARE(readAll(path), first);
    }

    // Whatever a file holds, the first save settles it: reading the saved file gives the same
    // settings, and saving again writes the same bytes (a file must not drift save by save).
    void secondSaveIsIdentical_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("unterminated section") << QByteArray("[Pre-Setting name\nSetting1=A\n");
        QTest::newRow("empty section name, odd-case tag section, ANSI byte")
            << QByteArray("[]]]]x\n[Tag of InpUt - TCP:1-1A!]\nIn3=x\xcc\n");
        QTest::newRow("blank tag section")
            << QByteArray("[Tag of Output - TCP:00-1A-2B-3C-4D-5E]\nOut1= \n");
        QTest::newRow("lines without a key")
            << QByteArray("junk\n[Display tag]\nstray]\nValue=1\n");
        QTest::newRow("key twice, other case")
            << QByteArray("[Pre-Setting name]\nsetting1=a\nSETTING1=b\n");
        QTest::newRow("keys before any section") << QByteArray("Value=1\n[Display tag]\nValue=0\n");
        QTest::newRow("comment of a section that ends up first")
            << QByteArray("[Tag of Input - TCP:2\n#note\n[\ng]\nin=\n");
        QTest::newRow("multi-line value without its end, trailing blank")
            << QByteArray("[Other program]\nNote=<<<END\nLobby [Ta ");
        QTest::newRow("a line that moves first and starts like a UTF-16 byte order mark")
            << QByteArray("\xff(\n\xfe\xff\xff)\xba.[(=]\ns\xc4"
                          "A.\n[\xf8\xff(\n\xfe\xff\xff\xba.\n");
    }

    void secondSaveIsIdentical()
    {
        QFETCH(QByteArray, bytes);
        const SettingsRead first = SettingsFile::fromBytes(bytes);
        QCOMPARE(first.status, SettingsRead::Ok);
        QByteArray saved;
        QVERIFY(SettingsFile::toBytes(bytes, first.settings, &saved));
        const SettingsRead second = SettingsFile::fromBytes(saved);
        QCOMPARE(second.status, SettingsRead::Ok);
        QVERIFY(second.settings == first.settings);
        QByteArray again;
        QVERIFY(SettingsFile::toBytes(saved, second.settings, &again));
        QCOMPARE(again, saved);
    }

    void moveAsideKeepsTheFile()
    {
        const QString path = m_dir->filePath(u"Settings.ini"_s);
        const QDateTime when(QDate(2026, 12, 10), QTime(14, 30, 5));
        const QString backup = path + u".bak-2026-12-10-143005"_s;
        for (const QString &expected : {backup, backup + u"-2"_s}) {
            const QByteArray bytes = "held " + expected.toUtf8();
            writeAll(path, bytes);
            QString error;
            QCOMPARE(SettingsFile::moveAside(path, when, &error), expected);
            QVERIFY(!QFileInfo::exists(path));
            QCOMPARE(readAll(expected), bytes);
        }
        QString error;
        QCOMPARE(SettingsFile::moveAside(path, when, &error), QString());
        QVERIFY2(error.contains(path), qPrintable(error));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
