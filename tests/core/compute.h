// A whole headless run of n!, for tests whose n is always valid.
#pragma once

#include <gtest/gtest.h>

#include "engine/factorial_engine.h"

namespace kaldrome {

// How the run ended; a refused target fails the test.
inline HeadlessOutcome Compute(RunState& rs, int32_t n, const EngineHooks& hooks = {}) {
    const Outcome<HeadlessOutcome> outcome = ComputeHeadless(rs, n, hooks);
    if (!outcome.Ok()) {
        ADD_FAILURE() << "N " << n << ": " << outcome.Error().message;
        return HeadlessOutcome::Stopped;
    }
    return outcome.Value();
}

}  // namespace kaldrome
