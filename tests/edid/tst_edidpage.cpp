// The EDID page of the real main window against the simulated switcher over loopback TCP:
// the command words of Set, Copy and Download, reading and downloading EDID blocks, the
// output connection check, the .bin file and the choices kept in Settings.ini.
#include "../SpecialFiles.h"
#include "CommandPacket.h"
#include "DialogDriver.h"
#include "EdidChangeRows.h"
#include "EdidContent.h"
#include "EdidFixture.h"
#include "EdidPage.h"
#include "EdidTexts.h"
#include "PortTagPage.h"
#include "SettingsFile.h"
#include "SimulatorServer.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TKVCOMControl.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

using testsupport::BoxAnswer;

using EdidChangeRows::Choices;

// "03/02 F200 0003": command, subcommand, word1, word2 of a request as the switcher saw it.
QString describe(const QByteArray &request)
{
    const CommandPacket p = CommandPacket::fromBytes(request);
    return QStringLiteral("%1/%2 %3 %4")
        .arg(p.command(), 2, 16, QLatin1Char('0'))
        .arg(p.subcommand(), 2, 16, QLatin1Char('0'))
        .arg(p.word(1), 4, 16, QLatin1Char('0'))
        .arg(p.word(2), 4, 16, QLatin1Char('0'))
        .toUpper();
}

QByteArray withExtraByte(QByteArray edid)
{
    edid.append('\x5A');
    return edid;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestEdidPage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void commandWords_data();
    void commandWords();
    void refusals_data();
    void refusals();
    void readThenDownload_data();
    void readThenDownload();
    void readOtherSize_data();
    void readOtherSize();
    void outputWithoutDisplay_data();
    void outputWithoutDisplay();
    void downloadWhilePoweredOff();
    void openViewSave_data();
    void openViewSave();
    void openRefused_data();
    void openRefused();
    void openDuringDownloadIgnored();
    void overwriteQuestion_data();
    void overwriteQuestion();
    void saveLeavesSpecialFiles_data();
    void saveLeavesSpecialFiles();
    void tagsRenameEntriesKeepingPositions();
    void choicesSurviveRestart();

private:
    // Shows the EDID page of the window just opened and answers its file dialogs.
    void openPage();
    template<typename T>
    T *widget(const QString &name) const
    {
        return m_w->widget<T>(name);
    }
    void choose(const Choices &choices);
    void click(const QString &button);
    QStringList wire() const;
    QString panel(int n) const { return m_form->status().text(n); }
    QByteArray view() const;

    std::unique_ptr<testsupport::WindowFixture> m_w;
    SimulatorServer *m_sim = nullptr; // m_w's
    TForm1 *m_form = nullptr; // m_w's
    EdidPage *m_page = nullptr;
    QString m_chosenFile;
};

void TestEdidPage::init()
{
    testsupport::WindowFixture::Options options;
    options.powerOn = true;
    m_w = std::make_unique<testsupport::WindowFixture>(options);
    QVERIFY2(m_w->start(), qPrintable(m_w->why()));
    m_sim = &m_w->sim();
    openPage();
}

void TestEdidPage::openPage()
{
    m_form = &m_w->form();
    auto *pages = widget<QTabWidget>(QStringLiteral("pcContainer"));
    pages->setCurrentWidget(widget<QWidget>(QStringLiteral("tsEDIDCtrl")));
    m_page = m_form->findChild<EdidPage *>();
    QVERIFY(m_page);
    m_chosenFile.clear();
    m_page->setFileChooser([this](EdidPage::FileDialog, const QString &filter) {
        [&] { QCOMPARE(filter, EdidTexts::fileFilter()); }();
        return m_chosenFile;
    });
}

void TestEdidPage::cleanup()
{
    m_w.reset();
}

void TestEdidPage::choose(const Choices &choices)
{
    for (const auto &[name, index] : choices) {
        auto *list = widget<QComboBox>(name);
        QVERIFY(list && index < list->count());
        list->setCurrentIndex(index);
    }
}

void TestEdidPage::click(const QString &button)
{
    auto *b = widget<QPushButton>(button);
    QVERIFY(b && b->isVisible());
    m_sim->clearReceived();
    QTest::mouseClick(b, Qt::LeftButton);
}

