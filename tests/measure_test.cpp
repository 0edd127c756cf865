#include "measure/measure.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace seedmatch {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Bit-for-bit equality, so that 0.0 and -0.0 differ and NaN equals NaN.
#define EXPECT_BITS_EQ(expected, actual) \
  EXPECT_EQ(std::bit_cast<std::uint64_t>(double{expected}), std::bit_cast<std::uint64_t>(double{actual})) \
      << "expected " << (expected) << ", got " << (actual)

using V = std::vector<double>;

struct PairCase {
  V a, b;
  double expected;
};

TEST(L2, CommonLengthInIndexOrder) {
  const PairCase cases[] = {
      {{1, 2, 3}, {4, 6}, 5.0},
      {{4, 6}, {1, 2, 3}, 5.0},
      {{}, {}, 0.0},
      {{}, {1, 2}, 0.0},
      {{3}, {-1}, 4.0},
      {{1, kNaN}, {1, 2}, kNaN},
      {{1, 2, kNaN}, {1, 2}, 0.0},  // NaN beyond the common length
      {{kInf}, {1}, kInf},
      {{kInf}, {kInf}, kNaN},
      {{-kInf}, {kInf}, kInf},
      {{1e-200}, {0}, 0.0},  // the square underflows
      {{1e200}, {0}, kInf},  // the square overflows
  };
  for (const auto& c : cases) {
    if (std::isnan(c.expected)) {
      EXPECT_TRUE(std::isnan(l2(c.a, c.b)));
    } else {
      EXPECT_BITS_EQ(c.expected, l2(c.a, c.b));
    }
  }
}

TEST(L2V2, DividesBeforeTheRoot) {
  EXPECT_BITS_EQ(3.5355339059327378, l2V2(V{1, 2, 3}, V{4, 6}));
  EXPECT_BITS_EQ(3.5355339059327378, l2V2(V{4, 6}, V{1, 2, 3}));
  EXPECT_BITS_EQ(0.0, l2V2(V{7}, V{7}));
  EXPECT_TRUE(std::isnan(l2V2(V{}, V{})));
  EXPECT_TRUE(std::isnan(l2V2(V{}, V{1})));
}

TEST(L2HB, FlagsChooseTheValueUnchanged) {
  const V a{1, 2, 3}, b{4, 6};
  EXPECT_BITS_EQ(10.0, l2HB(a, b, true, true, 10.0, 20.0, 30.0));
  EXPECT_BITS_EQ(30.0, l2HB(a, b, true, false, 10.0, 20.0, 30.0));
  EXPECT_BITS_EQ(20.0, l2HB(a, b, false, true, 10.0, 20.0, 30.0));
  EXPECT_BITS_EQ(5.0, l2HB(a, b, false, false, 10.0, 20.0, 30.0));
  EXPECT_BITS_EQ(-0.0, l2HB(a, b, true, true, -0.0, 1.0, 1.0));
  EXPECT_TRUE(std::isnan(l2HB(a, b, false, true, 1.0, kNaN, 1.0)));
  EXPECT_BITS_EQ(0.0, l2HB(V{}, V{1}, false, false, 1.0, 1.0, 1.0));
}

TEST(CheckZeroPatch, IeeeEquality) {
  EXPECT_TRUE(check_zero_patch(V{}));
  EXPECT_TRUE(check_zero_patch(V{0.0, -0.0}));
  EXPECT_FALSE(check_zero_patch(V{0.0, kNaN}));
  EXPECT_FALSE(check_zero_patch(V{0.0, 1e-300}));
  EXPECT_FALSE(check_zero_patch(V{4.9e-324}));
}

