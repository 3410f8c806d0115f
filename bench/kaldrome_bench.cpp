// kaldrome-bench N [options]: computes N! through the engine the window uses,
// without a window, and reports how fast it is with each thread count.
//
//   --path tree|loop     the tree path (default; for any N from 4) or the factor loop
//   --threads T[,T...]   thread counts to time, 1..16 each (default 1,2)
//   --reps R             repetitions for the medians (default 3)
// The tree path's own:
//   --leaf L             limbs of a leaf's product (default 2048)
//   --step-ms S          products planned to take longer are cut into their transforms
// The factor loop's own:
//   --kernel reference|portable|avx2|avx512|avx512ifma|best   kernel (default best)
//   --factors K          factors per pass, 1..18 (default: the kernel's own)
//   --threshold L        limbs from which a block may be split over the threads
//   --ref-steps S        limb steps the reference loop is timed on (default 1e9)
//
// Every thread count is timed in the same run, the repetitions interleaved.
// The tree path is compared with GMP's own way to the digits of N!,
// mpz_fac_ui and mpz_get_str, timed in the same run between its own runs: a
// ratio below 1 is faster than GMP. Each run's time is the whole run as the
// window makes it, the check of the result and the display text included.
// The factor loop is compared with the reference loop (the plain scalar
// loop, one factor per pass, one thread) in the same run, on a prefix of the
// factor loop: M! for the largest M <= N whose run takes at most S limb steps.
// Its ns per limb step count the steps of the factor-by-factor loop, so that
// figures for different factors per pass compare.
#include <gmp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
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
    std::fprintf(
        stderr,
        "usage: kaldrome-bench N [--path tree|loop] [--threads T[,T...]] [--reps R]\n"
        "                        [--leaf L] [--step-ms S]\n"
        "                        [--kernel reference|portable|avx2|avx512|avx512ifma|best]\n"
        "                        [--factors K] [--threshold L] [--ref-steps S]\n"
        "                        (0 <= N <= 999999)\n");
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

// One headless run of n; its wall time. With `estimateError`, for the tree
// path: how far the estimate the window would show when the percent first
// passes 25 (elapsed time over the share of work done) is from the run's
// true time, as a share of that time.
double TimedRun(RunState& rs, int32_t n, const Engine& engine, double* estimateError = nullptr) {
    const auto t0 = std::chrono::steady_clock::now();
    double estimate = 0;
    RunHooks hooks;
    hooks.workDone = [&](double done) {
        if (estimate == 0 && done >= 0.25) estimate = Seconds(t0) / done;
    };
    const Outcome<RunOutcome> outcome = RunFactorial(rs, engine, n, hooks);
    const double seconds = Seconds(t0);
    if (estimateError) *estimateError = estimate > 0 ? std::abs(estimate / seconds - 1) : 0;
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

// "1,2,4" into {1, 2, 4}; false for anything outside low..high.
bool ParseList(std::string_view text, int low, int high, std::vector<int>& out) {
    out.clear();
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const Outcome<int32_t> value = ParseTarget(text.substr(0, comma));
        if (!value.Ok() || value.Value() < low || value.Value() > high) return false;
        out.push_back(value.Value());
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    }
    return !out.empty();
}

Engine EngineWith(bool tree, KernelKind kind, int32_t factors, int threads, int32_t threshold,
                  const TreeTuning& tuning = {}) {
    Engine engine;
    engine.SetKernel(kind);
    LoopSettings loop;
    loop.tree = tuning;
    loop.treeFrom = tree ? 4 : NoTree;
    loop.factorsPerPass = factors;
    loop.threads = threads;
    loop.parallelThreshold = threshold;
    engine.SetLoop(loop);
    return engine;
}

