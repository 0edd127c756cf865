// The fast engine against the plain one: whole match tables bit for bit and
// pass counts, on thousands of small generated cases and on realistic pairs.
// The report's averages against a literal loop over pairs of rows.
#include <cmath>
#include <random>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <tuple>

#include "seedmatch/report/report.h"
#include "support.h"

namespace seedmatch {

using test::kInf, test::kNaN;

// Draws that are the same on every platform (the standard distributions are not).
struct Draw {
  std::mt19937_64 engine;
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(engine() % n); }
  double unit() { return static_cast<double>(engine() >> 11) * 0x1p-53; }
  double pick(std::initializer_list<double> values) { return values.begin()[below(values.size())]; }
};

void expectSameRun(const SeedSet& set1, const SeedSet& set2, const Weights& w) {
  MatchTable plain{{-5.0, -5.0, -5.0}}, fast = plain;
  SCOPED_TRACE(testing::Message() << set1.size() << "/" << set2.size() << " seeds, weights "
                                  << w.seed << " " << w.hist << " " << w.rpd << " " << w.costLimit
                                  << " " << w.seedDist.wDesc1);
  const auto run = [&](test::AuctionEngine engine, MatchTable& t) {
    return engine(set1, set2, t, w.costLimit, w.seed, w.hist, w.rpd, w.seedDist).passes;
  };
  MatchTable prepared = plain;
  const std::int64_t passes = run(referenceAuction, plain);
  EXPECT_EQ(passes, run(test::fastAuction, fast));
  ASSERT_EQ(test::bits(plain), test::bits(fast));
  EXPECT_EQ(passes, run(test::preparedAuction, prepared));
  ASSERT_EQ(test::bits(plain), test::bits(prepared)) << "with prepared terms";
}

enum Kind { kTies, kOdd, kGrid, kContest, kRealistic };

void setDistances(Draw& d, SeedSet& set, Kind kind) {
  const bool symmetric = kind >= kGrid || d.below(2) == 0;
  for (std::size_t j = 0; j < set.size(); ++j) {
    SEED& s = set[j];
    s.neibCount = static_cast<std::int32_t>(set.size());
    s.neibDist.resize(set.size());
    for (std::size_t k = 0; k < set.size(); ++k) {
      const double dx = s.pos[0] - set[k].pos[0], dy = s.pos[1] - set[k].pos[1],
                   dz = s.pos[2] - set[k].pos[2];
      s.neibDist[k] = symmetric && k < j ? set[k].neibDist[j]
                      : kind == kRealistic
                          ? std::round(std::sqrt(dx * dx + dy * dy + dz * dz) * 1e3) / 1e3
                      : kind == kGrid    ? std::fabs(dx) + std::fabs(dy) + std::fabs(dz)
                      : kind == kContest ? 0.0
                      : kind == kOdd     ? d.pick({0, 1, 3.5, 41, kNaN, kInf, -kInf, 1e300})
                                         : d.pick({0, 1, 2, 3.5, 10});
    }
  }
  for (SEED& s : set) NeibDis(s);
}

// A value of descriptor k. Ties (and odd): few distinct values, steps of 1/8
// putting costs whole bid increments apart. Grid: all alike, so that rpd alone
// decides. Contest: alike but for desc[0]. Realistic: spread out.
double descValue(Draw& d, Kind kind, std::size_t k) {
  switch (kind) {
    case kRealistic: return d.unit();
    case kGrid: return 0.5;
    case kContest: return k != 0 ? 0.5 : d.pick({1, 1.125, 1.25, 1.375, 1.5, 2});
    default: return d.pick({0.5, 1, 1.125, 1.25, 2});
  }
}

std::int32_t pointCount(Draw& d, Kind kind) {
  switch (kind) {
    case kRealistic: return static_cast<std::int32_t>(50 + d.below(4951));
    case kGrid:
    case kContest: return 100;
    default: return static_cast<std::int32_t>(d.pick({100, 350, 600}));
  }
}

