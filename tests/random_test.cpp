#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <random>
#include <set>

#include "matching/matching.h"
#include "support.h"

namespace seedmatch {
namespace {

constexpr double kSeedWeight = 1.0;
constexpr double kHistWeight = 0.5;
constexpr double kRpdWeight = 2.0;

// n seeds scattered in a 10-unit box with full descriptors and the distances
// between them; every emptyEvery-th seed (from seed 1 on) has an all-zero desc[0].
SeedSet scatteredSeeds(int n, unsigned generatorSeed, int emptyEvery) {
  std::mt19937 generator(generatorSeed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  SeedSet seeds(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) {
    SEED& s = seeds[static_cast<std::size_t>(k)];
    for (double& x : s.pos) x = 10.0 * unit(generator);
    const bool empty = emptyEvery > 0 && k % emptyEvery == 1;
    s.desc[0] = empty ? std::vector<double>{0.0, 0.0, 0.0}
                      : std::vector<double>{unit(generator), unit(generator), unit(generator)};
    s.desc[1] = {unit(generator), unit(generator)};
    s.desc[2] = {unit(generator), unit(generator)};
    s.desc[4] = {unit(generator)};
    for (std::int32_t& p : s.pts) p = 50 + static_cast<std::int32_t>(450.0 * unit(generator));
  }
  for (SEED& s : seeds) {
    s.neibCount = n;
    for (const SEED& other : seeds) {
      const double dx = s.pos[0] - other.pos[0];
      const double dy = s.pos[1] - other.pos[1];
      const double dz = s.pos[2] - other.pos[2];
      s.neibDist.push_back(std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    NeibDis(s);
  }
  return seeds;
}

MatchTable randomRows(const SeedSet& set1, const SeedSet& set2, double costLimit = 1.0) {
  MatchTable table;
  RandomMatching(set1, set2, table, costLimit, kSeedWeight, kHistWeight, kRpdWeight, {});
  return table;
}

TEST(RandomMatching, Invariants) {
  struct Case {
    int size1, size2;
    int emptyEvery1, emptyEvery2;
  };
  for (const Case c : {Case{12, 12, 4, 0}, Case{7, 15, 3, 5}, Case{15, 7, 6, 3}, Case{9, 9, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << c.size1 << " x " << c.size2);
    const SeedSet set1 = scatteredSeeds(c.size1, 1, c.emptyEvery1);
    const SeedSet set2 = scatteredSeeds(c.size2, 2, c.emptyEvery2);
    const MatchRow sentinel{7.0, 7.0, 7.0};
    MatchTable table{sentinel};
    RandomMatching(set1, set2, table, 1.0, kSeedWeight, kHistWeight, kRpdWeight, {});
    ASSERT_FALSE(table.empty());
    EXPECT_EQ(table.front(), sentinel);

    const bool set1Bids = set1.size() <= set2.size();
    const SeedSet& bidders = set1Bids ? set1 : set2;
    const SeedSet& objects = set1Bids ? set2 : set1;
    std::vector<int> objectOf(bidders.size(), -1);
    std::set<int> seen1, seen2;
    int lastObject = -1;
    for (std::size_t i = 1; i < table.size(); ++i) {
      const int p = static_cast<int>(table[i][0]);
      const int q = static_cast<int>(table[i][1]);
      EXPECT_TRUE(seen1.insert(p).second) << "set-1 seed " << p << " twice";
      EXPECT_TRUE(seen2.insert(q).second) << "set-2 seed " << q << " twice";
      const int object = set1Bids ? q : p;
      EXPECT_GT(object, lastObject) << "rows not in ascending object index";
      lastObject = object;
      EXPECT_EQ(isZero(set1[static_cast<std::size_t>(p)]), 0);
      EXPECT_EQ(isZero(set2[static_cast<std::size_t>(q)]), 0);
      objectOf[static_cast<std::size_t>(set1Bids ? p : q)] = object;
    }

    int nonEmptyBidders = 0;
    for (const SEED& s : bidders) nonEmptyBidders += isZero(s) == 0 ? 1 : 0;
    if (c.emptyEvery1 == 0 && c.emptyEvery2 == 0) {
      EXPECT_EQ(static_cast<int>(table.size()) - 1, nonEmptyBidders);
    } else if (set1Bids ? c.emptyEvery2 == 0 : c.emptyEvery1 == 0) {
      EXPECT_EQ(static_cast<int>(table.size()) - 1, nonEmptyBidders);  // empty bidders only
    }

    // Bidders draw in index order, so the owner list a pair saw holds exactly
    // the pairs of the lower bidders.
    std::vector<std::int32_t> owner(objects.size(), -1);
    for (std::int32_t b = 0; b < static_cast<std::int32_t>(bidders.size()); ++b) {
      const int j = objectOf[static_cast<std::size_t>(b)];
      if (j < 0) continue;
      const SEED& bidder = bidders[static_cast<std::size_t>(b)];
      const SEED& object = objects[static_cast<std::size_t>(j)];
      const double s = set1Bids ? seedDist(bidder, object, {}) : seedDist(object, bidder, {});
      const double h = pcal(bidder, object, static_cast<std::int32_t>(set1.size()));
      const double r = rpd(bidders, objects, b, j, owner, 20);
      const double expected = kRpdWeight * r + (kSeedWeight * s + kHistWeight * h);
      for (std::size_t i = 1; i < table.size(); ++i) {
        if (static_cast<int>(table[i][set1Bids ? 1 : 0]) == j) {
          EXPECT_EQ(table[i][2], expected);
        }
      }
      owner[static_cast<std::size_t>(j)] = b;
    }
  }
}

// Runs attempt() until one run starts and ends within the same second; returns
// that second.
template <class Attempt>
std::time_t withinOneSecond(Attempt attempt) {
  for (int tries = 0; tries < 5; ++tries) {
    const std::time_t start = std::time(nullptr);
    attempt();
    if (std::time(nullptr) == start) return start;
  }
  ADD_FAILURE() << "could not complete a run within one second";
  return 0;
}

TEST(RandomMatching, SameSecondSameRowsWhateverTheCostLimit) {
  const SeedSet set1 = scatteredSeeds(20, 3, 5);
  const SeedSet set2 = scatteredSeeds(25, 4, 6);
  MatchTable first, withNaN, withNegative;
  withinOneSecond([&] {
    first = randomRows(set1, set2, 1e9);
    withNaN = randomRows(set1, set2, std::numeric_limits<double>::quiet_NaN());
    withNegative = randomRows(set1, set2, -1e300);
  });
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(withNaN, first);
  EXPECT_EQ(withNegative, first);
}

TEST(RandomMatching, DrawsAreRedrawsOfRandModuloObjects) {
  const SeedSet set1 = scatteredSeeds(30, 5, 0);
  const SeedSet set2 = scatteredSeeds(30, 6, 0);
  MatchTable table;
  const std::time_t second = withinOneSecond([&] { table = randomRows(set1, set2); });

  std::srand(static_cast<unsigned>(second));
  std::vector<int> drawnFor(set1.size());
  std::vector<bool> used(set2.size(), false);
  for (int& j : drawnFor) {
    do {
      j = std::rand() % 30;
    } while (used[static_cast<std::size_t>(j)]);
    used[static_cast<std::size_t>(j)] = true;
  }
  ASSERT_EQ(table.size(), set1.size());
  for (const MatchRow& row : table) {
    EXPECT_EQ(drawnFor[static_cast<std::size_t>(row[0])], static_cast<int>(row[1]));
  }
}

TEST(RandomMatching, EmptySetDrawsNothingButSeedsTheGenerator) {
  const SeedSet some = scatteredSeeds(4, 7, 0);
  MatchTable table;
  int next = 0;
  const std::time_t second = withinOneSecond([&] {
    std::srand(12345);
    RandomMatching({}, some, table, 1.0, 1.0, 1.0, 1.0, {});
    next = std::rand();
  });
  EXPECT_TRUE(table.empty());
  std::srand(static_cast<unsigned>(second));
  EXPECT_EQ(next, std::rand());
}

}  // namespace
}  // namespace seedmatch
