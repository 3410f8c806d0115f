// Form1: the window's controls and menus, key filtering, number entry and the run.
#include "mainwindow/form1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTime>

#include "base/number_format.h"
#include "commands/common_dialog.h"
#include "engine/factorial_engine.h"
#include "mainwindow/percent_bar.h"
#include "mainwindow/utilities.h"
#include "resulttext/result_document.h"
#include "resulttext/result_text.h"
#include "uikit/bell.h"
#include "uikit/fonts.h"
#include "uikit/program_icon.h"
#include "uikit/twips.h"

namespace {

using Utilities::DisableResultMenus;
using Utilities::EnableResultMenus;
using Utilities::SelectAllText;

using kaldrome::Twips;
using kaldrome::TwipsToPixels;

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

// Alt alone puts the menu bar into keyboard mode, which holds a run still.
class AltNavigationStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_MenuBar_AltKeyNavigation) return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The classic key code of a character key; 0 for keys that are not
// characters (navigation, function keys, Ctrl/Alt combinations).
int KeyAsciiOf(const QKeyEvent* key) {
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return 0;
    switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 13;
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Delete:
            return 0;
        default:
            break;
    }
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint()) return 0;
    return text.at(0).unicode();
}

// The digit label while a run has no result yet.
const QString DigitsPending = QStringLiteral("Number of digits.....");

bool IsDigit(int keyAscii) {
    return keyAscii >= '0' && keyAscii <= '9';
}

QString GroupedTarget(int32_t target, const kaldrome::NumberSeparators& separators) {
    return QString::fromStdString(kaldrome::FormatGrouped(target, separators)) + "!=";
}

QString ClockText(int32_t h, int32_t m, int32_t s, const kaldrome::NumberSeparators& separators) {
    return QString::fromStdString(kaldrome::FormatClock(h, m, s, separators));
}

// Sets a caption only when its text changes (a large run renews its clocks a
// million times).
void ShowClock(QLabel* label, int (&shown)[3], int32_t h, int32_t m, int32_t s,
               const kaldrome::NumberSeparators& separators) {
    if (shown[0] == h && shown[1] == m && shown[2] == s) return;
    shown[0] = h;
    shown[1] = m;
    shown[2] = s;
    label->setText(ClockText(h, m, s, separators));
}

void ShowIfHidden(QWidget* widget) {
    if (widget->isHidden()) widget->show();
}

}  // namespace

Form1::Form1(const kaldrome::NumberSeparators& separators, QWidget* parent)
    : QMainWindow(parent), separators_(separators) {
    kaldrome::InstallFontSubstitutions();
    setObjectName("Form1");
    setWindowTitle("Factorial of a number with all its digits. Orvane Software.");
    setWindowIcon(kaldrome::ProgramIcon());
    // Fixed single border: a title, a system menu, minimise and close, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(WindowFont());

    createControls();
    createActions();
    createMenus();
    createPopUpMenu();

    // The window takes the size of the client area plus the menu bar, and keeps it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    layout()->activate();
    Form_Load();
}

Form1::~Form1() {
    qApp->removeEventFilter(this);
    delete printer_;
}

