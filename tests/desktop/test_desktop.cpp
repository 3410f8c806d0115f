// What the desktop sees of the program without its window: the answers to
// --help and --version, the icon at the theme's sizes, and where the installed
// program finds its help.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSet>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>
#include <cstdio>
#include <vector>

#include "commands/frm_about.h"
#include "commands/help_viewer.h"
#include "desktop/icons.h"
#include "desktop/launch.h"

namespace {

const QByteArray kVersionLine = QByteArray("Kaldrome ") + KALDROME_VERSION + "\n";
const QByteArray kUsageStart = "Usage: kaldrome [--help | --version]\n";

// Everything written to a stream, read back from the start.
QByteArray ReadBack(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    QByteArray bytes;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, qsizetype(n));
    return bytes;
}

struct Answer {
    int status;
    QByteArray out;
    QByteArray err;
};

Answer Ask(const QStringList& args, std::FILE* out = nullptr) {
    std::vector<QByteArray> storage{"kaldrome"};
    for (const QString& a : args) storage.push_back(a.toUtf8());
    std::vector<const char*> argv;
    for (const QByteArray& s : storage) argv.push_back(s.constData());
    argv.push_back(nullptr);
    std::FILE* own = out ? nullptr : std::tmpfile();
    std::FILE* err = std::tmpfile();
    Answer a;
    a.status = kaldrome::AnswerCommandLine(int(storage.size()), argv.data(), out ? out : own, err);
    a.out = own ? ReadBack(own) : QByteArray();
    a.err = ReadBack(err);
    if (own) std::fclose(own);
    std::fclose(err);
    return a;
}

QSet<QRgb> Colours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
    return colours;
}

// Pixels of one colour, and how many separate 4-connected shapes they make.
int CountShapes(const QImage& image, QRgb colour, int* pixels) {
    const int w = image.width(), h = image.height();
    std::vector<char> seen(static_cast<size_t>(w * h), 0);
    auto at = [w](int x, int y) { return static_cast<size_t>(y * w + x); };
    int shapes = 0;
    *pixels = 0;
    for (int y0 = 0; y0 < h; ++y0)
        for (int x0 = 0; x0 < w; ++x0) {
            if (image.pixel(x0, y0) != colour) continue;
            ++*pixels;
            if (seen[at(x0, y0)]) continue;
            ++shapes;
            std::vector<QPoint> stack{{x0, y0}};
            seen[at(x0, y0)] = 1;
            while (!stack.empty()) {
                const QPoint p = stack.back();
                stack.pop_back();
                for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                    const QPoint q = p + d;
                    if (q.x() < 0 || q.y() < 0 || q.x() >= w || q.y() >= h) continue;
                    if (seen[at(q.x(), q.y())] || image.pixel(q) != colour) continue;
                    seen[at(q.x(), q.y())] = 1;
                    stack.push_back(q);
                }
            }
        }
    return shapes;
}

// The colour that draws "n!" on the icon: the rarer of its two colours.
QRgb InkOf(const QImage& icon) {
    QHash<QRgb, int> count;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x) ++count[icon.pixel(x, y)];
    QRgb ink = 0;
    int least = INT_MAX;
    for (auto it = count.cbegin(); it != count.cend(); ++it)
        if (it.value() < least) least = it.value(), ink = it.key();
    return ink;
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

  private slots:
    void commandLine_data();
    void commandLine();
    void unwritableAnswerFails_data();
    void unwritableAnswerFails();
    void aboutWindowShowsTheBuildVersion();
    void iconStaysSharp_data();
    void iconStaysSharp();
    void scaleSharpRejectsEmpty();
    void helpFileLocation_data();
    void helpFileLocation();
};

void DesktopTest::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");  // -1: the window opens
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("no arguments") << QStringList{} << -1 << QByteArray();
    QTest::newRow("--version") << QStringList{"--version"} << 0 << kVersionLine;
    QTest::newRow("--help") << QStringList{"--help"} << 0 << kUsageStart;
    QTest::newRow("-h") << QStringList{"-h"} << 0 << kUsageStart;
    QTest::newRow("answer after ignored arguments")
        << QStringList{"25", "--geometry", "--version"} << 0 << kVersionLine;
    QTest::newRow("first answer wins: version")
        << QStringList{"--version", "--help"} << 0 << kVersionLine;
    QTest::newRow("first answer wins: help") << QStringList{"-h", "--version"} << 0 << kUsageStart;
    QTest::newRow("unknown option ignored") << QStringList{"--frobnicate"} << -1 << QByteArray();
    QTest::newRow("a number is no input") << QStringList{"25"} << -1 << QByteArray();
    QTest::newRow("toolkit options ignored")
        << QStringList{"-platform", "offscreen", "-style", "fusion"} << -1 << QByteArray();
    QTest::newRow("after -- nothing is an option")
        << QStringList{"--", "--version"} << -1 << QByteArray();
    QTest::newRow("near misses") << QStringList{"--versions", "-help",      "--Help", "-v",
                                                "-version",   "--help=yes", "-hh",    ""}
                                 << -1 << QByteArray();
}

void DesktopTest::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QByteArray, output);

    const Answer a = Ask(args);
    QCOMPARE(a.status, status);
    QCOMPARE(a.err, QByteArray());
    if (output == kUsageStart) {
        // The usage names both options and says what the program is for.
        QVERIFY2(a.out.startsWith(kUsageStart), a.out.constData());
        QVERIFY(a.out.contains("--version") && a.out.contains("-h, --help"));
        QVERIFY(a.out.contains("factorial"));
        QVERIFY(a.out.endsWith('\n'));
    } else {
        QCOMPARE(a.out, output);
    }
}

