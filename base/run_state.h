// The per-run record of the main window and the number it computes.
//
// One RunState exists per main window; every run overwrites it. Limbs hold the
// number in base 10^7, least significant limb first, indexed from 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/check.h"

namespace kaldrome {

inline constexpr int32_t LimbBase = 10'000'000;
inline constexpr int LimbDigits = 7;
inline constexpr int32_t CapacityThreshold = 8'000;
inline constexpr int32_t MaxTarget = 999'999;

// A 1-based array of limbs. Index 0 does not exist for callers; the storage
// carries zeroed slack past the last index so that block kernels may read a
// whole vector beyond the end without any index the program sees changing.
class Limbs {
  public:
    static constexpr std::size_t Slack = 64;

    // Drops the old array and creates indices 1..capacity, all 0.
    void Create(int32_t capacity);

    int32_t Capacity() const { return capacity_; }
    bool Empty() const { return capacity_ == 0; }

    int32_t& operator()(int32_t k) {
        KALDROME_ASSERT(k >= 1 && k <= capacity_);
        return store_[static_cast<std::size_t>(k) - 1];
    }
    int32_t operator()(int32_t k) const {
        KALDROME_ASSERT(k >= 1 && k <= capacity_);
        return store_[static_cast<std::size_t>(k) - 1];
    }

    // Pointer to limb 1; limb k is at Data()[k - 1].
    int32_t* Data() { return store_.data(); }
    const int32_t* Data() const { return store_.data(); }

  private:
    std::vector<int32_t> store_;
    int32_t capacity_ = 0;
};

struct RunState {
    int32_t Target = 0;
    int32_t Carry = 0;
    int32_t LimbCount = 0;
    int32_t ScanBound = 0;
    double Product = 0;
    double Remainder = 0;
    int32_t Multiplier = 0;
    float StartTime = 0;
    float ElapsedSeconds = 0;
    float ElapsedHoursReal = 0;
    float ElapsedMinutesReal = 0;
    int32_t ElapsedH = 0;
    int32_t ElapsedM = 0;
    int32_t ElapsedS = 0;
    float EstimatedSeconds = 0;
    float EstimatedHoursReal = 0;
    float EstimatedMinutesReal = 0;
    int32_t EstimatedH = 0;
    int32_t EstimatedM = 0;
    int32_t EstimatedS = 0;
    std::string DisplayText;
    int32_t GroupCount = 0;
    int32_t DigitCount = 0;
    std::string PlainText;
    kaldrome::Limbs Limbs;
    bool PlainTextReady = false;
    float Percent = 0;
};

// Set by Stop, cleared at the start of every run, read by the multiplication
// after every limb step that does not end its pass. One thread: no atomics.
extern bool StopRequested;

}  // namespace kaldrome
