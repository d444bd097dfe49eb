// The simulated switcher's EDID part without a wire: its built-in EDIDs, what set, copy and
// download do to the input memories, and where the displays' EDIDs come from.
#include "BlockFrame.h"
#include "EdidContent.h"
#include "EdidFixture.h"
#include "SimEdid.h"
#include "SimEdidData.h"
#include "SwitcherSimulator.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray request(quint8 sub, quint16 word1, quint16 word2 = 0)
{
    return CommandPacket::make(0x03, sub, word1, word2).toByteArray();
}

// A 270-byte download frame carrying `data`.
QByteArray dataFrame(quint8 sub, quint16 status, const QByteArray &data)
{
    QByteArray frame(BlockFrame::Size, '\0');
    frame.replace(0, 13,
        CommandPacket::make(0x03, sub, status, static_cast<quint16>(data.size())).toByteArray());
    frame[13] = static_cast<char>(BlockChecksum(data));
    frame.replace(14, data.size(), data);
    return frame;
}

} // namespace

class TestSimEdid : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void builtInEdids_data();
    void builtInEdids();
    void builtInEdidsParseWithEdidDecode();
    void commandsFillInputMemories_data();
    void commandsFillInputMemories();
    void displayEdidSources();
    void standbyRefusesTransfers();

private:
    QByteArray edidOf(const QString &key) const;

    SwitcherSimulator *m_sim = nullptr;
    SimEdid *m_edid = nullptr;
};

void TestSimEdid::init()
{
    m_sim = new SwitcherSimulator;
    m_edid = new SimEdid(*m_sim);
    m_sim->addFrameHandler(m_edid);
}

void TestSimEdid::cleanup()
{
    delete m_edid;
    delete m_sim;
}

QByteArray TestSimEdid::edidOf(const QString &key) const
{
    if (key == QLatin1String("default"))
        return SimEdidData::defaultEdid();
    if (key.startsWith(QLatin1String("user")))
        return SimEdidData::userEdid(key.back().digitValue());
    if (key.startsWith(QLatin1String("display")))
        return SimEdidData::displayEdid(key.back().digitValue());
    if (key == QLatin1String("fixture"))
        return EdidFixture::make("DLD");
    return SimEdidData::modeEdid(static_cast<quint16>(key.toUInt(nullptr, 16)));
}

void TestSimEdid::builtInEdids_data()
{
    QTest::addColumn<QByteArray>("edid");
    QTest::addColumn<QString>("summary");
    using namespace SimEdidData;
    QTest::newRow("1080i, Stereo Audio 2.0")
        << modeEdid(0xF001) << u"SIM 0x0001 \"SIM 1080i 2.0\" 1920x1080i@60"_s;
    QTest::newRow("1080p, HD Audio 7.1")
        << modeEdid(0xF006) << u"SIM 0x0006 \"SIM 1080p 7.1\" 1920x1080@60"_s;
    QTest::newRow("3D, Dolby/DTS 5.1")
        << modeEdid(0xF008) << u"SIM 0x0008 \"SIM 3D 5.1\" 1920x1080@60"_s;
    QTest::newRow("4K2K, Stereo Audio 2.0")
        << modeEdid(0xF00A) << u"SIM 0x000A \"SIM 4K2K 2.0\" 3840x2160@30"_s;
    QTest::newRow("1024x768 DVI") << modeEdid(0xF00D)
                                  << u"SIM 0x000D \"SIM 1024 DVI\" 1024x768@60"_s;
    QTest::newRow("1920x1200 DVI")
        << modeEdid(0xF00F) << u"SIM 0x000F \"SIM 1200 DVI\" 1920x1200@60"_s;
    QTest::newRow("default") << defaultEdid() << u"SIM 0x0012 \"SIM Default\" 1920x1080@60"_s;
    QTest::newRow("user 2") << userEdid(2) << u"SIM 0x0200 \"SIM User2\" 1920x1080@60"_s;
    const char *timings[] = {"1920x1080@60", "3840x2160@60", "2560x1440@60", "1920x1200@60",
        "1280x720@60", "3840x2160@30"};
    for (int output = 1; output <= 6; ++output) {
        QTest::addRow("display %d", output)
            << displayEdid(output)
            << u"SIM 0x%1 \"SIM Display %2\" %3"_s.arg(0x100 + output, 4, 16, QLatin1Char('0'))
                   .arg(output)
                   .arg(QLatin1String(timings[output - 1]));
    }
    QTest::newRow("no such mode") << modeEdid(0xF010) << u"no EDID base block"_s;
}