// NaN and infinite distances when odd; contest: seeds at no distance, so that
// bidders outbid each other.
SeedSet makeSet(Draw& d, std::size_t n, Kind kind) {
  SeedSet set(n);
  const bool real = kind == kRealistic;
  for (SEED& s : set) {
    for (double& x : s.pos)
      x = real ? d.unit() * 4.0 * std::cbrt(n) : static_cast<double>(d.below(4));
    const bool empty = d.below(real ? 50 : 6) == 0;
    for (std::size_t k = 0; k < 6; ++k) {
      s.desc[k].resize(real ? std::array<std::size_t, 6>{8, 4, 4, 2, 3, 2}[k] : 1);
      for (double& v : s.desc[k]) v = k == 0 && empty ? 0 : descValue(d, kind, k);
    }
    for (std::int32_t& p : s.pts) p = pointCount(d, kind);
  }
  if (kind == kContest && d.below(2) == 0)
    std::fill(set.begin(), set.end(),
              set.empty() ? SEED{} : set[0]);  // identical bidders outbid each other
  if (n > 0 && !real && d.below(8) == 0) set[0].desc[1].push_back(3.0);  // no common layout
  setDistances(d, set, kind);
  return set;
}

TEST(FastEngine, SmallCasesMatchThePlainOne) {
  Draw d{std::mt19937_64(20240611)};
  for (int round = 0; round < 6000; ++round) {
    const Kind kind = static_cast<Kind>(d.below(4));
    const SeedSet set1 = makeSet(d, d.below(13), kind), set2 = makeSet(d, d.below(13), kind);
    Weights w;  // drawn limit first
    w.costLimit = d.pick({2, 0, 1e7, kNaN, kInf, 0.5, 3, 6, -0.0, -1, 0x1p-1074});
    w.seed = d.pick({1, 0.5, 0, -1});
    w.hist = d.pick({0.5, 0, -0.5, 2});
    w.rpd = d.pick({1, 0.25, 0, -0.0, -1, -0.5, kNaN, kInf, 20, 1e-3});
    w.seedDist = d.below(3) == 0 ? SeedDistWeights{0, 0, 0, 0, 0} : SeedDistWeights{};
    if (d.below(8) == 0)
      w = {999998.0 + d.unit(), 0.0, d.pick({0, 1}), 2e6, {0, 0, 0, 0, 0}};  // near the base
    if (d.below(4) == 0 && !set1.empty() && !set2.empty()) {  // a limit equal to a first-pass cost
      const SEED &a = set1[d.below(set1.size())], &b = set2[d.below(set2.size())];
      w.costLimit = w.rpd * 0.0 + (w.seed * seedDist(a, b, w.seedDist) + w.hist * pcal(a, b, 0));
    }
    expectSameRun(set1, set2, w);
    if (HasFatalFailure()) return;
  }
}

// Prepared terms under odd measure weights and NaN weights; terms of other sets
// are refused; a stop requested up front leaves the table as it was.
TEST(PreparedTerms, RunAsThePlainEngine) {
  Draw d{std::mt19937_64(99)};
  const SeedDistWeights odd{-1.0, kNaN, 0.5, -0.0, kInf};
  for (const auto& [n1, n2, kind] :
       {std::tuple{70, 9, kOdd}, {12, 80, kTies}, {0, 5, kTies}, {90, 70, kRealistic}}) {
    const SeedSet set1 = makeSet(d, n1, kind), set2 = makeSet(d, n2, kind);
    for (const SeedDistWeights& w : {SeedDistWeights{}, odd})
      for (const double weight : {kNaN, -0.0, 1.0})
        expectSameRun(set1, set2, {weight, 0.5, weight, 2, w});
  }
  const SeedSet set1 = makeSet(d, 6, kTies), set2 = makeSet(d, 7, kTies);
  MatchTable table{{1.0, 2.0, 3.0}};
  const PairTerms terms = preparePairTerms(set2, set1, {});
  EXPECT_THROW(nModifiedWeightedBipartiteMatching(set1, set2, table, 2, 1, 1, 1, {}, {&terms, {}}),
               std::invalid_argument);
  std::stop_source stop;
  stop.request_stop();
  EXPECT_TRUE(nModifiedWeightedBipartiteMatching(set1, set2, table, 2, 1, 1, 1, {},
                                                 {nullptr, stop.get_token()})
                  .stopped);
  EXPECT_EQ(table, (MatchTable{{1.0, 2.0, 3.0}}));
}

