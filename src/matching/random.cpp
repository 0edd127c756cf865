#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "seedmatch/matching/matching.h"
#include "shared.h"

namespace seedmatch {

void RandomMatching(const SeedSet& set1, const SeedSet& set2, MatchTable& table,
                    double /*costLimit*/, double seedWeight, double histWeight, double rpdWeight,
                    const SeedDistWeights& w) {
  // The smaller set bids, set 1 on equal sizes; the sets are read in place.
  const bool set1Bids = set1.size() <= set2.size();
  const SeedSet& bidders = set1Bids ? set1 : set2;
  const SeedSet& objects = set1Bids ? set2 : set1;
  const auto bidderCount = static_cast<std::int32_t>(bidders.size());
  const auto objectCount = static_cast<std::int32_t>(objects.size());
  const auto setSize = static_cast<std::int32_t>(set1.size());

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
    const double s = pairSeedDist(bidder, object, set1Bids, w);
    const double h = pcal(bidder, object, setSize);
    const double r = rpd(bidders, objects, b, j, owner, kRpdDivisor);
    heldCost[static_cast<std::size_t>(j)] = rpdWeight * r + (seedWeight * s + histWeight * h);
    owner[static_cast<std::size_t>(j)] = b;
  }

  appendHeldRows(owner, heldCost, set1Bids, table);
}

}  // namespace seedmatch
