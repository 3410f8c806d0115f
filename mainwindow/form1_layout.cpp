// Form1's construction: the controls, the menu items, the menu bar and the
// pop-up menu, with their captions, geometry in twips and fonts.
#include <QAction>
#include <QApplication>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOption>

#include "commands/common_dialog.h"
#include "mainwindow/accessible.h"
#include "mainwindow/form1.h"
#include "mainwindow/number_box.h"
#include "mainwindow/percent_bar.h"
#include "mainwindow/result_view.h"
#include "uikit/twips.h"

namespace kaldrome {

namespace {
const int ClientWidth = TwipsToPixels(7185);   // 479
const int ClientHeight = TwipsToPixels(5115);  // 341

QFont WindowFont() {
    QFont font("MS Sans Serif");
    font.setPointSizeF(12);
    font.setBold(true);
    return font;
}

QFont CaptionFont(bool underline) {
    QFont font("MS Sans Serif");
    font.setPointSizeF(9.75);
    font.setBold(true);
    font.setUnderline(underline);
    return font;
}

// Fixed pitch, so the seven-digit groups stand in columns; a 45-character
// display line fits the box without a horizontal scroll bar.
QFont ResultFont() {
    QFont font("Courier New");
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(11);
    font.setBold(true);
    return font;
}

// The desktop's font for a class of widget, as a font of its own: a font with
// nothing set of its own would take the parent's (the window's bold one).
QFont DesktopFont(const char* className) {
    QFont font = QApplication::font(className);
    font.setResolveMask(QFont::AllPropertiesResolved);
    return font;
}

// The menu bar's style: Alt alone puts the bar into keyboard mode, which holds
// a run still; in that mode the title that has the keyboard is lit as an open
// one is, so that the pause can be seen.
class MenuBarStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_MenuBar_AltKeyNavigation) return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element == CE_MenuBarItem && item != nullptr && widget != nullptr &&
            widget->hasFocus() && (item->state & State_Selected)) {
            QStyleOptionMenuItem lit = *item;
            lit.state |= State_Sunken;
            QProxyStyle::drawControl(element, &lit, painter, widget);
            return;
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

}  // namespace

