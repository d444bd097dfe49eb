// The EDID page built alone on a plain widget, with a stand-in for the window: what its buttons
// hand the command runner, in which order, and what stops them, without a window, a link or a
// switcher behind it.
#include "CommandPacket.h"
#include "DialogDriver.h"
#include "EdidChangeRows.h"
#include "EdidChoices.h"
#include "EdidCommands.h"
#include "EdidFixture.h"
#include "EdidPage.h"
#include "EdidTexts.h"
#include "FakePageServices.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <memory>

namespace {

using testsupport::BoxAnswer;
using testsupport::FakePageServices;

using EdidChangeRows::Choices;

const QString Prepare = EdidChangeRows::prepare();

} // namespace

class TestEdidPageAlone final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void commandWords_data();
    void commandWords();
    void refusedPrepareSendsNoChange();
    void copyFromOutputWithoutDisplay();
    void unchosenListsSendNothing();
    void storedChoicesSelectEntries();

private:
    template<typename T>
    T *widget(const char *name) const
    {
        return m_tab->findChild<T *>(QString::fromLatin1(name));
    }
    void choose(const Choices &choices);
    void click(const char *button);

    std::unique_ptr<FakePageServices> m_services;
    std::unique_ptr<QWidget> m_tab;
    EdidPage *m_page = nullptr; // m_tab's child
};

void TestEdidPageAlone::init()
{
    m_services = std::make_unique<FakePageServices>();
    m_tab = std::make_unique<QWidget>();
    m_page = new EdidPage(m_tab.get(), *m_services);
    m_page->FormShow();
    m_tab->show();
}

void TestEdidPageAlone::cleanup()
{
    m_tab.reset();
    m_services.reset();
}

void TestEdidPageAlone::choose(const Choices &choices)
{
    for (const auto &[name, index] : choices) {
        auto *list = m_tab->findChild<QComboBox *>(name);
        QVERIFY2(list && index < list->count(), qPrintable(name));
        list->setCurrentIndex(index);
    }
}

void TestEdidPageAlone::click(const char *button)
{
    auto *b = widget<QPushButton>(button);
    QVERIFY2(b && b->isVisible(), button);
    QTest::mouseClick(b, Qt::LeftButton);
}

void TestEdidPageAlone::commandWords_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<Choices>("choices");
    QTest::addColumn<QStringList>("expected");
    for (const EdidChangeRows::Row &row : EdidChangeRows::rows())
        QTest::newRow(row.name) << row.button << row.choices << row.expected;
}

// Each change goes through the runner as the window's suite sees it on the wire, and the note
// panel is cleared first.
void TestEdidPageAlone::commandWords()
{
    QFETCH(QString, button);
    QFETCH(Choices, choices);
    QFETCH(QStringList, expected);
    m_services->ShowStatus(3, QStringLiteral("an old note"));
    choose(choices);
    click(qPrintable(button));
    QCOMPARE(m_services->commands(), expected);
    QCOMPARE(m_services->panel(3), QString());
    QCOMPARE(m_services->connectClicks(), 0);
}

// The switcher that does not take the prepare command gets no change after it.
void TestEdidPageAlone::refusedPrepareSendsNoChange()
{
    m_services->setAnswer([](quint8 command, quint8 subcommand) {
        const bool prepare = command == 0x03 && subcommand == 0x08;
        return CommandResult{{}, !prepare};
    });
    choose({{QStringLiteral("cbEDIDMode"), 5}, {QStringLiteral("cbSetEDIDModeInput"), 7}});
    click("btnSetEDIDMode");
    QCOMPARE(m_services->commands(), QStringList{Prepare});
}

// An output without a display: the operator is told which, and nothing is prepared or copied.
void TestEdidPageAlone::copyFromOutputWithoutDisplay()
{
    m_services->setAnswer([](quint8 command, quint8) {
        CommandResult r{{}, true};
        if (command == 0x01)
            r.reply.bytes[6] = 0xF0; // the answer byte: no display
        return r;
    });
    choose({{QStringLiteral("cbCopyEDIDOutput"), 2}, {QStringLiteral("cbCopyEDIDInput"), 7}});
    BoxAnswer answer(QMessageBox::Ok);
    click("btnCopyEDID");
    QTRY_VERIFY(answer.seen());
    QCOMPARE(answer.text(), EdidTexts::outputNotConnected(2));
    QCOMPARE(answer.icon(), QMessageBox::Information);
    QCOMPARE(m_services->commands(), QStringList{QStringLiteral("01/05 0002 0000")});
}

// A list left at its "Select" entry stops the button with a note, and nothing is sent.
void TestEdidPageAlone::unchosenListsSendNothing()
{
    QVERIFY(m_page->model().ShowEDIDContent(EdidFixture::make()));
    for (const char *button :
        {"btnSetEDIDMode", "btnCopyEDID", "btnReadEDIDData", "btnDownloadEDID"}) {
        m_services->ShowStatus(3, QString());
        click(button);
        QCOMPARE(m_services->panel(3), EdidTexts::selectListItemFirst());
    }
    QCOMPARE(m_services->commands(), QStringList());
    QVERIFY(!m_page->model().isEmpty());
}

// Stored choices select their entries by text; a text no entry has selects the first.
void TestEdidPageAlone::storedChoicesSelectEntries()
{
    auto *modes = widget<QComboBox>("cbEDIDMode");
    auto *copyOutput = widget<QComboBox>("cbCopyEDIDOutput");
    QVERIFY(modes && modes->count() > 5 && copyOutput && copyOutput->count() > 3);
    EdidChoices stored = m_page->choices();
    stored.edidMode = modes->itemText(5);
    stored.copyOutput = QStringLiteral("no such output");
    const QStringList tags{QStringLiteral("DVD"), {}, {}, {}, {}, {}};
    m_page->LoadSettings(stored, tags, tags);
    QCOMPARE(modes->currentIndex(), 5);
    QCOMPARE(copyOutput->currentIndex(), 0);
    QCOMPARE(m_page->choices().edidMode, modes->itemText(5));
    // The tags name the ports in the lists.
    QVERIFY(copyOutput->itemText(1).contains(QLatin1String("DVD")));
}

QTEST_MAIN(TestEdidPageAlone)
#include "tst_edidpagealone.moc"
