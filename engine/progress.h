// Progress arithmetic of a run: the elapsed clock, the time estimate and the percent.
//
// All clock values and the percent are single precision, computed in the order
// the window has always used, so the roundings (59.6 s reads 00: 00: 60) stay.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "engine/run_state.h"

namespace kaldrome {

struct ClockParts {
    float hoursReal = 0;
    int32_t hours = 0;
    float minutesReal = 0;
    int32_t minutes = 0;
    int32_t seconds = 0;
};

// Splits t >= 0 seconds into hours, minutes and seconds (seconds round half to even).
ClockParts SplitClock(float t);

// h "#,00", ": ", m "00", ": ", s "00".
std::string FormatClock(int32_t h, int32_t m, int32_t s);

// The estimate cadence for factor rs.Multiplier.
bool EstimateDue(const RunState& rs);

// The RunState part of each per-factor step; the window adds the captions.
void RenewElapsed(RunState& rs, float elapsedSeconds);
void RenewEstimate(RunState& rs);
void RenewPercent(RunState& rs);

// The percent bar's text: p with "#.00", then "%".
std::string PercentText(float p);

// Seconds since the start of the run, from a monotonic clock (a run across
// midnight still measures the true elapsed time).
class RunClock {
public:
    void Start() { start_ = std::chrono::steady_clock::now(); }
    float Seconds() const {
        return std::chrono::duration<float>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace kaldrome
