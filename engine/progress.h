// Progress arithmetic of a run: the elapsed clock, the time estimate and the percent.
//
// All clock values and the percent are single precision, computed in the order
// the window has always used, so the roundings (59.6 s reads 00: 00: 60) stay.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "base/number_format.h"
#include "base/run_state.h"

namespace kaldrome {

struct ClockParts {
    float hoursReal = 0;
    int32_t hours = 0;
    float minutesReal = 0;
    int32_t minutes = 0;
    int32_t seconds = 0;
};

// Splits t >= 0 seconds into hours, minutes and seconds (seconds round half to
// even, so 59.6 s gives 0, 0, 60). A time whose hours pass the 32-bit range
// (also +inf) gives the largest clock, int32 max hours, 59 minutes, 59 seconds,
// which reads as "very long"; NaN and negative times give 0.
ClockParts SplitClock(float t);

// h "#,00", ": ", m "00", ": ", s "00" with the given separators.
// The text depends only on h, m, s and the separators. It is cheap (under
// 0.1 us, no allocation for short clocks), yet a caller renewing a caption
// once per factor should compare the three integers with the last ones shown
// and call this only when one of them differs.
std::string FormatClock(int32_t h, int32_t m, int32_t s, const NumberSeparators& separators);

// The estimate cadence for factor i = rs.Multiplier: every 4th factor while the
// minutes component of the last estimate (rs.EstimatedM) is 0 or 1, and at
// every multiple of 178 whatever it is.
bool EstimateDue(const RunState& rs);

// The RunState part of each per-factor step; the window adds the captions.
//   RenewElapsed:  ElapsedSeconds = |elapsedSeconds|, split into the Elapsed* fields.
//   RenewEstimate: EstimatedSeconds = ((N * ElapsedSeconds) * N) / (i * i), each
//                  product rounded to a single, split into the Estimated* fields.
//   RenewPercent:  Percent = (i * 100) / N in singles.
// N = rs.Target, i = rs.Multiplier (1 <= i <= N).
void RenewElapsed(RunState& rs, float elapsedSeconds);
void RenewEstimate(RunState& rs);
void RenewPercent(RunState& rs);

// The same for the tree path, from the share `done` (0 to 1) of its planned
// work in place of i / N. The factor loop scales its elapsed time by (N / i)^2
// because its work grows as the square of the factor; the share of planned
// work is a share of the work itself, so here it scales by 1 / done:
//   RenewEstimateOfWork: EstimatedSeconds = ElapsedSeconds / done in singles
//                        (nothing while done is 0);
//   RenewPercentOfWork:  Percent = done * 100 in singles, never below the
//                        Percent it had, so that the bar never goes back.
void RenewEstimateOfWork(RunState& rs, double done);
void RenewPercentOfWork(RunState& rs, double done);

// The percent bar's text: p with "#.00", then "%" (".10%", "42.86%").
std::string PercentText(float p, const NumberSeparators& separators);

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
