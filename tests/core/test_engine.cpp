// The engine: capacity rule, passes, stop semantics, and limbs against GMP.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <ctime>
#include <random>
#include <string>

#include "core/compute.h"
#include "core/gmp_oracle.h"
#include "engine/factorial_engine.h"
#include "engine/kernels.h"
#include "resulttext/result_text.h"

using namespace kaldrome;

namespace {

// Where limb k of a 1-based array sits in a vector.
std::size_t Index(int32_t k) {
    return static_cast<std::size_t>(k - 1);
}

std::vector<int32_t> LimbsOf(const RunState& rs) {
    std::vector<int32_t> v;
    for (int32_t k = 1; k <= rs.LimbCount; ++k) v.push_back(rs.Limbs(k));
    return v;
}

}  // namespace

TEST(ParseTarget, AcceptsOnlyWholeNumbersInRange) {
    struct Row {
        const char* text;
        std::optional<int32_t> want;
    };
    const Row rows[] = {
        {"0", 0},
        {"7", 7},
        {"007", 7},
        {"999999", 999999},
        {"000000", 0},
        {"", std::nullopt},
        {"-5", std::nullopt},
        {"+5", std::nullopt},
        {"1e3", std::nullopt},
        {"1.5", std::nullopt},
        {" 12", std::nullopt},
        {"12 ", std::nullopt},
        {"&H10", std::nullopt},
        {"1234567", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const Row& r : rows) {
        const Outcome<int32_t> got = ParseTarget(r.text);
        ASSERT_EQ(got.Ok(), r.want.has_value()) << '"' << r.text << '"';
        if (got.Ok())
            EXPECT_EQ(got.Value(), *r.want) << '"' << r.text << '"';
        else
            EXPECT_FALSE(got.Error().message.empty()) << '"' << r.text << '"';
    }
}

TEST(Capacity, FollowsTheThresholdRule) {
    const std::pair<int32_t, int32_t> rows[] = {
        {4, 2}, {5, 2}, {8000, 4000}, {8001, 8001}, {999999, 999999},
    };
    for (auto [n, c] : rows) EXPECT_EQ(CapacityFor(n), c) << n;
}

TEST(SeedLimbs, RefusesTargetsOutsideTheRange) {
    for (int32_t n : {-1, 0, 3, 1'000'000, INT32_MAX}) {
        RunState rs;
        rs.Target = n;
        const Outcome<void> seeded = SeedLimbs(rs);
        ASSERT_FALSE(seeded.Ok()) << n;
        EXPECT_NE(seeded.Error().message.find(std::to_string(n)), std::string::npos) << n;
        EXPECT_TRUE(rs.Limbs.Empty()) << n;
    }
}

TEST(Engine, RefusedTargetsLeaveTheLastResultAlone) {
    RunState rs;
    ASSERT_EQ(Compute(rs, 30), RunOutcome::Completed);
    const std::string display = rs.DisplayText;
    for (int32_t n : {-1, 1'000'000, INT32_MIN}) {
        StopRequested = true;
        const Outcome<RunOutcome> refused = RunFactorial(rs, Engine{}, n);
        ASSERT_FALSE(refused.Ok()) << n;
        EXPECT_FALSE(refused.Error().message.empty());
        EXPECT_EQ(rs.Target, 30);
        EXPECT_EQ(rs.DisplayText, display);
        EXPECT_TRUE(StopRequested) << "a refused run does not start";
    }
    StopRequested = false;
}

TEST(Engine, SmallResultsTouchNoLimbs) {
    RunState rs;
    Compute(rs, 20);
    const auto before = LimbsOf(rs);
    const int32_t limbCount = rs.LimbCount;
    for (int32_t n : {0, 1, 2, 3}) {
        EXPECT_EQ(Compute(rs, n), RunOutcome::SmallResult);
        EXPECT_EQ(rs.LimbCount, limbCount);
        EXPECT_EQ(LimbsOf(rs), before);
    }
}

TEST(Engine, EndStatesOfSmallRuns) {
    struct Row {
        int32_t n;
        int32_t capacity;
        std::vector<int32_t> limbs;
    };
    const Row rows[] = {
        {4, 2, {24}},
        {10, 5, {3628800}},
        {11, 5, {9916800, 3}},
        {30, 15, {0, 3630848, 1910586, 2859812, 26525}},
    };
    for (const Row& r : rows) {
        RunState rs;
        EXPECT_EQ(Compute(rs, r.n), RunOutcome::Completed);
        EXPECT_EQ(rs.Limbs.Capacity(), r.capacity) << r.n;
        EXPECT_EQ(LimbsOf(rs), r.limbs) << r.n;
        EXPECT_EQ(rs.Carry, 0);
    }
}

TEST(Engine, CapacityAtTheThreshold) {
    for (auto [n, c] : {std::pair{8000, 4000}, std::pair{8001, 8001}}) {
        RunState rs;
        Compute(rs, n);
        EXPECT_EQ(rs.Limbs.Capacity(), c);
        EXPECT_EQ(LimbsOf(rs), oracle::FactorialLimbs(static_cast<unsigned long>(n)));
    }
}

TEST(Engine, FirstPassEndsOnIndexTwo) {
    RunState rs;
    rs.Target = 4;
    ASSERT_TRUE(SeedLimbs(rs).Ok());
    EXPECT_EQ(Engine{}.MultiplyPass(rs, 1, {}), PassOutcome::Completed);
    EXPECT_EQ(rs.LimbCount, 2);
    EXPECT_EQ(rs.Limbs(1), 1);
    EXPECT_EQ(rs.Carry, 0);
}

// Every path and thread count against GMP: a spread of N with every
// threshold of the loops and of the tree path's cuts, and a seeded random
// sample across the whole range (the loops, and the tree in small cuts, take
// the part of it they finish in seconds).
TEST(Engine, MatchesGmpOnEveryPathAcrossTheRange) {
    std::vector<int32_t> spread = {5,    13,   29,   31,   97,    100,   255,   1000,  1234,
                                   3000, 4097, 7997, 9999, 10000, 10001, 12345, 16385, 20000};
    const bool large = std::getenv("KALDROME_SKIP_LARGE") == nullptr;
    const unsigned seed = static_cast<unsigned>(std::time(nullptr));
    std::mt19937 random(seed);
    // Log-uniform: as many below 1,000 as from 100,000 up.
    std::uniform_real_distribution<double> exponent(std::log(4.0),
                                                    std::log(large ? 999'999.0 : 120'000.0));
    std::vector<int32_t> sample;
    for (int i = 0; i < 12; ++i) sample.push_back(static_cast<int32_t>(std::exp(exponent(random))));
    if (large) sample.push_back(999'999);
    for (const EnginePath& path : EveryPath()) {
        const bool quick = std::string(path.name).starts_with("tree, ");
        std::vector<int32_t> all = spread;
        for (int32_t n : sample)
            if (quick || n <= 30'000) all.push_back(n);
        for (int32_t n : all) {
            RunState rs;
            ASSERT_EQ(Compute(rs, n, {}, path.engine), RunOutcome::Completed);
            const auto want = oracle::FactorialLimbs(static_cast<unsigned long>(n));
            ASSERT_EQ(LimbsOf(rs), want) << path.name << ", N " << n << " (seed " << seed << ")";
            EXPECT_EQ(rs.DigitCount,
                      static_cast<int32_t>(
                          oracle::FactorialDigits(static_cast<unsigned long>(n)).size()));
            // The array never needs an index past the capacity rule.
            EXPECT_LE(rs.LimbCount + 1, rs.Limbs.Capacity()) << n;
        }
    }
}

// The tree path stops at the yield that sees the request, whatever its
// helpers are doing, with nothing of the run in the record: the limbs stay as
// seeded and the texts empty. Its progress only grows, and ends at 1.
TEST(TreePath, StopsAtTheYieldThatSeesItAndReportsProgressThatOnlyGrows) {
    for (int threads : {1, 2}) {
        Engine engine;
        LoopSettings loop;
        loop.threads = threads;
        ASSERT_TRUE(engine.SetLoop(loop));
        // 400,000! takes a few tenths of a second: some dozens of slices.
        for (int stopAt : {1, 3, 6, 0}) {  // 0: no stop
            RunState rs;
            int yields = 0;
            std::vector<double> done;
            RunHooks hooks;
            hooks.workDone = [&](double share) { done.push_back(share); };
            hooks.yield = [&] {
                if (++yields == stopAt) StopRequested = true;
            };
            const std::string where =
                std::to_string(threads) + " threads, stop at yield " + std::to_string(stopAt);
            const RunOutcome outcome = Compute(rs, 400'000, hooks, engine);
            ASSERT_FALSE(done.empty()) << where;
            EXPECT_TRUE(std::is_sorted(done.begin(), done.end())) << where;
            if (stopAt == 0) {
                EXPECT_EQ(outcome, RunOutcome::Completed) << where;
                EXPECT_EQ(done.back(), 1.0) << where;
                EXPECT_EQ(LimbsOf(rs), oracle::FactorialLimbs(400'000)) << where;
                continue;
            }
            ASSERT_EQ(outcome, RunOutcome::Stopped) << where;
            EXPECT_EQ(yields, stopAt) << where;
            EXPECT_LT(done.back(), 1.0) << where;
            EXPECT_EQ(rs.LimbCount, 1) << where;
            EXPECT_EQ(rs.Limbs(1), 1) << where;
            EXPECT_TRUE(rs.DisplayText.empty()) << where;
            // The next run starts afresh, while the stopped one's last jobs
            // may still be finishing.
            ASSERT_EQ(Compute(rs, 2'000, {}, engine), RunOutcome::Completed);
            EXPECT_EQ(LimbsOf(rs), oracle::FactorialLimbs(2'000)) << where;
        }
    }
}

// Stop in a given yield of the pass of a given factor.
struct StopAt {
    int32_t factor;
    int32_t yieldCount;  // which yield of that pass sets the flag (1 = the pass's first)
};

// The factor-by-factor loop's stop; the grouped loop's is in test_grouped_loop.
TEST(Engine, StopLeavesTheStoppedStateAndTheNextRunStartsAfresh) {
    // From about 28,000 on a pass spans more than one yield stride.
    const int32_t n = 31'000;
    const Engine plain = FactorByFactor();
    const StopAt cases[] = {{50, 1}, {30'000, 1}, {30'000, 2}};
    for (const StopAt& c : cases) {
        RunState rs;
        int yieldsInPass = 0;
        int32_t passFactor = 0;
        RunHooks hooks;
        hooks.beforeFactor = [&] {
            passFactor = rs.Multiplier;
            yieldsInPass = 0;
        };
        hooks.yield = [&] {
            ++yieldsInPass;
            if (passFactor == c.factor && yieldsInPass == c.yieldCount) StopRequested = true;
        };
        ASSERT_EQ(Compute(rs, n, hooks, plain), RunOutcome::Stopped);
        EXPECT_EQ(rs.Multiplier, c.factor);
        // The limb step the yield belonged to ran; the stop was seen after it.
        EXPECT_EQ(rs.LimbCount, (c.yieldCount - 1) * YieldStride + 2);
        EXPECT_TRUE(rs.DisplayText.empty());
        EXPECT_TRUE(rs.PlainText.empty());
        EXPECT_FALSE(rs.PlainTextReady);
        EXPECT_TRUE(StopRequested);

        // Limbs below LimbCount carry the current factor, the ones above do not yet.
        RunState ref;
        Compute(ref, c.factor - 1);
        const auto prev = LimbsOf(ref);
        uint64_t carry = 0;
        for (int32_t k = 1; k < rs.LimbCount; ++k) {
            const uint64_t p =
                static_cast<uint64_t>(k <= static_cast<int32_t>(prev.size()) ? prev[Index(k)] : 0) *
                    static_cast<uint64_t>(c.factor) +
                carry;
            carry = p / LimbBase;
            ASSERT_EQ(rs.Limbs(k), static_cast<int32_t>(p % LimbBase)) << k;
        }
        EXPECT_EQ(static_cast<uint64_t>(rs.Carry), carry);
        for (int32_t k = rs.LimbCount; k <= static_cast<int32_t>(prev.size()); ++k)
            ASSERT_EQ(rs.Limbs(k), prev[Index(k)]) << k;

        // The next run starts from Limbs(1) = 1 and is exact.
        ASSERT_EQ(Compute(rs, 500), RunOutcome::Completed);
        EXPECT_FALSE(StopRequested);
        EXPECT_EQ(LimbsOf(rs), oracle::FactorialLimbs(500));
    }
}

TEST(Engine, StopIsPolledOnlyAfterStepsThatDoNotEndThePass) {
    RunHooks stopNow;
    stopNow.yield = [] { StopRequested = true; };

    // A pass whose first step ends it (the number 0, LimbCount 1): the request is not seen.
    RunState a;
    a.Target = 4;
    ASSERT_TRUE(SeedLimbs(a).Ok());
    a.Limbs(1) = 0;
    StopRequested = false;
    EXPECT_EQ(Engine{}.MultiplyPass(a, 7, stopNow), PassOutcome::Completed);
    EXPECT_EQ(a.LimbCount, 1);

    // A first step that does not end the pass: seen right after it.
    RunState b;
    b.Target = 4;
    ASSERT_TRUE(SeedLimbs(b).Ok());
    StopRequested = false;
    ASSERT_EQ(Engine{}.MultiplyPass(b, 1, {}), PassOutcome::Completed);
    EXPECT_EQ(b.LimbCount, 2);
    EXPECT_EQ(Engine{}.MultiplyPass(b, 2, stopNow), PassOutcome::Stopped);
    EXPECT_EQ(b.LimbCount, 2);
    EXPECT_EQ(b.Limbs(1), 2);

    // In a whole run: Stop in the first yield of the last pass of 10! is seen.
    RunState c;
    int32_t factor = 0;
    RunHooks hooks;
    hooks.beforeFactor = [&] { factor = c.Multiplier; };
    hooks.yield = [&] {
        if (factor == 10) StopRequested = true;
    };
    EXPECT_EQ(Compute(c, 10, hooks, FactorByFactor()), RunOutcome::Stopped);
    EXPECT_EQ(c.Multiplier, 10);
    EXPECT_EQ(c.LimbCount, 2);
    StopRequested = false;
}

TEST(Engine, YieldsAtEveryPassAndEveryStride) {
    RunState rs;
    uint64_t yields = 0;
    int32_t passes = 0;
    RunHooks hooks;
    hooks.beforeFactor = [&] { ++passes; };
    hooks.yield = [&] { ++yields; };
    Compute(rs, 3000, hooks, FactorByFactor());
    EXPECT_EQ(passes, 3000);
    EXPECT_EQ(yields, 3000u);  // every pass is shorter than one stride
}

TEST(Engine, LimbCountAndDigitsOfTheLargestN) {
    if (std::getenv("KALDROME_SKIP_LARGE")) GTEST_SKIP() << "KALDROME_SKIP_LARGE set";
    RunState rs;
    ASSERT_EQ(Compute(rs, 999'999), RunOutcome::Completed);
    EXPECT_EQ(rs.Limbs.Capacity(), 999'999);
    EXPECT_EQ(rs.LimbCount, 795'101);
    EXPECT_EQ(rs.DigitCount, 5'565'703);
    EXPECT_EQ(rs.DisplayText.size(), 7'473'949u);
    BuildPlainText(rs);
    EXPECT_EQ(rs.PlainText.size(), 7'354'683u);
    EXPECT_EQ(LimbsOf(rs), oracle::FactorialLimbs(999'999));
}

TEST(EngineDeathTest, BrokenPreconditionsStopTheProgram) {
#if !KALDROME_ASSERTS
    GTEST_SKIP() << "assertions are compiled out of this build";
#else
    // Each starts from a seeded array for 4! (capacity 2).
    const struct {
        const char* what;
        void (*act)(RunState&);
    } rows[] = {
        {"a pass with factor 0", [](RunState& rs) { Engine{}.MultiplyPass(rs, 0, {}); }},
        {"a pass with a factor past 999,999",
         [](RunState& rs) { Engine{}.MultiplyPass(rs, 1'000'000, {}); }},
        {"a pass on an array never seeded",
         [](RunState& rs) {
             rs.Limbs = Limbs{};
             Engine{}.MultiplyPass(rs, 2, {});
         }},
        {"a pass that would run past the capacity",
         [](RunState& rs) {
             rs.Limbs(1) = LimbBase - 1;
             rs.Limbs(2) = LimbBase - 1;
             rs.LimbCount = 2;
             Engine{}.MultiplyPass(rs, 999'999, {});
         }},
        {"limb index 0", [](RunState& rs) { rs.Limbs(0) = 1; }},
        {"a limb index past the capacity", [](RunState& rs) { rs.Limbs(3) = 1; }},
    };
    for (const auto& r : rows) {
        RunState rs;
        rs.Target = 4;
        ASSERT_TRUE(SeedLimbs(rs).Ok());
        EXPECT_DEATH(r.act(rs), "assertion failed") << r.what;
    }
#endif
}