TEST(PtsDiff, SinglePrecisionDifference) {
  struct Case {
    std::int32_t a, b;
    double expected;
  };
  const Case cases[] = {
      {3, 5, 0.008},
      {5, 3, 0.008},
      {7, 7, 0.0},
      {16777217, 0, 67108.864},  // 16777217 converts to 16777216
      {100000001, 100000000, 0.0},
      {100000000, 100000001, 0.0},
      {-16777216, 16777216, 33554432.0 / 250.0},
      {INT32_MAX, INT32_MIN, 4294967296.0 / 250.0},
      {INT32_MIN, INT32_MIN, 0.0},
      {-5, 0, 0.02},
  };
  for (const auto& c : cases) EXPECT_BITS_EQ(c.expected, pts_diff(c.a, c.b));
}

SEED seedWithDesc0(V desc0) {
  SEED seed{};
  seed.desc[0] = std::move(desc0);
  return seed;
}

TEST(IsZero, SinglePrecisionAccumulator) {
  struct Case {
    V desc0;
    int expected;
  };
  const Case cases[] = {
      {{}, 1},
      {{0.0, 0.0}, 1},
      {{0.1, -0.1}, 0},  // a double accumulator would reach exactly 0
      {{100000000, 1, -100000000}, 1},
      {{1e-46, 1e-46, 1e-46, 1e-46}, 1},
      {{1e39}, 0},
      {{kNaN}, 1},
      {{-1.0, 0.5}, 1},
      {{1e-45}, 0},  // rounds to the smallest single-precision subnormal
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, isZero(seedWithDesc0(c.desc0)));
}

TEST(IsZero, ReadsOnlyTheFirstDescriptor) {
  SEED seed = seedWithDesc0({});
  seed.desc[1] = {5.0};
  seed.desc[2] = {100.0};
  EXPECT_EQ(1, isZero(seed));
}

SEED descSeed(V d0, V d1, V d2, V d4, std::int32_t p0, std::int32_t p1, std::int32_t p2) {
  SEED seed{};
  seed.desc[0] = std::move(d0);
  seed.desc[1] = std::move(d1);
  seed.desc[2] = std::move(d2);
  seed.desc[3] = {123.0};  // never read
  seed.desc[4] = std::move(d4);
  seed.desc[5] = {-7.0};  // never read
  seed.pts[0] = p0;
  seed.pts[1] = p1;
  seed.pts[2] = p2;
  return seed;
}

TEST(SeedDist, ExampleATermsAndSum) {
  const SEED s1 = descSeed({1, 2}, {0, 0, 0}, {3}, {10}, 100, 200, 300);
  const SEED s2 = descSeed({4, 6}, {3, 4, 12}, {1}, {0}, 150, 200, 50);
  const SeedDistTerms t = seedDistTerms(s1, s2, SeedDistWeights{});
  EXPECT_BITS_EQ(5.0, t.dDesc0);
  EXPECT_BITS_EQ(13.0, t.dDesc1);
  EXPECT_BITS_EQ(2.0, t.dDesc2);
  EXPECT_BITS_EQ(10.0, t.dDesc4);
  EXPECT_BITS_EQ(0.2, t.dPts0);
  EXPECT_BITS_EQ(0.0, t.dPts1);
  EXPECT_BITS_EQ(0.2, t.dPts01);
  EXPECT_BITS_EQ(1.0, t.dPts2);
  const double expected = (((5.0 + 0.8 * 13.0) + 1.4 * 2.0) + 0.8 * 0.2 + 0.1 * 10.0) + 0.2 * 1.0;
  EXPECT_BITS_EQ(expected, t.seedDist);
  EXPECT_BITS_EQ(t.seedDist, seedDist(s1, s2, SeedDistWeights{}));
  EXPECT_BITS_EQ(t.seedDist, seedDist(s2, s1, SeedDistWeights{}));
}

TEST(SeedDist, ExampleBAddsLeftToRight) {
  const SEED s1 = descSeed({1}, {2}, {3}, {1}, 5, 0, 10);
  const SEED s2 = descSeed({1}, {2}, {3}, {0}, 0, 0, 0);
  EXPECT_BITS_EQ(0.124, seedDist(s1, s2, SeedDistWeights{}));
  EXPECT_NE(std::bit_cast<std::uint64_t>(0.12400000000000001),
            std::bit_cast<std::uint64_t>(seedDist(s1, s2, SeedDistWeights{})));
}

