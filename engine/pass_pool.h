// Helper threads for passes split into segments.
//
// The parts of a job are claimed one by one, by the calling thread and by the
// helpers alike, so that a helper held up (by another process on its core,
// say) costs little: the caller takes its part too. Between jobs a helper
// spins for a short while (the next segmented pass usually follows within
// microseconds), then blocks on an atomic wait, so an idle pool uses no CPU.
// Run() returns only when every part is done: no helper computes outside a
// Run(), which is what lets the caller hold a run in its yield. Destroying the
// pool wakes and joins the helpers; it must not happen during a Run().
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace kaldrome {

// Whether splitting a block over the threads pays, learnt from the blocks
// themselves: on a machine shared with other work the helpers may be no help
// at all. Keeps the time per limb of recent split and unsplit blocks, for
// each length class of a power of two, and picks the faster way; every
// ExploreEvery-th block of a class goes the other way, so that a change (the
// other core falling free) is seen. A split block that had to wake sleeping
// helpers says little about the next ones, which find them awake: it is not
// counted, and the block after it is split as well.
class SplitChooser {
  public:
    static constexpr int ExploreEvery = 64;

    bool ShouldSplit(std::size_t limbs, bool helpersAsleep);
    void Record(bool split, std::size_t limbs, double seconds);

  private:
    struct Estimate {
        double nsPerLimb = 0;  // 0: none yet
        void Add(double sample);
    };
    struct Class {
        Estimate split, alone;
        uint32_t blocks = 0;
        bool warming = false;  // the last split block woke the helpers
        bool again = false;    // so split the next one too
    };
    static std::size_t ClassOf(std::size_t limbs);
    std::array<Class, 8> classes_{};
};

class PassPool {
  public:
    // threads in all, the calling thread included; 1 (or less) starts no helper.
    explicit PassPool(int threads);
    ~PassPool();
    PassPool(const PassPool&) = delete;
    PassPool& operator=(const PassPool&) = delete;

    int Threads() const { return static_cast<int>(helpers_.size()) + 1; }

    // Calls task(part) once for every part = 0 .. parts - 1, on this thread
    // and the helpers at once, and returns when all are done. Allocates nothing.
    template <typename Task>
    void Run(int parts, Task& task) {
        RunJob(parts, &task, [](void* t, int part) { (*static_cast<Task*>(t))(part); });
    }

    // How long an idle helper spins before it blocks.
    static constexpr int64_t SpinNanoseconds = 50'000;

    // Jobs of more than one part that helpers took part in, and all of them
    // (for tests and the bench).
    uint64_t SharedJobs() const { return sharedJobs_; }
    uint64_t Jobs() const { return jobCount_; }

    // The caller's record of whether splitting pays; the pass consults it.
    SplitChooser& Chooser() { return chooser_; }
    // Whether a helper is blocked, waiting for work (rather than spinning).
    bool HelpersAsleep() const { return sleepers_.load(std::memory_order_relaxed) > 0; }

  private:
    using Call = void (*)(void* task, int part);
    void RunJob(int parts, void* task, Call call);
    void HelperLoop();
    void EndHelpers();
    // Claims and runs parts of job `job` until none is left or the job is
    // over; returns how many it ran.
    int Work(uint32_t job);

    std::vector<std::thread> helpers_;
    // Announces job after job; helpers blocked on it are counted in
    // `sleepers_`, so that a job reaching spinning helpers costs no system call.
    alignas(64) std::atomic<uint32_t> jobs_{0};
    std::atomic<int> sleepers_{0};
    // The job's number (high half) and how many of its parts are unclaimed
    // (low half): a claim for a job that is over fails.
    alignas(64) std::atomic<uint64_t> unclaimed_{0};
    alignas(64) std::atomic<int> done_{0};
    // Written before a job is announced and read only after a part of it was
    // claimed, which keeps the job from ending meanwhile.
    void* task_ = nullptr;
    Call call_ = nullptr;
    int parts_ = 0;
    std::atomic<bool> quit_{false};
    // The caller's own.
    uint64_t sharedJobs_ = 0;
    uint64_t jobCount_ = 0;
    SplitChooser chooser_;
};

}  // namespace kaldrome
