// What the operator sees of the window in demo mode, after Connect, Device status and an EDID
// read: every text fits its control by font metrics, the hex view puts ink in its cells, the
// captions read as given, and tags and names show as plain text. The suite also runs with the
// Times New Roman twin hidden from fontconfig (tst_legibility_fallback).
#include "DemoSwitcher.h"
#include "EdidPage.h"
#include "FitCheck.h"
#include "PresetPanel.h"
#include "ProgramIdentity.h"
#include "RoutingPanel.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TKVCOMControl.h"
#include "TfrmShowInOutInfo.h"
#include "WindowFixture.h"
#include "WindowTour.h"

#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <map>
#include <memory>

namespace {

// Texts the Parts produce that the specified geometry cannot hold, by control.
struct Exception
{
    const char *control;
    const char *reason;
};
const Exception Exceptions[] = {
    // A device entry carries six bracketed fields (tag, mode, three addresses, MAC); the
    // lists that show it are narrower than any entry. The whole entry is in the list's popup.
    {"cbLANDevice", "device entries are wider than the device list"},
    {"cbMXDevice", "device entries are wider than the search dialog's list"},
};

bool excepted(const QString &misfit)
{
    for (const Exception &e : Exceptions) {
        if (misfit.startsWith(QLatin1String(e.control) + QLatin1Char(' ')))
            return true;
    }
    return false;
}

// The caption a desktop shows for a window title: Qt's platform windows append the
// application display name, when one was set, to a title that does not already end with it.
QString desktopCaption(const QString &title)
{
    // applicationDisplayName() follows applicationName() exactly when none was set.
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(name + QStringLiteral("-probe"));
    const QString display = QGuiApplication::applicationDisplayName();
    const bool displayNameSet = display != QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(name);
    if (!displayNameSet || title.endsWith(display))
        return title;
    return title.isEmpty() ? display : title + QStringLiteral(" \u2014 ") + display;
}

// True when a label draws its text as it stands rather than as markup.
bool showsPlainText(const QLabel *label)
{
    return label->textFormat() == Qt::PlainText
        || (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(label->text()));
}

// Cells of the hex view that hold ink (pixels well apart from the cell's own background).
QList<QModelIndex> inkedCells(QTableView *view, bool data)
{
    const QImage image = view->viewport()->grab().toImage();
    QList<QModelIndex> inked;
    for (int row = 0; row < 17; ++row) {
        for (int column = 0; column < 17; ++column) {
            const bool header = row == 0 || column == 0;
            if (header == data)
                continue;
            const QModelIndex index = view->model()->index(row, column);
            const QRect cell = view->visualRect(index).adjusted(1, 1, -1, -1);
            const QRgb background = image.pixel(cell.topLeft());
            int ink = 0;
            for (int y = cell.top(); y <= cell.bottom(); ++y) {
                for (int x = cell.left(); x <= cell.right(); ++x) {
                    if (std::abs(qGray(image.pixel(x, y)) - qGray(background)) > 80)
                        ++ink;
                }
            }
            // A digit's strokes, not a stray pixel of the grid.
            if (ink >= 6)
                inked.append(index);
        }
    }
    return inked;
}

QByteArray validEdid()
{
    QByteArray edid(256, '\0');
    const char header[]
        = {0, char(0xFF), char(0xFF), char(0xFF), char(0xFF), char(0xFF), char(0xFF), 0};
    edid.replace(0, 8, QByteArray(header, 8));
    for (int i = 8; i < 255; ++i)
        edid[i] = char(i * 7);
    int sum = 0;
    for (int i = 0; i < 255; ++i)
        sum += quint8(edid[i]);
    edid[255] = char((0x100 - sum % 0x100) % 0x100);
    return edid;
}

} // namespace

class TestLegibility : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void textsFit_data();
    void textsFit();
    void captions_data();
    void captions();
    void hexViewInk_data();
    void hexViewInk();
    void presetList();
    void statusPanelTip_data();
    void statusPanelTip();
    void plainText_data();
    void plainText();

private:
    template<typename T = QWidget>
    T *widget(const char *name) const
    {
        return m_w->widget<T>(QLatin1String(name));
    }
    void showPage(const char *page)
    {
        widget<QTabWidget>("pcContainer")->setCurrentWidget(widget(page));
        QTRY_VERIFY(m_form->state().RunnerIdle);
    }
    // Moves the pointer over input button 1 of output 1, as the note line and pop-up need.
    void hoverInputButton();

    struct Stop
    {
        QString title;
        QStringList misfits;
    };
    std::map<QString, Stop> m_stops;
    QStringList m_tourErrors;
    std::unique_ptr<testsupport::WindowFixture> m_w;
    TForm1 *m_form = nullptr; // m_w's
};

