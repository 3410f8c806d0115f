// Grouped multiplication kernels: one pass multiplies the limbs by the product
// of several consecutive factors, a multiplier of up to MaxMultiplierLimbs
// limbs in base 10^7, so that the number is read and written once per group
// instead of once per factor.
//
// A kernel works on one block limbs[0..n) of a pass, in place. Output limb j is
//   s_j = sum over i of old(j - i) * multiplier.limb[i]   (i = 0..count-1)
// normalised with the carry coming from below. The old limbs below the block
// (old(-1) .. old(-(count-1))) are read from `window`, not from memory: in a
// pass split into blocks or into segments on several threads they have
// already been overwritten. Every kernel computes exactly what the reference
// loop computes, limb for limb and carry for carry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/check.h"
#include "base/run_state.h"

namespace kaldrome {

// 16 limbs hold 10^112 and so any 18 factors below 10^6. It also keeps every
// column sum s_j plus carry under 16 * 10^14 + 16 * 10^7 < 2^51, the range in
// which the vector kernels' quotient estimates are exact.
inline constexpr int MaxMultiplierLimbs = 16;

struct Multiplier {
    int32_t count = 0;                       // limbs in use; limb[count - 1] is not 0
    uint32_t limb[MaxMultiplierLimbs] = {};  // base 10^7, least significant first
};

// window: on entry window[0..count-2] are the old limbs at -(count-1) .. -1
// (window[count-2] is the one right below limbs[0]); on return the old limbs
// at n-(count-1) .. n-1, which is what the next block needs. carry is added at
// limbs[0] and must be below count * 10^7; the result is what goes on to
// limbs[n], and is below count * 10^7 as well.
using GroupKernel = uint64_t (*)(int32_t* limbs, std::size_t n, const Multiplier& multiplier,
                                 int32_t* window, uint64_t carry);

// What every grouped kernel may rely on (see above). The limbs are only walked
// in Debug and sanitized builds.
inline void CheckGroupKernelArguments([[maybe_unused]] const int32_t* limbs,
                                      [[maybe_unused]] std::size_t n,
                                      [[maybe_unused]] const Multiplier& multiplier,
                                      [[maybe_unused]] const int32_t* window,
                                      [[maybe_unused]] uint64_t carry) {
#if KALDROME_ASSERTS
    const int32_t m = multiplier.count;
    KALDROME_ASSERT(m >= 1 && m <= MaxMultiplierLimbs);
    KALDROME_ASSERT(multiplier.limb[m - 1] != 0);
    for (int32_t i = 0; i < m; ++i) KALDROME_ASSERT(multiplier.limb[i] < LimbBase);
    KALDROME_ASSERT(carry < static_cast<uint64_t>(m) * LimbBase);
    KALDROME_ASSERT(n <= static_cast<std::size_t>(MaxTarget));
    KALDROME_ASSERT(n == 0 || limbs != nullptr);
    for (int32_t k = 0; k + 1 < m; ++k) KALDROME_ASSERT(window[k] >= 0 && window[k] < LimbBase);
    for (std::size_t k = 0; k < n; ++k) KALDROME_ASSERT(limbs[k] >= 0 && limbs[k] < LimbBase);
#endif
}

// The plain loop every other grouped kernel is tested against.
uint64_t MulGroupReference(int32_t* limbs, std::size_t n, const Multiplier& multiplier,
                           int32_t* window, uint64_t carry);
uint64_t MulGroupPortable(int32_t* limbs, std::size_t n, const Multiplier& multiplier,
                          int32_t* window, uint64_t carry);
#if defined(__x86_64__)
uint64_t MulGroupAvx2(int32_t* limbs, std::size_t n, const Multiplier& multiplier, int32_t* window,
                      uint64_t carry);
uint64_t MulGroupAvx512(int32_t* limbs, std::size_t n, const Multiplier& multiplier,
                        int32_t* window, uint64_t carry);
uint64_t MulGroupAvx512Ifma(int32_t* limbs, std::size_t n, const Multiplier& multiplier,
                            int32_t* window, uint64_t carry);
#endif

// The quotient estimates of the vector kernels, here so that their ranges can be tested.
// (s * Reciprocal75) >> 75 is s div 10^7 for every s below 2^51; the error of
// s * (Reciprocal75 - 2^75 / 10^7) / 2^75 stays below 2^-24 < 10^-7.
inline constexpr uint64_t Reciprocal75 = 3'777'893'186'295'717;  // ceil(2^75 / 10^7)
// (u * Reciprocal55) >> 55 is u div 10^7 for every u below 2^32.
inline constexpr uint64_t Reciprocal55 = 3'602'879'702;  // ceil(2^55 / 10^7)
// 1 / 10^7 as a double, lowered by two units in the last place: more than a
// product's rounding can add back, so trunc(double(s) * this) is s div 10^7 or
// one less, never more, for every s below 2^52.
double InverseBaseLow();

// Adds carry into limbs[0..n) from limbs[0] up, as far as it ripples; returns
// what is left over at limbs[n]. Limbs must be below 10^7.
uint64_t AddCarry(int32_t* limbs, std::size_t n, uint64_t carry);

// The window a block leaves: the last count-1 old limbs of window ++ limbs[0..n).
// Called before the block is overwritten.
void AdvanceWindow(int32_t* window, int32_t count, const int32_t* limbs, std::size_t n);

}  // namespace kaldrome
