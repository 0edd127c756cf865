// The match table and the matchings that fill it.
#pragma once

#include <array>
#include <cstdint>
#include <stop_token>
#include <vector>

#include "seedmatch/matching/pair_terms.h"
#include "seedmatch/measure/measure.h"
#include "seedmatch/seed/seed.h"

namespace seedmatch {

// [index in seed set 1, index in seed set 2, cost]. A cost of exactly -1.0
// marks an unmatched row, which readers of a table skip.
using MatchRow = std::array<double, 3>;
using MatchTable = std::vector<MatchRow>;

inline constexpr double kUnmatched = -1.0;

struct AuctionStats {
  std::int64_t passes = 0;      // passes the auction made
  std::int64_t contenders = 0;  // over all passes: objects whose fixed part + price
                                // is below the winner's cost + price, so rpd decides
  std::int64_t exactSums = 0;   // rpd sums begun in rpd's own order
  std::int64_t repeats = 0;     // passes that found every cost as the bidder left it
  bool stopped = false;         // a stop was requested; nothing was appended
};

struct AuctionOptions {
  // seedDist and pcal of every pair, from these two sets and these seedDist
  // weights; computed by the auction when null.
  const PairTerms* terms = nullptr;
  std::stop_token stop;  // looked at every few milliseconds of work
};

// Pairs seeds of set1 and set2 by auction and appends one row per pair to
// table, in ascending object index; rows already in table stay in front. The
// smaller set bids (set1 on equal sizes); a pair is won only when its cost is
// below weights.costLimit. Pair cost: weights.rpd*rpd + (weights.seed*seedDist
// + weights.hist*pcal). With prepared terms (which must be those of the sets
// and of weights.seedDist) the auction reads seedDist and pcal from them;
// throws std::invalid_argument when their sizes are not those of the sets. On
// a stop request it returns soon with stats.stopped set and table unchanged.
// Requires every seed's neibDist to hold one entry per seed of its set.
AuctionStats nModifiedWeightedBipartiteMatching(const SeedSet& set1, const SeedSet& set2,
                                                MatchTable& table, const Weights& weights,
                                                const AuctionOptions& options = {});

// The same with the weights one by one: costLimit, seedWeight, histWeight,
// rpdWeight and seedDist's weights w.
AuctionStats nModifiedWeightedBipartiteMatching(const SeedSet& set1, const SeedSet& set2,
                                                MatchTable& table, double costLimit,
                                                double seedWeight, double histWeight,
                                                double rpdWeight, const SeedDistWeights& w);
AuctionStats nModifiedWeightedBipartiteMatching(const SeedSet& set1, const SeedSet& set2,
                                                MatchTable& table, double costLimit,
                                                double seedWeight, double histWeight,
                                                double rpdWeight, const SeedDistWeights& w,
                                                const AuctionOptions& options);

// The same auction written as plainly as possible: every pass evaluates every
// object's full cost. It is the reference the fast engine is tested against.
AuctionStats referenceAuction(const SeedSet& set1, const SeedSet& set2, MatchTable& table,
                              double costLimit, double seedWeight, double histWeight,
                              double rpdWeight, const SeedDistWeights& w);

// Baseline: each bidder gets one object drawn with rand() after srand(time(nullptr)),
// without prices, evictions or any test against costLimit (which is ignored).
// A bidder draws rand() % objects again until an object not drawn before comes
// up; an empty drawn object is used up and its bidder stays unmatched. Sides,
// pair cost and rows are those of the auction. Reseeds the process-wide
// generator, so two calls within the same second append the same rows.
void RandomMatching(const SeedSet& set1, const SeedSet& set2, MatchTable& table, double costLimit,
                    double seedWeight, double histWeight, double rpdWeight,
                    const SeedDistWeights& w);

}  // namespace seedmatch