void TestLegibility::initTestCase()
{
    // As the program sets itself up.
    setProgramIdentity();
    testsupport::WindowFixture::Options options;
    options.demo = true;
    m_w = std::make_unique<testsupport::WindowFixture>(options);
    QVERIFY2(m_w->start(), qPrintable(m_w->why()));
    m_form = &m_w->form();
    QVERIFY2(m_form->demo()->isListening(), qPrintable(m_form->demo()->error()));

    WindowTour tour(*m_form, [this](const QString &name, QWidget *window) {
        m_stops[name] = {window->windowTitle(), FitCheck::misfits(window)};
    });
    tour.prepare();
    tour.run();
    // The configuration at the tour's end takes the switcher as a new one, of which nothing is
    // known: connect and read it again for the checks below.
    tour.prepare();
    m_tourErrors = tour.errors();
    QVERIFY2(m_tourErrors.isEmpty(), qPrintable(m_tourErrors.join(QLatin1Char('\n'))));
}

void TestLegibility::cleanupTestCase()
{
    m_w.reset();
}

void TestLegibility::textsFit_data()
{
    QTest::addColumn<QString>("stop");
    for (const auto &[name, stop] : m_stops)
        QTest::newRow(qPrintable(name)) << name;
}

void TestLegibility::textsFit()
{
    QFETCH(QString, stop);
    QStringList misfits;
    for (const QString &misfit : m_stops.at(stop).misfits) {
        if (!excepted(misfit))
            misfits.append(misfit);
    }
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QLatin1Char('\n'))));
}

void TestLegibility::captions_data()
{
    QTest::addColumn<QString>("stop");
    QTest::addColumn<QString>("caption");
    const QString main = QStringLiteral("Matrix Controller - ver6.50");
    QTest::newRow("main window") << QStringLiteral("01-General") << main;
    QTest::newRow("main window, last page") << QStringLiteral("06-FW upgrade") << main;
    QTest::newRow("preset editor")
        << QStringLiteral("21-Pre-Settings editor") << QStringLiteral("Edit Output setting");
    QTest::newRow("input tags") << QStringLiteral("22-Input tags editor")
                                << QStringLiteral("Edit Input port tags");
    QTest::newRow("output tags") << QStringLiteral("23-Output tags editor")
                                 << QStringLiteral("Edit Output port tags");
    QTest::newRow("reset confirmation")
        << QStringLiteral("24-Reset confirmation") << QStringLiteral("Confirm to Reset");
    QTest::newRow("search") << QStringLiteral("25-Search running")
                            << QStringLiteral("Auto searching");
    QTest::newRow("configuration")
        << QStringLiteral("27-TCP configuration") << QStringLiteral("TCP configuration");
}

void TestLegibility::captions()
{
    QFETCH(QString, stop);
    QFETCH(QString, caption);
    QVERIFY2(m_stops.count(stop) == 1, qPrintable(stop));
    const QString title = m_stops.at(stop).title;
    QCOMPARE(title, caption);
    // Nothing is added on the way to the desktop.
    QCOMPARE(desktopCaption(title), caption);
}

void TestLegibility::hexViewInk_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("filled");
    QTest::newRow("read Out1") << QStringLiteral("read") << true;
    QTest::newRow("cleared") << QStringLiteral("clear") << false;
    QTest::newRow("opened file") << QStringLiteral("open") << true;
}

