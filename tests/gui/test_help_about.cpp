// Help viewer, web link and About window: what the user sees and what reaches
// the desktop, with and without the help file, and while a run is going on.
#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QBuffer>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextEdit>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/run_state.h"
#include "commands/common_dialog.h"
#include "commands/exports.h"
#include "commands/frm_about.h"
#include "commands/help_viewer.h"
#include "commands/open_document.h"
#include "gui/guitest.h"
#include "mainwindow/form1.h"
#include "uikit/program_icon.h"

using kaldrome::Form1;

using guitest::After;
using kaldrome::FrmAbout;
using kaldrome::HelpViewer;

namespace {

const QString ProductsUrl = QStringLiteral("http://www.orvanesoftware.com/Products.htm");

QString ShippedHelp() {
    return qEnvironmentVariable("KALDROME_HELP_DIR") + "/kaldrome.hlp";
}

QString ReadText(const QString& path) {
    return QString::fromUtf8(guitest::ReadBytes(path));
}

using guitest::WriteBytes;

// Top of the block that carries the named anchor, in document coordinates; -1 if absent.
int AnchorTop(QTextBrowser* b, const QString& name) {
    QTextDocument* doc = b->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        // An anchor before a heading lands on the block, one before text on the text.
        bool here = block.charFormat().anchorNames().contains(name);
        for (auto it = block.begin(); !it.atEnd(); ++it)
            here = here || it.fragment().charFormat().anchorNames().contains(name);
        if (here) return qRound(doc->documentLayout()->blockBoundingRect(block).top());
    }
    return -1;
}

// Where the view should stand after jumping to an anchor: at the anchor, or at
// the end when the anchor sits in the last screenful.
int ExpectedScroll(QTextBrowser* b, const QString& name) {
    return qMin(AnchorTop(b, name), b->verticalScrollBar()->maximum());
}

// Clicks the first link on screen whose target is href, in the middle of its text.
bool ClickLink(QTextBrowser* b, const QString& href) {
    for (QTextBlock block = b->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().anchorHref() == href) {
                QTextCursor c(b->document());
                c.setPosition(it.fragment().position() + it.fragment().length() / 2);
                const QPoint at = b->cursorRect(c).center();
                if (!b->viewport()->rect().contains(at)) continue;
                QTest::mouseClick(b->viewport(), Qt::LeftButton, {}, at);
                return true;
            }
    return false;
}

// True when no character of the browser's text is part of a link.
bool NoLinks(QTextBrowser* b) {
    for (QTextBlock block = b->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            if (f.isAnchor() || !f.anchorHref().isEmpty() || f.fontUnderline()) return false;
        }
    return true;
}

// The help file beside the test program, present or absent for one test.
class HelpBesideProgram {
  public:
    explicit HelpBesideProgram(bool present) {
        QFile::remove(kaldrome::HelpFilePath());
        if (present) QFile::copy(ShippedHelp(), kaldrome::HelpFilePath());
    }
    ~HelpBesideProgram() { QFile::remove(kaldrome::HelpFilePath()); }
};

// Receives what would have gone to the browser.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls << url; }
};

}  // namespace

class HelpAboutTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void viewerOpensAtContents_data();
    void viewerOpensAtContents();
    void viewerReportsBadFile_data();
    void viewerReportsBadFile();
    void viewerRereadsFile_data();
    void viewerRereadsFile();
    void contentsLinks_data();
    void contentsLinks();
    void viewerHistory_data();
    void viewerHistory();
    void viewerMessageStaysPlain_data();
    void viewerMessageStaysPlain();
    void viewerRefusesSpecialFiles_data();
    void viewerRefusesSpecialFiles();
    void viewerFitsTheScreen_data();
    void viewerFitsTheScreen();
    void viewerFitsHere();
    void printingTopicTellsWhatPrintDoes_data();
    void printingTopicTellsWhatPrintDoes();
    void helpCommand_data();
    void helpCommand();
    void helpViewerGoesWithTheWindow();

    void openDocument_data();
    void openDocument();
    void webCommands_data();
    void webCommands();

    void aboutControls_data();
    void aboutControls();
    void aboutFrame();
    void aboutText_data();
    void aboutText();
    void aboutKeys_data();
    void aboutKeys();
    void aboutTypingIsPlain_data();
    void aboutTypingIsPlain();
    void aboutReloads_data();
    void aboutReloads();

    void commandsDuringRun_data();
    void commandsDuringRun();

  private:
    // The help command of a common dialog of the test's own, as the window uses it.
    HelpViewer* ShowHelp(const QString& path) {
        if (!dialog_) dialog_ = std::make_unique<kaldrome::CommonDialog>(nullptr);
        dialog_->HelpFile = path;
        dialog_->HelpCommand = kaldrome::HelpContents;
        dialog_->ShowHelp();
        return dialog_->HelpWindow();
    }

    QTemporaryDir tmp_;
    UrlCatcher catcher_;
    std::unique_ptr<kaldrome::CommonDialog> dialog_;
};

void HelpAboutTest::initTestCase() {
    QVERIFY(tmp_.isValid());
    QVERIFY2(QFile::exists(ShippedHelp()),
             "KALDROME_HELP_DIR must name the folder of kaldrome.hlp");
    for (const char* scheme : {"http", "https", "file"})
        QDesktopServices::setUrlHandler(scheme, &catcher_, "open");
}

void HelpAboutTest::cleanupTestCase() {
    for (const char* scheme : {"http", "https", "file"}) QDesktopServices::unsetUrlHandler(scheme);
}

