#include "uikit/system_locale.h"

namespace kaldrome {

NumberSeparators SeparatorsFor(const QLocale& locale) {
    NumberSeparators separators;  // "," and "."
    if (locale.language() == QLocale::C) return separators;
    const QString group = locale.groupSeparator();
    const QString decimal = locale.decimalPoint();
    if (group.isEmpty() || decimal.isEmpty() || group == decimal) return separators;
    separators.group = group.toStdString();
    separators.decimal = decimal.toStdString();
    return separators;
}

NumberSeparators SystemSeparators() {
    return SeparatorsFor(QLocale::system());
}

}  // namespace kaldrome
