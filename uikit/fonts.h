// The classic font families the windows are laid out for, on Linux.
#pragma once

namespace kaldrome {

// Maps the classic Windows families the window asks for ("MS Sans Serif",
// "Courier New") to metric-compatible fonts that Linux ships. Idempotent.
void InstallFontSubstitutions();

}  // namespace kaldrome
