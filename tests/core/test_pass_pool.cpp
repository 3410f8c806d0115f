// The helper threads. The pass pool: every part of every job runs once and is
// finished when Run() returns, the helpers take part, an idle pool uses no
// CPU, and no helper thread outlives the pool. The tree path's workers: every
// job runs once after its inputs, only while the caller's lease runs, and a
// cancelled or failed graph starts nothing more.
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <new>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "engine/job_graph.h"
#include "engine/pass_pool.h"
#include "gui/failing_new.h"

using namespace kaldrome;

namespace {

int ThreadsOfThisProcess() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BusyFor(std::chrono::microseconds d) {
    const auto until = std::chrono::steady_clock::now() + d;
    while (std::chrono::steady_clock::now() < until) {
    }
}

}  // namespace

// Plain (not atomic) writes in the parts must all be visible once Run()
// returns, job after job, with fewer, as many and more parts than threads.
TEST(PassPool, EveryPartRunsOnceAndIsDoneWhenRunReturns) {
    for (int threads = 1; threads <= 4; ++threads) {
        PassPool pool(threads);
        EXPECT_EQ(pool.Threads(), threads);
        for (int parts = 0; parts <= 6; ++parts) {
            std::vector<int> runs(static_cast<std::size_t>(parts), 0);
            std::vector<long> values(static_cast<std::size_t>(parts), 0);
            for (int job = 1; job <= 2000; ++job) {
                auto task = [&](int part) {
                    ++runs[static_cast<std::size_t>(part)];
                    values[static_cast<std::size_t>(part)] = job * 10L + part;
                };
                pool.Run(parts, task);
                for (int part = 0; part < parts; ++part) {
                    ASSERT_EQ(runs[static_cast<std::size_t>(part)], job)
                        << threads << " threads, " << parts << " parts, part " << part;
                    ASSERT_EQ(values[static_cast<std::size_t>(part)], job * 10L + part);
                }
            }
        }
    }
}

// Each part waits until every part has started: the job can only finish if
// the helpers run their parts at the same time as the caller, each on its
// own thread. (Bounded, so that a pool that fails this fails the test.)
TEST(PassPool, PartsRunAtTheSameTimeOnEveryThread) {
    for (int threads = 2; threads <= 4; ++threads) {
        PassPool pool(threads);
        for (int job = 0; job < 20; ++job) {
            std::atomic<int> started{0};
            std::atomic<bool> timedOut{false};
            std::vector<std::thread::id> ids(static_cast<std::size_t>(threads));
            auto task = [&](int part) {
                ids[static_cast<std::size_t>(part)] = std::this_thread::get_id();
                started.fetch_add(1);
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (started.load() < threads) {
                    if (std::chrono::steady_clock::now() > until) {
                        timedOut = true;
                        return;
                    }
                    std::this_thread::yield();
                }
            };
            pool.Run(threads, task);
            ASSERT_FALSE(timedOut) << threads << " threads, job " << job;
            EXPECT_EQ(std::set<std::thread::id>(ids.begin(), ids.end()).size(),
                      static_cast<std::size_t>(threads));
            // The caller took one of them.
            EXPECT_EQ(std::count(ids.begin(), ids.end(), std::this_thread::get_id()), 1);
        }
        EXPECT_EQ(pool.SharedJobs(), 20u);
        EXPECT_EQ(pool.Jobs(), 20u);
    }
}

// Helpers spin for a moment after a job, then block: over a quarter of a
// second of idleness they use next to no CPU, and they still wake for the
// next job.
TEST(PassPool, IdleHelpersUseNoCpuAndWakeForTheNextJob) {
    PassPool pool(3);
    int total = 0;
    auto task = [&](int) { BusyFor(std::chrono::microseconds(50)); };
    for (int round = 0; round < 3; ++round) {
        for (int job = 0; job < 50; ++job) pool.Run(3, task);
        const double before = ProcessCpuSeconds();
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const double used = ProcessCpuSeconds() - before;
        EXPECT_LT(used, 0.025) << "CPU seconds while idle, round " << round;
        std::vector<int> parts(3, 0);
        auto count = [&](int part) { ++parts[static_cast<std::size_t>(part)]; };
        pool.Run(3, count);
        EXPECT_EQ(parts, std::vector<int>({1, 1, 1}));
        total += parts[0] + parts[1] + parts[2];
    }
    EXPECT_EQ(total, 9);
}

TEST(PassPool, NoHelperOutlivesThePool) {
    const int before = ThreadsOfThisProcess();
    for (int threads : {1, 2, 4}) {
        {
            PassPool pool(threads);
            EXPECT_EQ(ThreadsOfThisProcess(), before + threads - 1);
            auto task = [](int) {};
            pool.Run(threads, task);
        }
        EXPECT_EQ(ThreadsOfThisProcess(), before) << threads << " threads";
        {
            // The tree path's workers end with a job in hand: it finishes first.
            JobWorkers workers(threads);
            EXPECT_EQ(ThreadsOfThisProcess(), before + threads);
            JobGraph graph;
            graph.Add(1, [] { BusyFor(std::chrono::milliseconds(20)); });
            workers.Start(std::move(graph), std::chrono::seconds(5));
        }
        EXPECT_EQ(ThreadsOfThisProcess(), before) << threads << " workers";
    }
}

