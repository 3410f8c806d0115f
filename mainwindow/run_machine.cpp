#include "mainwindow/run_machine.h"

#include <QCoreApplication>
#include <QTime>
#include <new>

namespace kaldrome {

namespace {

// True when the clock differs from the one last shown, which it then becomes.
bool Changed(int32_t (&shown)[3], int32_t h, int32_t m, int32_t s) {
    if (shown[0] == h && shown[1] == m && shown[2] == s) return false;
    shown[0] = h;
    shown[1] = m;
    shown[2] = s;
    return true;
}

}  // namespace

Outcome<RunOutcome> RunMachine::Run(RunView& view) {
    KALDROME_ASSERT(phase_ == RunPhase::Idle);
    phase_ = RunPhase::Running;
    rs_.StartTime = static_cast<float>(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0f;
    clock_.Start();

    QElapsedTimer loop;
    RunHooks hooks;
    hooks.limbsSeeded = [&] {
        view.ShowPercentBar();
        for (int32_t& part : shownElapsed_) part = -1;
        for (int32_t& part : shownEstimate_) part = -1;
        stats_ = RunStats{};
        percentPending_ = false;
        clockFresh_ = false;
        slice_.start();
        loop.start();
    };
    hooks.beforeFactor = [&] {
        UpdateElapsedClock(view);
        if (EstimateDue(rs_)) UpdateEstimate(view);
        UpdatePercent();
    };
    hooks.workDone = [&](double done) {
        UpdateElapsedClock(view);
        // No estimate before the first job is done: there is nothing to scale.
        if (done > 0) {
            RenewEstimateOfWork(rs_, done);
            ShowEstimateIfChanged(view);
        }
        RenewPercentOfWork(rs_, done);
        percentPending_ = true;
    };
    hooks.yield = [&] {
        clockFresh_ = false;
        YieldToEvents(view);
    };
    hooks.loopEnded = [&] {
        stats_.loopMs = static_cast<double>(loop.nsecsElapsed()) / 1e6;
        stats_.loopEnd = std::chrono::steady_clock::now();
        if (fault_) fault_(rs_);
    };

    Outcome<RunOutcome> outcome = Failure{"There is not enough memory for the result."};
    outOfMemory_ = false;
    try {
        outcome = RunFactorial(rs_, engine_, rs_.Target, hooks);
    } catch (const std::bad_alloc&) {
        outOfMemory_ = true;
        // The limbs or the display text did not fit: the run ends as if stopped,
        // and the window says why.
    }
    // A stopped run leaves the bar at its last percent.
    if (!outcome.Ok() || outcome.Value() == RunOutcome::Stopped) FlushPercentBar(view);
    if (phase_ == RunPhase::Running) phase_ = RunPhase::Idle;
    return outcome;
}

void RunMachine::RequestQuit() {
    phase_ = RunPhase::Quitting;
    StopRequested = true;
}

void RunMachine::UpdateElapsedClock(RunView& view) {
    // The factors of one pass get their progress steps back to back, with no
    // work between them (the engine yields once they are done): the clock read
    // for the first serves them all, and the fields it sets stay as they are.
    if (clockFresh_) return;
    clockFresh_ = true;
    RenewElapsed(rs_, clock_.Seconds());
    // A large run renews its clocks a million times; captions change far less.
    if (Changed(shownElapsed_, rs_.ElapsedH, rs_.ElapsedM, rs_.ElapsedS))
        view.ShowElapsedClock(rs_.ElapsedH, rs_.ElapsedM, rs_.ElapsedS);
}

void RunMachine::UpdateEstimate(RunView& view) {
    RenewEstimate(rs_);
    ShowEstimateIfChanged(view);
}

void RunMachine::ShowEstimateIfChanged(RunView& view) {
    if (Changed(shownEstimate_, rs_.EstimatedH, rs_.EstimatedM, rs_.EstimatedS))
        view.ShowEstimateClock(rs_.EstimatedH, rs_.EstimatedM, rs_.EstimatedS);
}

void RunMachine::UpdatePercent() {
    RenewPercent(rs_);
    // The bar can only be seen when the window repaints, which happens in the
    // run's yields; drawing it there shows exactly what drawing it for every
    // factor would, at a fraction of the cost (rendering its image for every
    // 0.01 % of a large run took a fifth of the run's time).
    percentPending_ = true;
}

void RunMachine::FlushPercentBar(RunView& view) {
    if (!percentPending_) return;
    percentPending_ = false;
    view.DrawPercentBar(rs_.Percent);
}

void RunMachine::YieldToEvents(RunView& view) {
    // Called at the start of every pass and between the blocks of a long one.
    // A pass multiplies by up to 18 factors at once, so from a few thousand
    // limbs on the clock read (some 20 ns) is under 1% of the work between two
    // calls, and shorter runs end within milliseconds anyway. The engine's
    // helper threads compute only inside a block, never here: while something
    // below holds the run, no thread computes.
    const qint64 worked = slice_.elapsed();
    if (worked < YieldSliceMs) return;
    ++stats_.eventSlices;
    if (worked > stats_.longestWorkMs) stats_.longestWorkMs = worked;
    FlushPercentBar(view);
    QCoreApplication::processEvents();
    while (phase_ != RunPhase::Quitting && view.RunHeld())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    slice_.start();
}

}  // namespace kaldrome
