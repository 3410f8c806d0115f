// Export commands of the main window: Copy to Clipboard, Create File, Print, Print Setup.
//
// Each export builds the plain text when needed, composes the one document and
// hands it on; a failure is told to the user and leaves the result on screen.
#include <QGuiApplication>
#include <new>
#include <string>

#include "commands/common_dialog.h"
#include "commands/exports.h"
#include "commands/print_job.h"
#include "commands/print_queue.h"
#include "commands/print_service.h"
#include "commands/print_setup.h"
#include "mainwindow/form1.h"
#include "resulttext/result_document.h"
#include "resulttext/result_text.h"
#include "uikit/memory_room.h"
#include "uikit/message_box.h"

namespace kaldrome {

namespace {

const QString SaveTitle = QStringLiteral("Specify File Name to Create");
const QString SaveFilter =
    QStringLiteral("Word Document (*.doc)|*.doc|Text (*.txt)|*.txt|Rich Text Format (*.rtf)|*.rtf");
constexpr int SaveFilterIndex = 3;

// What the save dialog takes while it is open, with room to spare: its folder
// reader's thread, the model of the folder, its picture on the screen.
constexpr std::size_t SaveDialogBytes = std::size_t{12} << 20;

// Runs the part of an export that builds, composes and hands on the document.
// A failed allocation anywhere in it is told in the message box, and the plain
// text it was building is given back; the result on screen stays as it is.
template <class Export>
void Guarded(QWidget* window, RunState& rs, Export&& exportIt) {
    try {
        exportIt();
    } catch (const std::bad_alloc&) {
        if (!rs.PlainTextReady) std::string().swap(rs.PlainText);
        ShowStopMessage(window, OutOfMemoryText());
    }
}

}  // namespace

bool Form1::ResultReady() const {
    // The commands are disabled during a run and before a result exists; this
    // keeps a stray call from reading limbs that are being multiplied.
    return run_.Phase() == RunPhase::Idle && !run_.State().DisplayText.empty();
}

void Form1::mnuCopy_Click() {
    if (!ResultReady()) return;
    RunState& rs = run_.State();
    Guarded(this, rs, [&] {
        const Outcome<void> copied =
            PutOnClipboard(QGuiApplication::clipboard(), ResultDocumentSource());
        if (!copied.Ok()) ShowFailure(copied.Error().message);
    });
}

void Form1::mnuCreateFile_Click() {
    if (!ResultReady()) return;
    // Qt ends the program when it paints a window it found no memory for: a
    // dialog it could not paint must not open.
    if (!RoomFor(SaveDialogBytes)) {
        ShowStopMessage(this, OutOfMemoryText());
        return;
    }
    PrepareSaveDialog();
    // Cancelling ends the command silently, before anything is built.
    CommonDialog& dialog = *ui_.dlgDialogo;
    try {
        if (!dialog.ShowSave() || dialog.FileName.isEmpty()) return;
    } catch (const std::bad_alloc&) {
        ShowStopMessage(this, OutOfMemoryText());
        return;
    }
    RunState& rs = run_.State();
    const QString path = dialog.FileName;
    Guarded(this, rs, [&] {
        const Outcome<void> written = WriteDocumentFile(path, ResultDocumentSource());
        if (!written.Ok())
            ShowStopMessage(this,
                            FileErrorText(path, QString::fromStdString(written.Error().message)));
    });
}

void Form1::mnuPrint_Click() {
    // One print command at a time: Print Setup's form is on its way.
    if (!ResultReady() || setupAsked_) return;
    // Where to print is asked off the window's thread; meanwhile the window
    // paints and answers, but takes no input that could start anything.
    const std::optional<PrintTarget> target = printService_->AskAndWait<PrintTarget>(
        [chosen = chosenPrinter_](const WorkProgress&) { return LookUpPrintTarget(chosen); });
    if (Quitting()) return;
    if (!target) {
        ShowNoAnswerMessage(this);
        return;
    }
    if (!target->installed) {
        ShowNoPrinterMessage(this);
        return;
    }
    if (!target->choiceKept) chosenPrinter_.reset();  // that printer is gone
    if (!target->ready.Ok()) {
        ShowFailure(target->ready.Error().message);
        return;
    }
    RunState& rs = run_.State();
    const QString title = QStringLiteral("Kaldrome%1").arg(rs.Target);
    const QString queue = target->queue;
    const QPageLayout layout = target->layout;
    Guarded(this, rs, [&] {
        if (!rs.PlainTextReady) BuildPlainText(rs);
        const Outcome<PrintEnd> printed = PrintWithProgress(
            this, layout, title, ComposeResultDocument(),
            [&](const QByteArray& pdf) -> Outcome<void> {
                const std::optional<Outcome<int>> job = printService_->AskAndWait<Outcome<int>>(
                    [queue, title, pdf,
                     media = layout.pageSize().key()](const WorkProgress& progress) {
                        return SubmitPdf(queue, title, pdf, media, progress);
                    });
                if (!job) return Failure{NoAnswerText().toStdString()};
                if (!job->Ok()) return job->Error();
                return {};
            });
        if (!printed.Ok() && !Quitting()) ShowFailure(printed.Error().message);
    });
}

void Form1::mnuPrintSetup_Click() {
    // Stays available during a run, which goes on while the print service is
    // asked and waits only while the form is open. A second request while the
    // first is asked adds nothing: the form is on its way.
    if (setupAsked_) return;
    setupAsked_ = true;
    printService_->Ask<PrintSetupFacts>(
        [chosen = chosenPrinter_](const WorkProgress&) { return LookUpPrintSetup(chosen); },
        [this](PrintSetupFacts&& facts) {
            setupAsked_ = false;
            ShowPrintSetup(facts);
        },
        [this] {
            setupAsked_ = false;
            if (!Quitting()) ShowNoAnswerMessage(this);
        });
}

void Form1::ShowPrintSetup(const PrintSetupFacts& facts) {
    if (Quitting()) return;
    if (!facts.installed) {
        ShowNoPrinterMessage(this);
        return;
    }
    if (!facts.choiceKept) chosenPrinter_.reset();  // that printer is gone
    // The form opens on the printer that Print would use now.
    PrinterChoice choice = facts.current;
    ui_.dlgDialogo->Flags = CommonDialog::PrintSetupForm;
    if (ui_.dlgDialogo->ShowPrinter(facts.printers, choice)) chosenPrinter_ = choice;
}

void Form1::PrepareSaveDialog() {
    CommonDialog& dialog = *ui_.dlgDialogo;
    dialog.DialogTitle = SaveTitle;
    dialog.FileName = QStringLiteral("Kaldrome%1").arg(run_.State().Target);
    dialog.Flags = CommonDialog::OverwritePrompt | CommonDialog::HideReadOnly;
    dialog.Filter = SaveFilter;
    dialog.FilterIndex = SaveFilterIndex;
    dialog.CancelError = true;
}

DocumentSource Form1::ResultDocumentSource() const {
    // Copy and Create File take the plain text as it is made from the limbs,
    // a piece at a time: the clipboard's copy or the file is then the only
    // whole copy of the document beside the text on screen.
    const RunState& rs = run_.State();
    return {
        [this, &rs](const TextSink& sink) { return StreamResultDocument(rs, separators_, sink); },
        ResultDocumentLength(rs, separators_)};
}

std::string Form1::ComposeResultDocument() const {
    return kaldrome::ComposeResultDocument(run_.State(), separators_);
}

void Form1::ShowFailure(const std::string& message) {
    ShowStopMessage(this, QString::fromStdString(message));
}

}  // namespace kaldrome
