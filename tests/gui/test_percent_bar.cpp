// The percent bar's image (colours, text placement, bar width), its render
// economy (only when the image would change), and the separators taken from
// the locale.
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <vector>

#include "base/number_format.h"
#include "engine/progress.h"
#include "mainwindow/form1.h"
#include "mainwindow/percent_bar.h"
#include "uikit/system_locale.h"

using kaldrome::Form1;

using kaldrome::PercentBar;

namespace {

const QRgb Yellow = qRgb(255, 255, 0);
const QRgb Blue = qRgb(0, 0, 255);
const QRgb TextBlue = qRgb(0, 0, 192);
const QRgb LightYellow = qRgb(255, 255, 63);

// The window's bar: 6,975 x 375 twips.
constexpr int BarWidth = 465;
constexpr int BarHeight = 25;

struct Census {
    int yellow = 0, blue = 0, text = 0, coveredText = 0, other = 0;
    int textLeft = 1 << 30, textTop = 1 << 30;
    int textRight = -1, textBottom = -1;
    int coveredRight = -1;  // rightmost x of light-yellow text
};

// Counts the colours left and right of the bar edge; a colour on the wrong
// side of the edge counts as "other".
Census Count(const QImage& img, int barPixels) {
    Census c;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QRgb px = img.pixel(x, y) | 0xff000000u;
            const bool inBar = x < barPixels;
            const bool isText = px == (inBar ? LightYellow : TextBlue);
            if (px == (inBar ? Blue : Yellow))
                inBar ? ++c.blue : ++c.yellow;
            else if (isText)
                inBar ? ++c.coveredText : ++c.text;
            else
                ++c.other;
            if (isText) {
                c.textLeft = std::min(c.textLeft, x);
                c.textRight = std::max(c.textRight, x);
                c.textTop = std::min(c.textTop, y);
                c.textBottom = std::max(c.textBottom, y);
                if (inBar) c.coveredRight = std::max(c.coveredRight, x);
            }
        }
    }
    return c;
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

double MedianNsPerCall(std::vector<double> ns) {
    std::sort(ns.begin(), ns.end());
    return ns[ns.size() / 2];
}

}  // namespace

class TestPercentBar : public QObject {
    Q_OBJECT

  private slots:
    void colours_data();
    void colours();
    void barFollowsThePercent_data();
    void barFollowsThePercent();
    void rendersOnlyWhenTheImageChanges_data();
    void rendersOnlyWhenTheImageChanges();
    void resizeRendersAgain_data();
    void resizeRendersAgain();
    void nothingOfThePreviousDrawingRemains();
    void wholeRunRendersAboutOncePerHundredth();
    void unchangedDrawIsCheap();
    void separatorsFor_data();
    void separatorsFor();
    void systemSeparators();
};

void TestPercentBar::colours_data() {
    QTest::addColumn<float>("p");
    QTest::addColumn<bool>("barVisible");     // some blue bar
    QTest::addColumn<bool>("yellowVisible");  // some uncovered background
    QTest::addColumn<bool>("textCovered");    // some text under the bar
    QTest::addColumn<bool>("textUncovered");  // some text beside the bar

    QTest::newRow("first hundredth: no whole bar pixel")
        << 0.001f << false << true << false << true;
    QTest::newRow("a quarter: bar left of the text") << 25.0f << true << true << false << true;
    QTest::newRow("42.86: bar ends just before the text")
        << 42.857143f << true << true << false << true;
    QTest::newRow("half: bar across part of the text") << 50.0f << true << true << true << true;
    QTest::newRow("99.8: one column left") << 99.8f << true << true << true << false;
    QTest::newRow("100: the bar fills the box") << 100.0f << true << false << true << false;
    QTest::newRow("one step above 100 (last factor of 999,999)")
        << std::nextafter(100.0f, 200.0f) << true << false << true << false;
}

