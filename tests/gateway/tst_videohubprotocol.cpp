// The Videohub block parser and request decoder, without sockets: what each client text
// becomes, fed at once and byte by byte, and the bounds on lines and blocks.
#include "VideohubProtocol.h"

#include <QTest>

namespace {

// One line per block, e.g. "routes 1>4 2>5", "nak", "query routing", "labels out 3=[x]".
QString describe(const VideohubRequest &r)
{
    static const QStringList blocks = {QStringLiteral("preamble"), QStringLiteral("device"),
        QStringLiteral("in"), QStringLiteral("out"), QStringLiteral("locks"),
        QStringLiteral("routing"), QStringLiteral("configuration")};
    const QString block = blocks[int(r.block)];
    QStringList parts;
    switch (r.kind) {
    case VideohubRequest::Nak:
        return QStringLiteral("nak");
    case VideohubRequest::Ping:
        return QStringLiteral("ping");
    case VideohubRequest::Query:
        return QStringLiteral("query ") + block;
    case VideohubRequest::Routes:
        for (const GatewayRoute &route : r.routes)
            parts.append(QStringLiteral("%1>%2").arg(route.output).arg(route.input));
        return QStringLiteral("routes ") + parts.join(QLatin1Char(' '));
    case VideohubRequest::Labels:
        for (const auto &[port, text] : r.labels)
            parts.append(QStringLiteral("%1=[%2]").arg(port).arg(text));
        return QStringLiteral("labels ") + block + QLatin1Char(' ') + parts.join(QLatin1Char(' '));
    case VideohubRequest::Locks:
        for (const auto &[output, letter] : r.locks)
            parts.append(QString::number(output) + QLatin1Char(letter));
        return QStringLiteral("locks ") + parts.join(QLatin1Char(' '));
    case VideohubRequest::Configuration:
        return QStringLiteral("take mode off");
    case VideohubRequest::FriendlyName:
        return QStringLiteral("name [%1]").arg(r.friendlyName);
    }
    return {};
}

QStringList decodeAll(const QList<VideohubParser::Block> &blocks)
{
    QStringList out;
    for (const VideohubParser::Block &block : blocks)
        out.append(describe(decodeVideohubRequest(block)));
    return out;
}

} // namespace

class TestVideohubProtocol : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void requests_data();
    void requests();
    void bounds_data();
    void bounds();
    void blocksTheServerSends();
};

