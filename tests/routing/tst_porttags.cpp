// Port tags on the real window: the editor in its two tag modes with the name pools, where the
// tags are stored per control mode and switcher, and the display option.
#include "PortTagPage.h"
#include "PresetTagFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

const QString Mac = QStringLiteral("00-1A-2B-3C-4D-5E");

QByteArray deviceIni()
{
    const QByteArray entry = "[Hall] - [Static IP] - [127.0.0.1] - [0.0.0.0] - [255.0.0.0] - ["
        + Mac.toUtf8() + "] - [Same Subnet]";
    return "[TCP control device list]\nDevice1=" + entry + "\n[TCP control device]\nValue=" + entry
        + "\n";
}

QStringList items(const QComboBox *box)
{
    QStringList names;
    for (int i = 0; i < box->count(); ++i)
        names.append(box->itemText(i));
    return names;
}

QStringList shownTags(WindowFixture &w, const char *side)
{
    QStringList tags;
    for (int n = 1; n <= 6; ++n)
        tags.append(
            w.widget<QLineEdit>(QLatin1String(side) + QString::number(n) + QLatin1String("Tag"))
                ->text());
    return tags;
}

} // namespace

class TestPortTags : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void editAndPool_data();
    void editAndPool();
    void deleteName_data();
    void deleteName();
    void clearedSectionsLeaveFile();
    void modeSwitchLoadsTags();
    void displayTag();
};

void TestPortTags::editAndPool_data()
{
    QTest::addColumn<bool>("outputs");
    QTest::addColumn<QStringList>("pool"); // stored before
    QTest::addColumn<QStringList>("entered"); // the six box texts
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("poolAfter");

    const QStringList none{u""_s, u""_s, u""_s, u""_s, u""_s, u""_s};
    QTest::newRow("same new name twice added once")
        << false << QStringList{u"Blu-ray"_s}
        << QStringList{u"DVD"_s, u"DVD"_s, u""_s, u""_s, u""_s, u""_s} << true
        << QStringList{u"Blu-ray"_s, u"DVD"_s};
    QTest::newRow("name in other letter case not added")
        << false << QStringList{u"Blu-ray"_s}
        << QStringList{u""_s, u"BLU-RAY"_s, u""_s, u""_s, u""_s, u""_s} << true
        << QStringList{u"Blu-ray"_s};
    QTest::newRow("sorted without regard to case")
        << true << QStringList{}
        << QStringList{u"tv"_s, u"Beamer"_s, u""_s, u""_s, u""_s, u"apple"_s} << true
        << QStringList{u"apple"_s, u"Beamer"_s, u"tv"_s};
    QTest::newRow("cancel keeps tags and pool")
        << true << QStringList{u"TV"_s}
        << QStringList{u"Panel"_s, u""_s, u""_s, u""_s, u""_s, u""_s} << false
        << QStringList{u"TV"_s};
}

void TestPortTags::editAndPool()
{
    QFETCH(bool, outputs);
    QFETCH(QStringList, pool);
    QFETCH(QStringList, entered);
    QFETCH(bool, ok);
    QFETCH(QStringList, poolAfter);
    QByteArray ini = "[Connection]\nControl mode=1\n";
    ini += outputs ? "[Out display name]\n" : "[In device name]\n";
    for (int k = 1; k <= pool.size(); ++k)
        ini += (outputs ? "Display" : "Device") + QByteArray::number(k) + "="
            + pool.at(k - 1).toUtf8() + "\n";
    WindowFixture w(presetTagWindow(ini));
    QVERIFY2(w.start(), qPrintable(w.why()));
    QSignalSpy tagsChanged(&w.form().portTagPage(), &PortTagPage::tagsChanged);

    const QString box
        = outputs ? QStringLiteral("cbDispNameOfOutput%1") : QStringLiteral("cbDevNameOfInput%1");
    QStringList poolSeen;
    QString caption;
    ModalAnswer<QDialog> answer([&](QDialog *dialog) {
        caption = dialog->windowTitle();
        poolSeen = items(dialog->findChild<QComboBox *>(box.arg(6)));
        for (int n = 1; n <= 6; ++n)
            dialog->findChild<QComboBox *>(box.arg(n))->setEditText(entered.at(n - 1));
        dialog->findChild<QPushButton *>(ok ? QStringLiteral("btnOK") : QStringLiteral("btnCancel"))
            ->click();
    });
    QTest::mouseClick(w.widget<QPushButton>(outputs ? QStringLiteral("btnEditOutputPortTag")
                                                    : QStringLiteral("btnEditInputPortTag")),
        Qt::LeftButton);
    QVERIFY(answer.seen());
    QCOMPARE(caption,
        outputs ? QStringLiteral("Edit Output port tags") : QStringLiteral("Edit Input port tags"));
    QCOMPARE(poolSeen, pool);

    const QStringList none{u""_s, u""_s, u""_s, u""_s, u""_s, u""_s};
    QCOMPARE(shownTags(w, outputs ? "leOutput" : "leInput"), ok ? entered : none);
    QCOMPARE(shownTags(w, outputs ? "leInput" : "leOutput"), none);
    QCOMPARE(tagsChanged.size(), ok ? 1 : 0);
    const AppSettings &settings = w.form().settings();
    QCOMPARE(outputs ? settings.outputNamePool : settings.inputNamePool, poolAfter);
    // Accepted tags are in the file at once.
    const PortTags stored = SettingsFile::load(w.settingsPath()).comTags;
    const auto &side = outputs ? stored.outputs : stored.inputs;
    QCOMPARE(QStringList(side.begin(), side.end()), ok ? entered : none);
    // The pool goes to the file with the whole file.
    w.close();
    const AppSettings reread = SettingsFile::load(w.settingsPath());
    QCOMPARE(outputs ? reread.outputNamePool : reread.inputNamePool, poolAfter);
}

