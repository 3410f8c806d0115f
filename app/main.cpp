// Kaldrome: the exact factorial of a number from 0 to 999,999, with all its digits.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string_view>

#include "desktop/launch.h"
#include "desktop/startup.h"
#include "mainwindow/form1.h"
#include "uikit/fonts.h"
#include "uikit/program_icon.h"

int main(int argc, char** argv) {
    // --help and --version answer on the terminal, before any display is needed.
    if (const int status = kaldrome::AnswerCommandLine(argc, argv, stdout, stderr); status >= 0)
        return status;
    kaldrome::KeepReservationsSmall();
    // Until the window stands, running short of memory ends the program with a
    // message instead of leaving it hanging or half made.
    kaldrome::BeginStartupWatch(stderr);
    try {
        QApplication app(argc, argv);
        if (const std::string problem = kaldrome::DisplayProblem(QGuiApplication::primaryScreen());
            !problem.empty()) {
            kaldrome::EndStartupWatch();
            std::fputs(problem.c_str(), stderr);
            return 1;
        }
        if (!kaldrome::RoomToStart()) throw std::bad_alloc();
        QApplication::setApplicationName("Kaldrome");
        QGuiApplication::setDesktopFileName(kaldrome::DesktopFileName());
        QApplication::setWindowIcon(kaldrome::ProgramIcon());
        kaldrome::InstallFontSubstitutions();

        kaldrome::Form1 w;
        // For the end-to-end tests, which need runs long enough to be caught
        // in the middle: every N by the factor loop, some ten times slower.
        if (const char* engine = std::getenv("KALDROME_ENGINE");
            engine != nullptr && std::string_view(engine) == "loop")
            w.UseFactorLoop();
        kaldrome::EndStartupWatchWhenShown(&w);
        w.show();
        return app.exec();
    } catch (const std::bad_alloc&) {
        const bool starting = kaldrome::StartupWatched();
        kaldrome::EndStartupWatch();
        std::fputs(starting ? kaldrome::OutOfMemoryAtStart()
                            : "kaldrome: there is not enough memory to go on.\n",
                   stderr);
        return 1;
    }
}
