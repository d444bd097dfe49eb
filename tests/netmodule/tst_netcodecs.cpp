// The datagram and frame codecs, the device entry and the address text helpers. No network.
#include "DeviceEntry.h"
#include "ModuleFrame.h"
#include "NetDatagrams.h"
#include "NetworkModuleControl.h"
#include "TKVCOMControl.h"

#include <QTest>

#include <array>

using Parts4 = std::array<QString, 4>;
using Parts6 = std::array<QString, 6>;
Q_DECLARE_METATYPE(Parts4)
Q_DECLARE_METATYPE(Parts6)

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// A 55-byte search reply record laid out field by field at the documented offsets.
QByteArray searchRecord(const char *macHex, const char *ipHex, quint16 n1, quint16 n2,
    const QByteArray &tag, quint8 dhcp)
{
    QByteArray r(55, '\0');
    r.replace(0, 6, hex(macHex));
    r.replace(6, 12, hex(ipHex)); // address, gateway, mask
    r[18] = char(n1 >> 8);
    r[19] = char(n1 & 0xFF);
    r[20] = char(n2 >> 8);
    r[21] = char(n2 & 0xFF);
    r.replace(22, tag.size(), tag);
    r[54] = char(dhcp);
    return r.left(55);
}

QByteArray configRecord(quint8 status, quint8 firstByte = 0)
{
    QByteArray r(76, '\0');
    r[0] = char(firstByte);
    r[74] = char(status);
    return r;
}

// Texts from one Latin-1 string: "a|b|c" split at sep.
QStringList list(const char *text, char sep = '|')
{
    return QString::fromLatin1(text).split(QLatin1Char(sep));
}

Parts4 ip4(const char *text)
{
    const QStringList p = list(text, '.');
    return {p[0], p[1], p[2], p[3]};
}

const char *const OfficeAddresses = "C0A80064"
                                    "C0A80001"
                                    "FFFFFF00";

} // namespace

class TestNetCodecs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void searchRecordItems_data();
    void searchRecordItems();
    void searchReplySizes_data();
    void searchReplySizes();
    void hostileTagKeepsEntryFields_data();
    void hostileTagKeepsEntryFields();
    void configChecksum();
    void configAnswer_data();
    void configAnswer();
    void parseIPText_data();
    void parseIPText();
    void parseMACText_data();
    void parseMACText();
    void clampIPField_data();
    void clampIPField();
    void getEntryField_data();
    void getEntryField();
    void buildConfigRecord();
    void configuredEntry();
    void moduleRequestBytes();
    void moduleReplyAcceptance_data();
    void moduleReplyAcceptance();
    void traceModuleFrame();
    void deviceItemsAndDefaults();
};

void TestNetCodecs::searchRecordItems_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QStringList>("items");

    const auto items = [](const QString &tag, const char *dhcp) {
        return QStringList{QStringLiteral("00-1A-2B-3C-4D-5E"), QStringLiteral("192.168.0.100"),
            QStringLiteral("192.168.0.1"), QStringLiteral("255.255.255.0"), QStringLiteral("8000"),
            QStringLiteral("258"), tag, QString::fromLatin1(dhcp)};
    };
    const auto row = [&](const char *name, const QByteArray &tag, quint8 dhcp,
                         const QString &shownTag, const char *dhcpText) {
        QTest::newRow(name) << searchRecord("001A2B3C4D5E", OfficeAddresses, 8000, 258, tag, dhcp)
                            << items(shownTag, dhcpText);
    };
    row("static module", "Hall A", 0, QStringLiteral("Hall A"), "0");
    row("any DHCP flag but 0 is kept as a number", "Hall A", 7, QStringLiteral("Hall A"), "7");
    row("a tag filling all 32 bytes", QByteArray(32, 'x'), 1, QString(32, QLatin1Char('x')), "1");
    row("tag ends at the first zero", QByteArray("AB\0CD", 5), 0, QStringLiteral("AB"), "0");
    row("UTF-8 tag", "B\xC3\xBCro", 0, QStringLiteral("B\u00FCro"), "0");
    row("invalid UTF-8 is read as Latin-1", "B\xFCro", 0, QStringLiteral("B\u00FCro"), "0");
    row("control characters become U+FFFD", "A\r\nB\x01\x7F", 0,
        QStringLiteral("A\uFFFD\uFFFDB\uFFFD\uFFFD"), "0");
    row("brackets cannot open or close entry fields", "[x] - [y", 0, QStringLiteral("(x) - (y"),
        "0");
    row("bidirectional override is not shown",
        "ab\xE2\x80\xAE"
        "cd",
        0, QStringLiteral("ab\uFFFDcd"), "0");
}

