// Runs the fast auction (also on prepared pair terms) and the plain one on the
// same small seed sets and weights, decoded from the fuzz input, and aborts on
// any difference in the rows they append or in the passes they make. Rows of
// the plain engine are also checked against what every auction result must
// satisfy.
//
// Input layout (missing bytes read as 0):
//   4 numbers   costLimit, seedWeight, histWeight, rpdWeight
//   1 byte      rows already in the table: byte % 2
//   per set, set 1 then set 2:
//     1 byte    seed count: byte % 13
//     6 bytes   descriptor lengths: byte % 4
//     1 byte    extra distances beyond the seed count: byte % 3
//     per seed: 3 numbers pos, the descriptor values, 3 point counts, the distances
// A number is one byte: below 0x80 a multiple of 1/8 (equal values are
// common), up to 0xfe an entry of kNumbers, and for 0xff the next 8 bytes as
// a raw double. A point count is one byte: a small
// integer from -8, an entry of kCounts, or, for 0xff, 4 raw bytes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>

#include "seedmatch/matching/matching.h"

namespace {

using seedmatch::MatchTable;
using seedmatch::SEED;
using seedmatch::SeedSet;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Values where comparisons and sums go wrong: signed zeros, the histogram's bin
// edges, the auction's base value, the extremes and the non-finite.
constexpr double kNumbers[] = {
    0.0,
    -0.0,
    1.0,
    -1.0,
    0.5,
    2.0,
    3.0,
    0.1,
    0.25,
    39.999,
    40.0,
    999999.0,
    1e6,
    1e300,
    -1e300,
    1e308,
    -1e308,
    4.9e-324,
    2.2e-308,
    1.7976931348623157e308,
    -1.7976931348623157e308,
    kInf,
    -kInf,
    kNaN,
    -kNaN,
    7.0,
    100.0,
    1000.0,
    -0.5,
    20.0,
    1e-3,
};
constexpr std::size_t kNumberCount = std::size(kNumbers);

constexpr std::int32_t kCounts[] = {
    std::numeric_limits<std::int32_t>::max(),
    std::numeric_limits<std::int32_t>::min(),
    250,
    1000,
    16777217,
    -16777217,
    5000,
};
constexpr std::size_t kCountCount = std::size(kCounts);

struct Input {
  const std::uint8_t* data;
  std::size_t size;

