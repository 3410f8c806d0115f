// Form1: the window's controls and menus, number entry, and the busy, finished
// and stopped states of a run.
#include "mainwindow/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <new>

#include "base/number_format.h"
#include "commands/common_dialog.h"
#include "commands/print_service.h"
#include "engine/progress.h"
#include "mainwindow/key_filter.h"
#include "mainwindow/percent_bar.h"
#include "mainwindow/result_view.h"
#include "mainwindow/utilities.h"
#include "resulttext/result_document.h"
#include "uikit/centre_on_screen.h"
#include "uikit/fonts.h"
#include "uikit/memory_room.h"
#include "uikit/message_box.h"
#include "uikit/program_icon.h"

namespace kaldrome {

namespace {

using Utilities::DisableResultMenus;
using Utilities::EnableResultMenus;
using Utilities::SelectAllText;

// The digit label while a run has no result yet.
const QString DigitsPending = QStringLiteral("Number of digits.....");
// The result box's tool tip during a run.
const QString AltToPause = QStringLiteral("Alt to Pause");
// What a screen reader calls the result box.
const QString ResultBoxName = QStringLiteral("Result");

QString GroupedTarget(int32_t target, const NumberSeparators& separators) {
    return QString::fromStdString(FormatGrouped(target, separators)) + "!=";
}

QString ClockText(int32_t h, int32_t m, int32_t s, const NumberSeparators& separators) {
    return QString::fromStdString(FormatClock(h, m, s, separators));
}

}  // namespace

Form1::Form1(const NumberSeparators& separators, QWidget* parent)
    : QMainWindow(parent),
      separators_(separators),
      keyFilter_(std::make_unique<KeyFilter>(*this)),
      printService_(std::make_unique<PrintService>()) {
    InstallFontSubstitutions();
    // Taken while memory is plenty: the message that it ran out must show.
    HoldRoomForMessages();
    setObjectName("Form1");
    setWindowTitle("Factorial of a number with all its digits. Orvane Software.");
    setWindowIcon(ProgramIcon());
    // Fixed single border: a title, a system menu, minimise and close, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    CreateControls();
    CreateActions();
    CreateMenus();
    CreatePopUpMenu();

    // The window takes the size of the client area plus the menu bar, and keeps it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    layout()->activate();
    Form_Load();
}

Form1::~Form1() {
    // Closing the window as it goes moves the focus: nothing may look at it then.
    disconnect(focusWatch_);
    // The result box reads the run's text, which goes before the box does.
    ui_.rtfResp->Clear();
    qApp->removeEventFilter(keyFilter_.get());
}

void Form1::UseFactorLoop(bool on) {
    LoopSettings loop = engine_.Loop();
    loop.treeFrom = on ? NoTree : DefaultTreeFrom;
    engine_.SetLoop(loop);
}

void Form1::Form_Load() {
    // Key preview: keys go to the focused widget, so the window watches them
    // on the application and acts only for its own widgets.
    qApp->installEventFilter(keyFilter_.get());
    focusWatch_ =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
            if (now == menuBar() && old != nullptr && old->window() == this)
                focusBeforeMenus_ = old;
        });
    DisableResultMenus(*this);
    ui_.picPercentBar->hide();
    ui_.rtfResp->setToolTip(QString());
    ui_.rtfResp->setAccessibleName(ResultBoxName);
    // The caller shows the window.
}

// ---------------------------------------------------------------------------
// Events

void Form1::Form_KeyPress(int& keyAscii) {
    if (keyAscii == 8 || keyAscii == 13 || IsDigitKey(keyAscii)) return;
    bell_.Ring();
    keyAscii = 0;
}

void Form1::txtN_KeyPress(int& keyAscii) {
    // The text before the key takes effect.
    const QString text = ui_.txtN->text();
    if (text == "00") {
        SelectAllText(ui_.txtN);
        return;
    }
    // Only a whole number 0..999,999 in digits counts as a number: a sign, a
    // point, an exponent or spaces can arrive by paste or drop, and would
    // otherwise reach the conversion and the sizing of the limbs.
    const Outcome<int32_t> target = ParseTarget(text.toStdString());
    if (!target.Ok()) {
        SelectAllText(ui_.txtN);
        return;
    }
    if (keyAscii != 13) return;
    keyAscii = 0;
    if (run_.Phase() != RunPhase::Idle) {
        // One run at a time: a nested run would overwrite the running one's
        // state; and none once the program is ending.
        bell_.Ring();
        return;
    }
    ui_.lblDigitos->setText(DigitsPending);
    run_.State().Target = target.Value();
    ui_.lblNumero->setText(GroupedTarget(target.Value(), separators_));
    ComputeFactorial();
}