void Form1::CreateControls() {
    setFont(WindowFont());
    InstallAccessibleViews();  // before any control is asked for its interface
    auto* client = new QWidget(this);
    client->setObjectName("client");
    client->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(client);

    auto label = [client](QLabel*& target, const char* name, const QRect& geometry,
                          const QString& caption) {
        target = new QLabel(caption, client);
        target->setObjectName(name);
        target->setGeometry(geometry);
        target->setTextFormat(Qt::PlainText);
        target->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    };
    auto button = [client](QPushButton*& target, const char* name, const QRect& geometry,
                           const QString& caption, const QString& tip) {
        target = new QPushButton(caption, client);
        target->setObjectName(name);
        target->setGeometry(geometry);
        target->setToolTip(tip);
        // Enter presses the focused button (Space is refused by the key filter).
        target->setAutoDefault(true);
    };

    // Created in tab order, so the focus chain follows it from the start.
    ui_.txtN = new NumberBox([this] { bell_.Ring(); }, client);
    ui_.txtN->setObjectName("txtN");
    ui_.txtN->setGeometry(Twips(5423, 60, 1215, 375));
    ui_.txtN->setMaxLength(6);
    ui_.txtN->setToolTip("0 - 999,999 and press ENTER");

    button(ui_.cmdExit, "cmdExit", Twips(5370, 3480, 1215, 495), "E&xit", "Alt + X");
    label(ui_.Label1, "Label1", Twips(150, 120, 5055, 375),
          "The factorial of what number do you want to find?");
    ui_.Label1->setFont(CaptionFont(false));
    label(ui_.lblNumero, "lblNumero", Twips(150, 480, 2130, 300), QString());
    label(ui_.lblDigitos, "lblDigitos", Twips(135, 3480, 3570, 300), QString());
    button(ui_.cmdStop, "cmdStop", Twips(4050, 3480, 1215, 495), "&Stop", "Alt + S");
    label(ui_.Label2, "Label2", Twips(240, 4080, 1455, 255), "Elapsed time:");
    ui_.Label2->setFont(CaptionFont(false));
    ui_.Label2->hide();
    label(ui_.Label3, "Label3", Twips(4890, 4080, 1695, 255), "Estimated time:");
    ui_.Label3->setFont(CaptionFont(false));
    ui_.Label3->hide();
    label(ui_.lblTime, "lblTime", Twips(240, 4320, 1455, 255), QString());
    ui_.lblTime->setFont(CaptionFont(true));
    ui_.lblTime->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    ui_.lblTime->setToolTip("Hours: Minutes: Seconds");
    label(ui_.lblEstimado, "lblEstimado", Twips(4890, 4320, 1695, 255), QString());
    ui_.lblEstimado->setFont(CaptionFont(true));
    ui_.lblEstimado->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    ui_.lblEstimado->setToolTip("Hours: Minutes: Seconds");
    // For screen readers: the question names the number box, and each clock
    // is labelled by its caption. None of the captions has an access key.
    ui_.Label1->setBuddy(ui_.txtN);
    ui_.Label2->setBuddy(ui_.lblTime);
    ui_.Label3->setBuddy(ui_.lblEstimado);

    ui_.rtfResp = new ResultView(client);
    ui_.rtfResp->setObjectName("rtfResp");
    ui_.rtfResp->setGeometry(Twips(285, 840, 6615, 2535));
    // Tab reaches it; a click does not: the left button hands the focus to the
    // number box, the right one opens the pop-up menu, the middle one does nothing.
    ui_.rtfResp->setFocusPolicy(Qt::TabFocus);
    ui_.rtfResp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ui_.rtfResp->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ui_.rtfResp->setFont(ResultFont());
    // Its menu is the window's pop-up menu, opened on the right button.
    ui_.rtfResp->setContextMenuPolicy(Qt::PreventContextMenu);
    connect(ui_.rtfResp, &ResultView::PopUpMenuRequested, this,
            [this](const QPoint& at) { ui_.mnuPopUpMenu->exec(at); });
    resultPointer_ = ui_.rtfResp->viewport()->cursor().shape();

    ui_.picPercentBar = new PercentBar(client);
    ui_.picPercentBar->setObjectName("picPercentBar");
    ui_.picPercentBar->SetSeparators(separators_);
    ui_.picPercentBar->setGeometry(Twips(120, 4680, 6975, 375));
    QPalette yellow = ui_.picPercentBar->palette();
    yellow.setColor(QPalette::Window, QColor(255, 255, 0));
    ui_.picPercentBar->setPalette(yellow);
    ui_.picPercentBar->setAutoFillBackground(true);
    // A picture box takes the focus like any control but the labels and the line.
    ui_.picPercentBar->setFocusPolicy(Qt::StrongFocus);
    ui_.picPercentBar->setAccessibleName("Percent");

    // From (0, 0) to (7440, 0): along the top edge, past the right one.
    ui_.Line1 = new QFrame(client);
    ui_.Line1->setObjectName("Line1");
    ui_.Line1->setFrameShape(QFrame::HLine);
    ui_.Line1->setFrameShadow(QFrame::Sunken);
    ui_.Line1->setGeometry(0, 0, TwipsToPixels(7440), 2);

    ui_.dlgDialogo = new CommonDialog(this);
    ui_.dlgDialogo->setObjectName("dlgDialogo");

    setTabOrder(ui_.txtN, ui_.cmdExit);
    setTabOrder(ui_.cmdExit, ui_.cmdStop);
    setTabOrder(ui_.cmdStop, ui_.rtfResp);
    setTabOrder(ui_.rtfResp, ui_.picPercentBar);  // skipped while hidden

    connect(ui_.cmdStop, &QPushButton::clicked, this, [this] { cmdStop_Click(); });
    connect(ui_.cmdExit, &QPushButton::clicked, this, [this] { cmdExit_Click(); });
}

