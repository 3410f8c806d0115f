// The program's one beep: a finished run and every refused key sound it.
//
// Every beep goes through Beep(), which also counts it, so that tests can see
// a beep on platforms where the system bell makes no sound (offscreen).
#pragma once

namespace kaldrome {

// Sounds the system bell once.
void Beep();

// Beeps sounded since the program started.
int BeepCount();

}  // namespace kaldrome
