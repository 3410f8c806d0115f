// A whole headless run of n!, for tests whose n is always valid.
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
    EXPECT_TRUE(engine.SetLoop(loop));
    return engine;
}

}  // namespace kaldrome
