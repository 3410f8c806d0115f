#include "engine/ntt.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <mutex>

#include "base/check.h"
#include "base/run_state.h"

namespace kaldrome {

namespace {

using u64 = uint64_t;
__extension__ typedef unsigned __int128 u128;  // GCC and Clang on 64-bit targets

constexpr u64 Base = static_cast<u64>(LimbBase);
constexpr u64 CoefficientBase = Base * Base;  // two limbs to a coefficient

// Done in this many elements at a time once a transform's butterflies fit:
// 32 KB, the first-level cache.
constexpr std::size_t BlockLength = 4096;

// Arithmetic modulo one of the primes. Montgomery's product (R = 2^64) for
// the pointwise products and the tables; Shoup's for the butterflies.
template <int K>
struct Field {
    static constexpr u64 p = NttPrimes[K];
    static constexpr u64 twoP = 2 * p;
    static_assert(p < (u64{1} << 62), "butterflies keep values below 4p < 2^64");
    // p^-1 modulo 2^64, by Newton's iteration (each step doubles the bits).
    static constexpr u64 inverse = [] {
        u64 x = p;
        for (int i = 0; i < 6; ++i) x *= 2 - p * x;
        return x;
    }();
    static_assert(p * inverse == 1);
    static constexpr u64 r1 = static_cast<u64>((u128{1} << 64) % p);  // R mod p
    static constexpr u64 r2 = static_cast<u64>(u128{r1} * r1 % p);    // R^2 mod p