void TestVideohubProtocol::requests_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("decoded");

    auto row = [](const char *name, const QByteArray &text,
                   std::initializer_list<const char *> decoded) {
        QStringList lines;
        for (const char *line : decoded)
            lines.append(QString::fromUtf8(line));
        QTest::newRow(name) << text << lines;
    };
    row("route, ports 0-based on the wire", "VIDEO OUTPUT ROUTING:\n5 2\n\n", {"routes 6>3"});
    row("salvo in order", "VIDEO OUTPUT ROUTING:\n0 3\n1 4\n0 5\n\n", {"routes 1>4 2>5 1>6"});
    row("CR LF endings", "VIDEO OUTPUT ROUTING:\r\n0 1\r\n\r\n", {"routes 1>2"});
    row("blank lines between blocks are nothing", "\n\nPING:\n\n\n\nPING:\n\n", {"ping", "ping"});
    row("labels: the rest of the line", "OUTPUT LABELS:\n2 Main  screen \n0 \n\n",
        {"labels out 3=[Main  screen ] 1=[]"});
    row("labels: UTF-8", "INPUT LABELS:\n1 Caméra\n\n", {"labels in 2=[Caméra]"});
    row("locks", "VIDEO OUTPUT LOCKS:\n0 O\n1 U\n5 F\n\n", {"locks 1O 2U 6F"});
    row("a lock line with a trailing space", "VIDEO OUTPUT LOCKS:\n0 O \n1 U\t\n\n",
        {"locks 1O 2U"});
    row("header only asks for the block", "VIDEO OUTPUT ROUTING:\n\nINPUT LABELS:\n\n",
        {"query routing", "query in"});
    row("header only: locks, device, preamble",
        "VIDEO OUTPUT LOCKS:\n\nVIDEOHUB DEVICE:\n\nPROTOCOL PREAMBLE:\n\n",
        {"query locks", "query device", "query preamble"});
    row("unknown header", "VIDEO INPUT ROUTING:\n0 1\n\n", {"nak"});
    row("header in lower case", "ping:\n\n", {"nak"});
    row("header without its colon", "PING\n\n", {"nak"});
    row("PING with lines", "PING:\n0 1\n\n", {"nak"});
    row("output out of range", "VIDEO OUTPUT ROUTING:\n6 0\n\n", {"nak"});
    row("input out of range", "VIDEO OUTPUT ROUTING:\n0 6\n\n", {"nak"});
    row("negative port", "VIDEO OUTPUT ROUTING:\n-1 0\n\n", {"nak"});
    row("not a number", "VIDEO OUTPUT ROUTING:\nzero 1\n\n", {"nak"});
    row("plus sign", "VIDEO OUTPUT ROUTING:\n+1 1\n\n", {"nak"});
    row("huge number", "VIDEO OUTPUT ROUTING:\n4294967297 1\n\n", {"nak"});
    row("route without input", "VIDEO OUTPUT ROUTING:\n1\n\n", {"nak"});
    row("route with a third field", "VIDEO OUTPUT ROUTING:\n1 2 3\n\n", {"nak"});
    row("two spaces in a route", "VIDEO OUTPUT ROUTING:\n1  2\n\n", {"nak"});
    row("one bad line spoils the salvo", "VIDEO OUTPUT ROUTING:\n0 1\n9 1\n0 2\n\n", {"nak"});
    row("lock letter unknown", "VIDEO OUTPUT LOCKS:\n0 L\n\n", {"nak"});
    row("lock letter lower case", "VIDEO OUTPUT LOCKS:\n0 o\n\n", {"nak"});
    row("two lock letters", "VIDEO OUTPUT LOCKS:\n0 O U\n\n", {"nak"});
    row("label port out of range", "INPUT LABELS:\n6 x\n\n", {"nak"});
    row("device block from a client", "VIDEOHUB DEVICE:\nDevice present: true\n\n", {"nak"});

    // Blocks of newer panels: Take Mode, which this server keeps off, and the device's name.
    row("take mode off", "CONFIGURATION:\nTake Mode: false\n\n", {"take mode off"});
    row("take mode off, CR LF and a trailing space", "CONFIGURATION:\r\nTake Mode: false \r\n\r\n",
        {"take mode off"});
    row("take mode on", "CONFIGURATION:\nTake Mode: true\n\n", {"nak"});
    row("take mode neither", "CONFIGURATION:\nTake Mode: maybe\n\n", {"nak"});
    row("configuration: unknown field", "CONFIGURATION:\nTake Mode: false\nSpeed: 2\n\n", {"nak"});
    row("header only: configuration", "CONFIGURATION:\n\n", {"query configuration"});
    row("friendly name", "VIDEOHUB DEVICE:\nFriendly name: Studio A: left\n\n",
        {"name [Studio A: left]"});
    row("friendly name, UTF-8 and inner spaces", "VIDEOHUB DEVICE:\nFriendly name: Régie  2 \n\n",
        {"name [Régie  2 ]"});
    row("friendly name empty", "VIDEOHUB DEVICE:\nFriendly name:\n\n", {"name []"});
    row("friendly name of 300 characters is cut to 255",
        "VIDEOHUB DEVICE:\nFriendly name: " + QByteArray(300, 'n') + "\n\n",
        {qPrintable(QLatin1String("name [") + QString(255, u'n') + QLatin1Char(']'))});
    row("friendly name with a tab", "VIDEOHUB DEVICE:\nFriendly name: a\tb\n\n", {"nak"});
    row("friendly name not UTF-8", "VIDEOHUB DEVICE:\nFriendly name: caf\xE9\n\n", {"nak"});
    row("friendly name with another field", "VIDEOHUB DEVICE:\nFriendly name: A\nModel name: B\n\n",
        {"nak"});
    row("friendly name in lower case", "VIDEOHUB DEVICE:\nfriendly name: A\n\n", {"nak"});
    row("NUL bytes", QByteArray("VIDEO OUTPUT ROUTING:\n0\0 1\n\n", 28), {"nak"});
    row("a block after a bad one is read", "FOO:\nbar\n\nVIDEO OUTPUT ROUTING:\n2 2\n\n",
        {"nak", "routes 3>3"});
    row("unfinished block yields nothing", "VIDEO OUTPUT ROUTING:\n0 1\n", {});

    // The label rule: 255 Unicode characters, no control characters, valid UTF-8. Panels expect
    // a longer name to be shortened.
    const QByteArray clapper("\xF0\x9F\x8E\xAC"); // U+1F3AC: 4 bytes, 2 UTF-16 units
    const QByteArray x255 = QByteArray(255, 'x');
    row("label of 255 characters", "INPUT LABELS:\n0 " + x255 + "\n\n",
        {qPrintable(
            QLatin1String("labels in 1=[") + QString::fromLatin1(x255) + QLatin1Char(']'))});
    row("label of 300 characters is cut to 255",
        "INPUT LABELS:\n0 " + QByteArray(300, 'x') + "\n\n",
        {qPrintable(
            QLatin1String("labels in 1=[") + QString::fromLatin1(x255) + QLatin1Char(']'))});
    row("label of 255 characters outside the BMP",
        "OUTPUT LABELS:\n1 " + clapper.repeated(255) + "\n\n",
        {qPrintable(QLatin1String("labels out 2=[") + QString::fromUtf8(clapper.repeated(255))
            + QLatin1Char(']'))});
    row("label of 256 characters outside the BMP cut between characters",
        "OUTPUT LABELS:\n1 " + clapper.repeated(255) + "x\n\n",
        {qPrintable(QLatin1String("labels out 2=[") + QString::fromUtf8(clapper.repeated(255))
            + QLatin1Char(']'))});
    row("label with a NUL", QByteArray("INPUT LABELS:\n0 a\0b\n\n", 21), {"nak"});
    row("label with a tab", "INPUT LABELS:\n0 a\tb\n\n", {"nak"});
    row("label with a C1 control",
        "INPUT LABELS:\n0 a\xC2\x85"
        "b\n\n",
        {"nak"});
    row("label with a control beyond 255 characters",
        "INPUT LABELS:\n0 " + QByteArray(260, 'x') + "\x7F\n\n", {"nak"});
    row("label not UTF-8", "INPUT LABELS:\n0 caf\xE9\n\n", {"nak"});
    row("label with a surrogate in UTF-8", "INPUT LABELS:\n0 \xED\xA0\x80\n\n", {"nak"});
    row("one bad label spoils the block", "INPUT LABELS:\n0 fine\n1 a\tb\n\n", {"nak"});
}

