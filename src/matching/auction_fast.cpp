#include "matching.h"

namespace seedmatch {

AuctionStats nModifiedWeightedBipartiteMatching(const SeedSet& set1, const SeedSet& set2,
                                                MatchTable& table, double costLimit,
                                                double seedWeight, double histWeight,
                                                double rpdWeight, const SeedDistWeights& w) {
  return referenceAuction(set1, set2, table, costLimit, seedWeight, histWeight, rpdWeight, w);
}

}  // namespace seedmatch
