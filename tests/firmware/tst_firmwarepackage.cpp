// The package format, the merge tool and the package reader.
#include "../SpecialFiles.h"
#include "FirmwareFixtures.h"
#include "FirmwareMerge.h"
#include "FirmwarePackage.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <numeric>

Q_DECLARE_METATYPE(FirmwarePackageReader::Status)

namespace {

int byteSum(const QByteArray &data)
{
    return std::accumulate(data.begin(), data.end(), 0, [](int sum, char c) {
        return sum + static_cast<quint8>(c);
    }) % 256;
}

// Records the memo and answers the overwrite question as told.
class RecordingMergeHost final : public FirmwareMergeHost
{
public:
    void appendMessage(const QString &line) override { lines.append(line); }
    bool confirm(const QString &question) override
    {
        questions.append(question);
        return answer;
    }
    QStringList lines;
    QStringList questions;
    bool answer = false;
};

} // namespace

class TestFirmwarePackage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void header();
    void scrambleRoundTrip();
    void scrambleKnownValues_data();
    void scrambleKnownValues();
    void versionValue_data();
    void versionValue();
    void mergeMainOnly();
    void mergeAllFourInPackageOrder();
    void mergeSkipsMissingImages();
    void mergeOverwriteQuestion_data();
    void mergeOverwriteQuestion();
    void reader_data();
    void reader();
    void readerRefusesAnOversizedFile();

private:
    QString imageFile(const QString &name, const QByteArray &data);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestFirmwarePackage::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestFirmwarePackage::imageFile(const QString &name, const QByteArray &data)
{
    const QString path = m_dir->filePath(name);
    if (!writeFile(path, data))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestFirmwarePackage::header()
{
    const FirmwareHeader h = FirmwareHeader::make(2, 3, 7, 250, 0x01020304);
    const QByteArray bytes = h.toByteArray();
    QCOMPARE(bytes.size(), 143);
    QCOMPARE(
        bytes.left(64), QByteArray("DON'T MODIFY THIS FILE MANNUALLY!").leftJustified(64, '\0'));
    QCOMPARE(bytes.mid(64, 64), QByteArray("FIRMWARE FOR Zelkora8").leftJustified(64, '\0'));
    QCOMPARE(
        bytes.mid(128, 14).toHex(' '), QByteArray("20 02 03 00 00 00 07 00 fa 00 04 03 02 01"));
    QCOMPARE(byteSum(bytes), 0);
    QVERIFY(h.checksumHolds());
    QCOMPARE(h.imageLength(), 0x01020304u);
    QCOMPARE(h.partName(), QStringLiteral("Part_2.3.7.250"));
    // The start packet carries header bytes 128..137 unchanged.
    const CommandPacket start = h.startPacket();
    QCOMPARE(
        start.toByteArray().left(12).toHex(' '), QByteArray("a5 5b 20 02 03 00 00 00 07 00 fa 00"));
    QCOMPARE(start.checksum(), PacketChecksum(start));

    FirmwareHeader damaged = h;
    damaged.bytes[130] ^= 1;
    QVERIFY(!damaged.checksumHolds());
}

void TestFirmwarePackage::scrambleRoundTrip()
{
    // Every byte value at every key position (and the next turn of the key).
    for (qint64 index = 0; index < 2 * FirmwareKeyLength; ++index) {
        QSet<quint8> seen;
        for (int b = 0; b < 256; ++b) {
            const quint8 scrambled = scrambleByte(static_cast<quint8>(b), index);
            QCOMPARE(unscrambleByte(scrambled, index), static_cast<quint8>(b));
            seen.insert(scrambled);
        }
        QCOMPARE(seen.size(), 256);
    }
    // The whole-array forms honour the offset of a piece within its image.
    const QByteArray image = testImage(1000);
    QByteArray whole = image;
    Scramble(whole);
    QByteArray tail = image.mid(333);
    Scramble(tail, 333);
    QCOMPARE(tail, whole.mid(333));
    Unscramble(whole);
    QCOMPARE(whole, image);
}

void TestFirmwarePackage::scrambleKnownValues_data()
{
    QTest::addColumn<int>("plain");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("scrambled");
    // key "3D7A0C5E91B24F68A0E7C3D95B1F2864": '3' = 0x33, 'D' = 0x44, '4' = 0x34
    QTest::newRow("0x00 at 0") << 0x00 << 0 << 0x66; // (00 ^ 33) + 33
    QTest::newRow("0x00 at 1") << 0x00 << 1 << 0x88; // (00 ^ 44) + 44
    QTest::newRow("0xFF at 0 wraps") << 0xFF << 0 << 0xFF; // CC + 33 = FF
    QTest::newRow("0xAB at 31") << 0xAB << 31 << 0xD3; // 9F + 34
    QTest::newRow("key repeats at 32") << 0x10 << 32 << 0x56; // (10 ^ 33) + 33
    QTest::newRow("0xF0 at 1 overflows") << 0xF0 << 1 << 0xF8; // B4 + 44 = F8
}

void TestFirmwarePackage::scrambleKnownValues()
{
    QFETCH(int, plain);
    QFETCH(int, index);
    QFETCH(int, scrambled);
    QCOMPARE(scrambleByte(static_cast<quint8>(plain), index), static_cast<quint8>(scrambled));
}

void TestFirmwarePackage::versionValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("four digits keep three") << "1234" << 123;
    QTest::newRow("above 255") << "300" << 255;
    QTest::newRow("256") << "256" << 255;
    QTest::newRow("255") << "255" << 255;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("not a number") << "x" << 0;
    QTest::newRow("letter in the first three") << "12x4" << 0;
    QTest::newRow("letter after the first three") << "123x" << 123;
    QTest::newRow("leading zeros") << "007" << 7;
    QTest::newRow("one digit") << "5" << 5;
    QTest::newRow("minus") << "-1" << 0;
}

