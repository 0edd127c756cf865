// The fast engine against the plain one: whole match tables, bit for bit, and
// pass counts, on many small adversarial cases and on realistic pairs. The
// report's averages against a literal pair-by-pair loop: bits and refusals.
#include "matching/matching.h"
#include "report/report.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace seedmatch {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Draws that are the same on every platform (the standard distributions are not).
class Draw {
 public:
  explicit Draw(std::uint64_t seed) : engine_(seed) {}
  double unit() { return static_cast<double>(engine_() >> 11) * 0x1p-53; }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(engine_() % n); }
  template <typename T>
  T pick(const std::vector<T>& values) {
    return values[below(values.size())];
  }
  double gauss(double sd) {  // sum of uniforms, close enough to a bell
    double s = 0.0;
    for (int i = 0; i < 12; ++i) s += unit();
    return (s - 6.0) * sd;
  }

 private:
  std::mt19937_64 engine_;
};

struct Weights {
  double costLimit, seedWeight, histWeight, rpdWeight;
};

std::string describe(const Weights& w, std::size_t n1, std::size_t n2) {
  return "sizes " + std::to_string(n1) + "/" + std::to_string(n2) + " costLimit " +
         std::to_string(w.costLimit) + " seedWeight " + std::to_string(w.seedWeight) +
         " histWeight " + std::to_string(w.histWeight) + " rpdWeight " +
         std::to_string(w.rpdWeight);
}

void expectSameRun(const SeedSet& set1, const SeedSet& set2, const Weights& w,
                   const SeedDistWeights& sw = {}) {
  MatchTable expected{{-5.0, -5.0, -5.0}};
  MatchTable actual = expected;
  const AuctionStats plain = referenceAuction(set1, set2, expected, w.costLimit, w.seedWeight,
                                              w.histWeight, w.rpdWeight, sw);
  const AuctionStats fast = nModifiedWeightedBipartiteMatching(
      set1, set2, actual, w.costLimit, w.seedWeight, w.histWeight, w.rpdWeight, sw);
  SCOPED_TRACE(describe(w, set1.size(), set2.size()));
  EXPECT_EQ(plain.passes, fast.passes);
  ASSERT_EQ(expected.size(), actual.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    for (std::size_t k = 0; k < 3; ++k) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(expected[i][k]),
                std::bit_cast<std::uint64_t>(actual[i][k]))
          << "row " << i << " field " << k << ": " << expected[i][k] << " vs " << actual[i][k];
    }
  }
}

// Few distinct values, so that costs and gains tie often; some seeds empty,
// some distances NaN or infinite.
SeedSet smallSet(Draw& draw, std::size_t n, bool oddDistances) {
  const std::vector<double> descValues{0.0, 0.5, 1.0, 2.0};
  const std::vector<std::int32_t> ptsValues{100, 350, 600};
  std::vector<double> distValues{0.0, 1.0, 2.0, 3.5, 10.0, 41.0};
  if (oddDistances) distValues.insert(distValues.end(), {kNaN, kInf, -kInf, 1e300});
  SeedSet set(n);
  for (SEED& s : set) {
    s.pos[0] = s.pos[1] = s.pos[2] = 0.0;
    s.desc[0] = {draw.pick(descValues), draw.pick(descValues)};
    if (draw.below(5) == 0) s.desc[0] = {0.0, 0.0};
    for (std::size_t d : {1u, 2u, 4u}) s.desc[d] = {draw.pick(descValues)};
    for (std::int32_t& p : s.pts) p = draw.pick(ptsValues);
    s.neibCount = static_cast<std::int32_t>(n);
    s.neibDist.resize(n);
    for (double& d : s.neibDist) d = draw.pick(distValues);
  }
  // Distances that read the same both ways, as those of real files do.
  if (draw.below(2) == 0) {
    for (std::size_t j = 0; j < n; ++j) {
      for (std::size_t k = 0; k < j; ++k) set[j].neibDist[k] = set[k].neibDist[j];
    }
  }
  for (SEED& s : set) NeibDis(s);
  return set;
}

