// Multiplication kernels: one pass of limbs[0..n) *= factor in base 10^7.
//
// Every kernel computes exactly what the reference loop computes:
//   p = limb * factor + carry; limb = p mod 10^7; carry = p div 10^7
// with factor in 1..999,999, carry in 0..999,999 and every limb in 0..9,999,999
// (p <= 9,999,990,000,000 < 2^44). Kernels read and write only limbs[0..n): the
// engine hands them blocks in the middle of the number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/check.h"
#include "base/run_state.h"
#include "engine/kernels_multi.h"

namespace kaldrome {

using MulKernel = uint32_t (*)(int32_t* limbs, std::size_t n, uint32_t factor, uint32_t carry);

// Each kind has a single-factor kernel and a grouped one (kernels_multi.h).
// IFMA only speeds up the grouped kernel; its single-factor kernel is AVX-512's.
enum class KernelKind { Reference, Portable, Avx2, Avx512, Avx512Ifma };

inline constexpr KernelKind AllKernelKinds[] = {KernelKind::Reference, KernelKind::Portable,
                                                KernelKind::Avx2, KernelKind::Avx512,
                                                KernelKind::Avx512Ifma};

// What every kernel may rely on (see above). The limbs are only walked in
// Debug and sanitized builds.
inline void CheckKernelArguments([[maybe_unused]] const int32_t* limbs,
                                 [[maybe_unused]] std::size_t n, [[maybe_unused]] uint32_t factor,
                                 [[maybe_unused]] uint32_t carry) {
#if KALDROME_ASSERTS
    KALDROME_ASSERT(factor >= 1 && factor <= static_cast<uint32_t>(MaxTarget));
    KALDROME_ASSERT(carry <= static_cast<uint32_t>(MaxTarget));
    // No limb array is longer than the largest capacity.
    KALDROME_ASSERT(n <= static_cast<std::size_t>(MaxTarget));
    KALDROME_ASSERT(n == 0 || limbs != nullptr);
    for (std::size_t k = 0; k < n; ++k) KALDROME_ASSERT(limbs[k] >= 0 && limbs[k] < LimbBase);
#endif
}

// The plain loop every faster kernel is tested against.
uint32_t MulLimbsReference(int32_t* limbs, std::size_t n, uint32_t factor, uint32_t carry);

// Whether this CPU can run the kernel, and the kernel itself (nullptr if not),
// from one table filled once from the CPU's features: the single-factor
// kernel, the grouped one, and the factors per pass measured best for it.
bool KernelSupported(KernelKind kind);
MulKernel KernelFor(KernelKind kind);
GroupKernel GroupKernelFor(KernelKind kind);
int32_t DefaultFactorsPerPass(KernelKind kind);
std::string_view KernelName(KernelKind kind);

// The fastest kernel this CPU supports.
KernelKind BestKernel();

// The kind named "reference", "portable", "avx2", "avx512" or "avx512ifma";
// false for any other name.
bool ParseKernelName(std::string_view name, KernelKind& kind);

// The faster kernels split each limb's product without the serial carry:
// limb * factor = q * 10^7 + r. The vector kernels for x86 estimate q as
// (limb * ReciprocalFor(factor)) >> 32, which for limb < 10^7 is q or q + 1
// (the sign of the remainder tells which).
constexpr uint32_t ReciprocalFor(uint32_t factor) {
    constexpr auto base = static_cast<uint64_t>(LimbBase);
    return static_cast<uint32_t>(((static_cast<uint64_t>(factor) << 32) + base - 1) / base);
}

// The portable kernel estimates q in single precision instead, as
// trunc(float(limb) * LowQuotientScale(factor)): factor / 10^7 lowered by 2^-22
// of itself. Rounding the scale and rounding the product raise it by at most
// 2^-24 each, so the product stays below limb * factor / 10^7 and, as that is
// under 10^6, within 0.36 of it: the estimate is q or q - 1, and r < 1.36 * 10^7.
float LowQuotientScale(uint32_t factor);

// After a vector sweep over limbs[0..n), a limb may read 10^7 where a carry
// had to ripple on; brings such limbs back into range and returns the sweep's
// carry out plus what rippled out of the top.
uint32_t RippleFix(int32_t* limbs, std::size_t n, uint32_t carryOut);

// The kernels themselves; KernelFor hands out only those this CPU can run.
// The portable kernel comes in a plain x86-64 copy and an x86-64-v2 one;
// KernelFor(KernelKind::Portable) gives the better one this CPU runs.
uint32_t MulLimbsPortable(int32_t* limbs, std::size_t n, uint32_t factor, uint32_t carry);
#if defined(__x86_64__)
uint32_t MulLimbsPortableV2(int32_t* limbs, std::size_t n, uint32_t factor, uint32_t carry);
uint32_t MulLimbsAvx2(int32_t* limbs, std::size_t n, uint32_t factor, uint32_t carry);
uint32_t MulLimbsAvx512(int32_t* limbs, std::size_t n, uint32_t factor, uint32_t carry);
#endif

}  // namespace kaldrome