void TestSimEdid::builtInEdids()
{
    QFETCH(QByteArray, edid);
    QFETCH(QString, summary);
    QCOMPARE(edidSummaryLine(decodeEdidSummary(edid)), summary);
    QCOMPARE(edidContentPasses(edid), !edid.isEmpty());
    if (!edid.isEmpty()) {
        // Each 128-byte block is sealed on its own, as real ones are.
        QCOMPARE(BlockChecksum(edid.left(127)), static_cast<quint8>(edid[127]));
        QCOMPARE(BlockChecksum(edid.mid(128, 127)), static_cast<quint8>(edid[255]));
    }
}

void TestSimEdid::builtInEdidsParseWithEdidDecode()
{
    const QString tool = QStandardPaths::findExecutable(u"edid-decode"_s);
    if (tool.isEmpty())
        QSKIP("edid-decode is not installed");
    QByteArrayList all{SimEdidData::defaultEdid(), SimEdidData::userEdid(1)};
    for (quint16 mode = 0xF001; mode <= 0xF00F; ++mode)
        all += SimEdidData::modeEdid(mode);
    for (int output = 1; output <= 6; ++output)
        all += SimEdidData::displayEdid(output);
    QTemporaryDir dir;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const QString path = dir.filePath(QString::number(i) + u".bin"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(all[i]) == 256);
        file.close();
        QProcess decode;
        decode.start(tool, {path});
        QVERIFY(decode.waitForFinished(10000));
        QVERIFY2(decode.exitStatus() == QProcess::NormalExit && decode.exitCode() == 0,
            qPrintable(QString::number(i) + u": "_s
                + QString::fromLocal8Bit(decode.readAllStandardError())));
    }
}

void TestSimEdid::commandsFillInputMemories_data()
{
    QTest::addColumn<QByteArrayList>("frames");
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QStringList>("users");

    const QStringList six(6, u"default"_s);
    const QStringList users{u"user1"_s, u"user2"_s};
    const QByteArray fixture = EdidFixture::make("DLD");
    const auto with = [](QStringList list, int input, const QString &key) {
        list[input - 1] = key;
        return list;
    };
    QTest::newRow("mode on all inputs")
        << QByteArrayList{request(0x01, 0xF004)} << QStringList(6, u"F004"_s) << users;
    QTest::newRow("User2 on input 3")
        << QByteArrayList{request(0x02, 0xF200, 3)} << with(six, 3, u"user2"_s) << users;
    QTest::newRow("copy output 2 to all")
        << QByteArrayList{request(0x03, 2)} << QStringList(6, u"display2"_s) << users;
    QTest::newRow("copy output 5 to input 1")
        << QByteArrayList{request(0x04, 5, 1)} << with(six, 1, u"display5"_s) << users;
    QTest::newRow("default EDID on all")
        << QByteArrayList{request(0x01, 0xF004), request(0x09, 0x00FE)} << six << users;
    QTest::newRow("default EDID on input 4")
        << QByteArrayList{request(0x01, 0xF004), request(0x0A, 4)}
        << with(QStringList(6, u"F004"_s), 4, u"default"_s) << users;
    QTest::newRow("refused: no output 7") << QByteArrayList{request(0x04, 7, 1)} << six << users;
    QTest::newRow("preparation changes nothing")
        << QByteArrayList{request(0x08, 0x00F0)} << six << users;
    QTest::newRow("download to input 2") << QByteArrayList{request(0x07, 0xF002),
        dataFrame(0x07, 0x00AA, fixture.left(200)), dataFrame(0x07, 0x0056, fixture.mid(200))}
                                         << with(six, 2, u"fixture"_s) << users;
    QTest::newRow("download to all inputs")
        << QByteArrayList{request(0x06, 0xF0FE), dataFrame(0x06, 0x0056, fixture)}
        << QStringList(6, u"fixture"_s) << users;
    QTest::newRow("download to user 1, then User1 on input 6")
        << QByteArrayList{request(0x07, 0xF100), dataFrame(0x07, 0x0056, fixture),
               request(0x02, 0xF100, 6)}
        << with(six, 6, u"fixture"_s) << QStringList{u"fixture"_s, u"user2"_s};
    QByteArray badFrame = dataFrame(0x07, 0x0056, fixture);
    badFrame[13] = static_cast<char>(badFrame[13] + 1);
    QTest::newRow("data frame with a bad checksum is not taken")
        << QByteArrayList{request(0x07, 0xF001), badFrame} << six << users;
    QTest::newRow("data frame without a download start is not taken")
        << QByteArrayList{dataFrame(0x07, 0x0056, fixture)} << six << users;
}