TEST(FastEngine, SmallCasesMatchThePlainOne) {
  Draw draw(20240611);
  const std::vector<double> seedWeights{1.0, 0.5, 0.0, -1.0};
  const std::vector<double> histWeights{0.5, 0.0, -0.5, 2.0};
  const std::vector<double> rpdWeights{1.0, 0.25, 0.0, -0.0, -1.0, -0.5, kNaN, kInf, 20.0};
  const std::vector<double> limits{2.0, 0.0, 1e7, kNaN, kInf, 0.5, 3.0};
  for (int round = 0; round < 4000; ++round) {
    const std::size_t n1 = draw.below(13);
    const std::size_t n2 = draw.below(13);
    const bool odd = draw.below(4) == 0;
    const SeedSet set1 = smallSet(draw, n1, odd);
    const SeedSet set2 = smallSet(draw, n2, odd);
    Weights w{draw.pick(limits), draw.pick(seedWeights), draw.pick(histWeights),
              draw.pick(rpdWeights)};
    // A limit equal to a pair cost of the first pass, where rpd is 0.
    if (draw.below(4) == 0 && n1 > 0 && n2 > 0) {
      const SEED& a = set1[draw.below(n1)];
      const SEED& b = set2[draw.below(n2)];
      w.costLimit = w.rpdWeight * 0.0 + (w.seedWeight * seedDist(a, b, SeedDistWeights{}) +
                                          w.histWeight * pcal(a, b, 0));
    }
    expectSameRun(set1, set2, w);
    if (HasFatalFailure()) return;
  }
}

// Costs far above the base value, so that the test of the gain against 0.0
// decides, and prices matter.
TEST(FastEngine, CostsNearTheBaseValue) {
  Draw draw(7);
  for (int round = 0; round < 300; ++round) {
    const SeedSet set1 = smallSet(draw, draw.below(9), false);
    const SeedSet set2 = smallSet(draw, draw.below(9), false);
    const Weights w{2e6, 999998.0 + draw.unit(), 0.0, draw.pick(std::vector<double>{0.0, 1.0})};
    expectSameRun(set1, set2, w, SeedDistWeights{0.0, 0.0, 0.0, 0.0, 0.0});
    if (HasFatalFailure()) return;
  }
}

// Descriptor lengths that differ from seed to seed take the engine's general path.
TEST(FastEngine, MixedDescriptorLengths) {
  Draw draw(99);
  for (int round = 0; round < 200; ++round) {
    SeedSet set1 = smallSet(draw, 1 + draw.below(8), false);
    SeedSet set2 = smallSet(draw, 1 + draw.below(8), false);
    set1.front().desc[1] = {1.0, 2.0, 3.0};
    set2.back().desc[0].push_back(4.0);
    expectSameRun(set1, set2, {3.0, 1.0, 0.5, draw.pick(std::vector<double>{1.0, -1.0})});
    if (HasFatalFailure()) return;
  }
}

// A realistic pair: set 2 is set 1 moved a little, with seeds missing and
// added, shuffled; distances follow the positions.
void realisticPair(std::size_t n, std::uint64_t seed, SeedSet& set1, SeedSet& set2) {
  Draw draw(seed);
  const double side = 4.0 * std::cbrt(static_cast<double>(n));
  const auto fresh = [&] {
    SEED s{};
    for (double& x : s.pos) x = draw.unit() * side;
    const std::size_t lens[6] = {8, 4, 4, 2, 3, 2};
    const bool empty = draw.below(50) == 0;
    for (std::size_t d = 0; d < 6; ++d) {
      s.desc[d].resize(lens[d]);
      for (double& v : s.desc[d]) v = (d == 0 && empty) ? 0.0 : draw.unit();
    }
    for (std::int32_t& p : s.pts) p = 50 + static_cast<std::int32_t>(draw.below(4951));
    return s;
  };
  set1.clear();
  set2.clear();
  for (std::size_t i = 0; i < n; ++i) set1.push_back(fresh());
  for (const SEED& s : set1) {
    if (draw.below(10) == 0) continue;
    SEED t = s;
    for (double& x : t.pos) x += draw.gauss(0.3);
    for (auto& values : t.desc) {
      for (double& v : values) v = v != 0.0 ? v + draw.gauss(0.05) : 0.0;
    }
    for (std::int32_t& p : t.pts) p = static_cast<std::int32_t>(p * (0.95 + 0.1 * draw.unit()));
    set2.push_back(t);
  }
  for (std::size_t i = 0; i < n / 10; ++i) set2.push_back(fresh());
  for (std::size_t i = set2.size(); i > 1; --i) std::swap(set2[i - 1], set2[draw.below(i)]);
  for (SeedSet* set : {&set1, &set2}) {
    for (SEED& s : *set) {
      s.neibCount = static_cast<std::int32_t>(set->size());
      s.neibDist.clear();
      for (const SEED& t : *set) {
        const double dx = s.pos[0] - t.pos[0], dy = s.pos[1] - t.pos[1], dz = s.pos[2] - t.pos[2];
        s.neibDist.push_back(std::round(std::sqrt(dx * dx + dy * dy + dz * dz) * 1000.0) / 1000.0);
      }
      NeibDis(s);
    }
  }
}

