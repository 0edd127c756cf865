// The auction's entry points, and what its two engines share.
#include "engine.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "seedmatch/matching/matching.h"

namespace seedmatch {

AuctionInput auctionInput(const SeedSet& set1, const SeedSet& set2, const Weights& weights,
                          const PairTerms* terms, std::stop_token stop) {
  const bool set1Bids = set1.size() <= set2.size();
  return {set1Bids,
          set1Bids ? set1 : set2,
          set1Bids ? set2 : set1,
          static_cast<std::int32_t>(set1.size()),
          weights,
          terms,
          std::move(stop)};
}

AuctionState startState(const AuctionInput& in, bool costsNotNegative) {
  AuctionState state;
  const std::size_t nObjects = in.objects.size();
  for (std::size_t j = 0; j < nObjects; ++j) {
    if (isZero(in.objects[j]) == 0) state.live.push_back(static_cast<std::int32_t>(j));
  }
  state.bidderLive.resize(in.bidders.size());
  for (std::size_t b = 0; b < in.bidders.size(); ++b) {
    state.bidderLive[b] = isZero(in.bidders[b]) == 0;
  }
  state.price.assign(state.live.size(), 0.0);
  state.owner.assign(nObjects, -1);
  state.heldCost.assign(nObjects, -1.0);
  state.heldFlag.assign(nObjects, 0);
  state.bidIncrement = 1.0 / (static_cast<double>(static_cast<std::int32_t>(nObjects)) + 1.0);
  state.nothingWins = std::isnan(in.weights.rpd) || std::isnan(in.weights.costLimit) ||
                      state.live.empty() || (costsNotNegative && !(in.weights.costLimit > 0.0));
  if (!state.nothingWins) state.handovers.seenAt.assign(nObjects, -1);
  return state;
}

void holdNewly(AuctionState& state, const SeedSet& objects, std::size_t p) {
  const std::int32_t j = state.live[p];
  const auto at = std::upper_bound(state.held.begin(), state.held.end(), j);
  state.heldRows.insert(state.heldRows.begin() + (at - state.held.begin()),
                        objects[static_cast<std::size_t>(j)].neibDist.data());
  state.held.insert(at, j);
  state.heldPositions.push_back(p);
  state.heldFlag[static_cast<std::size_t>(j)] = 1;
}

namespace {

AuctionStats runAuction(const AuctionInput& in, MatchTable& table, const PassWatcher& watch) {
  return in.weights.rpd >= 0.0 ? boundedAuction(in, table, watch) : denseAuction(in, table, watch);
}

}  // namespace

AuctionStats nModifiedWeightedBipartiteMatching(const SeedSet& set1, const SeedSet& set2,
                                                MatchTable& table, double costLimit,
                                                double seedWeight, double histWeight,
                                                double rpdWeight, const SeedDistWeights& w) {
  return nModifiedWeightedBipartiteMatching(
      set1, set2, table, Weights{seedWeight, histWeight, rpdWeight, costLimit, w}, {});
}

AuctionStats nModifiedWeightedBipartiteMatching(const SeedSet& set1, const SeedSet& set2,
                                                MatchTable& table, double costLimit,
                                                double seedWeight, double histWeight,
                                                double rpdWeight, const SeedDistWeights& w,
                                                const AuctionOptions& options) {
  return nModifiedWeightedBipartiteMatching(
      set1, set2, table, Weights{seedWeight, histWeight, rpdWeight, costLimit, w}, options);
}

AuctionStats nModifiedWeightedBipartiteMatching(const SeedSet& set1, const SeedSet& set2,
                                                MatchTable& table, const Weights& weights,
                                                const AuctionOptions& options) {
  const PairTerms* terms = options.terms;
  if (terms != nullptr && (terms->size1 != set1.size() || terms->size2 != set2.size() ||
                           terms->seedDist.size() != set1.size() * set2.size() ||
                           terms->pcal.size() != terms->seedDist.size())) {
    throw std::invalid_argument("pair terms of " + std::to_string(terms->size1) + " x " +
                                std::to_string(terms->size2) + " seeds given for seed sets of " +
                                std::to_string(set1.size()) + " and " +
                                std::to_string(set2.size()));
  }
  return runAuction(auctionInput(set1, set2, weights, terms, options.stop), table, {});
}

AuctionStats watchedAuction(const SeedSet& set1, const SeedSet& set2, MatchTable& table,
                            const Weights& weights, const PassWatcher& watch) {
  return runAuction(auctionInput(set1, set2, weights, nullptr, {}), table, watch);
}

}  // namespace seedmatch
