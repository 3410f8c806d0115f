#include "desktop/launch.h"

#include <cerrno>
#include <cstring>

#ifndef KALDROME_VERSION
#error "KALDROME_VERSION must be defined by the build (the project version)"
#endif
#ifndef KALDROME_APP_ID
#error "KALDROME_APP_ID must be defined by the build (the application id)"
#endif

namespace kaldrome {

namespace {

constexpr char kUsage[] =
    "Usage: kaldrome [--help | --version]\n"
    "\n"
    "Kaldrome computes the factorial N! of a whole number N from 0 to 999,999\n"
    "exactly, with all its digits, in a desktop window. Type N into the window's\n"
    "number box and press Enter; the result can be copied, saved or printed.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the program's name and version and exit\n"
    "\n"
    "Other arguments are ignored. See kaldrome(1) and the program's Help menu.\n";

// A full disk or a closed pipe must not pass for a successful answer.
int Print(const char* text, std::FILE* out, std::FILE* err) {
    errno = 0;
    const bool written = std::fputs(text, out) >= 0 && std::fflush(out) == 0 && !std::ferror(out);
    if (written) return 0;
    const int cause = errno;
    std::fprintf(err, "kaldrome: cannot write the answer: %s\n",
                 cause != 0 ? std::strerror(cause) : "write error");
    return 1;
}

}  // namespace

const char* NameAndVersion() {
    return "Kaldrome " KALDROME_VERSION;
}

const char* DesktopFileName() {
    return KALDROME_APP_ID;
}

int AnswerCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0) break;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)
            return Print(kUsage, out, err);
        if (std::strcmp(arg, "--version") == 0) {
            char line[64];
            std::snprintf(line, sizeof line, "%s\n", NameAndVersion());
            return Print(line, out, err);
        }
    }
    return -1;
}

}  // namespace kaldrome
