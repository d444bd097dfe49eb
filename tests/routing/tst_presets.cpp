// Presets on the real window against the simulated switcher: the stored value as the list
// reads it, the editor, and applying a preset output by output.
#include "PresetCodec.h"
#include "PresetPanel.h"
#include "PresetTagFixture.h"
#include "RoutingPanel.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace {

using Routes = std::array<int, 6>;

QByteArray presetIni(const QString &value, const QByteArray &more = {})
{
    return "[Pre-Setting value]\nvalue1=" + value.toUtf8() + "\n" + more;
}

QStringList rowTexts(QTreeWidget *list, int row)
{
    QStringList texts;
    for (int c = 1; c <= 6; ++c)
        texts.append(list->topLevelItem(row)->text(c));
    return texts;
}

// Chooses entry `index` as the operator does: opens the list and confirms the entry, the one
// already shown too.
void pick(QComboBox *box, int index)
{
    box->showPopup();
    QAbstractItemView *view = box->view();
    view->setCurrentIndex(box->model()->index(index, 0));
    QTest::keyClick(view, Qt::Key_Return);
}

// What display `output` shows.
QString display(WindowFixture &w, int output)
{
    return w.widget(QStringLiteral("LED%1").arg(output))->property("Value").toString();
}

QStringList numbers(std::initializer_list<int> values)
{
    QStringList texts;
    for (int v : values)
        texts.append(QString::number(v));
    return texts;
}

} // namespace

class TestPresets : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void storedValue_data();
    void storedValue();
    void apply_data();
    void apply();
    void applyStopsAtFailure();
    void applyWithSwitcherOff();
    void noSelection_data();
    void noSelection();
    void editor_data();
    void editor();
    void editorShowsTags();
    void editKeepsExtraValues();
};

void TestPresets::storedValue_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("two values filled up") << "3,1" << numbers({3, 1, 1, 2, 3, 4});
    QTest::newRow("empty") << "" << numbers({1, 2, 3, 4, 5, 6});
    QTest::newRow("seven values, six shown") << "6,5,4,3,2,1,7" << numbers({6, 5, 4, 3, 2, 1});
    QTest::newRow("texts as they stand")
        << "x,0,9" << QStringList{u"x"_s, u"0"_s, u"9"_s, u"1"_s, u"2"_s, u"3"_s};
}

void TestPresets::storedValue()
{
    QFETCH(QString, stored);
    QFETCH(QStringList, shown);
    WindowFixture w(presetTagWindow(presetIni(stored)));
    QVERIFY2(w.start(), qPrintable(w.why()));
    auto *list = w.widget<QTreeWidget>(QStringLiteral("lvPreSetting"));
    QCOMPARE(list->topLevelItemCount(), 8);
    QCOMPARE(rowTexts(list, 0), shown);
    QCOMPARE(list->topLevelItem(7)->text(0), QStringLiteral("Setting8"));
    QCOMPARE(list->columnWidth(0), 125);
    QCOMPARE(list->columnWidth(6), 90);
}

void TestPresets::apply_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<Routes>("routes"); // the switcher's routes after Set, from 6,6,6,6,6,6
    QTest::addColumn<int>("commands");
    QTest::addColumn<QString>("note"); // status panel 3

    QTest::newRow("filled up") << "3,1" << Routes{3, 1, 1, 2, 3, 4} << 6 << "";
    QTest::newRow("seventh value not applied")
        << "1,2,3,4,5,5,1" << Routes{1, 2, 3, 4, 5, 5} << 6 << "";
    QTest::newRow("0 stops at output 3")
        << "2,2,0,4,4,4" << Routes{2, 2, 6, 6, 6, 6} << 2 << "Output3: no input selected";
    QTest::newRow("7 stops at output 2")
        << "1,7,1" << Routes{1, 6, 6, 6, 6, 6} << 1 << "Output2: no input selected";
    QTest::newRow("not a number at output 1")
        << "x,1" << Routes{6, 6, 6, 6, 6, 6} << 0 << "Output1: no input selected";
}

