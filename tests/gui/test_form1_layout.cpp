// The main window as it opens: every control's name, kind, geometry, captions,
// tool tips, fonts and initial state; the frame; the tab order; the menus and
// the pop-up menu; the icon's pixels; the number box's length limit however
// text arrives. The whole layout is checked again at 200 % scaling in a child
// run of this program.
#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QtTest>
#include <memory>

#include "commands/common_dialog.h"
#include "guitest.h"
#include "mainwindow/form1.h"
#include "mainwindow/percent_bar.h"
#include "mainwindow/result_view.h"
#include "uikit/program_icon.h"

using kaldrome::Form1;

namespace {

// The client area, 7185 x 5115 twips at 15 twips to the pixel.
constexpr int ClientWidth = 479;
constexpr int ClientHeight = 341;

QString WithoutAccess(QString caption) {
    return caption.remove('&');
}

}  // namespace

class Form1LayoutTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        w_ = std::make_unique<Form1>();
        QVERIFY(guitest::ShowActive(w_.get()));
    }
    void cleanup() { w_.reset(); }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<double>("pointSize");
        QTest::addColumn<bool>("underline");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("heardAs");     // its name to a screen reader
        QTest::addColumn<QString>("labelledBy");  // the caption tied to it

        const QString none;
        // name, kind, left/top/width/height in pixels (twips / 15), caption, tip,
        // font size (all "MS Sans Serif" bold), underlined, shown at start.
        QTest::newRow("txtN number box")
            << "txtN"
            << "QLineEdit" << QRect(362, 4, 81, 25) << none << "0 - 999,999 and press ENTER" << 12.0
            << false << true << "The factorial of what number do you want to find?"
            << "Label1";
        QTest::newRow("cmdExit button") << "cmdExit"
                                        << "QPushButton" << QRect(358, 232, 81, 33) << "E&xit"
                                        << "Alt + X" << 12.0 << false << true << "Exit" << none;
        QTest::newRow("Label1 question")
            << "Label1"
            << "QLabel" << QRect(10, 8, 337, 25)
            << "The factorial of what number do you want to find?" << none << 9.75 << false << true
            << "The factorial of what number do you want to find?" << none;
        QTest::newRow("lblNumero number label") << "lblNumero"
                                                << "QLabel" << QRect(10, 32, 142, 20) << none
                                                << none << 12.0 << false << true << none << none;
        QTest::newRow("lblDigitos digit label") << "lblDigitos"
                                                << "QLabel" << QRect(9, 232, 238, 20) << none
                                                << none << 12.0 << false << true << none << none;
        QTest::newRow("cmdStop button") << "cmdStop"
                                        << "QPushButton" << QRect(270, 232, 81, 33) << "&Stop"
                                        << "Alt + S" << 12.0 << false << true << "Stop" << none;
        QTest::newRow("Label2 elapsed caption hidden")
            << "Label2"
            << "QLabel" << QRect(16, 272, 97, 17) << "Elapsed time:" << none << 9.75 << false
            << false << "Elapsed time:" << none;
        QTest::newRow("Label3 estimate caption hidden")
            << "Label3"
            << "QLabel" << QRect(326, 272, 113, 17) << "Estimated time:" << none << 9.75 << false
            << false << "Estimated time:" << none;
        QTest::newRow("lblTime elapsed value")
            << "lblTime"
            << "QLabel" << QRect(16, 288, 97, 17) << none << "Hours: Minutes: Seconds" << 9.75
            << true << true << "Elapsed time:"
            << "Label2";
        QTest::newRow("lblEstimado estimate value")
            << "lblEstimado"
            << "QLabel" << QRect(326, 288, 113, 17) << none << "Hours: Minutes: Seconds" << 9.75
            << true << true << "Estimated time:"
            << "Label3";
        QTest::newRow("rtfResp result box")
            << "rtfResp"
            << "kaldrome::ResultView" << QRect(19, 56, 441, 169) << none << none << -1.0 << false
            << true << "Result" << none;
        QTest::newRow("picPercentBar hidden")
            << "picPercentBar"
            << "kaldrome::PercentBar" << QRect(8, 312, 465, 25) << none << none << -1.0 << false
            << false << "Percent" << none;
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);
        QFETCH(double, pointSize);
        QFETCH(bool, underline);
        QFETCH(bool, shown);
        QFETCH(QString, heardAs);
        QFETCH(QString, labelledBy);

        auto* widget = w_->findChild<QWidget*>(name);
        QVERIFY2(widget, qPrintable(name));
        QVERIFY2(widget->inherits(kind.toLatin1()), widget->metaObject()->className());
        QCOMPARE(widget->parentWidget(), w_->centralWidget());
        QCOMPARE(widget->geometry(), geometry);
        QCOMPARE(widget->toolTip(), toolTip);
        QCOMPARE(!widget->isHidden(), shown);
        QVERIFY(widget->isEnabled());
        if (auto* label = qobject_cast<QLabel*>(widget)) QCOMPARE(label->text(), text);
        if (auto* button = qobject_cast<QPushButton*>(widget)) QCOMPARE(button->text(), text);
        if (auto* box = qobject_cast<QLineEdit*>(widget)) QCOMPARE(box->text(), text);
        if (auto* box = qobject_cast<kaldrome::ResultView*>(widget)) QCOMPARE(box->LineCount(), 0);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        QCOMPARE(accessible->text(QAccessible::Name), heardAs);
        QStringList labels;
        for (const auto& [label, relation] : accessible->relations(QAccessible::Label))
            labels << label->object()->objectName();
        QCOMPARE(labels.join(","), labelledBy);
        if (pointSize > 0) {
            const QFont font = widget->font();
            QCOMPARE(font.family(), QString("MS Sans Serif"));
            QCOMPARE(font.pointSizeF(), pointSize);
            QCOMPARE(font.weight(), QFont::Bold);
            QCOMPARE(font.underline(), underline);
            QVERIFY(!font.italic());
            // The substitute really is a sans serif of Arial's metrics, not a fallback.
            QVERIFY2(QFontInfo(font).family().startsWith("Liberation Sans"),
                     qPrintable(QFontInfo(font).family()));
        }
    }

    void captionsFit_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        // The widest caption each control ever shows.
        QTest::newRow("Label1 question") << "Label1"
                                         << "The factorial of what number do you want to find?";
        QTest::newRow("Label2") << "Label2"
                                << "Elapsed time:";
        QTest::newRow("Label3") << "Label3"
                                << "Estimated time:";
        QTest::newRow("lblTime two-digit clock") << "lblTime"
                                                 << "99: 59: 60";
        QTest::newRow("lblEstimado three-digit hours") << "lblEstimado"
                                                       << "999: 59: 60";
        QTest::newRow("lblNumero largest N") << "lblNumero"
                                             << "999,999!=";
        QTest::newRow("lblDigitos while running") << "lblDigitos"
                                                  << "Number of digits.....";
        QTest::newRow("lblDigitos largest count") << "lblDigitos"
                                                  << "Number of digits: 5,565,703";
        QTest::newRow("cmdStop") << "cmdStop"
                                 << "&Stop";
        QTest::newRow("cmdExit") << "cmdExit"
                                 << "E&xit";
        QTest::newRow("txtN six digits") << "txtN"
                                         << "888888";
    }

    void captionsFit() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        auto* widget = w_->findChild<QWidget*>(name);
        QVERIFY(widget);
        const QFontMetrics metrics(widget->font());
        const int needed = metrics.horizontalAdvance(WithoutAccess(caption));
        int room = widget->contentsRect().width();
        if (qobject_cast<QPushButton*>(widget))
            room -= 2 * widget->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, widget);
        if (qobject_cast<QLineEdit*>(widget)) room -= 2 * 2 + 2 * 2;  // frame and text margins
        QVERIFY2(needed <= room,
                 qPrintable(QString("%1 px needed, %2 px room").arg(needed).arg(room)));
        QVERIFY2(
            metrics.height() <= widget->height(),
            qPrintable(QString("%1 px high in %2").arg(metrics.height()).arg(widget->height())));
    }

    void resultBoxShowsAWholeLine() {
        // A display line is 45 characters; it must fit without horizontal scrolling.
        kaldrome::ResultView* box = w_->Ui().rtfResp;
        QVERIFY(QFontInfo(box->font()).fixedPitch());
        const QString line = "  0402387  2600770  9377354  3702433  9230039";
        QCOMPARE(line.size(), 45);
        const int room = box->viewport()->width() - 2 * kaldrome::ResultView::Margin;
        QVERIFY2(QFontMetrics(box->font()).horizontalAdvance(line) < room,
                 qPrintable(QString::number(room)));
        const std::string text = QString(line + "\r\n").repeated(200).toStdString();
        box->SetText(text);
        QCoreApplication::processEvents();
        QVERIFY(!box->horizontalScrollBar()->isVisible());
        QVERIFY(box->verticalScrollBar()->isVisible());
        QCOMPARE(box->verticalScrollBar()->maximum(), 200 - box->WholeLinesInView());
        box->Clear();
    }

    void resultBox() {
        kaldrome::ResultView* box = w_->Ui().rtfResp;
        QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(box->viewport()->backgroundRole(), QPalette::Base);
        // Reached by Tab, never by a click.
        QCOMPARE(box->focusPolicy(), Qt::TabFocus);
    }

    void windowFrame() {
        QCOMPARE(w_->objectName(), QString("Form1"));
        QCOMPARE(w_->windowTitle(),
                 QString("Factorial of a number with all its digits. Orvane Software."));
        const Qt::WindowFlags flags = w_->windowFlags();
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        // Client area below the menu bar, and nothing else.
        const int menuHeight = w_->menuBar()->height();
        QVERIFY(menuHeight > 0);
        QCOMPARE(w_->centralWidget()->geometry(), QRect(0, menuHeight, ClientWidth, ClientHeight));
        QCOMPARE(w_->size(), QSize(ClientWidth, ClientHeight + menuHeight));
        // Fixed size: a resize request changes nothing.
        QCOMPARE(w_->minimumSize(), w_->maximumSize());
        w_->resize(800, 600);
        QCoreApplication::processEvents();
        QCOMPARE(w_->size(), QSize(ClientWidth, ClientHeight + menuHeight));
    }

    void centredOnScreen() {
        const QPoint screenCentre = w_->screen()->availableGeometry().center();
        const QPoint windowCentre = w_->frameGeometry().center();
        QVERIFY2((screenCentre - windowCentre).manhattanLength() <= 2,
                 qPrintable(QString("window centre %1,%2, screen centre %3,%4")
                                .arg(windowCentre.x())
                                .arg(windowCentre.y())
                                .arg(screenCentre.x())
                                .arg(screenCentre.y())));
    }

    void percentBarAndRule() {
        // The bar's background is yellow before anything is drawn.
        const QImage bar = w_->Ui().picPercentBar->grab().toImage();
        QCOMPARE(QColor(bar.pixel(bar.width() / 2, bar.height() / 2)), QColor(255, 255, 0));
        // A thin rule along the top of the client area, past its right edge.
        QFrame* line = w_->Ui().Line1;
        QCOMPARE(line->objectName(), QString("Line1"));
        QCOMPARE(line->frameShape(), QFrame::HLine);
        QCOMPARE(line->geometry().topLeft(), QPoint(0, 0));
        QVERIFY(line->geometry().right() >= ClientWidth - 1);
        QVERIFY(line->height() <= 2);
        QVERIFY(line->isVisible());
        QCOMPARE(line->focusPolicy(), Qt::NoFocus);
        QCOMPARE(QAccessible::queryAccessibleInterface(line)->role(), QAccessible::Separator);
        // The common dialog is an object of the window, not a widget on it.
        auto* dialog = w_->findChild<kaldrome::CommonDialog*>("dlgDialogo");
        QVERIFY(dialog);
        QCOMPARE(dialog, w_->Ui().dlgDialogo);
    }

    void tabOrder_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("barShown");  // the percent bar, as during a run
        QTest::newRow("number box to Exit") << "txtN"
                                            << "cmdExit" << false;
        QTest::newRow("Exit to Stop") << "cmdExit"
                                      << "cmdStop" << false;
        QTest::newRow("Stop to result box") << "cmdStop"
                                            << "rtfResp" << false;
        QTest::newRow("result box back to number box") << "rtfResp"
                                                       << "txtN" << false;
        QTest::newRow("result box to the percent bar shown") << "rtfResp"
                                                             << "picPercentBar" << true;
        QTest::newRow("percent bar back to number box") << "picPercentBar"
                                                        << "txtN" << true;
    }

    void tabOrder() {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, barShown);
        w_->Ui().picPercentBar->setVisible(barShown);
        auto* start = w_->findChild<QWidget*>(from);
        start->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), start);
        QTest::keyClick(start, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w_->findChild<QWidget*>(to));
    }

    void focusAtStart() {
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w_->Ui().txtN));
    }

    void menuBar_data() {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::addColumn<bool>("separator");
        const QKeySequence none;
        QTest::newRow("File: Create File") << "mnuFile"
                                           << "&File" << 0 << "mnuCreateFile"
                                           << "Create &File..." << QKeySequence("Ctrl+F") << false;
        QTest::newRow("File: Print Setup") << "mnuFile"
                                           << "&File" << 1 << "mnuPrintSetup"
                                           << "Print Set&up..." << QKeySequence("Ctrl+U") << false;
        QTest::newRow("File: Print") << "mnuFile"
                                     << "&File" << 2 << "mnuPrint"
                                     << "&Print" << QKeySequence("Ctrl+P") << false;
        QTest::newRow("Edit: Copy") << "mnuEdit"
                                    << "&Edit" << 0 << "mnuCopy"
                                    << "&Copy to Clipboard" << QKeySequence("Ctrl+C") << false;
        QTest::newRow("Help: Help") << "mnuAyuda"
                                    << "&Help" << 0 << "mnuHelp"
                                    << "Kaldrome &Help" << QKeySequence("F1") << false;
        QTest::newRow("Help: separator")
            << "mnuAyuda"
            << "&Help" << 1 << "mnuSeparator" << QString() << none << true;
        QTest::newRow("Help: web") << "mnuAyuda"
                                   << "&Help" << 2 << "mnuWeb"
                                   << "Orvane Software on the &Web..." << none << false;
        QTest::newRow("Help: separator 1")
            << "mnuAyuda"
            << "&Help" << 3 << "mnuSeparator1" << QString() << none << true;
        QTest::newRow("Help: About") << "mnuAyuda"
                                     << "&Help" << 4 << "mnuAbout"
                                     << "&About Kaldrome..." << none << false;
    }

    void menuBar() {
        QFETCH(QString, menu);
        QFETCH(QString, title);
        QFETCH(int, index);
        QFETCH(QString, item);
        QFETCH(QString, caption);
        QFETCH(QKeySequence, shortcut);
        QFETCH(bool, separator);
        auto* m = w_->findChild<QMenu*>(menu);
        QVERIFY(m);
        QCOMPARE(m->title(), title);
        QVERIFY(index < m->actions().size());
        QAction* action = m->actions().at(index);
        QCOMPARE(action->objectName(), item);
        QCOMPARE(action->isSeparator(), separator);
        // A separator's text would be drawn beside its line.
        QCOMPARE(action->text(), caption);
        QCOMPARE(action->shortcut(), shortcut);
        QVERIFY(!action->isCheckable());
        QVERIFY(action->isVisible());
    }

    void menuBarHoldsThreeMenus() {
        const QList<QAction*> top = w_->menuBar()->actions();
        QCOMPARE(top.size(), 3);
        QCOMPARE(top.at(0), w_->Ui().mnuFile->menuAction());
        QCOMPARE(top.at(1), w_->Ui().mnuEdit->menuAction());
        QCOMPARE(top.at(2), w_->Ui().mnuAyuda->menuAction());
        QCOMPARE(w_->Ui().mnuFile->actions().size(), 3);
        QCOMPARE(w_->Ui().mnuEdit->actions().size(), 1);
        QCOMPARE(w_->Ui().mnuAyuda->actions().size(), 5);
        for (QAction* a : top) QVERIFY(a->text() != "PopUpMenu");
    }

    void menusUseTheDesktopFont_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fontClass");  // whose desktop font it wears
        QTest::newRow("menu bar") << "menuBar"
                                  << "QMenuBar";
        QTest::newRow("File menu") << "mnuFile"
                                   << "QMenu";
        QTest::newRow("Edit menu") << "mnuEdit"
                                   << "QMenu";
        QTest::newRow("Help menu") << "mnuAyuda"
                                   << "QMenu";
        QTest::newRow("pop-up menu") << "mnuPopUpMenu"
                                     << "QMenu";
    }

    void menusUseTheDesktopFont() {
        // Not the window's large bold font, which the controls inherit.
        QFETCH(QString, name);
        QFETCH(QString, fontClass);
        auto* widget = w_->findChild<QWidget*>(name);
        QVERIFY(widget);
        const QFont desktop = QApplication::font(fontClass.toLatin1().constData());
        const QFont font = widget->font();
        QCOMPARE(font.family(), desktop.family());
        QCOMPARE(font.pointSizeF(), desktop.pointSizeF());
        QCOMPARE(font.weight(), desktop.weight());
        QVERIFY(!QFontInfo(font).bold());
    }

    void popUpMenu_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("separator");
        QTest::newRow("Create File") << 0 << "mnuCreateFile_Pop"
                                     << "Create &File..." << false;
        QTest::newRow("Copy") << 1 << "mnuCopy_Pop"
                              << "&Copy to Clipboard" << false;
        QTest::newRow("Print") << 2 << "mnuPrint_Pop"
                               << "&Print" << false;
        QTest::newRow("separator 2") << 3 << "mnuSeparator2" << QString() << true;
        QTest::newRow("Print Setup") << 4 << "mnuPrintSetup_Pop"
                                     << "Print Set&up..." << false;
        QTest::newRow("separator 3") << 5 << "mnuSeparator3" << QString() << true;
        QTest::newRow("Help") << 6 << "mnuHelp_Pop"
                              << "&Help" << false;
        QTest::newRow("About") << 7 << "mnuAbout_Pop"
                               << "&About Kaldrome..." << false;
        QTest::newRow("separator 4") << 8 << "mnuSeparator4" << QString() << true;
        QTest::newRow("web") << 9 << "mnuWeb_Pop"
                             << "Orvane Software on the &Web..." << false;
    }

    void popUpMenu() {
        QFETCH(int, index);
        QFETCH(QString, item);
        QFETCH(QString, caption);
        QFETCH(bool, separator);
        QMenu* menu = w_->Ui().mnuPopUpMenu;
        QCOMPARE(menu->objectName(), QString("mnuPopUpMenu"));
        QCOMPARE(menu->title(), QString("PopUpMenu"));
        QCOMPARE(menu->actions().size(), 10);
        QAction* action = menu->actions().at(index);
        QCOMPARE(action->objectName(), item);
        QCOMPARE(action->isSeparator(), separator);
        QCOMPARE(action->text(), caption);
        QVERIFY(action->shortcut().isEmpty());
        QVERIFY(!menu->isVisible());
    }

    void commandsAtStart_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("enabled");
        for (const char* name : {"mnuCopy", "mnuCreateFile", "mnuPrint", "mnuCopy_Pop",
                                 "mnuCreateFile_Pop", "mnuPrint_Pop"})
            QTest::newRow(qPrintable(QString(name) + " disabled")) << name << false;
        for (const char* name : {"mnuPrintSetup", "mnuHelp", "mnuWeb", "mnuAbout",
                                 "mnuPrintSetup_Pop", "mnuHelp_Pop", "mnuAbout_Pop", "mnuWeb_Pop"})
            QTest::newRow(qPrintable(QString(name) + " enabled")) << name << true;
    }

    void commandsAtStart() {
        QFETCH(QString, item);
        QFETCH(bool, enabled);
        auto* action = w_->findChild<QAction*>(item);
        QVERIFY(action);
        QCOMPARE(action->isEnabled(), enabled);
    }

    void iconPixels_data() {
        QTest::addColumn<QPoint>("pixel");
        QTest::addColumn<bool>("blue");
        QTest::newRow("corner grey") << QPoint(0, 0) << false;
        QTest::newRow("n bar left end") << QPoint(5, 9) << true;
        QTest::newRow("n bar right end, row 10") << QPoint(16, 10) << true;
        QTest::newRow("above n bar") << QPoint(10, 8) << false;
        QTest::newRow("below n bar, between legs") << QPoint(10, 11) << false;
        QTest::newRow("left of n") << QPoint(4, 9) << false;
        QTest::newRow("right of n") << QPoint(17, 9) << false;
        QTest::newRow("left leg bottom") << QPoint(6, 25) << true;
        QTest::newRow("under left leg") << QPoint(5, 26) << false;
        QTest::newRow("inside left of right leg") << QPoint(14, 20) << false;
        QTest::newRow("right leg bottom") << QPoint(16, 25) << true;
        QTest::newRow("stem top") << QPoint(25, 4) << true;
        QTest::newRow("above stem") << QPoint(26, 3) << false;
        QTest::newRow("stem bottom") << QPoint(26, 22) << true;
        QTest::newRow("gap between stem and dot") << QPoint(25, 23) << false;
        QTest::newRow("dot") << QPoint(26, 25) << true;
        QTest::newRow("under dot") << QPoint(25, 26) << false;
        QTest::newRow("left of mark") << QPoint(24, 10) << false;
        QTest::newRow("right of mark") << QPoint(27, 10) << false;
        QTest::newRow("far corner grey") << QPoint(31, 31) << false;
    }

    void iconPixels() {
        QFETCH(QPoint, pixel);
        QFETCH(bool, blue);
        const QImage icon = kaldrome::ProgramIconImage();
        QCOMPARE(QColor(icon.pixel(pixel)), blue ? QColor(0, 0, 255) : QColor(192, 192, 192));
    }

    void iconWholeImage() {
        const QImage icon = kaldrome::ProgramIconImage();
        QCOMPARE(icon.size(), QSize(32, 32));
        QVERIFY(!icon.hasAlphaChannel());
        QVERIFY(icon.colorCount() <= 16);
        // The n: bar rows 9-10 over columns 5-16, legs 5-6 and 15-16 from row 9 to 25;
        // the mark: columns 25-26, stem rows 4-22, dot rows 24-25.
        auto inside = [](int x, int y, int left, int right, int top, int bottom) {
            return x >= left && x <= right && y >= top && y <= bottom;
        };
        int blue = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const bool expected = inside(x, y, 5, 16, 9, 10) || inside(x, y, 5, 6, 9, 25) ||
                                      inside(x, y, 15, 16, 9, 25) || inside(x, y, 25, 26, 4, 22) ||
                                      inside(x, y, 25, 26, 24, 25);
                const QColor colour(icon.pixel(x, y));
                if (colour == QColor(0, 0, 255)) ++blue;
                QVERIFY2(colour == (expected ? QColor(0, 0, 255) : QColor(192, 192, 192)),
                         qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
            }
        }
        QCOMPARE(blue, 24 + 2 * 30 + 38 + 4);  // bar, two legs below it, stem, dot
        // The window wears it.
        const QImage worn = w_->windowIcon()
                                .pixmap(QSize(32, 32), 1.0)
                                .toImage()
                                .convertToFormat(QImage::Format_RGB32);
        QCOMPARE(worn, icon.convertToFormat(QImage::Format_RGB32));
    }

    void numberBoxHoldsSixCharacters_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("before");  // the box's text; "*" after it: all selected
        QTest::addColumn<QString>("added");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("beeps");
        // Typing stops at six; a paste or a drop that does not fit is refused
        // whole, so that no other number than the one given can run.
        QTest::newRow("typed") << "typed"
                               << ""
                               << "1234567"
                               << "123456" << 0;
        QTest::newRow("pasted, too long") << "pasted"
                                          << ""
                                          << "999999999"
                                          << "" << 1;
        QTest::newRow("pasted, seven") << "pasted"
                                       << ""
                                       << "1234567"
                                       << "" << 1;
        QTest::newRow("pasted after four, too long") << "pasted"
                                                     << "1234"
                                                     << "567"
                                                     << "1234" << 1;
        QTest::newRow("pasted after four, fits") << "pasted"
                                                 << "1234"
                                                 << "56"
                                                 << "123456" << 0;
        QTest::newRow("pasted over a selection, fits") << "pasted"
                                                       << "123456*"
                                                       << "7"
                                                       << "7" << 0;
        QTest::newRow("pasted over a selection, too long") << "pasted"
                                                           << "123456*"
                                                           << "1234567"
                                                           << "123456" << 1;
        QTest::newRow("dropped, too long") << "dropped"
                                           << ""
                                           << "1234567"
                                           << "" << 1;
        QTest::newRow("dropped, fits") << "dropped"
                                       << "12"
                                       << "34"
                                       << "1234" << 0;
        QTest::newRow("set in code") << "set in code"
                                     << ""
                                     << "1234567"
                                     << "123456" << 0;
        QTest::newRow("inserted after six") << "inserted"
                                            << "123456"
                                            << "7"
                                            << "123456" << 0;
    }

    void numberBoxHoldsSixCharacters() {
        QFETCH(QString, how);
        QFETCH(QString, before);
        QFETCH(QString, added);
        QFETCH(QString, after);
        QFETCH(int, beeps);
        QLineEdit* box = w_->Ui().txtN;
        box->setFocus();
        const bool selectAll = before.endsWith('*');
        box->setText(selectAll ? before.chopped(1) : before);
        if (selectAll) box->selectAll();
        const int beepsBefore = w_->WindowBell().Rings();
        if (how == "typed") {
            QTest::keyClicks(box, added);
        } else if (how == "pasted") {
            QVERIFY(guitest::PasteThroughMenu(box, added));
        } else if (how == "dropped") {
            QMimeData data;
            data.setText(added);
            const QPointF at = box->rect().center();
            QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            QCoreApplication::sendEvent(box, &enter);
            QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton,
                                Qt::NoModifier);
            QCoreApplication::sendEvent(box, &move);
            QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(box, &drop);
        } else if (how == "set in code") {
            box->setText(added);
        } else {
            box->end(false);
            box->insert(added);
        }
        QCOMPARE(box->text(), after);
        QCOMPARE(w_->WindowBell().Rings() - beepsBefore, beeps);
    }

    // The same layout at 200 %: geometry in device-independent pixels, fonts
    // and captions that fit, in a child run with QT_SCALE_FACTOR=2.
    void doubleScale() {
        if (!guitest::ChildRole().isEmpty()) QSKIP("runs in the parent only");
        const guitest::ChildResult child = guitest::RunSelf(
            "scaled",
            {"scaleApplied", "controls", "captionsFit", "resultBoxShowsAWholeLine", "windowFrame"},
            {{"QT_SCALE_FACTOR", "2"}});
        QVERIFY2(child.finished, child.output.constData());
        QVERIFY2(child.exitStatus == QProcess::NormalExit && child.exitCode == 0,
                 child.output.constData());
    }

    void scaleApplied() {
        if (guitest::ChildRole() != "scaled") QSKIP("checked in the scaled child run");
        QCOMPARE(w_->devicePixelRatioF(), 2.0);
        const QPixmap picture = w_->grab();
        QCOMPARE(picture.deviceIndependentSize().toSize(), w_->size());
        QCOMPARE(picture.size(), w_->size() * 2);
    }

  private:
    std::unique_ptr<Form1> w_;
};

QTEST_MAIN(Form1LayoutTest)
#include "test_form1_layout.moc"
