#include "engine/factorial_engine.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <system_error>
#include <thread>

#include "engine/grouped_loop.h"
#include "engine/job_graph.h"
#include "engine/kernels.h"
#include "engine/pass_pool.h"
#include "engine/tree_path.h"

namespace kaldrome {

Outcome<int32_t> ParseTarget(std::string_view text) {
    if (text.empty()) return Failure{"No number was given."};
    if (text.size() > 6) return Failure{"The number has more than six digits."};
    int32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return Failure{"The number must be written in digits only."};
        value = value * 10 + (c - '0');
    }
    return value;
}

int32_t CapacityFor(int32_t target) {
    return target > CapacityThreshold ? target : target / 2;
}

Outcome<void> SeedLimbs(RunState& rs) {
    if (rs.Target < 4 || rs.Target > MaxTarget)
        return Failure{"The limb array is made for numbers from 4 to 999,999, not for " +
                       std::to_string(rs.Target) + "."};
    rs.Limbs.Create(CapacityFor(rs.Target));
    rs.LimbCount = 1;
    rs.Carry = 0;
    rs.Limbs(1) = 1;
    return {};
}

namespace {

// One limb step of the pass at index j; true when it ends the pass.
inline bool LimbStep(RunState& rs, int32_t* limbs, int32_t j, uint32_t factor) {
    // The capacity rule leaves room for every index a run reaches.
    KALDROME_ASSERT(j >= 1 && j <= rs.Limbs.Capacity());
    const uint64_t product = static_cast<uint64_t>(static_cast<uint32_t>(limbs[j - 1])) * factor +
                             static_cast<uint32_t>(rs.Carry);
    const uint64_t carry = product / static_cast<uint64_t>(LimbBase);
    const uint64_t remainder = product - carry * static_cast<uint64_t>(LimbBase);
    rs.Carry = static_cast<int32_t>(carry);
    limbs[j - 1] = static_cast<int32_t>(remainder);
    rs.Product = static_cast<double>(product);
    rs.Remainder = static_cast<double>(remainder);
    return j > rs.ScanBound && product == 0;
}

}  // namespace

Engine::Engine()
    : kernel_(BestKernel()), multiply_(KernelFor(kernel_)), group_(GroupKernelFor(kernel_)) {}

Engine::~Engine() = default;  // joins the helpers, each after the job in hand
Engine::Engine(Engine&&) noexcept = default;
Engine& Engine::operator=(Engine&&) noexcept = default;

bool Engine::SetKernel(KernelKind kind) {
    const MulKernel function = KernelFor(kind);
    const GroupKernel group = GroupKernelFor(kind);
    if (function == nullptr || group == nullptr) return false;
    kernel_ = kind;
    multiply_ = function;
    group_ = group;
    return true;
}

bool Engine::SetLoop(const LoopSettings& settings) {
    if (settings.factorsPerPass < 0 || settings.factorsPerPass > MaxFactorsPerPass ||
        settings.threads < 0 || settings.threads > MaxThreads || settings.parallelThreshold < 1 ||
        settings.yieldStride < 1 || settings.treeFrom < 0 || settings.tree.leafLimbs < 1 ||
        !(settings.tree.stepCost > 0))
        return false;
    // Threads of another number are started afresh when next needed.
    if (settings.threads != loop_.threads) {
        pool_.reset();
        workers_.reset();
    }
    loop_ = settings;
    return true;
}

int32_t Engine::FactorsPerPass() const {
    return loop_.factorsPerPass > 0 ? loop_.factorsPerPass : DefaultFactorsPerPass(kernel_);
}

int Engine::Threads() const {
    if (loop_.threads > 0) return loop_.threads;
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, MaxThreads);
}

