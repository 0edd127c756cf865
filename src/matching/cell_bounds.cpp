#include "cell_bounds.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numeric>
#include <type_traits>

#include "shared.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace seedmatch {
namespace {

constexpr double kLargestDistance = 1e150;
constexpr std::size_t kPerAxis = 2;
constexpr std::size_t kCells = kPerAxis * kPerAxis * kPerAxis;
constexpr std::size_t kFinePerAxis = 4;
constexpr std::size_t kFineCells = kFinePerAxis * kFinePerAxis * kFinePerAxis;

// The cell of the eight that holds fine cell c: along each axis two slabs of
// the finer grid make one.
constexpr std::uint32_t coarseOf(std::size_t c) {
  const std::size_t x = c / (kFinePerAxis * kFinePerAxis), y = c / kFinePerAxis % kFinePerAxis,
                    z = c % kFinePerAxis;
  const std::size_t ratio = kFinePerAxis / kPerAxis;
  return static_cast<std::uint32_t>(((x / ratio) * kPerAxis + y / ratio) * kPerAxis + z / ratio);
}

// Each position's rank along one axis; NaN sorts last, equal values by position.
std::vector<std::size_t> ranks(const SeedSet& objects, const std::vector<std::int32_t>& live,
                               int axis) {
  const std::size_t n = live.size();
  const auto key = [&](std::size_t p) {
    const double v = objects[static_cast<std::size_t>(live[p])].pos[axis];
    return std::isnan(v) ? HUGE_VAL : v;
  };
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    return key(x) < key(y) || (key(x) == key(y) && x < y);
  });
  std::vector<std::size_t> rank(n);
  for (std::size_t r = 0; r < n; ++r) rank[order[r]] = r;
  return rank;
}

// The bound from a gap worked out in rounded arithmetic. Bounds too small to
// stay clear of underflow, here and when the caller scales them, count as 0.
double lowered(const CellSums& sums, double d, double gap, double objectTotal) {
  const double low = (gap - d * (gap + objectTotal + sums.bidderTotal)) * (1.0 - d);
  return low > 1e-280 ? low : 0.0;
}

// At most 1 / (count * 20), by enough that low * scale stays at most rpd's
// (low / count) / 20 for any low of normal size, roundings included: cost
// bounds then need no division.
double rpdScale(std::size_t count) {
  return count == 0 ? 0.0 : (1.0 / (kRpdDivisor * static_cast<double>(count))) * (1.0 - 0x1p-49);
}

// sum over the cells of |A[p][c] - H[c]|, with the object's own term taken
// out of its cell's H when it is held (ownTerm is 0.0 for a free object).
// The margin allows any order of the terms; this one runs across the cells.
inline double cellGap(const CellSums& sums, std::size_t p) {
  const std::size_t n = sums.cellOf.size();
  const double* a = sums.object.data() + p;
  const double* h = sums.bidder.data();
  const std::size_t own = sums.cellOf[p];
  const double ownTerm = sums.ownTerm[p];
  std::array<double, kCells> t{};
  for (std::size_t c = 0; c < kCells; ++c)
    t[c] = std::fabs(a[c * n] - (h[c] - (c == own ? ownTerm : 0.0)));
  return ((t[0] + t[1]) + (t[2] + t[3])) + ((t[4] + t[5]) + (t[6] + t[7]));
}

// v when keep, else +0.0: a select the compiler vectorizes, where it keeps a
// conditional subtraction or choice of doubles as a branch (it may trap).
inline double keptIf(bool keep, double v) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) & (std::uint64_t{0} - keep));
}

// cellGap, lowered, scaled and made a gain bound for every position, with
// the bits rpdSumLowerBound and its callers give one. The loop runs across
// positions, one cell-major column of A at a time, so that it vectorizes.
template <class Fixed>
SEEDMATCH_CLONES void cellSweep(const CellSums& sums, const double* __restrict a,
                                const double* __restrict h, double rpdWeight,
                                const Fixed* __restrict fixedLow, const double* __restrict price,
                                std::size_t n, double* __restrict bound) {
  const std::uint32_t* cellOf = sums.cellOf.data();
  const double* ownTerm = sums.ownTerm.data();
  const double* objectTotal = sums.objectTotal.data();
  const std::uint8_t* held = sums.held.data();
  const double d = sums.delta, bidderTotal = sums.bidderTotal;
  const double scaleHeld = sums.scaleHeld, scaleFree = sums.scaleFree;
  for (std::size_t p = 0; p < n; ++p) {
    const std::uint32_t cell = cellOf[p];
    const double own = ownTerm[p];
    std::array<double, kCells> t;
    for (std::uint32_t c = 0; c < kCells; ++c)
      t[c] = std::fabs(a[c * n + p] - (h[c] - keptIf(cell == c, own)));
    const double gap = ((t[0] + t[1]) + (t[2] + t[3])) + ((t[4] + t[5]) + (t[6] + t[7]));
    const double lowRaw = (gap - d * (gap + objectTotal[p] + bidderTotal)) * (1.0 - d);
    const double low = keptIf(lowRaw > 1e-280, lowRaw);
    const double scale = held[p] != 0 ? scaleHeld : scaleFree;
    const double cost = rpdWeight * (low * scale) + static_cast<double>(fixedLow[p]);
    bound[p] = gainOf(cost, price[p]);
  }
}