QStringList TestEdidPage::wire() const
{
    QStringList requests;
    for (const QByteArray &r : m_sim->received())
        requests.append(describe(r));
    return requests;
}

QByteArray TestEdidPage::view() const
{
    QByteArray bytes;
    m_page->model().EDIDContentToBuffer(bytes);
    return bytes;
}

void TestEdidPage::commandWords_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<Choices>("choices");
    QTest::addColumn<QStringList>("expected");
    const QString prepare = EdidChangeRows::prepare();
    const QString download = QStringLiteral("cbDownloadEDIDInput");

    for (const EdidChangeRows::Row &row : EdidChangeRows::rows())
        QTest::newRow(row.name) << row.button << row.choices << row.expected;
    // A download is the start command, then the view's 256 bytes as one last frame.
    QTest::newRow("download User1 Memory")
        << "btnDownloadEDID" << Choices{{download, 8}}
        << QStringList{
               prepare, QStringLiteral("03/07 F100 0000"), QStringLiteral("03/07 0056 0100")};
    QTest::newRow("download All Inputs") << "btnDownloadEDID" << Choices{{download, 7}}
                                         << QStringList{prepare, QStringLiteral("03/06 F0FE 0000"),
                                                QStringLiteral("03/06 0056 0100")};
}

void TestEdidPage::commandWords()
{
    QFETCH(QString, button);
    QFETCH(Choices, choices);
    QFETCH(QStringList, expected);
    const QByteArray edid = EdidFixture::make();
    QVERIFY(m_page->model().ShowEDIDContent(edid));
    choose(choices);
    click(button);
    QCOMPARE(wire(), expected);
    QCOMPARE(panel(2), QStringLiteral("Done"));
    QCOMPARE(panel(3), QString());
    QVERIFY(m_form->state().RunnerIdle);
    if (button == QLatin1String("btnDownloadEDID")) {
        const QByteArray stored
            = choices.first().second == 8 ? m_sim->edid().userEdid(1) : m_sim->edid().inputEdid(6);
        QCOMPARE(stored, edid);
    }
}

void TestEdidPage::refusals_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<Choices>("choices");
    QTest::addColumn<bool>("viewFilled");
    QTest::addColumn<QString>("note");
    const QString select = EdidTexts::selectListItemFirst();
    QTest::newRow("set without mode")
        << "btnSetEDIDMode" << Choices{{QStringLiteral("cbSetEDIDModeInput"), 2}} << true << select;
    QTest::newRow("set without input")
        << "btnSetEDIDMode" << Choices{{QStringLiteral("cbEDIDMode"), 3}} << true << select;
    QTest::newRow("copy without input")
        << "btnCopyEDID" << Choices{{QStringLiteral("cbCopyEDIDOutput"), 1}} << true << select;
    QTest::newRow("read without output") << "btnReadEDIDData" << Choices{} << true << select;
    QTest::newRow("download without target") << "btnDownloadEDID" << Choices{} << true << select;
    QTest::newRow("download with empty view")
        << "btnDownloadEDID" << Choices{{QStringLiteral("cbDownloadEDIDInput"), 1}} << false
        << EdidTexts::contentEmptyOpenFirst();
}

void TestEdidPage::refusals()
{
    QFETCH(QString, button);
    QFETCH(Choices, choices);
    QFETCH(bool, viewFilled);
    QFETCH(QString, note);
    if (viewFilled)
        QVERIFY(m_page->model().ShowEDIDContent(EdidFixture::make()));
    choose(choices);
    click(button);
    QCOMPARE(panel(3), note);
    QCOMPARE(wire(), QStringList());
    QCOMPARE(m_page->model().isEmpty(), !viewFilled);
}

void TestEdidPage::readThenDownload_data()
{
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<int>("blocks");
    QTest::newRow("256 bytes in one block") << EdidFixture::make() << 1;
    QTest::newRow("257 bytes as 256 + 1")
        << withExtraByte(EdidFixture::make("XYZ", 0x0BAD, "Wide One")) << 2;
}

