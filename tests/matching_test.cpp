// The auction's behaviours, on every engine, and the random baseline.
#include <bit>
#include <set>

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
  using P = std::vector<std::int32_t>;
  const struct {
    const char* name;
    P pts1, pts2;
    double costLimit, seedWeight;
    MatchTable expected;
    std::int64_t passes;
  } cases[] = {
      // Both bidders want object 0 until its price sends bidder 0 to object 1.
      {"worked example", {1250, 725}, {1000, 1750}, 3.0, 1.0, {{1, 0, 1.1}, {0, 1, 2.0}}, 5},
      // Object 0's price reaches only 20 within the 60 passes allowed.
      {"pass limit", {1250, 1250}, {1000, 26250}, 1000.0, 1.0, {{1, 0, 1.0}}, 60},
      // Bidder 2 prefers object 1 (5.2 + 0) to object 0 (5.0 + 0.5) and is
      // dropped since 5.2 is not below 5.1, although 5.0 is. The tie in pass 1
      // (object 0 and 2 both at 2.0) goes to object 0.
      {"best only", {500, 1000, 2250}, {1000, 3550, 0}, 5.1, 1.0, {{1, 0, 0.0}, {0, 2, 2.0}}, 4},
      {"tie goes to the lower index", {1000}, {1250, 750}, 2.0, 1.0, {{0, 0, 1.0}}, 1},
      // Set 2 bids; rows still hold the set-1 index first, in its ascending order.
      {"set 1 larger", {2250, 9000, 1000}, {1000, 2000}, 2.0, 1.0, {{0, 1, 1.0}, {2, 0, 0.0}}, 2},
      {"set 2 larger", {1000, 2000}, {2250, 9000, 1000}, 2.0, 1.0, {{1, 0, 1.0}, {0, 2, 0.0}}, 2},
      // The empty bidder spends a pass; the empty object is never taken.
      {"empty seeds", {-1000, 1000}, {-1000, 1250}, 2.0, 1.0, {{1, 1, 1.0}}, 2},
      {"every object empty", {1000}, {-1000, -1000}, 2.0, 1.0, {}, 1},
      {"set 1 empty", {}, {1000}, 2.0, 1.0, {}, 0},
      {"set 2 empty", {1000}, {}, 2.0, 1.0, {}, 0},
      {"cost limit NaN", {1000}, {1000}, kNaN, 1.0, {}, 1},
      {"cost limit equal to the cost", {1000}, {1250}, 1.0, 1.0, {}, 1},
      // Gain exactly 0.0 still wins.
      {"cost 999999.0 above the base", {1000}, {1250}, 2e6, 999999.0, {{0, 0, 999999.0}}, 1},
      {"cost above the base", {1000}, {1250}, 2e6, 999999.5, {}, 1},
      // Bidder 1's gain is 0.125 - 1/3 once bidder 0 has raised the price.
      {"price sinks gain", {1000, 1000}, {1250, -1}, 2e6, 999998.875, {{0, 0, 999998.875}}, 2},
      {"cost of exactly -1.0", {1000}, {1250}, 2.0, -1.0, {{0, 0, -1.0}}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MatchTable table{{7.0, 8.0, 9.0}}, expected{{7.0, 8.0, 9.0}};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    const auto stats = GetParam()(line(c.pts1), line(c.pts2), table, c.costLimit, c.seedWeight, 0.0,
                                  0.0, kPtsOnly);
    EXPECT_EQ(stats.passes, c.passes);
    EXPECT_EQ(test::bits(table), test::bits(expected));
  }
}

std::string engineName(const testing::TestParamInfo<Engine>& info) {
  constexpr const char* kNames[] = {"Reference", "Fast", "Prepared"};
  return kNames[info.index];
}

INSTANTIATE_TEST_SUITE_P(Engines, Auction,
                         testing::Values(&referenceAuction, test::fastAuction,
                                         &test::preparedAuction),
                         engineName);

// n seeds of assorted point counts; every seed k with k % emptyEvery == 1 is empty.
SeedSet seeds(int n, int salt, int emptyEvery) {
  std::vector<std::int32_t> pts2;
  for (int k = 0; k < n; ++k)
    pts2.push_back((k * 7919 + salt * 104729) % 1000 *
                   (emptyEvery > 0 && k % emptyEvery == 1 ? -1 : 1));
  return line(pts2);
}

// Any draw: rows after those held, in object order, each seed once, no empty seed, a row for
// every live bidder when no object is empty, each costing what the auction would charge it
// against the pairs drawn before it; costLimit holds back nothing.
TEST(RandomMatching, RowsHaveTheBaselinesProperties) {
  for (const auto [n1, n2, empty1, empty2] :
       {std::array{12, 12, 4, 0}, {7, 15, 3, 5}, {15, 7, 6, 3}, {30, 30, 0, 0}, {9, 20, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << n1 << " x " << n2);
    const SeedSet set1 = seeds(n1, 1, empty1), set2 = seeds(n2, 2, empty2);
    const MatchRow held{7.0, 7.0, 7.0};
    MatchTable table{held};
    RandomMatching(set1, set2, table, kNaN, 1.0, 0.5, 2.0, {});
    ASSERT_FALSE(table.empty());
    EXPECT_EQ(table.front(), held);
    const bool set1Bids = n1 <= n2;
    const SeedSet &bidders = set1Bids ? set1 : set2, &objects = set1Bids ? set2 : set1;
    std::vector<std::int32_t> ownerAfter(objects.size(), -1);  // the final owners
    std::set<int> seen1, seen2;
    for (std::size_t r = 1; r < table.size(); ++r) {
      const int i1 = static_cast<int>(table[r][0]), i2 = static_cast<int>(table[r][1]);
      EXPECT_TRUE(seen1.insert(i1).second && seen2.insert(i2).second) << "row " << r;
      const int b = set1Bids ? i1 : i2, j = set1Bids ? i2 : i1;
      if (r > 1) {
        EXPECT_LT(table[r - 1][set1Bids ? 1 : 0], j) << "rows in object order";
      }
      EXPECT_FALSE(isZero(bidders[b]) || isZero(objects[j])) << "row " << r;
      ownerAfter[j] = b;
    }
    int liveBidders = 0;
    for (const SEED& bidder : bidders) liveBidders += !isZero(bidder);
    if (empty1 == 0 && empty2 == 0) {
      EXPECT_EQ(static_cast<int>(table.size()) - 1, liveBidders);
    }
    for (std::size_t r = 1; r < table.size(); ++r) {
      const int b = static_cast<int>(table[r][set1Bids ? 0 : 1]);
      const int j = static_cast<int>(table[r][set1Bids ? 1 : 0]);
      std::vector<std::int32_t> owner(objects.size(), -1);  // the pairs made before b's
      for (std::size_t k = 0; k < owner.size(); ++k)
        if (ownerAfter[k] >= 0 && ownerAfter[k] < b) owner[k] = ownerAfter[k];
      const double s =
          set1Bids ? seedDist(bidders[b], objects[j], {}) : seedDist(objects[j], bidders[b], {});
      const double cost = 2.0 * rpd(bidders, objects, b, j, owner, 20) +
                          (1.0 * s + 0.5 * pcal(bidders[b], objects[j], n1));
      EXPECT_EQ(std::bit_cast<std::uint64_t>(table[r][2]), std::bit_cast<std::uint64_t>(cost))
          << "row " << r;
    }
  }
}

}  // namespace seedmatch