void Form1::createControls() {
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
        target->setAutoDefault(false);
    };

    // Created in tab order, so the focus chain follows it from the start.
    txtN = new QLineEdit(client);
    txtN->setObjectName("txtN");
    txtN->setGeometry(Twips(5423, 60, 1215, 375));
    txtN->setMaxLength(6);
    txtN->setToolTip("0 - 999,999 and press ENTER");

    button(cmdExit, "cmdExit", Twips(5370, 3480, 1215, 495), "E&xit", "Alt + X");
    label(Label1, "Label1", Twips(150, 120, 5055, 375),
          "The factorial of what number do you want to find?");
    Label1->setFont(CaptionFont(false));
    label(lblNumero, "lblNumero", Twips(150, 480, 2130, 300), QString());
    label(lblDigitos, "lblDigitos", Twips(135, 3480, 3570, 300), QString());
    button(cmdStop, "cmdStop", Twips(4050, 3480, 1215, 495), "&Stop", "Alt + S");
    label(Label2, "Label2", Twips(240, 4080, 1455, 255), "Elapsed time:");
    Label2->setFont(CaptionFont(false));
    Label2->hide();
    label(Label3, "Label3", Twips(4890, 4080, 1695, 255), "Estimated time:");
    Label3->setFont(CaptionFont(false));
    Label3->hide();
    label(lblTime, "lblTime", Twips(240, 4320, 1455, 255), QString());
    lblTime->setFont(CaptionFont(true));
    lblTime->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblTime->setToolTip("Hours: Minutes: Seconds");
    label(lblEstimado, "lblEstimado", Twips(4890, 4320, 1695, 255), QString());
    lblEstimado->setFont(CaptionFont(true));
    lblEstimado->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblEstimado->setToolTip("Hours: Minutes: Seconds");

    rtfResp = new QPlainTextEdit(client);
    rtfResp->setObjectName("rtfResp");
    rtfResp->setGeometry(Twips(285, 840, 6615, 2535));
    rtfResp->setReadOnly(true);
    rtfResp->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    rtfResp->setFocusPolicy(Qt::StrongFocus);
    rtfResp->setTabChangesFocus(true);  // the box takes no typing, so Tab moves on
    rtfResp->setUndoRedoEnabled(false);
    rtfResp->setLineWrapMode(QPlainTextEdit::NoWrap);
    rtfResp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    rtfResp->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    rtfResp->setFont(ResultFont());
    rtfResp->setBackgroundRole(QPalette::Base);  // the system's colour for window backgrounds
    // Its menu is the window's pop-up menu, opened on the right button.
    rtfResp->setContextMenuPolicy(Qt::PreventContextMenu);
    resultPointer_ = rtfResp->viewport()->cursor().shape();

    picPercentBar = new kaldrome::PercentBar(client);
    picPercentBar->setObjectName("picPercentBar");
    picPercentBar->SetSeparators(separators_);
    picPercentBar->setGeometry(Twips(120, 4680, 6975, 375));
    QPalette yellow = picPercentBar->palette();
    yellow.setColor(QPalette::Window, QColor(255, 255, 0));
    picPercentBar->setPalette(yellow);
    picPercentBar->setAutoFillBackground(true);

    // From (0, 0) to (7440, 0): along the top edge, past the right one.
    Line1 = new QFrame(client);
    Line1->setObjectName("Line1");
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);
    Line1->setGeometry(0, 0, TwipsToPixels(7440), 2);

    dlgDialogo = new kaldrome::CommonDialog(this);
    dlgDialogo->setObjectName("dlgDialogo");

    setTabOrder(txtN, cmdExit);
    setTabOrder(cmdExit, cmdStop);
    setTabOrder(cmdStop, rtfResp);

    connect(cmdStop, &QPushButton::clicked, this, [this] { cmdStop_Click(); });
    connect(cmdExit, &QPushButton::clicked, this, [this] { cmdExit_Click(); });
}

