#include "base/run_state.h"

namespace kaldrome {

bool StopRequested = false;

void Limbs::Create(int32_t capacity) {
    // A fresh vector rather than assign(): the old array is released first, so
    // peak memory never holds two arrays of a large run.
    std::vector<int32_t>().swap(store_);
    store_.assign(static_cast<std::size_t>(capacity) + Slack, 0);
    capacity_ = capacity;
}

}  // namespace kaldrome
