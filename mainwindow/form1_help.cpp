// Help, web link and About commands of the main window. All three stay usable
// during a run: Help and the web link return at once, About holds the run until
// its window closes (it runs modally inside the run's yield).
#include "commands/common_dialog.h"
#include "commands/frm_about.h"
#include "commands/help_viewer.h"
#include "commands/open_document.h"
#include "mainwindow/form1.h"

namespace kaldrome {

void Form1::mnuHelp_Click() {
    ui_.dlgDialogo->HelpFile = HelpFilePath();
    ui_.dlgDialogo->HelpCommand = HelpContents;
    ui_.dlgDialogo->ShowHelp();
}

void Form1::mnuWeb_Click() {
    const QString address = ProductsPageAddress();
    Utilities::OpenDocument(address);
}

void Form1::mnuAbout_Click() {
    if (!frmAbout_) {
        // No owner: the window centres on the screen, not on the main window.
        auto* about = new FrmAbout;
        frmAbout_ = about;
        connect(this, &QObject::destroyed, about, [about] { delete about; });
    }
    static_cast<FrmAbout*>(frmAbout_.data())->ShowModal();
}

}  // namespace kaldrome
