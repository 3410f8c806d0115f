// The kernel for CPUs without AVX2, and for other architectures: four limbs at
// a time in the compiler's generic 128-bit vectors, which GCC and Clang lower
// to SSE on x86-64 and to NEON on ARM64.
//
// Each limb's product is split on its own, without the serial carry:
//   limb * factor = q * 10^7 + r,   q <= 999,998
// with q estimated from below, so it may be one short and r then lies in
// [10^7, 2 * 10^7); no correction is spent on that. t = r + q(previous limb)
// stays below 2 * 10^7 either way. The limb becomes t mod 10^7 plus the 0/1
// carry out of the limb below, g = [t >= 10^7], which also makes up for a short
// quotient. That is exact unless a carry lands on t = 10^7 - 1 and has to
// ripple on; the limb then reads 10^7, which is noticed and repaired in a
// scalar sweep afterwards.
#include <cstring>

#include "engine/kernels.h"

namespace kaldrome {

namespace {

using U32x4 = uint32_t __attribute__((vector_size(16)));
using I32x4 = int32_t __attribute__((vector_size(16)));
using F32x4 = float __attribute__((vector_size(16)));

constexpr auto Base = static_cast<uint32_t>(LimbBase);

// Lanes 1..3 take lanes 0..2 of `current`, lane 0 takes the top lane of `below`.
inline U32x4 ShiftUpOneLane(U32x4 below, U32x4 current) {
#if defined(__clang__)
    return __builtin_shufflevector(below, current, 3, 4, 5, 6);
#else
    return __builtin_shuffle(below, current, U32x4{3, 4, 5, 6});
#endif
}

// The body of both x86-64 copies below, and the kernel on other architectures.
inline __attribute__((always_inline)) uint32_t PortableBody(int32_t* limbs, std::size_t n,
                                                            uint32_t factor, uint32_t carry) {
    CheckKernelArguments(limbs, n, factor, carry);
    const float scale = LowQuotientScale(factor);
    const U32x4 vFactor = {factor, factor, factor, factor};
    const U32x4 vBase = {Base, Base, Base, Base};
    const F32x4 vScale = {scale, scale, scale, scale};

    // Lane 3 of these holds what the next block's first limb takes from below:
    // the quotient (at first the carry in) and the 0/1 carry (as 0 or all ones).
    U32x4 quotientBelow = {0, 0, 0, carry};
    U32x4 carryBelow = {0, 0, 0, 0};
    U32x4 largest = {0, 0, 0, 0};  // of the limbs written; 10^7 means a carry must ripple on
    // Four limbs from `at` on; two of these per round give the CPU more to overlap.
    auto step = [&](std::size_t at) __attribute__((always_inline)) {
        U32x4 x;
        std::memcpy(&x, limbs + at, sizeof x);
        const U32x4 q = reinterpret_cast<U32x4>(__builtin_convertvector(
            __builtin_convertvector(reinterpret_cast<I32x4>(x), F32x4) * vScale, I32x4));
        const U32x4 r = x * vFactor - q * vBase;

        U32x4 t = r + ShiftUpOneLane(quotientBelow, q);
        quotientBelow = q;
        const U32x4 g = reinterpret_cast<U32x4>(reinterpret_cast<I32x4>(t) >
                                                reinterpret_cast<I32x4>(vBase - 1));
        t -= g & vBase;
        t -= ShiftUpOneLane(carryBelow, g);  // g is 0 or all ones: this adds 0 or 1
        carryBelow = g;
        largest = largest > t ? largest : t;
        std::memcpy(limbs + at, &t, sizeof t);
    };
    std::size_t j = 0;
    for (; j + 8 <= n; j += 8) {
        step(j);
        step(j + 4);
    }
    for (; j + 4 <= n; j += 4) step(j);
    carry = quotientBelow[3] - carryBelow[3];
    if (largest[0] == Base || largest[1] == Base || largest[2] == Base || largest[3] == Base)
        carry = RippleFix(limbs, j, carry);
    return MulLimbsReference(limbs + j, n - j, factor, carry);
}

}  // namespace

uint32_t MulLimbsPortable(int32_t* limbs, std::size_t n, uint32_t factor, uint32_t carry) {
    return PortableBody(limbs, n, factor, carry);
}

#if defined(__x86_64__)
// Plain x86-64 has no 32-bit vector multiply and no lane shift in one
// instruction; x86-64-v2 (SSE4.2, every x86-64 CPU since about 2009) has both.
__attribute__((target("arch=x86-64-v2"))) uint32_t MulLimbsPortableV2(int32_t* limbs, std::size_t n,
                                                                      uint32_t factor,
                                                                      uint32_t carry) {
    return PortableBody(limbs, n, factor, carry);
}
#endif

}  // namespace kaldrome
