// Lower bounds on rpd's sum that cost one term per cell instead of one per
// held object.
//
// The objects are grouped into cells. For object j and cell C let A[j][C] be
// the sum of j's distances to the held objects of C, and H[C] the sum of the
// bidder's distances to their holders. By the triangle inequality
//   sum over C of |A[j][C] - H[C]|  <=  sum over held k of |d(j,k) - h(k)|,
// which is rpd's sum. Objects only ever become held (a win changes an owner,
// never frees an object), so A grows by one column per newly held object:
// O(objects) each time, O(objects^2) in all. H is gathered once per pass,
// and a sweep then bounds every object of the pass from its eight cells. A
// finer grid of 64 cells bounds again the few objects the eight leave in the
// running, before their exact sums are formed.
//
// Both sides are rounded sums in another order than rpd's, so the bound is
// lowered by a margin that covers every rounding on either side; the engine
// only ever compares a bound, never uses it as a cost. Any grouping gives a
// valid bound: positions only choose the cells, so odd positions (NaN, huge,
// all equal) cost tightness, never correctness.
//
// Objects are named by their live position p (the objects that are not
// empty, in ascending index); live[p] is the object's index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <vector>

#include "seedmatch/seed/seed.h"

namespace seedmatch {

struct CellSums {
  std::size_t cells = 0;
  std::vector<std::uint32_t> cellOf;  // by position
  std::vector<double> object;         // object[c * positions + p] = A[p][c]
  std::vector<double> objectTotal;    // by position: all of A[p], for the margin
  std::vector<std::uint8_t> held;     // by position
  std::size_t heldCount = 0;          // the terms of rpd's sum
  double delta = 0.0;                 // relative margin for heldCount + cells roundings
  double scaleFree = 0.0;             // at most 1 / (20 * rpd's count), free object
  double scaleHeld = 0.0;             // the same for a held object
  std::vector<double> bidder;         // H[c] for the bidder of the pass
  double bidderTotal = 0.0;           // all of H, for the margin
  std::vector<double> ownTerm;        // by position: the bidder's distance to its holder,
                                      // 0.0 while free
  std::vector<double> heldDist;       // the same in held order, when asked for
  // The finer grid, each position's cells side by side: fine[p * fineCells + c].
  std::size_t fineCells = 0;          // 0 until it starts
  std::vector<std::uint32_t> fineOf;  // by position
  std::vector<double> fine;
  double fineDelta = 0.0;          // delta for fineCells
  std::vector<double> fineBidder;  // H for the finer grid
};

// The largest distance rpd can read in a set (each seed's first set-size
// entries), or -1.0 when one of them is NaN, negative or beyond 1e150, outside
// the range the margin is worked out for, or when a stop is requested.
double largestDistanceForCells(const SeedSet& seeds, const std::stop_token& stop = {});

// Cells from a 2 x 2 x 2 grid over the live objects' positions, split at the
// medians, and the finer cells of a 4 x 4 x 4 grid split at the quartiles,
// not started; no object held yet.
CellSums makeCellSums(const SeedSet& objects, const std::vector<std::int32_t>& live);

// Starts the finer grid from the objects held so far (their positions), for
// a run where bidders keep coming back: it costs 64 sums per object to keep.
void startFineCells(CellSums& sums, const SeedSet& objects, const std::vector<std::int32_t>& live,
                    const std::vector<std::size_t>& heldPositions);

// Adds the object at position k, newly held, to every other object's sum in
// k's cell. With symmetric distances k's own row is read instead of its column.
void addHeldObject(CellSums& sums, const SeedSet& objects, const std::vector<std::int32_t>& live,
                   std::size_t k, bool symmetric);

// H and ownTerm for a bidder, from its distances to the holders (owner by object index).
void gatherBidderSums(CellSums& sums, const std::vector<std::size_t>& heldPositions,
                      const std::vector<std::int32_t>& live, const std::vector<std::int32_t>& owner,
                      const std::vector<double>& bidderDist);

// The gathered bidder's distances to the holders in held order (ascending
// index), as exactCostsInHeldOrder reads them.
const double* holderDistancesInHeldOrder(CellSums& sums);

// A value at most the sum rpd forms for the object at position p against the
// bidder gathered last, rounding included.
double rpdSumLowerBound(const CellSums& sums, std::size_t p);

// The same from the finer grid, once started: tighter, at the price of 64 terms.
double rpdSumFineLowerBound(const CellSums& sums, std::size_t p);

// bound[p] = a value at least the gain (kBaseValue - cost) - price[p] of every
// position, from a lower bound fixedLow[p] of its fixed part and, with sums,
// rpdSumLowerBound's bound on its rpd term (rpdWeight finite and positive).
void gainBounds(const CellSums* sums, double rpdWeight, const double* fixedLow, const double* price,
                std::size_t n, double* bound);
void gainBounds(const CellSums* sums, double rpdWeight, const float* fixedLow, const double* price,
                std::size_t n, double* bound);

}  // namespace seedmatch
