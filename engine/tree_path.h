// The tree path of a run: n! by a product tree in base-10^7 limbs
// (engine/product_tree.h) whose large products go by transforms
// (engine/ntt.h), its cost growing as M(n) log n instead of n^2.
//
// The whole plan, with every job's cost, is made before the first job runs;
// helper threads run it (engine/job_graph.h) while the calling thread waits
// in slices of TreeSlice. After each slice it reports the share of the
// planned work that is done (hooks.workDone), then yields (hooks.yield) and
// looks at StopRequested: a stop is seen within a slice, whatever the helpers
// are doing, and the run returns at once.
#pragma once

#include <chrono>
#include <cstddef>

#include "base/run_state.h"
#include "engine/factorial_engine.h"
#include "engine/job_graph.h"
#include "engine/product_tree.h"

namespace kaldrome {

// How long the calling thread waits between two yields, and how long the
// helpers may go on without the caller coming back: long enough for any
// yield of a window that is not held, short enough that a held window stops
// them within a job or two.
inline constexpr std::chrono::milliseconds TreeSlice{8};
inline constexpr std::chrono::milliseconds TreeLease{40};

// Completes with the record as the factor loop leaves it: rs.Limbs holds n!
// (a new array, by the capacity rule), LimbCount = S, Carry = 0, Multiplier =
// n + 1. A stopped run leaves the limbs as they were when it began. Throws
// std::bad_alloc when memory runs out, on the calling thread. The leaves use
// the engine's grouped kernel.
LoopOutcome RunTreeLoop(RunState& rs, const EngineHooks& hooks, JobWorkers& workers,
                        const TreeTuning& tuning, GroupKernel kernel, TreeStats& stats);

}  // namespace kaldrome