void Form1::CreateActions() {
    auto item = [this](QAction*& target, const char* name, const QString& caption,
                       const QKeySequence& shortcut = {}) {
        target = new QAction(caption, this);
        target->setObjectName(name);
        target->setShortcut(shortcut);
    };
    auto separator = [this](QAction*& target, const char* name) {
        // No text: a style draws a separator's text beside its line.
        target = new QAction(this);
        target->setObjectName(name);
        target->setSeparator(true);
    };

    item(ui_.mnuCreateFile, "mnuCreateFile", "Create &File...", QKeySequence(Qt::CTRL | Qt::Key_F));
    item(ui_.mnuPrintSetup, "mnuPrintSetup", "Print Set&up...", QKeySequence(Qt::CTRL | Qt::Key_U));
    item(ui_.mnuPrint, "mnuPrint", "&Print", QKeySequence(Qt::CTRL | Qt::Key_P));
    item(ui_.mnuCopy, "mnuCopy", "&Copy to Clipboard", QKeySequence(Qt::CTRL | Qt::Key_C));
    item(ui_.mnuHelp, "mnuHelp", "Kaldrome &Help", QKeySequence(Qt::Key_F1));
    separator(ui_.mnuSeparator, "mnuSeparator");
    item(ui_.mnuWeb, "mnuWeb", "Orvane Software on the &Web...");
    separator(ui_.mnuSeparator1, "mnuSeparator1");
    item(ui_.mnuAbout, "mnuAbout", "&About Kaldrome...");

    item(ui_.mnuCreateFile_Pop, "mnuCreateFile_Pop", "Create &File...");
    item(ui_.mnuCopy_Pop, "mnuCopy_Pop", "&Copy to Clipboard");
    item(ui_.mnuPrint_Pop, "mnuPrint_Pop", "&Print");
    separator(ui_.mnuSeparator2, "mnuSeparator2");
    item(ui_.mnuPrintSetup_Pop, "mnuPrintSetup_Pop", "Print Set&up...");
    separator(ui_.mnuSeparator3, "mnuSeparator3");
    item(ui_.mnuHelp_Pop, "mnuHelp_Pop", "&Help");
    item(ui_.mnuAbout_Pop, "mnuAbout_Pop", "&About Kaldrome...");
    separator(ui_.mnuSeparator4, "mnuSeparator4");
    item(ui_.mnuWeb_Pop, "mnuWeb_Pop", "Orvane Software on the &Web...");

    auto on = [this](QAction* action, void (Form1::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    on(ui_.mnuCreateFile, &Form1::mnuCreateFile_Click);
    on(ui_.mnuPrintSetup, &Form1::mnuPrintSetup_Click);
    on(ui_.mnuPrint, &Form1::mnuPrint_Click);
    on(ui_.mnuCopy, &Form1::mnuCopy_Click);
    on(ui_.mnuHelp, &Form1::mnuHelp_Click);
    on(ui_.mnuWeb, &Form1::mnuWeb_Click);
    on(ui_.mnuAbout, &Form1::mnuAbout_Click);
    // The pop-up twins add nothing of their own: each passes the click on to its
    // main item, whose handler does the work.
    for (auto [twin, main] : {std::pair{ui_.mnuCreateFile_Pop, ui_.mnuCreateFile},
                              {ui_.mnuCopy_Pop, ui_.mnuCopy},
                              {ui_.mnuPrint_Pop, ui_.mnuPrint},
                              {ui_.mnuPrintSetup_Pop, ui_.mnuPrintSetup},
                              {ui_.mnuHelp_Pop, ui_.mnuHelp},
                              {ui_.mnuAbout_Pop, ui_.mnuAbout},
                              {ui_.mnuWeb_Pop, ui_.mnuWeb}})
        connect(twin, &QAction::triggered, main, &QAction::trigger);
}

void Form1::CreateMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("menuBar");
    // Menus speak in the desktop's menu font, not in the window's large bold one.
    bar->setFont(DesktopFont("QMenuBar"));
    // The bar does not own its style; as its child the style goes with it.
    auto* barStyle = new MenuBarStyle;
    barStyle->setParent(bar);
    bar->setStyle(barStyle);

    auto menu = [bar](QMenu*& target, const char* name, const QString& caption) {
        target = bar->addMenu(caption);
        target->setObjectName(name);
        target->setFont(DesktopFont("QMenu"));
        target->menuAction()->setObjectName(name);
    };
    menu(ui_.mnuFile, "mnuFile", "&File");
    ui_.mnuFile->addActions({ui_.mnuCreateFile, ui_.mnuPrintSetup, ui_.mnuPrint});
    menu(ui_.mnuEdit, "mnuEdit", "&Edit");
    ui_.mnuEdit->addAction(ui_.mnuCopy);
    menu(ui_.mnuAyuda, "mnuAyuda", "&Help");
    ui_.mnuAyuda->addActions(
        {ui_.mnuHelp, ui_.mnuSeparator, ui_.mnuWeb, ui_.mnuSeparator1, ui_.mnuAbout});
}

void Form1::CreatePopUpMenu() {
    // A menu of the window that never appears in the menu bar.
    ui_.mnuPopUpMenu = new QMenu("PopUpMenu", this);
    ui_.mnuPopUpMenu->setObjectName("mnuPopUpMenu");
    ui_.mnuPopUpMenu->setFont(DesktopFont("QMenu"));
    ui_.mnuPopUpMenu->menuAction()->setObjectName("mnuPopUpMenu");
    ui_.mnuPopUpMenu->addActions({ui_.mnuCreateFile_Pop, ui_.mnuCopy_Pop, ui_.mnuPrint_Pop,
                                  ui_.mnuSeparator2, ui_.mnuPrintSetup_Pop, ui_.mnuSeparator3,
                                  ui_.mnuHelp_Pop, ui_.mnuAbout_Pop, ui_.mnuSeparator4,
                                  ui_.mnuWeb_Pop});
}

}  // namespace kaldrome
