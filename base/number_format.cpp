#include "base/number_format.h"

#include <cmath>
#include <cstdlib>

namespace kaldrome {

std::string FormatMinDigits(int64_t value, int minDigits) {
    const bool negative = value < 0;
    std::string digits =
        std::to_string(negative ? -static_cast<uint64_t>(value) : static_cast<uint64_t>(value));
    if (static_cast<int>(digits.size()) < minDigits)
        digits.insert(0, static_cast<std::size_t>(minDigits) - digits.size(), '0');
    return negative ? "-" + digits : digits;
}

std::string FormatGrouped(int64_t value, const NumberSeparators& separators, int minDigits) {
    std::string plain = FormatMinDigits(value, minDigits);
    const std::size_t start = (!plain.empty() && plain[0] == '-') ? 1 : 0;
    const std::string& sep = separators.group;
    std::string out = plain.substr(0, start);
    const std::size_t n = plain.size() - start;
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out += sep;
        out += plain[start + i];
    }
    return out;
}

std::string FormatTwoDecimals(double value, const NumberSeparators& separators) {
    const bool negative = value < 0;
    const auto hundredths = static_cast<long long>(std::llround(std::fabs(value) * 100.0));
    const long long whole = hundredths / 100;
    const long long frac = hundredths % 100;
    std::string out = negative && hundredths != 0 ? "-" : "";
    if (whole != 0) out += std::to_string(whole);
    out += separators.decimal;
    out += static_cast<char>('0' + frac / 10);
    out += static_cast<char>('0' + frac % 10);
    return out;
}

}  // namespace kaldrome