void HelpAboutTest::cleanup() {
    dialog_.reset();
    catcher_.urls.clear();
}

// ---------------------------------------------------------------------------
// Help viewer

void HelpAboutTest::viewerOpensAtContents_data() {
    QTest::addColumn<QByteArray>("file");  // empty: the shipped help file
    QTest::addColumn<QString>("title");
    QString shippedTitle;
    const auto m = QRegularExpression("<title>(.*)</title>").match(ReadText(ShippedHelp()));
    if (m.hasMatch()) shippedTitle = m.captured(1);
    QTest::newRow("shipped help file") << QByteArray() << shippedTitle;
    QByteArray preface;
    for (int i = 0; i < 120; ++i)
        preface += "<p>Preface paragraph " + QByteArray::number(i) + "</p>";
    QTest::newRow("contents below a long preface")
        << "<html><head><title>Deep Help</title></head><body>" + preface +
               "<a name=\"contents\"></a><h1>Contents</h1><p>x</p>" + preface + "</body></html>"
        << "Deep Help";
    QTest::newRow("no title: the viewer's own")
        << QByteArray("<html><body><a name=\"contents\"></a><p>Topics</p></body></html>")
        << "Kaldrome Help";
}

void HelpAboutTest::viewerOpensAtContents() {
    QFETCH(QByteArray, file);
    QFETCH(QString, title);
    QVERIFY(!title.isEmpty());
    QString path = ShippedHelp();
    if (!file.isEmpty()) QVERIFY(WriteBytes(path = tmp_.filePath("h.hlp"), file));

    HelpViewer* v = ShowHelp(path);
    QVERIFY(QTest::qWaitForWindowExposed(v));
    QVERIFY2(v->LoadError().isEmpty(), qPrintable(v->LoadError()));
    QVERIFY(!v->isModal() && QApplication::activeModalWidget() == nullptr);
    QCOMPARE(v->windowTitle(), title);
    // A screen reader meets a window named by its title, not a filler.
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(v);
    QCOMPARE(window->role(), QAccessible::Window);
    QCOMPARE(window->text(QAccessible::Name), title);
    QCOMPARE(v->Browser()->source().fragment(), QStringLiteral("contents"));
    QVERIFY(AnchorTop(v->Browser(), "contents") >= 0);
    QTRY_COMPARE(v->Browser()->verticalScrollBar()->value(),
                 ExpectedScroll(v->Browser(), "contents"));
}

void HelpAboutTest::viewerReportsBadFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("phrase");
    QTest::newRow("missing file") << "missing"
                                  << "could not be found";
    QTest::newRow("folder in its place") << "folder"
                                         << "is a folder";
    QTest::newRow("empty file") << "empty"
                                << "not a Kaldrome help file";
    QTest::newRow("binary help of another format") << "binary"
                                                   << "not a Kaldrome help file";
    QTest::newRow("html without a contents page") << "foreign"
                                                  << "not a Kaldrome help file";
}

