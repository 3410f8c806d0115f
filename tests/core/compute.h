// A whole headless run of n!, for tests whose n is always valid, and the
// engines that compute it.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "engine/kernels.h"
#include "engine/run_sequence.h"

namespace kaldrome {

// How the run ended; a refused target fails the test.
inline RunOutcome Compute(RunState& rs, int32_t n, const RunHooks& hooks = {},
                          const Engine& engine = Engine{}) {
    const Outcome<RunOutcome> outcome = RunFactorial(rs, engine, n, hooks);
    if (!outcome.Ok()) {
        ADD_FAILURE() << "N " << n << ": " << outcome.Error().message;
        return RunOutcome::Stopped;
    }
    return outcome.Value();
}

// The kernels this CPU runs.
inline std::vector<KernelKind> SupportedKinds() {
    std::vector<KernelKind> kinds;
    for (KernelKind k : AllKernelKinds)
        if (KernelSupported(k)) kinds.push_back(k);
    return kinds;
}

// The plain loop: one factor to a pass, on the calling thread.
inline Engine FactorByFactor(KernelKind kind = BestKernel()) {
    Engine engine;
    EXPECT_TRUE(engine.SetKernel(kind));
    LoopSettings loop;
    loop.factorsPerPass = 1;
    loop.threads = 1;
    loop.treeFrom = NoTree;
    EXPECT_TRUE(engine.SetLoop(loop));
    return engine;
}

// Cuts so small that a run of a few thousand already has many leaves and
// every product above them in transform steps of its own.
inline TreeTuning SmallCuts() {
    TreeTuning cuts;
    cuts.leafLimbs = 8;
    cuts.stepCost = 1;
    return cuts;
}

// Every way the engine can compute a run, by name: the plain loop, the
// grouped loop, and the tree path on one and two threads, with the shipped
// cuts and with small ones.
struct EnginePath {
    const char* name;
    Engine engine;
};
inline std::vector<EnginePath> EveryPath() {
    auto with = [](LoopSettings loop) {
        Engine engine;
        EXPECT_TRUE(engine.SetLoop(loop));
        return engine;
    };
    LoopSettings grouped, tree1, tree2, small1, small2;
    grouped.treeFrom = NoTree;
    tree1.treeFrom = tree2.treeFrom = small1.treeFrom = small2.treeFrom = 4;
    tree1.threads = small1.threads = 1;
    tree2.threads = small2.threads = 2;
    small1.tree = small2.tree = SmallCuts();
    std::vector<EnginePath> paths;
    paths.push_back({"factor by factor", FactorByFactor()});
    paths.push_back({"grouped loop", with(grouped)});
    paths.push_back({"tree, 1 thread", with(tree1)});
    paths.push_back({"tree, 2 threads", with(tree2)});
    paths.push_back({"tree in small cuts, 1 thread", with(small1)});
    paths.push_back({"tree in small cuts, 2 threads", with(small2)});
    return paths;
}

}  // namespace kaldrome
