// The fixed part of a pair's cost, seedWeight*seedDist + histWeight*pcal,
// which does not change during the auction: computed for one bidder against
// many objects at once, and bounded from below from the point counts alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "seedmatch/measure/measure.h"
#include "seedmatch/seed/seed.h"

namespace seedmatch {

// The objects' descriptors, point counts and histograms stored column by
// column, so that the loops run across objects.
struct ObjectColumns {
  std::size_t count = 0;                    // objects stored
  std::array<std::size_t, 4> descLen{};     // common length per descriptor seedDist reads
  std::array<std::vector<double>, 4> desc;  // desc[d][i * count + p]
  std::array<std::vector<float>, 3> pts;    // point counts in single precision
  std::size_t histLen = 0;
  std::vector<double> hist;  // hist[bin * count + p]
};

// True when every seed has the same descriptor and histogram lengths, as
// seeds read from one file do; then ObjectColumns applies.
bool uniformLayout(const SeedSet& seeds);

// The columns of objects[live[p]], with lengths cut to those of bidderShape.
ObjectColumns makeColumns(const SeedSet& objects, const std::vector<std::int32_t>& live,
                          const SEED& bidderShape);

// fixed[p] = weights.seed * seedDist + weights.hist * pcal of bidder and column p,
// bit for bit: every object keeps seedDist's and pcal's order of operations.
// Without withPcal pcal is taken as 0.0, which gives the same bits where
// weights.hist is 0.0 and every pcal is finite.
void fixedRow(const SEED& bidder, const ObjectColumns& columns, const Weights& weights,
              double* fixed, bool withPcal = true);

// True when weights.hist is 0.0 and no pcal of a bidder and an object can be
// NaN or infinite: every fixed part is then weights.seed * seedDist + 0.0.
bool pcalLeftOut(const SeedSet& bidders, const SeedSet& objects, const Weights& weights);

// low[p] = the fixed part with every descriptor distance and pcal taken as
// 0.0. With finite weights that are not negative it is at most the fixed part
// (rounding is monotone), or the fixed part is NaN.
void pointCountLowerBounds(const SEED& bidder, const std::array<std::vector<float>, 3>& objectPts,
                           const Weights& weights, double* low);

// seedDist[p - from] and pcal[p - from] of seed against columns from .. to - 1,
// with the same bits as seedDist and pcal (both symmetric in their operands).
void termsRange(const SEED& seed, const ObjectColumns& columns, const SeedDistWeights& w,
                std::size_t from, std::size_t to, double* seedDist, double* pcal);

bool finiteNonNegative(std::initializer_list<double> values);

}  // namespace seedmatch