void Form1::createActions() {
    auto item = [this](QAction*& target, const char* name, const QString& caption,
                       const QKeySequence& shortcut = {}) {
        target = new QAction(caption, this);
        target->setObjectName(name);
        target->setShortcut(shortcut);
    };
    auto separator = [this](QAction*& target, const char* name) {
        target = new QAction("-", this);
        target->setObjectName(name);
        target->setSeparator(true);
    };

    item(mnuCreateFile, "mnuCreateFile", "Create &File...", QKeySequence(Qt::CTRL | Qt::Key_F));
    item(mnuPrintSetup, "mnuPrintSetup", "Print Set&up...", QKeySequence(Qt::CTRL | Qt::Key_U));
    item(mnuPrint, "mnuPrint", "&Print", QKeySequence(Qt::CTRL | Qt::Key_P));
    item(mnuCopy, "mnuCopy", "&Copy to Clipboard", QKeySequence(Qt::CTRL | Qt::Key_C));
    item(mnuHelp, "mnuHelp", "Kaldrome &Help", QKeySequence(Qt::Key_F1));
    separator(mnuSeparator, "mnuSeparator");
    item(mnuWeb, "mnuWeb", "Orvane Software on the &Web...");
    separator(mnuSeparator1, "mnuSeparator1");
    item(mnuAbout, "mnuAbout", "&About Kaldrome...");

    item(mnuCreateFile_Pop, "mnuCreateFile_Pop", "Create &File...");
    item(mnuCopy_Pop, "mnuCopy_Pop", "&Copy to Clipboard");
    item(mnuPrint_Pop, "mnuPrint_Pop", "&Print");
    separator(mnuSeparator2, "mnuSeparator2");
    item(mnuPrintSetup_Pop, "mnuPrintSetup_Pop", "Print Set&up...");
    separator(mnuSeparator3, "mnuSeparator3");
    item(mnuHelp_Pop, "mnuHelp_Pop", "&Help");
    item(mnuAbout_Pop, "mnuAbout_Pop", "&About Kaldrome...");
    separator(mnuSeparator4, "mnuSeparator4");
    item(mnuWeb_Pop, "mnuWeb_Pop", "Orvane Software on the &Web...");

    auto on = [this](QAction* action, void (Form1::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    on(mnuCreateFile, &Form1::mnuCreateFile_Click);
    on(mnuPrintSetup, &Form1::mnuPrintSetup_Click);
    on(mnuPrint, &Form1::mnuPrint_Click);
    on(mnuCopy, &Form1::mnuCopy_Click);
    on(mnuHelp, &Form1::mnuHelp_Click);
    on(mnuWeb, &Form1::mnuWeb_Click);
    on(mnuAbout, &Form1::mnuAbout_Click);
    // The pop-up twins add nothing of their own: each passes the click on to its
    // main item, whose handler does the work.
    for (auto [twin, main] : {std::pair{mnuCreateFile_Pop, mnuCreateFile},
                              {mnuCopy_Pop, mnuCopy},
                              {mnuPrint_Pop, mnuPrint},
                              {mnuPrintSetup_Pop, mnuPrintSetup},
                              {mnuHelp_Pop, mnuHelp},
                              {mnuAbout_Pop, mnuAbout},
                              {mnuWeb_Pop, mnuWeb}})
        connect(twin, &QAction::triggered, main, &QAction::trigger);
}

void Form1::createMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("menuBar");
    // Menus speak in the system's font, not in the window's large bold one.
    bar->setFont(QApplication::font(bar));
    if (!bar->style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation, nullptr, bar)) {
        // The bar does not own its style; as its child the style goes with it.
        auto* altStyle = new AltNavigationStyle;
        altStyle->setParent(bar);
        bar->setStyle(altStyle);
    }

    auto menu = [bar](QMenu*& target, const char* name, const QString& caption) {
        target = bar->addMenu(caption);
        target->setObjectName(name);
        target->menuAction()->setObjectName(name);
    };
    menu(mnuFile, "mnuFile", "&File");
    mnuFile->addActions({mnuCreateFile, mnuPrintSetup, mnuPrint});
    menu(mnuEdit, "mnuEdit", "&Edit");
    mnuEdit->addAction(mnuCopy);
    menu(mnuAyuda, "mnuAyuda", "&Help");
    mnuAyuda->addActions({mnuHelp, mnuSeparator, mnuWeb, mnuSeparator1, mnuAbout});
}