void TestNetCodecs::searchRecordItems()
{
    QFETCH(QByteArray, record);
    QFETCH(QStringList, items);
    const auto records = parseSearchReply(record);
    QVERIFY(records);
    QCOMPARE(records->size(), 1);
    QCOMPARE(records->first().itemTexts(), items);
    // The simulator writes records with the same codec: it must give back these bytes, but
    // for what follows the tag's first zero.
    QByteArray canonical = record;
    const qsizetype zero = record.indexOf('\0', 22);
    if (zero >= 0 && zero < 54)
        canonical.replace(zero, 54 - zero, QByteArray(54 - zero, '\0'));
    QCOMPARE(records->first().toBytes(), canonical);
}

void TestNetCodecs::searchReplySizes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("records"); // -1: not a search reply

    QTest::newRow("empty") << 0 << -1;
    QTest::newRow("54 bytes") << 54 << -1;
    QTest::newRow("55 bytes") << 55 << 1;
    QTest::newRow("56 bytes") << 56 << -1;
    QTest::newRow("110 bytes") << 110 << 2;
    QTest::newRow("largest datagram read, 37 records") << 37 * 55 << 37;
}

void TestNetCodecs::searchReplySizes()
{
    QFETCH(int, size);
    QFETCH(int, records);
    QByteArray datagram;
    for (int i = 0; datagram.size() < size; ++i)
        datagram += searchRecord("020000000000", OfficeAddresses, 0, 0, "m", 0);
    datagram.truncate(size);
    const auto parsed = parseSearchReply(datagram);
    QCOMPARE(parsed ? int(parsed->size()) : -1, records);
}

void TestNetCodecs::hostileTagKeepsEntryFields_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("shown");

    QTest::newRow("closing bracket") << QStringLiteral("a] - [b") << QStringLiteral("a) - (b");
    QTest::newRow("line breaks") << QStringLiteral("a\r\nb") << QStringLiteral("a\uFFFD\uFFFDb");
    QTest::newRow("zero character")
        << QStringLiteral("ab") + QChar(0) + QStringLiteral("]c") << QStringLiteral("ab");
    QTest::newRow("settings file syntax stays")
        << QStringLiteral("x=1;[y]") << QStringLiteral("x=1;(y)");
}

void TestNetCodecs::hostileTagKeepsEntryFields()
{
    QFETCH(QString, tag);
    QFETCH(QString, shown);
    const QStringList fields{tag, StaticIPText, QStringLiteral("10.0.0.2"),
        QStringLiteral("10.0.0.1"), QStringLiteral("255.0.0.0"),
        QStringLiteral("02-00-00-00-00-01"), CrossSubnetText};
    const QString entry = makeDeviceEntry(fields);
    QCOMPARE(entry.count(QLatin1Char('[')), 7);
    QCOMPARE(entry.count(QLatin1Char(']')), 7);
    QCOMPARE(GetEntryField(entry, EntryField::Tag), shown);
    for (int k = 1; k < EntryField::Count; ++k)
        QCOMPARE(GetEntryField(entry, k), fields[k]);
}

void TestNetCodecs::configChecksum()
{
    ConfigRecord record;
    for (int i = 0; i < ConfigRecord::Size; ++i)
        record.bytes[std::size_t(i)] = quint8(i);
    prepareConfigRequest(record);
    // 0 + 1 + ... + 73 = 2701, plus the status 0xFF: 2956 = 0x0B8C.
    QCOMPARE(record.bytes[74], quint8(0xFF));
    QCOMPARE(record.bytes[75], quint8(0x8C));
    QCOMPARE(ConfigChecksum(record), quint8(0x8C));
}

