// A check of a finished result that does not trust the multiplication.
//
// The number in the limbs is reduced modulo two primes and compared with N!
// computed modulo the same primes, factor by factor; its digit count is
// compared with log10(N!). A fault that changes the result (a kernel that
// miscomputes on some processor, a bit flipped in memory) fails the check, and
// a result that fails it is never shown. The check costs a few milliseconds
// for 999,999!, next to a minute for the run.
#pragma once

#include <array>
#include <cstdint>

#include "base/outcome.h"
#include "base/run_state.h"

namespace kaldrome {

// The two largest primes below 2^32. Both exceed every factor, so N! is never
// 0 modulo them, and every limb, so that a change of any one limb changes both
// residues.
inline constexpr std::array<uint32_t, 2> CheckPrimes = {4'294'967'291u, 4'294'967'279u};

// The number limbs[0..count) (least significant first, base 10^7) modulo each
// of CheckPrimes; every limb must be below 10^7.
std::array<uint32_t, 2> LimbResidues(const int32_t* limbs, int32_t count);

// n! modulo each of CheckPrimes, for n from 0 to 999,999.
std::array<uint32_t, 2> FactorialResidues(int32_t n);

// The number of decimal digits of n!, from log10(n!) = lgamma(n + 1) / ln 10.
// For n up to 999,999 it is exact: log10(n!) stays at least 1.7e-6 away from a
// whole number, and the logarithm is off by less than 2e-9.
int32_t FactorialDigitCount(int32_t n);

// Checks the limbs that a completed factor loop of rs.Target (4 to 999,999)
// left, LimbCount being S: every limb below 10^7, the top one not 0, the digit
// count, and both residues. The failure says in plain words what went wrong
// and what the user can do.
Outcome<void> CheckResult(const RunState& rs);

}  // namespace kaldrome