void TestPercentBar::colours() {
    QFETCH(float, p);
    QFETCH(bool, barVisible);
    QFETCH(bool, yellowVisible);
    QFETCH(bool, textCovered);
    QFETCH(bool, textUncovered);

    PercentBar bar;
    bar.resize(BarWidth, BarHeight);
    bar.Draw(p);
    const QImage& img = bar.Image();
    const qreal dpr = img.devicePixelRatio();
    QCOMPARE(img.size(), QSize(qRound(BarWidth * dpr), qRound(BarHeight * dpr)));
    QCOMPARE(dpr, bar.devicePixelRatioF());

    // The bar edge: p percent of the width, in whole pixels.
    const int edge = bar.BarPixels(p);
    const double want = std::min(100.0, static_cast<double>(p)) * img.width() / 100.0;
    QVERIFY2(std::abs(edge - want) <= 0.5, qPrintable(QString::number(edge)));

    const Census c = Count(img, edge);
    QCOMPARE(c.other, 0);  // four colours only, each on its side of the edge
    QCOMPARE(c.blue > 0, barVisible);
    QCOMPARE(c.yellow > 0, yellowVisible);
    QCOMPARE(c.coveredText > 0, textCovered);
    QCOMPARE(c.text > 0, textUncovered);

    // The text starts at 43.33 of 100 units across and 2 of 10 units down,
    // and the 10 pt bold text spans a few pixels at least.
    QVERIFY(c.textLeft >= qFloor(43.33 * img.width() / 100) - 1);
    QVERIFY(c.textLeft <= qCeil(43.33 * img.width() / 100) + 3 * dpr);
    QVERIFY(c.textTop >= qFloor(2.0 * img.height() / 10));
    QVERIFY(c.textBottom < img.height());
    QVERIFY(c.textRight - c.textLeft > 20 * dpr);
    QVERIFY(c.textBottom - c.textTop > 5 * dpr);

    // Points away from the text: the top row inside and beside the bar.
    if (edge > 0) QCOMPARE(img.pixel(edge / 2, 0) | 0xff000000u, Blue);
    if (edge > 0) QCOMPARE(img.pixel(edge - 1, img.height() - 1) | 0xff000000u, Blue);
    if (edge < img.width()) QCOMPARE(img.pixel(edge, 0) | 0xff000000u, Yellow);
    if (edge < img.width()) QCOMPARE(img.pixel(img.width() - 1, 0) | 0xff000000u, Yellow);
}

void TestPercentBar::barFollowsThePercent_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<float>("p");
    QTest::addColumn<int>("edge");

    QTest::newRow("465 at 10%") << 465 << 10.0f << 47;  // 46.5 rounds up
    QTest::newRow("465 at 40%") << 465 << 40.0f << 186;
    QTest::newRow("465 at 40.106%") << 465 << 40.106f << 186;
    QTest::newRow("465 at 40.11%") << 465 << 40.11f << 187;
    QTest::newRow("465 at 100%") << 465 << 100.0f << 465;
    QTest::newRow("100 at 37%") << 100 << 37.0f << 37;
    QTest::newRow("200 at .01%") << 200 << 0.01f << 0;
}

void TestPercentBar::barFollowsThePercent() {
    QFETCH(int, width);
    QFETCH(float, p);
    QFETCH(int, edge);
    PercentBar bar;
    bar.resize(width, BarHeight);
    bar.Draw(p);
    const qreal dpr = bar.Image().devicePixelRatio();
    if (dpr != 1.0) QSKIP("pixel table written for a scale of 100%");
    QCOMPARE(bar.BarPixels(p), edge);
    if (edge > 0) QCOMPARE(bar.Image().pixel(edge - 1, 0) | 0xff000000u, Blue);
    if (edge < width) QCOMPARE(bar.Image().pixel(edge, 0) | 0xff000000u, Yellow);
}

void TestPercentBar::rendersOnlyWhenTheImageChanges_data() {
    QTest::addColumn<float>("first");
    QTest::addColumn<float>("second");
    QTest::addColumn<bool>("renders");
    QTest::addColumn<bool>("pixelsAtScaleOne");  // the row relies on pixel edges at 100 %
    QTest::addColumn<bool>("heard");             // a screen reader is told of the second value

    QTest::newRow("same value") << 40.0f << 40.0f << false << false << false;
    QTest::newRow("same text and bar") << 40.0f << 40.004f << false << false << false;
    QTest::newRow("text changes by a hundredth") << 40.0f << 40.01f << true << false << false;
    // Both read 40.11%, but the bar grows from 186 to 187 pixels.
    QTest::newRow("bar grows a pixel under the same text")
        << 40.106f << 40.11f << true << true << false;
    QTest::newRow("tiny percents share .00%") << 0.0001f << 0.0004f << false << false << false;
    QTest::newRow("100 and one step above")
        << 100.0f << std::nextafter(100.0f, 200.0f) << false << false << false;
    QTest::newRow("a new whole percent") << 40.99f << 41.0f << true << false << true;
    QTest::newRow("the last step to 100") << 99.99f << 100.0f << true << false << true;
}