void TestPresets::apply()
{
    QFETCH(QString, stored);
    QFETCH(Routes, routes);
    QFETCH(int, commands);
    QFETCH(QString, note);
    WindowFixture w(presetTagWindow(presetIni(stored)));
    QVERIFY2(w.start(), qPrintable(w.why()));
    w.sim().simulator().state().routes = {6, 6, 6, 6, 6, 6};
    auto *list = w.widget<QTreeWidget>(QStringLiteral("lvPreSetting"));
    list->setCurrentItem(list->topLevelItem(0));
    // Output and display of each route command as it reached the switcher.
    QStringList sent;
    connect(&w.sim(), &SimulatorServer::requestHandled, this, [&](const QByteArray &request) {
        const int output = quint8(request.at(6));
        sent.append(QStringLiteral("%1:%2").arg(output).arg(display(w, output)));
    });

    QTest::mouseClick(w.widget<QPushButton>(QStringLiteral("btnSet")), Qt::LeftButton);

    QCOMPARE(w.sim().simulator().state().routes, routes);
    QCOMPARE(w.form().status().text(3), note);
    QCOMPARE(w.form().state().RouteFailed, !note.isEmpty());
    // One route command per output, in order, each shown on its display before it was sent.
    QStringList expected;
    for (int k = 1; k <= commands; ++k)
        expected.append(QStringLiteral("%1:%2").arg(k).arg(routes[size_t(k - 1)]));
    QCOMPARE(sent, expected);
    for (const QByteArray &request : w.sim().received())
        QCOMPARE(request.mid(2, 2), QByteArray::fromHex("0203"));
    // The routing panel's displays follow the switcher.
    for (int k = 1; k <= 6; ++k)
        QCOMPARE(w.widget(QStringLiteral("LED%1").arg(k))->property("Value").toString(),
            QString::number(routes[size_t(k - 1)]));
}

void TestPresets::applyStopsAtFailure()
{
    WindowFixture w(presetTagWindow(presetIni(QStringLiteral("1,1,1,1,1,1"))));
    QVERIFY2(w.start(), qPrintable(w.why()));
    w.sim().simulator().state().routes = {6, 6, 6, 6, 6, 6};
    auto *list = w.widget<QTreeWidget>(QStringLiteral("lvPreSetting"));
    list->setCurrentItem(list->topLevelItem(0));
    // Outputs 1 and 2 switch; the switcher refuses output 3, which showed input 1 meanwhile.
    QStringList shownForOutput3;
    connect(&w.sim(), &SimulatorServer::requestHandled, this, [&](const QByteArray &request) {
        if (quint8(request.at(6)) != 3)
            return;
        w.sim().faults().refuseStatus = 1;
        shownForOutput3.append(display(w, 3));
    });

    QTest::mouseClick(w.widget<QPushButton>(QStringLiteral("btnSet")), Qt::LeftButton);

    QCOMPARE(shownForOutput3, QStringList(5, u"1"_s));
    // As after a refused click: the display and the buttons go back to what they were.
    QCOMPARE(display(w, 1), u"1"_s);
    QCOMPARE(display(w, 2), u"1"_s);
    QCOMPARE(display(w, 3), u"6"_s);
    QVERIFY(w.form().routingPanel().FindInputButton(3, 6)->isChecked());
    QVERIFY(w.form().state().RouteFailed);
    QVERIFY(w.form().status().alert());
    const Routes routes = w.sim().simulator().state().routes;
    QCOMPARE(routes[0], 1);
    QCOMPARE(routes[1], 1);
    QCOMPARE(routes[3], 6);
    for (const QByteArray &request : w.sim().received())
        QVERIFY(quint8(request.at(6)) <= 3);
}