void Form1::createPopUpMenu() {
    // A menu of the window that never appears in the menu bar.
    mnuPopUpMenu = new QMenu("PopUpMenu", this);
    mnuPopUpMenu->setObjectName("mnuPopUpMenu");
    mnuPopUpMenu->menuAction()->setObjectName("mnuPopUpMenu");
    mnuPopUpMenu->addActions({mnuCreateFile_Pop, mnuCopy_Pop, mnuPrint_Pop, mnuSeparator2,
                              mnuPrintSetup_Pop, mnuSeparator3, mnuHelp_Pop, mnuAbout_Pop,
                              mnuSeparator4, mnuWeb_Pop});
}

void Form1::Form_Load() {
    // Key preview: keys go to the focused widget, so the window watches them
    // on the application and acts only for its own widgets.
    qApp->installEventFilter(this);
    DisableResultMenus(*this);
    picPercentBar->hide();
    rtfResp->setToolTip(QString());
    // The caller shows the window.
}

// ---------------------------------------------------------------------------
// Events

bool Form1::MenusOwnKeys(const QWidget* target) const {
    // While a menu is open or the menu bar is in keyboard mode, keys drive the
    // menus, and their access letters must arrive untouched.
    const QMenuBar* bar = menuBar();
    return QApplication::activePopupWidget() != nullptr || target == bar ||
           bar->isAncestorOf(target) || bar->hasFocus();
}

