// EDID content: the three checks and their order, the summary line, and the hex view's model.
#include "EdidContent.h"
#include "EdidFixture.h"
#include "EdidGridModel.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(EdidCheck)

class TestEdidContent : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void checks_data();
    void checks();
    void summary_data();
    void summary();
    void summaryOfRealEdids_data();
    void summaryOfRealEdids();
    void gridHeadersAndPlaces();
    void gridShowsAndGivesBackTheBlock();
    void gridKeepsContentWhenRefused();
    void gridToBuffer_data();
    void gridToBuffer();
};

void TestEdidContent::checks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<EdidCheck>("verdict");

    const QByteArray good = EdidFixture::make();
    // Block sums of +5 and -5: only the sum over all 256 bytes counts.
    QByteArray compensating = good;
    compensating[20] = static_cast<char>(compensating[20] + 5);
    compensating[200] = static_cast<char>(compensating[200] - 5);
    QByteArray badSum = good;
    badSum[200] = static_cast<char>(badSum[200] + 1);
    // First byte 01 and byte 255 lowered to match: the sum holds, the header does not.
    QByteArray badFirstByte = good;
    badFirstByte[0] = 0x01;
    badFirstByte[255] = static_cast<char>(badFirstByte[255] - 1);
    QByteArray badSumAndHeader = badFirstByte;
    badSumAndHeader[255] = good[255];

    QTest::newRow("256 bytes") << good << EdidCheck::Ok;
    QTest::newRow("257 bytes, last one not summed") << good + '\x42' << EdidCheck::Ok;
    QTest::newRow("blocks compensate") << compensating << EdidCheck::Ok;
    QTest::newRow("empty") << QByteArray() << EdidCheck::WrongSize;
    QTest::newRow("128 bytes") << good.left(128) << EdidCheck::WrongSize;
    QTest::newRow("255 bytes") << good.left(255) << EdidCheck::WrongSize;
    QTest::newRow("258 bytes") << good + QByteArray(2, 0) << EdidCheck::WrongSize;
    QTest::newRow("512 bytes") << good + good << EdidCheck::WrongSize;
    QTest::newRow("sum off by one") << badSum << EdidCheck::BadChecksum;
    QTest::newRow("right sum, first byte 01") << badFirstByte << EdidCheck::BadHeader;
    QTest::newRow("sum checked before header") << badSumAndHeader << EdidCheck::BadChecksum;
    QTest::newRow("size checked first") << badFirstByte.left(128) << EdidCheck::WrongSize;
}

void TestEdidContent::checks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(EdidCheck, verdict);
    QCOMPARE(checkEdidContent(bytes), verdict);
    QCOMPARE(edidContentPasses(bytes), verdict == EdidCheck::Ok);
}

void TestEdidContent::summary_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");

    using EdidFixture::make;
    QByteArray controlChars = make("XYZ", 0x00AB, QByteArray("Bad\x1b[2Jname", 11));
    QTest::newRow("all parts") << make() << u"ABC 0x1234 \"Test Monitor\" 1920x1080@60"_s;
    QTest::newRow("interlaced") << make("DEL", 0xA0A4, "TV", EdidFixture::timing1080i())
                                << u"DEL 0xA0A4 \"TV\" 1920x1080i@60"_s;
    QTest::newRow("thirteen-letter name, no line feed")
        << make("ZZZ", 1, "ABCDEFGHIJKLM") << u"ZZZ 0x0001 \"ABCDEFGHIJKLM\" 1920x1080@60"_s;
    QTest::newRow("no name") << make("ABC", 0x1234, {}) << u"ABC 0x1234 1920x1080@60"_s;
    QTest::newRow("no timing") << make("ABC", 0x1234, "X", {})
                               << u"ABC 0x1234 \"X\" no preferred timing"_s;
    QTest::newRow("terminal controls shown as ?")
        << controlChars << u"XYZ 0x00AB \"Bad?[2Jname\" 1920x1080@60"_s;
    QTest::newRow("a 128-byte base block is enough")
        << make().left(128) << u"ABC 0x1234 \"Test Monitor\" 1920x1080@60"_s;
    QTest::newRow("too short") << make().left(127) << u"no EDID base block"_s;
    QTest::newRow("no header") << QByteArray(256, '\xFF') << u"no EDID base block"_s;
}

void TestEdidContent::summary()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    QCOMPARE(edidSummaryLine(decodeEdidSummary(bytes)), line);
}

void TestEdidContent::summaryOfRealEdids_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    const QString folder = EdidFixture::testDataFolder();
    if (folder.isEmpty()) {
        QTest::newRow("real EDIDs absent") << QString() << QString();
        return;
    }
    // The README quotes edid-decode for every file: maker, model and name.
    QFile readme(QDir(folder).filePath(QStringLiteral("README.md")));
    QVERIFY(readme.open(QIODevice::ReadOnly | QIODevice::Text));
    static const QRegularExpression fileLine(QStringLiteral("^(\\S+\\.bin)\\s*$"));
    static const QRegularExpression decoded(
        QStringLiteral("edid-decode : Manufacturer: (\\w{3}), Model: \\d+ \\(0x([0-9a-f]{4})\\), "
                       "Name: '([^']*)'"));
    QString current;
    const QStringList lines = QString::fromUtf8(readme.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (const auto f = fileLine.match(line); f.hasMatch())
            current = f.captured(1);
        else if (const auto d = decoded.match(line); d.hasMatch() && !current.isEmpty())
            QTest::newRow(qPrintable(current))
                << QDir(folder).filePath(current)
                << QStringLiteral("%1 0x%2 \"%3\" ")
                       .arg(d.captured(1), d.captured(2).toUpper(), d.captured(3));
    }
}

