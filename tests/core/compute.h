// A whole headless run of n!, for tests whose n is always valid.
#pragma once

#include <gtest/gtest.h>

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

}  // namespace kaldrome
