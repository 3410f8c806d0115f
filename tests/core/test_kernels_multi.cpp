// The grouped kernels: the reference loop against GMP, and every kernel this
// CPU runs against the reference loop, limb for limb, carry for carry and
// window for window, on random limbs, all-9,999,999 limbs, zeros, the largest
// column sums and carries, and ripples that cross vector borders.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/compute.h"
#include "core/gmp_oracle.h"
#include "engine/kernels.h"
#include "engine/kernels_multi.h"

using namespace kaldrome;

namespace {

constexpr auto Base = static_cast<uint32_t>(LimbBase);
// Products of 64-bit numbers, for checking the reciprocals exactly.
__extension__ typedef unsigned __int128 Wide;
constexpr int32_t Guard = 7'654'321;  // what the limbs around a block hold

Multiplier MakeMultiplier(const std::vector<uint32_t>& limbs) {
    Multiplier m;
    m.count = static_cast<int32_t>(limbs.size());
    std::copy(limbs.begin(), limbs.end(), m.limb);
    return m;
}

// A block to multiply: the old limbs below it (window) and its own.
struct Block {
    std::vector<int32_t> window;  // count - 1 limbs, the lowest first
    std::vector<int32_t> limbs;
    uint64_t carry = 0;
};

struct BlockResult {
    std::vector<int32_t> limbs;
    std::vector<int32_t> window;
    uint64_t carry = 0;
};

std::string Where(std::string_view kernel, const Multiplier& m, const Block& b,
                  const std::string& what) {
    return std::string(kernel) + ", " + what + ", n " + std::to_string(b.limbs.size()) +
           ", count " + std::to_string(m.count) + ", carry " + std::to_string(b.carry);
}

// Runs the kernel on the block placed inside a guarded array, as a pass calls
// it on a block in the middle of the number; the guards must stay untouched.
BlockResult RunKernel(GroupKernel kernel, const Multiplier& m, const Block& b,
                      const std::string& where) {
    constexpr std::size_t Front = 19, Back = 40;
    std::vector<int32_t> store(Front + b.limbs.size() + Back, Guard);
    std::copy(b.limbs.begin(), b.limbs.end(), store.begin() + Front);
    BlockResult out;
    out.window = b.window;
    out.carry = kernel(store.data() + Front, b.limbs.size(), m, out.window.data(), b.carry);
    out.limbs.assign(store.begin() + Front,
                     store.begin() + static_cast<std::ptrdiff_t>(Front + b.limbs.size()));
    for (std::size_t k = 0; k < Front; ++k) EXPECT_EQ(store[k], Guard) << where << " (front)";
    for (std::size_t k = Front + b.limbs.size(); k < store.size(); ++k)
        EXPECT_EQ(store[k], Guard) << where << " (back)";
    return out;
}

// Decimal digits of limbs[from..to), the highest first; "0" when empty.
std::string Digits(const std::vector<int32_t>& limbs, std::ptrdiff_t from, std::ptrdiff_t to) {
    std::string d = "0";
    for (std::ptrdiff_t k = to - 1; k >= from; --k) {
        const std::string limb = std::to_string(limbs[static_cast<std::size_t>(k)]);
        d += std::string(7 - limb.size(), '0') + limb;
    }
    return d;
}

// What the block must come out as, by GMP: the block's value is
//   sum over i of limb[i] * (old limbs -i .. n-1-i as a number) + carry,
// its low n limbs are the new limbs and the rest is the carry out.
BlockResult Expected(const Multiplier& m, const Block& b) {
    // All old limbs, the window's first: old(t) is all[t + count - 1].
    std::vector<int32_t> all = b.window;
    all.insert(all.end(), b.limbs.begin(), b.limbs.end());
    const auto n = static_cast<std::ptrdiff_t>(b.limbs.size());
    const std::ptrdiff_t below = m.count - 1;
    mpz_t value, term;
    mpz_init_set_ui(value, 0);
    mpz_init(term);
    for (int32_t i = 0; i < m.count; ++i) {
        mpz_set_str(term, Digits(all, below - i, below - i + n).c_str(), 10);
        mpz_addmul_ui(value, term, m.limb[i]);
    }
    mpz_add_ui(value, value, static_cast<unsigned long>(b.carry));
    std::string d(mpz_sizeinbase(value, 10) + 2, '\0');
    mpz_get_str(d.data(), 10, value);
    d.resize(std::char_traits<char>::length(d.c_str()));
    mpz_clears(value, term, nullptr);

    const std::size_t width = 7 * b.limbs.size();
    if (d.size() < width + 1) d.insert(0, width + 1 - d.size(), '0');
    BlockResult out;
    for (std::size_t k = 0; k < b.limbs.size(); ++k)
        out.limbs.push_back(std::stoi(d.substr(d.size() - 7 * (k + 1), 7)));
    out.carry = std::stoull(d.substr(0, d.size() - width));
    // The window left behind: the top count - 1 old limbs.
    out.window.assign(all.end() - below, all.end());
    return out;
}

// The reference against GMP, then every kernel against the reference.
void Check(const Multiplier& m, const Block& b, const std::string& what) {
    ASSERT_EQ(b.window.size(), static_cast<std::size_t>(m.count - 1));
    ASSERT_LT(b.carry, static_cast<uint64_t>(m.count) * Base) << "carry out of range in the test";
    const std::string refWhere = Where("reference", m, b, what);
    const BlockResult want = RunKernel(&MulGroupReference, m, b, refWhere);
    const BlockResult gmp = Expected(m, b);
    ASSERT_EQ(want.limbs, gmp.limbs) << refWhere;
    ASSERT_EQ(want.carry, gmp.carry) << refWhere;
    ASSERT_EQ(want.window, gmp.window) << refWhere;
    ASSERT_LT(want.carry, static_cast<uint64_t>(m.count) * Base) << refWhere;
    for (KernelKind kind : SupportedKinds()) {
        const std::string where = Where(KernelName(kind), m, b, what);
        const BlockResult got = RunKernel(GroupKernelFor(kind), m, b, where);
        ASSERT_EQ(got.limbs, want.limbs) << where;
        ASSERT_EQ(got.carry, want.carry) << where;
        ASSERT_EQ(got.window, want.window) << where;
    }
}

std::vector<int32_t> RandomLimbs(std::mt19937_64& rng, std::size_t n) {
    std::vector<int32_t> v(n);
    for (auto& x : v) x = static_cast<int32_t>(rng() % Base);
    return v;
}

Multiplier RandomMultiplier(std::mt19937_64& rng, int32_t count) {
    std::vector<uint32_t> limbs(static_cast<std::size_t>(count));
    for (auto& x : limbs) x = static_cast<uint32_t>(rng() % Base);
    limbs.back() = 1 + static_cast<uint32_t>(rng() % (Base - 1));
    return MakeMultiplier(limbs);
}

Block RandomBlock(std::mt19937_64& rng, int32_t count, std::size_t n) {
    Block b;
    b.window = RandomLimbs(rng, static_cast<std::size_t>(count - 1));
    b.limbs = RandomLimbs(rng, n);
    b.carry = rng() % (static_cast<uint64_t>(count) * Base);
    return b;
}

// The multiplier 10^(7 * (count - 1)): every output limb is an old limb moved
// up count - 1 places, so a block of 9,999,999 and a carry in ripple all the
// way through it.
Multiplier Shift(int32_t count) {
    std::vector<uint32_t> limbs(static_cast<std::size_t>(count), 0);
    limbs.back() = 1;
    return MakeMultiplier(limbs);
}

Multiplier AllNines(int32_t count) {
    return MakeMultiplier(std::vector<uint32_t>(static_cast<std::size_t>(count), Base - 1));
}

}  // namespace