void TestEdidPage::readThenDownload()
{
    QFETCH(QByteArray, display);
    QFETCH(int, blocks);
    m_sim->edid().setDisplayEdid(2, display);
    QVERIFY(m_page->model().ShowEDIDContent(EdidFixture::make("OLD", 1, "Old one")));

    choose({{QStringLiteral("cbReadEDIDDataOutput"), 2}});
    const int sentBefore = m_sim->edid().blocksSent();
    click(QStringLiteral("btnReadEDIDData"));
    const QStringList read = wire();
    QVERIFY2(read.size() >= 3, qPrintable(read.join(u',')));
    QCOMPARE(read.mid(0, 2),
        (QStringList{QStringLiteral("01/05 0002 0000"), QStringLiteral("03/05 F002 0000")}));
    QCOMPARE(m_sim->edid().blocksSent() - sentBefore, blocks);
    QCOMPARE(panel(2), QStringLiteral("Done"));
    QCOMPARE(panel(3), QString());
    QVERIFY(m_form->state().RunnerIdle);
    const QByteArray block = display.left(EdidBlockSize);
    QCOMPARE(view(), block);
    const QString summary = edidSummaryLine(decodeEdidSummary(block));
    QCOMPARE(widget<QLabel>(QStringLiteral("lblEDIDSummary"))->text(), summary);
    QVERIFY(summary.contains(QLatin1String(display.mid(95, 8).trimmed())));

    // What was read goes to input 4 as it stands in the view: 256 bytes, one last frame.
    choose({{QStringLiteral("cbDownloadEDIDInput"), 4}});
    click(QStringLiteral("btnDownloadEDID"));
    QCOMPARE(wire(),
        (QStringList{QStringLiteral("03/08 00F0 0000"), QStringLiteral("03/07 F004 0000"),
            QStringLiteral("03/07 0056 0100")}));
    QCOMPARE(panel(2), QStringLiteral("Done"));
    QCOMPARE(m_sim->edid().inputEdid(4), block);
    QVERIFY(m_form->state().RunnerIdle);
}

void TestEdidPage::readOtherSize_data()
{
    QTest::addColumn<QByteArray>("display");
    const QByteArray edid = EdidFixture::make();
    QTest::newRow("128 bytes, base block only") << edid.left(128);
    QTest::newRow("384 bytes, two extensions") << edid + edid.mid(128);
    QTest::newRow("512 bytes, three extensions") << edid + edid.mid(128) + edid.mid(128);
}

// A real display's EDID of another size reads fine but does not fit the view: the operator is
// told its size and why the view stays empty.
void TestEdidPage::readOtherSize()
{
    QFETCH(QByteArray, display);
    m_sim->edid().setDisplayEdid(3, display);
    QVERIFY(m_page->model().ShowEDIDContent(EdidFixture::make("OLD", 1, "Old one")));
    choose({{QStringLiteral("cbReadEDIDDataOutput"), 3}});

    BoxAnswer answer(QMessageBox::Ok);
    click(QStringLiteral("btnReadEDIDData"));

    QTRY_VERIFY(answer.seen());
    QCOMPARE(answer.icon(), QMessageBox::Information);
    QCOMPARE(answer.text(), EdidTexts::readSizeRefused(3, display.size()));
    QVERIFY(answer.text().contains(QString::number(display.size())));
    QCOMPARE(panel(3), EdidTexts::readSizeNote(display.size()));
    QCOMPARE(panel(2), QStringLiteral("Done"));
    QVERIFY(m_page->model().isEmpty());
    QVERIFY(m_form->state().RunnerIdle);
}

void TestEdidPage::outputWithoutDisplay_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<Choices>("choices");
    QTest::addColumn<bool>("viewCleared");
    QTest::newRow("copy") << "btnCopyEDID"
                          << Choices{{QStringLiteral("cbCopyEDIDOutput"), 2},
                                 {QStringLiteral("cbCopyEDIDInput"), 7}}
                          << false;
    // The view is cleared before the switcher is asked.
    QTest::newRow("read") << "btnReadEDIDData"
                          << Choices{{QStringLiteral("cbReadEDIDDataOutput"), 2}} << true;
}