void TestLegibility::hexViewInk()
{
    QFETCH(QString, action);
    QFETCH(bool, filled);
    showPage("tsEDIDCtrl");
    auto *view = widget<QTableView>("sgEDIDContent");
    auto *page = m_form->findChild<EdidPage *>(QStringLiteral("EdidPage"));
    QVERIFY(page);
    if (action == QLatin1String("read")) {
        page->model().ClearEDIDContent();
        auto *outputs = widget<QComboBox>("cbReadEDIDDataOutput");
        outputs->setCurrentIndex(outputs->findText(QStringLiteral("Out1")));
        QTest::mouseClick(widget("btnReadEDIDData"), Qt::LeftButton);
    } else if (action == QLatin1String("clear")) {
        QTest::mouseClick(widget("btnClearEDIDContent"), Qt::LeftButton);
    } else {
        page->model().ClearEDIDContent();
        const QString path = m_w->path(QStringLiteral("view.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(validEdid());
        file.close();
        page->setFileChooser([path](EdidPage::FileDialog, const QString &) { return path; });
        QTest::mouseClick(widget("BitBtn1"), Qt::LeftButton);
    }
    QCOMPARE(page->model().isEmpty(), !filled);
    // 19-pixel cells, the last row and column inside the view, which has no scroll bars.
    QCOMPARE(view->visualRect(view->model()->index(1, 1)).size(), QSize(19, 19));
    QVERIFY(view->viewport()->rect().contains(view->visualRect(view->model()->index(16, 16))));

    // Every header always; every byte cell exactly when the view holds content.
    QCOMPARE(inkedCells(view, false).size(), 16 + 16);
    const QList<QModelIndex> data = inkedCells(view, true);
    if (filled) {
        QCOMPARE(data.size(), 256);
    } else {
        QVERIFY2(data.isEmpty(),
            qPrintable(QStringLiteral("ink in cell column %1 row %2")
                           .arg(data.value(0).column())
                           .arg(data.value(0).row())));
    }
}

// A report view with grid lines, whose eight rows all show without a scroll bar.
void TestLegibility::presetList()
{
    showPage("tsSetting");
    auto *list = widget<QTreeWidget>("lvPreSetting");
    QCOMPARE(list->topLevelItemCount(), 8);
    QVERIFY(!list->verticalScrollBar()->isVisible());
    const QRect viewport = list->viewport()->rect();
    for (int row = 0; row < 8; ++row) {
        const QRect rect = list->visualItemRect(list->topLevelItem(row));
        QVERIFY2(viewport.contains(rect),
            qPrintable(QStringLiteral("row %1 at %2,%3 %4x%5 in %6x%7")
                           .arg(row + 1)
                           .arg(rect.x())
                           .arg(rect.y())
                           .arg(rect.width())
                           .arg(rect.height())
                           .arg(viewport.width())
                           .arg(viewport.height())));
    }

    // The lines: the bottom of every row and the right edge of every column, drawn through.
    const QImage image = list->viewport()->grab().toImage();
    QStyleOptionViewItem option;
    option.initFrom(list);
    const QColor grid = QColor::fromRgba(
        QRgb(list->style()->styleHint(QStyle::SH_Table_GridLineColor, &option, list)));
    const auto isGrid = [&](int x, int y) {
        const QColor c = image.pixelColor(x, y);
        return std::abs(c.red() - grid.red()) + std::abs(c.green() - grid.green())
            + std::abs(c.blue() - grid.blue())
            < 24;
    };
    QHeaderView *header = list->header();
    const int right = header->sectionViewportPosition(7 - 1) + header->sectionSize(7 - 1) - 1;
    const int bottom = list->visualItemRect(list->topLevelItem(7)).bottom();
    for (int row = 0; row < 8; ++row) {
        const int y = list->visualItemRect(list->topLevelItem(row)).bottom();
        int drawn = 0;
        for (int x = 0; x <= right; ++x)
            drawn += isGrid(x, y);
        QVERIFY2(drawn == right + 1,
            qPrintable(QStringLiteral("row %1: %2 of %3").arg(row + 1).arg(drawn).arg(right + 1)));
    }
    for (int column = 0; column < 7; ++column) {
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) - 1;
        int drawn = 0;
        for (int y = 0; y <= bottom; ++y)
            drawn += isGrid(x, y);
        QVERIFY2(drawn == bottom + 1,
            qPrintable(
                QStringLiteral("column %1: %2 of %3").arg(column).arg(drawn).arg(bottom + 1)));
    }
}

void TestLegibility::statusPanelTip_data()
{
    QTest::addColumn<int>("panel");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tip"); // empty: none
    QTest::newRow("panel 1 fits") << 1 << QStringLiteral("127.0.0.1: Connected") << QString();
    QTest::newRow("panel 2 fits") << 2 << QStringLiteral("Done") << QString();
    const QString cancelled = QStringLiteral("Search TCP control device cancelled, and then some");
    QTest::newRow("panel 2 longer") << 2 << cancelled << cancelled;
    // A spinning wait keeps its turning character in sight; the tip holds the rest.
    const QString setting = QStringLiteral("Setting TCP control configuration ...");
    QTest::newRow("panel 2 spinning") << 2 << setting + QStringLiteral(" /") << setting;
    QTest::newRow("panel 2 spinning, short") << 2 << QStringLiteral("Wait ... |") << QString();
    const QString ignored
        = QStringLiteral("In processing, command ignored; a second operation waits its turn");
    QTest::newRow("panel 3 longer") << 3 << ignored << ignored;
    const QString markup
        = QStringLiteral("Tag <b>left</b> of a very long note in status panel three");
    QTest::newRow("panel 3 markup") << 3 << markup << markup;
    QTest::newRow("panel 4 clock") << 4 << QStringLiteral("2026-12-10 12:59") << QString();
}

void TestLegibility::statusPanelTip()
{
    QFETCH(int, panel);
    QFETCH(QString, text);
    QFETCH(QString, tip);
    m_form->status().ShowStatus(panel, text);
    const auto clear = qScopeGuard([&] { m_form->status().ShowStatus(panel, QString()); });
    QWidget *shown = widget(qPrintable(QStringLiteral("sbPanel%1").arg(panel)));
    // Shown as plain text: markup in the text is not taken as markup.
    QCOMPARE(QTextDocumentFragment::fromHtml(shown->toolTip()).toPlainText(), tip);
    // Either way the panel shows the text whole or its tip does, and a spinner always shows.
    QVERIFY2(FitCheck::misfits(m_form).filter(QStringLiteral("sbPanel")).isEmpty(),
        qPrintable(FitCheck::misfits(m_form).join(QLatin1Char('\n'))));
}

void TestLegibility::hoverInputButton()
{
    showPage("tsSetting");
    QWidget *button = widget("sbSetInput");
    const QPoint at = button->rect().center();
    QMouseEvent move(
        QEvent::MouseMove, at, button->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button, &move);
}

void TestLegibility::plainText_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("tag");
    const QStringList places = {QStringLiteral("note line"), QStringLiteral("pop-up"),
        QStringLiteral("preset editor label"), QStringLiteral("preset list"),
        QStringLiteral("EDID port list")};
    const QStringList tags = {QStringLiteral("Proj <b>left</b>"), QStringLiteral("A<br>B")};
    for (const QString &place : places) {
        for (const QString &tag : tags)
            QTest::newRow(qPrintable(place + QLatin1String(": ") + tag)) << place << tag;
    }
}

