#include "report.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace seedmatch {
namespace {

bool isUnmatched(const MatchRow& row) { return row[2] == kUnmatched; }

// The index a stored value selects: truncation toward zero. Values that would
// not land inside [0, size) (NaN included) are refused before the conversion,
// which would otherwise be undefined for them.
std::int32_t rowIndex(double stored, std::size_t size, std::size_t row, const char* which) {
  if (!(stored > -1.0 && stored < static_cast<double>(size))) {
    throw std::out_of_range("match row " + std::to_string(row) + ": index " +
                            std::to_string(stored) + " is outside seed set " + which);
  }
  return static_cast<std::int32_t>(stored);
}

struct RowSeeds {
  std::int32_t p;  // index in seed set 1
  std::int32_t q;  // index in seed set 2
};

RowSeeds rowSeeds(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                  std::size_t row) {
  return {rowIndex(table[row][0], set1.size(), row, "1"),
          rowIndex(table[row][1], set2.size(), row, "2")};
}

void checkIndices(const SeedSet& set1, const SeedSet& set2, const MatchTable& table) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (!isUnmatched(table[i])) rowSeeds(set1, set2, table, i);
  }
}

double distance(const double (&a)[3], const double (&b)[3]) {
  const double dx = a[0] - b[0];
  const double dy = a[1] - b[1];
  const double dz = a[2] - b[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

double storedDistance(const SEED& seed, std::int32_t other, std::size_t row, const char* set) {
  const auto at = static_cast<std::size_t>(other);
  if (at >= seed.neibDist.size()) {
    throw std::out_of_range("match row " + std::to_string(row) + ": seed set " + set +
                            " holds no stored distance to seed " + std::to_string(other));
  }
  return seed.neibDist[at];
}

// Mean of |within(set 1) - within(set 2)| over every pair of matched rows, the
// earlier row first, added in visiting order.
template <class Within>
double averageOverRowPairs(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                           Within within) {
  const std::size_t n = table.size();
  if (n < 2) return 4.0;
  // 64-bit: m matched rows make m(m-1)/2 pairs, beyond 32 bits from 65,537 rows on.
  double sum = 0.0;
  std::int64_t count = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (isUnmatched(table[i])) continue;
    const RowSeeds a = rowSeeds(set1, set2, table, i);
    for (std::size_t j = i + 1; j < n; ++j) {
      if (isUnmatched(table[j])) continue;
      const RowSeeds b = rowSeeds(set1, set2, table, j);
      sum = sum + std::fabs(within(a, b, i));
      count = count + 1;
    }
  }
  // With no pair this is 0.0 / 0.0 evaluated by the hardware: the NaN it yields
  // is what the report prints.
  return sum / static_cast<double>(count);
}

}  // namespace

double ComputeAvgRP(const SeedSet& set1, const SeedSet& set2, const MatchTable& table) {
  return averageOverRowPairs(set1, set2, table, [&](RowSeeds a, RowSeeds b, std::size_t) {
    const double dist1 = distance(set1[static_cast<std::size_t>(a.p)].pos,
                                  set1[static_cast<std::size_t>(b.p)].pos);
    const double dist2 = distance(set2[static_cast<std::size_t>(a.q)].pos,
                                  set2[static_cast<std::size_t>(b.q)].pos);
    return dist1 - dist2;
  });
}

double nComputeAvgRP(const SeedSet& set1, const SeedSet& set2, const MatchTable& table) {
  return averageOverRowPairs(set1, set2, table, [&](RowSeeds a, RowSeeds b, std::size_t row) {
    const double dist1 = storedDistance(set1[static_cast<std::size_t>(a.p)], b.p, row, "1");
    const double dist2 = storedDistance(set2[static_cast<std::size_t>(a.q)], b.q, row, "2");
    return dist1 - dist2;
  });
}

void evaluateMatch(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                   double seedWeight, double histWeight, const SeedDistWeights& w,
                   std::FILE* out) {
  if (table.empty()) {
    std::fputs("SUM1: 999  AVG1: 999  SUM2: 999 AVG2: 999", out);
    std::fputs(" AVGS 999 999 999 999\n", out);
    std::fflush(out);
    return;
  }
  // Both averages are pure and read every matched row of a table of two or more
  // rows; taking them before anything is printed means a table the seed sets
  // cannot serve throws before a partial report is written.
  const double positionAverage = ComputeAvgRP(set1, set2, table);
  const double storedAverage = nComputeAvgRP(set1, set2, table);

  const auto setSize = static_cast<std::int32_t>(set1.size());
  double sumCost = 0.0;
  double sumDesc0 = 0.0, sumDesc1 = 0.0, sumDesc2 = 0.0;
  double sumPts01 = 0.0, sumDesc4 = 0.0, sumPts2 = 0.0;
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (isUnmatched(table[i])) continue;
    const RowSeeds r = rowSeeds(set1, set2, table, i);
    const SEED& s1 = set1[static_cast<std::size_t>(r.p)];
    const SEED& s2 = set2[static_cast<std::size_t>(r.q)];
    const SeedDistTerms t = seedDistTerms(s1, s2, w);
    const double hist = pcal(s1, s2, setSize);
    const double evalCost = seedWeight * t.seedDist + histWeight * hist;
    std::fprintf(out,
                 "%2d %2d %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f\n",
                 r.p, r.q, table[i][2], t.seedDist, hist, evalCost, t.dDesc0, t.dDesc1, t.dDesc2,
                 t.dPts01, t.dDesc4, t.dPts2, distance(s1.pos, s2.pos));
    sumCost = sumCost + evalCost;
    sumDesc0 = sumDesc0 + t.dDesc0;
    sumDesc1 = sumDesc1 + t.dDesc1;
    sumDesc2 = sumDesc2 + t.dDesc2;
    sumPts01 = sumPts01 + t.dPts01;
    sumDesc4 = sumDesc4 + t.dDesc4;
    sumPts2 = sumPts2 + t.dPts2;
  }

  const auto n = static_cast<double>(table.size());  // unmatched rows count too
  std::fprintf(out, "SUM: %6.3f AVG: %6.3f avgRP: %6.3f navgRP: %6.3f", sumCost, sumCost / n,
               storedAverage, positionAverage);
  std::fprintf(out, " AVGSd: %6.3f %6.3f %6.3f %6.3f %6.3f %6.3f\n", sumDesc0 / n,
               sumDesc1 / n, sumDesc2 / n, sumPts01 / n, sumDesc4 / n, sumPts2 / n);
}

void print_match_pairs(const SeedSet& set1, const SeedSet& set2, const MatchTable& table,
                       double, double, double, std::FILE* out) {
  if (table.empty()) {
    std::fputs("No matched pair\n", out);
    std::fflush(out);
    return;
  }
  checkIndices(set1, set2, table);
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (isUnmatched(table[i])) continue;
    const RowSeeds r = rowSeeds(set1, set2, table, i);
    std::fprintf(out, "%2d %2d %2d %8.3f\n", static_cast<int>(i), r.p, r.q,
                 distance(set1[static_cast<std::size_t>(r.p)].pos,
                          set2[static_cast<std::size_t>(r.q)].pos));
  }
}

}  // namespace seedmatch