void TestEdidPage::outputWithoutDisplay()
{
    QFETCH(QString, button);
    QFETCH(Choices, choices);
    QFETCH(bool, viewCleared);
    m_sim->simulator().state().outputConnected[1] = false;
    QVERIFY(m_page->model().ShowEDIDContent(EdidFixture::make()));
    choose(choices);

    BoxAnswer answer(QMessageBox::Ok);
    click(button);
    // The notice holds nothing: the click has returned, and the window is idle beneath it.
    const auto *notice = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    QVERIFY(notice);
    QCOMPARE(notice->text(), EdidTexts::outputNotConnected(2));
    QVERIFY(m_form->state().RunnerIdle);
    QTRY_VERIFY(answer.seen());
    QCOMPARE(answer.text(), EdidTexts::outputNotConnected(2));
    QVERIFY(answer.text().endsWith(QLatin1String("connected.\r\nOutput2")));
    QCOMPARE(answer.icon(), QMessageBox::Information);
    // Only the question was asked: nothing prepared, copied or read.
    QCOMPARE(wire(), QStringList{QStringLiteral("01/05 0002 0000")});
    QCOMPARE(m_page->model().isEmpty(), viewCleared);
    QCOMPARE(widget<QLabel>(QStringLiteral("lblEDIDSummary"))->text().isEmpty(), viewCleared);
    QVERIFY(m_form->state().RunnerIdle);
}

void TestEdidPage::downloadWhilePoweredOff()
{
    m_form->state().PowerOn = false;
    QVERIFY(m_page->model().ShowEDIDContent(EdidFixture::make()));
    choose({{QStringLiteral("cbDownloadEDIDInput"), 1}});
    BoxAnswer answer(QMessageBox::Ok);
    click(QStringLiteral("btnDownloadEDID"));
    QVERIFY(answer.seen());
    QCOMPARE(answer.text(), EdidTexts::powerOff());
    QCOMPARE(wire(), QStringList());
    QVERIFY(m_form->state().RunnerIdle);
}

void TestEdidPage::openViewSave_data()
{
    QTest::addColumn<QString>("source"); // a file name in the test data folder, or ""
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("fixture 256") << QString() << EdidFixture::make();
    QTest::newRow("fixture 257") << QString() << withExtraByte(EdidFixture::make());
    QTest::newRow("real 256") << QStringLiteral("dell_u2717d_256.bin") << QByteArray();
}

void TestEdidPage::openViewSave()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, content);
    QString path = m_w->path(QStringLiteral("opened.bin"));
    if (source.isEmpty()) {
        QVERIFY(writeFile(path, content));
    } else {
        const QString folder = EdidFixture::testDataFolder();
        if (folder.isEmpty())
            QSKIP("No real EDIDs beside this checkout (MATRIX_TESTDATA/edid)");
        path = QDir(folder).filePath(source);
        content = readFile(path);
        QVERIFY2(edidContentPasses(content), qPrintable(path));
    }

    m_chosenFile = path;
    click(QStringLiteral("BitBtn1"));
    QCOMPARE(widget<QLineEdit>(QStringLiteral("edtOpenEDID"))->text(), path);
    QCOMPARE(view(), content.left(EdidBlockSize));
    QCOMPARE(m_form->link()->sendStream(), content);
    const QString summary = widget<QLabel>(QStringLiteral("lblEDIDSummary"))->text();
    QCOMPARE(summary, edidSummaryLine(decodeEdidSummary(content)));
    QVERIFY(!summary.isEmpty());

    // A name without extension gets ".bin"; the file is the block, whatever was opened.
    m_chosenFile = m_w->path(QStringLiteral("saved"));
    click(QStringLiteral("btnSaveEDID"));
    const QString saved = m_chosenFile + QStringLiteral(".bin");
    QCOMPARE(widget<QLineEdit>(QStringLiteral("edtSaveEDID"))->text(), saved);
    QCOMPARE(readFile(saved), content.left(EdidBlockSize));
    QVERIFY(!QFile::exists(m_chosenFile));
}

void TestEdidPage::openRefused_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no such file
    QTest::addColumn<QString>("message");
    QByteArray badSum = EdidFixture::make();
    badSum[40] = static_cast<char>(badSum[40] + 1);
    QByteArray badHeader = EdidFixture::make();
    badHeader[0] = 1;
    badHeader[255] = static_cast<char>(badHeader[255] - 1);
    QTest::newRow("128 bytes") << EdidFixture::make().left(128) << EdidTexts::contentError();
    QTest::newRow("bad sum") << badSum << EdidTexts::contentError();
    QTest::newRow("bad header") << badHeader << EdidTexts::contentError();
    QTest::newRow("missing file") << QByteArray() << QStringLiteral("refused.bin");
}

