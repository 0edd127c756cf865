// Shared by the matchings; not part of the installed interface.
#pragma once

#include <cstdint>
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

// nModifiedWeightedBipartiteMatching, also counting the contenders of every
// pass, which costs a full row of fixed parts per pass. For the benchmarks.
AuctionStats countingAuction(const SeedSet& set1, const SeedSet& set2, MatchTable& table,
                             double costLimit, double seedWeight, double histWeight,
                             double rpdWeight, const SeedDistWeights& w);

}  // namespace seedmatch
