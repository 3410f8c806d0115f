// The vector kernels for x86-64 CPUs with AVX2 or AVX-512.
//
// The binary stays baseline x86-64: only these functions are compiled for the
// wider instruction sets, and the dispatcher calls them only when the CPU
// reports the features.
//
// Each limb's product is split on its own, without the serial carry:
//   limb * factor = q * 10^7 + r,   q <= 999,998
// and t = r + q(previous limb) < 2 * 10^7. The limb becomes t mod 10^7 plus the
// 0/1 carry out of the limb below, g = [t >= 10^7]. That is exact unless a
// carry lands on t = 10^7 - 1 and has to ripple on; the limb then reads 10^7,
// which the kernel notices and repairs in a scalar sweep afterwards. That is
// rare: the 2.5 * 10^8 limb steps of 30,000! have none. Nothing in the vector
// loop waits for the previous block.
#include "engine/kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

// GCC 12's AVX-512 intrinsics start from _mm512_undefined_epi32(), which its
// own flow analysis then reports as maybe uninitialised inside every caller.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace kaldrome {

namespace {

constexpr int32_t Base = LimbBase;

}  // namespace

// q is estimated as the high half of limb * F with F = ReciprocalFor(factor);
// the estimate is q or q + 1, and a negative remainder says it was q + 1.
__attribute__((target("avx2"))) uint32_t MulLimbsAvx2(int32_t* limbs, std::size_t n,
                                                      uint32_t factor, uint32_t carry) {
    CheckKernelArguments(limbs, n, factor, carry);
    const __m256i vFactor = _mm256_set1_epi32(static_cast<int32_t>(factor));
    const __m256i vReciprocal = _mm256_set1_epi64x(static_cast<int64_t>(ReciprocalFor(factor)));
    const __m256i vBase = _mm256_set1_epi32(Base);
    const __m256i vBaseMinusOne = _mm256_set1_epi32(Base - 1);
    // Rotates a vector up one lane; lane 0 then takes the previous vector's top lane.
    const __m256i rotateUp = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);

    // Lane 0 of these holds what the block's first limb takes from below: the
    // quotient (at first the carry in) and the 0/1 carry (as 0 or -1).
    __m256i quotientBelow = _mm256_set1_epi32(static_cast<int32_t>(carry));
    __m256i carryBelow = _mm256_setzero_si256();
    __m256i overflow = _mm256_setzero_si256();
    std::size_t j = 0;
    for (; j + 8 <= n; j += 8) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(limbs + j));
        const __m256i evenProducts = _mm256_mul_epu32(x, vReciprocal);
        const __m256i oddProducts = _mm256_mul_epu32(_mm256_srli_epi64(x, 32), vReciprocal);
        __m256i q = _mm256_blend_epi32(_mm256_srli_epi64(evenProducts, 32), oddProducts, 0xAA);
        __m256i r = _mm256_sub_epi32(_mm256_mullo_epi32(x, vFactor), _mm256_mullo_epi32(q, vBase));
        const __m256i negative = _mm256_srai_epi32(r, 31);
        q = _mm256_add_epi32(q, negative);
        r = _mm256_add_epi32(r, _mm256_and_si256(negative, vBase));

        const __m256i qRotated = _mm256_permutevar8x32_epi32(q, rotateUp);
        __m256i t = _mm256_add_epi32(r, _mm256_blend_epi32(qRotated, quotientBelow, 0x01));
        quotientBelow = qRotated;

        const __m256i g = _mm256_cmpgt_epi32(t, vBaseMinusOne);
        t = _mm256_sub_epi32(t, _mm256_and_si256(g, vBase));
        const __m256i gRotated = _mm256_permutevar8x32_epi32(g, rotateUp);
        t = _mm256_sub_epi32(t, _mm256_blend_epi32(gRotated, carryBelow, 0x01));
        carryBelow = gRotated;
        overflow = _mm256_or_si256(overflow, _mm256_cmpeq_epi32(t, vBase));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(limbs + j), t);
    }
    carry = static_cast<uint32_t>(_mm256_cvtsi256_si32(quotientBelow) -
                                  _mm256_cvtsi256_si32(carryBelow));
    if (!_mm256_testz_si256(overflow, overflow)) carry = RippleFix(limbs, j, carry);
    return MulLimbsReference(limbs + j, n - j, factor, carry);
}

