// The cell bounds never above rpd's sum nor below the exact gain, on rows of constant shifts
// where only the margin keeps a bound below the rounded sum.
#include <cmath>
#include <numeric>
#include <random>

#include "matching/cell_bounds.h"
#include "matching/engine.h"
#include "matching/exact_cost.h"
#include "support.h"

namespace seedmatch {

TEST(CellBounds, StayBelowTheSumsTheyBound) {
  std::mt19937_64 draw(4242);
  const auto below = [&](std::size_t n) { return static_cast<std::size_t>(draw() % n); };
  const auto unit = [&] { return static_cast<double>(draw() >> 11) * 0x1p-53; };
  for (int round = 0; round < 20000; ++round) {
    const std::size_t nObjects = 2 + below(40), nBidders = 1 + below(nObjects);
    const double s = std::array{0.1, 1.0 / 3.0, 1e-3, 7.0, 1e6 / 3.0, 1e-290, 1e149}[below(7)];
    SeedSet objects(nObjects), bidders(nBidders);
    std::vector<double> holderRow(nBidders);
    for (double& h : holderRow) h = s * static_cast<double>(2 + below(3));
    for (SEED& b : bidders) b = test::makeSeed(0, 0, 0, holderRow);
    for (std::size_t j = 0; j < nObjects; ++j) {
      std::vector<double> row(nObjects);
      const double shift = s * std::array{0.6, 2.2, 1.0 / 7.0, 0.0}[below(4)];
      for (std::size_t k = 0; k < nObjects; ++k)
        row[k] = below(5) == 0 ? s * 9.0 * unit() : s * 3.0 + shift;
      objects[j] =
          test::makeSeed(unit() * 100.0, unit() * 100.0, below(2) == 0 ? 0.0 : unit(), row);
    }
    std::vector<std::int32_t> live(nObjects), owner(nObjects, -1);
    std::iota(live.begin(), live.end(), 0);
    CellSums sums = makeCellSums(objects, live);
    std::vector<std::size_t> held;
    const std::size_t fineFrom = below(nObjects);  // held objects before the finer cells start
    for (std::size_t k = 0; k < nObjects; ++k) {
      if (k == fineFrom) startFineCells(sums, objects, live, held);
      if (below(3) == 0) continue;
      owner[k] = static_cast<std::int32_t>(below(nBidders));
      held.push_back(k);
      addHeldObject(sums, objects, live, k, false);  // rows here read differently each way
    }
    if (held.empty()) continue;
    gatherBidderSums(sums, held, live, owner, bidders[0].neibDist);
    const double rpdWeight = std::array{1.0, 7e6, 0.37, 2.9e6, 4e5}[below(5)];
    std::vector<double> fixed(nObjects), price(nObjects), gain(nObjects);
    for (std::size_t p = 0; p < nObjects; ++p)
      fixed[p] = unit() * 3.0, price[p] = static_cast<double>(below(40)) / 41.0;
    gainBounds(&sums, rpdWeight, fixed.data(), price.data(), nObjects, gain.data());
    for (std::size_t p = 0; p < nObjects; ++p) {
      double sum = 0.0;  // rpd's own loop
      for (std::size_t k = 0; k < nObjects; ++k) {
        if (owner[k] != -1 && k != p)
          sum = sum +
                std::fabs(objects[p].neibDist[k] - holderRow[static_cast<std::size_t>(owner[k])]);
      }
      ASSERT_LE(rpdSumLowerBound(sums, p), sum) << "round " << round << ", object " << p;
      ASSERT_LE(rpdSumFineLowerBound(sums, p), sum) << "round " << round << ", object " << p;
      const double r = rpd(bidders, objects, 0, static_cast<std::int32_t>(p), owner, 20);
      const double exactGain = (999999.0 - (rpdWeight * r + fixed[p])) - price[p];
      ASSERT_GE(gain[p], exactGain) << "round " << round << ", object " << p;
    }
  }
}

// Two rpd sums formed in one walk over the held objects: each cost has the bits of the sum
// formed alone, or is NaN only where it could not displace the best, whichever chain stops
// first and with the best at a gain equal to one of them.
TEST(ExactCosts, TwoInOneWalkAsEachAlone) {
  std::mt19937_64 draw(2525);
  const auto below = [&](std::size_t n) { return static_cast<std::size_t>(draw() % n); };
  const auto unit = [&] { return static_cast<double>(draw() >> 11) * 0x1p-53; };
  for (int round = 0; round < 400; ++round) {
    const std::size_t n = 2 + below(150), nBidders = 1 + below(n);
    SeedSet objects(n), bidders(nBidders);
    for (SEED& o : objects) {
      std::vector<double> row(n);
      for (double& d : row) d = 10.0 * unit();
      o = test::makeSeed(0, 0, 0, row);
    }
    for (SEED& b : bidders) {
      std::vector<double> row(nBidders);
      for (double& d : row) d = 10.0 * unit();
      b = test::makeSeed(0, 0, 0, row);
    }
    const AuctionInput in =
        auctionInput(bidders, objects, {1.0, 0.5, 0.1 + unit(), 2.0}, nullptr, {});
    AuctionState state = startState(in, true);
    for (std::size_t p = 0; p < n; ++p) {
      if (below(3) == 0) continue;
      holdNewly(state, objects, p);
      state.owner[p] = static_cast<std::int32_t>(below(nBidders));
      state.price[p] = unit() * 0.01;
    }
    const double* dist = bidders[0].neibDist.data();
    std::vector<double> heldDist;
    for (const std::int32_t k : state.held)
      heldDist.push_back(dist[state.owner[static_cast<std::size_t>(k)]]);
    const std::array<std::size_t, 2> ps{below(n), below(n)};
    const std::array<double, 2> fixed{unit(), unit()};
    std::array<double, 2> alone{}, gain{};
    for (std::size_t c = 0; c < 2; ++c) {
      alone[c] = exactCost(state, in, dist, ps[c], fixed[c], Best{});
      gain[c] = gainOf(alone[c], state.price[ps[c]]);
    }
    const double g = gain[below(2)];
    Best best;
    best.gain = std::array{g, std::nextafter(g, 0.0), std::nextafter(g, 1e7), 0.0}[below(4)];
    best.pos = static_cast<std::int64_t>(below(n + 1)) - 1;
    const std::size_t k = 1 + below(2);
    const std::array<double, 2> cost =
        exactCostsInHeldOrder(state, in, heldDist.data(), k, ps, fixed, best);
    for (std::size_t c = 0; c < k; ++c) {
      if (std::isnan(cost[c]))
        EXPECT_FALSE(best.beatenBy(gain[c], static_cast<std::int64_t>(ps[c]))) << "round " << round;
      else
        EXPECT_EQ(std::bit_cast<std::uint64_t>(cost[c]), std::bit_cast<std::uint64_t>(alone[c]))
            << "round " << round;
    }
  }
}

// The largest distance the cells may work with, or -1.0 for a set whose
// distances fall outside the range their margin covers, wherever the odd value sits.
TEST(CellBounds, LargestDistanceOrRefusal) {
  const double nan = test::kNaN;
  const struct {
    std::vector<double> row;
    std::size_t at;
    double expected;
  } cases[] = {
      {{1.0, 2.0, 3.0, 0.0, 5.0}, 0, 5.0},
      {{0.0, 7.5}, 1, 7.5},
      {{1e150, 0.0, 0.0}, 0, 1e150},
      {{2.0, -0.0, 1.0}, 0, 2.0},
      {{2.0, 1.0, nan}, 2, -1.0},
      {{2.0, nan, 1.0, 3.0}, 1, -1.0},
      {{2.0, 1.0, -1e-300}, 2, -1.0},
      {{1e151, 1.0, 1.0}, 0, -1.0},
      {{1.0, 1.0, 1.0, 1.0, test::kInf}, 4, -1.0},
  };
  for (const auto& c : cases) {
    std::vector<double> plain(c.row.size(), 1.0);
    SeedSet seeds(c.row.size(), test::makeSeed(0, 0, 0, plain));
    seeds[c.at].neibDist = c.row;
    EXPECT_EQ(largestDistanceForCells(seeds), c.expected) << "odd row at " << c.at;
  }
}

}  // namespace seedmatch
