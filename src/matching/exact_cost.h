// The bounded engine's exact pair costs. rpd's sum runs over the held objects
// in ascending order as rpd's does, so that a cost returned has rpd's bits.
#pragma once

#include <array>
#include <cstddef>

#include "engine.h"

namespace seedmatch {

// The pair cost of the bidder whose distance row is dist and the object at
// live position p, whose fixed part is fixed, or NaN when its partial rpd sum
// already shows that it cannot displace best.
double exactCost(const AuctionState& state, const AuctionInput& in, const double* dist,
                 std::size_t p, double fixed, const Best& best);

// The exact costs of the k = 1 or 2 positions ps (fixed parts fixed), as
// exactCost forms them, from the holders' distances to the bidder laid out in
// held order (heldDist[i] = dist[owner[held[i]]]). Two sums run side by side,
// each in rpd's order and each abandoned on its own (NaN).
std::array<double, 2> exactCostsInHeldOrder(const AuctionState& state, const AuctionInput& in,
                                            const double* heldDist, std::size_t k,
                                            std::array<std::size_t, 2> ps,
                                            std::array<double, 2> fixed, const Best& best);

// The exact costs of two positions, whose rpd sums run side by side over the
// held objects, each in rpd's order: an object's own entry adds +0.0, which
// leaves its sum as skipping it would.
std::array<double, 2> exactCostsTogether(const AuctionState& state, const AuctionInput& in,
                                         const double* dist, std::size_t p1, double fixed1,
                                         std::size_t p2, double fixed2);

}  // namespace seedmatch
