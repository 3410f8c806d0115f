// Small procedures shared by the windows: selection and the result commands.
#pragma once

class QLineEdit;

namespace kaldrome {

class Form1;

namespace Utilities {

// Gives box the focus and selects its whole text, so the next key replaces it.
void SelectAllText(QLineEdit* box);

// Enables the six result commands (Copy, Create File, Print and their pop-up
// twins), unless a stop was requested since the run started.
void EnableResultMenus(Form1& form);

// Disables the six result commands.
void DisableResultMenus(Form1& form);

}  // namespace Utilities

}  // namespace kaldrome
