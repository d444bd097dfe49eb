// Files the operator names: only regular files are read, and only so far; a device node or a
// FIFO given as an output file is refused and stays what it was; regular files are replaced
// whole or not at all.
#include "../SpecialFiles.h"
#include "FileAccess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <unistd.h>

using namespace Qt::StringLiterals;

class TestFileAccess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void readRefusesWhatIsNoFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FIFO without a writer") << "fifo"
                                               << "it is a pipe, not a file";
        QTest::newRow("endless device") << "zero"
                                        << "it is a device, not a file";
        QTest::newRow("folder") << "folder"
                                << "it is a folder";
        QTest::newRow("missing") << "missing"
                                 << "No such file or directory";
        QTest::newRow("unreadable") << "mode000"
                                    << "Permission denied";
        QTest::newRow("larger than the format allows") << "large"
                                                       << "it is larger than 300 bytes";
    }

    // None of these may block, flood memory or read past the limit; each says why.
    void readRefusesWhatIsNoFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString path = m_dir->filePath(QStringLiteral("input"));
        if (kind == u"fifo")
            QVERIFY(makeFifo(path));
        else if (kind == u"zero")
            QVERIFY(makeDeviceNode(path, 5));
        else if (kind == u"folder")
            QVERIFY(QDir().mkdir(path));
        else if (kind == u"mode000")
            QVERIFY(writeFile(path, "x") && QFile::setPermissions(path, {}));
        else if (kind == u"large")
            QVERIFY(writeFile(path, QByteArray(301, 'x')));

        WithoutFileOverride asOperator;
        const FileAccess::ReadResult result = FileAccess::readFile(path, 300);
        QVERIFY(!result.ok);
        QVERIFY(result.bytes.isEmpty());
        QCOMPARE(result.reason, reason);
    }

    void readTakesWholeFileUpToLimit()
    {
        const QString path = m_dir->filePath(QStringLiteral("input"));
        const QByteArray bytes(300, '\x5a');
        QVERIFY(writeFile(path, bytes));
        const QString link = m_dir->filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(path, link));
        for (const QString &name : {path, link}) {
            const FileAccess::ReadResult result = FileAccess::readFile(name, 300);
            QVERIFY2(result.ok, qPrintable(result.reason));
            QCOMPARE(result.bytes, bytes);
        }
    }

    void writeLeavesSpecialFilesAsTheyAre_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<mode_t>("type");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FIFO") << "fifo" << mode_t(S_IFIFO) << "it is a pipe, not a file";
        QTest::newRow("device node") << "device" << mode_t(S_IFCHR) << "it is a device, not a file";
        QTest::newRow("link to a device node")
            << "link" << mode_t(S_IFLNK) << "it is a device, not a file";
        QTest::newRow("folder") << "folder" << mode_t(S_IFDIR) << "it is a folder";
        QTest::newRow("symbolic link loop")
            << "loop" << mode_t(S_IFLNK) << "Too many levels of symbolic links";
        QTest::newRow("second hard link")
            << "hardlink" << mode_t(S_IFREG) << "it has more than one hard link";
        QTest::newRow("another user's file")
            << "foreign" << mode_t(S_IFREG) << "it belongs to another user";
    }

    void writeLeavesSpecialFilesAsTheyAre()
    {
        QFETCH(QString, kind);
        QFETCH(mode_t, type);
        QFETCH(QString, reason);
        const QString path = m_dir->filePath(QStringLiteral("output"));
        const QString node = m_dir->filePath(QStringLiteral("node"));
        if (kind == u"fifo")
            QVERIFY(makeFifo(path));
        else if (kind == u"device")
            QVERIFY(makeDeviceNode(path));
        else if (kind == u"link")
            QVERIFY(makeDeviceNode(node) && QFile::link(node, path));
        else if (kind == u"loop")
            QVERIFY(QFile::link(node, path) && QFile::link(path, node));
        else if (kind == u"hardlink")
            QVERIFY(writeFile(node, "old") && ::link(qPrintable(node), qPrintable(path)) == 0);
        else if (kind == u"foreign") {
            if (::geteuid() != 0)
                QSKIP("giving a file to another user takes root");
            QVERIFY(writeFile(path, "old") && ::chown(qPrintable(path), 65534, 65534) == 0);
        } else
            QVERIFY(QDir().mkdir(path));

        QString why;
        QVERIFY(!FileAccess::writeFile(path, QByteArray(256, 'e'), &why));
        QVERIFY2(why.startsWith(reason), qPrintable(why));
        QCOMPARE(fileType(path), type);
        if (kind == u"link")
            QCOMPARE(fileType(node), mode_t(S_IFCHR));
        if (kind == u"hardlink" || kind == u"foreign")
            QCOMPARE(readAll(path), QByteArray("old"));
        // Nothing was left beside it either.
        const bool pair = kind == u"link" || kind == u"loop" || kind == u"hardlink";
        const QStringList left
            = pair ? QStringList{u"node"_s, u"output"_s} : QStringList{u"output"_s};
        QCOMPARE(entries(), left);
    }

    void writeReplacesRegularFiles_data()
    {
        QTest::addColumn<QByteArray>("old");
        QTest::newRow("new name") << QByteArray();
        QTest::newRow("longer file") << QByteArray(1000, 'o');
    }

    void writeReplacesRegularFiles()
    {
        QFETCH(QByteArray, old);
        const QString path = m_dir->filePath(QStringLiteral("output"));
        if (!old.isEmpty())
            QVERIFY(writeFile(path, old));
        const QByteArray bytes("new content");
        QString why;
        QVERIFY2(FileAccess::writeFile(path, bytes, &why), qPrintable(why));
        QCOMPARE(readAll(path), bytes);
        QCOMPARE(fileType(path), mode_t(S_IFREG));
    }

    void leftoverSavesAreRemoved()
    {
        const QString target = m_dir->filePath(QStringLiteral("Settings.ini"));
        QVERIFY(writeFile(target, "[a]\nb=c\n"));
        // Named as a save's temporary file: the target's name, a dot and six letters.
        const QStringList leftovers{
            QStringLiteral("Settings.ini.aBcDeF"), QStringLiteral("Settings.ini.QWERTZ")};
        const QStringList kept{QStringLiteral("Settings.ini.bak-2026-12-10-101500"),
            QStringLiteral("Settings.ini.abc12x"), QStringLiteral("Settings.ini.abcdefg"),
            QStringLiteral("Other.ini.aBcDeF"), QStringLiteral("Settings.ini.fifoXy")};
        for (const QString &name : leftovers + kept.mid(0, 4))
            QVERIFY(writeFile(m_dir->filePath(name), "x"));
        QVERIFY(makeFifo(m_dir->filePath(kept.last())));

        QStringList removed = FileAccess::removeLeftoverSaves(target);
        removed.sort();
        QStringList expected;
        for (const QString &name : leftovers)
            expected.append(m_dir->filePath(name));
        expected.sort();
        QCOMPARE(removed, expected);
        QStringList left = kept + QStringList{u"Settings.ini"_s};
        left.sort();
        QCOMPARE(entries(), left);
    }

private:
    QStringList entries() const
    {
        QStringList names
            = QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        names.sort();
        return names;
    }
    static bool writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestFileAccess)
#include "tst_fileaccess.moc"