// GMP's own way to the digits of n!, timed in its two parts.
struct GmpTimes {
    double product = 0, conversion = 0;
    std::size_t digits = 0;
};
GmpTimes TimeGmp(int32_t n) {
    GmpTimes t;
    mpz_t f;
    mpz_init(f);
    auto t0 = std::chrono::steady_clock::now();
    mpz_fac_ui(f, static_cast<unsigned long>(n));
    t.product = Seconds(t0);
    std::string digits(mpz_sizeinbase(f, 10) + 2, '\0');
    t0 = std::chrono::steady_clock::now();
    mpz_get_str(digits.data(), 10, f);
    t.conversion = Seconds(t0);
    t.digits = std::char_traits<char>::length(digits.c_str());
    mpz_clear(f);
    return t;
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
    bool tree = true;
    KernelKind kernel = BestKernel();
    int32_t factors = 0;
    int32_t threshold = DefaultParallelThreshold;
    TreeTuning tuning;
    std::vector<int> threads = {1, 2};
    int reps = 3;
    double refSteps = 1e9;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const std::string_view value = argv[++i];
        std::vector<int> list;
        if (arg == "--path") {
            if (value != "tree" && value != "loop") return Usage();
            tree = value == "tree";
        } else if (arg == "--kernel") {
            if (value != "best" && !ParseKernelName(value, kernel)) return Usage();
            if (!KernelSupported(kernel)) {
                std::fprintf(stderr, "kaldrome-bench: this CPU cannot run the %s kernel\n",
                             std::string(value).c_str());
                return 2;
            }
        } else if (arg == "--factors" && ParseList(value, 1, MaxFactorsPerPass, list) &&
                   list.size() == 1) {
            factors = list[0];
        } else if (arg == "--threads" && ParseList(value, 1, MaxThreads, list)) {
            threads = list;
        } else if (arg == "--leaf" && ParseList(value, 1, MaxTarget, list) && list.size() == 1) {
            tuning.leafLimbs = list[0];
        } else if (arg == "--step-ms" && ParseList(value, 1, 10'000, list) && list.size() == 1) {
            tuning.stepCost = 1e6 * list[0];
        } else if (arg == "--threshold" && ParseList(value, 1, MaxTarget, list) &&
                   list.size() == 1) {
            threshold = list[0];
        } else if (arg == "--reps" && ParseList(value, 1, 99, list) && list.size() == 1) {
            reps = list[0];
        } else if (arg == "--ref-steps") {
            refSteps = std::atof(std::string(value).c_str());
            if (!(refSteps >= 0)) return Usage();
        } else {
            return Usage();
        }
    }

    std::vector<Engine> engines;
    for (int t : threads)
        engines.push_back(EngineWith(tree, kernel, factors, t, threshold, tuning));
    const Engine reference = EngineWith(false, KernelKind::Reference, 1, 1, threshold);
    const std::size_t ways = engines.size();

    // The ratio to the reference loop, on a prefix of the factor loop.
    int32_t prefix = 0;
    double refSeconds = 0;
    std::vector<double> prefixSeconds(ways, 0);
    const bool compared = !tree && n >= 4 && refSteps >= 1;
    if (compared) {
        prefix = PrefixFor(n, refSteps);
        std::vector<double> refTimes;
        std::vector<std::vector<double>> times(ways);
        RunState scratch;
        for (int r = 0; r < reps; ++r) {
            refTimes.push_back(TimedRun(scratch, prefix, reference));
            for (std::size_t w = 0; w < ways; ++w)
                times[w].push_back(TimedRun(scratch, prefix, engines[w]));
        }
        refSeconds = Median(refTimes);
        for (std::size_t w = 0; w < ways; ++w) prefixSeconds[w] = Median(times[w]);
    }

    // Whole runs of N, the thread counts and GMP taking turns.
    RunState rs;
    std::vector<std::vector<double>> wall(ways), treeTime(ways), longest(ways), estimate(ways);
    std::vector<double> gmp, gmpProduct, gmpConversion;
    for (int r = 0; r < reps; ++r) {
        for (std::size_t w = 0; w < ways; ++w) {
            double error = 0;
            wall[w].push_back(TimedRun(rs, n, engines[w], &error));
            estimate[w].push_back(error);
            const TreeStats& stats = engines[w].LastTree();
            treeTime[w].push_back(stats.seconds);
            longest[w].push_back(stats.longestJobSeconds);
        }
        if (tree && n >= 4) {
            const GmpTimes g = TimeGmp(n);
            if (g.digits != static_cast<std::size_t>(rs.DigitCount)) {
                std::fprintf(stderr, "kaldrome-bench: GMP's n! has %zu digits, ours %d\n", g.digits,
                             rs.DigitCount);
                return 1;
            }
            gmp.push_back(g.product + g.conversion);
            gmpProduct.push_back(g.product);
            gmpConversion.push_back(g.conversion);
        }
    }

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

    std::printf("N              %d\n", n);
    std::printf("threads       ");
    for (int t : threads) std::printf(" %12d", t);
    std::printf("\nwall time     ");
    for (const auto& w : wall) std::printf(" %9.3f ms", 1e3 * Median(w));
    std::printf("   (medians of %d: whole runs, check and display text included)\n", reps);
    if (tree && n >= 4) {
        std::printf("  tree        ");
        for (const auto& t : treeTime) std::printf(" %9.3f ms", 1e3 * Median(t));
        std::printf("   (the product tree in decimal limbs: no conversion, 0%% of the time)\n");
        std::printf("  longest step");
        for (const auto& l : longest) std::printf(" %9.3f ms", 1e3 * Median(l));
        std::printf("   (%zu jobs)\n", engines[0].LastTree().jobs);
        std::printf("  estimate off");
        for (const auto& e : estimate) std::printf(" %10.1f %%", 100 * Median(e));
        std::printf("   (at the first report past 25%%, from the run's time)\n");
        std::printf(
            "GMP            %9.3f ms   (mpz_fac_ui %.3f ms + mpz_get_str %.3f ms, one thread)\n",
            1e3 * Median(gmp), 1e3 * Median(gmpProduct), 1e3 * Median(gmpConversion));
        std::printf("vs GMP        ");
        for (const auto& w : wall) std::printf(" %11.2fx", Median(w) / Median(gmp));
        std::printf("   (our time over GMP's: below 1 is faster)\n");
    } else {
        const uint64_t steps = n >= 4 ? CountLimbSteps(n) : 0;  // N <= 3 runs no pass
        std::printf("kernel         %s, %d factors per pass\n",
                    std::string(KernelName(kernel)).c_str(), engines[0].FactorsPerPass());
        std::printf("limb steps     %llu   (of the factor-by-factor loop)\n",
                    static_cast<unsigned long long>(steps));
        std::printf("ns per step   ");
        for (const auto& w : wall)
            std::printf(" %9.4f", steps ? Median(w) * 1e9 / static_cast<double>(steps) : 0.0);
        std::printf("\nvs first      ");
        for (const auto& w : wall) std::printf(" %8.2fx", Median(wall[0]) / Median(w));
        if (compared) {
            std::printf("\nvs reference  ");
            for (double sec : prefixSeconds) std::printf(" %8.1fx", refSeconds / sec);
            std::printf("   (%d!: reference loop %.3f s, medians of %d)", prefix, refSeconds, reps);
        }
        std::printf("\n");
    }
    if (n >= 4) {
        std::printf("render time    %.4f s   (display text, %zu characters)\n", Median(render),
                    rs.DisplayText.size());
        std::printf("check time     %.2f ms  (residues and digit count, median of %zu)\n",
                    Median(check) * 1e3, check.size());
    }
    std::printf("digits         %d\n", rs.DigitCount);
    return 0;
}
