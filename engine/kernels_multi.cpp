#include "engine/kernels_multi.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "base/run_state.h"

namespace kaldrome {

namespace {

constexpr auto Base = static_cast<uint64_t>(LimbBase);

// 10^(6 * 18) < 10^112 = (10^7)^16: any 18 factors below 10^6 fit the limbs.
static_assert(MaxMultiplierLimbs * 7 >= 18 * 6);

}  // namespace

uint64_t MulGroupReference(int32_t* limbs, std::size_t n, const Multiplier& multiplier,
                           int32_t* window, uint64_t carry) {
    CheckGroupKernelArguments(limbs, n, multiplier, window, carry);
    const int32_t m = multiplier.count;
    // old[k] is the old limb at j - (m - 1) + k while limb j is worked on.
    int32_t old[MaxMultiplierLimbs];
    for (int32_t k = 0; k + 1 < m; ++k) old[k] = window[k];
    for (std::size_t j = 0; j < n; ++j) {
        old[m - 1] = limbs[j];
        uint64_t s = carry;
        for (int32_t i = 0; i < m; ++i)
            s += static_cast<uint64_t>(static_cast<uint32_t>(old[m - 1 - i])) * multiplier.limb[i];
        carry = s / Base;
        limbs[j] = static_cast<int32_t>(s - carry * Base);
        for (int32_t k = 0; k + 1 < m; ++k) old[k] = old[k + 1];
    }
    for (int32_t k = 0; k + 1 < m; ++k) window[k] = old[k];
    return carry;
}

namespace {

// The reference loop with the multiplier's length known to the compiler: the
// old limbs then stay in registers and the column sum is unrolled.
template <int M>
uint64_t PortableBody(int32_t* limbs, std::size_t n, const uint32_t* limb, int32_t* window,
                      uint64_t carry) {
    uint64_t b[static_cast<std::size_t>(M)];
    for (int i = 0; i < M; ++i) b[i] = limb[i];
    // below[k] is the old limb at j - 1 - k.
    uint64_t below[static_cast<std::size_t>(M > 1 ? M - 1 : 1)] = {};
    for (int k = 0; k + 1 < M; ++k) below[k] = static_cast<uint32_t>(window[M - 2 - k]);
    for (std::size_t j = 0; j < n; ++j) {
        const uint64_t a = static_cast<uint32_t>(limbs[j]);
        uint64_t s = carry + a * b[0];
        for (int i = 1; i < M; ++i) s += below[i - 1] * b[i];
        for (int k = M - 2; k > 0; --k) below[k] = below[k - 1];
        if constexpr (M > 1) below[0] = a;
        carry = s / Base;
        limbs[j] = static_cast<int32_t>(s - carry * Base);
    }
    for (int k = 0; k + 1 < M; ++k) window[M - 2 - k] = static_cast<int32_t>(below[k]);
    return carry;
}

template <std::size_t... I>
constexpr auto PortableTable(std::index_sequence<I...>) {
    using Body = uint64_t (*)(int32_t*, std::size_t, const uint32_t*, int32_t*, uint64_t);
    return std::array<Body, sizeof...(I)>{&PortableBody<static_cast<int>(I) + 1>...};
}

}  // namespace

uint64_t MulGroupPortable(int32_t* limbs, std::size_t n, const Multiplier& multiplier,
                          int32_t* window, uint64_t carry) {
    CheckGroupKernelArguments(limbs, n, multiplier, window, carry);
    static constexpr auto bodies = PortableTable(std::make_index_sequence<MaxMultiplierLimbs>());
    if (n < static_cast<std::size_t>(multiplier.count) - 1) {
        // The window then mixes old limbs from below with this block's; the
        // plain loop keeps that straight.
        return MulGroupReference(limbs, n, multiplier, window, carry);
    }
    return bodies[static_cast<std::size_t>(multiplier.count - 1)](limbs, n, multiplier.limb, window,
                                                                  carry);
}

double InverseBaseLow() {
    return std::nextafter(std::nextafter(1e-7, 0.0), 0.0);
}

uint64_t AddCarry(int32_t* limbs, std::size_t n, uint64_t carry) {
    for (std::size_t k = 0; k < n && carry != 0; ++k) {
        const uint64_t v = static_cast<uint32_t>(limbs[k]) + carry;
        carry = v / Base;
        limbs[k] = static_cast<int32_t>(v - carry * Base);
    }
    return carry;
}

void AdvanceWindow(int32_t* window, int32_t count, const int32_t* limbs, std::size_t n) {
    if (count <= 1) return;
    const auto width = static_cast<std::size_t>(count - 1);
    if (n >= width) {
        std::copy(limbs + (n - width), limbs + n, window);
    } else {
        std::copy(window + n, window + width, window);
        std::copy(limbs, limbs + n, window + (width - n));
    }
}

}  // namespace kaldrome
