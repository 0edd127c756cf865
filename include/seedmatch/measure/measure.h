// Vector distances, emptiness tests and the three costs of a candidate pair.
// Every function here is pure: it does not throw, does not allocate and reads
// its operands in place. The order of every sum is fixed, since costs are
// compared with each other and with a threshold.
#pragma once

#include <cstdint>
#include <span>

#include "seedmatch/measure/weights.h"
#include "seedmatch/seed/seed.h"

namespace seedmatch {

using Vec = std::span<const double>;

// Euclidean distance over the common length of a and b, summed in index order.
double l2(Vec a, Vec b);
// Root mean square difference over the common length; NaN when either is empty.
double l2V2(Vec a, Vec b);
// valueBoth, valueOnlyA or valueOnlyB by the flags; l2(a, b) when neither is set.
double l2HB(Vec a, Vec b, bool flagA, bool flagB, double valueBoth, double valueOnlyB,
            double valueOnlyA);
// True when every entry equals 0.0 (-0.0 included, NaN not).
bool check_zero_patch(Vec v);
// |a - b| / 250 with the conversion and subtraction in single precision.
double pts_diff(std::int32_t a, std::int32_t b);
// 1 when desc[0] does not sum to a positive value in a single-precision
// accumulator (each addition done in double), 0 otherwise.
int isZero(const SEED& seed);

// seedDist together with the terms it is built from.
struct SeedDistTerms {
  double dDesc0, dDesc1, dDesc2, dDesc4;
  double dPts0, dPts1, dPts01, dPts2;
  double seedDist;
};

// The terms of seedDist(s1, s2), with s1's fields as first operands, and their
// weighted sum added strictly left to right.
SeedDistTerms seedDistTerms(const SEED& s1, const SEED& s2, const SeedDistWeights& w);
double seedDist(const SEED& s1, const SEED& s2, const SeedDistWeights& w);

// l2 of the two neighbour-distance histograms; setSize has no effect.
double pcal(const SEED& s1, const SEED& s2, std::int32_t setSize);

// Mean of |objects[object].neibDist[k] - bidders[bidder].neibDist[owner[k]]|
// over held objects k other than object, divided by divisor; 0.0 when there is
// no such k. Requires objects[object].neibDist to cover the owner list and
// bidders[bidder].neibDist to cover every bidder index it holds.
double rpd(const SeedSet& bidders, const SeedSet& objects, std::int32_t bidder, std::int32_t object,
           std::span<const std::int32_t> owner, std::int32_t divisor);

}  // namespace seedmatch