void TestPercentBar::rendersOnlyWhenTheImageChanges() {
    QFETCH(float, first);
    QFETCH(float, second);
    QFETCH(bool, renders);
    QFETCH(bool, pixelsAtScaleOne);
    QFETCH(bool, heard);

    PercentBar bar;
    bar.resize(BarWidth, BarHeight);
    if (pixelsAtScaleOne && bar.devicePixelRatioF() != 1.0)
        QSKIP("pixel edges differ at this scale");
    bar.Draw(first);
    QCOMPARE(bar.PaintCount(), 1);
    const QImage before = bar.Image().copy();
    bar.Draw(second);
    QCOMPARE(bar.PaintCount(), renders ? 2 : 1);
    // A screen reader finds a progress bar whose value and text are the last drawn,
    // and hears of it in whole percents.
    QCOMPARE(bar.Announcements(), heard ? 2 : 1);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&bar);
    QCOMPARE(accessible->role(), QAccessible::ProgressBar);
    QCOMPARE(accessible->valueInterface()->currentValue().toDouble(), double(second));
    QCOMPARE(accessible->valueInterface()->maximumValue().toDouble(), 100.0);
    QCOMPARE(accessible->text(QAccessible::Value),
             Q(kaldrome::PercentText(second, kaldrome::NumberSeparators{})));

    // Whatever was skipped, the image equals a fresh drawing of the second value.
    PercentBar fresh;
    fresh.resize(BarWidth, BarHeight);
    fresh.Draw(second);
    QCOMPARE(bar.Image(), fresh.Image());
    if (bar.Image().devicePixelRatio() == 1.0) QCOMPARE(bar.Image() != before, renders);
}

void TestPercentBar::resizeRendersAgain_data() {
    QTest::addColumn<bool>("shown");
    QTest::newRow("hidden: the next drawing renders") << false;
    QTest::newRow("shown: the resize renders") << true;
}

void TestPercentBar::resizeRendersAgain() {
    QFETCH(bool, shown);
    PercentBar bar;
    bar.resize(BarWidth, BarHeight);
    if (shown) {
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
    }
    bar.Draw(50.0f);
    const int count = bar.PaintCount();
    bar.resize(200, 20);
    if (shown) QCOMPARE(bar.PaintCount(), count + 1);
    // The drawing at the same percent renders only if the resize did not.
    bar.Draw(50.0f);
    QCOMPARE(bar.PaintCount(), count + 1);
    const qreal dpr = bar.Image().devicePixelRatio();
    QCOMPARE(bar.Image().size(), QSize(qRound(200 * dpr), qRound(20 * dpr)));
    QCOMPARE(bar.BarPixels(50.0f), qRound(100 * dpr));
    QCOMPARE(Count(bar.Image(), bar.BarPixels(50.0f)).other, 0);
    bar.Draw(50.0f);
    QCOMPARE(bar.PaintCount(), count + 1);
}

void TestPercentBar::nothingOfThePreviousDrawingRemains() {
    // Down from a full bar to a small one: no blue may stay right of the new edge.
    PercentBar bar;
    bar.resize(BarWidth, BarHeight);
    bar.Draw(100.0f);
    bar.Draw(12.5f);
    const Census c = Count(bar.Image(), bar.BarPixels(12.5f));
    QCOMPARE(c.other, 0);
    QCOMPARE(c.coveredText, 0);
    QVERIFY(c.text > 0);
}

void TestPercentBar::wholeRunRendersAboutOncePerHundredth() {
    // N = 999,999: the text changes 10,000 times and the bar at most once per
    // pixel, so about 10,000 of the million drawings render.
    PercentBar bar;
    bar.resize(BarWidth, BarHeight);
    kaldrome::RunState rs;
    rs.Target = 999999;
    QElapsedTimer timer;
    timer.start();
    for (int32_t i = 1; i <= rs.Target; ++i) {
        rs.Multiplier = i;
        kaldrome::RenewPercent(rs);
        bar.Draw(rs.Percent);
    }
    const qint64 ms = timer.elapsed();
    qInfo("a run of 999,999 factors: %d renders, %lld ms for all Draw calls", bar.PaintCount(), ms);
    QVERIFY(bar.PaintCount() >= 10000);
    QVERIFY(bar.PaintCount() <= 10001 + bar.Image().width());
    QCOMPARE(bar.BarPixels(rs.Percent), bar.Image().width());
}