void HelpAboutTest::viewerReportsBadFile() {
    QFETCH(QString, kind);
    QFETCH(QString, phrase);
    const QString path = tmp_.filePath("bad-" + kind + ".hlp");
    if (kind == "folder") QVERIFY(QDir().mkpath(path));
    if (kind == "empty") QVERIFY(WriteBytes(path, {}));
    if (kind == "binary")
        QVERIFY(WriteBytes(path, QByteArray("\x3f\x5f\x03\x00\xff\xfe\x80\x81", 8)));
    if (kind == "foreign") QVERIFY(WriteBytes(path, "<html><body><p>Other help</p></body></html>"));

    HelpViewer* v = ShowHelp(path);
    QVERIFY(v->isVisible());
    QVERIFY2(v->LoadError().contains(phrase), qPrintable(v->LoadError()));
    QVERIFY(v->LoadError().contains(QFileInfo(path).fileName()));
    // Told inside the viewer's window, not in a box of its own.
    QCOMPARE(v->Browser()->toPlainText(), v->LoadError());
    QCOMPARE(v->windowTitle(), QStringLiteral("Kaldrome Help"));
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void HelpAboutTest::viewerRereadsFile_data() {
    QTest::addColumn<QByteArray>("first");  // empty: no file
    QTest::addColumn<QByteArray>("second");
    const QByteArray a =
        "<html><head><title>First</title></head><body><a name=\"contents\"></a>A</body></html>";
    const QByteArray b =
        "<html><head><title>Second</title></head><body><a name=\"contents\"></a>B</body></html>";
    QTest::newRow("file appears") << QByteArray() << b;
    QTest::newRow("file replaced") << a << b;
    QTest::newRow("file removed") << a << QByteArray();
}

void HelpAboutTest::viewerRereadsFile() {
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    const QString path = tmp_.filePath("changing.hlp");
    QFile::remove(path);
    if (!first.isEmpty()) QVERIFY(WriteBytes(path, first));
    HelpViewer* v = ShowHelp(path);
    QCOMPARE(v->LoadError().isEmpty(), !first.isEmpty());
    v->Browser()->setSource(QUrl("#nowhere"));  // wander off before asking again

    QFile::remove(path);
    if (!second.isEmpty()) QVERIFY(WriteBytes(path, second));
    QCOMPARE(ShowHelp(path), v);  // the same window
    if (second.isEmpty()) {
        QVERIFY(v->LoadError().contains("could not be found"));
    } else {
        QVERIFY2(v->LoadError().isEmpty(), qPrintable(v->LoadError()));
        QCOMPARE(v->windowTitle(), QStringLiteral("Second"));
        QCOMPARE(v->Browser()->toPlainText().trimmed(), QStringLiteral("B"));
        QCOMPARE(v->Browser()->source().fragment(), QStringLiteral("contents"));
        QVERIFY(!v->Browser()->isBackwardAvailable());
    }
}

void HelpAboutTest::contentsLinks_data() {
    QTest::addColumn<QString>("topic");
    const QString text = ReadText(ShippedHelp());
    const QString contents = text.section(QStringLiteral("<hr>"), 0, 0);
    QStringList seen;
    auto it = QRegularExpression("href=\"#([^\"]+)\"").globalMatch(contents);
    while (it.hasNext()) {
        const QString topic = it.next().captured(1);
        if (seen.contains(topic)) continue;
        seen << topic;
        QTest::newRow(qPrintable(topic)) << topic;
    }
    QVERIFY2(seen.size() >= 10, "the contents page links to the topics");
}

void HelpAboutTest::contentsLinks() {
    QFETCH(QString, topic);
    HelpViewer* v = ShowHelp(ShippedHelp());
    QVERIFY(QTest::qWaitForWindowExposed(v));
    QTextBrowser* b = v->Browser();
    QVERIFY2(AnchorTop(b, topic) > 0, "every topic named in the contents exists");
    const int contentsAt = b->verticalScrollBar()->value();

    QVERIFY(ClickLink(b, "#" + topic));
    QTRY_COMPARE(b->source().fragment(), topic);
    QCOMPARE(b->verticalScrollBar()->value(), ExpectedScroll(b, topic));
    auto* back = v->findChild<QPushButton*>("cmdBack");
    QVERIFY(back && back->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    QCOMPARE(b->source().fragment(), QStringLiteral("contents"));
    QCOMPARE(b->verticalScrollBar()->value(), contentsAt);
}

void HelpAboutTest::viewerHistory_data() {
    // Steps: "link:TOPIC" clicks a link to the topic on screen, "back" and
    // "forward" click the viewer's buttons, "alt+back" and "alt+forward" press
    // their access keys.
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("access keys: back then forward")
        << QStringList{"link:limits", "alt+back", "alt+forward"};
    QTest::newRow("access keys: two topics") << QStringList{
        "link:what", "link:document", "alt+back", "alt+back", "alt+forward", "alt+forward"};
    QTest::newRow("access key back, button forward")
        << QStringList{"link:keys", "alt+back", "forward"};
    QTest::newRow("back then forward") << QStringList{"link:limits", "back", "forward"};
    QTest::newRow("two topics, back twice, forward twice")
        << QStringList{"link:what", "link:document", "back", "back", "forward", "forward"};
    QTest::newRow("forward, then back again")
        << QStringList{"link:keys", "back", "forward", "back"};
    QTest::newRow("a new link drops the way forward")
        << QStringList{"link:what", "back", "link:keys", "back", "forward"};
}

void HelpAboutTest::viewerHistory() {
    QFETCH(QStringList, steps);
    HelpViewer* v = ShowHelp(ShippedHelp());
    QVERIFY(QTest::qWaitForWindowExposed(v));
    QTextBrowser* b = v->Browser();
    auto* back = v->findChild<QPushButton*>("cmdBack");
    auto* forward = v->findChild<QPushButton*>("cmdForward");
    QVERIFY(back && forward);

    // The way the user went, and where in it the viewer stands.
    QStringList visited{"contents"};
    qsizetype at = 0;
    for (const QString& step : steps) {
        if (step.startsWith("link:")) {
            const QString topic = step.mid(5);
            QVERIFY2(ClickLink(b, "#" + topic), qPrintable("no link on screen to " + topic));
            visited = visited.mid(0, at + 1) << topic;
            ++at;
        } else {
            const bool backward = step.endsWith("back");
            QPushButton* button = backward ? back : forward;
            QVERIFY2(button->isEnabled(), qPrintable(step));
            if (step.startsWith("alt+")) {
                // The access key, pressed where the focus is (the text after a link).
                QWidget* focus = QApplication::focusWidget();
                QTest::keyClick(focus ? focus : v, backward ? Qt::Key_B : Qt::Key_F,
                                Qt::AltModifier);
            } else {
                QTest::mouseClick(button, Qt::LeftButton);
            }
            at += backward ? -1 : 1;
        }
        const QString expected = visited.at(at);
        QTRY_COMPARE(b->source().fragment(), expected);
        QCOMPARE(b->verticalScrollBar()->value(), ExpectedScroll(b, expected));
        QCOMPARE(back->isEnabled(), at > 0);
        QCOMPARE(forward->isEnabled(), at + 1 < visited.size());
    }
}

void HelpAboutTest::viewerMessageStaysPlain_data() {
    // Where the viewer stood when the help file went missing, and how the help
    // was asked for again.
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("again");
    QTest::newRow("after a topic link, Help again") << QStringList{"link"} << "help";
    QTest::newRow("after a topic link, Contents button") << QStringList{"link"} << "contents";
    QTest::newRow("after Back") << QStringList{"link", "back"} << "help";
    QTest::newRow("after Back and Forward") << QStringList{"link", "back", "forward"} << "help";
    QTest::newRow("no link followed") << QStringList{} << "contents";
}

void HelpAboutTest::viewerMessageStaysPlain() {
    QFETCH(QStringList, before);
    QFETCH(QString, again);
    const QString path = tmp_.filePath("vanishing.hlp");
    QFile::remove(path);
    QVERIFY(QFile::copy(ShippedHelp(), path));
    HelpViewer* v = ShowHelp(path);
    QVERIFY(QTest::qWaitForWindowExposed(v));
    QTextBrowser* b = v->Browser();
    for (const QString& step : before) {
        if (step == "link") QVERIFY(ClickLink(b, "#limits"));
        if (step == "back")
            QTest::mouseClick(v->findChild<QPushButton*>("cmdBack"), Qt::LeftButton);
        if (step == "forward")
            QTest::mouseClick(v->findChild<QPushButton*>("cmdForward"), Qt::LeftButton);
    }

    QVERIFY(QFile::remove(path));
    if (again == "help") QCOMPARE(ShowHelp(path), v);
    if (again == "contents")
        QTest::mouseClick(v->findChild<QPushButton*>("cmdContents"), Qt::LeftButton);

    QVERIFY2(v->LoadError().contains("could not be found"), qPrintable(v->LoadError()));
    QCOMPARE(b->toPlainText(), v->LoadError());
    QVERIFY2(NoLinks(b), "the message is plain text, not a link");
    // A click anywhere on it leaves it as it is.
    QTest::mouseClick(b->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseClick(b->viewport(), Qt::LeftButton, {}, b->viewport()->rect().center());
    QCOMPARE(b->toPlainText(), v->LoadError());
    QVERIFY(!v->findChild<QPushButton*>("cmdBack")->isEnabled());
    QVERIFY(!v->findChild<QPushButton*>("cmdForward")->isEnabled());
}

void HelpAboutTest::viewerRefusesSpecialFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("phrase");
    QTest::newRow("named pipe") << "fifo"
                                << "not a regular file";
    QTest::newRow("link to /dev/zero") << "/dev/zero"
                                       << "not a regular file";
    QTest::newRow("link to /dev/null") << "/dev/null"
                                       << "not a regular file";
    QTest::newRow("file far too large") << "large"
                                        << "far too large";
}

void HelpAboutTest::viewerRefusesSpecialFiles() {
    QFETCH(QString, kind);
    QFETCH(QString, phrase);
    const QString path = tmp_.filePath("special-" + QString(kind).replace('/', '_') + ".hlp");
    QFile::remove(path);
    if (kind == "fifo") QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    if (kind.startsWith("/dev/")) QVERIFY(QFile::link(kind, path));
    if (kind == "large") {
        QFile big(path);
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(17 * 1024 * 1024));
    }

    // A viewer that blocks on the pipe would wait for ever: after a while a
    // writer comes and goes, so that the test ends (and fails) instead.
    std::atomic<bool> answered{false};
    std::thread unblock([&] {
        for (int i = 0; i < 100 && !answered; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (answered || kind != "fifo") return;
        const int fd = open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
    });
    QElapsedTimer clock;
    clock.start();
    HelpViewer* v = ShowHelp(path);
    answered = true;
    unblock.join();

    QVERIFY2(clock.elapsed() < 2000, "the viewer answers at once");
    QVERIFY(v->isVisible());
    QVERIFY2(v->LoadError().contains(phrase), qPrintable(v->LoadError()));
    QVERIFY(v->LoadError().contains(QFileInfo(path).fileName()));
    QCOMPARE(v->Browser()->toPlainText(), v->LoadError());
}

void HelpAboutTest::viewerFitsTheScreen_data() {
    // The screen in a child run of this test: its size in pixels and the scale.
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QString>("scale");
    QTest::newRow("640 x 480") << QSize(640, 480) << "1";
    QTest::newRow("1280 x 1024 at scale 2") << QSize(1280, 1024) << "2";
    QTest::newRow("800 x 600") << QSize(800, 600) << "1";
    QTest::newRow("1920 x 1080") << QSize(1920, 1080) << "1";
}

void HelpAboutTest::viewerFitsTheScreen() {
    QFETCH(QSize, screen);
    QFETCH(QString, scale);
    if (!guitest::ChildRole().isEmpty()) QSKIP("runs in the parent only");
    const QString config = tmp_.filePath("screen.json");
    QVERIFY(
        WriteBytes(config, QStringLiteral("{\"screens\": [{\"name\": \"test\", \"x\": 0, \"y\": 0, "
                                          "\"width\": %1, \"height\": %2, \"logicalDpi\": 96, "
                                          "\"logicalBaseDpi\": 96, \"dpr\": 1}]}")
                               .arg(screen.width())
                               .arg(screen.height())
                               .toUtf8()));
    const guitest::ChildResult child = guitest::RunSelf(
        "fit", {"viewerFitsHere"},
        {{"QT_QPA_PLATFORM", "offscreen:configfile=" + config}, {"QT_SCALE_FACTOR", scale}});
    QVERIFY2(child.finished, child.output.constData());
    QVERIFY2(child.exitStatus == QProcess::NormalExit && child.exitCode == 0,
             child.output.constData());
    QVERIFY2(child.output.contains("PASS   : HelpAboutTest::viewerFitsHere()"),
             child.output.constData());
}

void HelpAboutTest::viewerFitsHere() {
    // On whatever screen this runs: the whole viewer, frame included, is on the
    // screen, and it is as large as it wants to be where there is room.
    HelpViewer* v = ShowHelp(ShippedHelp());
    QVERIFY(QTest::qWaitForWindowExposed(v));
    const QRect room = v->screen()->availableGeometry();
    const QRect frame = v->frameGeometry();
    QVERIFY2(room.contains(frame), qPrintable(QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                                  .arg(frame.x())
                                                  .arg(frame.y())
                                                  .arg(frame.width())
                                                  .arg(frame.height())
                                                  .arg(room.width())
                                                  .arg(room.height())));
    const QSize wanted(620, 660);
    const QSize border = frame.size() - v->size();
    QCOMPARE(v->width(), qMin(wanted.width(), room.width() - border.width()));
    QCOMPARE(v->height(), qMin(wanted.height(), room.height() - border.height()));
    // What it shows stays usable: the buttons and some lines of text.
    QVERIFY(v->findChild<QPushButton*>("cmdBack")->isVisible());
    QVERIFY(v->Browser()->viewport()->height() > 100);
}

void HelpAboutTest::printingTopicTellsWhatPrintDoes_data() {
    // How Print lays out a page, taken from the program itself on an A4 page.
    QBuffer sink;
    QVERIFY(sink.open(QIODevice::WriteOnly));
    QPdfWriter page(&sink);
    page.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter(&page);
    const kaldrome::PrintLayout layout = kaldrome::LayoutFor(painter);
    painter.end();

    QTest::addColumn<QString>("phrase");
    QTest::addColumn<bool>("told");
    QTest::newRow("the font it prints in") << layout.font.family() << true;
    QTest::newRow("its size") << QString::number(layout.font.pointSizeF()) + " points" << true;
    QTest::newRow("a fixed-pitch font") << "fixed-pitch font" << true;
    QTest::newRow("the widest line")
        << QString::number(kaldrome::PrintLineChars) + " characters" << true;
    QTest::newRow("the program breaks the pages") << "Kaldrome starts the next page" << true;
    QTest::newRow("a long printout can be cancelled") << "Cancel button" << true;
    QTest::newRow("a refused job is told") << "refuses the job" << true;
    QTest::newRow("not the printer's font") << "printer's standard font" << false;
    QTest::newRow("not the printer's page breaks") << "where the printer puts them" << false;
}

void HelpAboutTest::printingTopicTellsWhatPrintDoes() {
    QFETCH(QString, phrase);
    QFETCH(bool, told);
    const QString file = ReadText(ShippedHelp());
    const qsizetype from = file.indexOf(QStringLiteral("<a name=\"printing\">"));
    QVERIFY(from >= 0);
    QTextDocument topic;
    topic.setHtml(file.mid(from, file.indexOf(QStringLiteral("<hr>"), from) - from));
    const QString text = topic.toPlainText().simplified();
    QVERIFY2(text.contains(phrase) == told, qPrintable(text));
}

void HelpAboutTest::helpCommand_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("present");
    QTest::newRow("F1, file beside the program") << "F1" << true;
    QTest::newRow("menu item, file missing") << "menu" << false;
    QTest::newRow("pop-up item, file beside the program") << "popup" << true;
}

void HelpAboutTest::helpCommand() {
    QFETCH(QString, how);
    QFETCH(bool, present);
    HelpBesideProgram file(present);
    Form1 form;
    QVERIFY(guitest::ShowActive(&form));

    if (how == "F1") QTest::keyClick(&form, Qt::Key_F1);
    if (how == "menu") form.Ui().mnuHelp->trigger();
    if (how == "popup") form.Ui().mnuHelp_Pop->trigger();

    QCOMPARE(form.Ui().dlgDialogo->HelpFile,
             QCoreApplication::applicationDirPath() + "/kaldrome.hlp");
    QCOMPARE(form.Ui().dlgDialogo->HelpCommand, 3);
    HelpViewer* v = form.Ui().dlgDialogo->HelpWindow();
    QVERIFY(v && v->isVisible());
    QCOMPARE(v->LoadError().isEmpty(), present);
    if (present) QCOMPARE(v->Browser()->source().fragment(), QStringLiteral("contents"));
    if (!present) QVERIFY(v->Browser()->toPlainText().contains("kaldrome.hlp"));

    // The main window carries on: a run still starts and finishes.
    QVERIFY(form.isVisible() && QApplication::activeModalWidget() == nullptr);
    QVERIFY(guitest::ShowActive(&form));
    guitest::EnterNumber(form, "5");
    QCOMPARE(guitest::ResultShown(form), QStringLiteral("  0000120"));
}

void HelpAboutTest::helpViewerGoesWithTheWindow() {
    HelpBesideProgram file(true);
    QPointer<HelpViewer> viewer;
    {
        Form1 form;
        form.Ui().mnuHelp->trigger();
        viewer = form.Ui().dlgDialogo->HelpWindow();
        QVERIFY(viewer && viewer->isVisible());
        form.Ui().mnuHelp_Pop->trigger();
        QCOMPARE(form.Ui().dlgDialogo->HelpWindow(),
                 viewer.data());  // raised again, not a second one
    }
    QVERIFY(viewer.isNull());
}

// ---------------------------------------------------------------------------
// Web link

void HelpAboutTest::openDocument_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("expected");  // empty: nothing may be opened
    QTest::newRow("products page gets http") << kaldrome::ProductsPageAddress() << ProductsUrl;
    QTest::newRow("full address kept") << "https://orvanesoftware.com/a?b=1"
                                       << "https://orvanesoftware.com/a?b=1";
    QTest::newRow("surrounding spaces dropped") << "  www.orvanesoftware.com/x.htm "
                                                << "http://www.orvanesoftware.com/x.htm";
    QTest::newRow("absolute path as file") << "/tmp/notes.txt"
                                           << "file:///tmp/notes.txt";
    QTest::newRow("empty address opens nothing") << ""
                                                 << "";
    QTest::newRow("blank address opens nothing") << "   "
                                                 << "";
}

