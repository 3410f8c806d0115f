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
#include <memory>
#include <string_view>

#include "base/outcome.h"
#include "base/run_state.h"
#include "engine/kernels.h"
#include "engine/product_tree.h"

namespace kaldrome {

inline constexpr int32_t YieldStride = 16'384;

struct EngineHooks {
    std::function<void()> beforeFactor;  // clock, estimate and percent of RunState::Multiplier
    std::function<void()> yield;         // may process window events, and may set StopRequested
    // The tree path's progress instead of beforeFactor: the share, 0 to 1, of
    // its planned work that is done; before every yield, and 1 at the end.
    std::function<void(double)> workDone;
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

// 18 factors below 10^6 always fit a multiplier's 16 limbs.
inline constexpr int32_t MaxFactorsPerPass = 18;

// The most threads, and so segments, one pass is cut into.
inline constexpr int MaxThreads = 16;

// Limbs between yields of the grouped loop. The slowest kernel with a 16-limb
// multiplier works through them in a few milliseconds, the fastest in about a
// tenth of one, and a pass split over threads pays its hand-over once per stride.
inline constexpr int32_t GroupYieldStride = 1 << 18;

// Blocks shorter than this stay on the calling thread: a pass split in two
// breaks even at about 4,096 limbs and gains 1.4x at 8,192, and whole runs of
// 30,000! and 100,000! did best from here. Above it the pool's SplitChooser
// still decides, by timing, whether splitting pays.
inline constexpr int32_t DefaultParallelThreshold = 8'192;

// From this N on a run takes the tree path (engine/tree_path.h) instead of
// the factor loop. Below it the loop is as fast or faster, the tree paying
// for handing its jobs to threads: headless, one thread for the loop and two
// for the tree, 5,000! took 0.35 ms either way, 10,000! 1.3 ms by the loop and
// 1.1 ms by the tree, 20,000! 6.3 and 2.2 ms (kaldrome-bench N --path loop|tree).
inline constexpr int32_t DefaultTreeFrom = 10'000;
// treeFrom for a loop that never takes the tree path.
inline constexpr int32_t NoTree = MaxTarget + 1;

// What the last run of the tree path took, for the bench.
struct TreeStats {
    double seconds = 0;            // the whole tree, to the last limb
    double longestJobSeconds = 0;  // the longest step of a helper
    std::size_t jobs = 0;
};

// How the factor loop is cut up. The window keeps the defaults; the bench and
// the tests choose.
struct LoopSettings {
    int32_t treeFrom = DefaultTreeFrom;  // N from which the tree path is taken
    int32_t factorsPerPass = 0;          // 1..MaxFactorsPerPass; 0: the kernel's own
    int threads = 0;  // 1..MaxThreads, the calling thread included; 0: one per core
    // Blocks from this many limbs on are split over the threads where timing
    // shows it pays; with alwaysSplit, always.
    int32_t parallelThreshold = DefaultParallelThreshold;
    bool alwaysSplit = false;
    int32_t yieldStride = GroupYieldStride;
    TreeTuning tree;
};

class PassPool;
class JobWorkers;

// How a run multiplies: the kernel, looked up once when it is chosen, how many
// factors go into one pass, and the threads a long pass is split over. The
// window and the bench own one each; tests make one per setting. The helper
// threads start with the first run long enough to use them and are joined
// when the engine goes, so none outlives its owner.
class Engine {
  public:
    // Starts with the fastest kernel this CPU runs, its factors per pass, and
    // one thread per core.
    Engine();
    ~Engine();
    Engine(Engine&&) noexcept;
    Engine& operator=(Engine&&) noexcept;

    KernelKind Kernel() const { return kernel_; }
    // Chooses kind; false, keeping the kernel it had, when this CPU cannot run it.
    bool SetKernel(KernelKind kind);

    const LoopSettings& Loop() const { return loop_; }
    // False, keeping the settings it had, for a value out of its range.
    bool SetLoop(const LoopSettings& settings);
    // The settings in force: the kernel's factors per pass, the thread count.
    int32_t FactorsPerPass() const;
    int Threads() const;

    // Multiplies rs.Limbs in place by one factor, the plain factor-by-factor
    // pass; Stopped when a stop request was seen.
    PassOutcome MultiplyPass(RunState& rs, int32_t factor, const EngineHooks& hooks) const;

    // From Loop().treeFrom on, the tree path (engine/tree_path.h), with
    // workDone in place of beforeFactor. Below it, for Multiplier = 1..Target:
    // beforeFactor, then the multiplication. With one factor per pass on one
    // thread, a MultiplyPass per factor; otherwise the grouped loop
    // (engine/grouped_loop.h), with the same hooks in the same order. On
    // completion LimbCount is decreased to S, the number of significant
    // limbs, and the record is the same every way.
    LoopOutcome RunFactorLoop(RunState& rs, const EngineHooks& hooks) const;

    // The last run of the tree path.
    const TreeStats& LastTree() const { return treeStats_; }

  private:
    KernelKind kernel_;
    MulKernel multiply_;
    GroupKernel group_;
    LoopSettings loop_;
    // Started by the first run that needs them (hence mutable: a run does
    // not change how the engine multiplies).
    mutable std::unique_ptr<PassPool> pool_;
    mutable std::unique_ptr<JobWorkers> workers_;
    mutable TreeStats treeStats_;
};

// Sets the twelve clock fields, ElapsedSeconds through EstimatedS, to 0.
void ClearClocks(RunState& rs);

// The record's part of the start of every run: clocks cleared, StopRequested
// cleared, both texts emptied, GroupCount 0, PlainTextReady false.
void StartRun(RunState& rs);

// Number of limb steps a run of n performs (for the bench and the estimate of work).
uint64_t CountLimbSteps(int32_t n);

}  // namespace kaldrome
