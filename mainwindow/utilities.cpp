#include "mainwindow/utilities.h"

#include <QAction>
#include <QLineEdit>

#include "base/run_state.h"
#include "mainwindow/form1.h"

namespace Utilities {

namespace {

// The result commands, always switched together and in this order.
void SetResultMenusEnabled(Form1& form, bool enabled) {
    for (QAction* item : {form.mnuCopy, form.mnuCreateFile, form.mnuPrint, form.mnuCopy_Pop,
                          form.mnuCreateFile_Pop, form.mnuPrint_Pop})
        item->setEnabled(enabled);
}

}  // namespace

void SelectAllText(QLineEdit* box) {
    box->setFocus();
    box->setSelection(0, static_cast<int>(box->text().size()));
}

void EnableResultMenus(Form1& form) {
    if (kaldrome::StopRequested) return;
    SetResultMenusEnabled(form, true);
}

void DisableResultMenus(Form1& form) {
    SetResultMenusEnabled(form, false);
}

}  // namespace Utilities