void HelpAboutTest::openDocument() {
    QFETCH(QString, target);
    QFETCH(QString, expected);
    const QString result = kaldrome::Utilities::OpenDocument(target);
    if (expected.isEmpty()) {
        QVERIFY(catcher_.urls.isEmpty());
        QVERIFY2(result.startsWith("not an address"), qPrintable(result));
    } else {
        QCOMPARE(catcher_.urls, QList<QUrl>{QUrl(expected)});
        QCOMPARE(result, "opened " + expected);
    }
}

void HelpAboutTest::webCommands_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("opened");
    QTest::newRow("menu item") << "menu" << 1;
    QTest::newRow("pop-up item") << "popup" << 1;
    QTest::newRow("About link picture, left click") << "picture" << 1;
    QTest::newRow("About link picture, right click") << "picture-right" << 0;
    // Tab reaches the picture after the text.
    QTest::newRow("About link picture, Enter") << "picture-Enter" << 1;
    QTest::newRow("About link picture, Space") << "picture-Space" << 1;
    QTest::newRow("About link picture, Alt+Enter does nothing") << "picture-Alt+Enter" << 0;
    QTest::newRow("About link picture, a screen reader's press") << "picture-press" << 1;
}

void HelpAboutTest::webCommands() {
    QFETCH(QString, how);
    QFETCH(int, opened);
    guitest::DialogDriver dog;
    Form1 form;
    if (how == "menu") form.Ui().mnuWeb->trigger();
    if (how == "popup") form.Ui().mnuWeb_Pop->trigger();
    if (how.startsWith("picture")) {
        After(100, &form, [&] {
            auto* about = qobject_cast<FrmAbout*>(form.About());
            QLabel* pic = about->imgDireccion;
            if (how == "picture") QTest::mouseClick(pic, Qt::LeftButton);
            if (how == "picture-right") QTest::mouseClick(pic, Qt::RightButton);
            for (int tab = 0; tab < 2; ++tab)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            const bool reached = QApplication::focusWidget() == pic;
            if (how == "picture-Enter") QTest::keyClick(pic, Qt::Key_Return);
            if (how == "picture-Space") QTest::keyClick(pic, Qt::Key_Space);
            if (how == "picture-Alt+Enter") QTest::keyClick(pic, Qt::Key_Return, Qt::AltModifier);
            QAccessibleInterface* link = QAccessible::queryAccessibleInterface(pic);
            if (how == "picture-press" && link->role() == QAccessible::Link &&
                link->text(QAccessible::Name) == "Visit Us")
                link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            (void)QTest::qWaitFor([&] { return !catcher_.urls.isEmpty(); }, opened ? 2000 : 0);
            if (!reached) catcher_.urls << QUrl("the focus missed the picture");
            about->cmdContinue->click();
        });
        form.Ui().mnuAbout->trigger();
    }
    QCOMPARE(catcher_.urls, QList<QUrl>(opened, QUrl(ProductsUrl)));
    GUITEST_VERIFY_DIALOGS(dog);
}

