// The AVX-512 grouped kernel, written once and compiled twice by
// kernels_multi_x86.cpp: with IFMA (52-bit multiply-add) and without it. The
// including file sets the target and defines `constexpr bool UseIfma`; there
// is no include guard on purpose.
//
// Sixteen limbs at a time, split into their even and their odd limbs, each in
// the low half of a 64-bit lane. The column sums of the even limbs use the
// old limbs j, j-1, ..., and those of the odd limbs j+1, j, ...: the same
// vectors of old limbs shifted by k lanes, each used twice. With IFMA they are
// masked loads from memory, so the stores lag one vector behind; without it,
// shifts of this vector and the one below (measured faster there). Every
// column sum s < 2^51 is then split as
//   s = q * 10^7 + r,   u = r + q(limb below) = v * 10^7 + w,
//   x = w + v(limb below) < 10^7 + 17
// and x brought below 10^7 with the 0/1 carry of the single-factor kernels. A
// limb that then reads 10^7 is a carry that has to ripple on, which is rare
// and repaired in a scalar sweep afterwards.

struct Constants {
    __m512i zero, base64, baseMinusOne64, one64, reciprocal75, reciprocal55;
    __m512i base32, baseMinusOne32, one32;
    __m512d inverseLow;
};

inline __attribute__((always_inline)) Constants MakeConstants() {
    Constants c;
    c.zero = _mm512_setzero_si512();
    c.base64 = _mm512_set1_epi64(Base);
    c.baseMinusOne64 = _mm512_set1_epi64(Base - 1);
    c.one64 = _mm512_set1_epi64(1);
    c.reciprocal75 = _mm512_set1_epi64(static_cast<int64_t>(Reciprocal75));
    c.reciprocal55 = _mm512_set1_epi64(static_cast<int64_t>(Reciprocal55));
    c.base32 = _mm512_set1_epi32(Base);
    c.baseMinusOne32 = _mm512_set1_epi32(Base - 1);
    c.one32 = _mm512_set1_epi32(1);
    c.inverseLow = _mm512_set1_pd(InverseBaseLow());
    return c;
}

// acc + x * b on the low 32 bits of each lane of x (its high half is 0 for IFMA).
inline __attribute__((always_inline)) __m512i MulAdd(__m512i acc, __m512i x, __m512i b) {
    if constexpr (UseIfma)
        return _mm512_madd52lo_epu64(acc, x, b);
    else
        return _mm512_add_epi64(acc, _mm512_mul_epu32(x, b));
}

// The even limbs of the old limbs shifted up K lanes, limb j - K + e in lane e,
// so that the low half of each 64-bit lane holds limb j - K + 2l. IFMA reads
// 52 bits and needs the odd limbs cleared; the 32-bit multiply ignores them.
template <int K>
inline __attribute__((always_inline)) __m512i ShiftedEven(__m512i current, __m512i below) {
    if constexpr (K == 0) {
        if constexpr (UseIfma)
            return _mm512_maskz_mov_epi32(0x5555, current);
        else
            return current;
    } else if constexpr (UseIfma) {
        return _mm512_maskz_alignr_epi32(0x5555, current, below, 16 - K);
    } else {
        return _mm512_alignr_epi32(current, below, 16 - K);
    }
}

// s div 10^7 and s mod 10^7 in every lane, s < 2^51.
inline __attribute__((always_inline)) void SplitColumn(const Constants& c, __m512i s, __m512i& q,
                                                       __m512i& r) {
    if constexpr (UseIfma) {
        q = _mm512_srli_epi64(_mm512_madd52hi_epu64(c.zero, s, c.reciprocal75), 23);
        r = _mm512_sub_epi64(s, _mm512_madd52lo_epu64(c.zero, q, c.base64));
    } else {
        // s converts to a double exactly; with a reciprocal rounded low the
        // truncated quotient is q or q - 1.
        q = _mm512_cvttpd_epu64(_mm512_mul_pd(_mm512_cvtepu64_pd(s), c.inverseLow));
        r = _mm512_sub_epi64(s, _mm512_mul_epu32(q, c.base64));
        const __mmask8 over = _mm512_cmpgt_epu64_mask(r, c.baseMinusOne64);
        q = _mm512_mask_add_epi64(q, over, q, c.one64);
        r = _mm512_mask_sub_epi64(r, over, r, c.base64);
    }
}

