#include "engine/kernels.h"

namespace kaldrome {

uint32_t MulLimbsReference(int32_t* limbs, std::size_t n, uint32_t factor, uint32_t carry) {
    for (std::size_t j = 0; j < n; ++j) {
        const uint64_t p = static_cast<uint64_t>(static_cast<uint32_t>(limbs[j])) * factor + carry;
        carry = static_cast<uint32_t>(p / 10'000'000u);
        limbs[j] = static_cast<int32_t>(p - static_cast<uint64_t>(carry) * 10'000'000u);
    }
    return carry;
}

bool KernelSupported(KernelKind kind) { return kind == KernelKind::Reference; }

MulKernel KernelFor(KernelKind kind) {
    return kind == KernelKind::Reference ? &MulLimbsReference : nullptr;
}

std::string_view KernelName(KernelKind kind) {
    switch (kind) {
        case KernelKind::Reference: return "reference";
        case KernelKind::Portable: return "portable";
        case KernelKind::Avx2: return "avx2";
        case KernelKind::Avx512: return "avx512";
    }
    return "unknown";
}

KernelKind BestKernel() { return KernelKind::Reference; }

namespace {
KernelKind activeKernel = BestKernel();
}

KernelKind ActiveKernel() { return activeKernel; }
void SetActiveKernel(KernelKind kind) {
    if (KernelSupported(kind)) activeKernel = kind;
}

}  // namespace kaldrome
