// seedmatch-churn: what changes between two passes of one bidder, the room a
// pass has to start from its bidder's last one. Runs the fast engine once and
// watches every pass of a bidder that has had one before: the wins since
// (handovers), the objects taken for the first time since (each adds a term
// to every rpd sum), the moved holder distance M (the sum over the objects
// that changed owner of |h(owner now) - h(owner then)|, h the bidder's row),
// which bounds how far any of its rpd sums can have fallen, that fall as a
// cost, rpdWeight * M / (20 * held), in bid increments, and the share of the
// held list (in rpd's order) before the first object that changed, the part
// of a sum that could be kept. Prints the 10th, 50th and 90th percentiles.
//
// usage: seedmatch-churn FILE1 FILE2 SEED_WEIGHT HIST_WEIGHT RPD_WEIGHT COST_LIMIT
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "matching/shared.h"
#include "seedmatch/seed/seed.h"

namespace {

struct Handover {
  std::int32_t object, ownerBefore;
};

void printPercentiles(const char* name, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const auto at = [&](double q) {
    return values.empty() ? 0.0 : values[static_cast<std::size_t>(q * double(values.size() - 1))];
  };
  std::printf("%s %.4g %.4g %.4g\n", name, at(0.1), at(0.5), at(0.9));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace seedmatch;
  if (argc != 7) {
    std::fprintf(stderr, "usage: seedmatch-churn FILE1 FILE2 SEED_WEIGHT HIST_WEIGHT "
                         "RPD_WEIGHT COST_LIMIT\n");
    return 2;
  }
  SeedSet set1, set2;
  if (const auto error = readSeedPair(argv[1], argv[2], set1, set2)) {
    std::fprintf(stderr, "%s\n", formatReadError(*error).c_str());
    return 2;
  }
  const Weights weights{std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]),
                        std::atof(argv[6]), SeedDistWeights{}};
  const bool set1Bids = set1.size() <= set2.size();
  const SeedSet& bidders = set1Bids ? set1 : set2;
  const SeedSet& objects = set1Bids ? set2 : set1;
  const double increment = 1.0 / (static_cast<double>(objects.size()) + 1.0);

  std::vector<std::int32_t> owner(objects.size(), -1);
  std::vector<Handover> log;
  std::vector<std::int64_t> lastPassAt(bidders.size(), -1);  // log length then
  std::vector<std::int64_t> seenIn(objects.size(), -1);  // the look that met it last
  std::int64_t looks = 0;
  std::size_t held = 0;
  std::vector<double> handovers, newlyHeld, moved, drift, prefix;
  const auto watch = [&](const PassSeen& seen) {
    const auto b = static_cast<std::size_t>(seen.bidder);
    if (const std::int64_t from = lastPassAt[b]; from >= 0) {
      const double* h = bidders[b].neibDist.data();
      double m = 0.0, distance = 0.0;
      std::int32_t firstChanged = static_cast<std::int32_t>(objects.size());
      ++looks;
      // The log's first entry of an object since then holds its owner then.
      for (auto i = static_cast<std::size_t>(from); i < log.size(); ++i) {
        const auto [k, before] = log[i];
        if (seenIn[static_cast<std::size_t>(k)] == looks) continue;
        seenIn[static_cast<std::size_t>(k)] = looks;
        firstChanged = std::min(firstChanged, k);
        if (before == -1) {
          ++m;
        } else if (owner[static_cast<std::size_t>(k)] != before) {
          distance += std::fabs(h[owner[static_cast<std::size_t>(k)]] - h[before]);
        }
      }
      std::size_t unchanged = 0;
      for (std::int32_t k = 0; k < firstChanged; ++k) unchanged += owner[k] != -1;
      handovers.push_back(static_cast<double>(log.size() - static_cast<std::size_t>(from)));
      newlyHeld.push_back(m);
      moved.push_back(distance);
      drift.push_back(held == 0 ? 0.0
                                : weights.rpd * distance / (20.0 * double(held)) / increment);
      prefix.push_back(held == 0 ? 1.0 : double(unchanged) / double(held));
    }
    lastPassAt[b] = static_cast<std::int64_t>(log.size());
    if (seen.pos < 0) return;
    const auto p = static_cast<std::size_t>(seen.pos);
    const double gain = (999999.0 - seen.cost) - seen.price[p];
    if (!(gain >= 0.0) || !(weights.costLimit > seen.cost)) return;
    const auto j = static_cast<std::size_t>(seen.live[p]);
    log.push_back({static_cast<std::int32_t>(j), owner[j]});
    held += owner[j] == -1;
    owner[j] = seen.bidder;
  };
  MatchTable table;
  const AuctionStats stats = watchedAuction(set1, set2, table, weights, watch);
  std::printf("passes %lld returning %zu held %zu\n", static_cast<long long>(stats.passes),
              handovers.size(), held);
  printPercentiles("handovers", handovers);
  printPercentiles("newly_held", newlyHeld);
  printPercentiles("moved_distance", moved);
  printPercentiles("drift_increments", drift);
  printPercentiles("unchanged_prefix", prefix);
  return 0;
}