void TestFirmwarePackage::versionValue()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(::versionValue(text), value);
}

void TestFirmwarePackage::mergeMainOnly()
{
    const QByteArray image = testImage(600);
    const QString bin = imageFile(QStringLiteral("main.bin"), image);
    FirmwareMergeSources sources;
    sources[0] = {bin, QStringLiteral("2"), QStringLiteral("5")};
    QString folder;
    RecordingMergeHost host;

    const FirmwareMergeResult result = MergeFirmware(sources, folder, host);

    const QString expected = m_dir->filePath(QStringLiteral("Zelkora8_MM2.5.fw"));
    QCOMPARE(result.outcome, FirmwareMergeResult::Saved);
    QCOMPARE(result.path, expected);
    QCOMPARE(folder, m_dir->path()); // remembered from the image
    QCOMPARE(host.lines,
        (QStringList{QStringLiteral("Main MCU firmware: ") + bin + QStringLiteral(" loaded"),
            QStringLiteral("Main MCU firmware merged, ver2.5"),
            QStringLiteral("Firmware merged complete, save to file: ") + expected}));
    QVERIFY(host.questions.isEmpty());

    QFile file(expected);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray package = file.readAll();
    QCOMPARE(package.size(), 143 + 600);
    QCOMPARE(byteSum(package.left(143)), 0);
    const FirmwareHeader h = FirmwareHeader::fromBytes(package);
    QCOMPARE(h.subcommand(), 1);
    QCOMPARE(h.mcu(), 1);
    QCOMPARE(h.version1(), 2);
    QCOMPARE(h.version2(), 5);
    QCOMPARE(h.imageLength(), 600u);
    QByteArray body = package.mid(143);
    QVERIFY(body != image);
    Unscramble(body);
    QCOMPARE(body, image);
}