void DesktopTest::unwritableAnswerFails_data() {
    QTest::addColumn<QString>("option");
    QTest::newRow("--version") << "--version";
    QTest::newRow("--help") << "--help";
}

void DesktopTest::unwritableAnswerFails() {
    QFETCH(QString, option);
    // A full disk must not pass for a successful answer.
    std::FILE* full = std::fopen("/dev/full", "w");
    if (!full) QSKIP("this system has no /dev/full");
    const Answer a = Ask({option}, full);
    std::fclose(full);
    QCOMPARE(a.status, 1);
    QVERIFY2(a.err.startsWith("kaldrome: cannot write the answer: "), a.err.constData());
    QVERIFY2(a.err.contains("No space left on device"), a.err.constData());
}

void DesktopTest::aboutWindowShowsTheBuildVersion() {
    // The About window, --version, the metainfo and the package all give one version.
    QCOMPARE(QByteArray(kaldrome::NameAndVersion()) + "\n", kVersionLine);
    kaldrome::FrmAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    const QString text = about.rtfAbout->toPlainText();
    QVERIFY2(text.contains(QStringLiteral("Version %1").arg(KALDROME_VERSION)), qPrintable(text));
    about.close();
}

void DesktopTest::iconStaysSharp_data() {
    QTest::addColumn<int>("size");
    for (int size : {16, 32, 48, 64, 128, 256}) QTest::addRow("%d px", size) << size;
}

void DesktopTest::iconStaysSharp() {
    QFETCH(int, size);
    const QImage original = kaldrome::ProgramIconAt(32);
    const QImage icon = kaldrome::ProgramIconAt(size);
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(!icon.hasAlphaChannel());

    // No blur: not one colour that the original does not have.
    const QSet<QRgb> colours = Colours(icon);
    QCOMPARE(colours, Colours(original));
    QCOMPARE(colours.size(), 2);

    // "n", stem and dot of "!" stay three separate shapes, and the ink covers
    // about the same share of the icon.
    const QRgb ink = InkOf(original);
    int originalInk = 0, inkPixels = 0;
    QCOMPARE(CountShapes(original, ink, &originalInk), 3);
    QCOMPARE(CountShapes(icon, ink, &inkPixels), 3);
    const double share = double(inkPixels) / (size * size);
    const double originalShare = double(originalInk) / (32 * 32);
    QVERIFY2(qAbs(share - originalShare) < 0.25 * originalShare,
             qPrintable(QStringLiteral("ink share %1 against %2").arg(share).arg(originalShare)));

    // Whole multiples repeat every pixel as a uniform square block.
    if (size % 32 == 0) {
        const int k = size / 32;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                if (icon.pixel(x, y) != original.pixel(x / k, y / k))
                    QFAIL(
                        qPrintable(QStringLiteral("pixel %1,%2 is not its block's").arg(x).arg(y)));
    }
}

void DesktopTest::scaleSharpRejectsEmpty() {
    const QImage icon = kaldrome::ProgramIconAt(32);
    QVERIFY(kaldrome::ScaleSharp(QImage(), 16, 16).isNull());
    QVERIFY(kaldrome::ScaleSharp(icon, 0, 16).isNull());
    QVERIFY(kaldrome::ScaleSharp(icon, 16, -1).isNull());
}

void DesktopTest::helpFileLocation_data() {
    QTest::addColumn<QStringList>("files");  // help files present: "beside", "installed"
    QTest::addColumn<bool>("dataFolder");    // the installed tree's data folder (share/) exists
    QTest::addColumn<QString>("expected");   // where the program looks

    QTest::newRow("build folder: beside the program") << QStringList{"beside"} << false << "beside";
    QTest::newRow("installed tree") << QStringList{"installed"} << true << "installed";
    QTest::newRow("a copy beside the program wins")
        << QStringList{"beside", "installed"} << true << "beside";
    // Missing: the message names the place that fits the tree the program is in.
    QTest::newRow("missing from an installed tree") << QStringList{} << true << "installed";
    QTest::newRow("missing from a plain folder") << QStringList{} << false << "beside";
}

void DesktopTest::helpFileLocation() {
    QFETCH(QStringList, files);
    QFETCH(bool, dataFolder);
    QFETCH(QString, expected);

    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    const QString bin = tree.filePath("usr/bin");
    QVERIFY(QDir().mkpath(bin));
    const QString helpDir = QDir::cleanPath(bin + "/" KALDROME_HELP_FROM_BINDIR);
    QVERIFY(!helpDir.startsWith(bin));
    const QMap<QString, QString> paths{{"beside", bin + "/kaldrome.hlp"},
                                       {"installed", helpDir + "/kaldrome.hlp"}};
    if (dataFolder) QVERIFY(QDir().mkpath(QDir::cleanPath(helpDir + "/..")));
    for (const QString& f : files) {
        QVERIFY(QDir().mkpath(QFileInfo(paths[f]).path()));
        QFile file(paths[f]);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("<a name=\"contents\"></a>") > 0);
    }
    QCOMPARE(kaldrome::HelpFileFor(bin), paths[expected]);
}

QTEST_MAIN(DesktopTest)
#include "test_desktop.moc"
