#include "engine/kernels.h"

#include <cmath>

namespace kaldrome {

uint32_t MulLimbsReference(int32_t* limbs, std::size_t n, uint32_t factor, uint32_t carry) {
    CheckKernelArguments(limbs, n, factor, carry);
    constexpr auto base = static_cast<uint64_t>(LimbBase);
    for (std::size_t j = 0; j < n; ++j) {
        const uint64_t p = static_cast<uint64_t>(static_cast<uint32_t>(limbs[j])) * factor + carry;
        carry = static_cast<uint32_t>(p / base);
        limbs[j] = static_cast<int32_t>(p - static_cast<uint64_t>(carry) * base);
    }
    return carry;
}

uint32_t RippleFix(int32_t* limbs, std::size_t n, uint32_t carryOut) {
    uint32_t in = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const int32_t v = limbs[k] + static_cast<int32_t>(in);
        in = v >= LimbBase;
        limbs[k] = in ? v - LimbBase : v;
    }
    return carryOut + in;
}

float LowQuotientScale(uint32_t factor) {
    return static_cast<float>(static_cast<double>(factor) / static_cast<double>(LimbBase) *
                              (1 - std::ldexp(1.0, -22)));
}

namespace {

#if defined(__x86_64__)
bool X86V2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("ssse3") &&
           __builtin_cpu_supports("popcnt");
}
#endif

bool CpuHas(KernelKind kind) {
#if defined(__x86_64__)
    // The kernel is chosen while static objects are still being built, which may
    // be before the runtime has read the CPU's features on its own.
    __builtin_cpu_init();
    switch (kind) {
        case KernelKind::Avx2:
            return __builtin_cpu_supports("avx2");
        case KernelKind::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
        default:
            return true;
    }
#else
    return kind == KernelKind::Reference || kind == KernelKind::Portable;
#endif
}

}  // namespace

bool KernelSupported(KernelKind kind) {
    return KernelFor(kind) != nullptr;
}

MulKernel KernelFor(KernelKind kind) {
    if (!CpuHas(kind)) return nullptr;
    switch (kind) {
        case KernelKind::Reference:
            return &MulLimbsReference;
#if defined(__x86_64__)
        case KernelKind::Portable:
            return X86V2() ? &MulLimbsPortableV2 : &MulLimbsPortable;
        case KernelKind::Avx2:
            return &MulLimbsAvx2;
        case KernelKind::Avx512:
            return &MulLimbsAvx512;
#else
        case KernelKind::Portable:
            return &MulLimbsPortable;
        default:
            break;
#endif
    }
    return nullptr;
}

std::string_view KernelName(KernelKind kind) {
    switch (kind) {
        case KernelKind::Reference:
            return "reference";
        case KernelKind::Portable:
            return "portable";
        case KernelKind::Avx2:
            return "avx2";
        case KernelKind::Avx512:
            return "avx512";
    }
    return "unknown";
}

bool ParseKernelName(std::string_view name, KernelKind& kind) {
    for (KernelKind k :
         {KernelKind::Reference, KernelKind::Portable, KernelKind::Avx2, KernelKind::Avx512}) {
        if (name == KernelName(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

KernelKind BestKernel() {
    static const KernelKind best = [] {
        for (KernelKind k : {KernelKind::Avx512, KernelKind::Avx2, KernelKind::Portable})
            if (KernelSupported(k)) return k;
        return KernelKind::Reference;
    }();
    return best;
}

namespace {
KernelKind activeKernel = BestKernel();
MulKernel activeFunction = KernelFor(activeKernel);
}  // namespace

KernelKind ActiveKernel() {
    return activeKernel;
}
void SetActiveKernel(KernelKind kind) {
    if (!KernelSupported(kind)) return;
    activeKernel = kind;
    activeFunction = KernelFor(kind);
}
MulKernel ActiveKernelFunction() {
    return activeFunction;
}

}  // namespace kaldrome
