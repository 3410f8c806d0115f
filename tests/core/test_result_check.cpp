// The check of a finished result: its residues and digit count against GMP and
// the summed logarithms, and the damage it must catch before a result is shown.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/gmp_oracle.h"
#include "engine/factorial_engine.h"
#include "engine/result_check.h"
#include "engine/run_sequence.h"
#include "resulttext/result_text.h"

using namespace kaldrome;

namespace {

// The number of base-10^7 limbs (least significant first) as GMP sees it.
unsigned long GmpResidue(const std::vector<int32_t>& limbs, uint32_t p) {
    mpz_t v;
    mpz_init(v);
    for (auto it = limbs.rbegin(); it != limbs.rend(); ++it) {
        mpz_mul_ui(v, v, static_cast<unsigned long>(LimbBase));
        mpz_add_ui(v, v, static_cast<unsigned long>(*it));
    }
    const unsigned long r = mpz_fdiv_ui(v, p);
    mpz_clear(v);
    return r;
}

unsigned long GmpFactorialResidue(unsigned long n, uint32_t p) {
    mpz_t f;
    mpz_init(f);
    mpz_fac_ui(f, n);
    const unsigned long r = mpz_fdiv_ui(f, p);
    mpz_clear(f);
    return r;
}

}  // namespace

TEST(ResultCheck, FactorialResiduesMatchGmp) {
    for (int32_t n : {0, 1, 2, 3, 4, 7, 8, 9, 10, 12, 25, 30, 41, 50, 1000, 8001, 65537, 99999}) {
        const std::array<uint32_t, 2> got = FactorialResidues(n);
        for (std::size_t i = 0; i < CheckPrimes.size(); ++i)
            EXPECT_EQ(got[i], GmpFactorialResidue(static_cast<unsigned long>(n), CheckPrimes[i]))
                << n << "! modulo " << CheckPrimes[i];
    }
}

TEST(ResultCheck, LimbResiduesMatchGmp) {
    // Short numbers (fewer limbs than the check has stretches), then limbs of
    // every size up to the largest, including 0 and 9,999,999 everywhere.
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int32_t>(seed % static_cast<uint32_t>(LimbBase));
    };
    std::vector<std::vector<int32_t>> numbers = {
        {0}, {1}, {9'999'999}, {5, 7}, {1, 2, 3}, {9'999'999, 9'999'999, 9'999'999, 9'999'999}};
    for (int32_t count : {5, 6, 7, 8, 9, 13, 1000, 4097}) {
        std::vector<int32_t> v;
        for (int32_t k = 0; k < count; ++k) v.push_back(k % 7 == 3 ? 0 : next());
        v.back() = v.back() == 0 ? 1 : v.back();
        numbers.push_back(v);
    }
    for (int32_t n : {4, 12, 30, 1000, 8001})
        numbers.push_back(oracle::FactorialLimbs(static_cast<unsigned long>(n)));
    for (const std::vector<int32_t>& limbs : numbers) {
        const std::array<uint32_t, 2> got =
            LimbResidues(limbs.data(), static_cast<int32_t>(limbs.size()));
        for (std::size_t i = 0; i < CheckPrimes.size(); ++i)
            EXPECT_EQ(got[i], GmpResidue(limbs, CheckPrimes[i]))
                << limbs.size() << " limbs, top " << limbs.back() << ", modulo " << CheckPrimes[i];
    }
}

TEST(ResultCheck, DigitCountFollowsTheLogarithmSum) {
    // Against the summed logarithms for every N the program takes (compensated
    // summation in extended precision)...
    long double sum = 0, lost = 0;
    int32_t wrong = 0, firstWrong = -1;
    for (int32_t n = 1; n <= MaxTarget; ++n) {
        const long double term = std::log10(static_cast<long double>(n)) - lost;
        const long double total = sum + term;
        lost = (total - sum) - term;
        sum = total;
        const auto expected = static_cast<int32_t>(std::floor(sum)) + 1;
        if (FactorialDigitCount(n) != expected && wrong++ == 0) firstWrong = n;
    }
    EXPECT_EQ(wrong, 0) << "first at " << firstWrong;
    // ...and against the digits themselves.
    for (int32_t n : {0, 1, 2, 3, 4, 10, 12, 25, 1000, 8001, 25000})
        EXPECT_EQ(
            FactorialDigitCount(n),
            static_cast<int32_t>(oracle::FactorialDigits(static_cast<unsigned long>(n)).size()))
            << n;
}

TEST(ResultCheck, PassesEveryCompletedRun) {
    const Engine engine;
    for (int32_t n : {4, 5, 10, 11, 12, 25, 30, 41, 50, 1000, 8000, 8001, 20000}) {
        RunState rs;
        const Outcome<RunOutcome> outcome = RunFactorial(rs, engine, n);
        ASSERT_TRUE(outcome.Ok()) << n << ": " << outcome.Error().message;
        EXPECT_EQ(outcome.Value(), RunOutcome::Completed) << n;
        EXPECT_TRUE(CheckResult(rs).Ok()) << n;
        EXPECT_FALSE(rs.DisplayText.empty()) << n;
    }
}

TEST(ResultCheck, CatchesDamageBeforeTheResultIsShown) {
    // Each row damages the finished limbs the way a faulty kernel or memory
    // could, right after the factor loop and before the check. (The lowest
    // 285 limbs of 8001! are 0: the damage goes where the digits are.)
    constexpr int32_t N = 8001;
    using Damage = std::function<void(RunState&)>;
    const std::pair<const char*, Damage> rows[] = {
        {"lowest limb off by one", [](RunState& rs) { rs.Limbs(1) += 1; }},
        {"one bit of a middle limb", [](RunState& rs) { rs.Limbs(rs.LimbCount / 2) ^= 1 << 10; }},
        {"top limb off by one",
         [](RunState& rs) { rs.Limbs(rs.LimbCount) += rs.Limbs(rs.LimbCount) > 1 ? -1 : 1; }},
        {"two limbs swapped",
         [](RunState& rs) { std::swap(rs.Limbs(rs.LimbCount - 2), rs.Limbs(rs.LimbCount - 3)); }},
        {"a carry left standing in a limb (same value)",
         [](RunState& rs) {
             rs.Limbs(rs.LimbCount - 20) += LimbBase;
             rs.Limbs(rs.LimbCount - 19) -= 1;
         }},
        {"a limb below zero (same value)",
         [](RunState& rs) {
             rs.Limbs(rs.LimbCount - 30) -= LimbBase;
             rs.Limbs(rs.LimbCount - 29) += 1;
         }},
        {"a zero limb counted on top", [](RunState& rs) { rs.LimbCount += 1; }},
        {"the top limb lost", [](RunState& rs) { rs.LimbCount -= 1; }},
    };
    const Engine engine;
    for (const auto& [what, damage] : rows) {
        RunState rs;
        RunHooks hooks;
        hooks.loopEnded = [&rs, damage = damage] { damage(rs); };
        const Outcome<RunOutcome> outcome = RunFactorial(rs, engine, N, hooks);
        ASSERT_FALSE(outcome.Ok()) << what;
        EXPECT_NE(outcome.Error().message.find("8001!"), std::string::npos)
            << what << ": " << outcome.Error().message;
        // Nothing of the damaged result can be shown or exported.
        EXPECT_TRUE(rs.DisplayText.empty()) << what;
        EXPECT_FALSE(rs.PlainTextReady) << what;
    }
}
