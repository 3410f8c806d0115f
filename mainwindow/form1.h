// Form1: the main window, and the owner of everything a run touches.
//
// Design in brief: Form1 owns its controls, the run machinery (RunMachine, which
// holds the per-run record RunState), the engine settings, the bell and the
// common-dialog object dlgDialogo. The window's key filter (KeyFilter) hands
// keys and clicks to the handlers here. Enter in txtN runs ComputeFactorial
// inside the key handler: it sets the busy state, hands over to the run
// machinery, which runs the one run sequence (engine/run_sequence) with this
// window as its view, and then shows the finished or the stopped state. The
// result commands (form1_commands.cpp, form1_help.cpp) compose the result
// document and hand it to the clipboard, a file or the printer; the controls
// and menus are built in form1_layout.cpp.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/number_format.h"
#include "base/run_state.h"
#include "commands/print_setup.h"
#include "engine/factorial_engine.h"
#include "mainwindow/run_machine.h"
#include "uikit/bell.h"
#include "uikit/system_locale.h"

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace kaldrome {

class CommonDialog;
struct DocumentSource;
class KeyFilter;
class PercentBar;
class PrintService;
class ResultView;

class Form1 : public QMainWindow, private RunView {
    Q_OBJECT

  public:
    // The controls and menu items, named as the program names them (each also
    // carries its objectName).
    struct Controls {
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
        ResultView* rtfResp = nullptr;
        PercentBar* picPercentBar = nullptr;
        QFrame* Line1 = nullptr;
        CommonDialog* dlgDialogo = nullptr;

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
    };

    // Numbers are shown with the given separators, by default the user's locale's.
    explicit Form1(const NumberSeparators& separators = SystemSeparators(),
                   QWidget* parent = nullptr);
    ~Form1() override;

    // Read access for tests and the outside test driver.
    const Controls& Ui() const { return ui_; }
    const RunState& State() const { return run_.State(); }
    const RunMachine& Machine() const { return run_; }
    bool Running() const { return run_.Phase() == RunPhase::Running; }
    // True once the window has been closed: the program is ending.
    bool Quitting() const { return run_.Phase() == RunPhase::Quitting; }
    const NumberSeparators& Separators() const { return separators_; }
    // The bell of a finished run and of every refused key.
    const Bell& WindowBell() const { return bell_; }
    // The printer and paper chosen in Print Setup, which Print uses while the printer exists.
    const std::optional<PrinterChoice>& ChosenPrinter() const { return chosenPrinter_; }
    // The About window while it exists (created on first use, form1_help.cpp).
    QWidget* About() const { return frmAbout_; }
    // Every N by the factor loop instead of the tree path (or back): for the
    // tests that need a run long enough to be caught in the middle.
    void UseFactorLoop(bool on = true);
    // For tests: damages the limbs of the next finished runs before their check.
    void SetLimbFaultForTests(std::function<void(RunState&)> fault) {
        run_.SetLimbFaultForTests(std::move(fault));
    }

    // Command handlers (public so the pop-up twins, tests and the driver can reach them).
    void mnuCopy_Click();
    void mnuCreateFile_Click();
    void mnuPrint_Click();
    void mnuPrintSetup_Click();
    void mnuHelp_Click();
    void mnuWeb_Click();
    void mnuAbout_Click();

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    // The key preview passes keys and result-box clicks to the handlers below.
    friend class KeyFilter;

    // Construction, in order (form1_layout.cpp).
    void CreateControls();
    void CreateActions();
    void CreateMenus();
    void CreatePopUpMenu();
    void Form_Load();

    // Event handlers.
    void Form_KeyPress(int& keyAscii);
    void txtN_KeyPress(int& keyAscii);
    void cmdStop_Click();
    void cmdExit_Click();
    void Form_QueryUnload();
    void rtfResp_Click();
    void rtfResp_MouseDown(Qt::MouseButton button, const QPoint& globalPos);

    // The run: the busy state, the run itself, the finished state.
    void ComputeFactorial();
    void ShowSmallResult();
    void ShowResult();
    void ShowFailedResult(const std::string& message);
    void ShowOutOfMemory();
    void SetResultPointer(bool busy);
    // What a screen reader says when the focus comes back to the number box.
    void Announce(const QString& text);
    void ShowWaitingEstimate();

    // What a run shows while it goes (RunView).
    void ShowPercentBar() override;
    void ShowElapsedClock(int32_t h, int32_t m, int32_t s) override;
    void ShowEstimateClock(int32_t h, int32_t m, int32_t s) override;
    void DrawPercentBar(float p) override;
    bool RunHeld() const override;
    bool MenuBarKeyboardMode() const;

    // Exports (form1_commands.cpp).
    bool ResultReady() const;
    void PrepareSaveDialog();
    DocumentSource ResultDocumentSource() const;
    std::string ComposeResultDocument() const;
    void ShowPrintSetup(const PrintSetupFacts& facts);
    void ShowFailure(const std::string& message);

    const NumberSeparators separators_;
    Engine engine_;
    RunMachine run_{engine_};
    Bell bell_;
    Controls ui_;
    std::unique_ptr<KeyFilter> keyFilter_;
    bool centred_ = false;
    Qt::CursorShape resultPointer_ = Qt::IBeamCursor;  // rtfResp's own pointer when idle
    std::optional<PrinterChoice> chosenPrinter_;
    // Every question to the print service goes through it, off the window's thread.
    std::unique_ptr<PrintService> printService_;
    bool setupAsked_ = false;  // Print Setup waits for the print service
    QPointer<QWidget> frmAbout_;
    QPointer<QWidget> focusBeforeMenus_;  // where the focus was when the menu bar took it
    // The estimate shows at most once per second of the elapsed clock: the
    // newest one waits here until the clock's next second (or the run's end).
    int32_t waitingEstimate_[3] = {0, 0, 0};
    bool estimateWaiting_ = false;
    bool estimateDue_ = false;
    QMetaObject::Connection focusWatch_;
};

}  // namespace kaldrome
