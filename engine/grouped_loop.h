// The factor loop with several factors to a pass, and passes split over
// threads.
//
// Consecutive factors are multiplied into one multiplier of up to
// MaxMultiplierLimbs limbs, and one pass multiplies the number by it. The
// caller's hooks see what they see in the factor-by-factor loop: beforeFactor
// runs for every factor, in order (for a group, for each of its factors before
// the group's pass), and yield runs at the start of every pass and then every
// GroupYieldStride limbs, with the stop poll right after it. A completed loop
// leaves the record exactly as the factor-by-factor loop does.
//
// Every limb access stays inside the capacity rule: a pass reads and writes
// limbs 1 .. S' + 1 only, S' being the number of significant limbs of the
// product it leaves, and that product, f! for the group's last factor f <= N,
// is never longer than N!, for which the rule guarantees S + 1 <= capacity.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "engine/factorial_engine.h"
#include "engine/kernels_multi.h"
#include "engine/pass_pool.h"

namespace kaldrome {

struct FactorGroup {
    int32_t first = 0;  // the factors first .. first + count - 1
    int32_t count = 0;
    Multiplier product;
};

// The group that starts at factor `first` of a loop that ends at `last`:
// factorsPerPass factors (taken as 1 .. MaxFactorsPerPass), fewer where the
// loop ends. The last factor always gets a pass of its own, so that the
// record after the loop (ScanBound included) is the factor-by-factor one.
FactorGroup GroupAt(int32_t first, int32_t last, int32_t factorsPerPass);

// What the engine hands the loop: its grouped kernel, the factors per pass in
// force, its pool (nullptr: every pass on the calling thread), and its settings.
struct GroupedLoopConfig {
    GroupKernel kernel = &MulGroupReference;
    int32_t factorsPerPass = MaxFactorsPerPass;
    PassPool* pool = nullptr;
    LoopSettings settings;
};

// Multiplies rs.Limbs in place by `multiplier` in one pass, with the kernel
// and the threads of `config`; Stopped when a stop request was seen. On
// completion LimbCount is S + 1 of the product and Carry is 0.
//
// The helpers compute only inside a block, and a yield never falls inside
// one: while the caller's yield holds the run, no thread computes.
//
// A stopped pass leaves the limbs below LimbCount multiplied by the whole
// multiplier and the others not yet, with Carry pending (it may exceed
// 999,999); unlike a factor-by-factor pass, the old limbs that the rest of
// the pass needed are gone, so the state cannot be carried on from (a
// stopped run is never resumed, and nothing reads its limbs).
PassOutcome MultiplyGroupPass(RunState& rs, const Multiplier& multiplier, const EngineHooks& hooks,
                              const GroupedLoopConfig& config);

// For each group of factors 1 .. Target: beforeFactor for each of its
// factors, with Multiplier set to that factor, then one pass, during which
// Multiplier is the group's last factor. On completion the record matches the
// factor-by-factor loop's: LimbCount = S, Carry = 0, Multiplier = Target + 1.
LoopOutcome RunGroupedFactorLoop(RunState& rs, const EngineHooks& hooks,
                                 const GroupedLoopConfig& config);

}  // namespace kaldrome
