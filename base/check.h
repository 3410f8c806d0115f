// KALDROME_ASSERT(condition): a precondition that holds unless the program
// itself is wrong. Checked in Debug and sanitized builds, where a broken one
// stops the program at once with its place; compiled out of release builds,
// so that checks inside the kernels cost nothing there.
#pragma once

#include <cstdio>
#include <cstdlib>

#if !defined(NDEBUG) || defined(KALDROME_SANITIZE)
#define KALDROME_ASSERTS 1
#define KALDROME_ASSERT(condition)      \
    ((condition) ? static_cast<void>(0) \
                 : ::kaldrome::AssertionFailed(#condition, __FILE__, __LINE__))
#else
#define KALDROME_ASSERTS 0
#define KALDROME_ASSERT(condition) static_cast<void>(0)
#endif

namespace kaldrome {

[[noreturn]] inline void AssertionFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: assertion failed: %s\n", file, line, condition);
    std::abort();
}

}  // namespace kaldrome
