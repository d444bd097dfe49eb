// The progress gauge: defaults, text, value checks and the picture it paints.
#include "DialogDriver.h"
#include "TKVGauge.h"

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QTest>

namespace {

struct Box
{
    QString title;
    QString text;
};

// Runs a setter and answers the message box it may open. Returns the boxes shown.
QList<Box> answeringBoxes(const std::function<void()> &action)
{
    QList<Box> boxes;
    testsupport::BoxWatch watch(
        QMessageBox::NoButton, QDialog::Accepted, [&boxes](QMessageBox *box) {
            boxes.append({box->windowTitle(), box->text()});
        });
    action();
    watch.stop();
    return boxes;
}

// Pixels of a colour within a rectangle.
int count(const QImage &image, const QRect &area, const QColor &color)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixelColor(x, y) == color;
    }
    return n;
}

} // namespace

class TestKVGauge : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void defaults();
    void text_data();
    void text();
    void validation_data();
    void validation();
    void frame_data();
    void frame();
    void barAndInvertedText();
    void transparent();
};

void TestKVGauge::defaults()
{
    TKVGauge g;
    QCOMPARE(g.OutLine(), TKVGauge::olFLAT);
    QCOMPARE(g.Transparent(), false);
    QCOMPARE(g.Caption(), QStringLiteral("Korvane Component"));
    QCOMPARE(g.TxtAlign(), TKVGauge::ttaCENTER);
    QCOMPARE(g.ShowText(), true);
    QCOMPARE(g.ShowPercent(), true);
    QCOMPARE(g.Progress(), 0);
    QCOMPARE(g.MinValue(), 0);
    QCOMPARE(g.MaxValue(), 100);
    QCOMPARE(g.FrontColor(), QColor(Qt::black));
    QCOMPARE(g.BackColor(), QColor(Qt::white));
    QCOMPARE(g.BorderColor(), QColor(Qt::black));
    QCOMPARE(g.Frame3DTopColor(), g.palette().color(QPalette::Shadow));
    QCOMPARE(g.Frame3DBottomColor(), QColor(Qt::white));
    QCOMPARE(g.size(), QSize(300, 24));
}

void TestKVGauge::text_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("showPercent");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("progress");
    QTest::addColumn<QString>("text");
    QTest::newRow("caption and percent")
        << "Upgrading Part_2.1" << true << 100 << 50 << "Upgrading Part_2.1 50%";
    QTest::newRow("percent alone") << "" << true << 100 << 50 << "50%";
    QTest::newRow("caption alone")
        << "Upgrade progress" << false << 100 << 50 << "Upgrade progress";
    QTest::newRow("percent rounds down") << "" << true << 300 << 200 << "66%";
    QTest::newRow("full") << "x" << true << 100 << 100 << "x 100%";
}

void TestKVGauge::text()
{
    QFETCH(QString, caption);
    QFETCH(bool, showPercent);
    QFETCH(int, maxValue);
    QFETCH(int, progress);
    QFETCH(QString, text);
    TKVGauge g;
    g.setCaption(caption);
    g.setShowPercent(showPercent);
    g.setMaxValue(maxValue);
    g.setProgress(progress);
    QCOMPARE(g.displayText(), text);
}

void TestKVGauge::validation_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("message"); // empty: accepted
    // Starting from Min 10, Progress 50, Max 100.
    QTest::newRow("progress above max")
        << QByteArray("Progress") << 101 << "Value is greater than MaxValue.";
    QTest::newRow("progress negative")
        << QByteArray("Progress") << -1 << "Value must be greater than 0.";
    QTest::newRow("progress below min")
        << QByteArray("Progress") << 9 << "Value is less than MinValue.";
    QTest::newRow("progress at max") << QByteArray("Progress") << 100 << "";
    QTest::newRow("progress at min") << QByteArray("Progress") << 10 << "";
    QTest::newRow("min negative") << QByteArray("MinValue") << -1
                                  << "Value must be greater than 0.";
    QTest::newRow("min equal to max")
        << QByteArray("MinValue") << 100 << "Value is greater than or equal to MaxValue.";
    QTest::newRow("min below max") << QByteArray("MinValue") << 99 << "";
    QTest::newRow("max negative") << QByteArray("MaxValue") << -5
                                  << "Value must be greater than 0.";
    QTest::newRow("max equal to min")
        << QByteArray("MaxValue") << 10 << "Value is less than or equal to MinValue.";
    QTest::newRow("max above min") << QByteArray("MaxValue") << 11 << "";
}