// Every seed alike but for its position on a small integer grid: the fixed
// parts all tie and rpd alone decides, often between equal sums.
TEST(FastEngine, RpdDecidesBetweenLookalikes) {
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    SeedSet set1, set2;
    realisticPair(40, seed, set1, set2);
    Draw draw(seed);
    for (SeedSet* set : {&set1, &set2}) {
      for (SEED& s : *set) {
        for (auto& values : s.desc) values.assign(values.size(), 0.5);
        s.pts[0] = s.pts[1] = s.pts[2] = 100;
        for (double& x : s.pos) x = static_cast<double>(draw.below(4));
      }
      for (SEED& s : *set) {
        s.neibDist.clear();
        for (const SEED& t : *set) {
          s.neibDist.push_back(std::fabs(s.pos[0] - t.pos[0]) + std::fabs(s.pos[1] - t.pos[1]) +
                               std::fabs(s.pos[2] - t.pos[2]));
        }
        NeibDis(s);
      }
    }
    for (double rpdWeight : {1.0, 1e-3, -1.0}) {
      expectSameRun(set1, set2, {2.0, 1.0, 0.5, rpdWeight});
      if (HasFatalFailure()) return;
    }
  }
}

// Bidders that outbid each other, with costs a whole number of bid increments
// apart: cost plus price ties between objects, and the lower index must win on
// the later passes too.
TEST(FastEngine, ContestsWithTiesAcrossPrices) {
  const auto seed = [](double d0, std::size_t n) {
    SEED s{};
    s.desc[0] = {d0};
    s.pts[0] = s.pts[1] = s.pts[2] = 100;
    s.neibCount = static_cast<std::int32_t>(n);
    s.neibDist.assign(n, 0.0);
    NeibDis(s);
    return s;
  };
  // desc[0] of the objects; the bidders all hold 1.0, so a pair costs |offset|.
  const std::vector<std::vector<double>> objectSets{
      {1.5, 2.0, 1.0},
      {1.0, 1.5, 1.0},
      {2.0, 1.25, 1.5, 1.0},
      {1.375, 1.0, 1.25, 1.125, 2.0, 1.5, 1.0},
  };
  for (const auto& offsets : objectSets) {
    for (std::size_t bidders = 2; bidders <= offsets.size(); ++bidders) {
      SeedSet set1, set2;
      for (std::size_t b = 0; b < bidders; ++b) set1.push_back(seed(1.0, bidders));
      for (double d : offsets) set2.push_back(seed(d, offsets.size()));
      for (double rpdWeight : {0.0, 1.0}) {
        expectSameRun(set1, set2, {5.0, 1.0, 0.0, rpdWeight}, SeedDistWeights{0, 0, 0, 0, 0});
        if (HasFatalFailure()) return;
      }
    }
  }
}

TEST(FastEngine, RealisticPairsMatchThePlainOne) {
  struct Case {
    std::size_t n;
    std::uint64_t seed;
    Weights w;
  };
  const Case cases[] = {
      {300, 1, {2.0, 1.0, 0.5, 1.0}},
      {120, 2, {6.0, 1.0, 0.5, 3.0}},  // a loose limit: long contests
      {160, 3, {2.0, 1.0, 0.5, 0.0}},
      {160, 4, {2.0, 1.0, 0.5, -1.0}},
      {160, 5, {2.0, 1.0, -0.5, 1.0}},  // no lower bound from the point counts
  };
  for (const Case& c : cases) {
    SeedSet set1, set2;
    realisticPair(c.n, c.seed, set1, set2);
    expectSameRun(set1, set2, c.w);
    expectSameRun(set2, set1, c.w);
  }
}

