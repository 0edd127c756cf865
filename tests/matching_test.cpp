#include "matching/matching.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace seedmatch {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using Engine = AuctionStats (*)(const SeedSet&, const SeedSet&, MatchTable&, double, double,
                                double, double, const SeedDistWeights&);

// Only the point-count term of seedDist is weighted, so a pair costs
// seedWeight * |pts2 - pts2'| / 250: costs are set by placing seeds on a line.
constexpr SeedDistWeights kPtsOnly{0.0, 0.0, 0.0, 0.0, 1.0};

SEED seedAt(std::int32_t pts2, bool empty = false) {
  SEED s{};
  s.desc[0] = {empty ? 0.0 : 1.0};
  s.pts[0] = 0;
  s.pts[1] = 0;
  s.pts[2] = pts2;
  s.neibCount = 0;
  s.neibHist.assign(kHistBins, 0.0);
  return s;
}

// A set of seeds on the line whose distances to each other are all 0.
SeedSet line(const std::vector<std::int32_t>& pts2, const std::vector<bool>& empty = {}) {
  SeedSet set;
  for (std::size_t i = 0; i < pts2.size(); ++i) {
    set.push_back(seedAt(pts2[i], i < empty.size() && empty[i]));
  }
  for (SEED& s : set) {
    s.neibCount = static_cast<std::int32_t>(set.size());
    s.neibDist.assign(set.size(), 0.0);
  }
  return set;
}

std::string describe(const MatchTable& table) {
  std::string text;
  for (const MatchRow& row : table) {
    text += '[';
    for (double field : row) text.append(std::to_string(field)).append(" ");
    text += "] ";
  }
  return text;
}

// Whole tables compared bit for bit, so that 0.0 and -0.0 differ.
void expectSameTable(const MatchTable& expected, const MatchTable& actual) {
  ASSERT_EQ(expected.size(), actual.size()) << describe(actual);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(expected[i][k]),
                std::bit_cast<std::uint64_t>(actual[i][k]))
          << "row " << i << " field " << k << ": " << describe(actual);
    }
  }
}

struct AuctionCase {
  const char* name;
  SeedSet set1, set2;
  double costLimit;
  double seedWeight;
  MatchTable expected;
  std::int64_t passes;
};

std::vector<AuctionCase> auctionCases() {
  return {
      // Both bidders want object 0 until its price sends bidder 0 to object 1.
      {"worked example", line({1250, 725}), line({1000, 1750}), 3.0, 1.0,
       {{1, 0, 1.1}, {0, 1, 2.0}}, 5},
      // Object 0's price reaches only 20 within the 60 passes allowed.
      {"contest outlasts the pass limit", line({1250, 1250}), line({1000, 26250}), 1000.0, 1.0,
       {{1, 0, 1.0}}, 60},
      // Bidder 2 prefers object 1 (5.2 + 0) to object 0 (5.0 + 0.5) and is
      // dropped since 5.2 is not below 5.1, although 5.0 is. The tie in pass 1
      // (object 0 and 2 both at 2.0) goes to object 0.
      {"dropped on its best object only", line({500, 1000, 2250}), line({1000, 3550, 0}), 5.1,
       1.0, {{1, 0, 0.0}, {0, 2, 2.0}}, 4},
      {"tie goes to the lower index", line({1000}), line({1250, 750}), 2.0, 1.0, {{0, 0, 1.0}},
       1},
      // Set 2 bids; rows still hold the set-1 index first, in its ascending order.
      {"set 1 larger", line({2250, 9000, 1000}), line({1000, 2000}), 2.0, 1.0,
       {{0, 1, 1.0}, {2, 0, 0.0}}, 2},
      {"set 2 larger", line({1000, 2000}), line({2250, 9000, 1000}), 2.0, 1.0,
       {{1, 0, 1.0}, {0, 2, 0.0}}, 2},
      // The empty bidder spends a pass; the empty object is never taken.
      {"empty seeds", line({1000, 1000}, {true, false}), line({1000, 1250}, {true, false}), 2.0,
       1.0, {{1, 1, 1.0}}, 2},
      {"every object empty", line({1000}), line({1000, 1000}, {true, true}), 2.0, 1.0, {}, 1},
      {"set 1 empty", line({}), line({1000}), 2.0, 1.0, {}, 0},
      {"set 2 empty", line({1000}), line({}), 2.0, 1.0, {}, 0},
      {"cost limit 0", line({1000}), line({1000}), 0.0, 1.0, {}, 1},
      {"cost limit NaN", line({1000}), line({1000}), kNaN, 1.0, {}, 1},
      {"cost limit equal to the cost", line({1000}), line({1250}), 1.0, 1.0, {}, 1},
      // Gain exactly 0.0 still wins.
      {"cost 999999.0 above the base", line({1000}), line({1250}), 2e6, 999999.0,
       {{0, 0, 999999.0}}, 1},
      {"cost above the base", line({1000}), line({1250}), 2e6, 999999.5, {}, 1},
      // Bidder 1's gain is 0.125 - 1/3 once bidder 0 has raised the price.
      {"price pushes the gain below 0", line({1000, 1000}), line({1250, 0}, {false, true}), 2e6,
       999998.875, {{0, 0, 999998.875}}, 2},
      {"cost of exactly -1.0", line({1000}), line({1250}), 2.0, -1.0, {{0, 0, -1.0}}, 1},
  };
}