#define KALDROME_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl")))

namespace {

struct Avx512Pass {
    __m512i factor, reciprocal, base, baseMinusOne, one;
    // Lane 15 holds what the next block's first limb takes from below: the
    // quotient (at first the carry in) and the 0/1 carry.
    __m512i quotientBelow, carryBelow;
    __mmask16 overflow;  // some limb came out as 10^7
};

// One block of up to 16 limbs; lanes outside `live` load as 0 and are not
// stored. Returns the block's new limbs; the lane past the last live one (if
// any) then holds the carry out of the block.
KALDROME_AVX512 inline __attribute__((always_inline)) __m512i Avx512Block(Avx512Pass& s,
                                                                          int32_t* at,
                                                                          __mmask16 live) {
    const __m512i x = _mm512_maskz_loadu_epi32(live, at);
    const __m512i evenProducts = _mm512_mul_epu32(x, s.reciprocal);
    const __m512i oddProducts = _mm512_mul_epu32(_mm512_srli_epi64(x, 32), s.reciprocal);
    __m512i q = _mm512_mask_blend_epi32(0xAAAA, _mm512_srli_epi64(evenProducts, 32), oddProducts);
    __m512i r = _mm512_sub_epi32(_mm512_mullo_epi32(x, s.factor), _mm512_mullo_epi32(q, s.base));
    const __mmask16 negative = _mm512_movepi32_mask(r);
    q = _mm512_mask_sub_epi32(q, negative, q, s.one);
    r = _mm512_mask_add_epi32(r, negative, r, s.base);

    __m512i t = _mm512_add_epi32(r, _mm512_alignr_epi32(q, s.quotientBelow, 15));
    s.quotientBelow = q;

    const __mmask16 g = _mm512_cmpgt_epu32_mask(t, s.baseMinusOne);
    t = _mm512_mask_sub_epi32(t, g, t, s.base);
    const __m512i gv = _mm512_maskz_mov_epi32(g, s.one);
    t = _mm512_add_epi32(t, _mm512_alignr_epi32(gv, s.carryBelow, 15));
    s.carryBelow = gv;
    s.overflow |= _mm512_mask_cmpeq_epi32_mask(live, t, s.base);
    _mm512_mask_storeu_epi32(at, live, t);
    return t;
}

}  // namespace

KALDROME_AVX512 uint32_t MulLimbsAvx512(int32_t* limbs, std::size_t n, uint32_t factor,
                                        uint32_t carry) {
    CheckKernelArguments(limbs, n, factor, carry);
    Avx512Pass s;
    s.factor = _mm512_set1_epi32(static_cast<int32_t>(factor));
    s.reciprocal = _mm512_set1_epi64(static_cast<int64_t>(ReciprocalFor(factor)));
    s.base = _mm512_set1_epi32(Base);
    s.baseMinusOne = _mm512_set1_epi32(Base - 1);
    s.one = _mm512_set1_epi32(1);
    s.quotientBelow = _mm512_set1_epi32(static_cast<int32_t>(carry));
    s.carryBelow = _mm512_setzero_si512();
    s.overflow = 0;

    std::size_t j = 0;
    for (; j + 16 <= n; j += 16) Avx512Block(s, limbs + j, 0xFFFF);
    const auto rest = static_cast<unsigned>(n - j);
    alignas(64) int32_t lanes[16];
    if (rest == 0) {
        _mm512_store_si512(lanes, _mm512_add_epi32(s.quotientBelow, s.carryBelow));
        carry = static_cast<uint32_t>(lanes[15]);
    } else {
        _mm512_store_si512(lanes,
                           Avx512Block(s, limbs + j, static_cast<__mmask16>((1u << rest) - 1)));
        carry = static_cast<uint32_t>(lanes[rest]);
    }
    return s.overflow ? RippleFix(limbs, n, carry) : carry;
}

}  // namespace kaldrome

#endif