void TestLegibility::plainText()
{
    QFETCH(QString, place);
    QFETCH(QString, tag);
    auto *input1 = widget<QLineEdit>("leInput1Tag");
    auto *output1 = widget<QLineEdit>("leOutput1Tag");
    input1->setText(tag);
    output1->setText(tag);
    const auto restore = qScopeGuard([&] {
        input1->clear();
        output1->clear();
        widget<QCheckBox>("cbDisplayTag")->setChecked(false);
    });

    if (place == QLatin1String("note line") || place == QLatin1String("pop-up")) {
        widget<QCheckBox>("cbDisplayTag")->setChecked(true);
        hoverInputButton();
        QLabel *label = place == QLatin1String("note line")
            ? widget<QLabel>("lblNote")
            : m_form->routingPanel().frmShowInOutInfo()->lblInfo();
        QTRY_VERIFY(label->isVisible());
        QVERIFY2(label->text().contains(tag), qPrintable(label->text()));
        QVERIFY(showsPlainText(label));
        m_form->routingPanel().frmShowInOutInfo()->close();
    } else if (place == QLatin1String("preset editor label")) {
        showPage("tsSetting");
        auto *presets = widget<QTreeWidget>("lvPreSetting");
        presets->setCurrentItem(presets->topLevelItem(0));
        QString text;
        bool plain = false;
        QTimer::singleShot(0, this, [&] {
            auto *editor = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!editor)
                return;
            if (const auto *label = editor->findChild<QLabel *>(QStringLiteral("lblOutput1"))) {
                text = label->text();
                plain = showsPlainText(label);
            }
            editor->reject();
        });
        QTest::mouseClick(widget("btnPreEdit"), Qt::LeftButton);
        QVERIFY2(text.contains(tag), qPrintable(text));
        QVERIFY(plain);
    } else if (place == QLatin1String("preset list")) {
        const QList<PresetRow> before = m_form->presetPanel().presets();
        QList<PresetRow> rows = before;
        rows[0].name = tag;
        m_form->presetPanel().setPresets(rows);
        const auto *list = widget<QTreeWidget>("lvPreSetting");
        QCOMPARE(list->topLevelItem(0)->text(0), tag);
        m_form->presetPanel().setPresets(before);
    } else {
        auto *page = m_form->findChild<EdidPage *>(QStringLiteral("EdidPage"));
        page->setPortTags({tag}, {tag});
        const auto *inputs = widget<QComboBox>("cbSetEDIDModeInput");
        QVERIFY2(inputs->itemText(1).contains(tag), qPrintable(inputs->itemText(1)));
        page->setPortTags({}, {});
    }
}

QTEST_MAIN(TestLegibility)
#include "tst_legibility.moc"
