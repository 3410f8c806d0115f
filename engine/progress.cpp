#include "engine/progress.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kaldrome {

namespace {

constexpr float SecondsPerHour = 3600.0f;
constexpr float SixtyF = 60.0f;
constexpr int32_t ShortEstimatePeriod = 4;
constexpr int32_t LongEstimatePeriod = 178;
constexpr int32_t ShortPeriodMinutesLimit = 1;

// 2^31 is exactly representable as a float; every float below it converts to
// int32_t safely once floored.
constexpr float HoursLimit = 2147483648.0f;

// Rounds half to even whatever the current rounding mode is.
float RoundHalfEven(float x) {
    const float down = std::floor(x);
    const float diff = x - down;
    if (diff > 0.5f) return down + 1.0f;
    if (diff < 0.5f) return down;
    return std::fmod(down, 2.0f) == 0.0f ? down : down + 1.0f;
}

// Copies a split clock into the RunState fields of one of the two clocks.
void StoreClock(const ClockParts& c, float& hoursReal, int32_t& hours, float& minutesReal,
                int32_t& minutes, int32_t& seconds) {
    hoursReal = c.hoursReal;
    hours = c.hours;
    minutesReal = c.minutesReal;
    minutes = c.minutes;
    seconds = c.seconds;
}

}  // namespace

ClockParts SplitClock(float t) {
    ClockParts c;
    // NaN or a negative time cannot come from the monotonic clock; show them as 0.
    if (!(t > 0.0f)) return c;
    c.hoursReal = t / SecondsPerHour;
    if (!(c.hoursReal < HoursLimit)) {
        // Beyond the 32-bit hours (also +inf): the largest clock, which reads as
        // "very long", instead of an undefined conversion.
        c.hours = std::numeric_limits<int32_t>::max();
        c.minutes = 59;
        c.seconds = 59;
        c.minutesReal = 59.0f + 59.0f / SixtyF;
        return c;
    }
    const float hours = std::floor(c.hoursReal);
    c.hours = static_cast<int32_t>(hours);
    c.minutesReal = (c.hoursReal - hours) * SixtyF;
    const float minutes = std::floor(c.minutesReal);
    c.minutes = static_cast<int32_t>(minutes);
    // (minutesReal - minutes) * 60 lies in [0, 60), so the rounded seconds are
    // 0 to 60; a 60 stays in the seconds and is not carried.
    c.seconds = static_cast<int32_t>(RoundHalfEven((c.minutesReal - minutes) * SixtyF));
    return c;
}

std::string FormatClock(int32_t h, int32_t m, int32_t s, const NumberSeparators& separators) {
    std::string text = FormatGrouped(h, separators, 2);
    text += ": ";
    text += FormatMinDigits(m, 2);
    text += ": ";
    text += FormatMinDigits(s, 2);
    return text;
}

bool EstimateDue(const RunState& rs) {
    const int32_t i = rs.Multiplier;
    return (rs.EstimatedM <= ShortPeriodMinutesLimit && i % ShortEstimatePeriod == 0) ||
           i % LongEstimatePeriod == 0;
}

void RenewElapsed(RunState& rs, float elapsedSeconds) {
    rs.ElapsedSeconds = std::fabs(elapsedSeconds);
    StoreClock(SplitClock(rs.ElapsedSeconds), rs.ElapsedHoursReal, rs.ElapsedH,
               rs.ElapsedMinutesReal, rs.ElapsedM, rs.ElapsedS);
}

void RenewEstimate(RunState& rs) {
    // Every product is rounded to a single in this order; N * N and i * i
    // would overflow 32-bit integers from 46,341 on, so they never exist as such.
    const float n = static_cast<float>(rs.Target);
    const float i = static_cast<float>(rs.Multiplier);
    const float scaled = n * rs.ElapsedSeconds;
    const float numerator = scaled * n;
    const float denominator = i * i;
    rs.EstimatedSeconds = numerator / denominator;
    StoreClock(SplitClock(rs.EstimatedSeconds), rs.EstimatedHoursReal, rs.EstimatedH,
               rs.EstimatedMinutesReal, rs.EstimatedM, rs.EstimatedS);
}

void RenewPercent(RunState& rs) {
    const float hundredfold = static_cast<float>(rs.Multiplier) * 100.0f;
    rs.Percent = hundredfold / static_cast<float>(rs.Target);
}

void RenewEstimateOfWork(RunState& rs, double done) {
    if (!(done > 0)) return;
    rs.EstimatedSeconds = rs.ElapsedSeconds / static_cast<float>(std::min(done, 1.0));
    StoreClock(SplitClock(rs.EstimatedSeconds), rs.EstimatedHoursReal, rs.EstimatedH,
               rs.EstimatedMinutesReal, rs.EstimatedM, rs.EstimatedS);
}

void RenewPercentOfWork(RunState& rs, double done) {
    const float percent = static_cast<float>(std::clamp(done, 0.0, 1.0)) * 100.0f;
    rs.Percent = std::max(rs.Percent, percent);
}

std::string PercentText(float p, const NumberSeparators& separators) {
    std::string text = FormatTwoDecimals(p, separators);
    text += '%';
    return text;
}

}  // namespace kaldrome
