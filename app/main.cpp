// Kaldrome: the exact factorial of a number from 0 to 999,999, with all its digits.
#include <QApplication>

#include "mainwindow/form1.h"
#include "uikit/fonts.h"
#include "uikit/program_icon.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kaldrome");
    QApplication::setWindowIcon(kaldrome::ProgramIcon());
    kaldrome::InstallFontSubstitutions();

    kaldrome::Form1 w;
    w.show();
    return app.exec();
}
