// The grouped kernels for x86-64 CPUs with AVX2 or AVX-512 (with or without
// IFMA). As with the single-factor kernels, only these functions are compiled
// for the wider instruction sets and the table hands them out only when the
// CPU reports the features.
#include "engine/kernels_multi.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <utility>

#include "engine/kernels.h"

// GCC 12's AVX-512 intrinsics start from _mm512_undefined_epi32(), which its
// own flow analysis then reports as maybe uninitialised inside every caller.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace kaldrome {

namespace {

constexpr int32_t Base = LimbBase;

}  // namespace

// ---------------------------------------------------------------------------
// AVX2: eight limbs a time, even and odd limbs in the low halves of 64-bit
// lanes as in the AVX-512 kernel. The 32-bit multiply ignores the high half
// of a lane, so the shifted vectors of old limbs come straight from unaligned
// loads; the stores therefore lag two vectors behind the loads, which read at
// most 15 limbs below the vector, and the first two vectors read the window
// from a copy.

#pragma GCC push_options
#pragma GCC target("avx2")

namespace avx2 {

namespace {

constexpr int64_t MagicBits = 0x4330000000000000;  // the double 2^52

struct Constants {
    __m256i base64, baseMinusOne64, reciprocal55, magicBits, base32, baseMinusOne32;
    __m256d magic, inverseLow;
};

// s div 10^7 and s mod 10^7 in every lane, s < 2^52: s converts to a double
// exactly through the bits of 2^52 + s, and the quotient estimate with the
// low reciprocal is q or q - 1.
inline void SplitColumn(const Constants& c, __m256i s, __m256i& q, __m256i& r) {
    const __m256d d = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(s, c.magicBits)), c.magic);
    const __m256d estimate =
        _mm256_round_pd(_mm256_mul_pd(d, c.inverseLow), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    q = _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(estimate, c.magic)), c.magicBits);
    r = _mm256_sub_epi64(s, _mm256_mul_epu32(q, c.base64));
    const __m256i over = _mm256_cmpgt_epi64(r, c.baseMinusOne64);
    q = _mm256_sub_epi64(q, over);
    r = _mm256_sub_epi64(r, _mm256_and_si256(over, c.base64));
}

// u div 10^7 and u mod 10^7 in every lane, u < 2^32.
inline void SplitSmall(const Constants& c, __m256i u, __m256i& v, __m256i& w) {
    v = _mm256_srli_epi64(_mm256_mul_epu32(u, c.reciprocal55), 55);
    w = _mm256_sub_epi64(u, _mm256_mul_epu32(v, c.base64));
}

// Lanes moved up one; lane 0 takes the top lane of the vector below, whose
// rotated form is `belowRotated`. Returns the shifted vector and keeps the
// rotated one for the next call.
inline __m256i ShiftUp64(__m256i x, __m256i& belowRotated) {
    const __m256i rotated = _mm256_permute4x64_epi64(x, 0x93);
    const __m256i shifted = _mm256_blend_epi32(rotated, belowRotated, 0x03);
    belowRotated = rotated;
    return shifted;
}

