// The auction's behaviours, on every engine, and the random baseline.
#include <cstdlib>
#include <ctime>
#include <map>

#include "support.h"

namespace seedmatch {

using test::kNaN;

using Engine = test::AuctionEngine;

// Seeds on a line, pts2 / 100 apart; a negative pts2 marks an empty seed. With only
// pts2 weighted, a pair costs seedWeight * |pts2 - pts2'| / 250.
SeedSet line(const std::vector<std::int32_t>& pts2) {
  SeedSet set(pts2.size());
  for (std::size_t i = 0; i < set.size(); ++i) {
    set[i].desc[0] = {pts2[i] < 0 ? 0.0 : 1.0};
    set[i].pts[2] = pts2[i];
    set[i].neibCount = static_cast<std::int32_t>(set.size());
    for (std::int32_t other : pts2) set[i].neibDist.push_back(std::abs(pts2[i] - other) / 100.0);
    NeibDis(set[i]);
  }
  return set;
}
constexpr SeedDistWeights kPtsOnly{0.0, 0.0, 0.0, 0.0, 1.0};

class Auction : public testing::TestWithParam<Engine> {};

// Rows already in the table stay in front of those the auction appends.
TEST_P(Auction, FixedCosts) {
  const struct {
    const char* name;
    SeedSet set1, set2;
    double costLimit, seedWeight;
    MatchTable expected;
    std::int64_t passes;
  } cases[] = {
      // Both bidders want object 0 until its price sends bidder 0 to object 1.
      {"worked example",
       line({1250, 725}),
       line({1000, 1750}),
       3.0,
       1.0,
       {{1, 0, 1.1}, {0, 1, 2.0}},
       5},
      // Object 0's price reaches only 20 within the 60 passes allowed.
      {"contest outlasts the pass limit",
       line({1250, 1250}),
       line({1000, 26250}),
       1000.0,
       1.0,
       {{1, 0, 1.0}},
       60},
      // Bidder 2 prefers object 1 (5.2 + 0) to object 0 (5.0 + 0.5) and is
      // dropped since 5.2 is not below 5.1, although 5.0 is. The tie in pass 1
      // (object 0 and 2 both at 2.0) goes to object 0.
      {"dropped on its best object only",
       line({500, 1000, 2250}),
       line({1000, 3550, 0}),
       5.1,
       1.0,
       {{1, 0, 0.0}, {0, 2, 2.0}},
       4},
      {"tie goes to the lower index", line({1000}), line({1250, 750}), 2.0, 1.0, {{0, 0, 1.0}}, 1},
      // Set 2 bids; rows still hold the set-1 index first, in its ascending order.
      {"set 1 larger",
       line({2250, 9000, 1000}),
       line({1000, 2000}),
       2.0,
       1.0,
       {{0, 1, 1.0}, {2, 0, 0.0}},
       2},
      {"set 2 larger",
       line({1000, 2000}),
       line({2250, 9000, 1000}),
       2.0,
       1.0,
       {{1, 0, 1.0}, {0, 2, 0.0}},
       2},
      // The empty bidder spends a pass; the empty object is never taken.
      {"empty seeds", line({-1000, 1000}), line({-1000, 1250}), 2.0, 1.0, {{1, 1, 1.0}}, 2},
      {"every object empty", line({1000}), line({-1000, -1000}), 2.0, 1.0, {}, 1},
      {"set 1 empty", line({}), line({1000}), 2.0, 1.0, {}, 0},
      {"set 2 empty", line({1000}), line({}), 2.0, 1.0, {}, 0},
      {"cost limit 0", line({1000}), line({1000}), 0.0, 1.0, {}, 1},
      {"cost limit NaN", line({1000}), line({1000}), kNaN, 1.0, {}, 1},
      {"cost limit equal to the cost", line({1000}), line({1250}), 1.0, 1.0, {}, 1},
      // Gain exactly 0.0 still wins.
      {"cost 999999.0 above the base",
       line({1000}),
       line({1250}),
       2e6,
       999999.0,
       {{0, 0, 999999.0}},
       1},
      {"cost above the base", line({1000}), line({1250}), 2e6, 999999.5, {}, 1},
      // Bidder 1's gain is 0.125 - 1/3 once bidder 0 has raised the price.
      {"price pushes the gain below 0",
       line({1000, 1000}),
       line({1250, -1}),
       2e6,
       999998.875,
       {{0, 0, 999998.875}},
       2},
      {"cost of exactly -1.0", line({1000}), line({1250}), 2.0, -1.0, {{0, 0, -1.0}}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MatchTable table{{7.0, 8.0, 9.0}}, expected{{7.0, 8.0, 9.0}};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(
        GetParam()(c.set1, c.set2, table, c.costLimit, c.seedWeight, 0.0, 0.0, kPtsOnly).passes,
        c.passes);
    EXPECT_EQ(test::bits(table), test::bits(expected));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Engines, Auction, testing::Values(&referenceAuction, test::fastAuction, &test::preparedAuction),
    [](const auto& info) {
      return std::string(info.index == 0 ? "Reference" : info.index == 1 ? "Fast" : "Prepared");
    });

// n seeds of assorted point counts; every seed k with k % emptyEvery == 1 is empty.
SeedSet seeds(int n, int salt, int emptyEvery) {
  std::vector<std::int32_t> pts2;
  for (int k = 0; k < n; ++k)
    pts2.push_back((k * 7919 + salt * 104729) % 1000 *
                   (emptyEvery > 0 && k % emptyEvery == 1 ? -1 : 1));
  return line(pts2);
}

// Each non-empty bidder in turn takes rand() % objects (seeded with the second),
// drawn again while taken; an empty object is used up unpaired. Each pair costs
// what it would in the auction, and no cost is held against costLimit (NaN here).
TEST(RandomMatching, RowsFollowTheDrawsOfRand) {
  for (const auto [n1, n2, empty1, empty2] :
       {std::array{12, 12, 4, 0}, {7, 15, 3, 5}, {15, 7, 6, 3}, {30, 30, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << n1 << " x " << n2);
    const SeedSet set1 = seeds(n1, 1, empty1), set2 = seeds(n2, 2, empty2);
    const MatchRow held{7.0, 7.0, 7.0};  // rows already in the table stay in front
    MatchTable table;
    std::time_t second = 0;
    for (int tries = 0; tries < 5 && second != std::time(nullptr); ++tries) {
      second = std::time(nullptr);
      table = {held};
      RandomMatching(set1, set2, table, kNaN, 1.0, 0.5, 2.0, {});
    }
    const bool set1Bids = n1 <= n2;
    const SeedSet &bidders = set1Bids ? set1 : set2, &objects = set1Bids ? set2 : set1;
    std::vector<std::int32_t> owner(objects.size(), -1), used(objects.size(), 0);
    std::map<int, MatchRow> rows;  // by object index
    std::srand(static_cast<unsigned>(second));
    for (int b = 0; b < static_cast<int>(bidders.size()); ++b) {
      if (isZero(bidders[b])) continue;
      int j;
      while (used[j = std::rand() % static_cast<int>(objects.size())]) {
      }
      used[j] = true;
      if (isZero(objects[j])) continue;
      const double s =
          set1Bids ? seedDist(bidders[b], objects[j], {}) : seedDist(objects[j], bidders[b], {});
      const double cost = 2.0 * rpd(bidders, objects, b, j, owner, 20) +
                          (1.0 * s + 0.5 * pcal(bidders[b], objects[j], n1));
      rows[j] = set1Bids ? MatchRow{1.0 * b, 1.0 * j, cost} : MatchRow{1.0 * j, 1.0 * b, cost};
      owner[j] = b;
    }
    MatchTable expected{held};
    for (const auto& [j, row] : rows) expected.push_back(row);
    EXPECT_EQ(table, expected);
  }
}

}  // namespace seedmatch
