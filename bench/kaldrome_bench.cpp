// kaldrome-bench N: computes N! through the engine the window uses, without a window.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/factorial_engine.h"
#include "engine/kernels.h"
#include "resulttext/result_text.h"

using namespace kaldrome;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kaldrome-bench N   (0 <= N <= 999999)\n");
        return 2;
    }
    const auto n = ParseTarget(argv[1]);
    if (!n) {
        std::fprintf(stderr, "kaldrome-bench: N must be a whole number from 0 to 999999\n");
        return 2;
    }
    RunState rs;
    const auto t0 = std::chrono::steady_clock::now();
    ComputeHeadless(rs, *n);
    const auto t1 = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(t1 - t0).count();
    const uint64_t steps = CountLimbSteps(*n);
    std::printf("N              %d\n", *n);
    std::printf("kernel         %s\n", std::string(KernelName(ActiveKernel())).c_str());
    std::printf("wall time      %.3f s\n", seconds);
    std::printf("limb steps     %llu\n", static_cast<unsigned long long>(steps));
    std::printf("ns per step    %.3f\n", steps ? seconds * 1e9 / static_cast<double>(steps) : 0.0);
    std::printf("digits         %d\n", rs.DigitCount);
    return 0;
}