void TestPercentBar::unchangedDrawIsCheap() {
    // A million unchanged drawings must cost no renders; the time per call is
    // reported (median of five rounds), not asserted, on a shared machine.
    PercentBar bar;
    bar.resize(BarWidth, BarHeight);
    bar.Draw(40.0f);
    const int count = bar.PaintCount();
    constexpr int Calls = 200000;
    const kaldrome::NumberSeparators separators;
    std::vector<double> drawNs, clockNs;
    volatile std::size_t sink = 0;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (int k = 0; k < Calls; ++k) bar.Draw(k % 2 ? 40.0f : 40.004f);
        drawNs.push_back(static_cast<double>(timer.nsecsElapsed()) / Calls);
        timer.restart();
        for (int k = 0; k < Calls; ++k)
            sink = sink + kaldrome::FormatClock(k & 1023, k % 60, 7, separators).size();
        clockNs.push_back(static_cast<double>(timer.nsecsElapsed()) / Calls);
    }
    QCOMPARE(bar.PaintCount(), count);
    qInfo("unchanged Draw: median %.0f ns per call; FormatClock: median %.0f ns per call",
          MedianNsPerCall(drawNs), MedianNsPerCall(clockNs));
}

void TestPercentBar::separatorsFor_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("decimal");

    QTest::newRow("C locale gets the defaults") << QLocale::c() << ","
                                                << ".";
    QTest::newRow("POSIX locale gets the defaults") << QLocale("POSIX") << ","
                                                    << ".";
    QTest::newRow("English (US)") << QLocale(QLocale::English, QLocale::UnitedStates) << ","
                                  << ".";
    QTest::newRow("German: dot groups, comma decimals") << QLocale(QLocale::German) << "."
                                                        << ",";
    QTest::newRow("Swiss German: apostrophe groups")
        << QLocale(QLocale::German, QLocale::Switzerland) << QString(QChar(0x2019)) << ".";
    QTest::newRow("French: narrow no-break space groups")
        << QLocale(QLocale::French, QLocale::France) << QString(QChar(0x202f)) << ",";
}

void TestPercentBar::separatorsFor() {
    QFETCH(QLocale, locale);
    QFETCH(QString, group);
    QFETCH(QString, decimal);
    const kaldrome::NumberSeparators s = kaldrome::SeparatorsFor(locale);
    QCOMPARE(QString::fromStdString(s.group), group);
    QCOMPARE(QString::fromStdString(s.decimal), decimal);

    // The patterns of the program pick them up.
    QCOMPARE(Q(kaldrome::FormatClock(1111, 6, 40, s)), "1" + group + "111: 06: 40");
    QCOMPARE(Q(kaldrome::PercentText(42.857143f, s)), "42" + decimal + "86%");

    // So does a bar given them: its text differs from the default one's exactly
    // when the decimal separator does.
    PercentBar bar, plain;
    for (PercentBar* b : {&bar, &plain}) b->resize(BarWidth, BarHeight);
    bar.SetSeparators(s);
    bar.Draw(42.857143f);
    plain.Draw(42.857143f);
    QCOMPARE(bar.Image() != plain.Image(), decimal != ".");
}

void TestPercentBar::systemSeparators() {
    // main() runs this test under a German locale.
    QCOMPARE(QLocale::system().name(), QString("de_DE"));
    const kaldrome::NumberSeparators system = kaldrome::SystemSeparators();
    QCOMPARE(Q(system.group), QString("."));
    QCOMPARE(Q(system.decimal), QString(","));
    QCOMPARE(Q(kaldrome::FormatClock(4000, 0, 0, system)), QString("4.000: 00: 00"));
    QCOMPARE(Q(kaldrome::PercentText(0.1f, system)), QString(",10%"));
    // The window takes them at start, and hands them to its percent bar.
    Form1 w;
    QCOMPARE(Q(w.Separators().group), QString("."));
    QCOMPARE(Q(w.Ui().picPercentBar->Separators().decimal), QString(","));
}

int main(int argc, char** argv) {
    // The system locale is read from the environment when first used: make it
    // German so that the separators must come from it, not from the defaults.
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    TestPercentBar test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_percent_bar.moc"
