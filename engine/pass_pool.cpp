#include "engine/pass_pool.h"

#include <algorithm>
#include <bit>
#include <chrono>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kaldrome {

namespace {

inline void CpuRelax() {
#if defined(__x86_64__)
    _mm_pause();
#endif
}

// Spins while `value` reads `old`, for at most SpinNanoseconds; then blocks
// until it changes. `sleepers`, if given, counts the time blocked.
template <typename T>
void AwaitChange(const std::atomic<T>& value, T old, std::atomic<int>* sleepers) {
    if (value.load(std::memory_order_acquire) != old) return;
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::nanoseconds(PassPool::SpinNanoseconds);
    for (;;) {
        for (int k = 0; k < 64; ++k) {
            if (value.load(std::memory_order_acquire) != old) return;
            CpuRelax();
        }
        if (std::chrono::steady_clock::now() >= until) break;
    }
    if (sleepers) sleepers->fetch_add(1, std::memory_order_seq_cst);
    value.wait(old, std::memory_order_seq_cst);
    if (sleepers) sleepers->fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

void SplitChooser::Estimate::Add(double sample) {
    // A quarter of the new sample; one inflated by a preemption counts as no
    // more than four times the estimate.
    nsPerLimb += (std::min(sample, 4 * nsPerLimb) - nsPerLimb) / 4;
}

std::size_t SplitChooser::ClassOf(std::size_t limbs) {
    const auto log2 = static_cast<std::size_t>(std::bit_width(limbs | 1) - 1);
    return std::clamp<std::size_t>(log2, 12, 12 + 8 - 1) - 12;
}

bool SplitChooser::ShouldSplit(std::size_t limbs, bool helpersAsleep) {
    Class& c = classes_[ClassOf(limbs)];
    const uint32_t k = c.blocks++;
    if (c.again) {
        // The block after one that woke the helpers: counted, whatever it finds.
        c.again = c.warming = false;
        return true;
    }
    bool split;
    if (c.split.nsPerLimb == 0)  // both ways once each before any choice
        split = true;
    else if (c.alone.nsPerLimb == 0)
        split = false;
    else
        split = (c.split.nsPerLimb < c.alone.nsPerLimb) != (k % ExploreEvery == 0);
    c.again = c.warming = split && helpersAsleep;
    return split;
}

void SplitChooser::Record(bool split, std::size_t limbs, double seconds) {
    if (limbs == 0) return;
    Class& c = classes_[ClassOf(limbs)];
    if (split && c.warming) {
        c.warming = false;
        return;
    }
    Estimate& e = split ? c.split : c.alone;
    const Estimate& other = split ? c.alone : c.split;
    const double sample = seconds * 1e9 / static_cast<double>(limbs);
    // The way not taken is tried only now and then: its latest time stands
    // for it. The way taken is averaged over its recent blocks.
    if (e.nsPerLimb == 0 || (other.nsPerLimb != 0 && e.nsPerLimb > other.nsPerLimb))
        e.nsPerLimb = sample;
    else
        e.Add(sample);
}

PassPool::PassPool(int threads) {
    try {
        for (int k = 1; k < threads; ++k) helpers_.emplace_back([this] { HelperLoop(); });
    } catch (...) {
        // A helper the system would not start (no memory, no more threads):
        // the ones already running are ended, as none may be left unjoined.
        EndHelpers();
        throw;
    }
}

PassPool::~PassPool() {
    EndHelpers();
}

void PassPool::EndHelpers() {
    quit_.store(true, std::memory_order_relaxed);
    jobs_.fetch_add(1, std::memory_order_seq_cst);
    jobs_.notify_all();
    for (std::thread& t : helpers_) t.join();
}

void PassPool::RunJob(int parts, void* task, Call call) {
    if (parts <= 0) return;
    if (helpers_.empty() || parts == 1) {
        for (int part = 0; part < parts; ++part) call(task, part);
        return;
    }
    task_ = task;
    call_ = call;
    parts_ = parts;
    done_.store(0, std::memory_order_relaxed);
    const uint32_t job = jobs_.load(std::memory_order_relaxed) + 1;
    unclaimed_.store(static_cast<uint64_t>(job) << 32 | static_cast<uint32_t>(parts),
                     std::memory_order_release);
    // seq_cst on both sides: either a helper counted itself as a sleeper
    // before this reads the count, and is woken, or it reads the new job
    // number before it blocks.
    jobs_.store(job, std::memory_order_seq_cst);
    if (sleepers_.load(std::memory_order_seq_cst) > 0) jobs_.notify_all();

    const int own = Work(job);

    // Every part is claimed by now; wait for the ones still being computed.
    for (int finished = done_.load(std::memory_order_acquire); finished != parts;
         finished = done_.load(std::memory_order_acquire))
        AwaitChange(done_, finished, nullptr);
    ++jobCount_;
    if (own < parts) ++sharedJobs_;
}

int PassPool::Work(uint32_t job) {
    int ran = 0;
    uint64_t word = unclaimed_.load(std::memory_order_acquire);
    for (;;) {
        if (static_cast<uint32_t>(word >> 32) != job || static_cast<uint32_t>(word) == 0)
            return ran;
        if (!unclaimed_.compare_exchange_weak(word, word - 1, std::memory_order_acq_rel,
                                              std::memory_order_acquire))
            continue;
        // The job's fields stay put until this part is done, and not after.
        const int parts = parts_;
        call_(task_, parts - static_cast<int>(static_cast<uint32_t>(word)));
        ++ran;
        if (done_.fetch_add(1, std::memory_order_acq_rel) + 1 == parts) done_.notify_one();
        word = unclaimed_.load(std::memory_order_acquire);
    }
}

void PassPool::HelperLoop() {
    uint32_t seen = 0;  // the pool's first job number, whenever this thread starts
    for (;;) {
        AwaitChange(jobs_, seen, &sleepers_);
        seen = jobs_.load(std::memory_order_acquire);
        if (quit_.load(std::memory_order_relaxed)) return;
        Work(seen);
    }
}

}  // namespace kaldrome
