#include "mainwindow/utilities.h"

#include <QAction>
#include <QLineEdit>

#include "base/run_state.h"
#include "mainwindow/form1.h"

namespace kaldrome::Utilities {

namespace {

// The result commands, always switched together and in this order.
void SetResultMenusEnabled(const Form1& form, bool enabled) {
    const Form1::Controls& ui = form.Ui();
    for (QAction* item : {ui.mnuCopy, ui.mnuCreateFile, ui.mnuPrint, ui.mnuCopy_Pop,
                          ui.mnuCreateFile_Pop, ui.mnuPrint_Pop})
        item->setEnabled(enabled);
}

}  // namespace

void SelectAllText(QLineEdit* box) {
    box->setFocus();
    box->setSelection(0, static_cast<int>(box->text().size()));
}

void EnableResultMenus(Form1& form) {
    if (StopRequested) return;
    SetResultMenusEnabled(form, true);
}

void DisableResultMenus(Form1& form) {
    SetResultMenusEnabled(form, false);
}

}  // namespace kaldrome::Utilities