// ---------------------------------------------------------------------------
// About window

void HelpAboutTest::aboutControls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::newRow("imgKaldrome") << "imgKaldrome" << QRect(120, 360, 480, 480) << ""
                                 << "";
    QTest::newRow("rtfAbout") << "rtfAbout" << QRect(720, 120, 4335, 975) << ""
                              << "";
    QTest::newRow("imgDireccion") << "imgDireccion" << QRect(720, 1920, 1860, 270) << ""
                                  << "Visit Us";
    QTest::newRow("cmdContinue") << "cmdContinue" << QRect(4080, 1440, 975, 495) << "&Continue"
                                 << " Alt + C ";
    QTest::newRow("Image1") << "Image1" << QRect(150, 2400, 4935, 60) << ""
                            << "";
    QTest::newRow("lblWarning") << "lblWarning" << QRect(210, 2520, 4815, 1065)
                                << kaldrome::LegalNotice() << "";
}

void HelpAboutTest::aboutControls() {
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    FrmAbout about;
    about.show();  // loads it
    QWidget* w = about.findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    QCOMPARE(w->toolTip(), toolTip);
    if (auto* b = qobject_cast<QPushButton*>(w)) QCOMPARE(b->text(), text);
    if (auto* l = qobject_cast<QLabel*>(w)) QCOMPARE(l->text(), text);
    // Only Continue, the text box and the link picture take the focus, in that order.
    const bool focusable = name == "cmdContinue" || name == "rtfAbout" || name == "imgDireccion";
    QCOMPARE(w->focusPolicy() != Qt::NoFocus, focusable);
    about.close();
}

