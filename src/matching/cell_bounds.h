// Lower bounds on rpd's sum that cost one term per cell instead of one per
// held object.
//
// The objects are grouped into cells. For object j and cell C let A[j][C] be
// the sum of j's distances to the held objects of C, and H[C] the sum of the
// bidder's distances to their holders. By the triangle inequality
//   sum over C of |A[j][C] - H[C]|  <=  sum over held k of |d(j,k) - h(k)|,
// which is rpd's sum. Objects only ever become held (a win changes an owner,
// never frees an object), so A grows by one column per newly held object:
// O(objects) each time, O(objects^2) in all. H is gathered once per pass.
//
// Both sides are rounded sums in another order than rpd's, so the bound is
// lowered by a margin that covers every rounding on either side; the rest of
// the engine only ever compares the bound, never uses it as a cost. Any
// grouping gives a valid bound: positions only choose the cells, so odd
// positions (NaN, huge, all equal) cost tightness, never correctness.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "../seed/seed.h"

namespace seedmatch {

struct CellSums {
  std::size_t cells = 0;
  std::vector<std::uint32_t> cellOf;  // by object
  std::vector<double> object;         // object[j * cells + c] = A[j][c]
  std::vector<double> objectTotal;    // by object: all its held distances, one cell
  std::vector<double> bidder;         // H[c] for the bidder of the pass
  double bidderTotal = 0.0;           // all of H, one cell
  std::size_t held = 0;               // objects held, the terms of rpd's sum
  double delta = 0.0;                 // the relative margin for held + cells terms
};

// True when every distance rpd can read is finite, not negative and at most
// 1e150, the range the margin is worked out for.
bool distancesSuitCells(const SeedSet& bidders, const SeedSet& objects);

// Cells from a perAxis^3 grid over the objects' positions, split at quantiles
// so that each slab holds about as many objects; no object held yet.
CellSums makeCellSums(const SeedSet& objects, std::size_t perAxis);

// Adds object k, newly held, to every other object's sum in k's cell. With
// symmetric distances k's own row is read instead of its column.
void addHeldObject(CellSums& sums, const SeedSet& objects, std::int32_t k, bool symmetric);

// H for a bidder, from its distance to each held object's holder, stored by object.
void gatherBidderSums(CellSums& sums, const std::vector<std::int32_t>& held,
                      const double* holderByObject);

// Values at most the sum rpd forms for object j against the bidder gathered
// last, rounding included: from all cells, or from their totals alone (one
// term, looser). ownTerm is the bidder's distance to j's holder when j is
// held, since rpd leaves that term out, and 0.0 otherwise.
double rpdSumLowerBound(const CellSums& sums, std::int32_t j, double ownTerm);
double rpdSumCoarseLowerBound(const CellSums& sums, std::int32_t j, double ownTerm);

}  // namespace seedmatch
