// The EDID page's lists and the command words its choices send.
#include "EdidCommands.h"

#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(EdidPortList)
Q_DECLARE_METATYPE(std::optional<EdidCommand>)

namespace {

EdidCommand command(const char *progress, quint8 sub, quint16 word1, quint16 word2 = 0)
{
    return {QString::fromLatin1(progress), 0x03, sub, word1, word2};
}

} // namespace

class TestEdidCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void modeList();
    void modeCodeRule_data();
    void modeCodeRule();
    void commandWords_data();
    void commandWords();
    void portLists_data();
    void portLists();
    void storedChoiceThatNoLongerMatches();
    void outputConnectionQuery_data();
    void outputConnectionQuery();
};

void TestEdidCommands::modeList()
{
    const QStringList layout = edidModeLayout();
    QCOMPARE(layout.size(), 20);
    QCOMPARE(layout.last(), u"Auto EDID"_s);
    const QStringList modes = edidModeList();
    QCOMPARE(modes.size(), 19);
    QCOMPARE(modes, layout.mid(0, 19));
    QCOMPARE(modes.first(), u"Select EDID"_s);
    QCOMPARE(modes.last(), u"Default EDID"_s);
    for (int m = 1; m <= 15; ++m)
        QCOMPARE(edidModeCode(modes, m), std::optional<quint16>(0xF000 + m));
    QVERIFY(isDefaultEdidEntry(modes, 18));
    // Were "Auto EDID" still there, it would be the default, and "Default EDID" an ordinary
    // mode with the word 0xF012.
    QVERIFY(isDefaultEdidEntry(layout, 19));
    QCOMPARE(edidModeCode(layout, 18), std::optional<quint16>(0xF012));
}

void TestEdidCommands::modeCodeRule_data()
{
    QTest::addColumn<QStringList>("modes");
    QTest::addColumn<int>("index");
    QTest::addColumn<std::optional<quint16>>("code");
    const QStringList modes = edidModeList();
    QTest::newRow("User1") << modes << 16 << std::optional<quint16>(0xF100);
    QTest::newRow("User2") << modes << 17 << std::optional<quint16>(0xF200);
    QTest::newRow("Select EDID") << modes << 0 << std::optional<quint16>();
    QTest::newRow("Default EDID has commands of its own")
        << modes << 18 << std::optional<quint16>();
    QTest::newRow("past the end") << modes << 19 << std::optional<quint16>();
    // The rule works from the texts: user modes are counted from the first one, in any case.
    const QStringList other{u"Select"_s, u"A"_s, u"my user"_s, u"USER2"_s, u"B"_s, u"Default"_s};
    QTest::newRow("first user mode anywhere") << other << 2 << std::optional<quint16>(0xF100);
    QTest::newRow("second user mode") << other << 3 << std::optional<quint16>(0xF200);
    QTest::newRow("built-in after the user modes") << other << 4 << std::optional<quint16>(0xF004);
}

void TestEdidCommands::modeCodeRule()
{
    QFETCH(QStringList, modes);
    QFETCH(int, index);
    QFETCH(std::optional<quint16>, code);
    QCOMPARE(edidModeCode(modes, index), code);
}

void TestEdidCommands::commandWords_data()
{
    QTest::addColumn<std::optional<EdidCommand>>("actual");
    QTest::addColumn<std::optional<EdidCommand>>("expected");
    const QStringList modes = edidModeList();
    const auto row
        = [](const char *name, std::optional<EdidCommand> actual,
              std::optional<EdidCommand> expected) { QTest::newRow(name) << actual << expected; };
    const std::optional<EdidCommand> none;

    row("User2 on input 3", edidSetModeCommand(modes, 17, 3),
        command("Setting...", 0x02, 0xF200, 3));
    row("mode on all inputs", edidSetModeCommand(modes, 4, 7), command("Setting...", 0x01, 0xF004));
    row("Default EDID on all inputs", edidSetModeCommand(modes, 18, 7),
        command("Setting...", 0x09, 0x00FE));
    row("Default EDID on input 2", edidSetModeCommand(modes, 18, 2),
        command("Setting...", 0x0A, 2));
    row("set without a mode", edidSetModeCommand(modes, 0, 3), none);
    row("set without an input", edidSetModeCommand(modes, 5, 0), none);
    row("set on a list entry that is no input", edidSetModeCommand(modes, 5, 8), none);

    row("copy to all inputs", edidCopyCommand(2, 7), command("Copying...", 0x03, 2));
    row("copy to one input", edidCopyCommand(5, 1), command("Copying...", 0x04, 5, 1));
    row("copy without an output", edidCopyCommand(0, 1), none);
    row("copy without an input", edidCopyCommand(1, 0), none);

    row("read", edidReadCommand(2), command("Reading...", 0x05, 0xF002));
    row("read without an output", edidReadCommand(0), none);

    row("download to input 6", edidDownloadCommand(6), command("Downloading...", 0x07, 0xF006));
    row("download to all inputs", edidDownloadCommand(7), command("Downloading...", 0x06, 0xF0FE));
    row("download to User1 Memory", edidDownloadCommand(8),
        command("Downloading...", 0x07, 0xF100));
    row("download to User2 Memory", edidDownloadCommand(9),
        command("Downloading...", 0x07, 0xF200));
    row("download without a target", edidDownloadCommand(0), none);
    row("download past the list", edidDownloadCommand(10), none);

    row("preparation", edidPrepareCommand(u"Copying..."_s), command("Copying...", 0x08, 0x00F0));
}

