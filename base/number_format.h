// The program's number patterns, with separators taken from one place.
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

// The separators every pattern uses; the window sets them from the user's locale.
const NumberSeparators& Separators();
void SetSeparators(NumberSeparators separators);

std::string FormatGrouped(int64_t value, int minDigits = 1);    // "#,0" / "#,00"
std::string FormatMinDigits(int64_t value, int minDigits = 2);  // "00"
std::string FormatTwoDecimals(double value);                    // "#.00"

}  // namespace kaldrome