// The averages as the loop over pairs of rows reads, checking each index and
// stored distance where it is used. The result, or the refusal's message.
std::string literalAverage(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                           bool stored) {
  if (table.size() < 2) return "4.0";
  const auto index = [&](std::size_t row, std::size_t side) {
    const double v = table[row][side];
    const std::size_t size = side == 0 ? set1.size() : set2.size();
    if (!(v > -1.0 && v < static_cast<double>(size))) {
      throw std::out_of_range("match row " + std::to_string(row) + ": index " +
                              std::to_string(v) + " is outside seed set " +
                              (side == 0 ? "1" : "2"));
    }
    return static_cast<std::size_t>(static_cast<std::int32_t>(v));
  };
  const auto entry = [](const SEED& s, std::size_t k, std::size_t row, const char* set) {
    if (k >= s.neibDist.size()) {
      throw std::out_of_range("match row " + std::to_string(row) + ": seed set " + set +
                              " holds no stored distance to seed " + std::to_string(k));
    }
    return s.neibDist[k];
  };
  const auto dist = [](const SEED& a, const SEED& b) {
    const double dx = a.pos[0] - b.pos[0], dy = a.pos[1] - b.pos[1], dz = a.pos[2] - b.pos[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
  };
  try {
    double sum = 0.0;
    std::int64_t count = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
      if (table[i][2] == -1.0) continue;
      const std::size_t p = index(i, 0), q = index(i, 1);
      for (std::size_t j = i + 1; j < table.size(); ++j) {
        if (table[j][2] == -1.0) continue;
        const std::size_t r = index(j, 0), t = index(j, 1);
        const double d1 = stored ? entry(set1[p], r, i, "1") : dist(set1[p], set1[r]);
        const double d2 = stored ? entry(set2[q], t, i, "2") : dist(set2[q], set2[t]);
        sum = sum + std::fabs(d1 - d2);
        count = count + 1;
      }
    }
    const double mean = sum / static_cast<double>(count);
    return std::to_string(std::bit_cast<std::uint64_t>(mean));
  } catch (const std::out_of_range& e) {
    return e.what();
  }
}

std::string fastAverage(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                        bool stored) {
  try {
    const double mean =
        stored ? nComputeAvgRP(set1, set2, table) : ComputeAvgRP(set1, set2, table);
    if (table.size() < 2 && mean == 4.0) return "4.0";
    return std::to_string(std::bit_cast<std::uint64_t>(mean));
  } catch (const std::out_of_range& e) {
    return e.what();
  }
}

// Random tables over sets whose seeds sometimes store too few distances, with
// unmatched rows, NaN costs, fractional and out-of-range indices: the same
// bits, or the same first refusal.
TEST(Averages, MatchThePairByPairLoop) {
  Draw draw(5150);
  const std::vector<double> costs{1.0, -1.0, 0.25, kNaN, -1.0};
  for (int round = 0; round < 3000; ++round) {
    const bool faulty = draw.below(3) == 0;
    SeedSet sets[2];
    for (SeedSet& set : sets) {
      set.resize(1 + draw.below(9));
      for (SEED& s : set) {
        for (double& x : s.pos) x = draw.gauss(5.0);
        s.neibDist.resize(set.size() - (faulty && draw.below(4) == 0 ? 1 + draw.below(set.size()) : 0));
        for (double& d : s.neibDist) d = draw.below(8) == 0 ? kNaN : draw.unit() * 20.0;
      }
    }
    MatchTable table(draw.below(12));
    for (MatchRow& row : table) {
      for (std::size_t side = 0; side < 2; ++side) {
        const double size = static_cast<double>(sets[side].size());
        row[side] = faulty && draw.below(10) == 0 ? size + draw.gauss(2.0)
                                                   : std::floor(draw.unit() * size) + 0.5 * draw.unit();
      }
      row[2] = draw.pick(costs);
    }
    for (bool stored : {false, true}) {
      SCOPED_TRACE("round " + std::to_string(round) + (stored ? " stored" : " positions"));
      ASSERT_EQ(literalAverage(sets[0], sets[1], table, stored),
                fastAverage(sets[0], sets[1], table, stored));
    }
  }
}

// Many rows: the averages of a realistic pair under a shuffled identity-like table.
TEST(Averages, LargeTablesMatchThePairByPairLoop) {
  SeedSet set1, set2;
  realisticPair(300, 11, set1, set2);
  Draw draw(12);
  MatchTable table;
  for (std::size_t i = 0; i < set2.size(); ++i) {
    table.push_back({static_cast<double>(draw.below(set1.size())), static_cast<double>(i),
                     draw.below(5) == 0 ? -1.0 : draw.unit()});
  }
  for (bool stored : {false, true}) {
    EXPECT_EQ(literalAverage(set1, set2, table, stored), fastAverage(set1, set2, table, stored));
  }
}

}  // namespace
}  // namespace seedmatch