// u div 10^7 and u mod 10^7 in every lane, u < 2^32.
inline __attribute__((always_inline)) void SplitSmall(const Constants& c, __m512i u, __m512i& v,
                                                      __m512i& w) {
    v = _mm512_srli_epi64(_mm512_mul_epu32(u, c.reciprocal55), 55);
    w = _mm512_sub_epi64(u, _mm512_mul_epu32(v, c.base64));
}

struct Sums {
    __m512i even, odd;
};

// The column sums of the 16 limbs of `current`; lanes of limbs past the block
// hold zeros and give sums that are never stored.
template <int M, int... K>
inline __attribute__((always_inline)) Sums ColumnSums(const __m512i* b, __m512i current,
                                                      __m512i below, __m512i carryIn,
                                                      std::integer_sequence<int, K...>) {
    Sums s{carryIn, _mm512_setzero_si512()};
    // The odd limbs' own old limbs, j + 1 + 2l, for the first term of their sums.
    s.odd = MulAdd(s.odd, _mm512_srli_epi64(current, 32), b[0]);
    (
        [&] {
            const __m512i x = ShiftedEven<K>(current, below);
            s.even = MulAdd(s.even, x, b[K]);
            if constexpr (K + 1 < M) s.odd = MulAdd(s.odd, x, b[K + 1]);
        }(),
        ...);
    return s;
}

