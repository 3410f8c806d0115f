// Kaldrome: the exact factorial of a number from 0 to 999,999, with all its digits.
#include <QApplication>
#include <cstdio>

#include "desktop/launch.h"
#include "mainwindow/form1.h"
#include "uikit/fonts.h"
#include "uikit/program_icon.h"

int main(int argc, char** argv) {
    // --help and --version answer on the terminal, before any display is needed.
    if (const int status = kaldrome::AnswerCommandLine(argc, argv, stdout, stderr); status >= 0)
        return status;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kaldrome");
    QGuiApplication::setDesktopFileName(kaldrome::DesktopFileName());
    QApplication::setWindowIcon(kaldrome::ProgramIcon());
    kaldrome::InstallFontSubstitutions();

    kaldrome::Form1 w;
    w.show();
    return app.exec();
}