void TestNetCodecs::configAnswer_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("status"); // -1: no answer in it
    QTest::addColumn<int>("firstByte");
    QTest::addColumn<int>("result");

    QTest::newRow("accepted") << configRecord(0x00) << 0x00 << 0 << 0;
    QTest::newRow("conflict bit tested first") << configRecord(0x30) << 0x30 << 0 << 2;
    QTest::newRow("conflict") << configRecord(0x20) << 0x20 << 0 << 2;
    QTest::newRow("failed") << configRecord(0x10) << 0x10 << 0 << 1;
    QTest::newRow("any other status") << configRecord(0x01) << 0x01 << 0 << 1;
    QTest::newRow("0xFF record skipped, the later one counts")
        << configRecord(0xFF, 1) + configRecord(0x00, 2) << 0x00 << 2 << 0;
    QTest::newRow("the first answer wins")
        << configRecord(0x20, 1) + configRecord(0x00, 2) << 0x20 << 1 << 2;
    QTest::newRow("only 0xFF records") << configRecord(0xFF) + configRecord(0xFF) << -1 << 0 << 1;
    QTest::newRow("75 bytes") << configRecord(0x00).left(75) << -1 << 0 << 1;
    QTest::newRow("77 bytes") << configRecord(0x00) + 'x' << -1 << 0 << 1;
    QTest::newRow("empty") << QByteArray() << -1 << 0 << 1;
}

void TestNetCodecs::configAnswer()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, status);
    QFETCH(int, firstByte);
    QFETCH(int, result);
    const std::optional<ConfigRecord> answer = findConfigAnswer(datagram);
    QCOMPARE(answer ? int(answer->status()) : -1, status);
    if (answer) {
        QCOMPARE(int(answer->bytes[0]), firstByte);
        QCOMPARE(int(configResultOf(answer->status())), result);
    }
}

void TestNetCodecs::parseIPText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<Parts4>("parts");

    const Parts4 none{};
    QTest::newRow("address") << QStringLiteral("192.168.0.100") << true << ip4("192.168.0.100");
    QTest::newRow("part above 255") << QStringLiteral("10.0.0.300") << true << ip4("10.0.0.255");
    QTest::newRow("very long part")
        << QStringLiteral("99999999999999999999.1.2.3") << true << ip4("255.1.2.3");
    QTest::newRow("leading zeros stay") << QStringLiteral("007.0.0.1") << true << ip4("007.0.0.1");
    QTest::newRow("two dots") << QStringLiteral("1.2.3") << false << none;
    QTest::newRow("four dots") << QStringLiteral("1.2.3.4.5") << false << none;
    QTest::newRow("empty part") << QStringLiteral("1..2.3") << false << none;
    QTest::newRow("letters") << QStringLiteral("a.b.c.d") << false << none;
    QTest::newRow("space") << QStringLiteral("1.2.3.4 ") << false << none;
    QTest::newRow("minus") << QStringLiteral("-1.2.3.4") << false << none;
    QTest::newRow("empty") << QString() << false << none;
}

void TestNetCodecs::parseIPText()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(Parts4, parts);
    Parts4 got;
    QCOMPARE(ParseIPText(text, &got), ok);
    if (ok)
        QCOMPARE(got, parts);
}

void TestNetCodecs::parseMACText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<Parts6>("split");

    const auto row = [](const char *name, const char *text, bool ok, const char *mac) {
        const QString m = QString::fromLatin1(mac);
        const QStringList p = m.split(QLatin1Char('-'));
        QTest::newRow(name) << QString::fromLatin1(text) << ok << m
                            << Parts6{p[0], p[1], p[2], p[3], p[4], p[5]};
    };
    row("upper case", "00-1A-2B-3C-4D-5E", true, "00-1A-2B-3C-4D-5E");
    row("trimmed, lower case", "  00-1a-2b-3c-4d-5e ", true, "00-1A-2B-3C-4D-5E");
    row("one digit gets a leading 0", "0-1-2-3-4-F", true, "00-01-02-03-04-0F");
    row("empty parts are 00", "-----", true, "00-00-00-00-00-00");
    row("long part gives its first two digits", "123-4-5-6-7-8", true, "12-04-05-06-07-08");
    row("colons", "00:1A:2B:3C:4D:5E", false, "00-00-00-00-00-00");
    row("four dashes", "00-1A-2B-3C-4D", false, "00-00-00-00-00-00");
    row("six dashes", "00-1A-2B-3C-4D-5E-6F", false, "00-00-00-00-00-00");
    row("not hex", "G0-1A-2B-3C-4D-5E", false, "00-00-00-00-00-00");
}

void TestNetCodecs::parseMACText()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QString, mac);
    QFETCH(Parts6, split);
    MacAddress bytes{};
    QCOMPARE(ParseMACText(text, &bytes), ok);
    if (ok)
        QCOMPARE(macText(bytes), mac);
    QCOMPARE(SplitMACText(text), split);
}