// Set 2 is set 1 moved a little, with seeds lost and added, shuffled (on the grid, drawn afresh).
std::array<SeedSet, 2> realisticPair(std::size_t n, std::uint64_t seed, Kind kind = kRealistic) {
  Draw d{std::mt19937_64(seed)};
  std::array<SeedSet, 2> sets{makeSet(d, n, kind), makeSet(d, n / 10, kind)};
  if (kind == kGrid) return {sets[0], makeSet(d, n, kGrid)};
  for (SEED s : sets[0]) {
    for (double& x : s.pos) x += d.unit() - 0.5;
    for (auto& values : s.desc)
      std::for_each(values.begin(), values.end(),
                    [&](double& v) { v = v != 0.0 ? v + 0.1 * d.unit() - 0.05 : 0.0; });
    for (std::int32_t& p : s.pts) p = static_cast<std::int32_t>(p * (0.95 + 0.1 * d.unit()));
    if (d.below(10) != 0) sets[1].push_back(s);
  }
  for (std::size_t i = sets[1].size(); i > 1; --i) std::swap(sets[1][i - 1], sets[1][d.below(i)]);
  setDistances(d, sets[1], kRealistic);
  return sets;
}

TEST(FastEngine, RealisticPairsMatchThePlainOne) {
  const struct {
    std::size_t n;
    std::uint64_t seed;
    Kind kind;
    Weights w;
  } cases[] = {
      {300, 1, kRealistic, {1, 0.5, 1, 2}},
      {120, 2, kRealistic, {1, 0.5, 3, 6}},  // a loose limit: long contests
      {160, 3, kRealistic, {1, 0.5, 0, 2}},
      {160, 4, kRealistic, {1, 0.5, -1, 2}},
      {160, 5, kRealistic, {1, -0.5, 1, 2}},  // no lower bound from the point counts
      {40, 6, kGrid, {1, 0.5, 1, 2}},
      {40, 7, kGrid, {1, 0.5, 1e-3, 2}},
      {40, 8, kGrid, {1, 0.5, -1, 2}},
  };
  for (const auto& c : cases) {
    const auto sets = realisticPair(c.n, c.seed, c.kind);
    for (std::size_t first : {0, 1}) expectSameRun(sets[first], sets[1 - first], c.w);
  }
}

// Look-alike seeds, so that the arrangement decides. Set 2 is set 1 turned by a
// degree, shifted, jittered, with seeds lost and added, shuffled.
std::array<SeedSet, 2> lookAlikePair(std::size_t n, std::uint64_t seed, double jitter) {
  Draw d{std::mt19937_64(seed)};
  const double side = 64.0 * std::cbrt(static_cast<double>(n) / 30.0), c = std::cos(0.02),
               sn = std::sin(0.02);
  const auto seedAt = [&](double x, double y, double z) {
    SEED s{{x, y, z}, {}, {}, 0, {}, {}};
    for (std::size_t k = 0; k < 6; ++k)
      for (std::size_t i = 0; i < (k == 0 ? 2u : 3u); ++i)
        s.desc[k].push_back(1.0 / (1.0 + static_cast<double>(i)) + 0.05 * d.unit());
    for (std::int32_t& p : s.pts) p = static_cast<std::int32_t>(800 + d.below(60));
    return s;
  };
  std::array<SeedSet, 2> sets;
  for (std::size_t i = 0; i < n; ++i)
    sets[0].push_back(seedAt(d.unit() * side, d.unit() * side, d.unit() * side));
  for (SEED s : sets[0]) {
    const double x = s.pos[0], y = s.pos[1],
                 moved[3] = {c * x - sn * y + 3.0, sn * x + c * y - 2.0, s.pos[2]};
    for (int a = 0; a < 3; ++a) s.pos[a] = moved[a] + jitter * (d.unit() - 0.5);
    for (auto& values : s.desc)
      for (double& v : values) v += 0.02 * jitter * (d.unit() - 0.5);
    if (d.below(12) != 0) sets[1].push_back(s);
  }
  for (std::size_t i = 0; i < n / 12; ++i)
    sets[1].push_back(seedAt(d.unit() * side, d.unit() * side, d.unit() * side));
  for (std::size_t i = sets[1].size(); i > 1; --i) std::swap(sets[1][i - 1], sets[1][d.below(i)]);
  for (SeedSet& set : sets) setDistances(d, set, kRealistic);
  return sets;
}

