// The one sequence of a run, shared by the window and the bench: the record
// is started afresh, a small N takes its shortcut, a larger one is seeded and
// multiplied factor by factor, and a completed run gets its display text and
// digit count. The caller adds what it shows through the hooks.
#pragma once

#include <cstdint>
#include <functional>

#include "base/outcome.h"
#include "base/run_state.h"
#include "engine/factorial_engine.h"

namespace kaldrome {

struct RunHooks : EngineHooks {
    std::function<void()> limbsSeeded;  // the limbs are seeded; the factor loop comes next
    std::function<void()> loopEnded;    // the factor loop completed or stopped
};

enum class RunOutcome { SmallResult, Completed, Stopped };

// In order: clocks cleared, StopRequested cleared, texts emptied (StartRun),
// Target set; for N up to 3 both texts are the small result, PlainTextReady is
// true and DigitCount 1; otherwise the limbs are seeded, limbsSeeded runs, the
// factor loop runs with the hooks, loopEnded runs, and a completed loop has its
// limbs checked (CheckResult), then renders DisplayText and counts the digits.
// Fails, changing nothing, for a target outside 0..999,999; fails with the
// texts left empty when the finished limbs fail the check.
Outcome<RunOutcome> RunFactorial(RunState& rs, const Engine& engine, int32_t target,
                                 const RunHooks& hooks = {});

}  // namespace kaldrome