void TestEdidPage::openRefused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    const QByteArray before = EdidFixture::make("OLD", 7, "Before");
    QVERIFY(m_page->model().ShowEDIDContent(before));
    const QString path = m_w->path(QStringLiteral("refused.bin"));
    if (!content.isEmpty())
        QVERIFY(writeFile(path, content));
    m_form->link()->setSendStream("stale");

    m_chosenFile = path;
    BoxAnswer answer(QMessageBox::Ok);
    click(QStringLiteral("BitBtn1"));
    QVERIFY(answer.seen());
    QVERIFY2(answer.text().contains(message), qPrintable(answer.text()));
    QCOMPARE(answer.icon(), QMessageBox::Critical);
    QCOMPARE(view(), before);
    if (!content.isEmpty())
        QCOMPARE(m_form->link()->sendStream(), QByteArray());
}

void TestEdidPage::openDuringDownloadIgnored()
{
    const QByteArray edid = EdidFixture::make();
    QVERIFY(m_page->model().ShowEDIDContent(edid));
    const QString other = m_w->path(QStringLiteral("other.bin"));
    QVERIFY(writeFile(other, EdidFixture::make("OTH", 2, "Other")));
    m_chosenFile = other;
    // The operator opens a file while the download's start command is being answered.
    QString noteDuringDownload;
    connect(m_sim, &SimulatorServer::requestHandled, m_page, [&](const QByteArray &request) {
        if (describe(request) == QLatin1String("03/07 F003 0000")) {
            QTest::mouseClick(widget<QPushButton>(QStringLiteral("BitBtn1")), Qt::LeftButton);
            noteDuringDownload = panel(3);
        }
    });
    choose({{QStringLiteral("cbDownloadEDIDInput"), 3}});
    click(QStringLiteral("btnDownloadEDID"));
    QCOMPARE(noteDuringDownload, QStringLiteral("In processing, command ignored"));
    QCOMPARE(panel(2), QStringLiteral("Done"));
    QCOMPARE(m_sim->edid().inputEdid(3), edid);
    QCOMPARE(view(), edid);
    QCOMPARE(widget<QLineEdit>(QStringLiteral("edtOpenEDID"))->text(), QString());
}

void TestEdidPage::overwriteQuestion_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::newRow("declined") << QMessageBox::No;
    QTest::newRow("accepted") << QMessageBox::Yes;
}

void TestEdidPage::overwriteQuestion()
{
    QFETCH(QMessageBox::StandardButton, answer);
    const QString path = m_w->path(QStringLiteral("existing.BIN"));
    QVERIFY(writeFile(path, "old content"));
    const QByteArray edid = EdidFixture::make();
    QVERIFY(m_page->model().ShowEDIDContent(edid));

    m_chosenFile = path;
    BoxAnswer box(answer);
    click(QStringLiteral("btnSaveEDID"));
    QVERIFY(box.seen());
    QCOMPARE(box.text(), EdidTexts::overwriteQuestion(path));
    QCOMPARE(readFile(path), answer == QMessageBox::Yes ? edid : QByteArray("old content"));
}

// Saving over a FIFO or a device node is refused after the overwrite question, and the node
// stays what it was.
void TestEdidPage::saveLeavesSpecialFiles_data()
{
    QTest::addColumn<bool>("fifo");
    QTest::addColumn<QString>("reason");
    QTest::newRow("FIFO") << true << QStringLiteral("it is a pipe, not a file");
    QTest::newRow("device node") << false << QStringLiteral("it is a device, not a file");
}

void TestEdidPage::saveLeavesSpecialFiles()
{
    QFETCH(bool, fifo);
    QFETCH(QString, reason);
    const QString path = m_w->path(QStringLiteral("special.bin"));
    QVERIFY(fifo ? makeFifo(path) : makeDeviceNode(path));
    const mode_t type = fileType(path);
    QVERIFY(m_page->model().ShowEDIDContent(EdidFixture::make()));

    // Every box in turn: Yes to the overwrite question, then the error is read and closed.
    testsupport::BoxWatch boxes(QMessageBox::Yes, 0);
    m_chosenFile = path;
    click(QStringLiteral("btnSaveEDID"));
    boxes.stop();

    QCOMPARE(boxes.texts(),
        (QStringList{EdidTexts::overwriteQuestion(path),
            QStringLiteral("Cannot save EDID file %1: %2; it was left as it is")
                .arg(path, reason)}));
    QCOMPARE(panel(3), QStringLiteral("EDID file not saved"));
    QCOMPARE(fileType(path), type);
}