void TestNetCodecs::clampIPField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("clamped");

    QTest::newRow("empty") << QString() << QStringLiteral("0");
    QTest::newRow("0") << QStringLiteral("0") << QStringLiteral("0");
    QTest::newRow("00") << QStringLiteral("00") << QStringLiteral("0");
    QTest::newRow("1") << QStringLiteral("1") << QStringLiteral("1");
    QTest::newRow("254") << QStringLiteral("254") << QStringLiteral("254");
    QTest::newRow("255") << QStringLiteral("255") << QStringLiteral("255");
    QTest::newRow("300") << QStringLiteral("300") << QStringLiteral("255");
    QTest::newRow("leading zeros unchanged") << QStringLiteral("007") << QStringLiteral("007");
    QTest::newRow("beyond any integer")
        << QStringLiteral("99999999999999999999999") << QStringLiteral("255");
}

void TestNetCodecs::clampIPField()
{
    QFETCH(QString, text);
    QFETCH(QString, clamped);
    QCOMPARE(ClampIPField(text), clamped);
}

void TestNetCodecs::getEntryField_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("full entry")
        << QStringLiteral("[Hall A] - [Auto IP] - [10.0.0.2] - [10.0.0.1] - [255.0.0.0] - "
                          "[02-00-00-00-00-01] - [Cross Subnet]")
        << list("Hall A|Auto IP|10.0.0.2|10.0.0.1|255.0.0.0|02-00-00-00-00-01|Cross Subnet");
    QTest::newRow("empty entry gives the defaults")
        << QString() << list("|Static IP|0.0.0.0|0.0.0.0|0.0.0.0|00-00-00-00-00-00|Same Subnet");
    QTest::newRow("fewer fields") << QStringLiteral("[a] - [b]") << list("a|b|||||");
    QTest::newRow("last field unclosed") << QStringLiteral("[a] - [b") << list("a|b|||||");
}

void TestNetCodecs::getEntryField()
{
    QFETCH(QString, entry);
    QFETCH(QStringList, fields);
    for (int k = 0; k < EntryField::Count; ++k)
        QCOMPARE(GetEntryField(entry, k), fields[k]);
}

void TestNetCodecs::buildConfigRecord()
{
    const MacAddress mac{0x02, 0x4D, 0x58, 0, 0, 7};
    const ConfigRecord autoIP = ::buildConfigRecord(
        mac, QStringLiteral("Hall A"), true, ip4("1.2.3.4"), ip4("1.2.3.4"), ip4("1.2.3.4"));
    QByteArray expected(76, '\0');
    expected.replace(0, 6, hex("024D58000007"));
    expected[18] = 1;
    expected[25] = 0x14;
    expected.replace(42, 6, "Hall A");
    QCOMPARE(autoIP.toByteArray(), expected);

    // An empty field is sent as 0 and 300 as 255; the operation says "static".
    const ConfigRecord fixed = ::buildConfigRecord(mac, QString(31, QLatin1Char('t')) + u'\u00FC',
        false, ip4("192.168..300"), ip4("192.168.0.1"), ip4("255.255.255.0"));
    expected.fill('\0');
    expected.replace(0, 6, hex("024D58000007"));
    expected.replace(6, 12,
        hex("C0A800FF"
            "C0A80001"
            "FFFFFF00"));
    expected[25] = 0x15;
    // 31 ASCII characters and a two-byte one: the last cannot be split, so it is left out.
    expected.replace(42, 31, QByteArray(31, 't'));
    QCOMPARE(fixed.toByteArray(), expected);
}

void TestNetCodecs::configuredEntry()
{
    const QString former = makeDeviceEntry({QStringLiteral("old"), StaticIPText,
        QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.1"), QStringLiteral("255.0.0.0"),
        QStringLiteral("02-00-00-00-00-01"), CrossSubnetText});
    const MacAddress mac{2, 0, 0, 0, 0, 1};
    const ConfigRecord request = ::buildConfigRecord(
        mac, QStringLiteral("new"), false, ip4("10.0.0.9"), ip4("10.0.0.1"), ip4("255.0.0.0"));
    ConfigRecord answer;
    answer.setIP({192, 168, 1, 100});
    answer.setGateway({192, 168, 1, 1});
    answer.setMask({255, 255, 255, 0});
    answer.setModuleMac({2, 0, 0, 0, 0, 0x42});

    QCOMPARE(::configuredEntry(former, QStringLiteral("new"), false, request, answer),
        QStringLiteral("[new] - [Static IP] - [10.0.0.9] - [10.0.0.1] - [255.0.0.0] - "
                       "[02-00-00-00-00-01] - [Cross Subnet]"));
    QCOMPARE(::configuredEntry(former, QStringLiteral("new"), true, request, answer),
        QStringLiteral("[new] - [Auto IP] - [192.168.1.100] - [192.168.1.1] - [255.255.255.0] - "
                       "[02-00-00-00-00-42] - [Cross Subnet]"));
}