void TestFirmwarePackage::mergeAllFourInPackageOrder()
{
    FirmwareMergeSources sources;
    const QList<QByteArray> images{
        testImage(300, 1), testImage(1, 2), testImage(257, 3), testImage(2, 4)};
    const QStringList versions = QStringLiteral("1 2 1234 300 _ x 9 0").split(u' ');
    for (int i = 0; i < 4; ++i) {
        sources[static_cast<std::size_t>(i)]
            = {imageFile(QStringLiteral("mcu%1.bin").arg(i), images[i]), versions[2 * i],
                versions[2 * i + 1]};
    }
    QString folder = m_dir->path();
    RecordingMergeHost host;
    const FirmwareMergeResult result = MergeFirmware(sources, folder, host);

    QCOMPARE(result.outcome, FirmwareMergeResult::Saved);
    QCOMPARE(QFileInfo(result.path).fileName(),
        QStringLiteral("Zelkora8_MM1.2_MS123.255_ir0.0_PNL9.0.fw"));
    // The edits show the values as stored.
    QCOMPARE(sources[1].version1, QStringLiteral("123"));
    QCOMPARE(sources[1].version2, QStringLiteral("255"));
    QCOMPARE(sources[2].version2, QStringLiteral("0"));
    QCOMPARE(host.lines.filter(QStringLiteral("merged, ver")),
        (QStringList{QStringLiteral("Main MCU firmware merged, ver1.2"),
            QStringLiteral("Slave MCU1 firmware merged, ver123.255"),
            QStringLiteral("Slave MCU2 firmware merged, ver0.0"),
            QStringLiteral("Slave MCU3 firmware merged, ver9.0")}));

    // The reader walks the same parts back, images restored.
    FirmwarePackageReader reader;
    QVERIFY(reader.open(result.path));
    const QList<QPair<int, int>> parts{{1, 1}, {2, 1}, {2, 2}, {2, 3}};
    for (int i = 0; i < 4; ++i) {
        FirmwareHeader h;
        QByteArray image;
        QCOMPARE(reader.next(h, image), FirmwarePackageReader::Status::Ok);
        QCOMPARE(h.subcommand(), parts[i].first);
        QCOMPARE(h.mcu(), parts[i].second);
        QCOMPARE(image, images[i]);
    }
    QVERIFY(reader.atEnd());
}

void TestFirmwarePackage::mergeSkipsMissingImages()
{
    // Each of the first three images is unusable in its own way; none blocks or is merged.
    const QString fifo = m_dir->filePath(QStringLiteral("main.bin"));
    QVERIFY(makeFifo(fifo));
    const QString missing = m_dir->filePath(QStringLiteral("gone.bin"));
    const QString empty = imageFile(QStringLiteral("ir.bin"), {});
    FirmwareMergeSources sources;
    sources[0] = {fifo, QStringLiteral("1"), QStringLiteral("1")};
    sources[1] = {missing, QStringLiteral("1"), QStringLiteral("1")};
    sources[2] = {empty, QStringLiteral("1"), QStringLiteral("1")};
    sources[3] = {QStringLiteral("  ") + imageFile(QStringLiteral("panel.bin"), testImage(10))
            + QStringLiteral(" "),
        QStringLiteral("4"), QStringLiteral("2")};
    QString folder;
    RecordingMergeHost host;
    const FirmwareMergeResult result = MergeFirmware(sources, folder, host);
    QCOMPARE(result.outcome, FirmwareMergeResult::Saved);
    QCOMPARE(QFileInfo(result.path).fileName(), QStringLiteral("Zelkora8_PNL4.2.fw"));
    QCOMPARE(host.lines.mid(0, 3),
        (QStringList{QStringLiteral("Main MCU firmware file: ") + fifo
                + QStringLiteral(" cannot be read: it is a pipe, not a file"),
            QStringLiteral("Slave MCU1 firmware file: ") + missing
                + QStringLiteral(" does not exist"),
            QStringLiteral("Slave MCU2 firmware file: ") + empty + QStringLiteral(" is empty")}));

    // Nothing to merge: no file, no message beyond the missing one.
    FirmwareMergeSources none;
    none[0].file = missing;
    RecordingMergeHost quiet;
    const FirmwareMergeResult nothing = MergeFirmware(none, folder, quiet);
    QCOMPARE(nothing.outcome, FirmwareMergeResult::NothingMerged);
    QCOMPARE(quiet.lines.size(), 1);
}