void TestPresets::applyWithSwitcherOff()
{
    WindowFixture w(presetTagWindow());
    QVERIFY2(w.start(), qPrintable(w.why()));
    w.form().state().PowerOn = false;
    auto *list = w.widget<QTreeWidget>(QStringLiteral("lvPreSetting"));
    list->setCurrentItem(list->topLevelItem(0));
    testsupport::BoxWatch boxes(QMessageBox::NoButton, 0);
    QTest::mouseClick(w.widget<QPushButton>(QStringLiteral("btnSet")), Qt::LeftButton);
    QCOMPARE(boxes.texts().size(), 1);
    QVERIFY(w.sim().received().isEmpty());
    QVERIFY(w.form().state().RouteFailed);
}

void TestPresets::noSelection_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("edit") << "btnPreEdit";
    QTest::newRow("set") << "btnSet";
}

void TestPresets::noSelection()
{
    QFETCH(QString, button);
    WindowFixture w(presetTagWindow());
    QVERIFY2(w.start(), qPrintable(w.why()));
    w.widget<QTreeWidget>(QStringLiteral("lvPreSetting"))->clearSelection();
    BoxAnswer box;
    QTest::mouseClick(w.widget<QPushButton>(button), Qt::LeftButton);
    QVERIFY(box.seen());
    QCOMPARE(box.text(), QStringLiteral("Please select item."));
    QVERIFY(w.sim().received().isEmpty());
}

void TestPresets::editor_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QList<int>>("preselected"); // entry index per output, -1 none
    // Choices made, in order: "all=3" picks entry 3 of "All Outputs from", "2=4" entry 4 of
    // output 2's list.
    QTest::addColumn<QStringList>("choices");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("name"); // after the dialog
    QTest::addColumn<QString>("value"); // as Settings.ini then holds it

    const QList<int> reversed{5, 4, 3, 2, 1, 0};
    QTest::newRow("port to port, then select input")
        << "6,5,4,3,2,1" << reversed << QStringList{u"all=7"_s, u"all=0"_s} << true << "Renamed"
        << "1,2,3,4,5,6";
    QTest::newRow("one input for all")
        << "6,5,4,3,2,1" << reversed << QStringList{u"all=3"_s} << true << "Renamed"
        << "3,3,3,3,3,3";
    // The entry already shown, picked again after a change by hand, applies again.
    QTest::newRow("the same input for all again")
        << "6,5,4,3,2,1" << reversed << QStringList{u"all=3"_s, u"2=4"_s, u"all=3"_s} << true
        << "Renamed"
        << "3,3,3,3,3,3";
    QTest::newRow("port to port again")
        << "6,5,4,3,2,1" << reversed << QStringList{u"all=7"_s, u"5=0"_s, u"all=7"_s} << true
        << "Renamed"
        << "1,2,3,4,5,6";
    QTest::newRow("not a number preselects input k, 0 and 9 none")
        << "x,2,0,9,5,6" << QList<int>{0, 1, -1, -1, 4, 5} << QStringList{} << true << "Renamed"
        << "1,2,0,0,5,6";
    QTest::newRow("cancel changes nothing")
        << "6,5,4,3,2,1" << reversed << QStringList{u"all=7"_s} << false << "Setting1"
        << "6,5,4,3,2,1";
}

