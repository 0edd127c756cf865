// The parts of every pair's cost that no weight changes, prepared once for
// two seed sets and shared by any number of auctions over them.
#pragma once

#include <cstddef>
#include <stop_token>
#include <vector>

#include "seedmatch/measure/measure.h"
#include "seedmatch/seed/seed.h"

namespace seedmatch {

// seedDist and pcal of every pair of seeds of two sets, set 1 by rows.
struct PairTerms {
  std::size_t size1 = 0, size2 = 0;  // set1.size(), set2.size()
  std::vector<double> seedDist;      // [i1 * size2 + i2], seedDist(set1[i1], set2[i2], w)
  std::vector<double> pcal;          // [i1 * size2 + i2], pcal(set1[i1], set2[i2])
};

// The terms of every pair, with the bits the auction computes them with. Uses
// up to two threads over the rows; each value is formed on its own, so the
// result does not depend on them. On a stop request it returns soon, with the
// terms incomplete.
PairTerms preparePairTerms(const SeedSet& set1, const SeedSet& set2, const SeedDistWeights& w,
                           std::stop_token stop = {});

}  // namespace seedmatch
