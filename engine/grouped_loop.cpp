#include "engine/grouped_loop.h"

#include <algorithm>
#include <chrono>

namespace kaldrome {

namespace {

constexpr auto Base = static_cast<uint64_t>(LimbBase);

}  // namespace

FactorGroup GroupAt(int32_t first, int32_t last, int32_t factorsPerPass) {
    FactorGroup g;
    g.first = first;
    g.count = std::min(std::clamp(factorsPerPass, 1, MaxFactorsPerPass), last - first + 1);
    if (g.count > 1 && first + g.count - 1 == last) --g.count;
    g.product.count = 1;
    g.product.limb[0] = 1;
    for (int32_t f = first; f < first + g.count; ++f) {
        uint64_t carry = 0;
        for (int32_t k = 0; k < g.product.count; ++k) {
            const uint64_t p = g.product.limb[k] * static_cast<uint64_t>(f) + carry;
            carry = p / Base;
            g.product.limb[k] = static_cast<uint32_t>(p - carry * Base);
        }
        if (carry != 0) g.product.limb[g.product.count++] = static_cast<uint32_t>(carry);
    }
    return g;
}

namespace {

// limbs[0..n) *= multiplier cut into `threads` segments that the pool's
// threads compute at once, each with carry 0 and a copy of the old limbs below
// it (the segment below overwrites them); each segment's carry then goes into
// the next one. Returns the carry out; window as for a kernel.
uint64_t MultiplySegments(GroupKernel kernel, int32_t* limbs, std::size_t n,
                          const Multiplier& multiplier, int32_t* window, uint64_t carry,
                          PassPool& pool, int threads) {
    struct Segment {
        std::size_t at, n;
        int32_t window[MaxMultiplierLimbs];
        uint64_t carry;
    };
    Segment segments[MaxThreads];
    const auto below = static_cast<std::size_t>(multiplier.count - 1);
    int parts = 0;
    for (int t = 0; t < threads; ++t) {
        // Borders on multiples of 16 limbs from the block's start: every
        // segment's vectors then line up as on one thread. Empty ones drop out.
        const auto cut = static_cast<std::size_t>(threads);
        const std::size_t from = n * static_cast<std::size_t>(t) / cut / 16 * 16;
        const std::size_t to =
            t + 1 == threads ? n : n * static_cast<std::size_t>(t + 1) / cut / 16 * 16;
        if (to == from) continue;
        Segment& s = segments[parts++];
        s.at = from;
        s.n = to - from;
        if (from == 0) {
            std::copy(window, window + below, s.window);
            s.carry = carry;
        } else {
            // From 16 limbs up the old limbs below are inside the block.
            std::copy(limbs + from - below, limbs + from, s.window);
            s.carry = 0;
        }
    }
    if (parts < 2) return kernel(limbs, n, multiplier, window, carry);

    auto task = [&](int t) {
        Segment& s = segments[t];
        s.carry = kernel(limbs + s.at, s.n, multiplier, s.window, s.carry);
    };
    pool.Run(parts, task);

    // The carries: usually absorbed by the next segment's first limb or two.
    carry = segments[0].carry;
    for (int t = 1; t < parts; ++t)
        carry = AddCarry(limbs + segments[t].at, segments[t].n, carry) + segments[t].carry;
    std::copy(segments[parts - 1].window, segments[parts - 1].window + below, window);
    return carry;
}

// limbs[0..n) *= multiplier, on the calling thread or split over the pool.
uint64_t MultiplyBlock(GroupKernel kernel, int32_t* limbs, std::size_t n,
                       const Multiplier& multiplier, int32_t* window, uint64_t carry,
                       const GroupedLoopConfig& config) {
    const int threads = config.pool ? std::min(config.pool->Threads(), MaxThreads) : 1;
    if (threads <= 1 ||
        n < static_cast<std::size_t>(std::max(config.settings.parallelThreshold, 1)))
        return kernel(limbs, n, multiplier, window, carry);
    if (config.settings.alwaysSplit)
        return MultiplySegments(kernel, limbs, n, multiplier, window, carry, *config.pool, threads);
    SplitChooser& chooser = config.pool->Chooser();
    const bool split = chooser.ShouldSplit(n, config.pool->HelpersAsleep());
    const auto start = std::chrono::steady_clock::now();
    carry =
        split ? MultiplySegments(kernel, limbs, n, multiplier, window, carry, *config.pool, threads)
              : kernel(limbs, n, multiplier, window, carry);
    chooser.Record(split, n,
                   std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return carry;
}

PassOutcome Pass(RunState& rs, const Multiplier& multiplier, const EngineHooks& hooks,
                 const GroupedLoopConfig& config) {
    const GroupKernel kernel = config.kernel;
    KALDROME_ASSERT(rs.LimbCount >= 1 && rs.LimbCount <= rs.Limbs.Capacity());
    const int32_t m = multiplier.count;
    rs.ScanBound = rs.LimbCount - 2;
    // The number's limbs 1 .. top; right after seeding, LimbCount is 1 for the one limb.
    const int32_t top = std::max(rs.LimbCount - 1, 1);
    int32_t* const limbs = rs.Limbs.Data();
    int32_t window[MaxMultiplierLimbs] = {};  // the old limbs below the next block; 0 below limb 1
    uint64_t carry = 0;
    const int32_t stride = std::max(config.settings.yieldStride, 1);

    int32_t j = 1;
    rs.LimbCount = 1;
    while (j <= top) {
        if (hooks.yield) hooks.yield();
        if (StopRequested) {
            rs.Carry = static_cast<int32_t>(carry);
            return PassOutcome::Stopped;
        }
        const int32_t end = top - j < stride ? top : j + stride - 1;
        KALDROME_ASSERT(end <= rs.Limbs.Capacity());
        carry = MultiplyBlock(kernel, limbs + (j - 1), static_cast<std::size_t>(end - j + 1),
                              multiplier, window, carry, config);
        j = end + 1;
        rs.LimbCount = j;
    }

    // Above the number the old limbs are 0; the pass goes on while the
    // window still holds old limbs or something is carried. Every step up to
    // the one that ends the pass writes a limb of the product, so the pass
    // ends on index S + 1, as a factor-by-factor pass does.
    for (;;) {
        // The capacity rule's margin covers S + 1 of every product up to N!.
        KALDROME_ASSERT(j <= rs.Limbs.Capacity());
        uint64_t value = carry;
        for (int32_t i = 1; i < m; ++i)
            value += static_cast<uint64_t>(static_cast<uint32_t>(window[m - 1 - i])) *
                     multiplier.limb[i];
        for (int32_t k = 0; k + 2 < m; ++k) window[k] = window[k + 1];
        if (m > 1) window[m - 2] = 0;
        carry = value / Base;
        const uint64_t remainder = value - carry * Base;
        limbs[j - 1] = static_cast<int32_t>(remainder);
        rs.Product = static_cast<double>(value);
        rs.Remainder = static_cast<double>(remainder);
        if (j >= top + m && value == 0) {
            rs.Carry = 0;
            return PassOutcome::Completed;
        }
        ++j;
        rs.LimbCount = j;
    }
}

}  // namespace

PassOutcome MultiplyGroupPass(RunState& rs, const Multiplier& multiplier, const EngineHooks& hooks,
                              const GroupedLoopConfig& config) {
    return Pass(rs, multiplier, hooks, config);
}

LoopOutcome RunGroupedFactorLoop(RunState& rs, const EngineHooks& hooks,
                                 const GroupedLoopConfig& config) {
    const int32_t limit = rs.Target;
    const int32_t perPass = config.factorsPerPass;
    for (int32_t first = 1; first <= limit;) {
        const FactorGroup group = GroupAt(first, limit, perPass);
        for (rs.Multiplier = group.first; rs.Multiplier < group.first + group.count;
             ++rs.Multiplier) {
            if (hooks.beforeFactor) hooks.beforeFactor();
        }
        rs.Multiplier = group.first + group.count - 1;
        if (Pass(rs, group.product, hooks, config) == PassOutcome::Stopped)
            return LoopOutcome::Stopped;
        first += group.count;
    }
    rs.Multiplier = limit + 1;
    rs.LimbCount -= 1;
    return LoopOutcome::Completed;
}

}  // namespace kaldrome
