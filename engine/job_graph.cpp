#include "engine/job_graph.h"

#include <algorithm>

#include "base/check.h"

namespace kaldrome {

JobGraph::Id JobGraph::Add(double cost, std::function<void()> work,
                           std::initializer_list<Id> after) {
    return Add(cost, std::move(work), std::vector<Id>(after));
}

JobGraph::Id JobGraph::Add(double cost, std::function<void()> work, const std::vector<Id>& after) {
    const auto id = static_cast<Id>(jobs_.size());
    Job job;
    job.work = std::move(work);
    job.cost = cost;
    for (Id input : after) {
        // Only earlier jobs: the graph cannot hold a cycle.
        KALDROME_ASSERT(input >= 0 && input < id);
        jobs_[static_cast<std::size_t>(input)].then.push_back(id);
        ++job.inputs;
    }
    jobs_.push_back(std::move(job));
    total_ += cost;
    return id;
}

struct JobWorkers::Running {
    JobGraph graph;
    std::vector<int32_t> waiting;     // inputs not yet done, per job
    std::vector<JobGraph::Id> ready;  // taken from the back: a subtree is finished
                                      // before the next is begun, which keeps few
                                      // intermediate numbers alive
    std::size_t left = 0;             // jobs not yet done
    double done = 0;
    double longest = 0;  // seconds
    bool cancelled = false;
    std::exception_ptr failure;
};

JobWorkers::JobWorkers(int threads) {
    const int count = threads < 1 ? 1 : threads;
    threads_.reserve(static_cast<std::size_t>(count));
    try {
        for (int t = 0; t < count; ++t) threads_.emplace_back([this] { Loop(); });
    } catch (...) {
        // None may outlive a constructor that failed.
        if (threads_.empty()) throw;
    }
}

JobWorkers::~JobWorkers() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        if (current_) current_->cancelled = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void JobWorkers::Start(JobGraph graph, std::chrono::nanoseconds lease) {
    auto run = std::make_shared<Running>();
    run->graph = std::move(graph);
    const std::size_t n = run->graph.jobs_.size();
    run->waiting.resize(n);
    run->left = n;
    for (std::size_t i = n; i-- > 0;) {
        run->waiting[i] = run->graph.jobs_[i].inputs;
        if (run->waiting[i] == 0) run->ready.push_back(static_cast<JobGraph::Id>(i));
    }
    {
        std::lock_guard lock(mutex_);
        if (current_) current_->cancelled = true;
        current_ = std::move(run);
        leaseEnd_ = std::chrono::steady_clock::now() + lease;
    }
    work_.notify_all();
    settled_.notify_all();
}

GraphState JobWorkers::Wait(std::chrono::nanoseconds timeout) {
    std::unique_lock lock(mutex_);
    auto settled = [this] { return !current_ || current_->failure || current_->left == 0; };
    settled_.wait_for(lock, timeout, settled);
    if (!current_) return GraphState::Done;
    if (current_->failure) return GraphState::Failed;
    return current_->left == 0 ? GraphState::Done : GraphState::Running;
}

double JobWorkers::DoneCost() const {
    std::lock_guard lock(mutex_);
    return current_ ? current_->done : 0;
}

double JobWorkers::TotalCost() const {
    std::lock_guard lock(mutex_);
    return current_ ? current_->graph.TotalCost() : 0;
}

void JobWorkers::Renew(std::chrono::nanoseconds lease) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        leaseEnd_ = std::chrono::steady_clock::now() + lease;
        wake = leaseWaiters_ > 0;
    }
    if (wake) work_.notify_all();
}

void JobWorkers::Cancel() {
    std::lock_guard lock(mutex_);
    if (!current_) return;
    current_->cancelled = true;
    current_->ready.clear();
    current_.reset();
}

void JobWorkers::RethrowFailure() {
    std::exception_ptr failure;
    {
        std::lock_guard lock(mutex_);
        KALDROME_ASSERT(current_ && current_->failure);
        failure = current_->failure;
    }
    Cancel();
    std::rethrow_exception(failure);
}

double JobWorkers::LongestJob() const {
    std::lock_guard lock(mutex_);
    return current_ ? current_->longest : 0;
}

uint64_t JobWorkers::JobsStarted() const {
    std::lock_guard lock(mutex_);
    return started_;
}

void JobWorkers::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (quit_) return;
        std::shared_ptr<Running> run = current_;
        if (!run || run->cancelled || run->ready.empty()) {
            work_.wait(lock);
            continue;
        }
        if (std::chrono::steady_clock::now() >= leaseEnd_) {
            // The caller is held: wait, using no CPU, until it renews the lease.
            ++leaseWaiters_;
            work_.wait(lock);
            --leaseWaiters_;
            continue;
        }
        const JobGraph::Id id = run->ready.back();
        run->ready.pop_back();
        ++started_;
        lock.unlock();
        std::exception_ptr failure;
        const auto begun = std::chrono::steady_clock::now();
        try {
            run->graph.jobs_[static_cast<std::size_t>(id)].work();
        } catch (...) {
            failure = std::current_exception();
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begun;
        lock.lock();
        run->longest = std::max(run->longest, took.count());
        Finish(*run, id, failure);
    }
}

void JobWorkers::Finish(Running& run, JobGraph::Id id, std::exception_ptr failure) {
    const JobGraph::Job& job = run.graph.jobs_[static_cast<std::size_t>(id)];
    --run.left;
    run.done += job.cost;
    if (failure && !run.failure) {
        run.failure = failure;
        run.cancelled = true;
        run.ready.clear();
    }
    if (!run.cancelled) {
        int woken = 0;
        for (JobGraph::Id next : job.then) {
            if (--run.waiting[static_cast<std::size_t>(next)] == 0) {
                run.ready.push_back(next);
                ++woken;
            }
        }
        // This helper takes one itself; the others go to idle helpers.
        for (int i = 1; i < woken; ++i) work_.notify_one();
    }
    if (run.left == 0 || run.failure) settled_.notify_all();
}

}  // namespace kaldrome
