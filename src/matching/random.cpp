#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "engine.h"
#include "seedmatch/matching/matching.h"
#include "shared.h"

namespace seedmatch {

void RandomMatching(const SeedSet& set1, const SeedSet& set2, MatchTable& table, double costLimit,
                    double seedWeight, double histWeight, double rpdWeight,
                    const SeedDistWeights& w) {
  // The auction's sides; the sets are read in place, and the limit is ignored.
  const AuctionInput in = auctionInput(
      set1, set2, Weights{seedWeight, histWeight, rpdWeight, costLimit, w}, nullptr, {});
  const SeedSet& bidders = in.bidders;
  const SeedSet& objects = in.objects;
  const auto bidderCount = static_cast<std::int32_t>(bidders.size());
  const auto objectCount = static_cast<std::int32_t>(objects.size());

  std::vector<std::int32_t> owner(objects.size(), -1);
  std::vector<double> heldCost(objects.size(), kUnmatched);
  std::vector<char> used(objects.size(), 0);

  std::srand(static_cast<unsigned>(std::time(nullptr)));
  // Every bidder leaves the queue once and never returns, so the queue is
  // simply the bidders in index order.
  for (std::int32_t b = 0; b < bidderCount; ++b) {
    const SEED& bidder = bidders[static_cast<std::size_t>(b)];
    if (isZero(bidder) == 1) continue;
    // Plain redraws: each bidder draws at most once and bidders never outnumber
    // objects, so an unused object is always left.
    std::int32_t j = std::rand() % objectCount;
    while (used[static_cast<std::size_t>(j)] != 0) j = std::rand() % objectCount;
    used[static_cast<std::size_t>(j)] = 1;

    const SEED& object = objects[static_cast<std::size_t>(j)];
    if (isZero(object) == 1) continue;
    const double s = pairSeedDist(bidder, object, in.set1Bids, w);
    const double h = pcal(bidder, object, in.set1Size);
    const double r = rpd(bidders, objects, b, j, owner, kRpdDivisor);
    heldCost[static_cast<std::size_t>(j)] =
        pairCostOf(rpdWeight, r, fixedPartOf(seedWeight, s, histWeight, h));
    owner[static_cast<std::size_t>(j)] = b;
  }

  appendHeldRows(owner, heldCost, in.set1Bids, table);
}

}  // namespace seedmatch
