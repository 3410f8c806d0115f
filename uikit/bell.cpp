#include "uikit/bell.h"

#include <QApplication>

namespace kaldrome {

namespace {
int beepCount = 0;
}  // namespace

void Beep() {
    ++beepCount;
    QApplication::beep();
}

int BeepCount() {
    return beepCount;
}

}  // namespace kaldrome
