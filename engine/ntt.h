// Products of large numbers in base-10^7 limbs by number-theoretic
// transforms, so that the result needs no conversion to decimal.
//
// Two limbs go into one coefficient (base 10^14). The product is computed
// modulo two primes just below 2^62, p = k * 2^32 + 1, whose pair holds every
// coefficient of a product of up to 10^9 coefficients, and recombined by the
// Chinese remainder theorem with the carries into limbs. The transforms are
// iterative, radix 2, of a power-of-two length, with each twiddle's quotient
// precomputed (Shoup's multiplication) and values kept below 2p between the
// levels (Harvey's butterflies). Below SchoolbookLimbs the plain product is
// faster, and it is the reference the transforms are tested against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kaldrome {

// Below this many limbs in the smaller operand, MultiplyLimbs multiplies
// plainly (timed: the transforms win from 128 to 192 limbs on).
inline constexpr std::size_t SchoolbookLimbs = 160;

// out[0 .. na + nb) = a[0 .. na) * b[0 .. nb), column by column. nb, the
// smaller count, must stay below 180,000 so that no column sum overflows.
void MultiplySchoolbook(const int32_t* a, std::size_t na, const int32_t* b, std::size_t nb,
                        int32_t* out);

// The transform length a product of na by nb limbs uses: a power of two.
std::size_t TransformLength(std::size_t na, std::size_t nb);

// The primes and their roots, for the tests.
inline constexpr uint64_t NttPrimes[2] = {4'611'685'941'117'976'577ULL,
                                          4'611'685'692'009'873'409ULL};
inline constexpr uint64_t NttGenerators[2] = {3, 19};

// A table of roots of unity (engine/ntt.cpp).
struct NttTwiddles;

// One product by transforms, in steps that may run on different threads:
//   Forward(operand, prime), for operands 0 (a) and 1 (b) and primes 0 and 1,
//     independent of each other;
//   Inverse(prime), once both Forward steps of that prime are done;
//   Recombine(), once both Inverse steps are done: writes out[0 .. na + nb).
// The operands must stay as they are until their Forward steps are done.
class NttProduct {
  public:
    NttProduct(const int32_t* a, std::size_t na, const int32_t* b, std::size_t nb, int32_t* out);
    ~NttProduct();
    NttProduct(const NttProduct&) = delete;
    NttProduct& operator=(const NttProduct&) = delete;

    void Forward(int operand, int prime);
    void Inverse(int prime);
    void Recombine();
    // Every step in order, on the calling thread.
    void Run();

    std::size_t Length() const { return length_; }

  private:
    const int32_t* operand_[2];
    std::size_t limbs_[2];
    int32_t* out_;
    std::size_t length_;
    std::vector<uint64_t> data_[2][2];  // [prime][operand], transformed in place
    std::shared_ptr<const NttTwiddles> twiddles_[2];
};

// Makes the table of roots of unity that transforms up to `length` need, so
// that the first product of that length does not wait for it. A table lives
// while a product or a holder of this pointer uses it.
std::shared_ptr<const NttTwiddles> PrepareTwiddles(int prime, std::size_t length);

// out[0 .. na + nb) = a * b, plainly or by transforms, whichever is faster.
void MultiplyLimbs(const int32_t* a, std::size_t na, const int32_t* b, std::size_t nb,
                   int32_t* out);

// What the steps cost, in nanoseconds of one core of the development
// machine; a plan uses only their ratios.
double TransformCost(std::size_t length);  // one Forward, or one Inverse
double RecombineCost(std::size_t length);
double SchoolbookCost(std::size_t na, std::size_t nb);
double ProductCost(std::size_t na, std::size_t nb);  // as MultiplyLimbs does it

}  // namespace kaldrome
