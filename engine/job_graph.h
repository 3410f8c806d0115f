// Work of one run cut into jobs, run by helper threads as soon as the jobs
// they need are done.
//
// The calling thread (the window's) computes nothing: it starts a graph, then
// waits in short slices, in which it shows the progress and hands the window
// to its event loop. The helpers start a job only while the caller's lease
// runs: the caller renews it after every slice, so when the window is held
// (an open menu, a modal dialog) the lease runs out and the helpers stop
// after the job in hand, and no thread computes until the run goes on. A
// cancelled graph starts no more jobs; a job already running finishes on its
// own, and what it holds is freed with the graph, so that Stop never waits
// for one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kaldrome {

class JobGraph {
  public:
    using Id = int32_t;

    // A job that may start once every job in `after` is done. Its cost is its
    // planned share of the work, in a unit common to the graph.
    Id Add(double cost, std::function<void()> work, std::initializer_list<Id> after = {});
    Id Add(double cost, std::function<void()> work, const std::vector<Id>& after);

    std::size_t Size() const { return jobs_.size(); }
    double TotalCost() const { return total_; }

    // Kept alive until the graph and every job of it are gone: what the jobs work on.
    void KeepAlive(std::shared_ptr<void> data) { keepAlive_ = std::move(data); }

  private:
    friend class JobWorkers;
    struct Job {
        std::function<void()> work;
        double cost = 0;
        int32_t inputs = 0;    // jobs it waits for
        std::vector<Id> then;  // jobs that wait for it
    };
    std::vector<Job> jobs_;
    double total_ = 0;
    std::shared_ptr<void> keepAlive_;
};

enum class GraphState { Running, Done, Failed };

class JobWorkers {
  public:
    // Starts `threads` helpers (at least one); throws std::system_error when
    // the system starts none.
    explicit JobWorkers(int threads);
    // Cancels the graph and joins the helpers, each after the job in hand.
    ~JobWorkers();
    JobWorkers(const JobWorkers&) = delete;
    JobWorkers& operator=(const JobWorkers&) = delete;

    int Threads() const { return static_cast<int>(threads_.size()); }

    // Runs graph in place of any earlier one, under a lease of `lease` from now.
    void Start(JobGraph graph, std::chrono::nanoseconds lease);
    // Waits until the graph is done or failed, or `timeout` has passed.
    GraphState Wait(std::chrono::nanoseconds timeout);
    // The cost of the jobs done so far, and of all.
    double DoneCost() const;
    double TotalCost() const;
    // Lets the helpers start jobs until `lease` from now.
    void Renew(std::chrono::nanoseconds lease);
    // No job of the graph starts any more, and the workers let it go (it is
    // freed with the last job in hand); returns at once. Also how a caller
    // lets a graph that is done go.
    void Cancel();
    // After Failed: throws what the failed job threw, on the calling thread.
    [[noreturn]] void RethrowFailure();

    // The longest time one job of the graph took so far, in seconds.
    double LongestJob() const;
    // Jobs started since the workers were made, for tests.
    uint64_t JobsStarted() const;

  private:
    struct Running;
    void Loop();
    void Finish(Running& run, JobGraph::Id id, std::exception_ptr failure);

    mutable std::mutex mutex_;
    std::condition_variable work_;     // helpers wait here
    std::condition_variable settled_;  // the caller waits here
    std::shared_ptr<Running> current_;
    std::chrono::steady_clock::time_point leaseEnd_;
    int leaseWaiters_ = 0;  // helpers with jobs ready but no lease
    bool quit_ = false;
    uint64_t started_ = 0;
    std::vector<std::thread> threads_;
};

}  // namespace kaldrome