void TestPortTags::deleteName_data()
{
    QTest::addColumn<bool>("outputs");
    QTest::addColumn<QStringList>("texts"); // the six box texts when "×" of box 1 is pressed
    QTest::addColumn<QString>("box"); // message box text, empty: none
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QStringList>("poolAfter");
    QTest::addColumn<QString>("textAfter"); // box 1

    const QStringList pool{u"A"_s, u"B"_s};
    QTest::newRow("in use by input 3")
        << false << QStringList{u"A"_s, u""_s, u"A"_s, u""_s, u""_s, u""_s}
        << "Input port tag in use, can't be deleted." << QMessageBox::Ok << pool << "A";
    QTest::newRow("in use by output 2")
        << true << QStringList{u"B"_s, u"B"_s, u""_s, u""_s, u""_s, u""_s}
        << "Output port tag in use, can't be deleted." << QMessageBox::Ok << pool << "B";
    QTest::newRow("other letter case is not in use")
        << false << QStringList{u"A"_s, u"a"_s, u""_s, u""_s, u""_s, u""_s}
        << "Sure to delete Input port tag: [A] ?" << QMessageBox::Yes << QStringList{u"B"_s} << "";
    QTest::newRow("only this box: removed everywhere")
        << true << QStringList{u"A"_s, u""_s, u""_s, u""_s, u""_s, u"B"_s}
        << "Sure to delete Output port tag: [A] ?" << QMessageBox::Yes << QStringList{u"B"_s} << "";
    QTest::newRow("answered no") << false << QStringList{u"A"_s, u""_s, u""_s, u""_s, u""_s, u""_s}
                                 << "Sure to delete Input port tag: [A] ?" << QMessageBox::No
                                 << pool << "A";
    QTest::newRow("empty box: nothing")
        << false << QStringList{u""_s, u""_s, u""_s, u""_s, u""_s, u""_s} << "" << QMessageBox::Ok
        << pool << "";
}

void TestPortTags::deleteName()
{
    QFETCH(bool, outputs);
    QFETCH(QStringList, texts);
    QFETCH(QString, box);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QStringList, poolAfter);
    QFETCH(QString, textAfter);
    WindowFixture w(presetTagWindow("[In device name]\nDevice1=A\nDevice2=B\n"
                                    "[Out display name]\nDisplay1=A\nDisplay2=B\n"));
    QVERIFY2(w.start(), qPrintable(w.why()));

    const QString name
        = outputs ? QStringLiteral("cbDispNameOfOutput%1") : QStringLiteral("cbDevNameOfInput%1");
    const QString deleteButton
        = outputs ? QStringLiteral("btnDeleteOutput1Tag") : QStringLiteral("btnDeleteInput1Tag");
    QString shown;
    QStringList poolsSeen, textsSeen;
    ModalAnswer<QDialog> editor([&](QDialog *dialog) {
        for (int n = 1; n <= 6; ++n)
            dialog->findChild<QComboBox *>(name.arg(n))->setEditText(texts.at(n - 1));
        {
            BoxAnswer reply(answer);
            QTest::mouseClick(dialog->findChild<QToolButton *>(deleteButton), Qt::LeftButton);
            shown = reply.text();
        }
        for (int n = 1; n <= 6; ++n) {
            const auto *combo = dialog->findChild<QComboBox *>(name.arg(n));
            poolsSeen.append(items(combo).join(QLatin1Char('|')));
            textsSeen.append(combo->currentText());
        }
        // The removal stays even when the edit is cancelled.
        dialog->findChild<QPushButton *>(QStringLiteral("btnCancel"))->click();
    });
    QTest::mouseClick(w.widget<QPushButton>(outputs ? QStringLiteral("btnEditOutputPortTag")
                                                    : QStringLiteral("btnEditInputPortTag")),
        Qt::LeftButton);
    QVERIFY(editor.seen());
    QCOMPARE(shown, box);
    for (const QString &items : std::as_const(poolsSeen))
        QCOMPARE(items, poolAfter.join(QLatin1Char('|')));
    QStringList expectedTexts = texts;
    expectedTexts[0] = textAfter;
    QCOMPARE(textsSeen, expectedTexts);
    const AppSettings &settings = w.form().settings();
    QCOMPARE(outputs ? settings.outputNamePool : settings.inputNamePool, poolAfter);
    QCOMPARE(
        outputs ? settings.inputNamePool : settings.outputNamePool, (QStringList{u"A"_s, u"B"_s}));
}

