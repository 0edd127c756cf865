// The auction written as directly as the algorithm reads. It is kept as the
// reference that the fast engines (engine.cpp) are tested against.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "seedmatch/matching/matching.h"
#include "shared.h"

namespace seedmatch {
namespace {

std::vector<int> emptyFlags(const SeedSet& seeds) {
  std::vector<int> empty(seeds.size());
  for (std::size_t i = 0; i < seeds.size(); ++i) empty[i] = isZero(seeds[i]);
  return empty;
}

// The objects whose fixed part plus price is below the winner's: those whose
// rpd decides the pass. Every object of the row has its terms by then.
std::int64_t contenders(const double* descCost, const double* histCost,
                        const std::vector<int>& objectEmpty, const std::vector<double>& price,
                        double seedWeight, double histWeight, double winner) {
  std::int64_t count = 0;
  for (std::size_t j = 0; j < objectEmpty.size(); ++j) {
    if (objectEmpty[j]) continue;
    count += fixedPartOf(seedWeight, descCost[j], histWeight, histCost[j]) + price[j] < winner;
  }
  return count;
}

}  // namespace

AuctionStats referenceAuction(const SeedSet& set1, const SeedSet& set2, MatchTable& table,
                              double costLimit, double seedWeight, double histWeight,
                              double rpdWeight, const SeedDistWeights& w) {
  const bool set1Bids = set1.size() <= set2.size();
  const SeedSet& bidders = set1Bids ? set1 : set2;
  const SeedSet& objects = set1Bids ? set2 : set1;
  const auto nBidders = static_cast<std::int32_t>(bidders.size());
  const auto nObjects = static_cast<std::int32_t>(objects.size());
  const auto set1Size = static_cast<std::int32_t>(set1.size());

  const std::vector<int> bidderEmpty = emptyFlags(bidders);
  const std::vector<int> objectEmpty = emptyFlags(objects);

  // seedDist and pcal depend on the pair alone, so each is computed once.
  const auto pairIndex = [nObjects](std::int32_t b, std::int32_t j) {
    return static_cast<std::size_t>(b) * static_cast<std::size_t>(nObjects) +
           static_cast<std::size_t>(j);
  };
  const std::size_t nPairs = bidders.size() * objects.size();
  std::vector<double> descCost(nPairs);
  std::vector<double> histCost(nPairs);
  std::vector<bool> known(nPairs);

  std::vector<double> price(objects.size(), 0.0);
  std::vector<std::int32_t> owner(objects.size(), -1);
  std::vector<double> heldCost(objects.size(), -1.0);
  std::deque<std::int32_t> queue;
  for (std::int32_t b = 0; b < nBidders; ++b) queue.push_back(b);
  const double bidIncrement = 1.0 / (nObjects + 1.0);
  const std::int64_t passLimit = kPassesPerBidder * nBidders;

  AuctionStats stats;
  const auto pairCost = [&](std::int32_t b, std::int32_t j) {
    const std::size_t p = pairIndex(b, j);
    if (!known[p]) {
      const SEED& bidder = bidders[static_cast<std::size_t>(b)];
      const SEED& object = objects[static_cast<std::size_t>(j)];
      descCost[p] = pairSeedDist(bidder, object, set1Bids, w);
      histCost[p] = pcal(bidder, object, set1Size);
      known[p] = true;
    }
    const double r = rpd(bidders, objects, b, j, owner, kRpdDivisor);
    ++stats.exactSums;
    return pairCostOf(rpdWeight, r, fixedPartOf(seedWeight, descCost[p], histWeight, histCost[p]));
  };

  while (!queue.empty() && stats.passes < passLimit) {
    ++stats.passes;
    const std::int32_t b = queue.front();
    queue.pop_front();
    if (bidderEmpty[static_cast<std::size_t>(b)]) continue;

    Best best;
    for (std::int32_t j = 0; j < nObjects; ++j) {
      if (objectEmpty[static_cast<std::size_t>(j)]) continue;
      const double c = pairCost(b, j);
      const double g = gainOf(c, price[static_cast<std::size_t>(j)]);
      if (g > best.gain) best = {g, c, j};
    }
    if (best.pos != -1) {
      const std::size_t row = pairIndex(b, 0);
      stats.contenders +=
          contenders(&descCost[row], &histCost[row], objectEmpty, price, seedWeight, histWeight,
                     best.cost + price[static_cast<std::size_t>(best.pos)]);
    }
    // Written so that a NaN operand fails the test and drops the bidder.
    if (!(best.gain >= 0.0) || !(costLimit > best.cost)) continue;

    const auto won = static_cast<std::size_t>(best.pos);
    heldCost[won] = best.cost;
    if (owner[won] != -1) queue.push_back(owner[won]);
    owner[won] = b;
    price[won] = price[won] + bidIncrement;
  }

  appendHeldRows(owner, heldCost, set1Bids, table);
  return stats;
}

void appendHeldRows(const std::vector<std::int32_t>& owner, const std::vector<double>& heldCost,
                    bool set1Bids, MatchTable& table) {
  for (std::size_t j = 0; j < owner.size(); ++j) {
    if (owner[j] == -1) continue;
    const auto holder = static_cast<double>(owner[j]);
    const auto object = static_cast<double>(j);
    table.push_back(set1Bids ? MatchRow{holder, object, heldCost[j]}
                             : MatchRow{object, holder, heldCost[j]});
  }
}

}  // namespace seedmatch
