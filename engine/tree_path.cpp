#include "engine/tree_path.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/ntt.h"
#include "engine/result_check.h"

namespace kaldrome {

namespace {

// What the jobs of one run work on. The graph keeps it alive, so that a job
// still running after a stop finishes on memory of its own.
struct TreeData {
    NumberStore store;
    Limbs limbs;
    std::shared_ptr<const NttTwiddles> twiddles[2];  // the run's, kept for all its products
};

}  // namespace

LoopOutcome RunTreeLoop(RunState& rs, const EngineHooks& hooks, JobWorkers& workers,
                        const TreeTuning& tuning, GroupKernel kernel, TreeStats& stats) {
    const int32_t n = rs.Target;
    KALDROME_ASSERT(n >= 4 && n <= MaxTarget);
    const auto start = std::chrono::steady_clock::now();
    stats = TreeStats{};
    rs.Percent = 0;  // the percent of work done only grows from here

    auto data = std::make_shared<TreeData>();
    ProductPlan plan;
    plan.tens = TensOf(n);
    plan.kernel = kernel;
    plan.tuning = tuning;
    // The zeros that fill whole limbs stay out of the product; the others
    // come in as its first factor.
    const auto zeroLimbs = static_cast<int32_t>(plan.tens.tens / LimbDigits);
    for (uint64_t z = 0; z < plan.tens.tens % LimbDigits; ++z) plan.first *= 10;
    // The product's limbs, from n!'s digit count.
    const int32_t limbs = (FactorialDigitCount(n) - 1) / LimbDigits + 1 - zeroLimbs;

    JobGraph graph;
    TreeData& d = *data;
    // The roots of unity of the largest transforms first: with no inputs, they
    // are made at once, beside the leaves.
    const std::size_t longest = TransformLength(static_cast<std::size_t>(limbs) / 2 + 1,
                                                static_cast<std::size_t>(limbs) / 2 + 1);
    std::vector<JobGraph::Id> last;
    for (int prime = 0; prime < 2; ++prime)
        last.push_back(graph.Add(static_cast<double>(longest), [&d, prime, longest] {
            d.twiddles[prime] = PrepareTwiddles(prime, longest);
        }));
    DecimalNumber& product = d.store.New();
    last.push_back(PlanProduct(graph, d.store, product, 1, n, plan));
    graph.Add(
        static_cast<double>(limbs),
        [&d, &product, zeroLimbs, n] {
            // The transforms are done: their tables go before the array comes.
            d.twiddles[0].reset();
            d.twiddles[1].reset();
            d.limbs.Create(CapacityFor(n));
            // The capacity rule leaves room for n!; anything longer would be
            // a fault that the result's check then reports.
            const auto room = static_cast<std::size_t>(d.limbs.Capacity() - 1 - zeroLimbs);
            std::copy_n(product.begin(), std::min(product.size(), room),
                        d.limbs.Data() + zeroLimbs);
            DecimalNumber().swap(product);
        },
        last);
    stats.jobs = graph.Size();
    graph.KeepAlive(data);

    workers.Start(std::move(graph), TreeLease);
    for (;;) {
        const GraphState state = workers.Wait(TreeSlice);
        if (state == GraphState::Failed) workers.RethrowFailure();
        if (hooks.workDone)
            hooks.workDone(state == GraphState::Done
                               ? 1.0
                               : std::min(workers.DoneCost() / workers.TotalCost(), 1.0));
        if (state == GraphState::Done) break;
        if (hooks.yield) hooks.yield();
        if (StopRequested) {
            // The jobs in hand finish on their own, on the run's own memory.
            workers.Cancel();
            return LoopOutcome::Stopped;
        }
        workers.Renew(TreeLease);
    }
    stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    stats.longestJobSeconds = workers.LongestJob();
    workers.Cancel();  // nothing is left to run: this lets the graph and its memory go

    rs.Limbs = std::move(data->limbs);
    int32_t top = std::min(zeroLimbs + limbs, rs.Limbs.Capacity() - 1);
    while (top > 1 && rs.Limbs(top) == 0) --top;
    rs.LimbCount = top;
    rs.Carry = 0;
    rs.Multiplier = n + 1;
    return LoopOutcome::Completed;
}

}  // namespace kaldrome