class Auction : public testing::TestWithParam<Engine> {};

TEST_P(Auction, FixedCosts) {
  for (const AuctionCase& c : auctionCases()) {
    SCOPED_TRACE(c.name);
    MatchTable table;
    const AuctionStats stats =
        GetParam()(c.set1, c.set2, table, c.costLimit, c.seedWeight, 0.0, 0.0, kPtsOnly);
    expectSameTable(c.expected, table);
    EXPECT_EQ(c.passes, stats.passes);
  }
}

TEST_P(Auction, RowsAlreadyInTheTableStayInFront) {
  MatchTable table{{7.0, 8.0, 9.0}, {-1.0, -1.0, -1.0}};
  GetParam()(line({1250, 725}), line({1000, 1750}), table, 3.0, 1.0, 0.0, 0.0, kPtsOnly);
  expectSameTable({{7.0, 8.0, 9.0}, {-1.0, -1.0, -1.0}, {1, 0, 1.1}, {0, 1, 2.0}}, table);
}

// Three seeds a side whose stored distances agree pair by pair; every cost
// term takes part (the driver's weights and rpdWeight 1).
TEST_P(Auction, ThreeSeedRun) {
  struct Row {
    double desc0;
    std::int32_t pts[3];
    std::vector<double> dist;
  };
  const auto build = [](const std::vector<Row>& rows) {
    SeedSet set;
    for (const Row& row : rows) {
      SEED s{};
      s.desc[0] = {row.desc0};
      for (int k = 0; k < 3; ++k) s.pts[k] = row.pts[k];
      s.neibCount = 3;
      s.neibDist = row.dist;
      NeibDis(s);
      set.push_back(s);
    }
    return set;
  };
  const SeedSet set1 = build({{1.0, {100, 100, 100}, {0, 4, 10}},
                              {1.4, {100, 100, 100}, {4, 0, 6}},
                              {5.0, {100, 100, 100}, {10, 6, 0}}});
  const SeedSet set2 = build({{1.8, {110, 100, 100}, {0, 4, 10}},
                              {1.4, {100, 100, 100}, {4, 0, 6}},
                              {5.0, {100, 100, 90}, {10, 6, 0}}});
  MatchTable table;
  const AuctionStats stats = GetParam()(set1, set2, table, 2.0, 1.0, 0.5, 1.0, SeedDistWeights{});
  ASSERT_EQ(3u, table.size()) << describe(table);
  const double expected[3][3] = {{0, 0, 0.832}, {1, 1, 0.0}, {2, 2, 0.008}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(expected[i][0], table[i][0]);
    EXPECT_EQ(expected[i][1], table[i][1]);
    EXPECT_DOUBLE_EQ(expected[i][2], table[i][2]);
  }
  EXPECT_EQ(4, stats.passes);
}

INSTANTIATE_TEST_SUITE_P(Engines, Auction,
                         testing::Values(&referenceAuction, &nModifiedWeightedBipartiteMatching),
                         [](const testing::TestParamInfo<Engine>& info) {
                           return std::string(info.index == 0 ? "Reference" : "Fast");
                         });

}  // namespace
}  // namespace seedmatch