TEST(SeedDist, EqualSeedsAndZeroWeights) {
  const SEED s1 = descSeed({1, 2}, {3}, {4}, {5}, 10, 20, 30);
  SEED s2 = s1;
  s2.desc[3] = {999.0};
  s2.pos[0] = 50.0;
  EXPECT_BITS_EQ(0.0, seedDist(s1, s2, SeedDistWeights{}));
  const SEED s3 = descSeed({4, 6}, {30}, {40}, {50}, 1000, 2000, 3000);
  EXPECT_BITS_EQ(l2(s1.desc[0], s3.desc[0]), seedDist(s1, s3, SeedDistWeights{0, 0, 0, 0, 0}));
  const SEED nanSeed = descSeed({kNaN}, {}, {}, {}, 0, 0, 0);
  EXPECT_TRUE(std::isnan(seedDist(s1, nanSeed, SeedDistWeights{})));
}

SEED histSeed(V hist) {
  SEED seed{};
  seed.neibHist = std::move(hist);
  return seed;
}

TEST(Pcal, DistanceBetweenHistograms) {
  V h1(kHistBins, 0.0), h2(kHistBins, 0.0);
  h1[3] = 0.5;
  EXPECT_BITS_EQ(0.5, pcal(histSeed(h1), histSeed(h2), 17));
  EXPECT_BITS_EQ(0.5, pcal(histSeed(h2), histSeed(h1), -1));
  EXPECT_BITS_EQ(0.0, pcal(histSeed(h1), histSeed(h1), 0));
}

SEED distSeed(V neibDist) {
  SEED seed{};
  seed.neibDist = std::move(neibDist);
  return seed;
}

TEST(Rpd, MeanDisagreementWithHeldPairs) {
  const SeedSet bidders{distSeed({0, 1, 6}), distSeed({1, 0, 9}), distSeed({6.0, 9.0, 0.0})};
  const SeedSet objects{distSeed({0, 4, 7}), distSeed({4.0, 0.0, 7.5}), distSeed({7, 7.5, 0})};
  const std::vector<std::int32_t> owner{1, -1, 0};
  EXPECT_BITS_EQ(0.1625, rpd(bidders, objects, 2, 1, owner, 20));
  // Two divisions: (6.5 / 2) / 20, not 6.5 / 40.
  EXPECT_BITS_EQ((6.5 / 2.0) / 20.0, rpd(bidders, objects, 2, 1, owner, 20));
}

TEST(Rpd, ZeroWithoutOtherHeldObjects) {
  const SeedSet bidders{distSeed({0, 5}), distSeed({5, 0})};
  const SeedSet objects{distSeed({0, 3}), distSeed({3, 0})};
  EXPECT_BITS_EQ(0.0, rpd(bidders, objects, 0, 1, std::vector<std::int32_t>{-1, -1}, 20));
  EXPECT_BITS_EQ(0.0, rpd(bidders, objects, 0, 1, std::vector<std::int32_t>{-1, 1}, 20));
  EXPECT_BITS_EQ(0.0, rpd(bidders, objects, 0, 1, std::vector<std::int32_t>{}, 20));
}

TEST(Rpd, NanDistancesAndZeroDivisor) {
  const SeedSet bidders{distSeed({0, kNaN}), distSeed({kNaN, 0})};
  const SeedSet objects{distSeed({0, 3}), distSeed({3, 0})};
  const std::vector<std::int32_t> owner{-1, 1};
  EXPECT_TRUE(std::isnan(rpd(bidders, objects, 0, 0, owner, 20)));
  const SeedSet finite{distSeed({0, 1}), distSeed({1, 0})};
  EXPECT_BITS_EQ(kInf, rpd(finite, objects, 0, 0, owner, 0));
  EXPECT_TRUE(std::isnan(rpd(objects, objects, 0, 0, owner, 0)));  // 0 / 0
}

}  // namespace
}  // namespace seedmatch
