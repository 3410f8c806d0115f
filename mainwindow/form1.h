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

#include <QMainWindow>
#include <QPointer>

#include "engine/progress.h"
#include "engine/run_state.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QFrame;
class QPrinter;

namespace kaldrome {
class PercentBar;
class CommonDialog;
class FrmAbout;
class HelpViewer;
}  // namespace kaldrome

class Form1 : public QMainWindow {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Read access for tests and the outside test driver.
    const kaldrome::RunState& State() const { return rs_; }
    bool Running() const { return running_; }

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

    kaldrome::HelpViewer* Help() const { return helpViewer_; }
    kaldrome::FrmAbout* About() const { return frmAbout_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    friend class Form1Test;

    // Construction, in order.
    void createControls();
    void createActions();
    void createMenus();
    void createPopUpMenu();
    void Form_Load();

    // Event handlers.
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
    void YieldToEvents();

    // Exports (form1_commands.cpp).
    void PrepareSaveDialog();
    std::string ComposeResultDocument() const;

    kaldrome::RunState rs_;
    kaldrome::RunClock clock_;
    bool running_ = false;
    QPrinter* printer_ = nullptr;
    QPointer<kaldrome::HelpViewer> helpViewer_;
    QPointer<kaldrome::FrmAbout> frmAbout_;
};
