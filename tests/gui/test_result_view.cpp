// The result box (ResultView): its lines, scrolling by keys and wheel, which
// lines it paints and that it paints them, and what happens when memory runs
// out while a result is being shown: in the box itself, and in the window
// while it renders or shows a result.
//
// Allocations fail on demand (failing_new.h).
#include <QAbstractSlider>
#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QWheelEvent>
#include <QtTest>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "failing_new.h"
#include "guitest.h"
#include "mainwindow/form1.h"
#include "mainwindow/percent_bar.h"
#include "mainwindow/result_view.h"

using failing_new::failedSize;

namespace {

// Lines of "  0000001" .. of count lines, CR LF after each but the last.
std::string Numbered(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        text += "  " + std::string(7 - std::to_string(i).size(), '0') + std::to_string(i);
        if (i < count) text += "\r\n";
    }
    return text;
}

// Runs armed when watched is shown.
class OnShow : public QObject {
  public:
    OnShow(QWidget* watched, std::function<void()> armed) : armed_(std::move(armed)) {
        watched->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show && armed_) std::exchange(armed_, nullptr)();
        return false;
    }

  private:
    std::function<void()> armed_;
};

}  // namespace

class ResultViewTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<kaldrome::ResultView> view_;

    QAccessibleInterface* Accessible() const {
        return QAccessible::queryAccessibleInterface(view_.get());
    }
    std::string text_;  // what view_ shows: it keeps no copy

    void Show(std::string text) {
        text_ = std::move(text);
        view_->SetText(text_);
        QCoreApplication::processEvents();
    }

  private slots:
    void init() {
        view_ = std::make_unique<kaldrome::ResultView>();
        view_->resize(441, 169);
        QVERIFY(guitest::ShowActive(view_.get()));
    }
    void cleanup() {
        failing_new::Disarm();
        view_.reset();
    }

    void lines_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("one group, no line end") << "  0000006" << QStringList{"  0000006"};
        QTest::newRow("CR LF between lines") << "ab\r\ncd" << QStringList{"ab", "cd"};
        QTest::newRow("a line end at the end starts no line") << "ab\r\ncd\r\n"
                                                              << QStringList{"ab", "cd"};
        QTest::newRow("LF alone") << "ab\ncd" << QStringList{"ab", "cd"};
        QTest::newRow("empty lines count") << "\r\n\r\nx" << QStringList{"", "", "x"};
        QTest::newRow("a CR inside a line stays") << "a\rb" << QStringList{"a\rb"};
    }

    void lines() {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        Show(text.toStdString());
        QCOMPARE(view_->LineCount(), lines.size());
        for (int i = 0; i < lines.size(); ++i)
            QCOMPARE(QString::fromLatin1(view_->Line(i)), lines.at(i));
        // The view reads the text where it lies.
        QCOMPARE(static_cast<const void*>(view_->Text().data()),
                 static_cast<const void*>(text_.data()));
    }

    void scrolling_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("startLine");
        QTest::addColumn<QString>("expected");  // "page", "last" or a line number
        QTest::newRow("Down") << "Down" << 0 << "1";
        QTest::newRow("Up at the top") << "Up" << 0 << "0";
        QTest::newRow("Up") << "Up" << 10 << "9";
        QTest::newRow("Page Down") << "PageDown" << 0 << "page";
        QTest::newRow("Page Up") << "PageUp" << 50 << "50-page";
        QTest::newRow("End") << "End" << 0 << "last";
        QTest::newRow("Ctrl+End") << "Ctrl+End" << 0 << "last";
        QTest::newRow("Home") << "Home" << 77 << "0";
        QTest::newRow("Ctrl+Home") << "Ctrl+Home" << 77 << "0";
        QTest::newRow("Down at the end") << "Down" << -1 << "last";
        QTest::newRow("wheel down one notch") << "wheel-down" << 0 << "wheel";
        QTest::newRow("wheel up one notch") << "wheel-up" << 20 << "20-wheel";
    }

    void scrolling() {
        QFETCH(QString, input);
        QFETCH(int, startLine);
        QFETCH(QString, expected);
        Show(Numbered(1000));
        QScrollBar* bar = view_->verticalScrollBar();
        const int last = int(view_->LineCount()) - view_->WholeLinesInView();
        QCOMPARE(bar->maximum(), last);
        bar->setValue(startLine < 0 ? last : startLine);
        const int page = view_->WholeLinesInView();
        const int wheel = QApplication::wheelScrollLines();

        if (input.startsWith("wheel")) {
            const QPoint at = view_->viewport()->rect().center();
            const int delta = input == "wheel-down" ? -120 : 120;
            QWheelEvent notch(at, view_->viewport()->mapToGlobal(at), {}, {0, delta}, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view_->viewport(), &notch);
        } else {
            const Qt::KeyboardModifiers ctrl =
                input.startsWith("Ctrl+") ? Qt::ControlModifier : Qt::NoModifier;
            const QString name = input.mid(input.startsWith("Ctrl+") ? 5 : 0);
            const QMap<QString, Qt::Key> keys{
                {"Down", Qt::Key_Down},     {"Up", Qt::Key_Up},   {"PageDown", Qt::Key_PageDown},
                {"PageUp", Qt::Key_PageUp}, {"End", Qt::Key_End}, {"Home", Qt::Key_Home}};
            QTest::keyClick(view_.get(), keys.value(name), ctrl);
        }
        int want = 0;
        if (expected == "page")
            want = page;
        else if (expected == "50-page")
            want = 50 - page;
        else if (expected == "last")
            want = last;
        else if (expected == "wheel")
            want = wheel;
        else if (expected == "20-wheel")
            want = 20 - wheel;
        else
            want = expected.toInt();
        QCOMPARE(view_->FirstVisibleLine(), want);
        // The caret, for a screen reader, is the start of the first line in sight.
        const int caret = 11 * want;  // lines of nine characters and CR LF
        QCOMPARE(Accessible()->textInterface()->cursorPosition(), caret);
    }

    void textInterface_data() {
        QTest::addColumn<int>("boundary");
        QTest::addColumn<QString>("where");  // at, before or after the offset
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("start");  // -1: no piece
        QTest::addColumn<int>("end");
        // Three lines: [0, 11) [11, 22) [22, 31), each "  000000k" with CR LF but the last.
        const int character = QAccessible::CharBoundary, word = QAccessible::WordBoundary,
                  line = QAccessible::LineBoundary;
        QTest::newRow("character") << character << "at" << 2 << 2 << 3;
        QTest::newRow("character past the end") << character << "at" << 31 << -1 << -1;
        QTest::newRow("word of digits") << word << "at" << 5 << 2 << 9;
        QTest::newRow("word of blanks") << word << "at" << 0 << 0 << 2;
        QTest::newRow("a line end joins the blanks after it") << word << "at" << 9 << 9 << 13;
        QTest::newRow("word after") << word << "after" << 5 << 9 << 13;
        QTest::newRow("line at its CR") << line << "at" << 20 << 11 << 22;
        QTest::newRow("line before") << line << "before" << 15 << 0 << 11;
        QTest::newRow("nothing after the last line") << line << "after" << 25 << -1 << -1;
        QTest::newRow("last line before the end of the text") << line << "before" << 31 << 22 << 31;
        QTest::newRow("a paragraph is a line")
            << int(QAccessible::ParagraphBoundary) << "at" << 25 << 22 << 31;
        QTest::newRow("whole text") << int(QAccessible::NoBoundary) << "at" << 7 << 0 << 31;
    }

    void textInterface() {
        QFETCH(int, boundary);
        QFETCH(QString, where);
        QFETCH(int, offset);
        QFETCH(int, start);
        QFETCH(int, end);
        Show(Numbered(3));
        QAccessibleInterface* box = Accessible();
        QCOMPARE(box->role(), QAccessible::EditableText);
        QVERIFY(box->state().readOnly && box->state().multiLine);
        QAccessibleTextInterface* text = box->textInterface();
        QCOMPARE(text->characterCount(), 31);
        QCOMPARE(text->text(13, 20), QString("0000002"));
        const auto type = QAccessible::TextBoundaryType(boundary);
        int s = -2, e = -2;
        const QString piece = where == "at"       ? text->textAtOffset(offset, type, &s, &e)
                              : where == "before" ? text->textBeforeOffset(offset, type, &s, &e)
                                                  : text->textAfterOffset(offset, type, &s, &e);
        QCOMPARE(s, start);
        QCOMPARE(e, end);
        const std::string expected =
            start < 0 ? std::string() : text_.substr(std::size_t(start), std::size_t(end - start));
        QCOMPARE(piece, QString::fromStdString(expected));
    }

    void characterPlaces() {
        // Each character has its own box, and the box's point leads back to it.
        Show(Numbered(1000));
        view_->verticalScrollBar()->setValue(40);
        QAccessibleTextInterface* text = Accessible()->textInterface();
        for (int offset : {11 * 40, 11 * 40 + 5, 11 * 41 + 8}) {
            const QRect box = text->characterRect(offset);
            QVERIFY(box.width() > 0 && box.height() > 0);
            QCOMPARE(text->offsetAtPoint(box.center()), offset);
        }
        QCOMPARE(text->offsetAtPoint(view_->viewport()->mapToGlobal(QPoint(-5, -5))), -1);
        text->setCursorPosition(11 * 600 + 3);  // a screen reader moves the caret
        QCOMPARE(view_->FirstVisibleLine(), 600);
    }

    void focusFrame() {
        // Tab to the box frames its first line, where the keyboard's caret is.
        Show(Numbered(1000));
        view_->clearFocus();
        QCoreApplication::processEvents();
        const QImage before = view_->viewport()->grab().toImage();
        view_->setAttribute(Qt::WA_KeyboardFocusChange);  // as a Tab does
        view_->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        const QImage after = view_->viewport()->grab().toImage();
        const int band = (kaldrome::ResultView::Margin + view_->fontMetrics().lineSpacing() + 2) *
                         after.height() / view_->viewport()->height();
        int inBand = 0, below = 0;
        for (int y = 0; y < after.height(); ++y)
            for (int x = 0; x < after.width(); ++x)
                (y <= band ? inBand : below) += after.pixel(x, y) != before.pixel(x, y);
        QVERIFY2(inBand > after.width(), qPrintable(QString::number(inBand)));
        QCOMPARE(below, 0);
    }

    void paintsTheLinesInSight_data() {
        QTest::addColumn<int>("firstLine");
        QTest::newRow("top") << 0;
        QTest::newRow("middle") << 500;
        QTest::newRow("bottom") << -1;
    }

    void paintsTheLinesInSight() {
        QFETCH(int, firstLine);
        Show(Numbered(1000));
        QScrollBar* bar = view_->verticalScrollBar();
        bar->setValue(firstLine < 0 ? bar->maximum() : firstLine);
        const QImage shown = view_->viewport()->grab().toImage();
        const std::int64_t first = view_->FirstVisibleLine();
        // The lines in sight, whole or in part, and no others: those whose
        // band meets the viewport below the top margin (with some fonts the
        // last whole line leaves a pixel row for the next).
        const int height = view_->fontMetrics().lineSpacing();
        const int sight =
            (view_->viewport()->height() - 1 - kaldrome::ResultView::Margin) / height + 1;
        QCOMPARE(view_->LastPaintedFirst(), first);
        QVERIFY(view_->LastPaintedEnd() >= first + view_->WholeLinesInView());
        QCOMPARE(view_->LastPaintedEnd(), std::min<std::int64_t>(1000, first + sight));
        // Each line in sight is drawn, in the text colour, in its own band.
        const QRgb background = shown.pixel(shown.width() - 1, shown.height() - 1);
        for (int k = 0; k < view_->WholeLinesInView(); ++k) {
            int ink = 0;
            const int top = (kaldrome::ResultView::Margin + k * height) * shown.height() /
                            view_->viewport()->height();
            for (int y = top; y < top + height && y < shown.height(); ++y)
                for (int x = 0; x < shown.width(); ++x) ink += shown.pixel(x, y) != background;
            QVERIFY2(ink > 0, qPrintable(QString("line %1 in sight is blank").arg(k)));
        }
        // Another line at the same place looks different.
        bar->setValue(bar->value() == 0 ? 1 : bar->value() - 1);
        QVERIFY(view_->viewport()->grab().toImage() != shown);
    }

    void failedAllocationKeepsWhatIsShown() {
        Show(Numbered(10));
        std::string bigger = Numbered(5000);
        failing_new::Arm(1, SIZE_MAX);
        QVERIFY_THROWS_EXCEPTION(std::bad_alloc, view_->SetText(bigger));
        QVERIFY(failedSize > 0);
        QCOMPARE(static_cast<const void*>(view_->Text().data()),
                 static_cast<const void*>(text_.data()));
        QCOMPARE(view_->LineCount(), 10);
        QCOMPARE(QString::fromLatin1(view_->Line(9)), QString("  0000010"));
    }

    // ---- the window when memory runs out while a result is shown -------------

    void windowSurvivesMemoryRunningOut_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("below");
        // 20,000! has 11,049 limbs: a display text of 103,859 characters in
        // 2,210 lines, so the box's line offsets take 8,840 bytes. Armed once
        // the limbs are seeded (when the percent bar shows), so that the
        // rendering or the box fails, and nothing before them.
        QTest::newRow("rendering the display text") << 64 * 1024 << INT_MAX;
        QTest::newRow("putting it in the result box") << 8 * 1024 << 64 * 1024;
    }

    void windowSurvivesMemoryRunningOut() {
        QFETCH(int, from);
        QFETCH(int, below);
        view_.reset();
        kaldrome::Form1 w(kaldrome::NumberSeparators{",", "."});
        QVERIFY(guitest::ShowActive(&w));
        QString message;
        guitest::DialogDriver driver;
        driver.Then([&](QWidget* box, QStringList& failures) {
            auto* shown = qobject_cast<QMessageBox*>(box);
            if (shown == nullptr) {
                failures << "no message box";
                return;
            }
            message = shown->text();
            if (shown->windowTitle() != "Kaldrome") failures << "title " + shown->windowTitle();
            if (shown->icon() != QMessageBox::Critical) failures << "not the stop icon";
            if (shown->standardButtons() != QMessageBox::Ok) failures << "not OK alone";
            QMetaObject::invokeMethod(shown, &QDialog::accept, Qt::QueuedConnection);
        });
        OnShow arm(w.Ui().picPercentBar,
                   [&] { failing_new::Arm(std::size_t(from), std::size_t(below)); });
        guitest::EnterNumber(w, "20000");
        failing_new::Disarm();
        GUITEST_VERIFY_DIALOGS(driver);

        const std::size_t failed = failedSize.load();
        QVERIFY2(failed >= std::size_t(from) && failed < std::size_t(below),
                 qPrintable(QString::number(failed)));
        QCOMPARE(message, QString("There is not enough memory for the result of 20,000!."));
        // Alive, nothing shown, nothing to export, ready for the next number.
        QVERIFY(!w.Running());
        QCOMPARE(w.Ui().rtfResp->LineCount(), 0);
        QVERIFY(w.State().DisplayText.empty());
        for (QAction* item : {w.Ui().mnuCopy, w.Ui().mnuCreateFile, w.Ui().mnuPrint})
            QVERIFY(!item->isEnabled());
        QCOMPARE(w.Ui().lblDigitos->text(), QString("Number of digits....."));
        // The window's focus (it is active again once the message has gone).
        QCOMPARE(w.focusWidget(), static_cast<QWidget*>(w.Ui().txtN));
        QCOMPARE(w.Ui().txtN->selectedText(), QString("20000"));
        QCOMPARE(w.Ui().rtfResp->viewport()->cursor().shape(), Qt::IBeamCursor);

        QVERIFY(guitest::ShowActive(&w));
        guitest::EnterNumber(w, "25");
        QCOMPARE(QString::fromLatin1(w.Ui().rtfResp->Text()),
                 QString("  0015511  2100433  3098598  4000000"));
        QVERIFY(w.Ui().mnuCopy->isEnabled());
    }
};

QTEST_MAIN(ResultViewTest)
#include "test_result_view.moc"
