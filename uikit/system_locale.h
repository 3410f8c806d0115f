// Number separators from the user's locale.
#pragma once

#include <QLocale>

#include "base/number_format.h"

namespace kaldrome {

// The thousands and decimal separators of a locale; "," and "." where the
// locale defines no grouping (the C/POSIX locale).
NumberSeparators SeparatorsFor(const QLocale& locale);

// The separators of the user's numeric locale, chosen as the C library
// chooses it: LC_ALL, else LC_NUMERIC, else LANG, whatever the others say.
// They come from the C library's data for that locale; where the machine does
// not have the locale, from Qt's data for the same name. Read afresh on every
// call; nothing in the process changes.
NumberSeparators SystemSeparators();

}  // namespace kaldrome