  std::uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  template <typename T>
  T raw() {
    unsigned char bytes[sizeof(T)] = {};
    for (auto& b : bytes) b = byte();
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }
  double number() {
    const std::uint8_t b = byte();
    if (b < 0x80) return static_cast<double>(b) * 0.125;
    if (b == 0xff) return raw<double>();
    return kNumbers[(b - 0x80) % kNumberCount];
  }
  std::int32_t count() {
    const std::uint8_t b = byte();
    if (b < 0x80) return static_cast<std::int32_t>(b) - 8;
    if (b == 0xff) return raw<std::int32_t>();
    return kCounts[(b - 0x80) % kCountCount];
  }
};

SeedSet decodeSet(Input& in) {
  const std::size_t seeds = in.byte() % 13;
  std::size_t descLen[6];
  for (auto& len : descLen) len = in.byte() % 4;
  const std::size_t distances = seeds + in.byte() % 3;
  SeedSet set(seeds);
  for (SEED& seed : set) {
    for (double& x : seed.pos) x = in.number();
    for (std::size_t d = 0; d < 6; ++d) {
      seed.desc[d].resize(descLen[d]);
      for (double& v : seed.desc[d]) v = in.number();
    }
    for (std::int32_t& p : seed.pts) p = in.count();
    seed.neibCount = static_cast<std::int32_t>(distances);
    seed.neibDist.resize(distances);
    for (double& v : seed.neibDist) v = in.number();
    seedmatch::NeibDis(seed);
  }
  return set;
}

void printSet(const char* name, const SeedSet& set) {
  std::fprintf(stderr, "%s: %zu seeds\n", name, set.size());
  for (const SEED& seed : set) {
    std::fprintf(stderr, " pos %a %a %a\n", seed.pos[0], seed.pos[1], seed.pos[2]);
    for (const auto& desc : seed.desc) {
      std::fprintf(stderr, "  desc");
      for (double v : desc) std::fprintf(stderr, " %a", v);
      std::fprintf(stderr, "\n");
    }
    std::fprintf(stderr, "  pts %d %d %d\n  neibDist", static_cast<int>(seed.pts[0]),
                 static_cast<int>(seed.pts[1]), static_cast<int>(seed.pts[2]));
    for (double v : seed.neibDist) std::fprintf(stderr, " %a", v);
    std::fprintf(stderr, "\n");
  }
}

void printTable(const char* name, const MatchTable& table, std::int64_t passes) {
  std::fprintf(stderr, "%s: %lld passes\n", name, static_cast<long long>(passes));
  for (const auto& row : table) std::fprintf(stderr, " %a %a %a\n", row[0], row[1], row[2]);
}

struct Run {
  SeedSet set1, set2;
  double costLimit, seedWeight, histWeight, rpdWeight;
  MatchTable prior;
  MatchTable plain, fast;
  std::int64_t plainPasses, fastPasses;
};

[[noreturn]] void fail(const Run& run, const char* what) {
  std::fprintf(stderr, "engines_fuzz: %s\n", what);
  std::fprintf(stderr, "costLimit %a seedWeight %a histWeight %a rpdWeight %a\n", run.costLimit,
               run.seedWeight, run.histWeight, run.rpdWeight);
  printSet("set 1", run.set1);
  printSet("set 2", run.set2);
  printTable("plain", run.plain, run.plainPasses);
  printTable("fast", run.fast, run.fastPasses);
  std::abort();
}

// Whether the first rows of a are b's rows, bit for bit.
bool startsWith(const MatchTable& a, const MatchTable& b) {
  return a.size() >= b.size() &&
         (b.empty() || std::memcmp(a.data(), b.data(), b.size() * sizeof b[0]) == 0);
}

// What every auction result satisfies, whatever the costs: prior rows kept,
// whole in-range indices, each seed in one pair at most, rows in ascending
// object order, every stored cost below the limit, passes within the limit.
void checkResult(const Run& run) {
  const MatchTable& table = run.plain;
  const bool set2Bids = run.set1.size() > run.set2.size();
  const std::size_t bidders = set2Bids ? run.set2.size() : run.set1.size();
  if (!startsWith(table, run.prior)) fail(run, "rows already in the table changed");
  if (table.size() - run.prior.size() > bidders) fail(run, "more rows than bidders");
  if (run.plainPasses < 0 || run.plainPasses > 30 * static_cast<std::int64_t>(bidders)) {
    fail(run, "pass count outside 0 to 30 per bidder");
  }
  std::set<double> used1, used2;
  double lastObject = -1.0;
  for (std::size_t i = run.prior.size(); i < table.size(); ++i) {
    const auto& [i1, i2, cost] = table[i];
    if (!(i1 >= 0.0 && i1 < static_cast<double>(run.set1.size()) && i1 == std::floor(i1)) ||
        !(i2 >= 0.0 && i2 < static_cast<double>(run.set2.size()) && i2 == std::floor(i2))) {
      fail(run, "row index outside its set");
    }
    if (!used1.insert(i1).second || !used2.insert(i2).second) fail(run, "a seed in two rows");
    const double object = set2Bids ? i1 : i2;
    if (!(object > lastObject)) fail(run, "rows not in ascending object order");
    lastObject = object;
    if (!(cost < run.costLimit)) fail(run, "a row whose cost is not below costLimit");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  Run run{};
  run.costLimit = in.number();
  run.seedWeight = in.number();
  run.histWeight = in.number();
  run.rpdWeight = in.number();
  if (in.byte() % 2 == 1) run.prior.push_back({5.0, 9.0, -1.0});
  run.set1 = decodeSet(in);
  run.set2 = decodeSet(in);

  const seedmatch::SeedDistWeights weights{};
  run.plain = run.prior;
  run.fast = run.prior;
  run.plainPasses =
      seedmatch::referenceAuction(run.set1, run.set2, run.plain, run.costLimit, run.seedWeight,
                                  run.histWeight, run.rpdWeight, weights)
          .passes;
  run.fastPasses = seedmatch::nModifiedWeightedBipartiteMatching(
                       run.set1, run.set2, run.fast, run.costLimit, run.seedWeight, run.histWeight,
                       run.rpdWeight, weights)
                       .passes;
  if (run.plainPasses != run.fastPasses) fail(run, "the engines made different passes");
  if (run.plain.size() != run.fast.size() || !startsWith(run.plain, run.fast))
    fail(run, "the engines appended different rows");
  const seedmatch::PairTerms terms = seedmatch::preparePairTerms(run.set1, run.set2, weights);
  seedmatch::MatchTable prepared = run.prior;
  const std::int64_t preparedPasses =
      seedmatch::nModifiedWeightedBipartiteMatching(run.set1, run.set2, prepared, run.costLimit,
                                                    run.seedWeight, run.histWeight, run.rpdWeight,
                                                    weights, {&terms, {}})
          .passes;
  if (preparedPasses != run.plainPasses || prepared.size() != run.plain.size() ||
      !startsWith(run.plain, prepared)) {
    fail(run, "the fast engine on prepared pair terms differs from the plain one");
  }
  checkResult(run);
  return 0;
}