template <int M>
uint64_t Body(int32_t* limbs, std::size_t n, const Multiplier& multiplier, int32_t* window,
              uint64_t carry) {
    // The loads of the odd limbs reach one limb above the vector; vectors run
    // while that stays inside the block, and the last one to eight limbs go
    // to the portable kernel.
    if (n < 32) return MulGroupPortable(limbs, n, multiplier, window, carry);
    const std::size_t end = (n - 1) / 8 * 8;

    Constants c;
    c.base64 = _mm256_set1_epi64x(Base);
    c.baseMinusOne64 = _mm256_set1_epi64x(Base - 1);
    c.reciprocal55 = _mm256_set1_epi64x(static_cast<int64_t>(Reciprocal55));
    c.magicBits = _mm256_set1_epi64x(MagicBits);
    c.base32 = _mm256_set1_epi32(Base);
    c.baseMinusOne32 = _mm256_set1_epi32(Base - 1);
    c.magic = _mm256_set1_pd(4503599627370496.0);
    c.inverseLow = _mm256_set1_pd(InverseBaseLow());
    const __m256i rotateUp32 = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);
    __m256i b[static_cast<std::size_t>(M)];
    for (int i = 0; i < M; ++i) b[i] = _mm256_set1_epi64x(multiplier.limb[i]);

    // Old limbs -15 .. 16: the window, then the first 17 limbs of the block.
    alignas(32) int32_t first[32] = {};
    for (int k = 0; k + 1 < M; ++k) first[15 - (M - 1) + k] = window[k];
    for (int k = 0; k < 17; ++k) first[15 + k] = limbs[k];
    AdvanceWindow(window, M, limbs, n);

    __m256i qOddBelow = _mm256_setzero_si256(), vOddBelow = _mm256_setzero_si256();
    __m256i carryBelow = _mm256_setzero_si256();
    __m256i carryIn = _mm256_setr_epi64x(static_cast<int64_t>(carry), 0, 0, 0);
    __m256i overflow = _mm256_setzero_si256();
    __m256i pending[2];
    __m256i qOdd = _mm256_setzero_si256(), vOdd = _mm256_setzero_si256();
    __m256i carryRotated = _mm256_setzero_si256();
    for (std::size_t j = 0; j < end; j += 8) {
        const int32_t* src = j < 16 ? first + 15 + j : limbs + j;
        __m256i sEven = carryIn, sOdd = _mm256_setzero_si256();
        carryIn = _mm256_setzero_si256();
        for (int i = 0; i < M; ++i) {
            const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src - i));
            const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 1 - i));
            sEven = _mm256_add_epi64(sEven, _mm256_mul_epu32(x, b[i]));
            sOdd = _mm256_add_epi64(sOdd, _mm256_mul_epu32(y, b[i]));
        }
        __m256i qEven, rEven, rOdd;
        SplitColumn(c, sEven, qEven, rEven);
        SplitColumn(c, sOdd, qOdd, rOdd);
        const __m256i uEven = _mm256_add_epi64(rEven, ShiftUp64(qOdd, qOddBelow));
        const __m256i uOdd = _mm256_add_epi64(rOdd, qEven);
        __m256i vEven, wEven, wOdd;
        SplitSmall(c, uEven, vEven, wEven);
        SplitSmall(c, uOdd, vOdd, wOdd);
        const __m256i xEven = _mm256_add_epi64(wEven, ShiftUp64(vOdd, vOddBelow));
        const __m256i xOdd = _mm256_add_epi64(wOdd, vEven);

        __m256i x = _mm256_or_si256(xEven, _mm256_slli_epi64(xOdd, 32));
        const __m256i g = _mm256_cmpgt_epi32(x, c.baseMinusOne32);  // 0 or -1
        x = _mm256_sub_epi32(x, _mm256_and_si256(g, c.base32));
        carryRotated = _mm256_permutevar8x32_epi32(g, rotateUp32);
        x = _mm256_sub_epi32(x, _mm256_blend_epi32(carryRotated, carryBelow, 0x01));
        carryBelow = carryRotated;
        overflow = _mm256_or_si256(overflow, _mm256_cmpeq_epi32(x, c.base32));

        if (j >= 16)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(limbs + j - 16), pending[(j / 8) % 2]);
        pending[(j / 8) % 2] = x;
    }

    // The rest of the block needs the old limbs below `end`, which the two
    // pending vectors have not overwritten yet.
    int32_t restWindow[MaxMultiplierLimbs];
    constexpr auto below = static_cast<std::size_t>(M - 1);
    for (std::size_t k = 0; k < below; ++k) restWindow[k] = limbs[end - below + k];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(limbs + end - 16), pending[(end / 8) % 2]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(limbs + end - 8), pending[(end / 8 + 1) % 2]);

    // The carry out of limb end - 1, odd lane 3: its q and v, and its 0/1 carry
    // (lane 0 of the rotated carries, as 0 or -1).
    alignas(32) uint64_t q[4], v[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(q), qOdd);
    _mm256_store_si256(reinterpret_cast<__m256i*>(v), vOdd);
    carry = q[3] + v[3] -
            static_cast<uint64_t>(static_cast<int64_t>(_mm256_cvtsi256_si32(carryRotated)));
    if (!_mm256_testz_si256(overflow, overflow))
        carry = RippleFix(limbs, end, static_cast<uint32_t>(carry));
    return MulGroupPortable(limbs + end, n - end, multiplier, restWindow, carry);
}

}  // namespace

}  // namespace avx2