void HelpAboutTest::aboutFrame() {
    guitest::DialogDriver dog;
    FrmAbout about;
    After(100, &about, [&] {
        QCOMPARE(QApplication::activeModalWidget(), &about);
        QCOMPARE(QApplication::focusWidget(), about.cmdContinue);
        about.cmdContinue->click();
    });
    about.ShowModal();
    QCOMPARE(about.windowTitle(), QStringLiteral("About Kaldrome"));
    QCOMPARE(about.size(), QSize(349, 234));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    const Qt::WindowFlags f = about.windowFlags();
    QVERIFY(f & Qt::WindowCloseButtonHint);
    QVERIFY(!(f & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(f & Qt::WindowType_Mask, Qt::Dialog);
    const QPoint centre = about.screen()->availableGeometry().center();
    QVERIFY(qAbs(about.frameGeometry().center().x() - centre.x()) <= 1);
    QVERIFY(qAbs(about.frameGeometry().center().y() - centre.y()) <= 1);
    QVERIFY(about.cmdContinue->isDefault());
    QCOMPARE(about.cmdContinue->nextInFocusChain(), about.rtfAbout);
    QVERIFY(!about.imgKaldrome->hasScaledContents());
    QCOMPARE(about.imgKaldrome->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
             kaldrome::ProgramIconImage().convertToFormat(QImage::Format_RGB32));
    QVERIFY(about.Image1->hasScaledContents());
    const QCursor hand = about.imgDireccion->cursor();
    QCOMPARE(hand.shape(), Qt::BitmapCursor);
    QCOMPARE(hand.pixmap().size(), QSize(32, 32));
    QCOMPARE(qAlpha(hand.pixmap().toImage().pixel(hand.hotSpot())), 255);  // on the fingertip
    GUITEST_VERIFY_DIALOGS(dog);
}

void HelpAboutTest::aboutText_data() {
    QTest::addColumn<QString>("piece");
    QTest::addColumn<bool>("name");  // a name: Times New Roman 12 blue; else Arial 10 black
    QTest::newRow("product") << "Kaldrome" << true;
    QTest::newRow("version") << "  Version 1.12" << false;
    QTest::newRow("maker") << "Orvane Software" << true;
    QTest::newRow("company") << "Vellmark Group" << true;
    QTest::newRow("rights") << ". All rights reserved." << false;
}

void HelpAboutTest::aboutText() {
    QFETCH(QString, piece);
    QFETCH(bool, name);
    FrmAbout about;
    about.show();
    QTextDocument* doc = about.rtfAbout->document();
    QCOMPARE(doc->blockCount(), 3);
    QTextCharFormat format;
    bool found = false;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().text() == piece) found = true, format = it.fragment().charFormat();
    QVERIFY2(found, qPrintable(piece));
    QCOMPARE(format.fontFamilies().toStringList().value(0),
             name ? QStringLiteral("Times New Roman") : QStringLiteral("Arial"));
    QCOMPARE(format.fontPointSize(), name ? 12.0 : 10.0);
    QCOMPARE(format.foreground().color(), name ? QColor(0, 0, 255) : QColor(0, 0, 0));
    // The family resolves to a real font of the same kind.
    const QString real = QFontInfo(format.font()).family();
    QVERIFY2(real.contains(name ? "Serif" : "Sans") || real == "Times New Roman" || real == "Arial",
             qPrintable(real));
    // Every paragraph stays on one line, and all three show without scrolling.
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        QCOMPARE(block.layout()->lineCount(), 1);
    QVERIFY(doc->size().height() <= about.rtfAbout->viewport()->height());
    // The legal notice has its length and fits inside the window.
    QCOMPARE(kaldrome::LegalNotice().size(), 289);
    QLabel* warn = about.lblWarning;
    QVERIFY(warn->y() + warn->heightForWidth(warn->width()) <= about.height());
    about.close();
}

void HelpAboutTest::aboutKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Enter") << int(Qt::Key_Return) << 0 << true;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true;
    QTest::newRow("Space") << int(Qt::Key_Space) << 0 << true;
    QTest::newRow("Alt+C") << int(Qt::Key_C) << int(Qt::AltModifier) << true;
    QTest::newRow("a letter stays") << int(Qt::Key_Q) << 0 << false;
    QTest::newRow("Tab moves on") << int(Qt::Key_Tab) << 0 << false;
}

