// Multiplication kernels: one pass of limbs[0..n) *= factor in base 10^7.
//
// Every kernel computes exactly what the reference loop computes:
//   p = limb * factor + carry; limb = p mod 10^7; carry = p div 10^7
// with factor in 1..999,999, carry in 0..999,999 and every limb in 0..9,999,999
// (p <= 9,999,990,000,000 < 2^44). Kernels touch only limbs[0..n) for writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kaldrome {

using MulKernel = uint32_t (*)(int32_t* limbs, std::size_t n, uint32_t factor, uint32_t carry);

enum class KernelKind { Reference, Portable, Avx2, Avx512 };

// The plain loop every faster kernel is tested against.
uint32_t MulLimbsReference(int32_t* limbs, std::size_t n, uint32_t factor, uint32_t carry);

// Whether this CPU can run the kernel, and the kernel itself (nullptr if not).
bool KernelSupported(KernelKind kind);
MulKernel KernelFor(KernelKind kind);
std::string_view KernelName(KernelKind kind);

// The fastest kernel this CPU supports; chosen once at start-up.
KernelKind BestKernel();

// The kernel the engine uses. Defaults to BestKernel(); tests and the bench may force another.
KernelKind ActiveKernel();
void SetActiveKernel(KernelKind kind);

}  // namespace kaldrome
