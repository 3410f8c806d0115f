// The program's number patterns. The separators are the caller's: the window
// owns the ones of the user's locale and hands them to whatever formats.
//   "#,0"  at least one digit, thousands grouped
//   "#,00" at least two digits, thousands grouped
//   "00"   at least two digits
//   "#.00" no leading zero below 1, exactly two decimals
#pragma once

#include <cstdint>
#include <string>

namespace kaldrome {

struct NumberSeparators {
    std::string group = ",";
    std::string decimal = ".";
};

// "#,0" (minDigits 1) and "#,00" (minDigits 2).
std::string FormatGrouped(int64_t value, const NumberSeparators& separators, int minDigits = 1);
// "00".
std::string FormatMinDigits(int64_t value, int minDigits = 2);
// "#.00".
std::string FormatTwoDecimals(double value, const NumberSeparators& separators);

}  // namespace kaldrome