// Where rpd decides: long contests, returning bidders, structure-only weights,
// and a heavy rpd weight, under which runners-up have sums abandoned.
TEST(FastEngine, LookAlikeScenesMatchThePlainOne) {
  const struct {
    std::size_t n;
    std::uint64_t seed;
    double jitter;
  } scenes[] = {{150, 21, 4.0}, {120, 22, 1.0}, {90, 23, 8.0}};
  const Weights weights[] = {{1, 0.5, 1, 2},    {0.2, 0.1, 1, 2}, {0, 0, 1, 2},
                             {1, 0.5, 1, 6},    {1, 0.5, 3, 2},   {0.5, 0.5, 0.5, 0.3},
                             {1, 0.5, 1e3, 1e4}};
  for (const auto& scene : scenes) {
    const auto sets = lookAlikePair(scene.n, scene.seed, scene.jitter);
    for (const Weights& w : weights) {
      expectSameRun(sets[0], sets[1], w);
      expectSameRun(sets[1], sets[0], w);
    }
  }
}

// Two frames of dividing cells: each mother moved, then replaced by two look-alike sisters or
// (keep in 8) kept whole; only diameters tell seeds apart. spacing 11.5 is a real tissue's.
std::array<SeedSet, 2> sisterFrames(std::size_t n, std::uint64_t seed, double spacing,
                                    std::size_t keep) {
  Draw d{std::mt19937_64(seed)};
  const double side = spacing * std::cbrt(static_cast<double>(n));
  const auto cell = [](double x, double y, double z, double diameter) {
    return SEED{{x, y, z}, {std::vector<double>{diameter}}, {1, 1, 1}, 0, {}, {}};
  };
  std::array<SeedSet, 2> sets;
  for (std::size_t i = 0; i < n; ++i)
    sets[0].push_back(cell(d.unit() * side, d.unit() * side, d.unit() * side, 8.0 + d.unit()));
  for (const SEED& mother : sets[0]) {
    std::array<double, 3> at{}, half{};
    for (int a = 0; a < 3; ++a) {
      at[a] = mother.pos[a] + 3.5 * (d.unit() - 0.5);
      half[a] = 2.9 * (d.unit() - 0.5);
    }
    const double diameter = mother.desc[0][0] * (1.0 + 0.02 * (d.unit() - 0.5));
    if (d.below(8) < keep) {
      sets[1].push_back(cell(at[0], at[1], at[2], diameter));
      continue;
    }
    for (const double sign : {1.0, -1.0})
      sets[1].push_back(cell(at[0] + sign * half[0], at[1] + sign * half[1], at[2] + sign * half[2],
                             diameter / std::cbrt(2.0)));
  }
  for (std::size_t i = sets[1].size(); i > 1; --i) std::swap(sets[1][i - 1], sets[1][d.below(i)]);
  for (SeedSet& set : sets) setDistances(d, set, kRealistic);
  return sets;
}