// The divisions of the vector kernels at the ends of their ranges and where
// the quotient steps: exact for the reciprocals, q or q - 1 for the double.
TEST(GroupKernels, QuotientEstimatesHoldOverTheirWholeRanges) {
    std::vector<uint64_t> wide = {
        0, 1, Base - 1, Base, Base + 1, (uint64_t(1) << 51) - 1, (uint64_t(1) << 52) - 1};
    std::mt19937_64 rng(15);
    for (int k = 0; k < 20'000; ++k) {
        // Multiples of 10^7 and their neighbours up to 2^52, and random values.
        const uint64_t q = rng() % ((uint64_t(1) << 52) / Base);
        for (uint64_t s : {q * Base, q * Base + Base - 1, q * Base - (q > 0)}) wide.push_back(s);
        wide.push_back(rng() >> 12);
    }
    for (uint64_t s : wide) {
        const uint64_t q = s / Base;
        const auto estimate = static_cast<uint64_t>(static_cast<double>(s) * InverseBaseLow());
        ASSERT_TRUE(estimate == q || estimate + 1 == q) << "double estimate, s " << s;
        if (s < (uint64_t(1) << 51)) {
            const auto exact = static_cast<uint64_t>((static_cast<Wide>(s) * Reciprocal75) >> 75);
            ASSERT_EQ(exact, q) << "Reciprocal75, s " << s;
        }
    }
    for (uint64_t q = 0; q * Base < (uint64_t(1) << 32); ++q) {
        for (uint64_t u : {q * Base, q * Base + Base - 1, q * Base - (q > 0)}) {
            if (u >= (uint64_t(1) << 32)) u = (uint64_t(1) << 32) - 1;
            ASSERT_EQ((u * Reciprocal55) >> 55, u / Base) << "Reciprocal55, u " << u;
        }
    }
}

