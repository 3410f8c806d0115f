// The run machinery without a window: what a run tells its view, how it ends,
// the phase it leaves behind, and quitting, also while something holds the
// run still. Timers stand in for the user: they fire in the run's yields.
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>
#include <array>
#include <functional>
#include <vector>

#include "engine/factorial_engine.h"
#include "mainwindow/run_machine.h"

using kaldrome::RunMachine;
using kaldrome::RunOutcome;
using kaldrome::RunPhase;

namespace {

using Clock = std::array<int32_t, 3>;

// Records what a run shows.
class RecordingView : public kaldrome::RunView {
  public:
    int barShows = 0;
    std::vector<Clock> elapsed, estimates;
    std::vector<float> drawn;
    bool held = false;

    void ShowPercentBar() override { ++barShows; }
    void ShowElapsedClock(int32_t h, int32_t m, int32_t s) override {
        elapsed.push_back({h, m, s});
    }
    void ShowEstimateClock(int32_t h, int32_t m, int32_t s) override {
        estimates.push_back({h, m, s});
    }
    void DrawPercentBar(float p) override { drawn.push_back(p); }
    bool RunHeld() const override { return held; }
};

// No clock is shown twice in a row: the view hears of changes only.
bool EveryOneAChange(const std::vector<Clock>& shown) {
    for (std::size_t k = 1; k < shown.size(); ++k)
        if (shown[k] == shown[k - 1]) return false;
    return true;
}

}  // namespace

class RunMachineTest : public QObject {
    Q_OBJECT

  private slots:
    void runs_data();
    void runs();
};

void RunMachineTest::runs_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("during");  // what happens 50 ms into the run
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("phaseAfter");

    const int idle = int(RunPhase::Idle), quitting = int(RunPhase::Quitting);
    QTest::newRow("3! takes the shortcut") << 3 << "" << int(RunOutcome::SmallResult) << idle;
    QTest::newRow("3,000! completes") << 3000 << "" << int(RunOutcome::Completed) << idle;
    QTest::newRow("Stop ends a run") << 999999 << "stop" << int(RunOutcome::Stopped) << idle;
    QTest::newRow("quitting ends a run")
        << 999999 << "quit" << int(RunOutcome::Stopped) << quitting;
    QTest::newRow("quitting ends a run that is held still")
        << 999999 << "hold, quit" << int(RunOutcome::Stopped) << quitting;
}

void RunMachineTest::runs() {
    QFETCH(int, n);
    QFETCH(QString, during);
    QFETCH(int, outcome);
    QFETCH(int, phaseAfter);

    const kaldrome::Engine engine;
    RunMachine machine(engine);
    RecordingView view;
    QObject row;  // the row's timers go with it
    QTimer::singleShot(50, &row, [&] {
        if (during == "stop") kaldrome::StopRequested = true;
        if (during.startsWith("hold")) view.held = true;
    });
    QTimer::singleShot(during == "hold, quit" ? 150 : 50, &row, [&] {
        if (during.endsWith("quit")) machine.RequestQuit();
    });
    // A run that a quit cannot end would wait here for ever; this lets it go.
    QTimer::singleShot(10000, &row, [&] { view.held = false; });

    QCOMPARE(machine.Phase(), RunPhase::Idle);
    machine.State().Target = n;
    QElapsedTimer clock;
    clock.start();
    const kaldrome::Outcome<RunOutcome> ended = machine.Run(view);
    QVERIFY2(clock.elapsed() < 8000, "a stop or quit ends the run at once");
    QVERIFY(ended.Ok());
    QCOMPARE(int(ended.Value()), outcome);
    QCOMPARE(int(machine.Phase()), phaseAfter);
    const kaldrome::RunState& rs = machine.State();
    QCOMPARE(rs.Target, n);

    if (ended.Value() == RunOutcome::SmallResult) {
        // Nothing of a run is shown for the shortcut.
        QCOMPARE(view.barShows, 0);
        QVERIFY(view.elapsed.empty() && view.estimates.empty() && view.drawn.empty());
        return;
    }
    QCOMPARE(view.barShows, 1);
    QVERIFY(!view.elapsed.empty());
    QVERIFY(EveryOneAChange(view.elapsed));
    QVERIFY(EveryOneAChange(view.estimates));
    if (ended.Value() == RunOutcome::Completed) {
        QCOMPARE(rs.Multiplier, n + 1);
        QVERIFY(rs.DigitCount > 0);
        QVERIFY(!rs.DisplayText.empty());
        QVERIFY(!view.estimates.empty());  // every 4th factor at least at the start
    } else {
        // The bar is left at the percent the run stopped at.
        QVERIFY(rs.Multiplier < n);
        QVERIFY(!view.drawn.empty());
        QCOMPARE(view.drawn.back(), rs.Percent);
        QVERIFY(rs.DisplayText.empty());
        QVERIFY(machine.Stats().eventSlices > 0);
    }
    kaldrome::StopRequested = false;
}

QTEST_GUILESS_MAIN(RunMachineTest)
#include "test_run_machine.moc"