    // a * b / R mod p, in [0, p), for a * b < 4p^2 (both below 2p).
    static u64 Mont(u64 a, u64 b) {
        const u128 t = u128{a} * b;
        const u64 m = static_cast<u64>(t) * inverse;
        const u64 high = static_cast<u64>(t >> 64);
        const u64 mp = static_cast<u64>((u128{m} * p) >> 64);
        return high >= mp ? high - mp : high - mp + p;
    }
    static u64 ToMont(u64 a) { return Mont(a % p, r2); }
    static u64 FromMont(u64 a) { return Mont(a, 1); }
    static u64 PowMont(u64 base, u64 e) {  // base and result in Montgomery form
        u64 r = r1;
        for (; e > 0; e >>= 1, base = Mont(base, base))
            if (e & 1) r = Mont(r, base);
        return r;
    }
    // x * w mod p in [0, 2p) for any x, with shoup = floor(w * 2^64 / p).
    static u64 Shoup(u64 x, u64 w, u64 shoup) {
        const u64 q = static_cast<u64>((u128{x} * shoup) >> 64);
        return x * w - q * p;
    }
    // x below 4p to below 2p. Written as a minimum (x - 2p wraps above x when
    // x < 2p) so that it compiles to a conditional move: as a branch it is
    // taken at random, and its mispredictions doubled the transforms' time.
    static u64 Reduce2(u64 x) { return std::min(x, x - twoP); }
};

struct Twiddle {
    u64 w, shoup;
};

}  // namespace

// The roots of unity of every level of a transform of up to `length`
// elements, each level's together so that a level reads them in order:
// power[half + j] = w^j for a root w of order 2 * half, j < half.
struct NttTwiddles {
    std::size_t length = 0;
    std::vector<Twiddle> power;
};

namespace {

// floor(w * 2^64 / p), for w < p.
u64 ShoupQuotient(u64 w, u64 p) {
#if defined(__x86_64__)
    u64 q = 0, r = 0;
    asm("divq %4" : "=a"(q), "=d"(r) : "a"(u64{0}), "d"(w), "rm"(p) : "cc");
    return q;
#else
    return static_cast<u64>((u128{w} << 64) / p);
#endif
}

template <int K>
std::shared_ptr<const NttTwiddles> MakeTwiddles(std::size_t length) {
    using F = Field<K>;
    auto t = std::make_shared<NttTwiddles>();
    t->length = length;
    t->power.resize(length);
    // The top level from the root of order `length`; each level below takes
    // every other root of the one above: (w^2)^j = w^(2j).
    const std::size_t top = length / 2;
    const u64 root = F::PowMont(F::ToMont(NttGenerators[K]), (F::p - 1) / length);
    u64 w = F::r1;
    for (std::size_t j = 0; j < top; ++j) {
        const u64 plain = F::FromMont(w);
        t->power[top + j] = {plain, ShoupQuotient(plain, F::p)};
        w = F::Mont(w, root);
    }
    for (std::size_t half = top / 2; half >= 1; half /= 2)
        for (std::size_t j = 0; j < half; ++j) t->power[half + j] = t->power[2 * half + 2 * j];
    return t;
}

// Tables are shared by the products that use them, and made again once none
// does: the largest takes 8 MB a prime, too much to keep between runs.
std::shared_ptr<const NttTwiddles> TwiddlesFor(int prime, std::size_t length) {
    static std::mutex mutex;
    static std::weak_ptr<const NttTwiddles> tables[2];
    length = std::max<std::size_t>(length, 2);
    std::lock_guard lock(mutex);
    std::shared_ptr<const NttTwiddles> table = tables[prime].lock();
    if (!table || table->length < length) {
        table = prime == 0 ? MakeTwiddles<0>(length) : MakeTwiddles<1>(length);
        tables[prime] = table;
    }
    return table;
}

// The level whose butterflies join neighbours, with the root 1: the same
// both ways.
template <int K>
void PairLevel(u64* a, std::size_t n) {
    using F = Field<K>;
    for (std::size_t i = 0; i < n; i += 2) {
        const u64 u = a[i], v = a[i + 1];
        a[i] = F::Reduce2(u + v);
        a[i + 1] = F::Reduce2(u - v + F::twoP);
    }
}

// Natural order in, bit-reversed order out; values below 2p in and out.
template <int K>
void Dif(u64* a, std::size_t n, std::size_t fromHalf, std::size_t toHalf, const NttTwiddles& t) {
    using F = Field<K>;
    for (std::size_t half = fromHalf; half >= toHalf && half >= 1; half /= 2) {
        if (half == 1) {
            PairLevel<K>(a, n);
            continue;
        }
        const Twiddle* level = t.power.data() + half;
        for (std::size_t i = 0; i < n; i += 2 * half) {
            u64* x = a + i;
            u64* y = x + half;
#pragma GCC unroll 4
            for (std::size_t j = 0; j < half; ++j) {
                const Twiddle& w = level[j];
                const u64 u = x[j], v = y[j];
                x[j] = F::Reduce2(u + v);
                y[j] = F::Shoup(u - v + F::twoP, w.w, w.shoup);
            }
        }
    }
}

// Bit-reversed order in, natural order out, with the same roots: applied to
// the transform of c it gives n * c at the negated index, n * c[(n - k) mod n]
// at k, which Recombine reads in that order. (The inverse root's powers
// would need a second table, or a negation in every butterfly.)
template <int K>
void Dit(u64* a, std::size_t n, std::size_t fromHalf, std::size_t toHalf, const NttTwiddles& t) {
    using F = Field<K>;
    for (std::size_t half = fromHalf; half <= toHalf; half *= 2) {
        if (half == 1) {
            PairLevel<K>(a, n);
            continue;
        }
        const Twiddle* level = t.power.data() + half;
        for (std::size_t i = 0; i < n; i += 2 * half) {
            u64* x = a + i;
            u64* y = x + half;
#pragma GCC unroll 4
            for (std::size_t j = 0; j < half; ++j) {
                const u64 v = F::Shoup(y[j], level[j].w, level[j].shoup);
                const u64 u = x[j];
                x[j] = F::Reduce2(u + v);
                y[j] = F::Reduce2(u - v + F::twoP);
            }
        }
    }
}

template <int K>
void Forward(u64* a, std::size_t n, const NttTwiddles& t) {
    const std::size_t block = std::min(n, BlockLength);
    if (n > block) Dif<K>(a, n, n / 2, block, t);
    for (std::size_t b = 0; b < n; b += block) Dif<K>(a + b, block, block / 2, 1, t);
}

template <int K>
void Inverse(u64* a, std::size_t n, const NttTwiddles& t) {
    const std::size_t block = std::min(n, BlockLength);
    for (std::size_t b = 0; b < n; b += block) Dit<K>(a + b, block, 1, block / 2, t);
    if (n > block) Dit<K>(a, n, block, n / 2, t);
}

// v = q * 10^14 + r: returns r, leaves q in v.
u64 DivideByCoefficientBase(u128& v) {
    const u64 high = static_cast<u64>(v >> 64), low = static_cast<u64>(v);
    const u64 qHigh = high / CoefficientBase, rHigh = high % CoefficientBase;
#if defined(__x86_64__)
    // rHigh < 10^14, so the quotient of rHigh * 2^64 + low fits 64 bits.
    u64 q = 0, r = 0;
    asm("divq %4" : "=a"(q), "=d"(r) : "a"(low), "d"(rHigh), "rm"(CoefficientBase) : "cc");
#else
    const u128 rest = (u128{rHigh} << 64) | low;
    const u64 q = static_cast<u64>(rest / CoefficientBase);
    const u64 r = static_cast<u64>(rest % CoefficientBase);
#endif
    v = (u128{qHigh} << 64) | q;
    return r;
}

}  // namespace

void MultiplySchoolbook(const int32_t* a, std::size_t na, const int32_t* b, std::size_t nb,
                        int32_t* out) {
    if (na < nb) {
        std::swap(a, b);
        std::swap(na, nb);
    }
    KALDROME_ASSERT(nb >= 1 && nb < 180'000);
    std::vector<u64> column(na + nb, 0);
    for (std::size_t j = 0; j < nb; ++j) {
        const auto bj = static_cast<u64>(b[j]);
        u64* c = column.data() + j;
        for (std::size_t i = 0; i < na; ++i) c[i] += static_cast<u64>(a[i]) * bj;
    }
    u64 carry = 0;
    for (std::size_t k = 0; k < na + nb; ++k) {
        const u64 v = column[k] + carry;
        carry = v / Base;
        out[k] = static_cast<int32_t>(v - carry * Base);
    }
    KALDROME_ASSERT(carry == 0);
}

std::size_t TransformLength(std::size_t na, std::size_t nb) {
    const std::size_t coefficients = (na + 1) / 2 + (nb + 1) / 2 - 1;
    return std::max<std::size_t>(std::bit_ceil(coefficients), 2);
}

NttProduct::NttProduct(const int32_t* a, std::size_t na, const int32_t* b, std::size_t nb,
                       int32_t* out)
    : operand_{a, b}, limbs_{na, nb}, out_(out), length_(TransformLength(na, nb)) {
    KALDROME_ASSERT(na >= 1 && nb >= 1);
    for (int prime = 0; prime < 2; ++prime) twiddles_[prime] = TwiddlesFor(prime, length_);
}

NttProduct::~NttProduct() = default;

void NttProduct::Forward(int operand, int prime) {
    std::vector<u64>& d = data_[prime][operand];
    d.assign(length_, 0);
    const int32_t* limbs = operand_[operand];
    const std::size_t n = limbs_[operand];
    for (std::size_t i = 0; 2 * i < n; ++i) {
        const auto low = static_cast<u64>(limbs[2 * i]);
        const u64 high = 2 * i + 1 < n ? static_cast<u64>(limbs[2 * i + 1]) : 0;
        d[i] = low + Base * high;
    }
    if (prime == 0)
        kaldrome::Forward<0>(d.data(), length_, *twiddles_[0]);
    else
        kaldrome::Forward<1>(d.data(), length_, *twiddles_[1]);
}

void NttProduct::Inverse(int prime) {
    std::vector<u64>& a = data_[prime][0];
    std::vector<u64>& b = data_[prime][1];
    if (prime == 0) {
        for (std::size_t i = 0; i < length_; ++i) a[i] = Field<0>::Mont(a[i], b[i]);
        kaldrome::Inverse<0>(a.data(), length_, *twiddles_[0]);
    } else {
        for (std::size_t i = 0; i < length_; ++i) a[i] = Field<1>::Mont(a[i], b[i]);
        kaldrome::Inverse<1>(a.data(), length_, *twiddles_[1]);
    }
    b = {};
}

void NttProduct::Recombine() {
    using F0 = Field<0>;
    using F1 = Field<1>;
    static_assert(F0::p > F1::p, "r0 reduces modulo p1 by one subtraction");
    // The pointwise products carry 1/R and the inverse transform a factor of
    // the length: K = R^2 / length undoes both.
    const u64 n0 = F0::PowMont(F0::ToMont(length_), F0::p - 2);
    const u64 n1 = F1::PowMont(F1::ToMont(length_), F1::p - 2);
    const u64 k0 = F0::Mont(n0, F0::r2);
    const u64 k1 = F1::Mont(n1, F1::r2);
    // p0^-1 modulo p1, in Montgomery form.
    const u64 inverse0 = F1::PowMont(F1::ToMont(F0::p % F1::p), F1::p - 2);

    // Coefficient i is at (length - i) mod length (see Dit).
    const std::vector<u64>& c0 = data_[0][0];
    const std::vector<u64>& c1 = data_[1][0];
    const std::size_t limbs = limbs_[0] + limbs_[1];
    const std::size_t coefficients = (limbs_[0] + 1) / 2 + (limbs_[1] + 1) / 2 - 1;
    u128 carry = 0;
    std::size_t o = 0;
    for (std::size_t i = 0; i < coefficients; ++i) {
        const std::size_t at = i == 0 ? 0 : length_ - i;
        const u64 r0 = F0::Mont(c0[at], k0);
        const u64 r1 = F1::Mont(c1[at], k1);
        const u64 r0in1 = r0 >= F1::p ? r0 - F1::p : r0;
        const u64 diff = r1 >= r0in1 ? r1 - r0in1 : r1 - r0in1 + F1::p;
        const u64 t = F1::Mont(diff, inverse0);  // (r1 - r0) / p0 modulo p1
        u128 v = u128{r0} + u128{F0::p} * t + carry;
        const u64 low = DivideByCoefficientBase(v);
        carry = v;
        out_[o++] = static_cast<int32_t>(low % Base);
        if (o < limbs) out_[o++] = static_cast<int32_t>(low / Base);
    }
    while (o < limbs) {
        out_[o++] = static_cast<int32_t>(static_cast<u64>(carry % Base));
        carry /= Base;
    }
    KALDROME_ASSERT(carry == 0);
    for (auto& prime : data_)
        for (auto& operand : prime) operand = {};
}

void NttProduct::Run() {
    for (int prime = 0; prime < 2; ++prime) {
        Forward(0, prime);
        Forward(1, prime);
        Inverse(prime);
    }
    Recombine();
}

std::shared_ptr<const NttTwiddles> PrepareTwiddles(int prime, std::size_t length) {
    return TwiddlesFor(prime, length);
}

void MultiplyLimbs(const int32_t* a, std::size_t na, const int32_t* b, std::size_t nb,
                   int32_t* out) {
    if (std::min(na, nb) < SchoolbookLimbs) {
        MultiplySchoolbook(a, na, b, nb, out);
        return;
    }
    NttProduct(a, na, b, nb, out).Run();
}

double TransformCost(std::size_t length) {
    const auto n = static_cast<double>(length);
    // About 1.6 ns a butterfly, and n / 2 log2 n butterflies, plus the packing.
    return 0.8 * n * std::log2(std::max(n, 2.0)) + 2 * n;
}

double RecombineCost(std::size_t length) {
    return 12.0 * static_cast<double>(length);
}

double SchoolbookCost(std::size_t na, std::size_t nb) {
    return 0.35 * static_cast<double>(na) * static_cast<double>(nb) +
           2.0 * static_cast<double>(na + nb);
}

double ProductCost(std::size_t na, std::size_t nb) {
    if (std::min(na, nb) < SchoolbookLimbs) return SchoolbookCost(na, nb);
    const std::size_t length = TransformLength(na, nb);
    return 6 * TransformCost(length) + RecombineCost(length);
}

}  // namespace kaldrome