void HelpAboutTest::aboutKeys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, closes);
    guitest::DialogDriver dog;
    FrmAbout about;
    QWidget* target = nullptr;
    bool open = true;
    bool continued = false;
    After(100, &about, [&] {
        // The key goes where a user's key would: to the focus, which opens on Continue.
        target = QApplication::focusWidget();
        QTest::keyClick(target ? target : &about, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        // A key may press the button visibly first and click it a moment later.
        open = !QTest::qWaitFor([&] { return !about.isVisible(); }, 400);
        continued = about.result() == QDialog::Accepted;
        if (open) about.reject();
    });
    about.ShowModal();
    QCOMPARE(target, about.cmdContinue);
    QCOMPARE(open, !closes);
    QCOMPARE(continued, closes);
    GUITEST_VERIFY_DIALOGS(dog);
}

void HelpAboutTest::aboutTypingIsPlain_data() {
    // Where the caret stands when the user types, and how much is selected.
    QTest::addColumn<QString>("at");
    QTest::addColumn<int>("selected");
    QTest::newRow("start of the text") << "" << 0;
    QTest::newRow("inside the product name") << "Kal" << 0;
    QTest::newRow("right after the product name") << "Kaldrome" << 0;
    QTest::newRow("inside a company name") << "Orvane Soft" << 0;
    QTest::newRow("over a selected company name") << "Made by " << 15;
    QTest::newRow("end of the text") << "reserved." << 0;
}

