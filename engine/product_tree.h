// The product tree of a run, in base-10^7 limbs, planned as jobs.
//
// n! = 10^tens * m, tens being its trailing zeros: as many as its factors 5,
// since it has more 2s. The tree multiplies the factors 1..n with every 5 and
// `tens` of the 2s taken out, which shortens every operand; the zeros come
// back as whole zero limbs below the product, and the few that do not fill a
// limb as a factor 10^(tens mod 7).
//
// The leaves of the plan are jobs that multiply a range of factors into a
// number of a few thousand limbs with the grouped kernels, 18 factors to a
// pass; the nodes above them multiply two ranges' products by transforms
// (engine/ntt.h), a product too long for one step in steps that run on
// several threads at once. Every node's size is known from its range, so the
// whole plan, and what each job costs, is known before the first job runs.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "engine/job_graph.h"
#include "engine/kernels_multi.h"

namespace kaldrome {

// How a run's work is cut into jobs. The defaults come from the bench; the
// tests make them small, to reach every way of cutting with small numbers.
struct TreeTuning {
    // The largest product, in limbs, that a leaf job makes with the kernels.
    int32_t leafLimbs = 2'048;
    // A product planned to cost more than this (nanoseconds, as ProductCost)
    // is cut into its transforms, run as jobs of their own.
    double stepCost = 20e6;
};

// A number in base-10^7 limbs, least significant first, with no zero limb on
// top (0 is one limb 0).
using DecimalNumber = std::vector<int32_t>;

// The numbers a plan's jobs work on, kept where they do not move.
class NumberStore {
  public:
    DecimalNumber& New() { return numbers_.emplace_back(); }

  private:
    std::deque<DecimalNumber> numbers_;
};

// Which factors give up what: every 5, and the first `tens` 2s in the order
// of the factors.
struct TensTakenOut {
    uint64_t tens = 0;     // n!'s trailing zeros
    int32_t lastTwo = 0;   // factors below it give up all their 2s, factors above none
    int32_t keptTwos = 0;  // the 2s that lastTwo itself keeps
};
TensTakenOut TensOf(int32_t n);

// Factor k (1 <= k <= n) with its share of the tens taken out.
uint32_t FactorWithoutTens(uint32_t k, const TensTakenOut& tens);

// Estimated limbs of the product of FactorWithoutTens(k), k = lo..hi.
double ProductLimbs(int32_t lo, int32_t hi, const TensTakenOut& tens);

// out = first * the product of FactorWithoutTens(k) for k = lo..hi, by passes
// of the grouped kernel over the growing number.
void LeafProduct(DecimalNumber& out, int32_t lo, int32_t hi, const TensTakenOut& tens,
                 uint32_t first, GroupKernel kernel);

// What a plan needs to know beside the range.
struct ProductPlan {
    TensTakenOut tens;
    uint32_t first = 1;  // the factor the lowest leaf starts with
    GroupKernel kernel = &MulGroupReference;
    TreeTuning tuning;
};

// Plans out = a * b, to start once `after` are done; a and b are released
// when it is done. The id is that of the job that leaves out.
JobGraph::Id PlanMultiply(JobGraph& graph, NumberStore& store, DecimalNumber& out, DecimalNumber& a,
                          DecimalNumber& b, double aLimbs, double bLimbs,
                          const std::vector<JobGraph::Id>& after, const TreeTuning& tuning);

// Plans out = the product of the factors lo..hi (lo <= hi) as the plan says.
JobGraph::Id PlanProduct(JobGraph& graph, NumberStore& store, DecimalNumber& out, int32_t lo,
                         int32_t hi, const ProductPlan& plan);

}  // namespace kaldrome
