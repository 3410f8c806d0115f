// What the program needs before its window can work: a display with enough
// colours, and the memory to start in. Failing either, it ends at once with a
// message on stderr and status 1, rather than crash or hang later.
#pragma once

#include <cstdio>
#include <string>

class QScreen;
class QWidget;

namespace kaldrome {

// Fewer bits per pixel than this crash the toolkit at the first key.
inline constexpr int MinimumDisplayDepth = 16;

// Why the program cannot run on screen (no screen, too few colours); empty
// when it can.
std::string DisplayProblem(const QScreen* screen);

// From here until EndStartupWatch, a message of the toolkit that tells of
// memory running out or of a thread it could not start, and any fatal one,
// ends the program with status 1 and a line of its own on err. Without this
// the toolkit waits for ever on the thread that never started, or aborts.
// An abort in that time ends it the same way.
void BeginStartupWatch(std::FILE* err);
void EndStartupWatch();
// Ends the watch once window has been painted for the first time; without
// room beyond what the start took for the window's everyday work, the program
// ends then as it would have failed during the start.
void EndStartupWatchWhenShown(QWidget* window);
// True between BeginStartupWatch and its end.
bool StartupWatched();

// Keeps what the process reserves and never uses small, as an address-space
// limit (ulimit -v) counts reservations in full: every thread made from now on
// gets a stack of 2 MiB instead of 8, and all threads share one memory pool
// instead of reserving 64 MiB each. Call before any thread starts.
void KeepReservationsSmall();

// True when there is room to make the window, paint it and work in it. Qt's
// widgets cannot be unmade halfway: memory that runs out inside one's making
// ends the program with a crash, so the start asks first.
bool RoomToStart();

// The line for a failed allocation: at start-up the program ends with it.
const char* OutOfMemoryAtStart();

}  // namespace kaldrome