void TestSimEdid::commandsFillInputMemories()
{
    QFETCH(QByteArrayList, frames);
    QFETCH(QStringList, inputs);
    QFETCH(QStringList, users);
    for (const QByteArray &frame : frames) {
        QCOMPARE(m_sim->frameLength(CommandPacket::fromBytes(frame)), frame.size());
        QVERIFY(!m_sim->handleFrame(frame).isEmpty());
    }
    for (int input = 1; input <= 6; ++input)
        QVERIFY2(m_edid->inputEdid(input) == edidOf(inputs[input - 1]),
            qPrintable(u"input %1 is not %2"_s.arg(input).arg(inputs[input - 1])));
    QCOMPARE(m_edid->userEdid(1), edidOf(users[0]));
    QCOMPARE(m_edid->userEdid(2), edidOf(users[1]));
}

void TestSimEdid::displayEdidSources()
{
    // Built in, then the folder's files in name order, wrapping around; a set one above all.
    QCOMPARE(m_edid->displayEdid(3), SimEdidData::displayEdid(3));
    QTemporaryDir dir;
    const QByteArray a = EdidFixture::make("AAA"), b = EdidFixture::make("BBB");
    for (const auto &[name, bytes] : {std::pair{"b.bin", b}, std::pair{"a.bin", a}}) {
        QFile file(dir.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    QFile other(dir.filePath(u"notes.txt"_s));
    QVERIFY(other.open(QIODevice::WriteOnly));
    m_sim->setEdidDirectory(dir.path());
    QCOMPARE(m_edid->displayEdid(1), a);
    QCOMPARE(m_edid->displayEdid(2), b);
    QCOMPARE(m_edid->displayEdid(3), a);
    m_edid->setDisplayEdid(2, a.left(128));
    QCOMPARE(m_edid->displayEdid(2), a.left(128));
}

void TestSimEdid::standbyRefusesTransfers()
{
    QCOMPARE(CommandPacket::fromBytes(m_sim->handleFrame(request(0x05, 0xF001))).status(), 0x00);
    QCOMPARE(CommandPacket::fromBytes(m_sim->handleFrame(request(0x06, 0xF0FE))).status(), 0xAA);
    m_sim->state().powerOn = false;
    const QByteArray block = m_sim->handleFrame(request(0x05, 0x00AA));
    QCOMPARE(block.size(), BlockFrame::Size);
    QCOMPARE(CommandPacket::fromBytes(block).status(), 0xFF);
    const QByteArray ack = m_sim->handleFrame(dataFrame(0x06, 0x0056, EdidFixture::make()));
    QCOMPARE(CommandPacket::fromBytes(ack).status(), 0xFF);
    QCOMPARE(m_edid->inputEdid(1), SimEdidData::defaultEdid());
}

QTEST_GUILESS_MAIN(TestSimEdid)
#include "tst_simedid.moc"