// The column sums of the 16 limbs at src from masked loads of the old limbs
// in memory: the load k limbs down has limb j + 2l - k in the low half of lane
// l. Each parity keeps two sums, for even and odd k, which halves the chain
// of dependent multiply-adds.
template <int M, int... K>
inline __attribute__((always_inline)) Sums LoadedSums(const __m512i* b, const int32_t* src,
                                                      __mmask16 evenLive, __mmask16 oddLive,
                                                      __m512i carryIn,
                                                      std::integer_sequence<int, K...>) {
    __m512i even[2] = {carryIn, _mm512_setzero_si512()};
    __m512i odd[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
    odd[1] = MulAdd(odd[1], _mm512_maskz_loadu_epi32(oddLive, src + 1), b[0]);
    (
        [&] {
            const __m512i x = _mm512_maskz_loadu_epi32(evenLive, src - K);
            even[K % 2] = MulAdd(even[K % 2], x, b[K]);
            if constexpr (K + 1 < M) odd[K % 2] = MulAdd(odd[K % 2], x, b[K + 1]);
        }(),
        ...);
    return Sums{_mm512_add_epi64(even[0], even[1]), _mm512_add_epi64(odd[0], odd[1])};
}

template <int M>
uint64_t Body(int32_t* limbs, std::size_t n, const uint32_t* limb, int32_t* window,
              uint64_t carry) {
    if (n == 0) return carry;
    const Constants c = MakeConstants();
    __m512i b[static_cast<std::size_t>(M)];
    for (int i = 0; i < M; ++i) b[i] = _mm512_set1_epi64(limb[i]);

    // The vector below the first one holds the window in its top lanes.
    // The first vector reads the window below the block: from a copy of the
    // window and the block's first 17 limbs, and from the vector below, whose
    // top lanes hold the window.
    alignas(64) int32_t first[33] = {};
    for (int k = 0; k + 1 < M; ++k) first[16 - (M - 1) + k] = window[k];
    for (std::size_t k = 0; k < 17 && k < n; ++k) first[16 + k] = limbs[k];
    __m512i below = _mm512_load_si512(first);
    AdvanceWindow(window, M, limbs, n);
    __m512i pending = c.zero;

    // What each vector takes from the one below: the quotients q and v of its
    // top odd limb (lane 7) and the 0/1 carry of its top limb (lane 15).
    __m512i qOddBelow = c.zero, vOddBelow = c.zero, carryBelow = c.zero;
    __m512i carryIn = _mm512_mask_set1_epi64(c.zero, 1, static_cast<int64_t>(carry));
    __mmask16 overflow = 0;
    __m512i qEven = c.zero, vEven = c.zero;
    std::size_t j = 0;
    for (;;) {
        const std::size_t live = n - j < 16 ? n - j : 16;
        const auto liveMask = static_cast<__mmask16>((1u << live) - 1);
        Sums s;
        if constexpr (UseIfma) {
            const auto evenLive = static_cast<__mmask16>(liveMask & 0x5555);
            const auto oddLive = static_cast<__mmask16>((liveMask >> 1) & 0x5555);
            s = LoadedSums<M>(b, j == 0 ? first + 16 : limbs + j, evenLive, oddLive, carryIn,
                              std::make_integer_sequence<int, M>());
        } else {
            const __m512i current = _mm512_maskz_loadu_epi32(liveMask, limbs + j);
            s = ColumnSums<M>(b, current, below, carryIn, std::make_integer_sequence<int, M>());
            below = current;
        }
        carryIn = c.zero;

        __m512i qOdd, rEven, rOdd;
        SplitColumn(c, s.even, qEven, rEven);
        SplitColumn(c, s.odd, qOdd, rOdd);
        // An even limb takes q of the odd limb below it, lane l - 1 of qOdd;
        // an odd limb takes q of the even limb below it, the same lane.
        const __m512i uEven = _mm512_add_epi64(rEven, _mm512_alignr_epi64(qOdd, qOddBelow, 7));
        const __m512i uOdd = _mm512_add_epi64(rOdd, qEven);
        qOddBelow = qOdd;

        __m512i vOdd, wEven, wOdd;
        SplitSmall(c, uEven, vEven, wEven);
        SplitSmall(c, uOdd, vOdd, wOdd);
        const __m512i xEven = _mm512_add_epi64(wEven, _mm512_alignr_epi64(vOdd, vOddBelow, 7));
        const __m512i xOdd = _mm512_add_epi64(wOdd, vEven);
        vOddBelow = vOdd;

        // Back to one 32-bit limb per lane, then the last 0/1 carry.
        __m512i x = _mm512_or_si512(xEven, _mm512_slli_epi64(xOdd, 32));
        const __mmask16 g = _mm512_cmpgt_epu32_mask(x, c.baseMinusOne32);
        x = _mm512_mask_sub_epi32(x, g, x, c.base32);
        const __m512i gv = _mm512_maskz_mov_epi32(g, c.one32);
        x = _mm512_add_epi32(x, _mm512_alignr_epi32(gv, carryBelow, 15));
        carryBelow = gv;
        overflow |= _mm512_mask_cmpeq_epi32_mask(liveMask, x, c.base32);
        if constexpr (UseIfma) {
            // The next vector's loads still read up to 15 old limbs of this one.
            if (j > 0) _mm512_storeu_si512(limbs + j - 16, pending);
            pending = x;
            if (live < 16 || j + 16 == n) _mm512_mask_storeu_epi32(limbs + j, liveMask, x);
        } else {
            _mm512_mask_storeu_epi32(limbs + j, liveMask, x);
        }

        if (live < 16 || j + 16 == n) {
            // The carry out of the top limb t: its q and v, and its 0/1 carry.
            const std::size_t t = live - 1;
            alignas(64) uint64_t q[8], v[8];
            alignas(64) uint32_t g32[16];
            _mm512_store_si512(q, t % 2 ? qOdd : qEven);
            _mm512_store_si512(v, t % 2 ? vOdd : vEven);
            _mm512_store_si512(g32, gv);
            carry = q[t / 2] + v[t / 2] + g32[t];
            break;
        }
        j += 16;
    }
    // The carry is below 16 * 10^7, well inside 32 bits.
    return overflow ? RippleFix(limbs, n, static_cast<uint32_t>(carry)) : carry;
}
