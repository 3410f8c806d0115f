// Progress arithmetic: the clock split and text, the estimate and its cadence,
// the percent and its text, all in single precision.
#include <gtest/gtest.h>
#include <algorithm>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "base/number_format.h"
#include "engine/progress.h"

using namespace kaldrome;

namespace {

constexpr int32_t MaxHours = std::numeric_limits<int32_t>::max();

const NumberSeparators English{",", "."};

RunState RunOf(int32_t target, int32_t factor) {
    RunState rs;
    rs.Target = target;
    rs.Multiplier = factor;
    return rs;
}

}  // namespace

TEST(Progress, SplitClockRoundsInSinglePrecision) {
    struct Row {
        const char* name;
        float t;
        int32_t h, m, s;
    };
    const Row rows[] = {
        {"zero", 0.0f, 0, 0, 0},
        {"one hour two minutes five", 3725.0f, 1, 2, 5},
        {"59.6 s keeps its 60 seconds", 59.6f, 0, 0, 60},
        {"59.5 s rounds to the even 60", 59.5f, 0, 0, 60},
        {"half a second rounds to even 0", 0.5f, 0, 0, 0},
        {"1.5 s rounds to even 2", 1.5f, 0, 0, 2},
        {"2.5 s rounds to even 2", 2.5f, 0, 0, 2},
        {"89.5 s rounds to even 30", 89.5f, 0, 1, 30},
        {"an hour exactly", 3600.0f, 1, 0, 0},
        // Single precision loses the exact minute: 3,660 s is 1:00:60, not 1:01:00.
        {"3,660 s reads one hour and 60 seconds", 3660.0f, 1, 0, 60},
        {"3,720 s reads 1:01:60", 3720.0f, 1, 1, 60},
        {"four million seconds", 4000000.0f, 1111, 6, 40},
        {"a day less a second", 86399.0f, 23, 59, 59},
    };
    for (const Row& r : rows) {
        const ClockParts c = SplitClock(r.t);
        EXPECT_EQ(c.hours, r.h) << r.name;
        EXPECT_EQ(c.minutes, r.m) << r.name;
        EXPECT_EQ(c.seconds, r.s) << r.name;
    }
}

TEST(Progress, SplitClockKeepsTheSingleIntermediates) {
    // The minutes real of 3,725 s in singles is 2.08333254, not 2.0833333 (doubles).
    const ClockParts c = SplitClock(3725.0f);
    EXPECT_EQ(c.hoursReal, 1.03472221f);
    EXPECT_EQ(c.minutesReal, 2.08333254f);
    EXPECT_NE(static_cast<double>(c.minutesReal), (3725.0 / 3600.0 - 1.0) * 60.0);
}

TEST(Progress, SplitClockComponentsStayInRangeAndAddUp) {
    std::mt19937 gen(12345);
    std::uniform_real_distribution<float> small(0.0f, 200000.0f);
    std::uniform_real_distribution<float> large(0.0f, 7.7e12f);
    std::vector<float> times;
    for (int k = 0; k < 20000; ++k) times.push_back(small(gen));
    for (int k = 0; k < 20000; ++k) times.push_back(large(gen));
    for (int k = 0; k < 100000; ++k) times.push_back(static_cast<float>(k) / 10.0f);
    for (float t : times) {
        const ClockParts c = SplitClock(t);
        ASSERT_GE(c.hours, 0) << t;
        ASSERT_GE(c.minutes, 0) << t;
        ASSERT_LE(c.minutes, 59) << t;
        ASSERT_GE(c.seconds, 0) << t;
        ASSERT_LE(c.seconds, 60) << t;
        const double total = c.hours * 3600.0 + c.minutes * 60.0 + c.seconds;
        // Singles carry 24 bits: the clock may be off by the spacing of the hours
        // value times 3,600 and half a second of rounding.
        const double tolerance =
            0.5 + 3600.0 * std::ldexp(1.0, std::ilogb(std::max(t / 3600.0f, 1.0f)) - 23) * 2;
        ASSERT_NEAR(total, t, tolerance) << t;
    }
}

