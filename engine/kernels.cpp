#include "engine/kernels.h"

#include <array>
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
    return __builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("ssse3") &&
           __builtin_cpu_supports("popcnt");
}
#endif

struct KernelEntry {
    KernelKind kind;
    std::string_view name;
    MulKernel function;  // nullptr where this CPU cannot run the kernel
    GroupKernel group;   // likewise
    // What kaldrome-bench measured best (README, Performance): every vector
    // kernel still gains at the 18 that fit the multiplier; the portable one
    // levels off from 14, where its old limbs no longer fit the registers.
    int32_t factorsPerPass;
};

constexpr std::size_t KernelKinds = std::size(AllKernelKinds);

// Every kernel, in the order of KernelKind (slowest first).
const std::array<KernelEntry, KernelKinds>& KernelTable() {
    // Read once: the CPU's features do not change while the program runs.
    static const std::array<KernelEntry, KernelKinds> table = [] {
#if defined(__x86_64__)
        // The table may be filled while static objects are still being built,
        // before the runtime has read the CPU's features on its own.
        __builtin_cpu_init();
        const bool avx2 = __builtin_cpu_supports("avx2");
        const bool avx512 =
            __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
        const bool ifma = avx512 && __builtin_cpu_supports("avx512ifma");
        return std::array<KernelEntry, KernelKinds>{{
            {KernelKind::Reference, "reference", &MulLimbsReference, &MulGroupReference, 18},
            {KernelKind::Portable, "portable", X86V2() ? &MulLimbsPortableV2 : &MulLimbsPortable,
             &MulGroupPortable, 14},
            {KernelKind::Avx2, "avx2", avx2 ? &MulLimbsAvx2 : nullptr,
             avx2 ? &MulGroupAvx2 : nullptr, 18},
            {KernelKind::Avx512, "avx512", avx512 ? &MulLimbsAvx512 : nullptr,
             avx512 ? &MulGroupAvx512 : nullptr, 18},
            {KernelKind::Avx512Ifma, "avx512ifma", ifma ? &MulLimbsAvx512 : nullptr,
             ifma ? &MulGroupAvx512Ifma : nullptr, 18},
        }};
#else
        return std::array<KernelEntry, KernelKinds>{{
            {KernelKind::Reference, "reference", &MulLimbsReference, &MulGroupReference, 18},
            {KernelKind::Portable, "portable", &MulLimbsPortable, &MulGroupPortable, 14},
            {KernelKind::Avx2, "avx2", nullptr, nullptr, 18},
            {KernelKind::Avx512, "avx512", nullptr, nullptr, 18},
            {KernelKind::Avx512Ifma, "avx512ifma", nullptr, nullptr, 18},
        }};
#endif
    }();
    return table;
}

const KernelEntry& EntryFor(KernelKind kind) {
    const KernelEntry& entry = KernelTable()[static_cast<std::size_t>(kind)];
    KALDROME_ASSERT(entry.kind == kind);
    return entry;
}

}  // namespace

bool KernelSupported(KernelKind kind) {
    return KernelFor(kind) != nullptr;
}

MulKernel KernelFor(KernelKind kind) {
    return EntryFor(kind).function;
}

GroupKernel GroupKernelFor(KernelKind kind) {
    return EntryFor(kind).group;
}

int32_t DefaultFactorsPerPass(KernelKind kind) {
    return EntryFor(kind).factorsPerPass;
}

std::string_view KernelName(KernelKind kind) {
    return EntryFor(kind).name;
}

bool ParseKernelName(std::string_view name, KernelKind& kind) {
    for (const KernelEntry& entry : KernelTable()) {
        if (name == entry.name) {
            kind = entry.kind;
            return true;
        }
    }
    return false;
}

KernelKind BestKernel() {
    const auto& table = KernelTable();
    for (auto entry = table.rbegin(); entry != table.rend(); ++entry)
        if (entry->function != nullptr) return entry->kind;
    return KernelKind::Reference;
}

}  // namespace kaldrome