void Form1::cmdStop_Click() {
    StopRequested = true;
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
    kaldrome::CentreOnScreen(this);
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_QueryUnload();
    event->accept();
}

void Form1::Form_QueryUnload() {
    // The program ends at once, also in the middle of a run: the run sees the
    // stop at its next yield and returns, and the event loop then exits.
    run_.RequestQuit();
    // Only a running event loop can end; telling a program that has none yet
    // (a test, a caller before exec) to exit would make every later event loop
    // of the thread, even a dialog's, return at once.
    if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(0);
}

void Form1::rtfResp_Click() {
    SelectAllText(ui_.txtN);
}

void Form1::rtfResp_MouseDown(Qt::MouseButton button, const QPoint& globalPos) {
    if (button == Qt::RightButton) ui_.mnuPopUpMenu->exec(globalPos);
}

// ---------------------------------------------------------------------------
// The run

void Form1::SetResultPointer(bool busy) {
    if (busy) {
        ui_.rtfResp->setCursor(Qt::WaitCursor);
        ui_.rtfResp->viewport()->setCursor(Qt::WaitCursor);
    } else {
        ui_.rtfResp->unsetCursor();
        ui_.rtfResp->viewport()->setCursor(resultPointer_);
    }
}

void Form1::ComputeFactorial() {
    // The busy state; the run record starts afresh in the run sequence. Stop
    // shows its focus frame, as after a key.
    setAttribute(Qt::WA_KeyboardFocusChange);
    ui_.cmdStop->setFocus();
    ui_.rtfResp->Clear();  // before the run sequence empties the text it shows
    DisableResultMenus(*this);
    ui_.rtfResp->setToolTip(AltToPause);
    // A screen reader hears "Alt to Pause" only while it holds: the tool tip
    // stays after a stopped run.
    ui_.rtfResp->setAccessibleDescription(AltToPause);
    ui_.rtfResp->setAccessibleName(ResultBoxName);
    Announce(QString());
    estimateWaiting_ = estimateDue_ = false;
    SetResultPointer(true);
    ui_.lblDigitos->setText(DigitsPending);

    // The number entry has checked the target: a run fails only when memory
    // runs out or its result fails its check, and showing a result can run out
    // of memory too.
    const Outcome<RunOutcome> outcome = run_.Run(*this);
    ui_.rtfResp->setAccessibleDescription(QString());
    // The labels keep the run's last clocks, the last estimate included.
    estimateDue_ = true;
    ShowWaitingEstimate();
    if (!outcome.Ok()) {
        if (run_.RanOutOfMemory()) {
            ShowOutOfMemory();
        } else {
            // Otherwise the finished result failed its check.
            ShowFailedResult(outcome.Error().message);
        }
        return;
    }
    try {
        if (outcome.Value() == RunOutcome::SmallResult) {
            ShowSmallResult();
        } else if (outcome.Value() == RunOutcome::Completed) {
            ShowResult();
        } else if (!Quitting()) {
            Announce(ui_.lblNumero->text().chopped(1) + QStringLiteral(" stopped."));
            SelectAllText(ui_.txtN);
        }
    } catch (const std::bad_alloc&) {
        ShowOutOfMemory();
    }
}

void Form1::ShowOutOfMemory() {
    // The window stays as it is, as after a stop; what the result took is given
    // back, and there is nothing to export.
    std::string().swap(run_.State().DisplayText);
    SetResultPointer(false);
    if (Quitting()) return;
    SelectAllText(ui_.txtN);  // where the focus returns from the message
    const std::string target = FormatGrouped(run_.State().Target, separators_);
    ShowStopMessage(this, QStringLiteral("There is not enough memory for the result of %1!.")
                              .arg(QString::fromStdString(target)));
}