TEST(Progress, SplitClockGuardsHoursBeyondThe32BitRange) {
    const float largestInRange = 7.73094061e12f;  // its hours are 2,147,483,520
    struct Row {
        const char* name;
        float t;
        int32_t h, m, s;
    };
    const Row rows[] = {
        {"largest time with hours in range", largestInRange, 2147483520, 0, 0},
        {"next single up", std::nextafter(largestInRange, 1e30f), MaxHours, 59, 59},
        {"1e20 s", 1e20f, MaxHours, 59, 59},
        {"largest single", std::numeric_limits<float>::max(), MaxHours, 59, 59},
        {"infinity", std::numeric_limits<float>::infinity(), MaxHours, 59, 59},
        {"NaN", std::numeric_limits<float>::quiet_NaN(), 0, 0, 0},
        {"negative", -5.0f, 0, 0, 0},
    };
    for (const Row& r : rows) {
        const ClockParts c = SplitClock(r.t);
        EXPECT_EQ(c.hours, r.h) << r.name;
        EXPECT_EQ(c.minutes, r.m) << r.name;
        EXPECT_EQ(c.seconds, r.s) << r.name;
    }
}

TEST(Progress, FormatClockUsesTheNumberPatterns) {
    struct Row {
        const char* name;
        const char* group;
        const char* decimal;
        int32_t h, m, s;
        const char* want;
    };
    const Row rows[] = {
        {"zero", ",", ".", 0, 0, 0, "00: 00: 00"},
        {"leading zeros", ",", ".", 1, 2, 5, "01: 02: 05"},
        {"sixty seconds", ",", ".", 0, 0, 60, "00: 00: 60"},
        {"three-digit hours", ",", ".", 999, 59, 59, "999: 59: 59"},
        {"comma grouping", ",", ".", 1111, 6, 40, "1,111: 06: 40"},
        {"dot grouping", ".", ",", 1111, 6, 40, "1.111: 06: 40"},
        {"non-breaking space grouping", "\u00a0", ",", 1234567, 0, 1,
         "1\u00a0234\u00a0567: 00: 01"},
        {"largest hours", ",", ".", MaxHours, 59, 59, "2,147,483,647: 59: 59"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(FormatClock(r.h, r.m, r.s, NumberSeparators{r.group, r.decimal}), r.want)
            << r.name;
    }
}

TEST(Progress, RenewElapsedSplitsIntoTheElapsedFields) {
    struct Row {
        const char* name;
        float elapsed;
        float seconds;
        int32_t h, m, s;
    };
    const Row rows[] = {
        {"zero", 0.0f, 0.0f, 0, 0, 0},
        {"3,725 s", 3725.0f, 3725.0f, 1, 2, 5},
        {"59.6 s", 59.6f, 59.6f, 0, 0, 60},
        {"a negative difference counts by its size", -3725.0f, 3725.0f, 1, 2, 5},
    };
    for (const Row& r : rows) {
        RunState rs = RunOf(100, 10);
        RenewElapsed(rs, r.elapsed);
        EXPECT_EQ(rs.ElapsedSeconds, r.seconds) << r.name;
        EXPECT_EQ(rs.ElapsedHoursReal, SplitClock(r.seconds).hoursReal) << r.name;
        EXPECT_EQ(rs.ElapsedMinutesReal, SplitClock(r.seconds).minutesReal) << r.name;
        EXPECT_EQ(rs.ElapsedH, r.h) << r.name;
        EXPECT_EQ(rs.ElapsedM, r.m) << r.name;
        EXPECT_EQ(rs.ElapsedS, r.s) << r.name;
        // The estimate fields belong to another step.
        EXPECT_EQ(rs.EstimatedSeconds, 0.0f) << r.name;
        EXPECT_EQ(rs.EstimatedM, 0) << r.name;
    }
}

TEST(Progress, RenewEstimateScalesBySquaresInSingles) {
    struct Row {
        const char* name;
        int32_t n, i;
        float elapsed;
        float seconds;
        int32_t h, m, s;
    };
    const Row rows[] = {
        {"no time elapsed", 999999, 4, 0.0f, 0.0f, 0, 0, 0},
        {"halfway doubles squared", 100, 50, 10.0f, 40.0f, 0, 0, 40},
        {"factor N estimates the elapsed time", 7, 7, 3725.0f, 3725.0f, 1, 2, 5},
        // In doubles these read 47 s and 13,794:37:47.
        {"single rounding gives 47.5 s", 1000, 200, 1.9f, 47.5f, 0, 0, 48},
        {"single rounding of a long estimate", 46341, 4, 0.37f, 49660668.0f, 13794, 37, 48},
        // i * i = 2,147,488,281 would overflow 32-bit integers.
        {"factor 46,341 squared", 92682, 46341, 1.0f, 4.0f, 0, 0, 4},
        // 60 s at the last factor of 999,999 comes back as 59.9999962 s.
        {"largest factors", 999999, 999999, 60.0f, 59.9999962f, 0, 0, 60},
    };
    for (const Row& r : rows) {
        RunState rs = RunOf(r.n, r.i);
        rs.ElapsedSeconds = r.elapsed;
        RenewEstimate(rs);
        EXPECT_EQ(rs.EstimatedSeconds, r.seconds) << r.name;
        EXPECT_EQ(rs.EstimatedH, r.h) << r.name;
        EXPECT_EQ(rs.EstimatedM, r.m) << r.name;
        EXPECT_EQ(rs.EstimatedS, r.s) << r.name;
        EXPECT_EQ(rs.EstimatedHoursReal, SplitClock(r.seconds).hoursReal) << r.name;
        EXPECT_EQ(rs.EstimatedMinutesReal, SplitClock(r.seconds).minutesReal) << r.name;
    }
}

TEST(Progress, EstimateBeyondTheHoursRangeReadsAsVeryLong) {
    // N = 999,999 at factor 4: the hours pass 2^31 once about 124 s have elapsed.
    struct Row {
        const char* name;
        float elapsed;
        bool clamped;
    };
    const Row rows[] = {
        {"123 s stays in range", 123.0f, false},
        {"124 s passes the range", 124.0f, true},
        {"a day's pause", 86400.0f, true},
        {"a huge elapsed value overflowing the single", 3e30f, true},
    };
    for (const Row& r : rows) {
        RunState rs = RunOf(999999, 4);
        rs.ElapsedSeconds = r.elapsed;
        RenewEstimate(rs);
        const std::string text = FormatClock(rs.EstimatedH, rs.EstimatedM, rs.EstimatedS, English);
        EXPECT_GT(rs.EstimatedH, 2000000000) << r.name;
        if (r.clamped) {
            EXPECT_EQ(rs.EstimatedH, MaxHours) << r.name;
            EXPECT_EQ(text, "2,147,483,647: 59: 59") << r.name;
        } else {
            EXPECT_LT(rs.EstimatedH, MaxHours) << r.name;
            EXPECT_LE(rs.EstimatedM, 59) << r.name;
            EXPECT_LE(rs.EstimatedS, 60) << r.name;
        }
    }
}

TEST(Progress, EstimateDueFollowsTheMinutesOfTheLastEstimate) {
    struct Row {
        const char* name;
        int32_t minutes, i;
        bool due;
    };
    const Row rows[] = {
        {"factor 1", 0, 1, false},
        {"factor 3", 0, 3, false},
        {"first estimate at factor 4", 0, 4, true},
        {"factor 5", 0, 5, false},
        {"one minute keeps the short period", 1, 8, true},
        {"two minutes leave it", 2, 8, false},
        {"59 minutes leave it", 59, 12, false},
        {"long period at 178", 2, 178, true},
        {"long period at 356", 59, 356, true},
        {"not at 180 with long estimates", 2, 180, false},
        {"178 is due with short estimates too", 0, 178, true},
        {"short estimate at 180", 1, 180, true},
    };
    for (const Row& r : rows) {
        RunState rs = RunOf(1000, r.i);
        rs.EstimatedM = r.minutes;
        EXPECT_EQ(EstimateDue(rs), r.due) << r.name;
    }
}

TEST(Progress, EstimateCadenceOverARun) {
    // A run of N = 1,000 whose elapsed time is chosen so that each estimate
    // gives a wanted total: the cadence must follow the estimate's minutes
    // (not its hours) and switch back to the short period at a multiple of 178.
    struct Row {
        const char* name;
        float estimate;  // seconds every estimate of this run should give
        int32_t last;    // factors to run
        std::vector<int32_t> due;
    };
    const Row rows[] = {
        {"short estimates: every 4th factor", 30.0f, 20, {4, 8, 12, 16, 20}},
        {"one minute 30: every 4th factor", 90.0f, 12, {4, 8, 12}},
        {"two hours one minute: every 4th factor", 7260.0f, 12, {4, 8, 12}},
        {"two minutes: then only multiples of 178", 150.0f, 540, {4, 178, 356, 534}},
        {"an hour and five minutes", 3900.0f, 360, {4, 178, 356}},
    };
    for (const Row& r : rows) {
        RunState rs = RunOf(1000, 0);
        std::vector<int32_t> seen;
        for (int32_t i = 1; i <= r.last; ++i) {
            rs.Multiplier = i;
            // elapsed so that (N * e * N) / (i * i) is about the wanted estimate
            RenewElapsed(rs, r.estimate * static_cast<float>(i) * static_cast<float>(i) / 1e6f);
            if (EstimateDue(rs)) {
                RenewEstimate(rs);
                seen.push_back(i);
            }
        }
        EXPECT_EQ(seen, r.due) << r.name;
    }

    // Switching back: long estimates until factor 178 gives a short one.
    RunState rs = RunOf(1000, 0);
    std::vector<int32_t> seen;
    for (int32_t i = 1; i <= 200; ++i) {
        rs.Multiplier = i;
        const float wanted = i < 178 ? 600.0f : 20.0f;
        RenewElapsed(rs, wanted * static_cast<float>(i) * static_cast<float>(i) / 1e6f);
        if (EstimateDue(rs)) {
            RenewEstimate(rs);
            seen.push_back(i);
        }
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{4, 178, 180, 184, 188, 192, 196, 200}));
}

