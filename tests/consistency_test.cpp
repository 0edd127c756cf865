#include "seedmatch/report/consistency.h"

#include <cmath>
#include <random>
#include <stdexcept>

#include "support.h"

namespace seedmatch {
namespace {

using Points = std::vector<std::array<double, 3>>;

// n points in a cube at about the density of a tissue (spacing near 11), no
// two closer than 5.
Points scatter(int n, std::uint32_t seed) {
  std::mt19937 random(seed);
  const double side = 11.5 * std::cbrt(static_cast<double>(n));
  std::uniform_real_distribution<double> along(0.0, side);
  Points points;
  while (static_cast<int>(points.size()) < n) {
    const std::array<double, 3> p{along(random), along(random), along(random)};
    bool apart = true;
    for (const auto& q : points) {
      apart = apart && std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]) >= 5.0;
    }
    if (apart) points.push_back(p);
  }
  return points;
}

SeedSet seedsAt(const Points& points) {
  SeedSet seeds;
  for (const auto& p : points) {
    std::vector<double> d;
    for (const auto& q : points) d.push_back(std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]));
    seeds.push_back(test::makeSeed(p[0], p[1], p[2], d));
  }
  return seeds;
}

// The points grown by `scale` about the origin and each moved by a normal
// jitter of `jitter` per axis.
Points moved(Points points, double scale, double jitter, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, jitter);
  for (auto& p : points) {
    for (double& x : p) x = scale * x + noise(random);
  }
  return points;
}

std::vector<SeedPair> identity(int n) {
  std::vector<SeedPair> pairs;
  for (int i = 0; i < n; ++i) pairs.push_back({i, i});
  return pairs;
}

const Points kPoints = scatter(300, 7);
const SeedSet kSet1 = seedsAt(kPoints);
const SeedSet kSet2 = seedsAt(moved(kPoints, 1.0, 0.8, 8));

TEST(Consistency, RefusesWhatItCannotJudge) {
  SeedSet shortRow = kSet1;
  shortRow[4].neibDist.resize(299);
  const auto refusal = [](const SeedSet& set1, const SeedSet& set2, std::vector<SeedPair> pairs,
                          std::int32_t neighbours = 10) -> std::string {
    try {
      consistency(set1, set2, pairs, {neighbours});
      return "accepted";
    } catch (const std::invalid_argument& error) {
      return error.what();
    }
  };
  const std::string shortDistances =
      ": seed 4 holds 299 distances, fewer than the 300 seeds of its set";
  EXPECT_EQ(refusal(shortRow, kSet2, {}), "set1" + shortDistances);
  EXPECT_EQ(refusal(kSet1, shortRow, {}), "set2" + shortDistances);
  EXPECT_EQ(refusal(kSet1, kSet2, {{0, 0}, {300, 1}}),
            "pairs[1, 0] = 300 is outside set1, which holds 300 seeds");
  EXPECT_EQ(refusal(kSet1, kSet2, {{0, -1}}),
            "pairs[0, 1] = -1 is outside set2, which holds 300 seeds");
  EXPECT_EQ(refusal(kSet1, kSet2, {{0, 0}, {1, 1}, {2, 1}}),
            "pairs: seed 1 of set2 is in pairs 1 and 2");
  EXPECT_EQ(refusal(kSet1, kSet2, {{3, 0}, {3, 1}}), "pairs: seed 3 of set1 is in pairs 0 and 1");
  EXPECT_EQ(refusal(kSet1, kSet2, {{0, 0}}, 0), "neighbours must be at least 1");
}

// Fewer than three pairs leave nothing to check a pair against: zeros, never NaN.
TEST(Consistency, TooFewPairsScoreZero) {
  for (int m = 0; m < 3; ++m) {
    const Consistency c = consistency(kSet1, kSet2, identity(m));
    EXPECT_EQ(c.score, std::vector<double>(m, 0.0));
    EXPECT_EQ(c.trusted, std::vector<std::uint8_t>(m, 0));
    EXPECT_EQ(c.neighbours, std::max(0, m - 1));
    for (const double v : {c.estTruePairs, c.estPrecision, c.estRecall, c.estF1}) EXPECT_EQ(v, 0.0);
  }
}

// Seeds all at the same distances from one another: a pair one seed off
// agrees as well as the right one, so nothing can be told apart.
TEST(Consistency, EquidistantSeedsGiveNoEstimate) {
  SeedSet regular;
  for (int i = 0; i < 4; ++i) {
    std::vector<double> d(4, 1.0);
    d[i] = 0.0;
    regular.push_back(test::makeSeed(i, 0, 0, d));
  }
  const Consistency c = consistency(regular, regular, identity(4));
  EXPECT_EQ(c.estTruePairs, 0.0);
  EXPECT_EQ(c.estF1, 0.0);
}