bool Form1::TakesBackShortcut(const QKeyEvent* key) const {
    // A line edit or text box claims Ctrl+C (and some other Ctrl keys) for
    // itself; while the menu command is enabled, the menu has it.
    const QKeySequence pressed(key->keyCombination());
    for (const QAction* item : {mnuCreateFile, mnuPrintSetup, mnuPrint, mnuCopy, mnuHelp})
        if (item->isEnabled() && item->shortcut() == pressed) return true;
    return false;
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride &&
        type != QEvent::InputMethod && type != QEvent::MouseButtonPress &&
        type != QEvent::MouseButtonRelease)
        return QMainWindow::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return QMainWindow::eventFilter(watched, event);

    switch (type) {
        case QEvent::KeyPress: {
            if (MenusOwnKeys(widget)) break;
            int keyAscii = KeyAsciiOf(static_cast<QKeyEvent*>(event));
            if (keyAscii == 0) break;  // not a character: navigation, shortcuts
            Form_KeyPress(keyAscii);
            if (keyAscii == 0) return true;
            if (widget == txtN) {
                txtN_KeyPress(keyAscii);
                if (keyAscii == 0) return true;
            }
            break;
        }
        case QEvent::ShortcutOverride:
            if (MenusOwnKeys(widget)) break;
            if (TakesBackShortcut(static_cast<QKeyEvent*>(event))) {
                event->ignore();  // not claimed: the shortcut goes to the menu command
                return true;
            }
            break;
        case QEvent::InputMethod: {
            // Composed text passes the same filter as typed keys.
            const QString text = static_cast<QInputMethodEvent*>(event)->commitString();
            for (QChar c : text) {
                if (!IsDigit(c.unicode())) {
                    bell_.Ring();
                    return true;
                }
            }
            break;
        }
        case QEvent::MouseButtonPress:
            if (watched == rtfResp->viewport()) {
                auto* mouse = static_cast<QMouseEvent*>(event);
                rtfResp_MouseDown(mouse->button(), mouse->globalPosition().toPoint());
                if (mouse->button() == Qt::RightButton) return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            if (watched == rtfResp->viewport() &&
                static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
                rtfResp_Click();
            break;
        default:
            break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::Form_KeyPress(int& keyAscii) {
    if (keyAscii == 8 || keyAscii == 13 || IsDigit(keyAscii)) return;
    bell_.Ring();
    keyAscii = 0;
}

void Form1::txtN_KeyPress(int& keyAscii) {
    // The text before the key takes effect.
    const QString text = txtN->text();
    if (text == "00") {
        SelectAllText(txtN);
        return;
    }
    // Only a whole number 0..999,999 in digits counts as a number: a sign, a
    // point, an exponent or spaces can arrive by paste or drop, and would
    // otherwise reach the conversion and the sizing of the limbs.
    const kaldrome::Outcome<int32_t> target = kaldrome::ParseTarget(text.toStdString());
    if (!target.Ok()) {
        SelectAllText(txtN);
        return;
    }
    if (keyAscii != 13) return;
    keyAscii = 0;
    if (running_) {
        // One run at a time: a nested run would overwrite the running one's state.
        bell_.Ring();
        return;
    }
    lblDigitos->setText(DigitsPending);
    rs_.Target = target.Value();
    lblNumero->setText(GroupedTarget(rs_.Target, separators_));
    ComputeFactorial();
}

void Form1::cmdStop_Click() {
    kaldrome::StopRequested = true;
    SetResultPointer(false);
}

void Form1::cmdExit_Click() {
    close();
}

void Form1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (centred_) return;
    // Centred on its screen at start, frame included.
    centred_ = true;
    if (QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_QueryUnload();
    event->accept();
}

void Form1::Form_QueryUnload() {
    // The program ends at once, also in the middle of a run: the run sees the
    // stop at its next yield and returns, and the event loop then exits.
    quitting_ = true;
    kaldrome::StopRequested = true;
    // Only a running event loop can end; telling a program that has none yet
    // (a test, a caller before exec) to exit would make every later event loop
    // of the thread, even a dialog's, return at once.
    if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(0);
}

void Form1::rtfResp_Click() {
    SelectAllText(txtN);
}

void Form1::rtfResp_MouseDown(Qt::MouseButton button, const QPoint& globalPos) {
    if (button == Qt::RightButton) mnuPopUpMenu->exec(globalPos);
}

// ---------------------------------------------------------------------------
// The run

void Form1::SetResultPointer(bool busy) {
    if (busy) {
        rtfResp->setCursor(Qt::WaitCursor);
        rtfResp->viewport()->setCursor(Qt::WaitCursor);
    } else {
        rtfResp->unsetCursor();
        rtfResp->viewport()->setCursor(resultPointer_);
    }
}

void Form1::ComputeFactorial() {
    running_ = true;
    struct RunEnds {
        bool& running;
        ~RunEnds() { running = false; }
    } runEnds{running_};

    kaldrome::StartRun(rs_);
    rs_.StartTime = static_cast<float>(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0f;
    clock_.Start();
    cmdStop->setFocus();
    rtfResp->clear();
    DisableResultMenus(*this);
    rtfResp->setToolTip("Alt to Pause");
    SetResultPointer(true);
    lblDigitos->setText(DigitsPending);

    if (rs_.Target <= 3) {
        rs_.DisplayText = rs_.PlainText = kaldrome::SmallResultText(rs_.Target);
        ShowSmallResult();
        return;
    }
    // The number entry has checked the target; nothing else starts a run.
    const kaldrome::Outcome<void> seeded = kaldrome::SeedLimbs(rs_);
    KALDROME_ASSERT(seeded.Ok());
    if (!seeded.Ok()) return;
    picPercentBar->show();

    for (int& part : shownElapsed_) part = -1;
    for (int& part : shownEstimate_) part = -1;
    eventSlices_ = 0;
    longestWorkMs_ = 0;
    percentPending_ = false;
    slice_.start();
    const kaldrome::EngineHooks hooks{[this] {
                                          UpdateElapsedClock();
                                          if (EstimateDue()) UpdateEstimate();
                                          UpdatePercent();
                                      },
                                      [this] { YieldToEvents(); }};
    QElapsedTimer loop;
    loop.start();
    const kaldrome::LoopOutcome outcome = engine_.RunFactorLoop(rs_, hooks);
    loopMs_ = static_cast<double>(loop.nsecsElapsed()) / 1e6;
    if (outcome == kaldrome::LoopOutcome::Stopped) {
        FlushPercentBar();  // a stopped run leaves the bar at its last percent
        if (!quitting_) SelectAllText(txtN);
        return;
    }

    kaldrome::RenderDisplayText(rs_);
    rtfResp->setPlainText(QString::fromLatin1(rs_.DisplayText.data(),
                                              static_cast<qsizetype>(rs_.DisplayText.size())));
    EnableResultMenus(*this);
    rtfResp->setToolTip(QString());
    rs_.DigitCount = kaldrome::CountDigits(rs_);
    lblDigitos->setText(
        QString::fromStdString(kaldrome::DigitCountLine(rs_.DigitCount, separators_)));
    SelectAllText(txtN);
    bell_.Ring();
    SetResultPointer(false);
    picPercentBar->hide();
}

void Form1::ShowSmallResult() {
    picPercentBar->hide();
    EnableResultMenus(*this);
    rtfResp->setToolTip(QString());
    rs_.PlainTextReady = true;
    rs_.DigitCount = 1;
    rtfResp->setPlainText(QString::fromStdString(rs_.DisplayText));
    lblNumero->setText(QString::number(rs_.Target) + "!=");
    lblDigitos->setText(
        QString::fromStdString(kaldrome::DigitCountLine(rs_.DigitCount, separators_)));
    SelectAllText(txtN);
    bell_.Ring();
    Label2->show();
    lblTime->setText(ClockText(rs_.ElapsedH, rs_.ElapsedM, rs_.ElapsedS, separators_));
    Label3->show();
    lblEstimado->setText(ClockText(rs_.EstimatedH, rs_.EstimatedM, rs_.EstimatedS, separators_));
    SetResultPointer(false);
}

void Form1::UpdateElapsedClock() {
    kaldrome::RenewElapsed(rs_, clock_.Seconds());
    ShowIfHidden(Label2);
    ShowClock(lblTime, shownElapsed_, rs_.ElapsedH, rs_.ElapsedM, rs_.ElapsedS, separators_);
}

bool Form1::EstimateDue() const {
    return kaldrome::EstimateDue(rs_);
}

void Form1::UpdateEstimate() {
    kaldrome::RenewEstimate(rs_);
    ShowIfHidden(Label3);
    ShowClock(lblEstimado, shownEstimate_, rs_.EstimatedH, rs_.EstimatedM, rs_.EstimatedS,
              separators_);
}

void Form1::UpdatePercent() {
    kaldrome::RenewPercent(rs_);
    // The bar can only be seen when the window repaints, which happens in the
    // run's yields; drawing it there shows exactly what drawing it for every
    // factor would, at a fraction of the cost (rendering its image for every
    // 0.01 % of a large run took a fifth of the run's time).
    percentPending_ = true;
}

void Form1::FlushPercentBar() {
    if (!percentPending_) return;
    percentPending_ = false;
    DrawPercentBar(rs_.Percent);
}

void Form1::DrawPercentBar(float p) {
    picPercentBar->Draw(p);
}

bool Form1::RunHeld() const {
    // An open menu, the menu bar's keyboard mode (Alt) or a modal window pauses the run.
    return QApplication::activePopupWidget() != nullptr || menuBar()->hasFocus() ||
           QApplication::activeModalWidget() != nullptr;
}

void Form1::YieldToEvents() {
    // Called at the start of every pass and every few thousand limbs, that is
    // at most some microseconds apart; the clock is read on every 8th call only,
    // which keeps the check nearly free and the slice as exact as it needs to be.
    if (++yieldCalls_ % 8 != 0) return;
    const qint64 worked = slice_.elapsed();
    if (worked < YieldSliceMs) return;
    ++eventSlices_;
    if (worked > longestWorkMs_) longestWorkMs_ = worked;
    FlushPercentBar();
    QCoreApplication::processEvents();
    while (!quitting_ && RunHeld()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    slice_.start();
}