TEST(Progress, PercentAndItsText) {
    struct Row {
        const char* name;
        int32_t n, i;
        float percent;
        const char* want;
    };
    const Row rows[] = {
        {"N 1,000 factor 1 has no leading zero", 1000, 1, 0.1f, ".10%"},
        {"N 7 factor 3", 7, 3, 42.8571434f, "42.86%"},
        {"N 7 factor 7", 7, 7, 100.0f, "100.00%"},
        {"N 999,999 factor 1", 999999, 1, 1.00000099e-4f, ".00%"},
        {"N 999,999 factor 10,000", 999999, 10000, 1.00000095f, "1.00%"},
        // 99,999,900 is not a single: it rounds to 99,999,904, one step above 100 %.
        {"N 999,999 factor N", 999999, 999999, std::nextafter(100.0f, 200.0f), "100.00%"},
        {"N 999,998 factor N", 999998, 999998, 100.0f, "100.00%"},
        {"N 3 factor 1", 3, 1, 33.3333321f, "33.33%"},
    };
    for (const Row& r : rows) {
        RunState rs = RunOf(r.n, r.i);
        RenewPercent(rs);
        EXPECT_EQ(rs.Percent, r.percent) << r.name;
        EXPECT_EQ(PercentText(rs.Percent, English), r.want) << r.name;
    }
}

TEST(Progress, PercentTextUsesTheDecimalSeparator) {
    const NumberSeparators german{".", ","};
    EXPECT_EQ(PercentText(42.857143f, german), "42,86%");
    EXPECT_EQ(PercentText(0.1f, german), ",10%");
    EXPECT_EQ(PercentText(100.0f, german), "100,00%");
}
