// The exact multiplication of a run: capacity rule, factor loop, multiplication
// pass with its exit rule and stop poll.
//
// The engine knows nothing of windows. Its caller hands it two hooks: one run
// before every factor (the progress steps) and one yield, called at the top of
// a limb step at least at the start of every pass and then every YieldStride
// limbs, so that the caller can time-slice event processing cheaply.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "base/outcome.h"
#include "base/run_state.h"
#include "engine/kernels.h"

namespace kaldrome {

inline constexpr int32_t YieldStride = 16'384;

struct EngineHooks {
    std::function<void()> beforeFactor;  // clock, estimate and percent of RunState::Multiplier
    std::function<void()> yield;         // may process window events, and may set StopRequested
};

enum class PassOutcome { Completed, Stopped };
enum class LoopOutcome { Completed, Stopped };

// Whole number written in digits only, 0..999,999 ("007" is 7). Anything else
// fails with the reason in plain words.
Outcome<int32_t> ParseTarget(std::string_view text);

// Number of limbs the capacity rule creates for target (4..999,999).
int32_t CapacityFor(int32_t target);

// Creates the limb array for rs.Target and seeds it with 1. Fails, changing
// nothing, for a target outside 4..999,999: the capacity rule has no meaning there.
Outcome<void> SeedLimbs(RunState& rs);

// How a run multiplies: the kernel, looked up once when it is chosen. The
// window and the bench own one each; tests make one per kernel. Later settings
// of the multiplication belong here too.
class Engine {
  public:
    // Starts with the fastest kernel this CPU runs.
    Engine();

    KernelKind Kernel() const { return kernel_; }
    // Chooses kind; false, keeping the kernel it had, when this CPU cannot run it.
    bool SetKernel(KernelKind kind);

    // Multiplies rs.Limbs in place by factor; Stopped when a stop request was seen.
    PassOutcome MultiplyPass(RunState& rs, int32_t factor, const EngineHooks& hooks) const;

    // For Multiplier = 1..Target: beforeFactor, then MultiplyPass. On completion
    // LimbCount is decreased to S, the number of significant limbs.
    LoopOutcome RunFactorLoop(RunState& rs, const EngineHooks& hooks) const;

  private:
    KernelKind kernel_;
    MulKernel multiply_;
};

// Sets the twelve clock fields, ElapsedSeconds through EstimatedS, to 0.
void ClearClocks(RunState& rs);

// The record's part of the start of every run: clocks cleared, StopRequested
// cleared, both texts emptied, GroupCount 0, PlainTextReady false.
void StartRun(RunState& rs);

// Number of limb steps a run of n performs (for the bench and the estimate of work).
uint64_t CountLimbSteps(int32_t n);

}  // namespace kaldrome