// Contested frames, each checked to be as contested as it says, up to runs that end at the
// pass limit with bidders still waiting.
TEST(FastEngine, ContestedFramesMatchThePlainOne) {
  const struct {
    const char* what;
    std::size_t n;
    std::uint64_t seed;
    double spacing;
    std::size_t keep;
    Weights w;
    bool passLimit;   // the run ends at 30 passes a bidder
    double bin = 0;   // when not 0, a histogram bin of one seed in each frame
  } cases[] = {
      {"every mother divides", 40, 31, 11.5, 0, {0.5, 0, 4, 2}, false},
      {"one in eight divides", 70, 32, 11.5, 7, {0.5, 0, 4, 2}, true},
      {"one in eight divides", 70, 32, 11.5, 7, {1, 0.5, 1, 2}, true},
      {"half divide, dense: spacing 3", 60, 33, 3.0, 4, {0.5, 0, 4, 2}, true},
      {"half divide, dense: spacing 3", 60, 33, 3.0, 4, {1, 0.5, 1, 6}, true},
      // At histWeight 0 a fixed part leaves pcal out only while every pcal is finite.
      {"histWeight -0", 70, 32, 11.5, 7, {0.5, -0.0, 4, 2}, true},
      {"an infinite bin", 70, 32, 11.5, 7, {0.5, 0, 4, 2}, true, kInf},
      {"a NaN bin", 60, 33, 3.0, 4, {2, 0, 0.5, 2}, true, kNaN},
      {"a bin of 1e101", 60, 33, 3.0, 4, {0.5, 0, 4, 2}, true, 1e101},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto sets = sisterFrames(c.n, c.seed, c.spacing, c.keep);
    if (c.bin != 0) {
      sets[0][3].neibHist.at(1) = c.bin;
      sets[1][5].neibHist.at(0) = c.bin;
    }
    MatchTable table;
    const std::int64_t passes = referenceAuction(sets[0], sets[1], table, c.w.costLimit, c.w.seed,
                                                 c.w.hist, c.w.rpd, c.w.seedDist)
                                    .passes;
    EXPECT_GT(passes, 3 * static_cast<std::int64_t>(c.n)) << "not contested";
    EXPECT_EQ(passes == 30 * static_cast<std::int64_t>(c.n), c.passLimit);
    expectSameRun(sets[0], sets[1], c.w);
    expectSameRun(sets[1], sets[0], c.w);
  }
}

// Bidders at distance b from every seed; objects at b + 2s (only the cells' margin keeps
// their bound below the sum), b + 2s and an ulp, or b + 3s and b - s in turn.
double marginDistance(double b, double s, double pattern, std::size_t k) {
  return b + (pattern >= 0 ? pattern : k % 2 == 0 ? 3.0 : -1.0) * s;
}

TEST(FastEngine, BoundsAtTheirMarginsMatchThePlainOne) {
  Draw d{std::mt19937_64(777)};
  for (int round = 0; round < 600; ++round) {
    const double s = d.pick({1.0, 0.1, 1e-300, 1e6, 1e148, 1e151}), b = 4.0 * s;
    SeedSet bidders(3 + d.below(12), test::makeSeed(0, 0, 0)), objects(bidders.size() + d.below(4));
    for (SEED& bidder : bidders)
      bidder = test::makeSeed(0, 0, 0, std::vector<double>(bidders.size(), b));
    for (SEED& o : objects) {
      const double pattern = d.pick({2.0, 2.0 + 0x1p-50, -1.0});
      std::vector<double> row(objects.size());
      for (std::size_t k = 0; k < row.size(); ++k)
        row[k] = d.below(8) == 0 ? b + s : marginDistance(b, s, pattern, k);
      o = test::makeSeed(static_cast<double>(d.below(3)), static_cast<double>(d.below(3)), 0, row);
    }
    const double costLimit = d.pick({2.0, 1e300, kInf, 1e5});
    expectSameRun(bidders, objects,
                  {1.0, 0.5, d.pick({1.0, 5e5, 2.5e5 + d.unit(), 1e-3}), costLimit});
    if (HasFatalFailure()) return;
  }
}

