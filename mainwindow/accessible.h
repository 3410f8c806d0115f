// What a screen reader finds in the controls the window draws itself, through
// Qt's accessibility framework (which carries it to AT-SPI on Linux):
//
// - the result box (ResultView): read-only multi-line text whose Text
//   interface hands out any range of the result without copying the rest, with
//   its caret at the first line in sight and an action that opens the pop-up menu;
// - the percent bar (PercentBar): a progress bar whose Value is the percent,
//   0 to 100, and whose text is the one drawn in it;
// - the rule Line1 (a horizontal QFrame line): a separator.
#pragma once

namespace kaldrome {

// Makes Qt build those interfaces; the controls call it when they are made.
void InstallAccessibleViews();

}  // namespace kaldrome