void TestEdidCommands::commandWords()
{
    QFETCH(std::optional<EdidCommand>, actual);
    QFETCH(std::optional<EdidCommand>, expected);
    QCOMPARE(actual.has_value(), expected.has_value());
    if (!expected)
        return;
    QCOMPARE(actual->progress, expected->progress);
    QCOMPARE(
        actual->packet().toByteArray().toHex(' '), expected->packet().toByteArray().toHex(' '));
}

void TestEdidCommands::portLists_data()
{
    QTest::addColumn<EdidPortList>("list");
    QTest::addColumn<QStringList>("items");
    const QStringList inputs{u"Select Input"_s, u"In1"_s, u"In2 - [DVD]"_s, u"In3"_s, u"In4"_s,
        u"In5"_s, u"In6 - [PC]"_s, u"All Inputs"_s};
    const QStringList outputs{u"Select Output"_s, u"Out1 - [TV]"_s, u"Out2"_s, u"Out3"_s, u"Out4"_s,
        u"Out5"_s, u"Out6"_s};
    QTest::newRow("set mode inputs") << EdidPortList::SetModeInput << inputs;
    QTest::newRow("copy inputs") << EdidPortList::CopyInput << inputs;
    QTest::newRow("download targets") << EdidPortList::DownloadInput
                                      << inputs + QStringList{u"User1 Memory"_s, u"User2 Memory"_s};
    QTest::newRow("copy outputs") << EdidPortList::CopyOutput << outputs;
    QTest::newRow("read outputs") << EdidPortList::ReadOutput << outputs;
}

void TestEdidCommands::portLists()
{
    QFETCH(EdidPortList, list);
    QFETCH(QStringList, items);
    // Tags for fewer ports than six, and empty ones, mean untagged ports.
    const QStringList inputTags{QString(), u"DVD"_s, QString(), QString(), QString(), u"PC"_s};
    QCOMPARE(edidPortListItems(list, inputTags, {u"TV"_s}), items);
}

void TestEdidCommands::storedChoiceThatNoLongerMatches()
{
    const QStringList before = edidPortListItems(EdidPortList::DownloadInput, {}, {});
    const QStringList after
        = edidPortListItems(EdidPortList::DownloadInput, {QString(), u"Blu-ray"_s}, {});
    QCOMPARE(edidEntryIndex(after, before[9]), 9);
    QCOMPARE(edidEntryIndex(after, before[3]), 3);
    QCOMPARE(edidEntryIndex(after, before[2]), 0); // "In2" is "In2 - [Blu-ray]" now
    QCOMPARE(edidEntryIndex(after, QString()), 0);
}

void TestEdidCommands::outputConnectionQuery_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("state");
    QTest::newRow("display connected") << true << 0x00 << int(OutputConnected);
    QTest::newRow("no display") << true << 0xFF << int(OutputNotConnected);
    QTest::newRow("any other answer") << true << 0x01 << int(OutputNotConnected);
    QTest::newRow("query failed") << false << 0x00 << int(OutputQueryFailed);
}

void TestEdidCommands::outputConnectionQuery()
{
    QFETCH(bool, success);
    QFETCH(int, answer);
    QFETCH(int, state);
    const EdidCommand query = ::outputConnectionQuery(3);
    QCOMPARE(query.progress, u"Getting Output3 connection ..."_s);
    QCOMPARE(query.packet(), CommandPacket::make(0x01, 0x05, 3));
    CommandResult result;
    result.Success = success;
    result.reply = CommandPacket::make(0x01, 0x05, 0, static_cast<quint16>(answer));
    QCOMPARE(int(outputConnectionState(result)), state);
}

QTEST_GUILESS_MAIN(TestEdidCommands)
#include "tst_edidcommands.moc"