template <class Fixed>
SEEDMATCH_CLONES void sweep(const CellSums* sums, double rpdWeight, const Fixed* fixedLow,
                            const double* price, std::size_t n, double* bound) {
  if (sums != nullptr) {
    cellSweep(*sums, sums->object.data(), sums->bidder.data(), rpdWeight, fixedLow, price, n,
              bound);
    return;
  }
  for (std::size_t p = 0; p < n; ++p) {
    bound[p] = gainOf(static_cast<double>(fixedLow[p]), price[p]);
  }
}

}  // namespace

double largestDistanceForCells(const SeedSet& seeds, const std::stop_token& stop) {
  const std::size_t n = seeds.size();
  double largest = 0.0;
  for (const SEED& s : seeds) {
    if (stop.stop_requested()) return -1.0;
    const double* row = s.neibDist.data();
    double rowLargest = 0.0, rowSmallest = 0.0;
    bool nan = false;
    std::size_t k = 0;
#if defined(__SSE2__)
    // Two at a time: the compiler does not widen min and max of doubles itself.
    __m128d hi = _mm_setzero_pd(), lo = _mm_setzero_pd(), unordered = _mm_setzero_pd();
    for (; k + 2 <= n; k += 2) {
      const __m128d d = _mm_loadu_pd(row + k);
      hi = _mm_max_pd(d, hi);  // a NaN d leaves hi as it was
      lo = _mm_min_pd(d, lo);
      unordered = _mm_or_pd(unordered, _mm_cmpunord_pd(d, d));
    }
    std::array<double, 2> h{}, l{};
    _mm_storeu_pd(h.data(), hi);
    _mm_storeu_pd(l.data(), lo);
    rowLargest = std::max(h[0], h[1]);
    rowSmallest = std::min(l[0], l[1]);
    nan = _mm_movemask_pd(unordered) != 0;
#endif
    for (; k < n; ++k) {
      const double d = row[k];
      rowLargest = d > rowLargest ? d : rowLargest;
      rowSmallest = d < rowSmallest ? d : rowSmallest;
      nan = nan || std::isnan(d);
    }
    if (nan || rowSmallest < 0.0 || rowLargest > kLargestDistance) return -1.0;
    largest = std::max(largest, rowLargest);
  }
  return largest;
}

CellSums makeCellSums(const SeedSet& objects, const std::vector<std::int32_t>& live) {
  CellSums sums;
  sums.cells = kCells;
  const std::size_t n = live.size();
  sums.cellOf.assign(n, 0);
  sums.fineOf.assign(n, 0);
  // Each axis split into slabs with about as many objects in each.
  for (int axis = 2; axis >= 0; --axis) {
    const std::vector<std::size_t> rank = ranks(objects, live, axis);
    for (std::size_t p = 0; p < n; ++p) {
      sums.fineOf[p] =
          sums.fineOf[p] * kFinePerAxis + static_cast<std::uint32_t>(rank[p] * kFinePerAxis / n);
    }
  }
  for (std::size_t p = 0; p < n; ++p) sums.cellOf[p] = coarseOf(sums.fineOf[p]);
  sums.object.assign(n * sums.cells, 0.0);
  sums.objectTotal.assign(n, 0.0);
  sums.held.assign(n, 0);
  sums.bidder.assign(sums.cells, 0.0);
  sums.ownTerm.assign(n, 0.0);
  return sums;
}

void addHeldObject(CellSums& sums, const SeedSet& objects, const std::vector<std::int32_t>& live,
                   std::size_t k, bool symmetric) {
  const std::size_t n = live.size();
  const std::size_t cells = sums.cells;
  const auto index = static_cast<std::size_t>(live[k]);
  double* column = sums.object.data() + sums.cellOf[k] * n;
  const bool fineOn = sums.fineCells != 0;
  double* fine = fineOn ? sums.fine.data() + sums.fineOf[k] : nullptr;
  double* total = sums.objectTotal.data();
  // rpd leaves out object k's own entry, so its own sums skip it too.
  const auto addRange = [&](std::size_t from, std::size_t to, auto withFine) {
    for (std::size_t p = from; p < to; ++p) {
      const auto j = static_cast<std::size_t>(live[p]);
      const double d = symmetric ? objects[index].neibDist[j] : objects[j].neibDist[index];
      column[p] += d;
      if constexpr (decltype(withFine)::value) fine[p * kFineCells] += d;
      total[p] += d;
    }
  };
  if (fineOn) {
    addRange(0, k, std::true_type{});
    addRange(k + 1, n, std::true_type{});
  } else {
    addRange(0, k, std::false_type{});
    addRange(k + 1, n, std::false_type{});
  }
  sums.held[k] = 1;
  ++sums.heldCount;
  // Every sum here and in rpd has at most heldCount + cells + 8 roundings of
  // relative size 2^-53 on terms that are never negative; the margin takes
  // twice that, which also covers the few roundings of the bound itself. The
  // same holds for the finer grid with its own count of cells.
  sums.delta = 2.0 * static_cast<double>(sums.heldCount + cells + 8) * 0x1p-52;
  sums.fineDelta = 2.0 * static_cast<double>(sums.heldCount + kFineCells + 8) * 0x1p-52;
  sums.scaleFree = rpdScale(sums.heldCount);
  sums.scaleHeld = rpdScale(sums.heldCount - 1);
}

