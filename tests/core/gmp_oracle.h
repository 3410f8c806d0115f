// Test-only oracle: N! computed by GMP, independently of the engine.
#pragma once

#include <gmp.h>

#include <cstdint>
#include <string>
#include <vector>

namespace oracle {

// Decimal digits of n!.
inline std::string FactorialDigits(unsigned long n) {
    mpz_t f;
    mpz_init(f);
    mpz_fac_ui(f, n);
    std::string s(mpz_sizeinbase(f, 10) + 2, '\0');
    mpz_get_str(s.data(), 10, f);
    s.resize(std::char_traits<char>::length(s.c_str()));
    mpz_clear(f);
    return s;
}

// Limbs of n! in base 10^7, least significant first.
inline std::vector<int32_t> FactorialLimbs(unsigned long n) {
    const std::string d = FactorialDigits(n);
    std::vector<int32_t> limbs;
    for (std::ptrdiff_t end = static_cast<std::ptrdiff_t>(d.size()); end > 0; end -= 7) {
        const std::ptrdiff_t begin = end >= 7 ? end - 7 : 0;
        limbs.push_back(std::stoi(
            d.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin))));
    }
    return limbs;
}

}  // namespace oracle
