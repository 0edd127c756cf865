#include <cmath>
#include <tuple>

#include "support.h"

namespace seedmatch {

using test::kInf, test::kNaN;

// Bit for bit, so that 0.0 and -0.0 differ; any NaN equals any NaN.
bool same(double expected, double actual) {
  return std::bit_cast<std::uint64_t>(expected) == std::bit_cast<std::uint64_t>(actual) ||
         (std::isnan(expected) && std::isnan(actual));
}

using V = std::vector<double>;

TEST(Vectors, L2L2V2AndZeroPatch) {
  const struct {
    V a, b;
    double l2, l2V2;
    bool bZero;
  } cases[] = {
      {{1, 2, 3}, {4, 6}, 5.0, 3.5355339059327378, false},  // the common length, in index order
      {{4, 6}, {1, 2, 3}, 5.0, 3.5355339059327378, false},
      {{}, {}, 0.0, kNaN, true},
      {{}, {1, 2}, 0.0, kNaN, false},
      {{7}, {7}, 0.0, 0.0, false},
      {{3}, {-1}, 4.0, 4.0, false},
      {{1, kNaN}, {1, 2}, kNaN, kNaN, false},
      {{kInf}, {1}, kInf, kInf, false},
      {{1, 2, kNaN}, {1, 2}, 0.0, 0.0, false},  // NaN beyond the common length
      {{kInf}, {kInf}, kNaN, kNaN, false},
      {{-kInf}, {kInf}, kInf, kInf, false},
      {{1e-200}, {0}, 0.0, 0.0, true},         // the square underflows
      {{1e200}, {0, -0.0}, kInf, kInf, true},  // the square overflows
      {{1}, {0, kNaN}, 1.0, 1.0, false},
      {{1}, {4.9e-324}, 1.0, 1.0, false},
  };
  for (const auto& c : cases) {
    EXPECT_PRED2(same, c.l2, l2(c.a, c.b));
    EXPECT_PRED2(same, c.l2V2, l2V2(c.a, c.b));
    EXPECT_EQ(c.bZero, check_zero_patch(c.b));
  }
  // l2HB: the value for the flags set (only b's before only a's), l2 when neither is.
  for (const auto& [f1, f2, expected] : {std::tuple{true, true, 10.0},
                                         {true, false, 30.0},
                                         {false, true, 20.0},
                                         {false, false, 5.0}})
    EXPECT_EQ(l2HB(V{1, 2, 3}, V{4, 6}, f1, f2, 10.0, 20.0, 30.0), expected);
}

TEST(SinglePrecision, PtsDiffAndIsZero) {
  const std::tuple<std::int32_t, std::int32_t, double> pts[] = {
      {3, 5, 0.008},
      {7, 7, 0.0},
      {-5, 0, 0.02},
      {16777217, 0, 67108.864},  // 16777217 converts to 16777216
      {100000001, 100000000, 0.0},
      {INT32_MIN, INT32_MIN, 0.0},
      {-16777216, 16777216, 33554432.0 / 250.0},
      {INT32_MAX, INT32_MIN, 4294967296.0 / 250.0},
  };
  for (const auto& [a, b, expected] : pts) EXPECT_PRED2(same, expected, pts_diff(a, b));
  const std::pair<V, int> zero[] = {
      {{}, 1},
      {{0.0, 0.0}, 1},
      {{kNaN}, 1},
      {{-1.0, 0.5}, 1},
      {{1e39}, 0},
      {{0.1, -0.1}, 0},  // a double accumulator would reach exactly 0
      {{100000000, 1, -100000000}, 1},
      {{1e-46, 1e-46, 1e-46, 1e-46}, 1},
      {{1e-45}, 0},  // rounds to the smallest single-precision subnormal
  };
  for (const auto& [desc0, expected] : zero)  // only desc[0] is read
    EXPECT_EQ(expected, isZero(SEED{{}, {desc0, V{5.0}, V{100.0}}, {}, 0, {}, {}}));
}

SEED descSeed(V d0, V d1, V d2, V d4, std::int32_t p0, std::int32_t p1, std::int32_t p2) {
  return {{}, {d0, d1, d2, V{123.0}, d4, V{-7.0}}, {p0, p1, p2}, 0, {}, {}};
}

TEST(SeedDist, WorkedExamples) {
  const SEED s1 = descSeed({1, 2}, {0, 0, 0}, {3}, {10}, 100, 200, 300);
  const SEED s2 = descSeed({4, 6}, {3, 4, 12}, {1}, {0}, 150, 200, 50);
  const SeedDistTerms t = seedDistTerms(s1, s2, SeedDistWeights{});
  const double terms[] = {t.dDesc0, t.dDesc1, t.dDesc2, t.dDesc4,
                          t.dPts0,  t.dPts1,  t.dPts01, t.dPts2};
  const double expected[] = {5.0, 13.0, 2.0, 10.0, 0.2, 0.0, 0.2, 1.0};
  for (int k = 0; k < 8; ++k) EXPECT_PRED2(same, expected[k], terms[k]) << "term " << k;
  const double sum = (((5.0 + 0.8 * 13.0) + 1.4 * 2.0) + 0.8 * 0.2 + 0.1 * 10.0) + 0.2 * 1.0;
  EXPECT_PRED2(same, sum, t.seedDist);
  EXPECT_PRED2(same, sum, seedDist(s2, s1, SeedDistWeights{}));
  // Added left to right: 0.124, not the 0.12400000000000001 of another order.
  EXPECT_PRED2(
      same, 0.124,
      seedDist(descSeed({1}, {2}, {3}, {1}, 5, 0, 10), descSeed({1}, {2}, {3}, {0}, 0, 0, 0), {}));
  // Equal descriptors and point counts: 0 whatever desc[3], desc[5] and the position.
  const SEED moved{
      {50, 0, 0}, {V{1, 2}, V{0, 0, 0}, V{3}, V{999.0}, V{10}, V{5}}, {100, 200, 300}, 0, {}, {}};
  EXPECT_PRED2(same, 0.0, seedDist(s1, moved, SeedDistWeights{}));
  EXPECT_PRED2(same, 5.0, seedDist(s1, s2, SeedDistWeights{0, 0, 0, 0, 0}));
  EXPECT_PRED2(same, kNaN, seedDist(s1, descSeed({kNaN}, {}, {}, {}, 0, 0, 0), SeedDistWeights{}));
}

SEED neibSeed(V neibDist, V neibHist = {}) { return {{}, {}, {}, 0, neibDist, neibHist}; }

TEST(PairTerms, PcalAndRpd) {
  V h1(kHistBins, 0.0), h2(kHistBins, 0.0);
  h1[3] = 0.5;
  EXPECT_PRED2(same, 0.5, pcal(neibSeed({}, h1), neibSeed({}, h2), 17));
  EXPECT_PRED2(same, 0.5, pcal(neibSeed({}, h2), neibSeed({}, h1), -1));
  const SeedSet bidders{neibSeed({0, 1, 6}), neibSeed({1, 0, 9}), neibSeed({6, 9, 0})};
  const SeedSet objects{neibSeed({0, 4, 7}), neibSeed({4, 0, 7.5}), neibSeed({7, 7.5, 0})};
  const SeedSet nanBidders{neibSeed({0, kNaN}), neibSeed({kNaN, 0})};
  using Owner = std::vector<std::int32_t>;
  EXPECT_PRED2(same, 0.1625, rpd(bidders, objects, 2, 1, Owner{1, -1, 0}, 20));  // (6.5 / 2) / 20
  EXPECT_PRED2(same, 0.0, rpd(bidders, objects, 0, 1, Owner{-1, -1, -1}, 20));  // nothing else held
  EXPECT_PRED2(same, 0.0, rpd(bidders, objects, 0, 1, Owner{-1, 1, -1}, 20));   // only the object
  EXPECT_PRED2(same, 0.0, rpd(bidders, objects, 0, 1, Owner{}, 20));
  EXPECT_PRED2(same, kNaN, rpd(nanBidders, objects, 0, 0, Owner{-1, 1}, 20));
  EXPECT_PRED2(same, kInf, rpd(bidders, objects, 0, 0, Owner{-1, 1}, 0));
  EXPECT_PRED2(same, kNaN, rpd(objects, objects, 0, 0, Owner{-1, 1}, 0));  // 0 / 0
}

}  // namespace seedmatch
