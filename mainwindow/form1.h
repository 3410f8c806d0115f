// Form1: the main window, and the owner of everything a run touches.
//
// Design in brief: Form1 owns its controls, the per-run record RunState and the
// common-dialog object dlgDialogo. Enter in txtN runs ComputeFactorial inside
// the key handler; the engine (engine/) multiplies the limbs and calls back into
// Form1 before every factor (clocks, estimate, percent bar) and at its yields,
// where window events are processed in time slices. A completed run renders the
// display text (resulttext/) into rtfResp and enables the result commands, whose
// handlers (form1_commands.cpp, form1_help.cpp) compose the result document and
// hand it to the clipboard, a file or the printer.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>

#include "base/number_format.h"
#include "base/run_state.h"
#include "engine/factorial_engine.h"
#include "engine/progress.h"
#include "uikit/bell.h"
#include "uikit/system_locale.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QFrame;
class QKeyEvent;
class QPrinter;

namespace kaldrome {
class PercentBar;
class CommonDialog;
}  // namespace kaldrome

class Form1 : public QMainWindow {
    Q_OBJECT

  public:
    // Numbers are shown with the given separators, by default the user's locale's.
    explicit Form1(const kaldrome::NumberSeparators& separators = kaldrome::SystemSeparators(),
                   QWidget* parent = nullptr);
    ~Form1() override;

    // Read access for tests and the outside test driver.
    const kaldrome::RunState& State() const { return rs_; }
    const kaldrome::NumberSeparators& Separators() const { return separators_; }
    // The bell of a finished run and of every refused key.
    const kaldrome::Bell& WindowBell() const { return bell_; }
    bool Running() const { return running_; }
    // True once the window has been closed: the program is ending.
    bool Quitting() const { return quitting_; }

    // How often a run hands the window to the event loop, in milliseconds:
    // short enough to repaint at 60 Hz and stop at once, long enough that
    // processing events costs a run almost nothing.
    static constexpr int YieldSliceMs = 16;

    // Event-loop slices of the last run and the longest stretch of work
    // between two of them (ms), for responsiveness measurements.
    int EventSlices() const { return eventSlices_; }
    qint64 LongestWorkMs() const { return longestWorkMs_; }
    // Wall time of the last run's factor loop, in milliseconds.
    double LoopMs() const { return loopMs_; }

    // Controls, named as the program names them (each also carries its objectName).
    QLineEdit* txtN = nullptr;
    QPushButton* cmdExit = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblNumero = nullptr;
    QLabel* lblDigitos = nullptr;
    QPushButton* cmdStop = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblEstimado = nullptr;
    QPlainTextEdit* rtfResp = nullptr;
    kaldrome::PercentBar* picPercentBar = nullptr;
    QFrame* Line1 = nullptr;
    kaldrome::CommonDialog* dlgDialogo = nullptr;

    // Menus and their items.
    QMenu* mnuFile = nullptr;
    QMenu* mnuEdit = nullptr;
    QMenu* mnuAyuda = nullptr;
    QMenu* mnuPopUpMenu = nullptr;
    QAction* mnuCreateFile = nullptr;
    QAction* mnuPrintSetup = nullptr;
    QAction* mnuPrint = nullptr;
    QAction* mnuCopy = nullptr;
    QAction* mnuHelp = nullptr;
    QAction* mnuSeparator = nullptr;
    QAction* mnuWeb = nullptr;
    QAction* mnuSeparator1 = nullptr;
    QAction* mnuAbout = nullptr;
    QAction* mnuCreateFile_Pop = nullptr;
    QAction* mnuCopy_Pop = nullptr;
    QAction* mnuPrint_Pop = nullptr;
    QAction* mnuSeparator2 = nullptr;
    QAction* mnuPrintSetup_Pop = nullptr;
    QAction* mnuSeparator3 = nullptr;
    QAction* mnuHelp_Pop = nullptr;
    QAction* mnuAbout_Pop = nullptr;
    QAction* mnuSeparator4 = nullptr;
    QAction* mnuWeb_Pop = nullptr;

    // The printer that Print uses and Print Setup configures.
    QPrinter* Printer() const { return printer_; }

    // Command handlers (public so the pop-up twins, tests and the driver can reach them).
    void mnuCopy_Click();
    void mnuCreateFile_Click();
    void mnuPrint_Click();
    void mnuPrintSetup_Click();
    void mnuHelp_Click();
    void mnuWeb_Click();
    void mnuAbout_Click();

    // The About window while it exists (created on first use, form1_help.cpp).
    QWidget* About() const { return frmAbout_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    friend class Form1Test;

    // Construction, in order.
    void createControls();
    void createActions();
    void createMenus();
    void createPopUpMenu();
    void Form_Load();

    // Event handlers.
    void Form_KeyPress(int& keyAscii);
    void txtN_KeyPress(int& keyAscii);
    void cmdStop_Click();
    void cmdExit_Click();
    void Form_QueryUnload();
    void rtfResp_Click();
    void rtfResp_MouseDown(Qt::MouseButton button, const QPoint& globalPos);

    // The run.
    void ComputeFactorial();
    void ShowSmallResult();
    void UpdateElapsedClock();
    bool EstimateDue() const;
    void UpdateEstimate();
    void UpdatePercent();
    void DrawPercentBar(float p);
    void FlushPercentBar();
    void YieldToEvents();

    // Window-side helpers of the run.
    void SetResultPointer(bool busy);
    bool RunHeld() const;
    bool MenusOwnKeys(const QWidget* target) const;
    bool TakesBackShortcut(const QKeyEvent* key) const;

    // Exports (form1_commands.cpp).
    void PrepareSaveDialog();
    std::string ComposeResultDocument() const;
    void ShowFailure(const std::string& message);
    QPrinter& CurrentPrinter();

    const kaldrome::NumberSeparators separators_;
    kaldrome::Engine engine_;
    kaldrome::Bell bell_;
    kaldrome::RunState rs_;
    kaldrome::RunClock clock_;
    bool running_ = false;
    bool quitting_ = false;
    bool centred_ = false;
    QElapsedTimer slice_;
    unsigned yieldCalls_ = 0;
    int eventSlices_ = 0;
    qint64 longestWorkMs_ = 0;
    double loopMs_ = 0;
    bool percentPending_ = false;  // Percent renewed since the bar was last drawn
    // The clocks as last shown, so captions change only when their text does.
    int shownElapsed_[3] = {-1, -1, -1};
    int shownEstimate_[3] = {-1, -1, -1};
    Qt::CursorShape resultPointer_ = Qt::IBeamCursor;  // rtfResp's own pointer when idle
    QPrinter* printer_ = nullptr;
    bool printerFromSetup_ = false;  // Print keeps the printer Print Setup chose
    QPointer<QWidget> frmAbout_;
};