namespace {

using namespace std::chrono_literals;

// Waits, boundedly, until the graph is no longer running.
GraphState Settle(JobWorkers& workers) {
    GraphState state = GraphState::Running;
    for (int i = 0; i < 300 && state == GraphState::Running; ++i) state = workers.Wait(100ms);
    return state;
}

}  // namespace

// Random graphs of chains and joins: every job runs once, after every job it
// needs, and the cost done adds up to the whole; on one, two and four helpers.
TEST(JobWorkers, EveryJobRunsOnceAfterItsInputs) {
    constexpr int Jobs = 300;
    for (int threads : {1, 2, 4}) {
        JobWorkers workers(threads);
        for (unsigned round = 0; round < 10; ++round) {
            std::mt19937 random(round);
            std::vector<std::atomic<int>> runs(Jobs);
            std::vector<std::atomic<bool>> finished(Jobs);
            std::atomic<int> early{0};
            JobGraph graph;
            for (int j = 0; j < Jobs; ++j) {
                std::vector<JobGraph::Id> inputs;
                for (int k = 0; k < 3 && j > 0; ++k)
                    inputs.push_back(
                        static_cast<JobGraph::Id>(random() % static_cast<unsigned>(j)));
                graph.Add(
                    1.0 + j % 3,
                    [&, j, inputs] {
                        for (JobGraph::Id i : inputs)
                            early += !finished[static_cast<std::size_t>(i)];
                        ++runs[static_cast<std::size_t>(j)];
                        finished[static_cast<std::size_t>(j)] = true;
                    },
                    inputs);
            }
            const double total = graph.TotalCost();
            workers.Start(std::move(graph), 30s);
            ASSERT_EQ(Settle(workers), GraphState::Done);
            EXPECT_EQ(workers.DoneCost(), total);
            EXPECT_EQ(early.load(), 0) << threads << " threads, round " << round;
            for (const auto& r : runs) ASSERT_EQ(r.load(), 1);
        }
    }
}

// A caller that does not come back, as a held window does not, stops the
// helpers after the jobs in hand: nothing starts and no CPU is used until it
// renews the lease; then the graph goes on to its end.
TEST(JobWorkers, JobsStartOnlyWhileTheLeaseRuns) {
    JobWorkers workers(2);
    JobGraph graph;
    for (int j = 0; j < 400; ++j) graph.Add(1, [] { BusyFor(std::chrono::microseconds(500)); });
    workers.Start(std::move(graph), 20ms);
    std::this_thread::sleep_for(60ms);  // past the lease and the jobs in hand
    const uint64_t started = workers.JobsStarted();
    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(workers.JobsStarted(), started);
    EXPECT_LT(ProcessCpuSeconds() - before, 0.01);
    EXPECT_LT(started, 400u);
    workers.Renew(30s);
    EXPECT_EQ(Settle(workers), GraphState::Done);
    EXPECT_EQ(workers.JobsStarted(), 400u);
}

// A cancelled graph, or one whose job throws, starts no job after that, and
// cancelling does not wait for the job in hand; the failure reaches the
// caller as it was thrown, and the next graph runs.
TEST(JobWorkers, ACancelledOrFailedGraphStartsNothingMore) {
    for (const bool fails : {false, true}) {
        JobWorkers workers(2);
        std::atomic<bool> begun{false}, release{false}, after{false};
        JobGraph graph;
        const JobGraph::Id first = graph.Add(1, [&] {
            begun = true;
            if (fails) throw std::bad_alloc();
            while (!release) std::this_thread::yield();
        });
        graph.Add(1, [&] { after = true; }, {first});
        workers.Start(std::move(graph), 30s);
        while (!begun) std::this_thread::yield();
        if (fails) {
            ASSERT_EQ(Settle(workers), GraphState::Failed);
            EXPECT_THROW(workers.RethrowFailure(), std::bad_alloc);
        } else {
            const auto t0 = std::chrono::steady_clock::now();
            workers.Cancel();
            EXPECT_LT(std::chrono::steady_clock::now() - t0, 50ms) << "Cancel waited for the job";
            release = true;
        }
        std::atomic<int> next{0};
        JobGraph again;
        for (int j = 0; j < 10; ++j) again.Add(1, [&] { ++next; });
        workers.Start(std::move(again), 30s);
        EXPECT_EQ(Settle(workers), GraphState::Done);
        EXPECT_EQ(next.load(), 10);
        EXPECT_FALSE(after.load()) << (fails ? "failed" : "cancelled");
    }
}