void TestEdidContent::summaryOfRealEdids()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    if (path.isEmpty())
        QSKIP("No real EDIDs beside this checkout (MATRIX_TESTDATA/edid); their rows are skipped");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QString line = edidSummaryLine(decodeEdidSummary(file.readAll()));
    QVERIFY2(line.startsWith(expected), qPrintable(line));
}

void TestEdidContent::gridHeadersAndPlaces()
{
    EdidGridModel grid;
    QCOMPARE(grid.rowCount(), 17);
    QCOMPARE(grid.columnCount(), 17);
    QCOMPARE(grid.cell(1, 0), u"0"_s);
    QCOMPARE(grid.cell(16, 0), u"F"_s);
    QCOMPARE(grid.cell(0, 1), u"00"_s);
    QCOMPARE(grid.cell(0, 16), u"F0"_s);
    QVERIFY(grid.cell(0, 0).isEmpty());
    QVERIFY(grid.isEmpty());
    QVERIFY(!grid.ShowEDIDContent());

    // Byte 0x4A: column 11 under "A", row 5 beside "40".
    QCOMPARE(EdidGridModel::columnOf(0x4A), 11);
    QCOMPARE(EdidGridModel::rowOf(0x4A), 5);
    QCOMPARE(grid.cell(11, 0), u"A"_s);
    QCOMPARE(grid.cell(0, 5), u"40"_s);
    QCOMPARE(grid.index(5, 11).data(EdidGridModel::FixedRole).toBool(), false);
    QCOMPARE(grid.index(0, 11).data(EdidGridModel::FixedRole).toBool(), true);
    QVERIFY(!(grid.flags(grid.index(5, 11)) & Qt::ItemIsEditable));
}

void TestEdidContent::gridShowsAndGivesBackTheBlock()
{
    QByteArray edid = EdidFixture::make();
    edid[0x4A] = static_cast<char>(0xAB); // shown in upper case
    EdidFixture::seal(edid, 0);
    EdidGridModel grid;
    QSignalSpy changed(&grid, &QAbstractItemModel::dataChanged);
    QVERIFY(grid.ShowEDIDContent(edid + '\x99'));
    QVERIFY(!changed.isEmpty());
    QCOMPARE(grid.cell(11, 5), u"AB"_s);
    QCOMPARE(grid.index(5, 11).data().toString(), u"AB"_s);
    QCOMPARE(grid.cell(1, 1), u"00"_s);
    QCOMPARE(grid.cell(2, 1), u"FF"_s);

    QByteArray back("stale");
    QVERIFY(grid.EDIDContentToBuffer(back));
    QCOMPARE(back, edid);

    grid.ClearEDIDContent();
    QVERIFY(grid.isEmpty());
    QCOMPARE(grid.cell(11, 0), u"A"_s);
    QCOMPARE(grid.cell(0, 5), u"40"_s);
    QVERIFY(!grid.EDIDContentToBuffer(back));
    QVERIFY(back.isEmpty());
}

void TestEdidContent::gridKeepsContentWhenRefused()
{
    const QByteArray first = EdidFixture::make("AAA");
    EdidGridModel grid;
    QVERIFY(grid.ShowEDIDContent(first));
    QByteArray refused = EdidFixture::make("BBB");
    refused[0] = 0x01;
    refused[255] = static_cast<char>(refused[255] - 1);
    QVERIFY(!grid.ShowEDIDContent(refused));
    QVERIFY(!grid.ShowEDIDContent(EdidFixture::make("CCC").left(128)));
    QByteArray back;
    QVERIFY(grid.EDIDContentToBuffer(back));
    QCOMPARE(back, first);
}

void TestEdidContent::gridToBuffer_data()
{
    QTest::addColumn<QString>("cellText");
    QTest::addColumn<bool>("converts");
    QTest::newRow("lower-case digits") << u"ab"_s << true;
    QTest::newRow("empty cell: 255 bytes") << QString() << false;
    QTest::newRow("not hex") << u"G1"_s << false;
    QTest::newRow("one digit") << u"A"_s << false;
    QTest::newRow("three digits") << u"123"_s << false;
}

void TestEdidContent::gridToBuffer()
{
    QFETCH(QString, cellText);
    QFETCH(bool, converts);
    EdidGridModel grid;
    QVERIFY(grid.ShowEDIDContent(EdidFixture::make()));
    QVERIFY(grid.setData(grid.index(16, 16), cellText));
    QVERIFY(!grid.setData(grid.index(0, 3), u"XX"_s)); // headers stay
    QByteArray back("stale");
    QCOMPARE(grid.EDIDContentToBuffer(back), converts);
    QCOMPARE(back.size(), converts ? 256 : 0);
    if (converts)
        QCOMPARE(static_cast<quint8>(back[255]), 0xAB);
}

QTEST_GUILESS_MAIN(TestEdidContent)
#include "tst_edidcontent.moc"