void TestNetCodecs::moduleRequestBytes()
{
    QCOMPARE(ModuleFrame::request(ModuleFrame::CommandQuery).toByteArray(),
        hex("5C1E93A70BD462F83A85C14E972DB06F 01 000000 00000000 000000000000 FF 9E"));
    QCOMPARE(ModuleFrame::request(ModuleFrame::CommandReset, 0, {192, 168, 0, 100}).toByteArray(),
        hex("5C1E93A70BD462F83A85C14E972DB06F FF 000000 C0A80064 000000000000 FF 68"));
}

void TestNetCodecs::moduleReplyAcceptance_data()
{
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("reseal");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("answer") << -1 << 0 << true << true;
    QTest::newRow("ReceiveOK still 0xFF") << 30 << 0xFF << true << false;
    QTest::newRow("wrong checksum") << 31 << 0x00 << false << false;
    QTest::newRow("header changed") << 15 << 0x00 << true << false;
    QTest::newRow("first header byte changed") << 0 << 0x00 << true << false;
}

void TestNetCodecs::moduleReplyAcceptance()
{
    QFETCH(int, at);
    QFETCH(int, value);
    QFETCH(bool, reseal);
    QFETCH(bool, accepted);
    const ModuleFrame request = ModuleFrame::request(ModuleFrame::CommandQuery);
    ModuleFrame reply = request;
    reply.bytes[30] = 0x00;
    sealModuleFrame(reply);
    if (at >= 0)
        reply.bytes[std::size_t(at)] = quint8(value);
    if (reseal)
        sealModuleFrame(reply);
    QCOMPARE(isAcceptedModuleReply(reply, request), accepted);
}

void TestNetCodecs::traceModuleFrame()
{
    const ModuleFrame frame
        = ModuleFrame::request(ModuleFrame::CommandReset, 0, {192, 168, 0, 100});
    QCOMPARE(TraceModuleFrame(QStringLiteral("send LDCD:   "), frame),
        QStringLiteral("send LDCD:   \r\n"
                       "header:5C 1E 93 A7 0B D4 62 F8 3A 85 C1 4E 97 2D B0 6F \r\n"
                       "command:FF\r\n"
                       "param1:00; param2:00\r\n"
                       "DHCP:00\r\n"
                       "IPAddr:C0 A8 00 64\r\n"
                       "ReveiveOK:FF\r\n"
                       "CheckSum:68\r\n")
            + QString(39, QLatin1Char('/')));
}

void TestNetCodecs::deviceItemsAndDefaults()
{
    TKVCOMControl link;
    NetworkModuleControl control(link);
    const QStringList defaults = list("00-00-00-00-00-00|0.0.0.0|0.0.0.0|0.0.0.0|||TCP Module|0");
    const QStringList module
        = parseSearchReply(searchRecord("001A2B3C4D5E", OfficeAddresses, 8000, 258, "Hall A", 1))
              ->first()
              .itemTexts();
    control.FoundDevices() = module;
    control.FoundDevices().append(QStringLiteral("a ninth text is no device"));
    QCOMPARE(control.GetTCPDeviceCount(), 1);
    for (int item = 0; item < NetworkModuleControl::DeviceItems; ++item) {
        QCOMPARE(control.GetTCPDeviceItem(1, item), module[item]);
        QCOMPARE(control.GetTCPDeviceItem(0, item), defaults[item]);
        QCOMPARE(control.GetTCPDeviceItem(2, item), defaults[item]);
    }
    QCOMPARE(control.GetTCPDeviceItem(1, 8), QString());
    QCOMPARE(foundDeviceEntry(control, 1, true),
        QStringLiteral("[Hall A] - [Auto IP] - [192.168.0.100] - [192.168.0.1] - "
                       "[255.255.255.0] - [00-1A-2B-3C-4D-5E] - [Same Subnet]"));
    QCOMPARE(foundDeviceEntry(control, 1, false, QStringLiteral("10.1.1.1")),
        QStringLiteral("[Hall A] - [Auto IP] - [10.1.1.1] - [192.168.0.1] - [255.255.255.0] - "
                       "[00-1A-2B-3C-4D-5E] - [Cross Subnet]"));
}

QTEST_GUILESS_MAIN(TestNetCodecs)
#include "tst_netcodecs.moc"