// A helper that cannot be started (here its third allocation, the helper
// list growing to four, fails as with full memory): the pool is not made, the
// failure reaches the caller, and the two helpers already running are ended
// rather than left to abort the program.
TEST(PassPool, AHelperThatCannotStartLeavesNoThreadBehind) {
    const int before = ThreadsOfThisProcess();
    failing_new::Arm(4 * sizeof(std::thread), 4 * sizeof(std::thread) + 1);
    EXPECT_THROW(PassPool pool(4), std::bad_alloc);
    failing_new::Disarm();
    EXPECT_EQ(failing_new::failedSize.load(), 4 * sizeof(std::thread));
    EXPECT_EQ(ThreadsOfThisProcess(), before);
    // And a pool made afterwards works.
    PassPool pool(4);
    std::atomic<int> parts{0};
    auto task = [&](int) { parts.fetch_add(1); };
    pool.Run(4, task);
    EXPECT_EQ(parts.load(), 4);
}

// The choice between splitting and not, fed with made-up times per limb.
namespace {

// Feeds `blocks` blocks of `limbs` limbs taking `splitNs` or `aloneNs` per
// limb as chosen; returns how many were split.
int Feed(SplitChooser& chooser, int blocks, std::size_t limbs, double splitNs, double aloneNs) {
    int split = 0;
    for (int k = 0; k < blocks; ++k) {
        const bool s = chooser.ShouldSplit(limbs, false);
        split += s;
        chooser.Record(s, limbs, static_cast<double>(limbs) * (s ? splitNs : aloneNs) * 1e-9);
    }
    return split;
}

}  // namespace

TEST(SplitChooser, TriesBothThenTakesTheFasterAndNowAndThenTheOther) {
    struct Row {
        double splitNs, aloneNs;
        int wantSplit;  // of 640 blocks: both tried once, then every 64th the other way
    };
    const Row rows[] = {
        {0.4, 0.7, 640 - 1 - 9},  // split faster: all but the first try and 9 explorations
        {0.9, 0.7, 1 + 9},        // alone faster
    };
    for (const Row& r : rows) {
        SplitChooser chooser;
        EXPECT_EQ(Feed(chooser, 640, 50'000, r.splitNs, r.aloneNs), r.wantSplit)
            << r.splitNs << " against " << r.aloneNs;
    }
}

TEST(SplitChooser, FollowsAChangeEitherWay) {
    SplitChooser chooser;
    const std::size_t limbs = 100'000;
    Feed(chooser, 200, limbs, 0.4, 0.7);
    // The other core gets busy: splitting now costs more than not.
    EXPECT_LE(Feed(chooser, 200, limbs, 1.2, 0.7), 10);
    // ... and falls free again: seen at the next try, within 64 blocks; from
    // then on only the tries of the other way are not split.
    Feed(chooser, 64, limbs, 0.4, 0.7);
    EXPECT_GE(Feed(chooser, 100, limbs, 0.4, 0.7), 100 - 2);
}

TEST(SplitChooser, OnePreemptedBlockDoesNotTurnItAround) {
    SplitChooser chooser;
    const std::size_t limbs = 100'000;
    Feed(chooser, 10, limbs, 0.4, 0.7);
    ASSERT_TRUE(chooser.ShouldSplit(limbs, false));
    chooser.Record(true, limbs, static_cast<double>(limbs) * 100e-9);  // 250 times too long
    int split = 0;
    for (int k = 0; k < 20; ++k) split += chooser.ShouldSplit(limbs, false);
    EXPECT_GE(split, 19);
}

TEST(SplitChooser, LengthClassesLearnApart) {
    SplitChooser chooser;
    // Short blocks do not gain from splitting, long ones do.
    for (int k = 0; k < 10; ++k) {
        Feed(chooser, 10, 8'000, 1.0, 0.7);
        Feed(chooser, 10, 200'000, 0.4, 0.7);
    }
    EXPECT_LE(Feed(chooser, 50, 8'000, 1.0, 0.7), 1);
    EXPECT_GE(Feed(chooser, 50, 200'000, 0.4, 0.7), 49);
}

// A split block that woke the helpers is slow, but the next one finds them
// awake: the first is not counted, and the next one is split to be counted.
TEST(SplitChooser, ABlockThatWokeTheHelpersIsNotCounted) {
    SplitChooser chooser;
    const std::size_t limbs = 100'000;
    const double slow = 2.0, fast = 0.4, alone = 0.7;  // ns per limb
    auto block = [&](bool asleep, double splitNs) {
        const bool s = chooser.ShouldSplit(limbs, asleep);
        chooser.Record(s, limbs, static_cast<double>(limbs) * (s ? splitNs : alone) * 1e-9);
        return s;
    };
    // First block: split, helpers asleep, slow: not counted; split again.
    EXPECT_TRUE(block(true, slow));
    EXPECT_TRUE(block(false, fast));
    EXPECT_FALSE(block(false, fast));  // the other way, once
    for (int k = 0; k < 30; ++k) EXPECT_TRUE(block(false, fast)) << k;
    // After a pause the helpers sleep again: the slow block does not count,
    // splitting goes on.
    EXPECT_TRUE(block(true, slow));
    for (int k = 0; k < 20; ++k) EXPECT_TRUE(block(false, fast)) << k;
    // Helpers that do not wake up in time (the other core is busy): every
    // second block counts, and within a few blocks splitting stops.
    for (int k = 0; k < 5; ++k) block(true, slow);
    for (int k = 0; k < 5; ++k) EXPECT_FALSE(block(true, slow)) << k;
}