void TestPortTags::clearedSectionsLeaveFile()
{
    WindowFixture w(presetTagWindow(deviceIni() + "[Tag of Input - TCP:" + Mac.toUtf8()
        + "]\nIn1=DVD\nIn4=Sat\n" + "[Tag of Output - TCP:" + Mac.toUtf8() + "]\nOut2=TV\n"
        + "[Tag of Input - COM]\nIn1=Camera\n"));
    QVERIFY2(w.start(), qPrintable(w.why()));
    QCOMPARE(
        shownTags(w, "leInput"), (QStringList{u"DVD"_s, u""_s, u""_s, u"Sat"_s, u""_s, u""_s}));
    QVERIFY(w.settingsText().contains("Tag of Output - TCP:"));

    for (const char *button : {"btnEditInputPortTag", "btnEditOutputPortTag"}) {
        ModalAnswer<QDialog> editor([](QDialog *dialog) {
            for (QComboBox *box : dialog->findChildren<QComboBox *>()) {
                if (box->isEditable())
                    box->setEditText(QStringLiteral("  "));
            }
            dialog->findChild<QPushButton *>(QStringLiteral("btnOK"))->click();
        });
        QTest::mouseClick(w.widget<QPushButton>(QLatin1String(button)), Qt::LeftButton);
        QVERIFY(editor.seen());
    }
    const QByteArray ini = w.settingsText();
    QVERIFY2(!ini.contains("TCP:"), ini.constData());
    // The other mode's tags stay.
    QVERIFY(ini.contains("[Tag of Input - COM]"));
    QVERIFY(ini.contains("In1=Camera"));
}

void TestPortTags::modeSwitchLoadsTags()
{
    WindowFixture w(presetTagWindow(deviceIni() + "[Tag of Input - TCP:" + Mac.toLower().toUtf8()
        + "]\nIn1=DVD\n[Tag of Output - COM]\nOut6=Wall\n[Tag of Input - COM]\nIn2=Camera\n"));
    QVERIFY2(w.start(), qPrintable(w.why()));
    QSignalSpy tagsChanged(&w.form().portTagPage(), &PortTagPage::tagsChanged);
    const QStringList none{u""_s, u""_s, u""_s, u""_s, u""_s, u""_s};
    QCOMPARE(shownTags(w, "leInput"), (QStringList{u"DVD"_s, u""_s, u""_s, u""_s, u""_s, u""_s}));
    QCOMPARE(shownTags(w, "leOutput"), none);

    // On the indicator: the middle of a radio button may lie beyond its caption, depending on the
    // font.
    QTest::mouseClick(
        w.widget<QRadioButton>(QStringLiteral("rbCOMMode")), Qt::LeftButton, {}, QPoint(6, 8));
    QCOMPARE(
        shownTags(w, "leInput"), (QStringList{u""_s, u"Camera"_s, u""_s, u""_s, u""_s, u""_s}));
    QCOMPARE(shownTags(w, "leOutput"), (QStringList{u""_s, u""_s, u""_s, u""_s, u""_s, u"Wall"_s}));
    QVERIFY(!tagsChanged.isEmpty());
    QCOMPARE(tagsChanged.last().at(1).toStringList(),
        (QStringList{u""_s, u""_s, u""_s, u""_s, u""_s, u"Wall"_s}));

    QTest::mouseClick(
        w.widget<QRadioButton>(QStringLiteral("rbLANMode")), Qt::LeftButton, {}, QPoint(6, 8));
    QCOMPARE(shownTags(w, "leInput"), (QStringList{u"DVD"_s, u""_s, u""_s, u""_s, u""_s, u""_s}));
    QCOMPARE(shownTags(w, "leOutput"), none);

    // Another switcher without tags of its own shows none.
    w.form().state().currentDeviceMAC = QStringLiteral("00-00-00-00-00-01");
    QTest::mouseClick(
        w.widget<QRadioButton>(QStringLiteral("rbCOMMode")), Qt::LeftButton, {}, QPoint(6, 8));
    QTest::mouseClick(
        w.widget<QRadioButton>(QStringLiteral("rbLANMode")), Qt::LeftButton, {}, QPoint(6, 8));
    QCOMPARE(shownTags(w, "leInput"), none);
}

void TestPortTags::displayTag()
{
    WindowFixture w(presetTagWindow("[Display tag]\nValue=1\n"));
    QVERIFY2(w.start(), qPrintable(w.why()));
    auto *option = w.widget<QCheckBox>(QStringLiteral("cbDisplayTag"));
    QVERIFY(option->isChecked());
    QSignalSpy changed(&w.form().portTagPage(), &PortTagPage::displayTagsChanged);
    QTest::mouseClick(option, Qt::LeftButton);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().first().toBool(), false);
    w.close();
    QVERIFY(!SettingsFile::load(w.settingsPath()).displayTag);
}

QTEST_MAIN(TestPortTags)
#include "tst_porttags.moc"