void HelpAboutTest::aboutTypingIsPlain() {
    QFETCH(QString, at);
    QFETCH(int, selected);
    guitest::DialogDriver dog;
    FrmAbout about;
    QString text;
    QList<QTextCharFormat> typed;
    After(100, &about, [&] {
        QTextEdit* box = about.rtfAbout;
        box->setFocus();
        const int position = at.isEmpty() ? 0 : int(box->toPlainText().indexOf(at) + at.size());
        QTextCursor c = box->textCursor();
        c.setPosition(position);
        c.setPosition(position + selected, QTextCursor::KeepAnchor);
        box->setTextCursor(c);
        QTest::keyClicks(box, "xyz");
        text = box->toPlainText();
        const int from = int(text.indexOf("xyz"));
        for (int i = from; from >= 0 && i < from + 3; ++i) {
            QTextCursor after(box->document());
            after.setPosition(i + 1);  // the format of the character before the cursor
            typed << after.charFormat();
        }
        about.cmdContinue->click();
    });
    about.ShowModal();
    QCOMPARE(typed.size(), 3);
    for (const QTextCharFormat& f : typed) {
        QCOMPARE(f.fontFamilies().toStringList().value(0), QStringLiteral("Arial"));
        QCOMPARE(f.fontPointSize(), 10.0);
        QCOMPARE(f.foreground().color(), QColor(0, 0, 0));
    }
    GUITEST_VERIFY_DIALOGS(dog);
}

void HelpAboutTest::aboutReloads_data() {
    QTest::addColumn<QString>("meddle");
    QTest::newRow("text typed into the text box") << "type";
    QTest::newRow("text box emptied") << "empty";
    QTest::newRow("legal notice replaced") << "notice";
    QTest::newRow("application help file changed") << "helpfile";
}

void HelpAboutTest::aboutReloads() {
    QFETCH(QString, meddle);
    guitest::DialogDriver dog;
    Form1 form;
    QString firstHtml;
    After(100, &form, [&] {
        auto* about = qobject_cast<FrmAbout*>(form.About());
        firstHtml = about->rtfAbout->toHtml();
        if (meddle == "type") {
            about->rtfAbout->setFocus();
            QTest::keyClicks(about->rtfAbout, "typed here");
        }
        if (meddle == "empty") about->rtfAbout->clear();
        if (meddle == "notice") about->lblWarning->setText("changed");
        if (meddle == "helpfile") kaldrome::SetApplicationHelpFile("/elsewhere/other.hlp");
        about->cmdContinue->click();
    });
    form.Ui().mnuAbout->trigger();
    auto* about = qobject_cast<FrmAbout*>(form.About());
    QVERIFY(about && !about->isVisible());
    QVERIFY(meddle != "type" || about->rtfAbout->toPlainText().contains("typed here"));

    QString secondHtml;
    After(100, &form, [&] {
        secondHtml = about->rtfAbout->toHtml();
        QCOMPARE(QApplication::focusWidget(), about->cmdContinue);
        about->cmdContinue->click();
    });
    form.Ui().mnuAbout_Pop->trigger();
    QCOMPARE(form.About(), about);  // created once, shown again
    QCOMPARE(secondHtml, firstHtml);
    QVERIFY(firstHtml.contains("Kaldrome"));
    QCOMPARE(about->lblWarning->text(), kaldrome::LegalNotice());
    QCOMPARE(kaldrome::ApplicationHelpFile(), kaldrome::HelpFilePath());
    GUITEST_VERIFY_DIALOGS(dog);
}

// ---------------------------------------------------------------------------
// During a run

void HelpAboutTest::commandsDuringRun_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("holds");
    QTest::newRow("About holds the run") << "about" << true;
    QTest::newRow("Help lets it go on") << "help" << false;
    QTest::newRow("web link lets it go on") << "web" << false;
}

void HelpAboutTest::commandsDuringRun() {
    QFETCH(QString, command);
    QFETCH(bool, holds);
    guitest::DialogDriver dog(6000);
    HelpBesideProgram file(true);
    Form1 form;
    form.UseFactorLoop();  // a run of 400,000! that lasts seconds
    QVERIFY(guitest::ShowActive(&form));
    const auto factor = [&form] { return form.State().Multiplier; };

    int before = -1, heldFrom = -1, heldTo = -1, after = -1;
    QString clockFrom, clockTo;
    bool returnedAtOnce = false;
    After(400, &form, [&] {
        before = factor();
        if (command == "about") {
            After(300, &form, [&] { heldFrom = factor(), clockFrom = form.Ui().lblTime->text(); });
            After(1500, &form, [&] {
                heldTo = factor(), clockTo = form.Ui().lblTime->text();
                qobject_cast<FrmAbout*>(form.About())->cmdContinue->click();
            });
            form.Ui().mnuAbout->trigger();
        }
        if (command == "help") form.Ui().mnuHelp->trigger();
        if (command == "web") form.Ui().mnuWeb->trigger();
        returnedAtOnce = QApplication::activeModalWidget() == nullptr;
        const int resumedFrom = factor();
        After(500, &form, [&, resumedFrom] {
            after = factor() - resumedFrom;
            form.Ui().cmdStop->click();
        });
    });
    After(15000, &form, [&] { form.Ui().cmdStop->click(); });  // never let a run outlast the test

    guitest::EnterNumber(form, "400000");  // returns when the run has stopped

    QVERIFY2(before > 0, "the command came during the run");
    QVERIFY(returnedAtOnce);
    QVERIFY2(after > 0, "the run goes on after the command");
    QVERIFY(form.State().Multiplier < 400000);
    if (holds) {
        QCOMPARE(heldTo, heldFrom);
        QCOMPARE(clockTo, clockFrom);
    }
    if (command == "help") QVERIFY(form.Ui().dlgDialogo->HelpWindow()->isVisible());
    if (command == "web") QCOMPARE(catcher_.urls, QList<QUrl>{QUrl(ProductsUrl)});
    GUITEST_VERIFY_DIALOGS(dog);
}

QTEST_MAIN(HelpAboutTest)
#include "test_help_about.moc"
