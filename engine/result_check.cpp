#include "engine/result_check.h"

#include <cmath>
#include <numbers>
#include <string>

#include "resulttext/result_text.h"

namespace kaldrome {

namespace {

constexpr uint64_t Base = static_cast<uint64_t>(LimbBase);

// The work is split into Ways independent chains per prime: one chain of
// multiply-and-reduce steps waits for each step to finish, several interleaved
// keep the processor's multipliers busy (about three times faster here).
constexpr int32_t Ways = 4;

// Products of two residues stay below 2^64 because both primes are below 2^32;
// with P a constant the compiler reduces without a division instruction.
template <uint64_t P>
uint64_t PowerOfBase(int64_t exponent) {
    uint64_t result = 1, square = Base % P;
    for (; exponent > 0; exponent >>= 1) {
        if (exponent & 1) result = result * square % P;
        square = square * square % P;
    }
    return result;
}

// Horner's rule, from the top limb down, over Ways equal stretches at once;
// the stretches are then joined as s3 * B^3q + s2 * B^2q + s1 * B^q + s0, the
// top stretch also holding the limbs left over at the top.
template <uint64_t P1, uint64_t P2>
std::array<uint32_t, 2> Residues(const int32_t* limbs, int32_t count) {
    const int32_t q = count / Ways;
    uint64_t a[Ways] = {}, b[Ways] = {};
    for (int32_t t = q - 1; t >= 0; --t) {
        for (int32_t s = 0; s < Ways; ++s) {
            const auto v = static_cast<uint64_t>(static_cast<uint32_t>(limbs[s * q + t]));
            a[s] = (a[s] * Base + v) % P1;
            b[s] = (b[s] * Base + v) % P2;
        }
    }
    uint64_t topA = 0, topB = 0;
    for (int32_t k = count - 1; k >= Ways * q; --k) {
        const auto v = static_cast<uint64_t>(static_cast<uint32_t>(limbs[k]));
        topA = (topA * Base + v) % P1;
        topB = (topB * Base + v) % P2;
    }
    const uint64_t stepA = PowerOfBase<P1>(q), stepB = PowerOfBase<P2>(q);
    uint64_t ra = topA, rb = topB;
    for (int32_t s = Ways - 1; s >= 0; --s) {
        ra = (ra * stepA + a[s]) % P1;
        rb = (rb * stepB + b[s]) % P2;
    }
    return {static_cast<uint32_t>(ra), static_cast<uint32_t>(rb)};
}

// n! as Ways interleaved products of factor pairs: the pair's product (below
// 2^40) is reduced apart from the chains, so each chain takes one step for
// two factors.
template <uint64_t P1, uint64_t P2>
std::array<uint32_t, 2> FactorialMod(int32_t n) {
    uint64_t a[Ways] = {1, 1, 1, 1}, b[Ways] = {1, 1, 1, 1};
    const auto last = static_cast<uint64_t>(n);
    uint64_t i = 1;
    for (; i + 2 * Ways - 1 <= last; i += 2 * Ways) {
        for (int32_t s = 0; s < Ways; ++s) {
            const uint64_t f = i + 2 * static_cast<uint64_t>(s);
            const uint64_t pair = f * (f + 1);
            a[s] = a[s] * (pair % P1) % P1;
            b[s] = b[s] * (pair % P2) % P2;
        }
    }
    for (; i <= last; ++i) {
        a[0] = a[0] * i % P1;
        b[0] = b[0] * i % P2;
    }
    uint64_t ra = 1, rb = 1;
    for (int32_t s = 0; s < Ways; ++s) {
        ra = ra * a[s] % P1;
        rb = rb * b[s] % P2;
    }
    return {static_cast<uint32_t>(ra), static_cast<uint32_t>(rb)};
}

Failure Failed(int32_t n, const std::string& what) {
    return Failure{"Kaldrome computed " + std::to_string(n) +
                   "!, but the result did not pass its check (" + what +
                   "), so it is not shown.\n\nA wrong result points to a fault of the computer's "
                   "processor or memory. Run it again; if the check fails again, the computer "
                   "needs attention."};
}

}  // namespace

std::array<uint32_t, 2> LimbResidues(const int32_t* limbs, int32_t count) {
    return Residues<CheckPrimes[0], CheckPrimes[1]>(limbs, count);
}

std::array<uint32_t, 2> FactorialResidues(int32_t n) {
    return FactorialMod<CheckPrimes[0], CheckPrimes[1]>(n);
}

int32_t FactorialDigitCount(int32_t n) {
    const double log10Factorial = std::lgamma(static_cast<double>(n) + 1.0) / std::numbers::ln10;
    return static_cast<int32_t>(std::floor(log10Factorial)) + 1;
}

Outcome<void> CheckResult(const RunState& rs) {
    const int32_t n = rs.Target;
    if (n < 4 || n > MaxTarget || rs.LimbCount < 1 || rs.LimbCount > rs.Limbs.Capacity())
        return Failed(n, "its size is impossible");
    const int32_t* limbs = rs.Limbs.Data();
    // Every limb holds seven digits; a limb outside 0..9,999,999 could leave
    // the value right and the digits wrong.
    uint32_t outOfRange = 0;
    for (int32_t k = 0; k < rs.LimbCount; ++k)
        outOfRange |= static_cast<uint32_t>(static_cast<uint32_t>(limbs[k]) >= Base);
    if (outOfRange != 0) return Failed(n, "a group of digits is out of range");
    if (limbs[rs.LimbCount - 1] == 0) return Failed(n, "it begins with a zero group");
    const int32_t digits = FactorialDigitCount(n);
    if (CountDigits(rs) != digits)
        return Failed(n, "it has " + std::to_string(CountDigits(rs)) + " digits instead of " +
                             std::to_string(digits));
    if (LimbResidues(limbs, rs.LimbCount) != FactorialResidues(n))
        return Failed(n, "its digits are wrong");
    return {};
}

}  // namespace kaldrome