#pragma GCC pop_options

uint64_t MulGroupAvx2(int32_t* limbs, std::size_t n, const Multiplier& multiplier, int32_t* window,
                      uint64_t carry) {
    CheckGroupKernelArguments(limbs, n, multiplier, window, carry);
    using Fn = uint64_t (*)(int32_t*, std::size_t, const Multiplier&, int32_t*, uint64_t);
    static constexpr Fn bodies[] = {
        &avx2::Body<1>,  &avx2::Body<2>,  &avx2::Body<3>,  &avx2::Body<4>,
        &avx2::Body<5>,  &avx2::Body<6>,  &avx2::Body<7>,  &avx2::Body<8>,
        &avx2::Body<9>,  &avx2::Body<10>, &avx2::Body<11>, &avx2::Body<12>,
        &avx2::Body<13>, &avx2::Body<14>, &avx2::Body<15>, &avx2::Body<16>,
    };
    static_assert(std::size(bodies) == MaxMultiplierLimbs);
    return bodies[multiplier.count - 1](limbs, n, multiplier, window, carry);
}

// ---------------------------------------------------------------------------
// AVX-512, with and without IFMA.

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl")

namespace avx512 {
namespace {
constexpr bool UseIfma = false;
#include "engine/kernels_multi_avx512_body.h"
}  // namespace
}  // namespace avx512

#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl,avx512ifma")

namespace avx512ifma {
namespace {
constexpr bool UseIfma = true;
#include "engine/kernels_multi_avx512_body.h"
}  // namespace
}  // namespace avx512ifma

#pragma GCC pop_options

uint64_t MulGroupAvx512(int32_t* limbs, std::size_t n, const Multiplier& multiplier,
                        int32_t* window, uint64_t carry) {
    CheckGroupKernelArguments(limbs, n, multiplier, window, carry);
    using Fn = uint64_t (*)(int32_t*, std::size_t, const uint32_t*, int32_t*, uint64_t);
    static constexpr Fn bodies[] = {
        &avx512::Body<1>,  &avx512::Body<2>,  &avx512::Body<3>,  &avx512::Body<4>,
        &avx512::Body<5>,  &avx512::Body<6>,  &avx512::Body<7>,  &avx512::Body<8>,
        &avx512::Body<9>,  &avx512::Body<10>, &avx512::Body<11>, &avx512::Body<12>,
        &avx512::Body<13>, &avx512::Body<14>, &avx512::Body<15>, &avx512::Body<16>,
    };
    static_assert(std::size(bodies) == MaxMultiplierLimbs);
    return bodies[multiplier.count - 1](limbs, n, multiplier.limb, window, carry);
}

uint64_t MulGroupAvx512Ifma(int32_t* limbs, std::size_t n, const Multiplier& multiplier,
                            int32_t* window, uint64_t carry) {
    CheckGroupKernelArguments(limbs, n, multiplier, window, carry);
    using Fn = uint64_t (*)(int32_t*, std::size_t, const uint32_t*, int32_t*, uint64_t);
    static constexpr Fn bodies[] = {
        &avx512ifma::Body<1>,  &avx512ifma::Body<2>,  &avx512ifma::Body<3>,  &avx512ifma::Body<4>,
        &avx512ifma::Body<5>,  &avx512ifma::Body<6>,  &avx512ifma::Body<7>,  &avx512ifma::Body<8>,
        &avx512ifma::Body<9>,  &avx512ifma::Body<10>, &avx512ifma::Body<11>, &avx512ifma::Body<12>,
        &avx512ifma::Body<13>, &avx512ifma::Body<14>, &avx512ifma::Body<15>, &avx512ifma::Body<16>,
    };
    static_assert(std::size(bodies) == MaxMultiplierLimbs);
    return bodies[multiplier.count - 1](limbs, n, multiplier.limb, window, carry);
}

}  // namespace kaldrome

#endif
