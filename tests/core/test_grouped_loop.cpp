// The grouped factor loop: the grouping of factors, whole runs against GMP for
// every kernel, factors per pass and thread count, the record after a run
// against the factor-by-factor loop, the capacity rule, the hooks, stops, and
// segmented passes whose carries ripple across segment borders.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/compute.h"
#include "core/gmp_oracle.h"
#include "engine/factorial_engine.h"
#include "engine/grouped_loop.h"
#include "engine/kernels.h"

using namespace kaldrome;

namespace {

constexpr int32_t Base = LimbBase;

std::vector<int32_t> LimbsOf(const RunState& rs) {
    return std::vector<int32_t>(rs.Limbs.Data(), rs.Limbs.Data() + rs.LimbCount);
}

// Every pass split over `threads`, however short, with a yield every `stride` limbs.
LoopSettings SplitAlways(int threads, int32_t perPass, int32_t stride) {
    LoopSettings loop;
    loop.factorsPerPass = perPass;
    loop.threads = threads;
    loop.parallelThreshold = 1;
    loop.alwaysSplit = true;
    loop.yieldStride = stride;
    return loop;
}

// The loop's engine: these tests are about the loop, for every N.
Engine EngineWith(KernelKind kind, LoopSettings loop) {
    Engine engine;
    EXPECT_TRUE(engine.SetKernel(kind)) << KernelName(kind);
    loop.treeFrom = NoTree;
    EXPECT_TRUE(engine.SetLoop(loop));
    return engine;
}

// Base 10^7 limbs of a GMP number, least significant first.
std::vector<int32_t> LimbsOfNumber(const mpz_t x) {
    std::string d(mpz_sizeinbase(x, 10) + 2, '\0');
    mpz_get_str(d.data(), 10, x);
    d.resize(std::char_traits<char>::length(d.c_str()));
    std::vector<int32_t> limbs;
    for (auto end = static_cast<std::ptrdiff_t>(d.size()); end > 0; end -= 7) {
        const std::ptrdiff_t begin = end >= 7 ? end - 7 : 0;
        limbs.push_back(std::stoi(
            d.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin))));
    }
    return limbs;
}

void SetNumber(mpz_t x, const std::vector<int32_t>& limbs) {
    mpz_set_ui(x, 0);
    for (auto it = limbs.rbegin(); it != limbs.rend(); ++it) {
        mpz_mul_ui(x, x, Base);
        mpz_add_ui(x, x, static_cast<unsigned long>(*it));
    }
}

std::vector<int32_t> MultiplierLimbs(const Multiplier& m) {
    return std::vector<int32_t>(m.limb, m.limb + m.count);
}

}  // namespace