// A right pairing with some seeds swapped, some left out and the set grown:
// the swapped pairs are doubtful, the rest trusted, the left-out seeds found
// as missed and the growth measured.
TEST(Consistency, TellsRightPairsFromWrongOnes) {
  for (const auto& [scale, jitter] : {std::pair{1.0, 0.3}, {1.0, 1.0}, {1.04, 0.8}, {0.97, 0.8}}) {
    SCOPED_TRACE(testing::Message() << "scale " << scale << ", jitter " << jitter);
    const SeedSet set2 = seedsAt(moved(kPoints, scale, jitter, 9));
    std::vector<SeedPair> pairs = identity(280);  // seeds 280 to 299 left out
    std::vector<bool> right(pairs.size(), true);
    for (int i = 0; i < 40; i += 4) {  // seeds 0 to 39 swapped four by four
      std::swap(pairs[i].q, pairs[i + 3].q);
      right[i] = right[i + 3] = false;
    }
    const Consistency c = consistency(kSet1, set2, pairs);
    int wrongTrusted = 0, rightDoubtful = 0;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      EXPECT_TRUE(c.score[i] >= 0.0 && c.score[i] <= 1.0);
      EXPECT_EQ(c.trusted[i], c.score[i] > 0.5);
      wrongTrusted += !right[i] && c.trusted[i];
      rightDoubtful += right[i] && !c.trusted[i];
    }
    EXPECT_EQ(wrongTrusted, 0);
    EXPECT_LE(rightDoubtful, 5);  // 2% of the right pairs
    EXPECT_NEAR(c.estTruePairs, 260.0, 3.0);
    EXPECT_NEAR(c.estMissedPairs, 40.0, 4.0);  // the 20 left out and the 20 swapped
    EXPECT_NEAR(c.estPrecision, 260.0 / 280.0, 3.0 / 280.0);
    EXPECT_NEAR(c.estRecall, 260.0 / 300.0, 0.015);
    EXPECT_NEAR(c.scale, scale, 0.01);
    EXPECT_GT(c.tolerance, 0.0);
  }
}

// Pairings that leave most seeds out but agree with one another (right pairs spread out or
// in a corner, or a corner paired with a copy of itself far away) score the recall of their size.
TEST(Consistency, FewPairsScoreALowRecall) {
  const SeedNeighbours near = seedNeighbours(kSet1, 14);
  std::vector<SeedPair> spread, corner{{0, 0}}, copy{{0, 300}};
  for (int i = 0; i < 300; i += 10) spread.push_back({i, i});
  Points elsewhere = moved(kPoints, 1.0, 0.8, 8);
  elsewhere.push_back({kPoints[0][0] + 1000.0, kPoints[0][1], kPoints[0][2]});
  for (std::int32_t c = 0; c < near.count; ++c) {
    const std::int32_t y = near.nearest[c];
    corner.push_back({y, y});
    copy.push_back({y, static_cast<std::int32_t>(elsewhere.size())});
    elsewhere.push_back({kPoints[y][0] + 1000.0, kPoints[y][1], kPoints[y][2]});
  }
  const SeedSet withCopy = seedsAt(elsewhere);
  const struct {
    const char* name;
    const std::vector<SeedPair>& pairs;
    const SeedSet& set2;
  } cases[] = {{"spread", spread, kSet2}, {"corner", corner, kSet2}, {"copy", copy, withCopy}};
  for (const auto& one : cases) {
    SCOPED_TRACE(one.name);
    const Consistency c = consistency(kSet1, one.set2, one.pairs);
    EXPECT_NEAR(c.estPrecision, 1.0, 0.02);
    EXPECT_NEAR(c.estRecall, static_cast<double>(one.pairs.size()) / 300.0, 0.02);
  }
}

// A pairing of the seeds with arbitrary partners agrees with nothing.
TEST(Consistency, ShuffledPairingIsDoubtful) {
  std::vector<SeedPair> pairs = identity(300);
  std::mt19937 random(3);
  for (std::size_t i = pairs.size() - 1; i > 0; --i) {
    std::swap(pairs[i].q, pairs[std::uniform_int_distribution<std::size_t>(0, i)(random)].q);
  }
  const Consistency c = consistency(kSet1, kSet2, pairs);
  EXPECT_LT(c.estTruePairs, 3.0);
  EXPECT_LT(c.estF1, 0.02);
}

// Neighbours found beforehand, as the sweep shares them, give the same bits;
// so does a neighbour list longer than needed.
TEST(Consistency, SharedNeighboursChangeNothing) {
  std::vector<SeedPair> pairs = identity(250);
  std::swap(pairs[10].q, pairs[11].q);
  const Consistency own = consistency(kSet1, kSet2, pairs);
  for (const std::int32_t kept : {kKeptNeighbours, 80}) {
    const SeedNeighbours near1 = seedNeighbours(kSet1, kept), near2 = seedNeighbours(kSet2, kept);
    const Consistency shared = consistency(kSet1, kSet2, pairs, {10, &near1, &near2});
    EXPECT_EQ(shared.score, own.score);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(shared.estF1), std::bit_cast<std::uint64_t>(own.estF1));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(shared.estMissedPairs),
              std::bit_cast<std::uint64_t>(own.estMissedPairs));
  }
}

TEST(Consistency, NeighboursNearestFirst) {
  const SeedSet line{test::makeSeed(0, 0, 0, {0, 1, 3, 3}), test::makeSeed(1, 0, 0, {1, 0, 2, 2}),
                     test::makeSeed(3, 0, 0, {3, 2, 0, test::kNaN}),
                     test::makeSeed(3, 0, 0, {3, 2, 0, 0})};
  const SeedNeighbours near = seedNeighbours(line, 5);
  EXPECT_EQ(near.count, 3);
  // Equal distances by index; NaN as the farthest.
  EXPECT_EQ(near.nearest, (std::vector<std::int32_t>{1, 2, 3, 0, 2, 3, 1, 0, 3, 2, 1, 0}));
}

TEST(Consistency, MatchedPairsSkipUnmatchedRows) {
  const std::vector<SeedPair> pairs =
      matchedPairs({{0, 2, 1.0}, {1, 1, kUnmatched}, {2.9, 0, 0.5}, {4, 3, test::kNaN}});
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ((std::array{pairs[0].p, pairs[0].q, pairs[1].p, pairs[1].q, pairs[2].p, pairs[2].q}),
            (std::array{0, 2, 2, 0, 4, 3}));
}

}  // namespace
}  // namespace seedmatch