void TestEdidPage::tagsRenameEntriesKeepingPositions()
{
    choose({{QStringLiteral("cbCopyEDIDInput"), 2}, {QStringLiteral("cbDownloadEDIDInput"), 9},
        {QStringLiteral("cbReadEDIDDataOutput"), 3}});
    // As the Port Tag page announces them after a load or an edit.
    Q_EMIT m_form->portTagPage().tagsChanged(
        {QString(), QStringLiteral("DVD")}, {QString(), QString(), QStringLiteral("Projector")});
    auto *copyInput = widget<QComboBox>(QStringLiteral("cbCopyEDIDInput"));
    QCOMPARE(copyInput->currentText(), QStringLiteral("In2 - [DVD]"));
    QCOMPARE(widget<QComboBox>(QStringLiteral("cbSetEDIDModeInput"))->itemText(2),
        QStringLiteral("In2 - [DVD]"));
    QCOMPARE(widget<QComboBox>(QStringLiteral("cbDownloadEDIDInput"))->currentText(),
        QStringLiteral("User2 Memory"));
    QCOMPARE(widget<QComboBox>(QStringLiteral("cbReadEDIDDataOutput"))->currentText(),
        QStringLiteral("Out3 - [Projector]"));
}

void TestEdidPage::choicesSurviveRestart()
{
    const Choices choices{{QStringLiteral("cbEDIDMode"), 17},
        {QStringLiteral("cbSetEDIDModeInput"), 7}, {QStringLiteral("cbCopyEDIDOutput"), 3},
        {QStringLiteral("cbCopyEDIDInput"), 5}, {QStringLiteral("cbReadEDIDDataOutput"), 6},
        {QStringLiteral("cbDownloadEDIDInput"), 9}};
    choose(choices);
    QVERIFY(m_form->close());
    m_w->destroyWindow();
    m_form = nullptr;

    const AppSettings stored = SettingsFile::load(m_w->path(QStringLiteral("Settings.ini")));
    QCOMPARE(stored.edid.edidMode, QStringLiteral("User2"));
    QCOMPARE(stored.edid.downloadInput, QStringLiteral("User2 Memory"));

    QVERIFY2(m_w->restart(), qPrintable(m_w->why()));
    openPage();
    for (const auto &[name, index] : choices)
        QCOMPARE(widget<QComboBox>(name)->currentIndex(), index);
    // The restored list is the one the operator sees: "Auto EDID" is not back.
    QCOMPARE(widget<QComboBox>(QStringLiteral("cbEDIDMode"))->count(), 19);

    // Entries with tags are found by their text; a text that matches nothing selects entry 0.
    m_w->destroyWindow();
    m_form = nullptr;
    AppSettings tagged = stored;
    tagged.controlMode = cmCOM;
    tagged.comTags.inputs[1] = QStringLiteral("PC");
    tagged.edid.setModeInput = QStringLiteral("In2 - [PC]");
    tagged.edid.readOutput = QStringLiteral("Out2 - [Gone]");
    QString error;
    QVERIFY2(SettingsFile::save(m_w->path(QStringLiteral("Settings.ini")), tagged, &error),
        qPrintable(error));
    QVERIFY2(m_w->restart(), qPrintable(m_w->why()));
    openPage();
    QCOMPARE(widget<QComboBox>(QStringLiteral("cbSetEDIDModeInput"))->currentIndex(), 2);
    QCOMPARE(widget<QComboBox>(QStringLiteral("cbSetEDIDModeInput"))->currentText(),
        QStringLiteral("In2 - [PC]"));
    QCOMPARE(widget<QComboBox>(QStringLiteral("cbReadEDIDDataOutput"))->currentIndex(), 0);
}

QTEST_MAIN(TestEdidPage)
#include "tst_edidpage.moc"
