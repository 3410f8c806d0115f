// The main window's run machinery: the run record, its clock, the time slices
// in which a run hands the window to the event loop, and whether a run is in
// progress or the program is ending.
//
// A run goes through the one run sequence (engine/run_sequence); before every
// factor of the factor loop, or as the tree path's work gets done, the machine
// renews the clocks and the percent and tells a RunView what changed, and at
// the engine's yields it processes window events in slices of YieldSliceMs,
// waiting while something holds the run still.
#pragma once

#include <QElapsedTimer>
#include <QtGlobal>
#include <chrono>
#include <cstdint>
#include <functional>

#include "base/outcome.h"
#include "base/run_state.h"
#include "engine/factorial_engine.h"
#include "engine/progress.h"
#include "engine/run_sequence.h"

namespace kaldrome {

// What a run shows while it goes: the window's captions and percent bar.
class RunView {
  public:
    // The limbs are seeded and the factor loop begins.
    virtual void ShowPercentBar() = 0;
    // A clock whose hours, minutes or seconds changed.
    virtual void ShowElapsedClock(int32_t h, int32_t m, int32_t s) = 0;
    virtual void ShowEstimateClock(int32_t h, int32_t m, int32_t s) = 0;
    virtual void DrawPercentBar(float p) = 0;
    // An open menu, the menu bar's keyboard mode or a modal window.
    virtual bool RunHeld() const = 0;

  protected:
    ~RunView() = default;
};

enum class RunPhase { Idle, Running, Quitting };

// Measurements of the last run, for the responsiveness and overhead figures.
struct RunStats {
    int eventSlices = 0;       // event-loop slices
    qint64 longestWorkMs = 0;  // the longest stretch of work between two of them
    double loopMs = 0;         // wall time of the factor loop
    std::chrono::steady_clock::time_point loopEnd;  // when it ended
};

class RunMachine {
  public:
    // How often a run hands the window to the event loop, in milliseconds:
    // short enough to repaint at 60 Hz and stop at once, long enough that
    // processing events costs a run almost nothing.
    static constexpr int YieldSliceMs = 16;

    explicit RunMachine(const Engine& engine) : engine_(engine) {}

    RunState& State() { return rs_; }
    const RunState& State() const { return rs_; }
    RunPhase Phase() const { return phase_; }
    const RunStats& Stats() const { return stats_; }

    // Runs State().Target to its end, a stop or the program's end, showing the
    // progress through view. Only while Idle. Fails when the finished result
    // fails its check, or when memory runs out for the limbs or the display
    // text (then RanOutOfMemory()); the machine is Idle again then.
    Outcome<RunOutcome> Run(RunView& view);
    bool RanOutOfMemory() const { return outOfMemory_; }

    // The program is ending: a run in progress sees a stop at its next yield,
    // and no run starts any more.
    void RequestQuit();

    // For tests: damages the finished limbs before they are checked, as a
    // faulty kernel or memory would.
    void SetLimbFaultForTests(std::function<void(RunState&)> fault) { fault_ = std::move(fault); }

  private:
    void UpdateElapsedClock(RunView& view);
    void UpdateEstimate(RunView& view);
    void ShowEstimateIfChanged(RunView& view);
    void UpdatePercent();
    void FlushPercentBar(RunView& view);
    void YieldToEvents(RunView& view);

    const Engine& engine_;
    RunState rs_;
    RunPhase phase_ = RunPhase::Idle;
    RunClock clock_;
    QElapsedTimer slice_;
    bool percentPending_ = false;  // Percent renewed since the bar was last drawn
    bool clockFresh_ = false;      // no work since the elapsed clock was last read
    // The clocks as last shown, so that the view hears only of changes.
    int32_t shownElapsed_[3] = {-1, -1, -1};
    int32_t shownEstimate_[3] = {-1, -1, -1};
    RunStats stats_;
    std::function<void(RunState&)> fault_;
    bool outOfMemory_ = false;
};

}  // namespace kaldrome