TEST(GroupKernels, RandomBlocksOfEveryShortLengthAndEveryCount) {
    std::mt19937_64 rng(20260101);
    for (int32_t count = 1; count <= MaxMultiplierLimbs; ++count) {
        // Every length up to a few vectors: every tail shape, blocks shorter
        // than the window, and an empty block.
        for (std::size_t n = 0; n <= 70; ++n) {
            const Multiplier m = RandomMultiplier(rng, count);
            Check(m, RandomBlock(rng, count, n), "random");
        }
    }
}

TEST(GroupKernels, RandomLongBlocks) {
    std::mt19937_64 rng(77);
    for (int32_t count : {1, 2, 3, 6, 9, 12, 16})
        for (std::size_t n : {255u, 256u, 257u, 1000u, 4099u, 16'384u})
            Check(RandomMultiplier(rng, count), RandomBlock(rng, count, n), "random");
}

// Limbs and multiplier all 9,999,999 give the largest column sums, up to
// 16 * (10^7 - 1)^2 plus the largest carry, where the quotient estimates are
// closest to the end of their exact range.
TEST(GroupKernels, LargestColumnSumsAndCarries) {
    for (int32_t count = 1; count <= MaxMultiplierLimbs; ++count) {
        for (std::size_t n : {1u, 15u, 16u, 17u, 40u, 100u}) {
            Block b;
            b.window.assign(static_cast<std::size_t>(count - 1), Base - 1);
            b.limbs.assign(n, Base - 1);
            b.carry = static_cast<uint64_t>(count) * Base - 1;
            Check(AllNines(count), b, "all 9,999,999, largest carry");
            b.carry = 0;
            Check(AllNines(count), b, "all 9,999,999, no carry");
        }
    }
}

TEST(GroupKernels, ZerosPassTheCarryThrough) {
    std::mt19937_64 rng(3);
    for (int32_t count : {1, 2, 5, 16}) {
        for (std::size_t n : {1u, 16u, 33u, 100u}) {
            Block b;
            b.window.assign(static_cast<std::size_t>(count - 1), 0);
            b.limbs.assign(n, 0);
            const uint64_t largest = static_cast<uint64_t>(count) * Base - 1;
            for (uint64_t carry :
                 {uint64_t(0), uint64_t(1), std::min<uint64_t>(Base, largest), largest}) {
                b.carry = carry;
                Check(RandomMultiplier(rng, count), b, "zeros");
            }
        }
    }
}

// A carry in, or a window of 9,999,999 shifted in, ripples through a block of
// 9,999,999 and out of it; a carry of 0 stops nowhere. Lengths put the block's
// top on and next to vector borders.
TEST(GroupKernels, CarriesThatRippleThroughEveryLimb) {
    for (int32_t count : {1, 2, 3, 8, 15, 16}) {
        for (std::size_t n : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 32u, 33u, 64u, 257u, 1000u}) {
            for (uint64_t carry :
                 {uint64_t(0), uint64_t(1), static_cast<uint64_t>(count) * Base - 1}) {
                Block b;
                b.window.assign(static_cast<std::size_t>(count - 1), Base - 1);
                b.limbs.assign(n, Base - 1);
                b.carry = carry;
                Check(Shift(count), b, "shifted 9,999,999");
                Check(MakeMultiplier(std::vector<uint32_t>(1, 1)), Block{{}, b.limbs, carry % Base},
                      "times 1");
            }
        }
    }
}

// Runs of 9,999,999 between random limbs with multipliers that keep them
// (a shift) or nearly keep them (1 + a shift): ripples that start and stop
// anywhere, inside a vector and across vector and block borders.
TEST(GroupKernels, RipplesStartingAndEndingAnywhere) {
    std::mt19937_64 rng(4242);
    for (int round = 0; round < 400; ++round) {
        const auto count = static_cast<int32_t>(1 + rng() % MaxMultiplierLimbs);
        const std::size_t n = 1 + rng() % 300;
        Block b = RandomBlock(rng, count, n);
        for (int runs = 0; runs < 4; ++runs) {
            const std::size_t from = rng() % n;
            const std::size_t to = std::min(n, from + 1 + rng() % 40);
            for (std::size_t k = from; k < to; ++k) b.limbs[k] = Base - 1;
        }
        if (round % 3 == 0) std::fill(b.window.begin(), b.window.end(), Base - 1);
        if (round % 2 == 0) b.carry = static_cast<uint64_t>(count) * Base - 1 - rng() % 3;
        Multiplier m = Shift(count);
        if (round % 4 == 1) m.limb[0] += 1;
        Check(m, b, "runs of 9,999,999");
    }
}

// Consecutive blocks with the window and carry handed on give the same limbs
// as one block: how a pass is cut at its yields.
TEST(GroupKernels, BlocksChainedThroughWindowAndCarry) {
    std::mt19937_64 rng(11);
    for (KernelKind kind : SupportedKinds()) {
        for (int32_t count : {1, 4, 16}) {
            const Multiplier m = RandomMultiplier(rng, count);
            const Block whole = RandomBlock(rng, count, 1500);
            const BlockResult once = RunKernel(&MulGroupReference, m, whole, "whole");
            std::vector<int32_t> limbs = whole.limbs;
            std::vector<int32_t> window = whole.window;
            uint64_t carry = whole.carry;
            std::size_t at = 0;
            for (std::size_t len : {0u, 3u, 1u, 16u, 17u, 200u, 5u, 1258u}) {
                carry = GroupKernelFor(kind)(limbs.data() + at, len, m, window.data(), carry);
                at += len;
            }
            ASSERT_EQ(at, limbs.size());
            EXPECT_EQ(limbs, once.limbs) << KernelName(kind) << ", count " << count;
            EXPECT_EQ(carry, once.carry) << KernelName(kind) << ", count " << count;
            EXPECT_EQ(window, once.window) << KernelName(kind) << ", count " << count;
        }
    }
}

TEST(GroupKernels, AddCarryRipplesAndStops) {
    struct Row {
        std::vector<int32_t> limbs;
        uint64_t carry;
        std::vector<int32_t> want;
        uint64_t left;
    };
    const int32_t Nine = Base - 1;
    const Row rows[] = {
        {{5, 6}, 0, {5, 6}, 0},
        {{Nine, Nine, 4}, 1, {0, 0, 5}, 0},
        {{Nine, Nine}, 1, {0, 0}, 1},
        {{3, Nine, 7}, 159'999'998, {1, 15, 8}, 0},  // 3 + 159,999,998 = 16 * 10^7 + 1
        {{}, 42, {}, 42},
    };
    for (const Row& r : rows) {
        std::vector<int32_t> limbs = r.limbs;
        EXPECT_EQ(AddCarry(limbs.data(), limbs.size(), r.carry), r.left);
        EXPECT_EQ(limbs, r.want);
    }
}