void TestVideohubProtocol::requests()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, decoded);

    VideohubParser whole;
    QList<VideohubParser::Block> blocks;
    whole.feed(text, &blocks);
    QCOMPARE(decodeAll(blocks), decoded);
    QCOMPARE(whole.midBlock(), text.endsWith("1\n"));

    VideohubParser bytewise;
    QList<VideohubParser::Block> pieces;
    for (char c : text)
        bytewise.feed(QByteArrayView(&c, 1), &pieces);
    QCOMPARE(decodeAll(pieces), decoded);
}

void TestVideohubProtocol::bounds_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("decoded");

    const QByteArray label40(40, 'x');
    const QByteArray label41(41, 'x');
    const QStringList taken{
        QStringLiteral("labels in 1=[") + QString::fromLatin1(label40) + QLatin1Char(']')};
    const QStringList nakPing{QStringLiteral("nak"), QStringLiteral("ping")};
    auto lines = [](int count) {
        QByteArray text = "VIDEO OUTPUT ROUTING:\n";
        for (int k = 0; k < count; ++k)
            text += "0 1\n";
        return text + "\n";
    };
    // Bounds of this parser: lines of 42 bytes, 4 lines per block.
    QTest::newRow("line at the bound") << "INPUT LABELS:\n0 " + label40 + "\n\n" << taken;
    QTest::newRow("line at the bound with CR") << "INPUT LABELS:\r\n0 " + label40 + "\r\n\r\n"
                                               << taken;
    QTest::newRow("line one byte over") << "INPUT LABELS:\n0 " + label41 + "\n\nPING:\n\n"
                                        << nakPing;
    QTest::newRow("header one byte over") << QByteArray(42, 'A') + ":\n\nPING:\n\n" << nakPing;
    QTest::newRow("header over the bound") << QByteArray(100000, 'A') + ":\n\nPING:\n\n" << nakPing;
    QTest::newRow("lines at the bound")
        << lines(4) << QStringList{QStringLiteral("routes 1>2 1>2 1>2 1>2")};
    QTest::newRow("one line too many") << lines(5) + "PING:\n\n" << nakPing;
    QTest::newRow("a flood of lines") << lines(100000) << QStringList{QStringLiteral("nak")};
}