void Form1::ShowSmallResult() {
    const RunState& rs = run_.State();
    ui_.picPercentBar->hide();
    ui_.lblNumero->setText(QString::number(rs.Target) + "!=");
    ui_.Label2->show();
    ui_.lblTime->setText(ClockText(rs.ElapsedH, rs.ElapsedM, rs.ElapsedS, separators_));
    ui_.Label3->show();
    ui_.lblEstimado->setText(ClockText(rs.EstimatedH, rs.EstimatedM, rs.EstimatedS, separators_));
    ShowResult();
}

void Form1::ShowResult() {
    const RunState& rs = run_.State();
    // First, as it may fail for want of memory: nothing has changed then.
    ui_.rtfResp->SetText(rs.DisplayText);
    EnableResultMenus(*this);
    ui_.rtfResp->setToolTip(QString());
    ui_.lblDigitos->setText(QString::fromStdString(DigitCountLine(rs.DigitCount, separators_)));
    const QString target = ui_.lblNumero->text().chopped(1);  // "1,234!"
    ui_.rtfResp->setAccessibleName(QStringLiteral("Digits of ") + target);
    // Said as the focus comes back to the number box, or at once when it is there.
    Announce(target + QStringLiteral(" is ready. ") + ui_.lblDigitos->text());
    SelectAllText(ui_.txtN);
    bell_.Ring();
    SetResultPointer(false);
    ui_.picPercentBar->hide();
}

void Form1::ShowFailedResult(const std::string& message) {
    // The run is over, but its result is wrong: nothing of it is shown, and the
    // result commands stay disabled as the run left them.
    ui_.picPercentBar->hide();
    ui_.rtfResp->setToolTip(QString());
    SetResultPointer(false);
    if (Quitting()) return;
    ShowFailure(message);
    SelectAllText(ui_.txtN);
}

void Form1::ShowPercentBar() {
    ui_.picPercentBar->show();
}

void Form1::Announce(const QString& text) {
    // Read out with the box when it gets the focus, and at once when it has it.
    ui_.txtN->setAccessibleDescription(text);
}

void Form1::ShowElapsedClock(int32_t h, int32_t m, int32_t s) {
    ui_.Label2->show();
    ui_.lblTime->setText(ClockText(h, m, s, separators_));
    // A new second: the estimate waiting now shows, or else the next one.
    estimateDue_ = true;
    ShowWaitingEstimate();
}

void Form1::ShowEstimateClock(int32_t h, int32_t m, int32_t s) {
    // Early in a large run the estimate changes hundreds of times a second:
    // more than anyone can read, and a screen reader hears every change.
    waitingEstimate_[0] = h;
    waitingEstimate_[1] = m;
    waitingEstimate_[2] = s;
    estimateWaiting_ = true;
    ShowWaitingEstimate();
}

void Form1::ShowWaitingEstimate() {
    if (!estimateWaiting_ || !estimateDue_) return;
    estimateWaiting_ = estimateDue_ = false;
    ui_.Label3->show();
    ui_.lblEstimado->setText(
        ClockText(waitingEstimate_[0], waitingEstimate_[1], waitingEstimate_[2], separators_));
}

void Form1::DrawPercentBar(float p) {
    ui_.picPercentBar->Draw(p);
}

bool Form1::MenuBarKeyboardMode() const {
    // In the mode the bar has the focus and one of its titles the keyboard. The
    // focus alone outlives the mode: when the window loses the focus the mode
    // ends, but the bar stays the window's focus widget.
    const QMenuBar* bar = menuBar();
    return bar->hasFocus() && bar->activeAction() != nullptr;
}

bool Form1::RunHeld() const {
    // An open menu, the menu bar's keyboard mode (Alt) or a modal window pauses the run.
    return QApplication::activePopupWidget() != nullptr || MenuBarKeyboardMode() ||
           QApplication::activeModalWidget() != nullptr;
}

bool Form1::event(QEvent* event) {
    // Back from another window after the keyboard mode ended there: the focus
    // goes where it was before Alt, not to a bar that no longer takes keys.
    if (event->type() == QEvent::WindowActivate && focusWidget() == menuBar() &&
        !MenuBarKeyboardMode() && focusBeforeMenus_ != nullptr)
        focusBeforeMenus_->setFocus(Qt::ActiveWindowFocusReason);
    return QMainWindow::event(event);
}

}  // namespace kaldrome
