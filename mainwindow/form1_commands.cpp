// Export commands of the main window: Copy to Clipboard, Create File, Print, Print Setup.
//
// Each export builds the plain text when needed, composes the one document and
// hands it on; a failure is told to the user and leaves the result on screen.
#include <QGuiApplication>
#include <QPrinter>

#include "commands/common_dialog.h"
#include "commands/exports.h"
#include "mainwindow/form1.h"
#include "resulttext/result_document.h"
#include "resulttext/result_text.h"
#include "uikit/message_box.h"

namespace {

const QString kSaveTitle = QStringLiteral("Specify File Name to Create");
const QString kSaveFilter =
    QStringLiteral("Word Document (*.doc)|*.doc|Text (*.txt)|*.txt|Rich Text Format (*.rtf)|*.rtf");
constexpr int kSaveFilterIndex = 3;

}  // namespace

void Form1::mnuCopy_Click() {
    // The commands are disabled during a run and before a result exists;
    // this keeps a stray call from reading limbs that are being multiplied.
    if (running_ || rs_.DisplayText.empty()) return;
    if (!rs_.PlainTextReady) kaldrome::BuildPlainText(rs_);
    const std::string document = ComposeResultDocument();
    const kaldrome::Outcome<void> copied =
        kaldrome::PutOnClipboard(QGuiApplication::clipboard(), document);
    if (!copied.Ok()) ShowFailure(copied.Error().message);
}

void Form1::mnuCreateFile_Click() {
    if (running_ || rs_.DisplayText.empty()) return;
    PrepareSaveDialog();
    // Cancelling ends the command silently, before anything is built.
    if (!dlgDialogo->ShowSave() || dlgDialogo->FileName.isEmpty()) return;
    if (!rs_.PlainTextReady) kaldrome::BuildPlainText(rs_);
    const std::string document = ComposeResultDocument();
    const QString path = dlgDialogo->FileName;
    const kaldrome::Outcome<void> written = kaldrome::WriteDocumentFile(path, document);
    if (!written.Ok())
        kaldrome::ShowStopMessage(
            this, kaldrome::FileErrorText(path, QString::fromStdString(written.Error().message)));
}

void Form1::mnuPrint_Click() {
    if (running_ || rs_.DisplayText.empty()) return;
    if (!Utilities::PrinterInstalled()) {
        kaldrome::ShowNoPrinterMessage(this);
        return;
    }
    QPrinter& printer = CurrentPrinter();
    if (!rs_.PlainTextReady) kaldrome::BuildPlainText(rs_);
    const std::string document = ComposeResultDocument();
    printer.setDocName(QStringLiteral("Kaldrome%1").arg(rs_.Target));
    const kaldrome::Outcome<void> printed = kaldrome::PrintDocument(printer, document);
    if (!printed.Ok()) ShowFailure(printed.Error().message);
}

void Form1::mnuPrintSetup_Click() {
    // Stays available during a run: the run waits inside its yield until the dialog closes.
    if (!Utilities::PrinterInstalled()) {
        kaldrome::ShowNoPrinterMessage(this);
        return;
    }
    // The dialog opens on the printer that Print would use now.
    QPrinter& printer = CurrentPrinter();
    dlgDialogo->Flags = kaldrome::CommonDialog::PrintSetupForm;
    if (dlgDialogo->ShowPrinter(printer)) printerFromSetup_ = true;
}

QPrinter& Form1::CurrentPrinter() {
    // Created on first use (the window deletes it); it follows the system's
    // default printer unless Print Setup chose one that still exists.
    if (printer_ == nullptr) printer_ = new QPrinter(QPrinter::HighResolution);
    printerFromSetup_ = kaldrome::FollowDefaultPrinter(*printer_, printerFromSetup_);
    return *printer_;
}

void Form1::PrepareSaveDialog() {
    dlgDialogo->DialogTitle = kSaveTitle;
    dlgDialogo->FileName = QStringLiteral("Kaldrome%1").arg(rs_.Target);
    dlgDialogo->Flags =
        kaldrome::CommonDialog::OverwritePrompt | kaldrome::CommonDialog::HideReadOnly;
    dlgDialogo->Filter = kSaveFilter;
    dlgDialogo->FilterIndex = kSaveFilterIndex;
    dlgDialogo->CancelError = true;
}

void Form1::ShowFailure(const std::string& message) {
    kaldrome::ShowStopMessage(this, QString::fromStdString(message));
}

std::string Form1::ComposeResultDocument() const {
    return kaldrome::ComposeResultDocument(rs_, separators_);
}
