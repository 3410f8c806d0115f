#include "engine/run_sequence.h"

#include <string>

#include "engine/result_check.h"
#include "resulttext/result_text.h"

namespace kaldrome {

Outcome<RunOutcome> RunFactorial(RunState& rs, const Engine& engine, int32_t target,
                                 const RunHooks& hooks) {
    if (target < 0 || target > MaxTarget)
        return Failure{"The number must be from 0 to 999,999, not " + std::to_string(target) + "."};
    StartRun(rs);
    rs.Target = target;
    if (target <= 3) {
        rs.DisplayText = rs.PlainText = SmallResultText(target);
        rs.PlainTextReady = true;
        rs.DigitCount = 1;
        return RunOutcome::SmallResult;
    }
    if (const Outcome<void> seeded = SeedLimbs(rs); !seeded.Ok()) return seeded.Error();
    if (hooks.limbsSeeded) hooks.limbsSeeded();
    const LoopOutcome loop = engine.RunFactorLoop(rs, hooks);
    if (hooks.loopEnded) hooks.loopEnded();
    if (loop == LoopOutcome::Stopped) return RunOutcome::Stopped;
    // Nothing is rendered from limbs that fail the check.
    if (const Outcome<void> checked = CheckResult(rs); !checked.Ok()) return checked.Error();
    RenderDisplayText(rs);
    rs.DigitCount = CountDigits(rs);
    return RunOutcome::Completed;
}

}  // namespace kaldrome
