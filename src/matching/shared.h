// Shared by the matchings; not part of the installed interface.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "seedmatch/matching/matching.h"

namespace seedmatch {

// For a function built for AVX2 and for any x86-64 CPU, the one run picked
// when the program loads. SEEDMATCH_DEFAULT_CLONES keeps the second alone, so
// that the tests can show that both give the same bits. Sanitizers cannot run
// the resolver that picks: it runs before them.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && \
    !defined(SEEDMATCH_DEFAULT_CLONES)
#define SEEDMATCH_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define SEEDMATCH_CLONES
#endif

// The auction's fixed numbers.
inline constexpr double kBaseValue = 999999.0;        // a gain is kBaseValue - cost - price
inline constexpr double kStartGain = -9999.0;         // a pass's best gain before any object
inline constexpr std::int32_t kRpdDivisor = 20;       // rpd's divisor, in both matchings
inline constexpr std::int64_t kPassesPerBidder = 30;  // the pass limit per bidder

// What an object is worth to a bidder: the larger, the better.
inline double gainOf(double cost, double price) { return (kBaseValue - cost) - price; }

// The best object of a pass so far.
struct Best {
  double gain = kStartGain;
  double cost = kBaseValue;
  std::int64_t pos = -1;  // live position of the object, -1 for none

  // Whether an object at pos with this gain displaces the best. The objects of
  // a pass are not always visited in ascending order, so equal gains compare
  // by position: the result is the one the ascending scan with its strict test
  // gives. A NaN gain never beats anything; with no best yet the gain must
  // exceed kStartGain itself.
  bool beatenBy(double g, std::int64_t p) const { return g > gain || (g == gain && p < pos); }
};

// The part of a pair's cost that stays fixed during the auction, from its
// seedDist s and its pcal h.
inline double fixedPartOf(double seedWeight, double s, double histWeight, double h) {
  return seedWeight * s + histWeight * h;
}

// The pair cost from its rpd r and its fixed part.
inline double pairCostOf(double rpdWeight, double r, double fixed) { return rpdWeight * r + fixed; }

// seedDist of a bidder and an object, with the seed of set 1 first whichever
// side bids, since the order of its operands fixes its bits.
inline double pairSeedDist(const SEED& bidder, const SEED& object, bool set1Bids,
                           const SeedDistWeights& w) {
  return set1Bids ? seedDist(bidder, object, w) : seedDist(object, bidder, w);
}

// Appends [set-1 index, set-2 index, held cost] for every held object, in
// ascending object index, whichever side bid.
void appendHeldRows(const std::vector<std::int32_t>& owner, const std::vector<double>& heldCost,
                    bool set1Bids, MatchTable& table);

// What one pass of the auction found, for a caller that watches every pass.
struct PassSeen {
  std::int32_t bidder;
  std::int64_t pos;                       // live position of the object found best, -1 for none
  double cost;                            // its pair cost
  const std::vector<std::int32_t>& live;  // the objects that are not empty, ascending
  const std::vector<double>& price;       // by live position, before the pass's win
};
using PassWatcher = std::function<void(const PassSeen&)>;

// nModifiedWeightedBipartiteMatching, showing watch every pass of a bidder
// that is not empty. For the benchmarks.
AuctionStats watchedAuction(const SeedSet& set1, const SeedSet& set2, MatchTable& table,
                            const Weights& weights, const PassWatcher& watch);

}  // namespace seedmatch
