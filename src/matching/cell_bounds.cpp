#include "cell_bounds.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace seedmatch {
namespace {

constexpr double kLargestDistance = 1e150;

bool rowsSuit(const SeedSet& seeds) {
  const std::size_t n = seeds.size();
  for (const SEED& s : seeds) {
    for (std::size_t k = 0; k < n; ++k) {
      // Written so that NaN fails.
      if (!(s.neibDist[k] >= 0.0 && s.neibDist[k] <= kLargestDistance)) return false;
    }
  }
  return true;
}

// Each object's slab along one axis, 0 to perAxis - 1, with about as many
// objects in each; NaN sorts last, equal values by index.
std::vector<std::uint32_t> slabs(const SeedSet& objects, int axis, std::size_t perAxis) {
  const std::size_t n = objects.size();
  const auto key = [&](std::size_t i) {
    const double v = objects[i].pos[axis];
    return std::isnan(v) ? HUGE_VAL : v;
  };
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    return key(x) < key(y) || (key(x) == key(y) && x < y);
  });
  std::vector<std::uint32_t> slab(n);
  for (std::size_t rank = 0; rank < n; ++rank) {
    slab[order[rank]] = static_cast<std::uint32_t>(rank * perAxis / n);
  }
  return slab;
}

}  // namespace

bool distancesSuitCells(const SeedSet& bidders, const SeedSet& objects) {
  return rowsSuit(bidders) && rowsSuit(objects);
}

CellSums makeCellSums(const SeedSet& objects, std::size_t perAxis) {
  CellSums sums;
  sums.cells = perAxis * perAxis * perAxis;
  const std::size_t n = objects.size();
  sums.cellOf.assign(n, 0);
  for (int axis = 2; axis >= 0; --axis) {
    const std::vector<std::uint32_t> slab = slabs(objects, axis, perAxis);
    for (std::size_t j = 0; j < n; ++j) {
      sums.cellOf[j] = sums.cellOf[j] * static_cast<std::uint32_t>(perAxis) + slab[j];
    }
  }
  sums.object.assign(n * sums.cells, 0.0);
  sums.objectTotal.assign(n, 0.0);
  sums.bidder.assign(sums.cells, 0.0);
  return sums;
}

void addHeldObject(CellSums& sums, const SeedSet& objects, std::int32_t k, bool symmetric) {
  const auto held = static_cast<std::size_t>(k);
  const std::size_t n = objects.size();
  const std::size_t cells = sums.cells;
  double* column = sums.object.data() + sums.cellOf[held];
  double* total = sums.objectTotal.data();
  // rpd leaves out object k's own entry, so its own sums skip it too.
  const auto addRange = [&](std::size_t from, std::size_t to) {
    if (symmetric) {
      const double* row = objects[held].neibDist.data();
      for (std::size_t j = from; j < to; ++j) {
        column[j * cells] += row[j];
        total[j] += row[j];
      }
    } else {
      for (std::size_t j = from; j < to; ++j) {
        column[j * cells] += objects[j].neibDist[held];
        total[j] += objects[j].neibDist[held];
      }
    }
  };
  addRange(0, held);
  addRange(held + 1, n);
  ++sums.held;
  // Every sum here and in rpd has at most held + cells + 8 roundings of
  // relative size 2^-53 on terms that are never negative; the margin takes
  // twice that, which also covers the few roundings of the bound itself.
  sums.delta = 2.0 * static_cast<double>(sums.held + cells + 8) * 0x1p-52;
}

void gatherBidderSums(CellSums& sums, const std::vector<std::int32_t>& held,
                      const double* holderByObject) {
  std::fill(sums.bidder.begin(), sums.bidder.end(), 0.0);
  for (const std::int32_t k : held) {
    const auto at = static_cast<std::size_t>(k);
    sums.bidder[sums.cellOf[at]] += holderByObject[at];
  }
  double total = 0.0;
  for (const double h : sums.bidder) total += h;
  sums.bidderTotal = total;
}

namespace {

// The bound from a gap worked out in rounded arithmetic. Bounds too small to
// stay clear of underflow, here and when the caller scales them, count as 0.
double lowered(const CellSums& sums, double gap, double objectTotal) {
  const double d = sums.delta;
  const double low = (gap - d * (gap + objectTotal + sums.bidderTotal)) * (1.0 - d);
  return low > 1e-280 ? low : 0.0;
}

}  // namespace

double rpdSumLowerBound(const CellSums& sums, std::int32_t j, double ownTerm) {
  constexpr std::size_t kCells = 8;
  const auto at = static_cast<std::size_t>(j);
  const std::size_t own = sums.cellOf[at];
  const double* a = sums.object.data() + at * sums.cells;
  const double* h = sums.bidder.data();
  double gap = 0.0;
  if (sums.cells == kCells) {  // the usual grid, with its loop unrolled
    for (std::size_t c = 0; c < kCells; ++c) {
      gap += std::fabs(a[c] - (h[c] - (c == own ? ownTerm : 0.0)));
    }
  } else {
    for (std::size_t c = 0; c < sums.cells; ++c) {
      gap += std::fabs(a[c] - (h[c] - (c == own ? ownTerm : 0.0)));
    }
  }
  return lowered(sums, gap, sums.objectTotal[at]);
}

double rpdSumCoarseLowerBound(const CellSums& sums, std::int32_t j, double ownTerm) {
  const auto at = static_cast<std::size_t>(j);
  const double gap = std::fabs(sums.objectTotal[at] - (sums.bidderTotal - ownTerm));
  return lowered(sums, gap, sums.objectTotal[at]);
}

}  // namespace seedmatch
