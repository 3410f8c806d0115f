// The multiplication kernels: every kernel this CPU runs, the reference loop
// among them, against GMP on random limbs, on long carry chains, at the
// extreme factors and carries, inside larger arrays, and in whole runs; and
// the products of two numbers by transforms, limb for limb against the
// schoolbook product, which is itself checked against GMP.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/compute.h"
#include "core/gmp_oracle.h"
#include "engine/factorial_engine.h"
#include "engine/kernels.h"
#include "engine/ntt.h"

using namespace kaldrome;

namespace {

constexpr auto Base = static_cast<uint32_t>(LimbBase);
constexpr int32_t Guard = 7'654'321;  // what the limbs around a block hold

struct NamedKernel {
    std::string name;
    MulKernel kernel;
};

// Every kernel this CPU runs, with both copies of the portable one on x86-64.
std::vector<NamedKernel> SupportedKernels() {
    std::vector<NamedKernel> kernels;
    for (KernelKind k : SupportedKinds())
        kernels.push_back({std::string(KernelName(k)), KernelFor(k)});
#if defined(__x86_64__)
    kernels.push_back({"portable, plain x86-64 copy", &MulLimbsPortable});
#endif
    return kernels;
}

struct Product {
    std::vector<int32_t> limbs;
    uint32_t carry = 0;
};

// limbs * factor + carry, worked out by GMP through decimal text: the low
// limbs and what is left above them.
Product GmpProduct(const std::vector<int32_t>& limbs, uint32_t factor, uint32_t carry) {
    std::string digits = "0";
    for (auto it = limbs.rbegin(); it != limbs.rend(); ++it) {
        const std::string limb = std::to_string(*it);
        digits += std::string(7 - limb.size(), '0') + limb;
    }
    mpz_t value;
    mpz_init_set_str(value, digits.c_str(), 10);
    mpz_mul_ui(value, value, factor);
    mpz_add_ui(value, value, carry);
    std::string out(mpz_sizeinbase(value, 10) + 2, '\0');
    mpz_get_str(out.data(), 10, value);
    mpz_clear(value);
    out.resize(std::char_traits<char>::length(out.c_str()));
    const std::size_t width = 7 * limbs.size();
    if (out.size() < width + 1) out.insert(0, width + 1 - out.size(), '0');

    Product p;
    const std::size_t above = out.size() - width;
    for (std::size_t k = 0; k < limbs.size(); ++k)
        p.limbs.push_back(std::stoi(out.substr(out.size() - 7 * (k + 1), 7)));
    EXPECT_LE(above, 6u) << "the carry out must stay below 10^6";
    p.carry = static_cast<uint32_t>(std::stoul(out.substr(0, above)));
    return p;
}

// Runs the kernel on `limbs` placed at an odd offset inside a guarded array, as
// the engine calls it on a block in the middle of the number, and checks it
// against GMP. The guards must come out untouched.
void CheckKernel(const NamedKernel& named, const std::vector<int32_t>& limbs, uint32_t factor,
                 uint32_t carry, const std::string& what) {
    const MulKernel kernel = named.kernel;
    ASSERT_NE(kernel, nullptr);
    constexpr std::size_t Front = 3, Back = 40;
    std::vector<int32_t> store(Front + limbs.size() + Back, Guard);
    std::copy(limbs.begin(), limbs.end(), store.begin() + Front);

    const uint32_t carryOut = kernel(store.data() + Front, limbs.size(), factor, carry);

    const Product want = GmpProduct(limbs, factor, carry);
    const auto first = store.begin() + static_cast<std::ptrdiff_t>(Front);
    const std::vector<int32_t> got(first, first + static_cast<std::ptrdiff_t>(limbs.size()));
    const std::string where = named.name + ", " + what + ", n " + std::to_string(limbs.size()) +
                              ", factor " + std::to_string(factor) + ", carry " +
                              std::to_string(carry);
    ASSERT_EQ(carryOut, want.carry) << where;
    ASSERT_EQ(got, want.limbs) << where;
    for (std::size_t k = 0; k < Front; ++k) ASSERT_EQ(store[k], Guard) << where << " (front)";
    for (std::size_t k = Front + limbs.size(); k < store.size(); ++k)
        ASSERT_EQ(store[k], Guard) << where << " (back)";
}

std::vector<int32_t> RandomLimbs(std::mt19937_64& rng, std::size_t n) {
    std::vector<int32_t> v(n);
    for (auto& x : v) x = static_cast<int32_t>(rng() % Base);
    return v;
}

// Factors and carries at both ends of their ranges and a few between.
const uint32_t EdgeFactors[] = {1, 2, 7, 10, 9'999, 10'000, 999'983, 999'998, 999'999};
const uint32_t EdgeCarries[] = {0, 1, 9, 500'000, 999'998, 999'999};

}  // namespace

TEST(Kernels, EveryKindReportsWhetherThisCpuRunsIt) {
#if defined(__x86_64__)
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2");
    const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    const bool ifma = avx512 && __builtin_cpu_supports("avx512ifma");
#else
    const bool avx2 = false, avx512 = false, ifma = false;
#endif
    const struct {
        KernelKind kind;
        bool cpuHasIt;
    } rows[] = {
        {KernelKind::Reference, true}, {KernelKind::Portable, true},   {KernelKind::Avx2, avx2},
        {KernelKind::Avx512, avx512},  {KernelKind::Avx512Ifma, ifma},
    };
    static_assert(std::size(rows) == std::size(AllKernelKinds));
    for (const auto& r : rows) {
        EXPECT_EQ(KernelSupported(r.kind), r.cpuHasIt) << KernelName(r.kind);
        EXPECT_EQ(KernelFor(r.kind) != nullptr, r.cpuHasIt) << KernelName(r.kind);
        // Both kernels of a kind, or neither: the engine takes them together.
        EXPECT_EQ(GroupKernelFor(r.kind) != nullptr, r.cpuHasIt) << KernelName(r.kind);
        EXPECT_GE(DefaultFactorsPerPass(r.kind), 1) << KernelName(r.kind);
        EXPECT_LE(DefaultFactorsPerPass(r.kind), MaxFactorsPerPass) << KernelName(r.kind);
    }
    EXPECT_TRUE(KernelSupported(BestKernel()));
    // No faster kernel that the CPU runs is passed over.
    for (const auto& r : rows) {
        if (r.cpuHasIt) {
            EXPECT_GE(static_cast<int>(BestKernel()), static_cast<int>(r.kind));
        }
    }
}

TEST(Kernels, AnEngineKeepsItsKernelWhenAskedForOneThisCpuCannotRun) {
    EXPECT_EQ(Engine{}.Kernel(), BestKernel());
    for (KernelKind k : AllKernelKinds) {
        Engine engine;
        ASSERT_TRUE(engine.SetKernel(KernelKind::Reference));
        EXPECT_EQ(engine.SetKernel(k), KernelSupported(k)) << KernelName(k);
        EXPECT_EQ(engine.Kernel(), KernelSupported(k) ? k : KernelKind::Reference) << KernelName(k);
    }
}

TEST(Kernels, NamesParseBackToTheirKinds) {
    for (KernelKind k : AllKernelKinds) {
        KernelKind parsed = k == KernelKind::Reference ? KernelKind::Avx512 : KernelKind::Reference;
        EXPECT_TRUE(ParseKernelName(KernelName(k), parsed));
        EXPECT_EQ(parsed, k);
    }
    for (const char* bad : {"", "best", "AVX2", "avx", "avx5120", " portable", "ifma"}) {
        KernelKind parsed = KernelKind::Portable;
        EXPECT_FALSE(ParseKernelName(bad, parsed)) << '"' << bad << '"';
        EXPECT_EQ(parsed, KernelKind::Portable);
    }
}

// Both quotient estimates behind the faster kernels are off by at most one, the
// integer one only upwards and the single precision one only downwards, for
// every factor. The limbs tried are the largest ones, where the estimates stray
// furthest, the ones whose quotient lies just above a whole number, where an
// estimate that rounds down would miss it, and a random one.
TEST(Kernels, QuotientEstimatesAreOffByAtMostOneOnTheirSide) {
    using Estimate = uint64_t (*)(uint64_t limb, uint32_t factor);
    const struct {
        const char* name;
        Estimate estimate;
        int64_t off;  // the one wrong answer allowed: q + off
    } rows[] = {
        {"integer reciprocal",
         [](uint64_t limb, uint32_t factor) { return (limb * ReciprocalFor(factor)) >> 32; }, 1},
        {"single precision low scale",
         [](uint64_t limb, uint32_t factor) {
             return static_cast<uint64_t>(static_cast<float>(limb) * LowQuotientScale(factor));
         },
         -1},
    };
    std::mt19937_64 rng(99);
    for (const auto& row : rows) {
        for (uint64_t factor = 1; factor <= 999'999; ++factor) {
            // The smallest limb whose quotient reaches m, for the top few m.
            const uint64_t top = (Base - 1) * factor / Base;
            const uint64_t limbs[] = {Base - 1,
                                      Base - 2,
                                      (top * Base + factor - 1) / factor,
                                      top > 0 ? ((top - 1) * Base + factor - 1) / factor : 0,
                                      top > 6 ? ((top - 7) * Base + factor - 1) / factor : 1,
                                      rng() % Base};
            for (uint64_t limb : limbs) {
                const uint64_t q = limb * factor / Base;
                const uint64_t estimate = row.estimate(limb, static_cast<uint32_t>(factor));
                ASSERT_TRUE(estimate == q || estimate == q + static_cast<uint64_t>(row.off))
                    << row.name << ": factor " << factor << ", limb " << limb;
            }
        }
    }
}

TEST(Kernels, RandomLimbsOfEveryShortLength) {
    std::mt19937_64 rng(20240611);
    for (const NamedKernel& kernel : SupportedKernels()) {
        // Every length up to a few vectors, so every tail shape and an empty block.
        for (std::size_t n = 0; n <= 70; ++n) {
            for (int round = 0; round < 6; ++round) {
                const uint32_t factor = round < 2 ? EdgeFactors[rng() % std::size(EdgeFactors)]
                                                  : static_cast<uint32_t>(1 + rng() % 999'999);
                const uint32_t carry = round % 2 ? EdgeCarries[rng() % std::size(EdgeCarries)]
                                                 : static_cast<uint32_t>(rng() % 1'000'000);
                CheckKernel(kernel, RandomLimbs(rng, n), factor, carry, "random");
            }
        }
    }
}

TEST(Kernels, RandomLimbsOfLongBlocks) {
    std::mt19937_64 rng(77);
    const std::size_t lengths[] = {255, 256, 257, 1000, 1023, 4099, 16'384};
    for (const NamedKernel& kernel : SupportedKernels())
        for (std::size_t n : lengths)
            for (uint32_t factor : {1u, 999'999u, static_cast<uint32_t>(1 + rng() % 999'999)})
                CheckKernel(kernel, RandomLimbs(rng, n), factor,
                            static_cast<uint32_t>(rng() % 1'000'000), "random");
}

// Limbs of 9,999,999 make every limb's share come out at 10^7 - 1 for factor 1
// and for factor 999,999 (9,999,999 * 999,999 = 999,998 * 10^7 + 9,000,001),
// so one carry ripples up the whole block and out of it.
TEST(Kernels, CarriesThatRippleThroughEveryLimb) {
    struct Row {
        const char* what;
        uint32_t factor;
        uint32_t carry;
    };
    const Row rows[] = {
        {"factor 1, carry 1 ripples", 1, 1},
        {"factor 1, carry 999,999 ripples", 1, 999'999},
        {"factor 1, carry 0 stays put", 1, 0},
        {"factor 999,999, carry 999,999 ripples", 999'999, 999'999},
        {"factor 999,999, carry 999,998 stays put", 999'999, 999'998},
        {"factor 2", 2, 999'999},
    };
    for (const NamedKernel& kernel : SupportedKernels())
        for (const Row& r : rows)
            for (std::size_t n : {1u, 7u, 8u, 15u, 16u, 17u, 33u, 64u, 257u, 1000u})
                CheckKernel(kernel, std::vector<int32_t>(n, Base - 1), r.factor, r.carry, r.what);
}

// Runs of 9,999,999 between random limbs: ripples that start and stop at
// every position, inside a vector, across vector and chunk borders, and at
// the block's top.
TEST(Kernels, RipplesStartingAndEndingAnywhere) {
    std::mt19937_64 rng(4242);
    for (const NamedKernel& kernel : SupportedKernels()) {
        for (int round = 0; round < 120; ++round) {
            const std::size_t n = 1 + rng() % 300;
            std::vector<int32_t> limbs = RandomLimbs(rng, n);
            for (int runs = 0; runs < 4; ++runs) {
                const std::size_t from = rng() % n;
                const std::size_t to = std::min(n, from + 1 + rng() % 40);
                for (std::size_t k = from; k < to; ++k) limbs[k] = Base - 1;
            }
            if (round % 3 == 0) limbs.back() = Base - 1;
            // Factor 1 and 999,999 keep the runs at 10^7 - 1; carry 999,999 starts
            // a ripple at the bottom whatever the first limb.
            const uint32_t factor = round % 2 ? 1 : 999'999;
            const uint32_t carry =
                round % 4 < 2 ? 999'999 : static_cast<uint32_t>(rng() % 1'000'000);
            CheckKernel(kernel, limbs, factor, carry, "runs of 9,999,999");
        }
    }
}

TEST(Kernels, ExtremeFactorsAndCarriesOnEdgeLimbs) {
    const int32_t edgeLimbs[] = {0, 1, 9'999'999, 5'000'000, 1'000'000};
    for (const NamedKernel& kernel : SupportedKernels())
        for (uint32_t factor : EdgeFactors)
            for (uint32_t carry : EdgeCarries)
                for (int32_t limb : edgeLimbs)
                    CheckKernel(kernel, std::vector<int32_t>(19, limb), factor, carry,
                                "edge limbs");
}

// The whole engine with each kernel forced, against GMP; these runs hit the
// zero limbs at the bottom and passes of every length up to a few thousand.
TEST(Kernels, WholeRunsWithEachKernelMatchGmp) {
    for (KernelKind kind : SupportedKinds()) {
        Engine engine;
        ASSERT_TRUE(engine.SetKernel(kind));
        for (int32_t n : {4, 11, 30, 31, 200, 1000, 2999, 4321}) {
            RunState rs;
            ASSERT_EQ(Compute(rs, n, {}, engine), RunOutcome::Completed);
            std::vector<int32_t> limbs(rs.Limbs.Data(), rs.Limbs.Data() + rs.LimbCount);
            ASSERT_EQ(limbs, oracle::FactorialLimbs(static_cast<unsigned long>(n)))
                << KernelName(kind) << ", N " << n;
            EXPECT_EQ(rs.Carry, 0);
        }
    }
}

// A broken precondition stops a Debug or sanitized build at once, where it
// would otherwise corrupt the number without a sign.
TEST(KernelsDeathTest, BrokenPreconditionsStopTheProgram) {
#if !KALDROME_ASSERTS
    GTEST_SKIP() << "assertions are compiled out of this build";
#else
    struct Row {
        const char* what;
        int32_t limb;  // one limb among valid ones
        uint32_t factor;
        uint32_t carry;
    };
    const Row rows[] = {
        {"factor 0", 5, 0, 0},
        {"factor 1,000,000", 5, 1'000'000, 0},
        {"carry 1,000,000", 5, 2, 1'000'000},
        {"a limb of 10^7", LimbBase, 2, 0},
        {"a negative limb", -1, 2, 0},
    };
    for (const NamedKernel& kernel : SupportedKernels()) {
        for (const Row& r : rows) {
            std::vector<int32_t> limbs(40, 5);
            limbs[21] = r.limb;
            EXPECT_DEATH(kernel.kernel(limbs.data(), limbs.size(), r.factor, r.carry),
                         "assertion failed")
                << kernel.name << ", " << r.what;
        }
    }
#endif
}

namespace {

// limbs as a GMP number.
void ToNumber(mpz_t x, const std::vector<int32_t>& limbs) {
    mpz_set_ui(x, 0);
    for (std::size_t k = limbs.size(); k-- > 0;) {
        mpz_mul_ui(x, x, Base);
        mpz_add_ui(x, x, static_cast<unsigned long>(limbs[k]));
    }
}

// a * b by the transforms, whatever its size, with the steps in the order
// given: forward steps of either operand and prime in any order, each
// prime's inverse after its own.
std::vector<int32_t> ByTransforms(const std::vector<int32_t>& a, const std::vector<int32_t>& b,
                                  bool reversed) {
    std::vector<int32_t> out(a.size() + b.size(), -1);
    NttProduct product(a.data(), a.size(), b.data(), b.size(), out.data());
    if (!reversed) {
        product.Run();
        return out;
    }
    product.Forward(1, 1);
    product.Forward(0, 1);
    product.Inverse(1);
    product.Forward(1, 0);
    product.Forward(0, 0);
    product.Inverse(0);
    product.Recombine();
    return out;
}

}  // namespace

// The primes are prime, below 2^62, and have the roots of unity of every
// power-of-two order up to 2^32; their product holds any coefficient.
TEST(Ntt, PrimesAndRoots) {
    mpz_t p, r, e;
    mpz_inits(p, r, e, nullptr);
    for (int k = 0; k < 2; ++k) {
        mpz_set_ui(p, 0);
        mpz_import(p, 1, 1, sizeof(uint64_t), 0, 0, &NttPrimes[k]);
        EXPECT_GT(mpz_probab_prime_p(p, 50), 0) << k;
        EXPECT_LT(NttPrimes[k], uint64_t{1} << 62);
        EXPECT_EQ((NttPrimes[k] - 1) % (uint64_t{1} << 32), 0u);
        // g^((p-1)/2^32) has order 2^32: its 2^31-th power is -1.
        mpz_sub_ui(e, p, 1);
        mpz_tdiv_q_2exp(e, e, 1);
        mpz_set_ui(r, NttGenerators[k]);
        mpz_powm(r, r, e, p);
        mpz_add_ui(r, r, 1);
        EXPECT_EQ(mpz_cmp(r, p), 0) << "the generator of prime " << k << " is a square";
    }
    mpz_clears(p, r, e, nullptr);
}

// Random limbs, all limbs 9,999,999 (the largest coefficients and carries),
// a lone limb at either end, zeros in between; balanced and unbalanced,
// odd and even lengths, at the edges of transform lengths.
TEST(Ntt, ProductsMatchTheSchoolbookLimbForLimb) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int32_t> limb(0, Base - 1);
    struct Row {
        std::size_t na, nb;
    };
    const Row rows[] = {{1, 1},       {2, 1},       {3, 3},       {7, 4},        {64, 63},
                        {159, 160},   {161, 300},   {257, 256},   {513, 511},    {1000, 37},
                        {2049, 2048}, {4096, 4097}, {6000, 3000}, {20001, 19999}};
    const char* fills[] = {"random", "all 9,999,999", "ends only", "sparse"};
    for (const Row& r : rows) {
        for (const char* fill : fills) {
            auto make = [&](std::size_t n) {
                std::vector<int32_t> x(n, 0);
                for (std::size_t k = 0; k < n; ++k) {
                    if (fill == fills[0]) x[k] = limb(random);
                    if (fill == fills[1]) x[k] = Base - 1;
                    if (fill == fills[2]) x[k] = k == 0 || k + 1 == n ? limb(random) | 1 : 0;
                    if (fill == fills[3]) x[k] = random() % 17 == 0 ? limb(random) : 0;
                }
                x.back() = std::max(x.back(), 1);
                return x;
            };
            const std::vector<int32_t> a = make(r.na), b = make(r.nb);
            std::vector<int32_t> want(r.na + r.nb, -1);
            MultiplySchoolbook(a.data(), a.size(), b.data(), b.size(), want.data());
            const std::string where =
                std::to_string(r.na) + " by " + std::to_string(r.nb) + ", " + fill;
            for (const bool reversed : {false, true})
                ASSERT_EQ(ByTransforms(a, b, reversed), want) << where;
            std::vector<int32_t> chosen(r.na + r.nb, -1);
            MultiplyLimbs(a.data(), a.size(), b.data(), b.size(), chosen.data());
            ASSERT_EQ(chosen, want) << where;
            if (r.na * r.nb > 1'000'000) continue;
            // The reference itself, against GMP.
            mpz_t x, y, z;
            mpz_inits(x, y, z, nullptr);
            ToNumber(x, a);
            ToNumber(y, b);
            mpz_mul(x, x, y);
            ToNumber(z, want);
            EXPECT_EQ(mpz_cmp(x, z), 0) << where;
            mpz_clears(x, y, z, nullptr);
        }
    }
}