void TestPresets::editor()
{
    QFETCH(QString, stored);
    QFETCH(QList<int>, preselected);
    QFETCH(QStringList, choices);
    QFETCH(bool, ok);
    QFETCH(QString, name);
    QFETCH(QString, value);
    WindowFixture w(presetTagWindow(presetIni(stored)));
    QVERIFY2(w.start(), qPrintable(w.why()));
    auto *list = w.widget<QTreeWidget>(QStringLiteral("lvPreSetting"));
    list->setCurrentItem(list->topLevelItem(0));

    QList<int> seen;
    QString caption;
    ModalAnswer<QDialog> answer([&](QDialog *dialog) {
        caption = dialog->windowTitle();
        for (int k = 1; k <= 6; ++k)
            seen.append(
                dialog->findChild<QComboBox *>(QStringLiteral("cbFromDeviceOfOutput%1").arg(k))
                    ->currentIndex());
        for (const QString &choice : choices) {
            const QStringList parts = choice.split(u'=');
            const QString box = parts[0] == u"all"_s ? u"cbFromDeviceOfAllOutput"_s
                                                     : u"cbFromDeviceOfOutput"_s + parts[0];
            pick(dialog->findChild<QComboBox *>(box), parts[1].toInt());
        }
        dialog->findChild<QLineEdit *>(QStringLiteral("leSettingName"))
            ->setText(QStringLiteral("Renamed"));
        dialog->findChild<QPushButton *>(ok ? QStringLiteral("btnOK") : QStringLiteral("btnCancel"))
            ->click();
    });
    QTest::mouseClick(w.widget<QPushButton>(QStringLiteral("btnPreEdit")), Qt::LeftButton);
    QVERIFY(answer.seen());
    QCOMPARE(caption, QStringLiteral("Edit Output setting"));
    QCOMPARE(seen, preselected);
    QCOMPARE(list->topLevelItem(0)->text(0), name);
    QCOMPARE(rowTexts(list, 0).join(QLatin1Char(',')), value);
    QVERIFY(w.sim().received().isEmpty());

    w.close();
    const QByteArray ini = w.settingsText();
    QVERIFY2(ini.contains("value1=" + value.toUtf8() + "\n"), ini.constData());
    QVERIFY(ini.contains("Setting1=" + name.toUtf8() + "\n"));
}

void TestPresets::editorShowsTags()
{
    WindowFixture w(
        presetTagWindow("[Connection]\nControl mode=1\n[Tag of Input - COM]\nIn2=Blu-ray\n"
                        "[Tag of Output - COM]\nOut3=Projector\n"));
    QVERIFY2(w.start(), qPrintable(w.why()));
    auto *list = w.widget<QTreeWidget>(QStringLiteral("lvPreSetting"));
    // A double click opens the editor as Edit does.
    QStringList entries;
    QStringList labels;
    ModalAnswer<QDialog> answer([&](QDialog *dialog) {
        auto *all = dialog->findChild<QComboBox *>(QStringLiteral("cbFromDeviceOfAllOutput"));
        for (int i = 0; i < all->count(); ++i)
            entries.append(all->itemText(i));
        for (int k = 1; k <= 6; ++k)
            labels.append(
                dialog->findChild<QLabel *>(QStringLiteral("lblOutput%1").arg(k))->text());
        dialog->reject();
    });
    QTreeWidgetItem *row = list->topLevelItem(1);
    list->setCurrentItem(row);
    Q_EMIT list->itemDoubleClicked(row, 0);
    QVERIFY(answer.seen());
    QCOMPARE(entries,
        (QStringList{u"Select Input"_s, u"In1"_s, u"In2 - [Blu-ray]"_s, u"In3"_s, u"In4"_s,
            u"In5"_s, u"In6"_s, u"Port to Port"_s}));
    QCOMPARE(labels,
        (QStringList{u"Out1 from"_s, u"Out2 from"_s, u"Out3 - [Projector] from"_s, u"Out4 from"_s,
            u"Out5 from"_s, u"Out6 from"_s}));
}

void TestPresets::editKeepsExtraValues()
{
    WindowFixture w(presetTagWindow(presetIni(QStringLiteral("1,2,3,4,5,6,7"))));
    QVERIFY2(w.start(), qPrintable(w.why()));
    auto *list = w.widget<QTreeWidget>(QStringLiteral("lvPreSetting"));
    list->setCurrentItem(list->topLevelItem(0));
    ModalAnswer<QDialog> answer([](QDialog *dialog) {
        dialog->findChild<QComboBox *>(QStringLiteral("cbFromDeviceOfOutput1"))->setCurrentIndex(4);
        dialog->findChild<QPushButton *>(QStringLiteral("btnOK"))->click();
    });
    QTest::mouseClick(w.widget<QPushButton>(QStringLiteral("btnPreEdit")), Qt::LeftButton);
    QVERIFY(answer.seen());
    w.close();
    QVERIFY2(w.settingsText().contains("value1=5,2,3,4,5,6,7\n"), w.settingsText().constData());
}

QTEST_MAIN(TestPresets)
#include "tst_presets.moc"