void TestFirmwarePackage::mergeOverwriteQuestion_data()
{
    QTest::addColumn<bool>("answer");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void TestFirmwarePackage::mergeOverwriteQuestion()
{
    QFETCH(bool, answer);
    const QString existing = m_dir->filePath(QStringLiteral("Zelkora8_MM1.0.fw"));
    QVERIFY(writeFile(existing, "old"));
    FirmwareMergeSources sources;
    sources[0] = {imageFile(QStringLiteral("m.bin"), testImage(20)), QStringLiteral("1"), {}};
    QString folder = m_dir->path();
    RecordingMergeHost host;
    host.answer = answer;
    const FirmwareMergeResult result = MergeFirmware(sources, folder, host);

    QCOMPARE(host.questions,
        QStringList{QStringLiteral("Firmware file: ") + existing
            + QStringLiteral(" exists, overwrite it?")});
    QCOMPARE(result.outcome, answer ? FirmwareMergeResult::Saved : FirmwareMergeResult::Canceled);
    QCOMPARE(host.lines.last(),
        answer ? QStringLiteral("Firmware merged complete, save to file: ") + existing
               : QStringLiteral("Save canceled"));
    QCOMPARE(QFileInfo(existing).size(), answer ? 143 + 20 : 3);
}

void TestFirmwarePackage::reader_data()
{
    using Status = FirmwarePackageReader::Status;
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<QList<Status>>("statuses");

    const QByteArray main = packagePart(1, 1, 2, 5, testImage(600));
    const QByteArray slave = packagePart(2, 3, 1, 0, testImage(40));
    QByteArray badFirst = main;
    badFirst[130] = 9;
    QByteArray badSecond = main + slave;
    badSecond[main.size() + 140] = 1;
    QByteArray foreign = packagePart(2, 1, 0, 0, testImage(3));
    foreign[128] = 0x21;
    foreign[142] = static_cast<char>(
        BlockChecksum(reinterpret_cast<const quint8 *>(foreign.constData()), 142));

    QTest::newRow("two parts") << main + slave
                               << QList<Status>{Status::Ok, Status::Ok, Status::End};
    QTest::newRow("empty") << QByteArray() << QList<Status>{Status::End};
    QTest::newRow("bad first header") << badFirst << QList<Status>{Status::BadChecksum};
    QTest::newRow("bad second header")
        << badSecond << QList<Status>{Status::Ok, Status::BadChecksum};
    QTest::newRow("short header") << main + slave.left(100)
                                  << QList<Status>{Status::Ok, Status::ShortHeader};
    QTest::newRow("image one byte short")
        << (main + slave).chopped(1) << QList<Status>{Status::Ok, Status::ImagePastEnd};
    QTest::newRow("image length 4 GiB")
        << FirmwareHeader::make(2, 1, 0, 0, 0xFFFFFFFF).toByteArray() + testImage(10)
        << QList<Status>{Status::ImagePastEnd};
    QTest::newRow("not a firmware part") << foreign << QList<Status>{Status::UnknownPart};
}

void TestFirmwarePackage::reader()
{
    using Status = FirmwarePackageReader::Status;
    QFETCH(QByteArray, package);
    QFETCH(QList<Status>, statuses);

    QBuffer buffer(&package);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    FirmwarePackageReader reader(&buffer);
    for (const Status expected : statuses) {
        FirmwareHeader h;
        QByteArray image;
        const Status status = reader.next(h, image);
        QCOMPARE(status, expected);
        if (status != Status::Ok)
            QVERIFY(image.isEmpty()); // nothing handed on from a damaged part
        QVERIFY(reader.position() <= package.size());
    }
}

void TestFirmwarePackage::readerRefusesAnOversizedFile()
{
    // A sparse file: its size is all that is looked at.
    const QString path = m_dir->filePath(QStringLiteral("huge.fw"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(MaxFirmwarePackageSize + 1));
    }
    FirmwarePackageReader reader;
    QVERIFY(!reader.open(path));
    QVERIFY(!reader.error().isEmpty());
    QCOMPARE(reader.size(), 0);

    QVERIFY(QFile::resize(path, MaxFirmwarePackageSize));
    QVERIFY(reader.open(path));
}

QTEST_GUILESS_MAIN(TestFirmwarePackage)
#include "tst_firmwarepackage.moc"
