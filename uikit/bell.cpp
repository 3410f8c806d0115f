#include "uikit/bell.h"

#include <QApplication>

namespace kaldrome {

void Bell::Ring() {
    ++rings_;
    QApplication::beep();
}

}  // namespace kaldrome