PassOutcome Engine::MultiplyPass(RunState& rs, int32_t factor, const EngineHooks& hooks) const {
    KALDROME_ASSERT(factor >= 1 && factor <= MaxTarget);
    KALDROME_ASSERT(rs.LimbCount >= 1 && rs.LimbCount <= rs.Limbs.Capacity());
    rs.ScanBound = rs.LimbCount - 2;
    rs.LimbCount = 1;
    int32_t* const limbs = rs.Limbs.Data();
    const auto f = static_cast<uint32_t>(factor);
    const MulKernel kernel = multiply_;

    // Every index up to ScanBound is processed whatever its product, so those
    // runs go to the block kernel between yields; the few steps above it, where
    // the pass can end, are taken one at a time. The stop flag only changes
    // inside a yield, so it is polled right after each one: the limb step that
    // the yield belongs to still runs, as it would with a yield per limb.
    int32_t j = 1;
    int32_t nextYield = 1;
    for (;;) {
        if (j == nextYield) {
            if (hooks.yield) hooks.yield();
            nextYield = j + YieldStride;
            if (StopRequested) {
                if (LimbStep(rs, limbs, j, f)) {
                    rs.LimbCount = j;
                    return PassOutcome::Completed;
                }
                rs.LimbCount = j + 1;
                return PassOutcome::Stopped;
            }
        }
        const int32_t blockEnd = std::min(rs.ScanBound, nextYield - 1);
        if (j <= blockEnd) {
            KALDROME_ASSERT(blockEnd <= rs.Limbs.Capacity());
            rs.Carry = static_cast<int32_t>(kernel(limbs + (j - 1),
                                                   static_cast<std::size_t>(blockEnd - j + 1), f,
                                                   static_cast<uint32_t>(rs.Carry)));
            j = blockEnd + 1;
            rs.LimbCount = j;
            continue;
        }
        if (j == nextYield) continue;
        if (LimbStep(rs, limbs, j, f)) {
            rs.LimbCount = j;
            return PassOutcome::Completed;
        }
        ++j;
        rs.LimbCount = j;
    }
}

LoopOutcome Engine::RunFactorLoop(RunState& rs, const EngineHooks& hooks) const {
    const int threads = Threads();
    if (rs.Target >= loop_.treeFrom) {
        if (!workers_) {
            try {
                workers_ = std::make_unique<JobWorkers>(threads);
            } catch (const std::system_error&) {
                // The system would start no thread: this run takes the loop,
                // and the next one tries again.
            }
        }
        if (workers_) return RunTreeLoop(rs, hooks, *workers_, loop_.tree, group_, treeStats_);
    }
    if (FactorsPerPass() > 1 || threads > 1) {
        GroupedLoopConfig config{group_, FactorsPerPass(), nullptr, loop_};
        // Helpers only for a number that can grow long enough to split.
        if (threads > 1 && rs.Limbs.Capacity() >= loop_.parallelThreshold) {
            if (!pool_) {
                try {
                    pool_ = std::make_unique<PassPool>(threads);
                } catch (const std::system_error&) {
                    // The system would start no more threads: this run goes
                    // on the calling thread alone, and the next one tries again.
                }
            }
            config.pool = pool_.get();
        }
        return RunGroupedFactorLoop(rs, hooks, config);
    }
    const int32_t limit = rs.Target;
    for (rs.Multiplier = 1; rs.Multiplier <= limit; ++rs.Multiplier) {
        if (hooks.beforeFactor) hooks.beforeFactor();
        if (MultiplyPass(rs, rs.Multiplier, hooks) == PassOutcome::Stopped)
            return LoopOutcome::Stopped;
    }
    rs.LimbCount -= 1;
    return LoopOutcome::Completed;
}

void ClearClocks(RunState& rs) {
    rs.ElapsedSeconds = rs.ElapsedHoursReal = rs.ElapsedMinutesReal = 0;
    rs.ElapsedH = rs.ElapsedM = rs.ElapsedS = 0;
    rs.EstimatedSeconds = rs.EstimatedHoursReal = rs.EstimatedMinutesReal = 0;
    rs.EstimatedH = rs.EstimatedM = rs.EstimatedS = 0;
}

void StartRun(RunState& rs) {
    ClearClocks(rs);
    StopRequested = false;
    rs.DisplayText.clear();
    rs.PlainText.clear();
    rs.GroupCount = 0;
    rs.PlainTextReady = false;
}

uint64_t CountLimbSteps(int32_t n) {
    // The pass for factor i ends one index above the top limb of i!, so it
    // takes S(i!) + 1 steps; S comes from the digit count log10(i!).
    uint64_t steps = 0;
    double log10Factorial = 0;
    for (int32_t i = 1; i <= n; ++i) {
        log10Factorial += std::log10(static_cast<double>(i));
        const auto digits = static_cast<uint64_t>(std::floor(log10Factorial)) + 1;
        steps += (digits + LimbDigits - 1) / LimbDigits + 1;
    }
    return steps;
}

}  // namespace kaldrome
