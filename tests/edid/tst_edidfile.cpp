// EDID files: open -> hex view -> save for real and built EDIDs, save names, files that
// cannot be read, and saves that fail.
#include "EdidFile.h"
#include "EdidFixture.h"
#include "EdidGridModel.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

class TestEdidFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void openShowSave_data();
    void openShowSave();
    void unreadableFile_data();
    void unreadableFile();
    void saveName_data();
    void saveName();
    void saveReplacesWholeFile();
    void failedSaveKeepsExistingFile();

private:
    QString write(const QString &name, const QByteArray &bytes);
    QTemporaryDir m_dir;
};

QString TestEdidFile::write(const QString &name, const QByteArray &bytes)
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

void TestEdidFile::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestEdidFile::openShowSave_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("accepted");

    const QByteArray good = EdidFixture::make();
    QByteArray badFirstByte = good;
    badFirstByte[0] = 0x01;
    badFirstByte[255] = static_cast<char>(badFirstByte[255] - 1);
    QTest::newRow("built: 256 bytes") << write(u"good.bin"_s, good) << true;
    QTest::newRow("built: 257 bytes") << write(u"good257.bin"_s, good + '\x7F') << true;
    QTest::newRow("built: 128 bytes") << write(u"short.bin"_s, good.left(128)) << false;
    QTest::newRow("built: 258 bytes") << write(u"long.bin"_s, good + "AB") << false;
    QTest::newRow("built: 1 MiB") << write(u"huge.bin"_s, good.repeated(4096)) << false;
    QTest::newRow("built: right sum, first byte 01")
        << write(u"first.bin"_s, badFirstByte) << false;
    QTest::newRow("built: empty") << write(u"empty.bin"_s, {}) << false;

    const QString folder = EdidFixture::testDataFolder();
    if (folder.isEmpty()) {
        QTest::newRow("real EDIDs absent") << QString() << false;
        return;
    }
    const QMap<QString, bool> verdicts = EdidFixture::testDataVerdicts(folder);
    const QStringList files = QDir(folder).entryList({u"*.bin"_s}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    QString firstAccepted;
    for (const QString &name : files) {
        QVERIFY2(verdicts.contains(name), qPrintable(u"no verdict in the README for "_s + name));
        QTest::newRow(qPrintable(name)) << QDir(folder).filePath(name) << verdicts[name];
        if (verdicts[name] && firstAccepted.isEmpty())
            firstAccepted = name;
    }
    QFile real(QDir(folder).filePath(firstAccepted));
    QVERIFY(real.open(QIODevice::ReadOnly));
    QTest::newRow("real one plus a byte") << write(u"real257.bin"_s, real.readAll() + '\0') << true;
}

void TestEdidFile::openShowSave()
{
    QFETCH(QString, path);
    QFETCH(bool, accepted);
    if (path.isEmpty())
        QSKIP("No real EDIDs beside this checkout (MATRIX_TESTDATA/edid); their rows are skipped");

    EdidGridModel grid;
    const QByteArray before = EdidFixture::make("OLD");
    QVERIFY(grid.ShowEDIDContent(before));

    const EdidFile::ReadResult file = EdidFile::Read(path);
    QVERIFY2(file.ok, qPrintable(file.error));
    QVERIFY(file.bytes.size() <= EdidFile::ReadLimit);
    QCOMPARE(grid.ShowEDIDContent(file.bytes), accepted);

    QByteArray shown;
    QVERIFY(grid.EDIDContentToBuffer(shown));
    if (!accepted) {
        QCOMPARE(shown, before);
        return;
    }
    QFile original(path);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray block = original.read(256);
    QCOMPARE(shown, block);

    const QString saved = EdidFile::saveName(m_dir.filePath(u"saved"_s));
    QString error;
    QVERIFY2(EdidFile::save(saved, shown, &error), qPrintable(error));
    QFile back(saved);
    QVERIFY(back.open(QIODevice::ReadOnly));
    QCOMPARE(back.readAll(), block);
}

void TestEdidFile::unreadableFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << m_dir.filePath(u"no-such.bin"_s) << u"No such file"_s;
    QTest::newRow("a folder") << m_dir.path() << u"folder"_s;
}

void TestEdidFile::unreadableFile()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);
    const EdidFile::ReadResult file = EdidFile::Read(path);
    QVERIFY(!file.ok);
    QVERIFY(file.bytes.isEmpty());
    QVERIFY2(file.error.contains(QDir::toNativeSeparators(path)), qPrintable(file.error));
    QVERIFY2(file.error.contains(reason), qPrintable(file.error));
}

void TestEdidFile::saveName_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("name");
    QTest::newRow("no extension") << u"/tmp/x"_s << u"/tmp/x.bin"_s;
    QTest::newRow(".bin") << u"/tmp/x.bin"_s << u"/tmp/x.bin"_s;
    QTest::newRow(".BIN") << u"/tmp/x.BIN"_s << u"/tmp/x.BIN"_s;
    QTest::newRow(".Bin") << u"x.Bin"_s << u"x.Bin"_s;
    QTest::newRow(".bin.bak") << u"/tmp/x.bin.bak"_s << u"/tmp/x.bin.bak.bin"_s;
    QTest::newRow(".txt") << u"x.txt"_s << u"x.txt.bin"_s;
    QTest::newRow("dot in the folder only") << u"/tmp/a.bin/x"_s << u"/tmp/a.bin/x.bin"_s;
    QTest::newRow("trailing dot") << u"x."_s << u"x..bin"_s;
}

void TestEdidFile::saveName()
{
    QFETCH(QString, chosen);
    QFETCH(QString, name);
    QCOMPARE(EdidFile::saveName(chosen), name);
}

void TestEdidFile::saveReplacesWholeFile()
{
    const QString path = write(u"replace.bin"_s, QByteArray(1000, 'x'));
    const QByteArray edid = EdidFixture::make();
    QString error;
    QVERIFY2(EdidFile::save(path, edid, &error), qPrintable(error));
    QFile back(path);
    QVERIFY(back.open(QIODevice::ReadOnly));
    QCOMPARE(back.readAll(), edid);
}

void TestEdidFile::failedSaveKeepsExistingFile()
{
    const QByteArray old("previous content");
    const QString path = write(u"keep.bin"_s, old);
    const QStringList before = QDir(m_dir.path()).entryList(QDir::Files);

    // Files may not grow past 100 bytes now, for root too: the write fails on the disk.
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool ok = EdidFile::save(path, EdidFixture::make(), &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!ok);
    QVERIFY2(error.contains(path), qPrintable(error));
    QFile back(path);
    QVERIFY(back.open(QIODevice::ReadOnly));
    QCOMPARE(back.readAll(), old);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), before); // no half-written leftovers

    QVERIFY(!EdidFile::save(m_dir.filePath(u"no-such-folder/x.bin"_s), old, &error));
    QVERIFY2(error.contains(u"no-such-folder/x.bin"_s), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestEdidFile)
#include "tst_edidfile.moc"
