#include "engine/product_tree.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>

#include "base/check.h"
#include "base/run_state.h"
#include "engine/ntt.h"

namespace kaldrome {

namespace {

constexpr double Log10Of2 = 0.30102999566398120;
constexpr double Log10Of5 = 0.69897000433601880;

// 18 factors below 10^6 multiply into at most 10^108, which a multiplier's 16
// limbs hold.
constexpr int FactorsPerPass = 18;
static_assert(6 * FactorsPerPass <= LimbDigits * MaxMultiplierLimbs);

// The exponent of 2 in k!.
uint64_t TwosIn(int64_t k) {
    return k <= 0 ? 0
                  : static_cast<uint64_t>(k) -
                        static_cast<uint64_t>(std::popcount(static_cast<uint64_t>(k)));
}

// The exponent of 5 in k!.
uint64_t FivesIn(int64_t k) {
    uint64_t e = 0;
    for (int64_t q = 5; q <= k; q *= 5) e += static_cast<uint64_t>(k / q);
    return e;
}

double Log10Factorial(int32_t k) {
    return k < 2 ? 0 : std::lgamma(static_cast<double>(k) + 1) / std::log(10.0);
}

void Trim(DecimalNumber& x) {
    while (x.size() > 1 && x.back() == 0) x.pop_back();
}

void Release(DecimalNumber& x) {
    DecimalNumber().swap(x);
}

Multiplier MultiplierOf(const uint32_t* factors, int count) {
    Multiplier m;
    m.count = 1;
    m.limb[0] = 1;
    const auto base = static_cast<uint64_t>(LimbBase);
    for (int f = 0; f < count; ++f) {
        uint64_t carry = 0;
        for (int32_t k = 0; k < m.count; ++k) {
            const uint64_t p = m.limb[k] * static_cast<uint64_t>(factors[f]) + carry;
            carry = p / base;
            m.limb[k] = static_cast<uint32_t>(p - carry * base);
        }
        while (carry != 0) {
            m.limb[m.count++] = static_cast<uint32_t>(carry % base);
            carry /= base;
        }
    }
    return m;
}

// x *= m, one pass of the kernel over all of x and the limbs the product adds.
void MultiplyInPlace(DecimalNumber& x, const Multiplier& m, GroupKernel kernel) {
    const std::size_t span = x.size() + static_cast<std::size_t>(m.count) - 1;
    // Zeros above: the old limbs there, two limbs for the carry out, and the
    // slack that the vector kernels may read past the end.
    x.resize(span + 2 + Limbs::Slack, 0);
    int32_t window[MaxMultiplierLimbs] = {};  // nothing below limb 0
    const uint64_t carry = kernel(x.data(), span, m, window, 0);
    const auto base = static_cast<uint64_t>(LimbBase);
    x[span] = static_cast<int32_t>(carry % base);
    x[span + 1] = static_cast<int32_t>(carry / base);  // carry < 16 * 10^7
    x.resize(span + 2);
    Trim(x);
}

// A product of more than one step's cost, as its transforms: four forward
// ones at once, then the two inverse ones, then the recombination.
struct SteppedProduct {
    std::unique_ptr<NttProduct> product;
};

}  // namespace

TensTakenOut TensOf(int32_t n) {
    TensTakenOut t;
    t.tens = FivesIn(n);
    if (t.tens == 0) return t;
    // The first factor by which the 2s of the factors up to it reach `tens`.
    int32_t lo = 1, hi = n;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (TwosIn(mid) >= t.tens)
            hi = mid;
        else
            lo = mid + 1;
    }
    t.lastTwo = lo;
    t.keptTwos = static_cast<int32_t>(TwosIn(lo) - t.tens);
    return t;
}

uint32_t FactorWithoutTens(uint32_t k, const TensTakenOut& tens) {
    KALDROME_ASSERT(k >= 1);
    const auto index = static_cast<int32_t>(k);
    while (k % 5 == 0) k /= 5;
    const int twos = std::countr_zero(k);
    if (index < tens.lastTwo) return k >> twos;
    if (index == tens.lastTwo) return k >> (twos - tens.keptTwos);
    return k;
}

double ProductLimbs(int32_t lo, int32_t hi, const TensTakenOut& tens) {
    if (hi < lo) return 0;
    const int64_t last = tens.lastTwo;
    double twos = static_cast<double>(TwosIn(std::min<int64_t>(hi, last)) -
                                      TwosIn(std::min<int64_t>(lo - 1, last)));
    if (lo <= last && last <= hi) twos -= tens.keptTwos;
    const double digits = Log10Factorial(hi) - Log10Factorial(lo - 1) -
                          Log10Of5 * static_cast<double>(FivesIn(hi) - FivesIn(lo - 1)) -
                          Log10Of2 * twos;
    return std::max(digits, 0.0) / LimbDigits + 1;
}