TEST(Grouping, GroupsAndTheirProducts) {
    struct Row {
        int32_t first, last, perPass;
        int32_t count;
        std::vector<int32_t> product;
    };
    const Row rows[] = {
        {1, 10, 4, 4, {24}},
        {5, 10, 4, 4, {1680}},
        {7, 10, 4, 3, {504}},  // 10, the last factor, gets a pass of its own
        {9, 10, 4, 1, {9}},
        {10, 10, 4, 1, {10}},
        {4, 4, 18, 1, {4}},
        {3, 9, 0, 1, {3}},   // taken as 1
        {3, 9, -5, 1, {3}},  // taken as 1
        {20, 99, 2, 2, {420}},
        {1, 99, 100, 18, {5'728'000, 237'370, 64}},  // 18! = 6,402,373,705,728,000
        {999'998, 999'999, 7, 1, {999'998}},
        {999'990, 999'999, 2, 2, {1'000'090, 99'998}},  // 999,990 * 999,991
    };
    for (const Row& r : rows) {
        const FactorGroup g = GroupAt(r.first, r.last, r.perPass);
        const std::string where = std::to_string(r.first) + ".." + std::to_string(r.last) + " by " +
                                  std::to_string(r.perPass);
        EXPECT_EQ(g.first, r.first) << where;
        EXPECT_EQ(g.count, r.count) << where;
        EXPECT_EQ(MultiplierLimbs(g.product), r.product) << where;
    }
}

// Every group's product against GMP, its top limb not 0, and the groups of a
// loop cover its factors once each, in order.
TEST(Grouping, ProductsMatchGmpAndGroupsCoverEveryFactorOnce) {
    mpz_t want;
    mpz_init(want);
    std::mt19937_64 rng(5);
    for (int32_t perPass = 1; perPass <= MaxFactorsPerPass + 1; ++perPass) {
        for (int32_t last : {4, 5, 17, 1000, 999'999}) {
            int32_t next = 1;
            int32_t groups = 0;
            while (next <= last) {
                // The whole loop for short ones, a few samples of the long one.
                int32_t first = next;
                if (last > 1000 && groups > 0)
                    first = next = last - static_cast<int32_t>(rng() % 40);
                const FactorGroup g = GroupAt(first, last, perPass);
                const std::string where = std::to_string(first) + ".." + std::to_string(last) +
                                          " by " + std::to_string(perPass);
                ASSERT_GE(g.count, 1) << where;
                ASSERT_LE(g.count, std::min(perPass, MaxFactorsPerPass)) << where;
                ASSERT_EQ(g.first, first) << where;
                if (first + g.count - 1 == last) {
                    EXPECT_EQ(g.count, 1) << where;
                }
                ASSERT_LE(g.product.count, MaxMultiplierLimbs) << where;
                ASSERT_NE(g.product.limb[g.product.count - 1], 0u) << where;
                mpz_set_ui(want, 1);
                for (int32_t f = first; f < first + g.count; ++f)
                    mpz_mul_ui(want, want, static_cast<unsigned long>(f));
                ASSERT_EQ(MultiplierLimbs(g.product), LimbsOfNumber(want)) << where;
                next = first + g.count;
                if (++groups > 2000) break;
            }
            if (last <= 1000) {
                EXPECT_EQ(next, last + 1);
            }
        }
    }
    mpz_clear(want);
}

// Every kernel with a spread of factors per pass and thread counts, every
// pass cut into segments however short, and yields every few dozen limbs,
// against GMP.
TEST(GroupedLoop, WholeRunsMatchGmpForEveryKernelFactorsPerPassAndThreadCount) {
    for (int threads = 1; threads <= 4; ++threads) {
        for (KernelKind kind : SupportedKinds()) {
            for (int32_t perPass : {1, 2, 3, 7, 18, DefaultFactorsPerPass(kind)}) {
                const Engine engine = EngineWith(kind, SplitAlways(threads, perPass, 50));
                for (int32_t n : {4, 31, 200, 1234, 2999}) {
                    RunState rs;
                    ASSERT_EQ(Compute(rs, n, {}, engine), RunOutcome::Completed);
                    ASSERT_EQ(LimbsOf(rs), oracle::FactorialLimbs(static_cast<unsigned long>(n)))
                        << KernelName(kind) << ", " << perPass << " per pass, " << threads
                        << " threads, N " << n;
                }
            }
        }
    }
}

// The loop with its own settings, the best kernel and its factors per pass,
// on one and on two threads, at sizes where passes are long enough to be split.
TEST(GroupedLoop, ShippedSettingsMatchGmp) {
    for (int threads : {1, 2}) {
        Engine engine;
        LoopSettings loop;
        loop.threads = threads;
        loop.treeFrom = NoTree;
        ASSERT_TRUE(engine.SetLoop(loop));
        for (int32_t n : {30'000, 61'001}) {
            RunState rs;
            ASSERT_EQ(Compute(rs, n, {}, engine), RunOutcome::Completed);
            EXPECT_EQ(LimbsOf(rs), oracle::FactorialLimbs(static_cast<unsigned long>(n)))
                << threads << " threads, N " << n;
        }
    }
}

// After a completed run the record is the factor-by-factor one in every field
// the loop touches, the array (with its slack) and the display text included.
// The tree path leaves the same record but for the fields of a pass
// (ScanBound, Product, Remainder), which it has none of.
TEST(GroupedLoop, TheRecordAfterARunIsTheFactorByFactorOne) {
    const Engine plain = FactorByFactor(KernelKind::Reference);
    std::vector<EnginePath> ways;
    for (int32_t perPass : {2, 5, 18}) {
        LoopSettings loop = SplitAlways(2, perPass, GroupYieldStride);
        loop.parallelThreshold = 64;
        ways.push_back({perPass == 2   ? "2 per pass"
                        : perPass == 5 ? "5 per pass"
                                       : "18 per pass",
                        EngineWith(BestKernel(), loop)});
    }
    for (EnginePath& path : EveryPath())
        if (std::string(path.name).starts_with("tree")) ways.push_back(std::move(path));
    for (int32_t n : {4, 5, 10, 11, 30, 31, 97, 8000, 8001, 12'345}) {
        RunState want;
        ASSERT_EQ(Compute(want, n, {}, plain), RunOutcome::Completed);
        for (const EnginePath& way : ways) {
            RunState got;
            ASSERT_EQ(Compute(got, n, {}, way.engine), RunOutcome::Completed);
            const std::string where = "N " + std::to_string(n) + ", " + way.name;
            EXPECT_EQ(got.Target, want.Target) << where;
            EXPECT_EQ(got.Carry, want.Carry) << where;
            EXPECT_EQ(got.LimbCount, want.LimbCount) << where;
            if (!std::string(way.name).starts_with("tree")) {
                EXPECT_EQ(got.ScanBound, want.ScanBound) << where;
                EXPECT_EQ(got.Product, want.Product) << where;
                EXPECT_EQ(got.Remainder, want.Remainder) << where;
            }
            EXPECT_EQ(got.Multiplier, want.Multiplier) << where;
            EXPECT_EQ(got.DigitCount, want.DigitCount) << where;
            EXPECT_EQ(got.GroupCount, want.GroupCount) << where;
            EXPECT_EQ(got.DisplayText, want.DisplayText) << where;
            ASSERT_EQ(got.Limbs.Capacity(), want.Limbs.Capacity()) << where;
            const std::size_t all = static_cast<std::size_t>(want.Limbs.Capacity()) + Limbs::Slack;
            EXPECT_TRUE(std::equal(got.Limbs.Data(), got.Limbs.Data() + all, want.Limbs.Data()))
                << where;
        }
    }
}

// Reads and writes stay inside the capacity rule: a marker in the array's
// slack past the last index would turn up in the result if it were read and
// would change if it were written. Every N where the rule has little margin,
// with the largest groups; and between passes the next free index is inside.
TEST(GroupedLoop, EveryAccessStaysInsideTheCapacityRule) {
    constexpr int32_t Marker = 8'765'432;
    for (int32_t perPass : {18, 7}) {
        const GroupedLoopConfig config{GroupKernelFor(BestKernel()), perPass, nullptr, {}};
        for (int32_t n = 4; n <= 1500; n += (n < 300 ? 1 : 37)) {
            RunState rs;
            StartRun(rs);
            rs.Target = n;
            ASSERT_TRUE(SeedLimbs(rs).Ok());
            int32_t* slack = rs.Limbs.Data() + rs.Limbs.Capacity();
            std::fill(slack, slack + Limbs::Slack, Marker);
            int32_t highest = 0;
            EngineHooks hooks;
            hooks.beforeFactor = [&] { highest = std::max(highest, rs.LimbCount); };
            ASSERT_EQ(RunGroupedFactorLoop(rs, hooks, config), LoopOutcome::Completed);
            const std::string where = "N " + std::to_string(n) + ", " + std::to_string(perPass);
            EXPECT_LE(highest, rs.Limbs.Capacity()) << where;
            EXPECT_LE(rs.LimbCount + 1, rs.Limbs.Capacity()) << where;
            for (std::size_t k = 0; k < Limbs::Slack; ++k) ASSERT_EQ(slack[k], Marker) << where;
            ASSERT_EQ(LimbsOf(rs), oracle::FactorialLimbs(static_cast<unsigned long>(n))) << where;
        }
    }
}

// The hooks in order: for each group its factors' beforeFactor, Multiplier
// set to each, then the pass's yields, one at its start and one per stride.
TEST(GroupedLoop, HooksRunForEveryFactorInOrderThenThePassYields) {
    for (int32_t perPass : {1, 3, 18}) {
        for (int32_t stride : {5, GroupYieldStride}) {
            LoopSettings loop;
            loop.factorsPerPass = perPass;
            loop.threads = 2;
            loop.yieldStride = stride;
            const Engine engine = EngineWith(BestKernel(), loop);
            const Engine plain = FactorByFactor();
            RunState rs;
            std::vector<int32_t> events;  // factor f as f, a yield as 0
            RunHooks hooks;
            hooks.beforeFactor = [&] { events.push_back(rs.Multiplier); };
            hooks.yield = [&] { events.push_back(0); };
            const int32_t n = 400;
            ASSERT_EQ(Compute(rs, n, hooks, engine), RunOutcome::Completed);

            // Replay: the limbs of i! tell how many strides each pass had.
            std::size_t at = 0;
            int32_t next = 1;
            RunState ref;
            int32_t limbsBefore = 1;  // of the number the next pass starts from
            while (next <= n) {
                const FactorGroup g = GroupAt(next, n, perPass);
                for (int32_t f = g.first; f < g.first + g.count; ++f) {
                    ASSERT_LT(at, events.size());
                    ASSERT_EQ(events[at++], f) << perPass << " per pass";
                }
                const int32_t yields = (limbsBefore + stride - 1) / stride;
                for (int32_t y = 0; y < yields; ++y) {
                    ASSERT_LT(at, events.size());
                    ASSERT_EQ(events[at++], 0) << perPass << " per pass, group at " << g.first;
                }
                next += g.count;
                if (next - 1 >= 4) {
                    Compute(ref, next - 1, {}, plain);
                    limbsBefore = ref.LimbCount;
                }
            }
            EXPECT_EQ(at, events.size());
        }
    }
}

// Stop seen after a yield ends the pass there: the limbs below LimbCount are
// those of the group's product, the ones above the previous number's, and the
// next run starts afresh. Also with two threads and several strides a pass.
TEST(GroupedLoop, StopEndsThePassAtTheYieldThatSawIt) {
    struct Case {
        int32_t stopFactor;  // stop in a yield of the pass holding this factor
        int yieldInPass;     // which yield of that pass (1 = its first)
        int threads;
    };
    const int32_t n = 20'000;
    const int32_t stride = 1000;
    const Case cases[] = {
        {5, 1, 1}, {19'990, 1, 1}, {19'990, 3, 1}, {19'990, 4, 2}, {12'000, 2, 2}};
    for (const Case& c : cases) {
        LoopSettings loop = SplitAlways(c.threads, 6, stride);
        loop.parallelThreshold = 100;
        const Engine engine = EngineWith(BestKernel(), loop);
        RunState rs;
        int yieldsInPass = 0;
        int32_t groupLast = 0;
        RunHooks hooks;
        hooks.beforeFactor = [&] {
            groupLast = rs.Multiplier;
            yieldsInPass = 0;
        };
        hooks.yield = [&] {
            ++yieldsInPass;
            const FactorGroup g = GroupAt(rs.Multiplier - (rs.Multiplier - 1) % 6, n, 6);
            if (c.stopFactor >= g.first && c.stopFactor < g.first + g.count &&
                yieldsInPass == c.yieldInPass)
                StopRequested = true;
        };
        ASSERT_EQ(Compute(rs, n, hooks, engine), RunOutcome::Stopped);
        const FactorGroup g = GroupAt(groupLast - (groupLast - 1) % 6, n, 6);
        ASSERT_GE(c.stopFactor, g.first);
        ASSERT_LT(c.stopFactor, g.first + g.count);
        EXPECT_EQ(rs.Multiplier, g.first + g.count - 1);
        EXPECT_EQ(rs.LimbCount, (c.yieldInPass - 1) * stride + 1);
        EXPECT_TRUE(StopRequested);
        EXPECT_TRUE(rs.DisplayText.empty());
        EXPECT_LT(static_cast<uint64_t>(rs.Carry), static_cast<uint64_t>(g.product.count) * Base);

        // Below LimbCount: the low limbs of (first - 1)! times the group's product.
        mpz_t before, after;
        mpz_inits(before, after, nullptr);
        mpz_fac_ui(before, static_cast<unsigned long>(g.first - 1));
        const std::vector<int32_t> old = LimbsOfNumber(before);
        SetNumber(after, MultiplierLimbs(g.product));
        mpz_mul(after, after, before);
        const std::vector<int32_t> product = LimbsOfNumber(after);
        mpz_clears(before, after, nullptr);
        for (int32_t k = 1; k < rs.LimbCount; ++k)
            ASSERT_EQ(rs.Limbs(k), product[static_cast<std::size_t>(k - 1)]) << k;
        for (int32_t k = rs.LimbCount; k <= static_cast<int32_t>(old.size()); ++k)
            ASSERT_EQ(rs.Limbs(k), old[static_cast<std::size_t>(k - 1)]) << k;

        ASSERT_EQ(Compute(rs, 500, {}, engine), RunOutcome::Completed);
        EXPECT_FALSE(StopRequested);
        EXPECT_EQ(LimbsOf(rs), oracle::FactorialLimbs(500));
    }
}

// While the caller's yield runs (the window holds the run there while a menu
// is open), no thread touches the limbs: they read the same before and after
// a pause inside the yield, with passes split over two and four threads.
TEST(GroupedLoop, NoThreadComputesWhileTheYieldRuns) {
    for (int threads : {2, 4}) {
        LoopSettings loop = SplitAlways(threads, MaxFactorsPerPass, 2000);
        loop.parallelThreshold = 512;
        const Engine engine = EngineWith(BestKernel(), loop);
        RunState rs;
        int yields = 0, changed = 0;
        std::vector<int32_t> before;
        RunHooks hooks;
        hooks.yield = [&] {
            if (++yields % 97 != 0) return;
            before.assign(rs.Limbs.Data(), rs.Limbs.Data() + rs.Limbs.Capacity());
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            changed += !std::equal(before.begin(), before.end(), rs.Limbs.Data());
        };
        ASSERT_EQ(Compute(rs, 20'000, hooks, engine), RunOutcome::Completed);
        EXPECT_GT(yields, 97 * 5);
        EXPECT_EQ(changed, 0) << threads << " threads";
        EXPECT_EQ(LimbsOf(rs), oracle::FactorialLimbs(20'000));
    }
}

// Settings out of range are refused and change nothing; the defaults are the
// kernel's factors per pass and one thread per core.
TEST(Engine, LoopSettingsInRangeOnly) {
    struct Row {
        int32_t factors;
        int threads;
        int32_t threshold, stride;
        bool accepted;
    };
    const Row rows[] = {
        {0, 0, 1, 1, true},
        {1, 1, 8'192, 1 << 18, true},
        {MaxFactorsPerPass, MaxThreads, 1, 1, true},
        {-1, 1, 1, 1, false},
        {MaxFactorsPerPass + 1, 1, 1, 1, false},
        {1, -1, 1, 1, false},
        {1, MaxThreads + 1, 1, 1, false},
        {1, 1, 0, 1, false},
        {1, 1, 1, 0, false},
    };
    for (const Row& r : rows) {
        Engine engine;
        const int cores =
            std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, MaxThreads);
        EXPECT_EQ(engine.FactorsPerPass(), DefaultFactorsPerPass(engine.Kernel()));
        EXPECT_EQ(engine.Threads(), cores);
        LoopSettings loop;
        loop.factorsPerPass = r.factors;
        loop.threads = r.threads;
        loop.parallelThreshold = r.threshold;
        loop.yieldStride = r.stride;
        const std::string where = std::to_string(r.factors) + " per pass, " +
                                  std::to_string(r.threads) + " threads, " +
                                  std::to_string(r.threshold) + ", " + std::to_string(r.stride);
        EXPECT_EQ(engine.SetLoop(loop), r.accepted) << where;
        const int32_t factors = r.accepted ? r.factors : 0;
        EXPECT_EQ(engine.Loop().factorsPerPass, factors) << where;
        EXPECT_EQ(engine.FactorsPerPass(),
                  factors > 0 ? factors : DefaultFactorsPerPass(engine.Kernel()))
            << where;
        EXPECT_EQ(engine.Threads(), r.accepted && r.threads > 0 ? r.threads : cores) << where;
    }
}

// A number just above a multiple of the multiplier, A = ceil(10^(7K) / M):
// A * M = 10^(7K) + e with e < M, so every limb from the multiplier's length
// up to K comes out 0 while no segment on its own gives 0s there. Each
// segment's carry has to ripple through the whole next segment, and on.
TEST(SegmentedPass, CarriesRippleAcrossWholeSegments) {
    mpz_t power, a, product;
    mpz_inits(power, a, product, nullptr);
    std::mt19937_64 rng(8);
    for (int threads = 2; threads <= 4; ++threads) {
        PassPool pool(threads);
        for (KernelKind kind : SupportedKinds()) {
            for (int32_t perPass : {1, 4, 18}) {
                const auto first = static_cast<int32_t>(1000 + rng() % 900'000);
                const FactorGroup g = GroupAt(first, 999'999, perPass);
                mpz_ui_pow_ui(power, Base, 700);
                SetNumber(a, MultiplierLimbs(g.product));
                mpz_cdiv_q(a, power, a);
                const std::vector<int32_t> limbs = LimbsOfNumber(a);
                SetNumber(product, MultiplierLimbs(g.product));
                mpz_mul(product, product, a);
                const std::vector<int32_t> want = LimbsOfNumber(product);

                const GroupedLoopConfig config{GroupKernelFor(kind), perPass, &pool,
                                               SplitAlways(threads, perPass, 300)};
                RunState rs;
                rs.Limbs.Create(1000);
                std::copy(limbs.begin(), limbs.end(), rs.Limbs.Data());
                rs.LimbCount = static_cast<int32_t>(limbs.size()) + 1;
                ASSERT_EQ(MultiplyGroupPass(rs, g.product, {}, config), PassOutcome::Completed);
                EXPECT_EQ(rs.LimbCount, static_cast<int32_t>(want.size()) + 1);
                EXPECT_EQ(rs.Carry, 0);
                EXPECT_EQ(std::vector<int32_t>(rs.Limbs.Data(), rs.Limbs.Data() + want.size()),
                          want)
                    << KernelName(kind) << ", " << threads << " threads, " << perPass;
            }
        }
    }
    mpz_clears(power, a, product, nullptr);
}

// Random numbers with runs of 9,999,999 on and around the segment borders,
// every length of pass from one vector to a few, cut into tiny segments.
TEST(SegmentedPass, RandomNumbersWithRunsOfNinesAtTheBorders) {
    std::mt19937_64 rng(99);
    mpz_t x, m;
    mpz_inits(x, m, nullptr);
    for (int threads = 1; threads <= 4; ++threads) {
        PassPool pool(threads);
        for (int round = 0; round < 150; ++round) {
            const auto length = static_cast<int32_t>(1 + rng() % 200);
            std::vector<int32_t> limbs(static_cast<std::size_t>(length));
            for (auto& l : limbs) l = static_cast<int32_t>(rng() % Base);
            for (int32_t border = 16; border < length; border += 16)
                for (int32_t k = border - 3; k < std::min(length, border + 5); ++k)
                    if (rng() % 2) limbs[static_cast<std::size_t>(k)] = Base - 1;
            limbs.back() = 1 + static_cast<int32_t>(rng() % (Base - 1));
            Multiplier mult;
            mult.count = static_cast<int32_t>(1 + rng() % MaxMultiplierLimbs);
            for (int32_t i = 0; i < mult.count; ++i)
                mult.limb[i] = static_cast<uint32_t>(round % 3 ? rng() % Base : Base - 1);
            if (mult.limb[mult.count - 1] == 0) mult.limb[mult.count - 1] = 1;

            SetNumber(x, limbs);
            SetNumber(m, MultiplierLimbs(mult));
            mpz_mul(x, x, m);
            const std::vector<int32_t> want = LimbsOfNumber(x);
            for (KernelKind kind : SupportedKinds()) {
                const int32_t stride = 1 + static_cast<int32_t>(rng() % 100);
                const GroupedLoopConfig config{GroupKernelFor(kind), MaxFactorsPerPass, &pool,
                                               SplitAlways(threads, MaxFactorsPerPass, stride)};
                RunState rs;
                rs.Limbs.Create(length + MaxMultiplierLimbs + 2);
                std::copy(limbs.begin(), limbs.end(), rs.Limbs.Data());
                rs.LimbCount = length + 1;
                ASSERT_EQ(MultiplyGroupPass(rs, mult, {}, config), PassOutcome::Completed);
                ASSERT_EQ(std::vector<int32_t>(rs.Limbs.Data(), rs.Limbs.Data() + want.size()),
                          want)
                    << KernelName(kind) << ", " << threads << " threads, round " << round;
                ASSERT_EQ(rs.LimbCount, static_cast<int32_t>(want.size()) + 1);
            }
        }
    }
    mpz_clears(x, m, nullptr);
}