void TestKVGauge::validation()
{
    QFETCH(QByteArray, property);
    QFETCH(int, value);
    QFETCH(QString, message);
    TKVGauge g;
    g.setMinValue(10);
    g.setProgress(50);
    const int before = g.property(property.constData()).toInt();

    const QList<Box> boxes = answeringBoxes([&] { g.setProperty(property.constData(), value); });

    if (message.isEmpty()) {
        QVERIFY(boxes.isEmpty());
        QCOMPARE(g.property(property.constData()).toInt(), value);
    } else {
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title, QStringLiteral("Error"));
        QCOMPARE(boxes[0].text, message);
        QCOMPARE(g.property(property.constData()).toInt(), before);
    }
}

void TestKVGauge::frame_data()
{
    QTest::addColumn<TKVGauge::TKVOUTLINE>("outline");
    QTest::addColumn<QColor>("topLeft");
    QTest::addColumn<QColor>("bottomRight");
    QTest::newRow("flat") << TKVGauge::olFLAT << QColor(Qt::red) << QColor(Qt::red);
    QTest::newRow("3-D") << TKVGauge::ol3D << QColor(Qt::darkGray) << QColor(Qt::yellow);
}

void TestKVGauge::frame()
{
    QFETCH(TKVGauge::TKVOUTLINE, outline);
    QFETCH(QColor, topLeft);
    QFETCH(QColor, bottomRight);
    TKVGauge g;
    g.setOutLine(outline);
    g.setBorderColor(Qt::red);
    g.setFrame3DTopColor(Qt::darkGray);
    g.setFrame3DBottomColor(Qt::yellow);
    g.setShowText(false);
    const QImage image = g.renderImage();
    QCOMPARE(image.size(), QSize(300, 24));
    QCOMPARE(image.pixelColor(0, 0), topLeft);
    QCOMPARE(image.pixelColor(0, 12), topLeft);
    QCOMPARE(image.pixelColor(299, 23), bottomRight);
    QCOMPARE(image.pixelColor(299, 12), bottomRight);
    QCOMPARE(image.pixelColor(1, 1), QColor(Qt::white)); // inside, filled
}

void TestKVGauge::barAndInvertedText()
{
    TKVGauge g;
    g.setFrontColor(Qt::blue);
    g.setCaption(QStringLiteral("Upgrading Part_2.1"));
    g.setShowText(false);
    g.setProgress(50);
    QImage image = g.renderImage();
    // Inside the 1-pixel frame: 298 pixels, half of them the bar.
    const QRect inside(1, 1, 298, 22);
    const QRect bar(1, 1, 149, 22);
    const QRect rest(150, 1, 149, 22);
    QCOMPARE(count(image, bar, Qt::blue), bar.width() * bar.height());
    QCOMPARE(count(image, rest, Qt::white), rest.width() * rest.height());

    // With text: the centred text crosses the bar's end, drawn in the font colour beside the
    // bar and in the background colour over it.
    g.setShowText(true);
    image = g.renderImage();
    const QColor ink = g.palette().color(QPalette::WindowText);
    QVERIFY(count(image, bar, Qt::white) > 0);
    QVERIFY(count(image, rest, ink) > 0);
    QCOMPARE(count(image, bar, ink), 0);
    QCOMPARE(count(image, inside, Qt::red), 0);
}

void TestKVGauge::transparent()
{
    TKVGauge g;
    g.setTransparent(true);
    g.setShowText(false);
    g.setProgress(10);
    const QImage image = g.renderImage();
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::black)); // the frame is drawn
    QCOMPARE(image.pixelColor(10, 10), QColor(Qt::black)); // so is the bar
    QCOMPARE(image.pixelColor(200, 10).alpha(), 0); // the rest shows what is behind
    QVERIFY(!g.testAttribute(Qt::WA_OpaquePaintEvent));
}

QTEST_MAIN(TestKVGauge)
#include "tst_kvgauge.moc"