// The averages as a literal loop over pairs of rows: the mean's bits, or the refusal.
double literalAverage(const std::array<SeedSet, 2>& sets, const MatchTable& table, bool stored) {
  const auto refuse = [](std::size_t row, const std::string& what) {
    throw std::out_of_range("match row " + std::to_string(row) + ": " + what);
  };
  const auto index = [&](std::size_t row, std::size_t side) {
    const double v = table[row][side];
    if (!(v > -1.0 && v < static_cast<double>(sets[side].size())))
      refuse(row,
             "index " + std::to_string(v) + " is outside seed set " + std::to_string(side + 1));
    return static_cast<std::size_t>(static_cast<std::int32_t>(v));
  };
  const auto dist = [&](std::size_t side, std::size_t a, std::size_t b, std::size_t row) {
    const SEED &s = sets[side][a], &t = sets[side][b];
    const double dx = s.pos[0] - t.pos[0], dy = s.pos[1] - t.pos[1], dz = s.pos[2] - t.pos[2];
    if (stored && b >= s.neibDist.size())
      refuse(row, "seed set " + std::to_string(side + 1) + " holds no stored distance to seed " +
                      std::to_string(b));
    return stored ? s.neibDist[b] : std::sqrt(dx * dx + dy * dy + dz * dz);
  };
  double sum = 0.0, count = 0.0;
  for (std::size_t i = 0; i < table.size() && table.size() >= 2; ++i) {
    if (table[i][2] == -1.0) continue;
    const std::size_t p = index(i, 0), q = index(i, 1);
    for (std::size_t j = i + 1; j < table.size(); ++j) {
      if (table[j][2] == -1.0) continue;
      const std::size_t r = index(j, 0), t = index(j, 1);
      const double d1 = dist(0, p, r, i);
      sum = sum + std::fabs(d1 - dist(1, q, t, i));
      count = count + 1.0;
    }
  }
  return table.size() < 2 ? 4.0 : sum / count;
}

// Unmatched rows, NaN costs, fractional and out-of-range indices, seeds storing
// too few distances, and one large realistic table.
TEST(Averages, MatchThePairByPairLoop) {
  const auto outcome = [](auto average) -> std::string {
    try {
      return std::to_string(std::bit_cast<std::uint64_t>(average()));
    } catch (const std::out_of_range& e) {
      return e.what();
    }
  };
  Draw d{std::mt19937_64(5150)};
  for (int round = 0; round <= 3000; ++round) {
    const bool faulty = d.below(3) == 0, large = round == 3000;
    auto sets =
        large ? realisticPair(300, 11)
              : std::array{makeSet(d, 1 + d.below(9), kOdd), makeSet(d, 1 + d.below(9), kOdd)};
    for (SeedSet& set : sets)
      for (SEED& s : set)
        s.neibDist.resize(s.neibDist.size() -
                          (faulty && d.below(4) == 0 ? 1 + d.below(s.neibDist.size()) : 0));
    MatchTable table(large ? sets[1].size() : d.below(12));
    for (MatchRow& row : table) {
      for (std::size_t side = 0; side < 2; ++side) {
        const double size = static_cast<double>(sets[side].size());
        row[side] = faulty && d.below(10) == 0 ? size + 4.0 * d.unit() - 2.0
                                               : std::floor(d.unit() * size) + 0.5 * d.unit();
      }
      row[2] = d.pick({1.0, -1.0, 0.25, kNaN, -1.0});
    }
    for (bool stored : {false, true}) {
      SCOPED_TRACE("round " + std::to_string(round) + (stored ? " stored" : " positions"));
      ASSERT_EQ(outcome([&] { return literalAverage(sets, table, stored); }), outcome([&] {
                  return stored ? nComputeAvgRP(sets[0], sets[1], table)
                                : ComputeAvgRP(sets[0], sets[1], table);
                }));
    }
  }
}

}  // namespace seedmatch
