// kaldrome-bench N [options]: computes N! through the engine the window uses,
// without a window, and reports how fast the multiplication kernel is.
//
//   --kernel reference|portable|avx2|avx512|best   kernel to run (default best)
//   --reps R             repetitions for the medians (default 3)
//   --ref-steps S        limb steps the reference loop is timed on (default 1e9)
//
// The ratio to the reference loop is measured in the same run: both kernels
// compute the same prefix of the factor loop (M! for the largest M <= N whose
// run takes at most S limb steps), alternately, R times each; the ratio is the
// quotient of the medians. Whole runs of N are repeated R times unless one
// takes longer than 20 s.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/factorial_engine.h"
#include "engine/kernels.h"
#include "engine/result_check.h"
#include "engine/run_sequence.h"
#include "resulttext/result_text.h"

using namespace kaldrome;

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: kaldrome-bench N [--kernel reference|portable|avx2|avx512|best]\n"
                 "                        [--reps R] [--ref-steps S]   (0 <= N <= 999999)\n");
    return 2;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

double Seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// An engine on kind, which the caller has checked this CPU runs.
Engine EngineWith(KernelKind kind) {
    Engine engine;
    engine.SetKernel(kind);
    return engine;
}

// One headless run of n; its wall time.
double TimedRun(RunState& rs, int32_t n, const Engine& engine) {
    const auto t0 = std::chrono::steady_clock::now();
    const Outcome<RunOutcome> outcome = RunFactorial(rs, engine, n);
    const double seconds = Seconds(t0);
    if (!outcome.Ok()) {
        std::fprintf(stderr, "kaldrome-bench: %s\n", outcome.Error().message.c_str());
        std::exit(1);
    }
    return seconds;
}

// The largest m <= n whose run takes at most `steps` limb steps (at least 4).
int32_t PrefixFor(int32_t n, double steps) {
    int32_t lo = 4, hi = n;
    if (static_cast<double>(CountLimbSteps(hi)) <= steps) return hi;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo + 1) / 2;
        if (static_cast<double>(CountLimbSteps(mid)) <= steps)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const Outcome<int32_t> parsed = ParseTarget(argv[1]);
    if (!parsed.Ok()) {
        std::fprintf(stderr, "kaldrome-bench: N must be a whole number from 0 to 999999\n");
        return 2;
    }
    const int32_t n = parsed.Value();
    KernelKind kernel = BestKernel();
    int reps = 3;
    double refSteps = 1e9;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const std::string_view value = argv[++i];
        if (arg == "--kernel") {
            if (value != "best" && !ParseKernelName(value, kernel)) return Usage();
            if (!KernelSupported(kernel)) {
                std::fprintf(stderr, "kaldrome-bench: this CPU cannot run the %s kernel\n",
                             std::string(value).c_str());
                return 2;
            }
        } else if (arg == "--reps") {
            reps = std::atoi(std::string(value).c_str());
            if (reps < 1 || reps > 99) return Usage();
        } else if (arg == "--ref-steps") {
            refSteps = std::atof(std::string(value).c_str());
            if (!(refSteps >= 0)) return Usage();
        } else {
            return Usage();
        }
    }

    const Engine chosen = EngineWith(kernel);
    const Engine reference = EngineWith(KernelKind::Reference);

    // The ratio to the reference loop, on a prefix of the factor loop.
    int32_t prefix = 0;
    double ratio = 0, refPrefixSeconds = 0, kernelPrefixSeconds = 0;
    if (n >= 4) {
        prefix = PrefixFor(n, refSteps);
        std::vector<double> refTimes, kernelTimes;
        RunState scratch;
        for (int r = 0; r < reps; ++r) {
            refTimes.push_back(TimedRun(scratch, prefix, reference));
            kernelTimes.push_back(TimedRun(scratch, prefix, chosen));
        }
        refPrefixSeconds = Median(refTimes);
        kernelPrefixSeconds = Median(kernelTimes);
        ratio = refPrefixSeconds / kernelPrefixSeconds;
    }

    // Whole runs of N with the chosen kernel.
    RunState rs;
    std::vector<double> wall;
    for (int r = 0; r < reps; ++r) {
        wall.push_back(TimedRun(rs, n, chosen));
        if (wall.back() > 20.0) break;
    }
    const double seconds = Median(wall);

    // The display text once more, timed on its own (the runs above include it).
    std::vector<double> render;
    if (n >= 4) {
        const std::string first = rs.DisplayText;
        for (int r = 0; r < reps; ++r) {
            rs.DisplayText.clear();
            rs.GroupCount = 0;
            const auto t0 = std::chrono::steady_clock::now();
            RenderDisplayText(rs);
            render.push_back(Seconds(t0));
        }
        if (rs.DisplayText != first) {
            std::fprintf(stderr, "kaldrome-bench: the display text came out differently\n");
            return 1;
        }
    }

    // The check of the finished limbs, timed on its own (the runs above include
    // it): cheap next to the run, so it is repeated at least 11 times.
    std::vector<double> check;
    if (n >= 4) {
        for (int r = 0; r < std::max(reps, 11); ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            const Outcome<void> checked = CheckResult(rs);
            check.push_back(Seconds(t0));
            if (!checked.Ok()) {
                std::fprintf(stderr, "kaldrome-bench: %s\n", checked.Error().message.c_str());
                return 1;
            }
        }
    }

    const uint64_t steps = n >= 4 ? CountLimbSteps(n) : 0;  // N <= 3 runs no pass
    std::printf("N              %d\n", n);
    std::printf("kernel         %s\n", std::string(KernelName(chosen.Kernel())).c_str());
    std::printf("wall time      %.3f s   (median of %zu)\n", seconds, wall.size());
    std::printf("limb steps     %llu\n", static_cast<unsigned long long>(steps));
    std::printf("ns per step    %.3f\n", steps ? seconds * 1e9 / static_cast<double>(steps) : 0.0);
    if (n >= 4) {
        std::printf("vs reference   %.2fx   (%d! : reference %.3f s, %s %.3f s, medians of %d)\n",
                    ratio, prefix, refPrefixSeconds, std::string(KernelName(kernel)).c_str(),
                    kernelPrefixSeconds, reps);
        std::printf("render time    %.4f s   (display text, %zu characters)\n", Median(render),
                    rs.DisplayText.size());
        std::printf("check time     %.2f ms  (residues and digit count, median of %zu)\n",
                    Median(check) * 1e3, check.size());
    }
    std::printf("digits         %d\n", rs.DigitCount);
    return 0;
}
