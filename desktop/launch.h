// What the program answers before it opens a window, and the name under which
// the desktop knows it.
#pragma once

#include <cstdio>

namespace kaldrome {

// Looks at the command line for --help (or -h) and --version; the first one
// found wins, and "--" ends the options. Prints the answer to out and returns
// the exit status: 0, or 1 when the answer could not be written (a message
// then goes to err). Returns -1 when the window should open: every other
// argument is ignored, as the program takes no input but the typed number.
// Needs no display and no Qt application object.
int AnswerCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

// The program's name and version, e.g. "Kaldrome 1.12".
const char* NameAndVersion();

// The application id: the base name of the desktop file, the metainfo and the
// icon, so the desktop can link the running window to its launcher.
const char* DesktopFileName();

}  // namespace kaldrome