void startFineCells(CellSums& sums, const SeedSet& objects, const std::vector<std::int32_t>& live,
                    const std::vector<std::size_t>& heldPositions) {
  const std::size_t n = live.size();
  sums.fineCells = kFineCells;
  sums.fine.assign(n * kFineCells, 0.0);
  sums.fineBidder.assign(kFineCells, 0.0);
  // Object by object, so that each one's row and cells are read and written
  // in one place.
  for (std::size_t p = 0; p < n; ++p) {
    const double* row = objects[static_cast<std::size_t>(live[p])].neibDist.data();
    double* fine = sums.fine.data() + p * kFineCells;
    for (const std::size_t k : heldPositions) {
      if (k != p) fine[sums.fineOf[k]] += row[static_cast<std::size_t>(live[k])];
    }
  }
}

void gatherBidderSums(CellSums& sums, const std::vector<std::size_t>& heldPositions,
                      const std::vector<std::int32_t>& live, const std::vector<std::int32_t>& owner,
                      const std::vector<double>& bidderDist) {
  // The holders come in no order, so the bidder's row is asked for line by
  // line first: the loads below then find it in cache instead of waiting on
  // memory one after the other.
  for (std::size_t k = 0; k < bidderDist.size(); k += 8) __builtin_prefetch(&bidderDist[k]);
  std::array<double, kFineCells> fine{};
  std::array<double, kCells> coarse{};
  const bool fineOn = sums.fineCells != 0;
  const std::uint32_t* cellOf = fineOn ? sums.fineOf.data() : sums.cellOf.data();
  double* cellSum = fineOn ? fine.data() : coarse.data();
  for (const std::size_t p : heldPositions) {
    const double h = bidderDist[static_cast<std::size_t>(owner[static_cast<std::size_t>(live[p])])];
    sums.ownTerm[p] = h;
    cellSum[cellOf[p]] += h;
  }
  // Each of the eight cells is a union of eight of the finer ones: its sum is
  // theirs, added in another order than one holder at a time, which the
  // margin allows.
  if (fineOn) {
    std::copy(fine.begin(), fine.end(), sums.fineBidder.begin());
    for (std::size_t c = 0; c < kFineCells; ++c) coarse[coarseOf(c)] += fine[c];
  }
  std::copy(coarse.begin(), coarse.end(), sums.bidder.begin());
  double total = 0.0;
  for (const double h : sums.bidder) total += h;
  sums.bidderTotal = total;
}

const double* holderDistancesInHeldOrder(CellSums& sums) {
  // Positions ascend as indices do, so the held ones come in held order; a
  // free one's entry is written over by the next held one's, or lands in
  // the spare at the end.
  const std::size_t n = sums.held.size();
  sums.heldDist.resize(sums.heldCount + 1);
  double* out = sums.heldDist.data();
  for (std::size_t p = 0, i = 0; p < n; ++p) {
    out[i] = sums.ownTerm[p];
    i += sums.held[p];
  }
  return out;
}

double rpdSumLowerBound(const CellSums& sums, std::size_t p) {
  return lowered(sums, sums.delta, cellGap(sums, p), sums.objectTotal[p]);
}

// The terms go into kLanes sums side by side, which the margin allows and
// the compiler turns into vector adds.
SEEDMATCH_CLONES double rpdSumFineLowerBound(const CellSums& sums, std::size_t p) {
  constexpr std::size_t kLanes = 8;
  const double* a = sums.fine.data() + p * kFineCells;
  std::array<double, kFineCells> h;
  std::copy(sums.fineBidder.begin(), sums.fineBidder.end(), h.begin());
  h[sums.fineOf[p]] -= sums.ownTerm[p];
  std::array<double, kLanes> lane{};
  for (std::size_t c = 0; c < kFineCells; c += kLanes) {
    for (std::size_t l = 0; l < kLanes; ++l) lane[l] += std::fabs(a[c + l] - h[c + l]);
  }
  const double gap =
      ((lane[0] + lane[1]) + (lane[2] + lane[3])) + ((lane[4] + lane[5]) + (lane[6] + lane[7]));
  return lowered(sums, sums.fineDelta, gap, sums.objectTotal[p]);
}

void gainBounds(const CellSums* sums, double rpdWeight, const double* fixedLow, const double* price,
                std::size_t n, double* bound) {
  sweep(sums, rpdWeight, fixedLow, price, n, bound);
}

void gainBounds(const CellSums* sums, double rpdWeight, const float* fixedLow, const double* price,
                std::size_t n, double* bound) {
  sweep(sums, rpdWeight, fixedLow, price, n, bound);
}

}  // namespace seedmatch
