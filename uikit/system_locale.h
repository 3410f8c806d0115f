// Number separators from the user's locale.
#pragma once

#include <QLocale>

#include "base/number_format.h"

namespace kaldrome {

// The thousands and decimal separators of a locale; "," and "." where the
// locale defines no grouping (the C/POSIX locale).
NumberSeparators SeparatorsFor(const QLocale& locale);

// The separators of the user's locale, QLocale::system().
NumberSeparators SystemSeparators();

}  // namespace kaldrome