void LeafProduct(DecimalNumber& out, int32_t lo, int32_t hi, const TensTakenOut& tens,
                 uint32_t first, GroupKernel kernel) {
    KALDROME_ASSERT(first >= 1 && first < static_cast<uint32_t>(LimbBase));
    out.assign(1, static_cast<int32_t>(first));
    uint32_t group[FactorsPerPass];
    int count = 0;
    for (int32_t k = lo; k <= hi; ++k) {
        const uint32_t f = FactorWithoutTens(static_cast<uint32_t>(k), tens);
        if (f == 1) continue;
        group[count++] = f;
        if (count == FactorsPerPass) {
            MultiplyInPlace(out, MultiplierOf(group, count), kernel);
            count = 0;
        }
    }
    if (count > 0) MultiplyInPlace(out, MultiplierOf(group, count), kernel);
}

JobGraph::Id PlanMultiply(JobGraph& graph, NumberStore&, DecimalNumber& out, DecimalNumber& a,
                          DecimalNumber& b, double aLimbs, double bLimbs,
                          const std::vector<JobGraph::Id>& after, const TreeTuning& tuning) {
    const auto na = static_cast<std::size_t>(std::max(aLimbs, 1.0));
    const auto nb = static_cast<std::size_t>(std::max(bLimbs, 1.0));
    const double cost = ProductCost(na, nb);
    if (cost <= tuning.stepCost || std::min(na, nb) < SchoolbookLimbs) {
        return graph.Add(
            cost,
            [&out, &a, &b] {
                out.assign(a.size() + b.size(), 0);
                MultiplyLimbs(a.data(), a.size(), b.data(), b.size(), out.data());
                Trim(out);
                Release(a);
                Release(b);
            },
            after);
    }
    auto steps = std::make_shared<SteppedProduct>();
    const std::size_t length = TransformLength(na, nb);
    const JobGraph::Id begin = graph.Add(
        0,
        [steps, &out, &a, &b] {
            out.assign(a.size() + b.size(), 0);
            steps->product =
                std::make_unique<NttProduct>(a.data(), a.size(), b.data(), b.size(), out.data());
        },
        after);
    std::vector<JobGraph::Id> inverse;
    for (int prime = 0; prime < 2; ++prime) {
        std::vector<JobGraph::Id> forward;
        for (int operand = 0; operand < 2; ++operand)
            forward.push_back(graph.Add(
                TransformCost(length),
                [steps, operand, prime] { steps->product->Forward(operand, prime); }, {begin}));
        inverse.push_back(graph.Add(
            TransformCost(length), [steps, prime] { steps->product->Inverse(prime); }, forward));
    }
    return graph.Add(
        RecombineCost(length),
        [steps, &out, &a, &b] {
            steps->product->Recombine();
            steps->product.reset();
            Trim(out);
            Release(a);
            Release(b);
        },
        inverse);
}

JobGraph::Id PlanProduct(JobGraph& graph, NumberStore& store, DecimalNumber& out, int32_t lo,
                         int32_t hi, const ProductPlan& plan) {
    KALDROME_ASSERT(lo >= 1 && lo <= hi);
    const double limbs = ProductLimbs(lo, hi, plan.tens);
    if (limbs <= plan.tuning.leafLimbs || hi - lo < 2 * FactorsPerPass) {
        const uint32_t first = lo == 1 ? plan.first : 1;
        // A pass over half the final length, on average, for every 18 factors.
        const double cost = (hi - lo + 1.0) / FactorsPerPass * limbs / 2 + 50 * limbs;
        // Reserved here: lgamma is not for several threads at once.
        const auto room = static_cast<std::size_t>(limbs) + 32 + Limbs::Slack;
        return graph.Add(cost, [&out, lo, hi, first, room, tens = plan.tens, kernel = plan.kernel] {
            out.reserve(room);
            LeafProduct(out, lo, hi, tens, first, kernel);
        });
    }
    // The cut that gives both halves about the same length: balanced operands
    // are what the transforms are made for.
    int32_t first = lo, last = hi - 1;
    while (first < last) {
        const int32_t mid = first + (last - first) / 2;
        if (ProductLimbs(lo, mid, plan.tens) * 2 < limbs)
            first = mid + 1;
        else
            last = mid;
    }
    const int32_t cut = first;
    DecimalNumber& a = store.New();
    DecimalNumber& b = store.New();
    const JobGraph::Id aJob = PlanProduct(graph, store, a, lo, cut, plan);
    const JobGraph::Id bJob = PlanProduct(graph, store, b, cut + 1, hi, plan);
    return PlanMultiply(graph, store, out, a, b, ProductLimbs(lo, cut, plan.tens),
                        ProductLimbs(cut + 1, hi, plan.tens), {aJob, bJob}, plan.tuning);
}

}  // namespace kaldrome