void TestVideohubProtocol::bounds()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, decoded);
    for (int chunk : {1, 7, int(text.size())}) {
        VideohubParser parser({42, 4});
        QList<VideohubParser::Block> blocks;
        for (qsizetype at = 0; at < text.size(); at += chunk)
            parser.feed(
                QByteArrayView(text).sliced(at, std::min<qsizetype>(chunk, text.size() - at)),
                &blocks);
        QCOMPARE(decodeAll(blocks), decoded);
        for (const auto &block : blocks) {
            QVERIFY(block.header.size() <= 42);
            QVERIFY(block.lines.size() <= 4);
        }
    }
}

void TestVideohubProtocol::blocksTheServerSends()
{
    GatewayState state;
    state.present = true;
    state.power = true;
    state.routesKnown = true;
    state.model = QStringLiteral("HDMI Matrix 6x6");
    state.routes = {2, 0, 3, 4, 5, 6}; // output 2 unknown
    state.inputLabels[0] = QStringLiteral("Camera\r\none");
    state.outputLabels[5] = QStringLiteral("Projector\nleft");
    const QHostAddress here(QStringLiteral("10.0.0.7"));
    state.locks[1] = here;
    state.locks[2] = QHostAddress(QStringLiteral("10.0.0.9"));
    QCOMPARE(Videohub::labelsBlock(GatewaySide::Input, state, {1, 2}),
        QByteArray("INPUT LABELS:\n0 Camera one\n1 Input 2\n\n"));
    QCOMPARE(Videohub::labelsBlock(GatewaySide::Output, state, {6}),
        QByteArray("OUTPUT LABELS:\n5 Projector left\n\n"));
    // The letters go by address: the same host over IPv6 holds its own locks; a client without
    // an address holds none.
    QCOMPARE(Videohub::locksBlock(state, here),
        QByteArray("VIDEO OUTPUT LOCKS:\n0 U\n1 O\n2 L\n3 U\n4 U\n5 U\n\n"));
    QCOMPARE(Videohub::locksBlock(state, QHostAddress(QStringLiteral("::ffff:10.0.0.7")), {2, 3}),
        QByteArray("VIDEO OUTPUT LOCKS:\n1 O\n2 L\n\n"));
    QCOMPARE(Videohub::locksBlock(state, QHostAddress(), {2, 3}),
        QByteArray("VIDEO OUTPUT LOCKS:\n1 L\n2 L\n\n"));
    QCOMPARE(Videohub::routingBlock(state),
        QByteArray("VIDEO OUTPUT ROUTING:\n0 1\n2 2\n3 3\n4 4\n5 5\n\n"));
    // The name given, on one line; without one, the model's name.
    const QByteArray device = Videohub::deviceBlock(state, QStringLiteral("0123456789AB"));
    QVERIFY2(device.startsWith("VIDEOHUB DEVICE:\nDevice present: true\n"
                               "Model name: HDMI Matrix 6x6\nFriendly name: HDMI Matrix 6x6\n"),
        device.constData());
    state.friendlyName = QStringLiteral("Stage\nleft");
    QVERIFY(Videohub::deviceBlock(state, QStringLiteral("0123456789AB"))
                .contains("\nFriendly name: Stage left\nUnique ID: 0123456789AB\n"));
    QCOMPARE(Videohub::configurationBlock(), QByteArray("CONFIGURATION:\nTake Mode: false\n\n"));
    QCOMPARE(Videohub::preamble(), QByteArray("PROTOCOL PREAMBLE:\nVersion: 2.7\n\n"));
    state.present = false;
    QCOMPARE(Videohub::deviceBlock(state, QStringLiteral("0123456789AB")),
        QByteArray("VIDEOHUB DEVICE:\nDevice present: false\n\n"));
    QCOMPARE(Videohub::uniqueId(QStringLiteral("/dev/ttyUSB0")).size(), 12);
    QCOMPARE(Videohub::uniqueId(QStringLiteral("/dev/ttyUSB0")),
        Videohub::uniqueId(QStringLiteral("/dev/ttyUSB0")));
    QVERIFY(Videohub::uniqueId(QStringLiteral("a")) != Videohub::uniqueId(QStringLiteral("b")));
}

QTEST_GUILESS_MAIN(TestVideohubProtocol)
#include "tst_videohubprotocol.moc"
